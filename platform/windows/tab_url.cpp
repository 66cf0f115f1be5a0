// The active tab's URL on Windows: the address bar of the foreground browser
// window, read through UI Automation with one search that brings the value
// along (a cache request), never a walk of the tree.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "platform/platform.h"
#include "platform/windows/address_bar.h"
#include "platform/windows/foreground.h"
#include "platform/windows/handles.h"
#include "platform/windows/uia.h"

namespace windows_desktop {
namespace {

// Each request into the browser's process waits at most this long; a sample
// makes two (the window's element, then the search), within its 100 ms.
constexpr DWORD requestTimeoutMs = 50;

// UI Automation's client, made at the first lookup and kept. Without the
// second version of its interface (before Windows 8) the system's own
// timeouts apply.
uia::Automation* automation() {
    static ComRef<uia::Automation> client = [] {
        initializeCom();
        ComRef<uia::Automation> made;
        if (SUCCEEDED(CoCreateInstance(uia::automation8Class, nullptr, CLSCTX_INPROC_SERVER,
                                       uia::automation2Interface, reinterpret_cast<void**>(made.put()))) &&
            made) {
            made->methods->put_ConnectionTimeout(made.get(), requestTimeoutMs);
            made->methods->put_TransactionTimeout(made.get(), requestTimeoutMs);
            return made;
        }
        CoCreateInstance(uia::automationClass, nullptr, CLSCTX_INPROC_SERVER, uia::automationInterface,
                         reinterpret_cast<void**>(made.put()));
        return made;
    }();
    return client.get();
}

// A VARIANT that is cleared whatever path leaves it.
struct Variant {
    VARIANT value;
    Variant() { VariantInit(&value); }
    ~Variant() { VariantClear(&value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

class WindowTree : public AutomationTree {
public:
    WindowTree(uia::Automation* client, HWND window) : client_(client), window_(window) {}

    std::optional<std::u16string> firstValue(const AddressBarCondition& wanted) override {
        const auto& call = *client_->methods;
        ComRef<uia::Condition> condition = this->condition(wanted);
        ComRef<uia::CacheRequest> cache;
        if (!condition || FAILED(call.CreateCacheRequest(client_, cache.put())) || !cache ||
            FAILED(cache->methods->AddProperty(cache.get(), uia::valueValueProperty))) {
            return std::nullopt;
        }
        ComRef<uia::Element> window;
        if (FAILED(call.ElementFromHandle(client_, window_, window.put())) || !window) return std::nullopt;
        ComRef<uia::Element> found;
        if (FAILED(window->methods->FindFirstBuildCache(window.get(), uia::treeScopeDescendants, condition.get(),
                                                        cache.get(), found.put())) ||
            !found) {
            return std::nullopt;
        }
        Variant value;
        if (FAILED(found->methods->GetCachedPropertyValue(found.get(), uia::valueValueProperty, &value.value)) ||
            value.value.vt != VT_BSTR || !value.value.bstrVal) {
            return std::nullopt;
        }
        const UINT length = SysStringLen(value.value.bstrVal);
        if (length > longestUrl) return std::nullopt;
        return std::u16string(units(value.value.bstrVal, length));
    }

private:
    ComRef<uia::Condition> propertyCondition(uia::PropertyId property, Variant& value) {
        ComRef<uia::Condition> made;
        if (FAILED(client_->methods->CreatePropertyCondition(client_, property, value.value, made.put()))) made.reset();
        return made;
    }

    ComRef<uia::Condition> condition(const AddressBarCondition& wanted) {
        Variant type;
        type.value.vt = VT_I4;
        type.value.lVal = wanted.controlType;
        ComRef<uia::Condition> byType = propertyCondition(uia::controlTypeProperty, type);
        if (!byType || !wanted.automationId) return byType;
        Variant id;
        id.value.vt = VT_BSTR;
        id.value.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wanted.automationId->data()),
                                             static_cast<UINT>(wanted.automationId->size()));
        ComRef<uia::Condition> byId = propertyCondition(uia::automationIdProperty, id);
        ComRef<uia::Condition> both;
        if (!byId || FAILED(client_->methods->CreateAndCondition(client_, byType.get(), byId.get(), both.put()))) {
            both.reset();
        }
        return both;
    }

    uia::Automation* client_;
    HWND window_;
};

}  // namespace
}  // namespace windows_desktop

namespace platform {

using namespace windows_desktop;

// Every application gets an answer here (the empty text for all but the
// browsers), so no browser is ever asked by script.
std::optional<std::string> frontmostTabUrl(std::string_view, std::string_view) {
    const auto& facts = foreground();
    if (!facts || !facts->executablePath || browserOf(*facts->executablePath) == Browser::none) return std::string();
    uia::Automation* client = automation();
    if (!client) return std::string();
    WindowTree tree(client, facts->window);
    return addressBarUrl(*facts->executablePath, tree);
}

}  // namespace platform

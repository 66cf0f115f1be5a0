// A Windows program for the end-to-end tests under Wine: top-level windows
// with the titles it is given (as UTF-16 code units, so that lone surrogates
// can be given too), a version resource of its own (test_window.rc), and on
// request an address bar: a child window whose UI Automation provider is an
// edit with a Value, as a browser's is.
//
//   test_window [--model-id HEX] [--address-bar ID HEX] --window HEX [--window HEX ...]
//
// HEX is UTF-16 code units, four hexadecimal digits each ("00480069" is
// "Hi"; an empty argument is the empty text). Once every window is shown it
// prints one line per window: its handle and its X window (0 if unknown),
// in decimal. Then it takes commands on standard input, one a line, and
// answers each with "ok":
//   title N HEX     sets window N's title
//   value HEX       sets the address bar's value
//   show N          shows window N and brings it to the front
// It ends at the end of its input.
#include <windows.h>
#include <oleauto.h>
#include <propsys.h>
#include <shellapi.h>
#include <uiautomationcore.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Declared here from the published definitions: Debian 12's mingw-w64
// headers lack IValueProvider, and <uiautomationcoreapi.h> does not compile
// as C++.
MIDL_INTERFACE("c7935180-6fb3-4201-b174-7df73adbf64a")
IValueProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* readOnly) = 0;
};
constexpr IID valueProviderInterface = {0xc7935180, 0x6fb3, 0x4201, {0xb1, 0x74, 0x7d, 0xf7, 0x3a, 0xdb, 0xf6, 0x4a}};
constexpr IID simpleProviderInterface = {0xd6dd68d1, 0x86fd, 0x4332, {0x86, 0x66, 0x9a, 0xbe, 0xde, 0xa2, 0xd2, 0x4c}};
constexpr PROPERTYKEY appUserModelIdKey = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};

constexpr int valuePattern = 10002;
constexpr int controlTypeProperty = 30003;
constexpr int nameProperty = 30005;
constexpr int automationIdProperty = 30011;
constexpr int editControlType = 50004;
constexpr LONG rootObjectId = -25;  // UiaRootObjectId

using ReturnProvider = LRESULT(WINAPI*)(HWND, WPARAM, LPARAM, IRawElementProviderSimple*);
using HostProvider = HRESULT(WINAPI*)(HWND, IRawElementProviderSimple**);
ReturnProvider returnProvider;
HostProvider hostProvider;

std::wstring fromHex(const char* hex) {
    std::wstring text;
    for (std::size_t i = 0; i + 4 <= std::strlen(hex); i += 4) {
        char unit[5] = {hex[i], hex[i + 1], hex[i + 2], hex[i + 3], 0};
        text.push_back(static_cast<wchar_t>(std::strtoul(unit, nullptr, 16)));
    }
    return text;
}

// The address bar's provider: an edit with an automation id and a Value.
class AddressBar : public IRawElementProviderSimple, public IValueProvider {
public:
    AddressBar(std::wstring id, std::wstring value) : id_(std::move(id)), value_(std::move(value)) {}
    HWND window = nullptr;

    void setValue(std::wstring value) { value_ = std::move(value); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == simpleProviderInterface) {
            *object = static_cast<IRawElementProviderSimple*>(this);
        } else if (iid == valueProviderInterface) {
            *object = static_cast<IValueProvider*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives as long as the program

    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* options) override {
        *options = static_cast<ProviderOptions>(ProviderOptions_ServerSideProvider | ProviderOptions_UseComThreading);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown** provider) override {
        *provider = nullptr;
        if (pattern == valuePattern) {
            *provider = static_cast<IRawElementProviderSimple*>(this);
            AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* value) override {
        VariantInit(value);
        if (property == controlTypeProperty) {
            value->vt = VT_I4;
            value->lVal = editControlType;
        } else if (property == automationIdProperty && !id_.empty()) {
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocStringLen(id_.data(), static_cast<UINT>(id_.size()));
        } else if (property == nameProperty) {
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocString(L"Address and search bar");
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** host) override {
        return hostProvider(window, host);
    }

    HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE get_Value(BSTR* value) override {
        *value = SysAllocStringLen(value_.data(), static_cast<UINT>(value_.size()));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* readOnly) override {
        *readOnly = TRUE;
        return S_OK;
    }

private:
    std::wstring id_;
    std::wstring value_;
    ULONG references_ = 1;
};

AddressBar* addressBar = nullptr;
std::vector<HWND> windows;
constexpr UINT commandMessage = WM_APP + 1;

void setModelId(HWND window, const std::wstring& id) {
    IPropertyStore* store = nullptr;
    if (FAILED(SHGetPropertyStoreForWindow(window, IID_IPropertyStore, reinterpret_cast<void**>(&store)))) return;
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_LPWSTR;
    value.pwszVal = const_cast<wchar_t*>(id.c_str());
    store->SetValue(appUserModelIdKey, value);
    store->Commit();
    store->Release();
}

// Runs one command on the windows' thread.
void command(const char* line) {
    char verb[16] = {};
    int index = -1;
    static char argument[1 << 20];
    argument[0] = 0;
    if (std::sscanf(line, "%15s", verb) != 1) return;
    const std::string name = verb;
    auto valid = [](int i) { return i >= 0 && i < static_cast<int>(windows.size()); };
    if (name == "title" && std::sscanf(line, "title %d %1048575s", &index, argument) >= 1 && valid(index)) {
        SetWindowTextW(windows[index], fromHex(argument).c_str());
    } else if (name == "value" && addressBar) {
        std::sscanf(line, "value %1048575s", argument);
        addressBar->setValue(fromHex(argument));
    } else if (name == "show" && std::sscanf(line, "show %d", &index) == 1 && valid(index)) {
        ShowWindow(windows[index], SW_SHOW);
        SetForegroundWindow(windows[index]);
    }
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == commandMessage) {
        command(reinterpret_cast<const char*>(lParam));
        return 0;
    }
    if (message == WM_DESTROY && window == windows.front()) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK addressBarProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == rootObjectId && addressBar && returnProvider) {
        return returnProvider(window, wParam, lParam, addressBar);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI readCommands(void*) {
    static char line[(1 << 20) + 64];
    while (std::fgets(line, sizeof line, stdin)) {
        SendMessageW(windows.front(), commandMessage, 0, reinterpret_cast<LPARAM>(line));
        std::printf("ok\n");
        std::fflush(stdout);
    }
    PostMessageW(windows.front(), WM_CLOSE, 0, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // lines end in a line feed alone
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE core = LoadLibraryW(L"uiautomationcore.dll");
    returnProvider = reinterpret_cast<ReturnProvider>(
        reinterpret_cast<void*>(GetProcAddress(core, "UiaReturnRawElementProvider")));
    hostProvider = reinterpret_cast<HostProvider>(reinterpret_cast<void*>(GetProcAddress(core, "UiaHostProviderFromHwnd")));

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"PalvernTestWindow";
    RegisterClassW(&windowClass);
    WNDCLASSW barClass = windowClass;
    barClass.lpfnWndProc = addressBarProcedure;
    barClass.lpszClassName = L"PalvernAddressBar";
    RegisterClassW(&barClass);

    std::wstring modelId;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--model-id" && i + 1 < argc) {
            modelId = fromHex(argv[++i]);
        } else if (option == "--address-bar" && i + 2 < argc) {
            addressBar = new AddressBar(fromHex(argv[i + 1]), fromHex(argv[i + 2]));
            i += 2;
        } else if (option == "--window" && i + 1 < argc) {
            const int n = static_cast<int>(windows.size());
            HWND window = CreateWindowExW(0, windowClass.lpszClassName, fromHex(argv[++i]).c_str(),
                                          WS_OVERLAPPEDWINDOW, 40 + 30 * n, 40 + 30 * n, 400, 300, nullptr, nullptr,
                                          instance, nullptr);
            windows.push_back(window);
        }
    }
    if (windows.empty()) return 2;
    if (addressBar) {
        addressBar->window = CreateWindowExW(0, barClass.lpszClassName, L"", WS_CHILD | WS_VISIBLE, 10, 10, 360, 24,
                                             windows.front(), nullptr, instance, nullptr);
    }
    for (HWND window : windows) {
        if (!modelId.empty()) setModelId(window, modelId);
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    for (HWND window : windows) {
        std::printf("%llu %llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)),
                    static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(GetPropW(window, L"__wine_x11_whole_window"))));
    }
    std::fflush(stdout);
    CloseHandle(CreateThread(nullptr, 0, readCommands, nullptr, 0, nullptr));
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

// The frontmost application is the process of the foreground window; an
// activation is a change of that process, which the system's foreground
// event tells.
#include "platform/windows/workspace.h"

#include <windows.h>
#include <propsys.h>
#include <shellapi.h>

#include <cwchar>
#include <map>
#include <vector>

#include "platform/platform.h"
#include "platform/utf16.h"
#include "platform/windows/callout.h"
#include "platform/windows/foreground.h"
#include "platform/windows/handles.h"
#include "platform/windows/identity.h"

namespace windows_desktop {
namespace {

platform::Trigger activationTrigger = nullptr;
DWORD lastPosted = 0;
bool foregroundChanged = false;
HookHandle foregroundHook;

// PKEY_AppUserModel_ID.
constexpr PROPERTYKEY appUserModelIdKey = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};
// Longer identifiers than this are not taken (the system's own limit is 129).
constexpr std::size_t longestModelId = 1024;
// Version resources larger than this are not read.
constexpr DWORD largestVersionResource = 1 << 20;
// At most this many translations are looked at.
constexpr std::size_t mostTranslations = 64;

void CALLBACK onForeground(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) { foregroundChanged = true; }

// The AppUserModelID the window itself states, which the shell groups it by.
std::optional<std::u16string> windowModelId(HWND window) {
    initializeCom();
    ComRef<IPropertyStore> store;
    if (FAILED(SHGetPropertyStoreForWindow(window, IID_IPropertyStore, reinterpret_cast<void**>(store.put()))) ||
        !store) {
        return std::nullopt;
    }
    PROPVARIANT value;
    PropVariantInit(&value);
    std::optional<std::u16string> id;
    if (SUCCEEDED(store->GetValue(appUserModelIdKey, &value)) && value.vt == VT_LPWSTR && value.pwszVal) {
        id = std::u16string(units(value.pwszVal, wcsnlen(value.pwszVal, longestModelId + 1)));
        if (id->size() > longestModelId) id.reset();
    }
    PropVariantClear(&value);
    return id;
}

// The FileDescription of an executable's version resource, in the language
// the user's interface shows where the resource has it.
std::optional<std::u16string> readFileDescription(const std::u16string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeExW(FILE_VER_GET_LOCALISED, wide(path), &ignored);
    if (size == 0 || size > largestVersionResource) return std::nullopt;
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoExW(FILE_VER_GET_LOCALISED, wide(path), 0, size, data.data())) return std::nullopt;

    std::vector<Translation> translations;
    void* table = nullptr;
    UINT tableBytes = 0;
    if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &table, &tableBytes) && table) {
        const auto* words = static_cast<const WORD*>(table);
        const std::size_t count = std::min<std::size_t>(tableBytes / (2 * sizeof(WORD)), mostTranslations);
        for (std::size_t i = 0; i < count; ++i) translations.push_back({words[2 * i], words[2 * i + 1]});
    }
    for (const std::u16string& block : stringTables(translations, GetUserDefaultUILanguage())) {
        const std::u16string key = u"\\StringFileInfo\\" + block + u"\\FileDescription";
        void* text = nullptr;
        UINT length = 0;  // in characters, the terminating NUL included
        if (VerQueryValueW(data.data(), wide(key), &text, &length) && text && length > 0) {
            const auto* characters = static_cast<const wchar_t*>(text);
            return std::u16string(units(characters, wcsnlen(characters, length)));
        }
    }
    return std::nullopt;
}

// The descriptions read, by executable, each with the file's time and size
// when it was read: a file that changes (an update) is read again.
struct Described {
    FILETIME written;
    DWORD sizeHigh;
    DWORD sizeLow;
    std::optional<std::u16string> description;
};
std::map<std::u16string, Described> described;
constexpr std::size_t mostDescribed = 256;

std::optional<std::u16string> fileDescription(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA file;
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &file)) return readFileDescription(path);
    auto known = described.find(path);
    if (known != described.end() && CompareFileTime(&known->second.written, &file.ftLastWriteTime) == 0 &&
        known->second.sizeHigh == file.nFileSizeHigh && known->second.sizeLow == file.nFileSizeLow) {
        return known->second.description;
    }
    if (described.size() >= mostDescribed) described.clear();
    Described entry{file.ftLastWriteTime, file.nFileSizeHigh, file.nFileSizeLow, readFileDescription(path)};
    return described.insert_or_assign(path, std::move(entry)).first->second.description;
}

std::optional<std::string> utf8(const std::optional<std::u16string>& text) {
    if (!text) return std::nullopt;
    return platform::utf16ToUtf8(*text);
}

}  // namespace

void serviceActivations() {
    if (!foregroundChanged || !activationTrigger) return;
    foregroundChanged = false;
    const auto& facts = foreground();
    // No foreground window between two windows posts nothing.
    if (facts && facts->pid != lastPosted) {
        lastPosted = facts->pid;
        activationTrigger();
    }
    endCallout();
}

}  // namespace windows_desktop

namespace platform {

using namespace windows_desktop;

std::optional<Application> frontmostApplication() {
    const auto& facts = foreground();
    if (!facts) return std::nullopt;
    Application application;
    application.processIdentifier = static_cast<std::int32_t>(facts->pid);
    std::optional<std::u16string> description;
    if (facts->executablePath) description = fileDescription(*facts->executablePath);
    const std::optional<std::u16string> windowId = windowModelId(facts->window);
    application.localizedName = utf8(displayName(description, facts->executablePath));
    application.bundleIdentifier = utf8(bundleIdentifier(windowId, facts->packageModelId, facts->executablePath));
    return application;
}

void observeActivations(Trigger trigger) {
    initializeCom();
    activationTrigger = trigger;
    const auto& facts = foreground();
    lastPosted = facts ? facts->pid : 0;
    foregroundHook.reset(SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, onForeground, 0, 0,
                                         WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS));
}

}  // namespace platform

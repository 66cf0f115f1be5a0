// Owning handles for the Windows objects the desktop keeps: each is released
// exactly once, on whatever path its owner leaves by.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace windows_desktop {

// A kernel object (a process, a thread, an event, a timer, a file).
struct KernelCloser {
    void operator()(HANDLE handle) const {
        if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using KernelHandle = std::unique_ptr<void, KernelCloser>;

// A window of the collector's own.
struct WindowDestroyer {
    void operator()(HWND window) const { DestroyWindow(window); }
};
using WindowHandle = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

// An event hook.
struct HookRemover {
    void operator()(HWINEVENTHOOK hook) const { UnhookWinEvent(hook); }
};
using HookHandle = std::unique_ptr<std::remove_pointer_t<HWINEVENTHOOK>, HookRemover>;

// A reference to a COM object: any interface, declared by the SDK or by
// uia.h, since every interface pointer is an IUnknown pointer.
template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(Interface* object) : object_(object) {}
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = other.object_;
            other.object_ = nullptr;
        }
        return *this;
    }
    ~ComRef() { reset(); }

    void reset() {
        if (object_) reinterpret_cast<IUnknown*>(object_)->Release();
        object_ = nullptr;
    }
    // Where a call that hands out a reference puts it; the old one is released.
    Interface** put() {
        reset();
        return &object_;
    }
    Interface* get() const { return object_; }
    Interface* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    Interface* object_ = nullptr;
};

// Windows' wide strings are UTF-16, as char16_t text is.
inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline std::u16string_view units(const wchar_t* text, std::size_t length) {
    return {reinterpret_cast<const char16_t*>(text), length};
}

}  // namespace windows_desktop

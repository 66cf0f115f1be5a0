// The UI Automation client interfaces the address-bar lookup uses, declared
// from Microsoft's published interface definitions (UIAutomationClient.idl):
// the mingw-w64 headers of Debian 12 lack them, and their <uiautomation.h>
// does not compile as C++.
//
// Each interface is its table of methods in the published order, as C code
// sees a COM object: a pointer to the table, whose methods take the object
// first. The methods the lookup does not call are placeholders that keep the
// later ones in place. uia_layout.cpp checks the place of every method named
// here against the SDK's own declarations wherever the SDK has them.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>

namespace uia {

struct Automation;
struct Element;
struct CacheRequest;
struct Condition;

using Unused = void*;  // a method the lookup does not call
using PropertyId = int;

template <typename This>
struct UnknownMethods {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(This*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(This*);
    ULONG(STDMETHODCALLTYPE* Release)(This*);
};

// IUIAutomation, and IUIAutomation2 after it.
struct AutomationMethods {
    UnknownMethods<Automation> unknown;
    Unused CompareElements, CompareRuntimeIds, GetRootElement;
    HRESULT(STDMETHODCALLTYPE* ElementFromHandle)(Automation*, HWND, Element**);
    Unused ElementFromPoint, GetFocusedElement, GetRootElementBuildCache, ElementFromHandleBuildCache,
        ElementFromPointBuildCache, GetFocusedElementBuildCache, CreateTreeWalker, get_ControlViewWalker,
        get_ContentViewWalker, get_RawViewWalker, get_RawViewCondition, get_ControlViewCondition,
        get_ContentViewCondition;
    HRESULT(STDMETHODCALLTYPE* CreateCacheRequest)(Automation*, CacheRequest**);
    Unused CreateTrueCondition, CreateFalseCondition;
    HRESULT(STDMETHODCALLTYPE* CreatePropertyCondition)(Automation*, PropertyId, VARIANT, Condition**);
    Unused CreatePropertyConditionEx;
    HRESULT(STDMETHODCALLTYPE* CreateAndCondition)(Automation*, Condition*, Condition*, Condition**);
    // CreateAndConditionFromArray to ElementFromIAccessibleBuildCache.
    Unused laterMethods[32];
    // IUIAutomation2.
    Unused get_AutoSetFocus, put_AutoSetFocus, get_ConnectionTimeout;
    HRESULT(STDMETHODCALLTYPE* put_ConnectionTimeout)(Automation*, DWORD);
    Unused get_TransactionTimeout;
    HRESULT(STDMETHODCALLTYPE* put_TransactionTimeout)(Automation*, DWORD);
};
inline constexpr std::size_t automationMethodCount = 58;  // IUIAutomation's own, IUnknown's included
static_assert(offsetof(AutomationMethods, get_AutoSetFocus) == automationMethodCount * sizeof(void*));

// IUIAutomationElement, up to the last method the lookup calls.
struct ElementMethods {
    UnknownMethods<Element> unknown;
    Unused SetFocus, GetRuntimeId, FindFirst, FindAll;
    HRESULT(STDMETHODCALLTYPE* FindFirstBuildCache)(Element*, int scope, Condition*, CacheRequest*, Element**);
    Unused FindAllBuildCache, BuildUpdatedCache, GetCurrentPropertyValue, GetCurrentPropertyValueEx;
    HRESULT(STDMETHODCALLTYPE* GetCachedPropertyValue)(Element*, PropertyId, VARIANT*);
};

// IUIAutomationCacheRequest, up to the last method the lookup calls.
struct CacheRequestMethods {
    UnknownMethods<CacheRequest> unknown;
    HRESULT(STDMETHODCALLTYPE* AddProperty)(CacheRequest*, PropertyId);
};

// IUIAutomationCondition: nothing is called on a condition but IUnknown's.
struct ConditionMethods {
    UnknownMethods<Condition> unknown;
};

struct Automation {
    const AutomationMethods* methods;
};
struct Element {
    const ElementMethods* methods;
};
struct CacheRequest {
    const CacheRequestMethods* methods;
};
struct Condition {
    const ConditionMethods* methods;
};

// The classes and interfaces by their published identifiers.
inline constexpr CLSID automationClass = {0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};
inline constexpr CLSID automation8Class = {0xe22ad333, 0xb25f, 0x460c, {0x83, 0xd0, 0x05, 0x81, 0x10, 0x73, 0x95, 0xc9}};
inline constexpr IID automationInterface = {0x30cbe57d, 0xd9d0, 0x452a, {0xab, 0x13, 0x7a, 0xc5, 0xac, 0x48, 0x25, 0xee}};
inline constexpr IID automation2Interface = {0x34723aff, 0x0c9d, 0x49d0, {0x98, 0x96, 0x7a, 0xb5, 0x2d, 0xf8, 0xcd, 0x8a}};

// Published constants.
inline constexpr int treeScopeDescendants = 4;              // TreeScope_Descendants
inline constexpr PropertyId controlTypeProperty = 30003;   // UIA_ControlTypePropertyId
inline constexpr PropertyId automationIdProperty = 30011;   // UIA_AutomationIdPropertyId
inline constexpr PropertyId valueValueProperty = 30045;     // UIA_ValueValuePropertyId

}  // namespace uia

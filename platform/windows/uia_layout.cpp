// The method tables of uia.h against the SDK's own declarations of the same
// interfaces, where the SDK has them (the mingw-w64 of Debian 13, the Windows
// SDK): the SDK's C declarations, which CINTERFACE selects, are tables of
// the same methods, so each method named in uia.h must sit at the same
// offset. With an SDK that lacks them (Debian 12's mingw-w64), only uia.h's
// own count of IUIAutomation's methods is checked, in uia.h.
#define CINTERFACE
#include <windows.h>

#include "platform/windows/uia.h"

#if __has_include(<uiautomationclient.h>)
#include <uiautomationclient.h>
#endif

// The test of this check compiles it against such an SDK and asks for the
// interfaces to be there, so that the check cannot pass by checking nothing.
#if defined(PALVERN_REQUIRE_SDK_INTERFACES) && !defined(__IUIAutomation2_INTERFACE_DEFINED__)
#error "this SDK does not declare the UI Automation client interfaces"
#endif

#define PALVERN_SAME_PLACE(sdk, ours, method) \
    static_assert(offsetof(sdk, method) == offsetof(ours, method), #sdk "::" #method " is out of place")

#ifdef __IUIAutomation2_INTERFACE_DEFINED__
PALVERN_SAME_PLACE(IUIAutomation2Vtbl, uia::AutomationMethods, ElementFromHandle);
PALVERN_SAME_PLACE(IUIAutomation2Vtbl, uia::AutomationMethods, CreateCacheRequest);
PALVERN_SAME_PLACE(IUIAutomation2Vtbl, uia::AutomationMethods, CreatePropertyCondition);
PALVERN_SAME_PLACE(IUIAutomation2Vtbl, uia::AutomationMethods, CreateAndCondition);
PALVERN_SAME_PLACE(IUIAutomation2Vtbl, uia::AutomationMethods, get_AutoSetFocus);
PALVERN_SAME_PLACE(IUIAutomation2Vtbl, uia::AutomationMethods, put_ConnectionTimeout);
PALVERN_SAME_PLACE(IUIAutomation2Vtbl, uia::AutomationMethods, put_TransactionTimeout);
#endif
#ifdef __IUIAutomationElement_INTERFACE_DEFINED__
PALVERN_SAME_PLACE(IUIAutomationElementVtbl, uia::ElementMethods, FindFirstBuildCache);
PALVERN_SAME_PLACE(IUIAutomationElementVtbl, uia::ElementMethods, GetCachedPropertyValue);
#endif
#ifdef __IUIAutomationCacheRequest_INTERFACE_DEFINED__
PALVERN_SAME_PLACE(IUIAutomationCacheRequestVtbl, uia::CacheRequestMethods, AddProperty);
#endif

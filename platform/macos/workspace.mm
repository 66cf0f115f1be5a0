// Workspace: the frontmost application, its activation, and the main run loop
// that serves the triggers. No NSApplication is made.
#import <AppKit/AppKit.h>

#include <optional>
#include <string>

#include "platform/macos/objects.h"
#include "platform/platform.h"

namespace platform {
namespace {

std::optional<std::string> text(NSString* string) {
    if (string == nil) {
        return std::nullopt;
    }
    return macos::utf8((__bridge CFStringRef)string);
}

// The activity that keeps the process from being napped while it runs. A
// napped process's timers are throttled and the refreshes drift far apart; the
// activity ends only when this reference goes, which is never.
id<NSObject> wakefulActivity = nil;

}  // namespace

std::optional<Application> frontmostApplication() {
    @autoreleasepool {
        NSRunningApplication* running = NSWorkspace.sharedWorkspace.frontmostApplication;
        if (running == nil) {
            return std::nullopt;
        }
        Application application;
        application.localizedName = text(running.localizedName);
        application.bundleIdentifier = text(running.bundleIdentifier);
        application.processIdentifier = running.processIdentifier;
        return application;
    }
}

// The center keeps the registration for the life of the process; the token
// that would remove it is dropped.
void observeActivations(Trigger trigger) {
    @autoreleasepool {
        NSNotificationCenter* center = NSWorkspace.sharedWorkspace.notificationCenter;
        (void)[center addObserverForName:NSWorkspaceDidActivateApplicationNotification
                                  object:nil
                                   queue:NSOperationQueue.mainQueue
                              usingBlock:^(NSNotification* notification) {
                                (void)notification;
                                @autoreleasepool {
                                    trigger();
                                }
                              }];
    }
}

// Scheduled on the calling thread's run loop (the collector arms it on the main
// thread), which holds the timer for the life of the process; the timer object
// is dropped.
void scheduleRepeatingTimer(double interval, Trigger trigger) {
    @autoreleasepool {
        (void)[NSTimer scheduledTimerWithTimeInterval:interval
                                              repeats:YES
                                                block:^(NSTimer* timer) {
                                                  (void)timer;
                                                  @autoreleasepool {
                                                      trigger();
                                                  }
                                                }];
    }
}

void runMainLoop() {
    @autoreleasepool {
        wakefulActivity = [NSProcessInfo.processInfo
            beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep
                              reason:@"Sampling the frontmost application every few seconds"];
    }
    [NSRunLoop.mainRunLoop run];
}

}  // namespace platform

// Scripting: AppleScript source compiled and run on the calling (main) thread.
// Each Objective-C object handed out leaves ARC through CFBridgingRetain, so
// the Handle's one CFRelease balances it.
#import <Foundation/Foundation.h>

#include <string>

#include "platform/macos/objects.h"
#include "platform/platform.h"

namespace platform {

using macos::adopt;
using macos::cf;

Handle createScript(const std::string& source) {
    @autoreleasepool {
        NSString* text = [[NSString alloc] initWithBytes:source.data()
                                                  length:source.size()
                                                encoding:NSUTF8StringEncoding];
        if (text == nil) {
            return Handle{};
        }
        NSAppleScript* script = [[NSAppleScript alloc] initWithSource:text];
        if (script == nil) {
            return Handle{};
        }
        return adopt(CFBridgingRetain(script));
    }
}

Handle executeScript(const Handle& script, Handle& errorInfo) {
    @autoreleasepool {
        NSDictionary<NSString*, id>* error = nil;
        NSAppleEventDescriptor* result =
            [(__bridge NSAppleScript*)cf(script) executeAndReturnError:&error];
        if (error != nil) {
            errorInfo = adopt(CFBridgingRetain(error));
        }
        if (result == nil) {
            return Handle{};
        }
        return adopt(CFBridgingRetain(result));
    }
}

// Browsers on macOS are asked by script only.
std::optional<std::string> frontmostTabUrl(std::string_view, std::string_view) { return std::nullopt; }

Handle stringValue(const Handle& result) {
    @autoreleasepool {
        NSString* text = ((__bridge NSAppleEventDescriptor*)cf(result)).stringValue;
        if (text == nil) {
            return Handle{};
        }
        return adopt(CFBridgingRetain(text));
    }
}

}  // namespace platform

#include "platform/windows/input.h"

namespace windows_desktop {

std::uint32_t idleMilliseconds(std::uint32_t now, std::uint32_t lastInput) {
    const std::uint32_t elapsed = now - lastInput;  // modulo 2^32
    return elapsed < 0x8000'0000u ? elapsed : 0;
}

bool KeyPresses::take(std::uint16_t makeCode, std::uint16_t flags, std::uint16_t virtualKey) {
    // A key is its scan code with its prefix; a report without a scan code
    // (some injected input) by its virtual key instead.
    std::size_t key;
    if (makeCode != 0) {
        key = (makeCode & 0xFFu) | ((flags & keyE0) ? 0x100u : 0u) | ((flags & keyE1) ? 0x200u : 0u);
    } else {
        key = 0x400u | (virtualKey & 0xFFu);
    }
    if (flags & keyBreak) {
        down_.reset(key);
        return false;
    }
    if (down_.test(key)) return false;
    down_.set(key);
    return true;
}

ButtonPresses buttonPresses(std::uint16_t buttonFlags) {
    ButtonPresses presses;
    presses.left = (buttonFlags & mouseButton::leftDown) ? 1 : 0;
    presses.right = (buttonFlags & mouseButton::rightDown) ? 1 : 0;
    for (std::uint16_t other : {mouseButton::middleDown, mouseButton::xButton1Down, mouseButton::xButton2Down}) {
        if (buttonFlags & other) ++presses.other;
    }
    return presses;
}

}  // namespace windows_desktop

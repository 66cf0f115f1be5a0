// Reading the user's input on Windows: the idle time from two tick counts
// and the key and button presses in Raw Input reports, as plain C++ (no
// windows.h) so that it is tested on every platform.
#pragma once

#include <bitset>
#include <cstdint>

namespace windows_desktop {

// Milliseconds from `lastInput` to `now`, both readings of the system's
// 32-bit millisecond tick count, which wraps every 49.7 days: the difference
// is taken modulo 2^32, so an input before the wrap and a reading after it
// are still that far apart. A last input that reads as later than `now` (it
// came between the two readings) is no time ago: 0.
std::uint32_t idleMilliseconds(std::uint32_t now, std::uint32_t lastInput);

// Raw Input's keyboard flags (RAWKEYBOARD::Flags).
inline constexpr std::uint16_t keyBreak = 0x01;  // RI_KEY_BREAK: the key went up
inline constexpr std::uint16_t keyE0 = 0x02;     // RI_KEY_E0
inline constexpr std::uint16_t keyE1 = 0x04;     // RI_KEY_E1

// Key presses from Raw Input keyboard reports. A held key repeats its down
// report; only the first, after the key was up, is a press.
class KeyPresses {
public:
    // Takes one report; true when it is a press.
    bool take(std::uint16_t makeCode, std::uint16_t flags, std::uint16_t virtualKey);

private:
    std::bitset<2048> down_;
};

// Raw Input's mouse button flags (RAWMOUSE::usButtonFlags).
namespace mouseButton {
inline constexpr std::uint16_t leftDown = 0x0001;    // RI_MOUSE_LEFT_BUTTON_DOWN
inline constexpr std::uint16_t rightDown = 0x0004;   // RI_MOUSE_RIGHT_BUTTON_DOWN
inline constexpr std::uint16_t middleDown = 0x0010;  // RI_MOUSE_MIDDLE_BUTTON_DOWN
inline constexpr std::uint16_t xButton1Down = 0x0040;
inline constexpr std::uint16_t xButton2Down = 0x0100;
}  // namespace mouseButton

// The button presses in one mouse report: each button whose down flag is set
// (one report may carry several). Ups, the wheel and movement press nothing.
struct ButtonPresses {
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    std::uint32_t other = 0;
};
ButtonPresses buttonPresses(std::uint16_t buttonFlags);

}  // namespace windows_desktop

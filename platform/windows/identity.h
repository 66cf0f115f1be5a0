// How a Windows application is named: the choices among what the system
// calls gave, kept apart from the calls (plain C++, no windows.h) so that
// they are tested on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace windows_desktop {

// One entry of a version resource's translation table (\VarFileInfo\Translation).
struct Translation {
    std::uint16_t language = 0;  // a LANGID
    std::uint16_t codePage = 0;
};

// The string tables of a version resource to read a string from, most wanted
// first, as the hexadecimal block names VerQueryValue takes ("040904b0"): the
// translations in `uiLanguage` (the LANGID the user's interface shows), then
// those in its primary language, then the first translation. A resource
// without a translation table is read as US English, Unicode or Western.
std::vector<std::u16string> stringTables(std::span<const Translation> translations, std::uint16_t uiLanguage);

// The file name in a Windows path: what follows its last '\' or '/'.
std::u16string_view fileName(std::u16string_view path);

// The display name: the version resource's FileDescription, white space
// around it dropped, when there is something left; else the executable's file
// name without ".exe" (any case); none without either.
std::optional<std::u16string> displayName(std::optional<std::u16string_view> fileDescription,
                                          std::optional<std::u16string_view> executablePath);

// The bundle identifier: the window's explicit AppUserModelID, else the
// process's package AppUserModelID, else the executable's full path; the
// first that is there and not empty.
std::optional<std::u16string> bundleIdentifier(std::optional<std::u16string_view> windowModelId,
                                               std::optional<std::u16string_view> packageModelId,
                                               std::optional<std::u16string_view> executablePath);

// Whether `a` and `b` are equal without regard to the case of ASCII letters,
// as Windows compares file names of ASCII.
bool equalIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

}  // namespace windows_desktop

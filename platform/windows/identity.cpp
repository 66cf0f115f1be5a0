#include "platform/windows/identity.h"

#include <algorithm>

namespace windows_desktop {
namespace {

constexpr std::uint16_t usEnglish = 0x0409;
constexpr std::uint16_t unicodeCodePage = 1200;
constexpr std::uint16_t westernCodePage = 1252;

std::uint16_t primaryLanguage(std::uint16_t language) { return language & 0x3FF; }

std::u16string blockName(Translation t) {
    constexpr char16_t digits[] = u"0123456789abcdef";
    std::u16string name(8, u'0');
    const std::uint32_t both = (std::uint32_t{t.language} << 16) | t.codePage;
    for (int i = 0; i < 8; ++i) name[7 - i] = digits[(both >> (4 * i)) & 0xF];
    return name;
}

char16_t lowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool isSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0x00A0 || c == 0x3000; }

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool present(const std::optional<std::u16string_view>& text) { return text && !text->empty(); }

}  // namespace

std::vector<std::u16string> stringTables(std::span<const Translation> translations, std::uint16_t uiLanguage) {
    if (translations.empty()) {
        return {blockName({usEnglish, unicodeCodePage}), blockName({usEnglish, westernCodePage})};
    }
    std::vector<std::u16string> names;
    auto add = [&](Translation t) {
        std::u16string name = blockName(t);
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
    };
    for (Translation t : translations) {
        if (t.language == uiLanguage) add(t);
    }
    for (Translation t : translations) {
        if (primaryLanguage(t.language) == primaryLanguage(uiLanguage)) add(t);
    }
    add(translations.front());
    return names;
}

std::u16string_view fileName(std::u16string_view path) {
    const auto slash = path.find_last_of(u"\\/");
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

std::optional<std::u16string> displayName(std::optional<std::u16string_view> fileDescription,
                                          std::optional<std::u16string_view> executablePath) {
    if (fileDescription) {
        const std::u16string_view description = trimmed(*fileDescription);
        if (!description.empty()) return std::u16string(description);
    }
    if (!present(executablePath)) return std::nullopt;
    std::u16string_view name = fileName(*executablePath);
    constexpr std::u16string_view exe = u".exe";
    if (name.size() > exe.size() && equalIgnoringAsciiCase(name.substr(name.size() - exe.size()), exe)) {
        name.remove_suffix(exe.size());
    }
    if (name.empty()) return std::nullopt;
    return std::u16string(name);
}

std::optional<std::u16string> bundleIdentifier(std::optional<std::u16string_view> windowModelId,
                                               std::optional<std::u16string_view> packageModelId,
                                               std::optional<std::u16string_view> executablePath) {
    for (const auto& candidate : {windowModelId, packageModelId, executablePath}) {
        if (present(candidate)) return std::u16string(*candidate);
    }
    return std::nullopt;
}

bool equalIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char16_t x, char16_t y) { return lowerAscii(x) == lowerAscii(y); });
}

}  // namespace windows_desktop

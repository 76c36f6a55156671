#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace bifuel {

// Text keys match without regard to ASCII case, in the English table and in language
// files alike. Locale-free on purpose: keys are ASCII and must not depend on the system.
constexpr char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr bool KeysEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    }
    return true;
}

// FNV-1a over the upper-cased bytes, so that "page_cfg" and "PAGE_CFG" hash alike
// without building an upper-cased copy.
constexpr std::uint64_t KeyHash(std::string_view key) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : key) {
        h ^= static_cast<unsigned char>(AsciiUpper(c));
        h *= 0x100000001b3ULL;
    }
    return h;
}

// Hash and equality for unordered containers keyed by text keys; both are transparent,
// so a std::string_view finds a std::string key without a copy.
struct KeyHasher {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const {
        return static_cast<std::size_t>(KeyHash(key));
    }
};
struct KeyEqualTo {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return KeysEqual(a, b); }
};

struct EnglishEntry {
    std::string_view key;
    std::string_view text;
};

// The built-in table in lookup order (general texts, main-window buttons, settings
// window, skin window, colour names).
std::span<const EnglishEntry> EnglishEntries();

// The built-in English text of a key, looked up without regard to case; empty when the
// key is unknown.
std::string_view EnglishText(std::string_view key);

} // namespace bifuel

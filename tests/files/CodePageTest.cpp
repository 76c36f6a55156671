#include "files/Code_Page.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace bifuel {
namespace {

// Text typed by a user back into the code page its bytes came in: every character the code
// page holds becomes its byte, and a text with one it lacks has no form in it at all.
TEST(CodePage, Utf8GoesBackIntoACodePageOnlyWhenItHoldsEveryCharacter) {
    const struct {
        const char* what;
        std::string text;
        std::uint16_t codePage;
        std::optional<std::string> bytes;
    } cases[] = {
        {"Cyrillic", "Пётр №5", 1251,
         "\xCF\xB8\xF2\xF0 \xB9"
         "5"},
        {"Polish", "Kowalskił", 1250, "Kowalski\xB3"},
        {"1252 beyond Latin-1", "„ä“ €", 1252, "\x84\xE4\x93 \x80"},
        {"ASCII in any code page", "Ferro 1.8", 1255, "Ferro 1.8"},
        {"empty", "", 1251, ""},
        {"a letter 1251 lacks", "Jürgen", 1251, std::nullopt},
        {"the replacement character", "a\uFFFDz", 1252, std::nullopt},
        {"not UTF-8", "Kowalski\xB3", 1250, std::nullopt},
        {"unknown code page: 1250", "ł", 9999, "\xB3"},
        {"65001 is UTF-8", "日本", 65001, "日本"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Utf8ToCodePage(c.text, c.codePage), c.bytes);
        if (c.bytes && c.codePage != kUtf8CodePage) {
            EXPECT_EQ(CodePageToUtf8(*c.bytes, c.codePage), c.text);
        }
    }
}

TEST(CodePage, OnlyWellFormedUtf8IsUtf8) {
    for (const char* utf8 : {"", "plain", "Grüß", "\xF4\x8F\xBF\xBF"})
        EXPECT_TRUE(IsUtf8(utf8)) << utf8;
    for (const char* other :
         {"\xC8\xE2\xE0\xED", "Gr\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        EXPECT_FALSE(IsUtf8(other)) << other;
    }
}

} // namespace
} // namespace bifuel

#pragma once

// 8-bit text in a Windows code page (the number a language file names, 1251 for Cyrillic)
// to and from UTF-8. Language files are read through it, and the windows show an
// installer's notes written on a system with such a code page through it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bifuel {

inline constexpr std::uint16_t kUtf8CodePage = 65001;
// The code page taken when none is named, or the one named cannot be converted.
inline constexpr std::uint16_t kFallbackCodePage = 1250;

// Whether the bytes are well-formed UTF-8 as they stand (ASCII and empty text are).
bool IsUtf8(std::string_view bytes);

// UTF-8 as it stands where it is well-formed; each ill-formed sequence becomes one U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// 8-bit text in a code page to UTF-8, one conversion for many texts (a language file's).
// A code page the system cannot convert falls back to kFallbackCodePage; a byte the code
// page does not define becomes U+FFFD.
class CodePageDecoder {
  public:
    explicit CodePageDecoder(std::uint16_t codePage);
    ~CodePageDecoder();
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;

    // The code page actually used.
    std::uint16_t codePage() const { return codePage_; }
    std::string convert(std::string_view bytes);

  private:
    std::uint16_t codePage_;
    void* cd_; // the iconv descriptor, kept out of this header
};

// One text in a code page to UTF-8 (see CodePageDecoder).
std::string CodePageToUtf8(std::string_view bytes, std::uint16_t codePage);

// UTF-8 text in a code page (kFallbackCodePage where CodePageDecoder would take it); none
// when the code page has no byte for a character of the text, or the text is not UTF-8.
std::optional<std::string> Utf8ToCodePage(std::string_view text, std::uint16_t codePage);

} // namespace bifuel

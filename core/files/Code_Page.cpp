#include "files/Code_Page.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace bifuel {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// The iconv name of a Windows code page number.
std::string iconvName(std::uint16_t codePage) {
    if (codePage == kUtf8CodePage) return "UTF-8";
    if (codePage == 20866) return "KOI8-R";
    if (codePage == 21866) return "KOI8-U";
    if (codePage >= 28591 && codePage <= 28599)
        return "ISO-8859-" + std::to_string(codePage - 28590);
    if (codePage == 28603) return "ISO-8859-13";
    if (codePage == 28605) return "ISO-8859-15";
    return "CP" + std::to_string(codePage);
}

// iconv_open's failure value.
iconv_t invalid() {
    return reinterpret_cast<iconv_t>(-1);
}

// A converter between UTF-8 and a code page; one the system lacks falls back to
// kFallbackCodePage, so that both directions agree on the code page of a number.
iconv_t openConverter(std::uint16_t& codePage, bool toUtf8) {
    const auto open = [toUtf8](std::uint16_t page) {
        const std::string name = iconvName(page);
        return toUtf8 ? iconv_open("UTF-8", name.c_str()) : iconv_open(name.c_str(), "UTF-8");
    };
    iconv_t cd = open(codePage);
    if (cd == invalid() && codePage != kFallbackCodePage) {
        codePage = kFallbackCodePage;
        cd = open(codePage);
    }
    return cd;
}

// The length of the well-formed UTF-8 sequence that starts `bytes` (not empty), or 0 when
// it is ill-formed (a stray continuation byte, an overlong form, a surrogate, a code point
// above U+10FFFF, a lead byte of a 5- or 6-byte form, a sequence cut short). `taken` is how
// many bytes the sequence spans: an ill-formed one takes the longest start of a well-formed
// sequence it holds, at least one byte.
std::size_t sequenceAt(std::string_view bytes, std::size_t& taken) {
    const auto b = static_cast<unsigned char>(bytes[0]);
    std::size_t length = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF; // range of the second byte
    if (b < 0x80)
        length = 1;
    else if (b >= 0xC2 && b <= 0xDF)
        length = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            lo = 0xA0; // overlong below U+0800
        else if (b == 0xED)
            hi = 0x9F; // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            lo = 0x90; // overlong below U+10000
        else if (b == 0xF4)
            hi = 0x8F; // above U+10FFFF
    }
    std::size_t good = length == 0 ? 0 : 1;
    while (good > 0 && good < length && good < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[good]);
        if (c < (good == 1 ? lo : 0x80) || c > (good == 1 ? hi : 0xBF)) break;
        ++good;
    }
    taken = std::max<std::size_t>(good, 1);
    return length > 0 && good == length ? length : 0;
}

// Without any usable converter the ASCII part still reads.
std::string asciiOnly(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x80)
            out += c;
        else
            out += kReplacement;
    }
    return out;
}

// Code pages 1255 and 1258 hold the last character back in case a combining mark follows;
// the call without input hands it over and resets the state.
bool flush(iconv_t cd, std::string& out, std::size_t& used) {
    bool done = true;
    for (;;) {
        if (out.size() - used < 16) out.resize(out.size() * 2 + 16);
        char* outPtr = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t result = iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        used = static_cast<std::size_t>(outPtr - out.data());
        if (result != static_cast<std::size_t>(-1)) break;
        if (errno != E2BIG) {
            done = false;
            break;
        }
        out.resize(out.size() * 2);
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return done;
}

} // namespace

bool IsUtf8(std::string_view bytes) {
    std::size_t taken = 0;
    for (std::size_t i = 0; i < bytes.size(); i += taken) {
        if (sequenceAt(bytes.substr(i), taken) == 0) return false;
    }
    return true;
}

std::string ValidUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t taken = 0;
    for (std::size_t i = 0; i < bytes.size(); i += taken) {
        if (sequenceAt(bytes.substr(i), taken) > 0) {
            out.append(bytes.substr(i, taken));
        } else {
            out += kReplacement;
        }
    }
    return out;
}

CodePageDecoder::CodePageDecoder(std::uint16_t codePage) : codePage_(codePage), cd_(invalid()) {
    if (codePage_ != kUtf8CodePage) cd_ = openConverter(codePage_, true);
}

CodePageDecoder::~CodePageDecoder() {
    if (cd_ != invalid()) iconv_close(static_cast<iconv_t>(cd_));
}

std::string CodePageDecoder::convert(std::string_view bytes) {
    if (codePage_ == kUtf8CodePage) return ValidUtf8(bytes);
    if (cd_ == invalid()) return asciiOnly(bytes);
    const auto cd = static_cast<iconv_t>(cd_);
    std::string out(bytes.size() * 3 + 8, '\0'); // room for any single-byte code page
    std::size_t used = 0;
    // iconv takes a non-const input pointer but only reads through it.
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
        char* outPtr = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        used = static_cast<std::size_t>(outPtr - out.data());
        if (result != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // A byte the code page lacks, or a sequence cut short: mark it and go on. What
        // the converter holds back comes out before the mark.
        flush(cd, out, used);
        if (out.size() - used < kReplacement.size()) out.resize(out.size() * 2);
        out.replace(used, kReplacement.size(), kReplacement);
        used += kReplacement.size();
        ++in;
        --inLeft;
    }
    flush(cd, out, used);
    out.resize(used);
    return out;
}

std::string CodePageToUtf8(std::string_view bytes, std::uint16_t codePage) {
    return CodePageDecoder(codePage).convert(bytes);
}

std::optional<std::string> Utf8ToCodePage(std::string_view text, std::uint16_t codePage) {
    if (!IsUtf8(text)) return std::nullopt;
    if (codePage == kUtf8CodePage) return std::string(text);
    const iconv_t cd = openConverter(codePage, false);
    if (cd == invalid()) return std::nullopt;
    std::string out(text.size() + 16, '\0');
    std::size_t used = 0;
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    bool held = true;
    while (inLeft > 0) {
        char* outPtr = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        used = static_cast<std::size_t>(outPtr - out.data());
        // A count above 0 is of characters written approximately, which is not holding them.
        if (result != static_cast<std::size_t>(-1)) {
            held = result == 0;
            break;
        }
        if (errno != E2BIG) {
            held = false; // a character the code page has no byte for
            break;
        }
        out.resize(out.size() * 2);
    }
    held = flush(cd, out, used) && held;
    iconv_close(cd);
    if (!held) return std::nullopt;
    out.resize(used);
    return out;
}

} // namespace bifuel

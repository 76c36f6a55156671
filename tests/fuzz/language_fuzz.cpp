// Language files on any bytes: every text is well-formed UTF-8. And a text of printable
// ASCII comes out as itself in every code page that keeps ASCII, to its last character.
#include "FuzzCheck.h"
#include "files/Language.h"

#include <array>
#include <fstream>

namespace {

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bifuel;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path& dir = fuzz::WorkFolder();

    writeFile(dir / "Fuzz.lng", bytes);
    Language any;
    any.setLanguageDir(dir);
    any.setCurrent("Fuzz");
    any.OpenLanguage();
    for (const std::string& text : any.Lang_Texts()) {
        fuzz::Require(fuzz::IsUtf8(text), "every text of a language file is UTF-8", text);
    }
    any.CloseLanguage();

    if (size < 2) return 0;
    static constexpr std::array<int, 11> kCodePages = {874,  1250, 1251, 1252, 1253, 1254,
                                                       1255, 1256, 1257, 1258, 65001};
    const int codePage = kCodePages[data[0] % kCodePages.size()];
    std::string ascii;
    for (std::size_t i = 1; i < size && ascii.size() < 200; ++i)
        ascii.push_back(static_cast<char>('!' + data[i] % 94));
    writeFile(dir / "Ascii.lng", "SINGLE_BYTE_CHARACTER " + std::to_string(codePage) +
                                     "\r\nFUZZ_TEXT " + ascii + "\r\n");
    Language plain;
    plain.setLanguageDir(dir);
    plain.setCurrent("Ascii");
    fuzz::Require(plain.LangTextOnce("FUZZ_TEXT") == ascii,
                  "an ASCII text converts to itself in every ASCII-compatible code page",
                  "code page " + std::to_string(codePage) + ": " + ascii);
    return 0;
}

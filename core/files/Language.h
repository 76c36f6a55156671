#pragma once

#include "files/Code_Page.h"
#include "files/Language_En.h"
#include "files/Language_View.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace bifuel {

// The current language, the list of available ones and the texts of the current
// language file. English is built in; any other language is `Language_Dir`/<name>.lng.
class Language {
  public:
    static constexpr std::string_view kEnglish = "English";
    static constexpr std::size_t kListSlots = 20; // "English" and up to 19 files
    static constexpr std::uint16_t kDefaultCodePage = kFallbackCodePage;

    const std::string& current() const { return current_; }
    // Makes `name` current. A name that is not safe as a file name is refused (false,
    // nothing changes). Changing the name drops the texts of the old language.
    bool setCurrent(std::string name);

    void setLanguageDir(std::filesystem::path dir) { dir_ = std::move(dir); }
    const std::filesystem::path& languageDir() const { return dir_; }

    // "English", then the names of the "*.lng" files of the language folder (up to the
    // first "."), in file-name order, at most kListSlots in all.
    void BuildLanguageList();
    const std::vector<std::string>& Language_List() const { return list_; }

    // Brackets a batch of lookups. The outermost OpenLanguage reads the current
    // language's file (an absent file gives no texts); brackets may nest. The texts stay
    // after CloseLanguage so that lookups outside a bracket still use the language;
    // the next outermost OpenLanguage reads the file afresh.
    void OpenLanguage();
    void CloseLanguage();
    bool isOpen() const { return depth_ > 0; }

    // The current language's text for a key, else the English text, else the key itself.
    // Keys match without regard to case. UTF-8.
    std::string LangText(std::string_view key) const;
    // OpenLanguage, LangText, CloseLanguage: the file is read for the call.
    std::string LangTextOnce(std::string_view key);

    // The code page the file's texts were converted from: 1250 when English is current,
    // when no file was read, or when the file names none the system can convert.
    std::uint16_t Lang_CodePage() const { return codePage_; }
    // The file's lines as read: upper-cased keys (comment lines whole) and their texts
    // converted to UTF-8, in file order.
    const std::vector<std::string>& Lang_Keys() const { return keys_; }
    const std::vector<std::string>& Lang_Texts() const { return texts_; }

  private:
    void readFile();
    void dropTexts();

    std::string current_{kEnglish};
    std::filesystem::path dir_ = "./Language";
    std::vector<std::string> list_{std::string(kEnglish)};

    int depth_ = 0;
    bool haveTexts_ = false; // the texts belong to current_
    std::uint16_t codePage_ = kDefaultCodePage;
    std::vector<std::string> keys_;
    std::vector<std::string> texts_;
    // Upper-cased key to its first line; comment lines are not in it.
    std::unordered_map<std::string, std::size_t, KeyHasher, KeyEqualTo> index_;
};

// Refills the language list and the language menu.
void BuildLanguageList(Language& language, LanguageView& view);

// Sets the shared unit texts, every main-window text and the File menu, within one
// OpenLanguage ... CloseLanguage. (The title and the other units' texts follow in the
// context's ApplyLanguageTexts.)
void ApplyLanguage(Language& language, LanguageView& view);

// The item's text without its extension becomes the current language unless it is empty
// or not a safe name; then the texts are applied. Returns whether the name was taken.
bool SelectLanguage(Language& language, LanguageView& view, std::string_view itemText);

} // namespace bifuel

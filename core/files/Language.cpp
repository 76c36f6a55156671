#include "files/Language.h"

#include "files/Paths.h"

#include "files/Code_Page.h"
#include "files/FindUnit.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <system_error>

namespace bifuel {
namespace {

constexpr std::string_view kCodePageKey = "SINGLE_BYTE_CHARACTER";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// Language files are a few kilobytes; anything this big is not one.
constexpr std::uintmax_t kMaxFileBytes = 16u << 20;

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trim(std::string_view s) {
    s = trimLeft(s);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = AsciiUpper(c);
    return out;
}

// The code page a file names: a decimal number 1..65535. Anything else, a number too
// big for 16 bits included, is not taken, so that it cannot wrap to another code page.
std::uint16_t parseCodePage(std::string_view text) {
    unsigned long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value == 0 || value > 0xFFFF) {
        return Language::kDefaultCodePage;
    }
    return static_cast<std::uint16_t>(value);
}

bool readWholeFile(const std::filesystem::path& path, std::string& bytes) {
    std::error_code ec;
    // Only a plain file: a pipe or device of that name would block or never end.
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxFileBytes) return false;
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.resize(static_cast<std::size_t>(size));
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return true;
}

// ".lng" in any case: files copied from Windows often come as ".LNG".
bool hasLanguageExtension(std::string_view fileName) {
    constexpr std::string_view kExtension = ".LNG";
    if (fileName.size() <= kExtension.size()) return false;
    const std::string_view tail = fileName.substr(fileName.size() - kExtension.size());
    return std::equal(tail.begin(), tail.end(), kExtension.begin(),
                      [](char a, char b) { return AsciiUpper(a) == b; });
}

// The file of a language: "<name>.lng" when it exists, else the first "<name>.LNG" (any
// case of the extension) in name order, so that the choice does not depend on the system.
std::filesystem::path languageFile(const std::filesystem::path& dir, const std::string& name) {
    std::filesystem::path exact = dir / (name + ".lng");
    std::error_code ec;
    if (std::filesystem::is_regular_file(exact, ec)) return exact;
    std::vector<std::string> found;
    std::filesystem::directory_iterator it(dir, ec);
    if (ec) return exact;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::string fileName = it->path().filename().string();
        if (fileName.size() == name.size() + 4 && fileName.starts_with(name) &&
            hasLanguageExtension(fileName)) {
            found.push_back(std::move(fileName));
        }
    }
    if (found.empty()) return exact;
    return dir / *std::min_element(found.begin(), found.end());
}

// Directory order differs between systems; name order keeps the list the same
// everywhere (case-insensitive first, as Windows lists them).
bool fileNameBefore(const std::string& a, const std::string& b) {
    const auto ci = [](char x, char y) { return AsciiUpper(x) < AsciiUpper(y); };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), ci)) return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), ci)) return false;
    return a < b;
}

} // namespace

bool Language::setCurrent(std::string name) {
    if (!IsSafeFileName(name)) return false;
    if (name != current_) {
        current_ = std::move(name);
        dropTexts();
    }
    return true;
}

void Language::BuildLanguageList() {
    list_.assign(1, std::string(kEnglish));
    std::error_code ec;
    std::filesystem::directory_iterator it(dir_, ec);
    if (ec) return; // no folder: English only
    std::vector<std::string> files;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        std::string fileName = it->path().filename().string();
        if (hasLanguageExtension(fileName)) files.push_back(std::move(fileName));
    }
    std::sort(files.begin(), files.end(), fileNameBefore);
    for (const std::string& fileName : files) {
        if (list_.size() == kListSlots) break;
        std::string name = fileName.substr(0, fileName.find('.'));
        // A name that cannot be chosen, or one listed already, would only waste a slot.
        if (!IsSafeFileName(name)) continue;
        if (std::find(list_.begin(), list_.end(), name) != list_.end()) continue;
        list_.push_back(std::move(name));
    }
}

void Language::OpenLanguage() {
    if (current_ != kEnglish && (depth_ == 0 || !haveTexts_)) readFile();
    ++depth_;
}

void Language::CloseLanguage() {
    if (depth_ > 0) --depth_;
}

std::string Language::LangText(std::string_view key) const {
    std::string_view text;
    if (haveTexts_) {
        const auto it = index_.find(key);
        if (it != index_.end()) text = texts_[it->second];
    }
    if (text.empty()) text = EnglishText(key);
    if (text.empty()) text = key;
    return std::string(text);
}

std::string Language::LangTextOnce(std::string_view key) {
    OpenLanguage();
    std::string text = LangText(key);
    CloseLanguage();
    return text;
}

void Language::dropTexts() {
    haveTexts_ = false;
    codePage_ = kDefaultCodePage;
    keys_.clear();
    texts_.clear();
    index_.clear();
}

void Language::readFile() {
    dropTexts();
    haveTexts_ = true; // an absent or unreadable file gives no texts: English throughout
    std::string bytes;
    if (IsSafeFileName(current_)) readWholeFile(languageFile(dir_, current_), bytes);

    std::string_view rest = bytes;
    // A file saved by an editor as UTF-8 with a byte-order mark is UTF-8, whatever it says.
    const bool utf8 = rest.starts_with(kUtf8Bom);
    if (utf8) rest.remove_prefix(kUtf8Bom.size());

    std::vector<std::string_view> rawTexts;
    while (!rest.empty()) {
        const std::size_t end = rest.find_first_of("\r\n");
        const std::string_view line = trimLeft(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.empty()) continue;
        if (line.front() == '{') { // a comment: kept, but never found
            keys_.emplace_back(line);
            rawTexts.emplace_back();
            continue;
        }
        const std::size_t stop = line.find_first_of(" \t");
        keys_.push_back(upper(trim(line.substr(0, stop))));
        rawTexts.push_back(stop == std::string_view::npos ? std::string_view{}
                                                          : trim(line.substr(stop)));
        index_.emplace(keys_.back(), keys_.size() - 1); // a repeated key keeps its first line
    }

    std::uint16_t wanted = kDefaultCodePage;
    if (utf8) {
        wanted = kUtf8CodePage;
    } else if (const auto it = index_.find(kCodePageKey); it != index_.end()) {
        wanted = parseCodePage(rawTexts[it->second]);
    }
    CodePageDecoder converter(wanted);
    codePage_ = converter.codePage();
    texts_.reserve(rawTexts.size());
    for (const std::string_view raw : rawTexts)
        texts_.push_back(converter.convert(raw));
}

void BuildLanguageList(Language& language, LanguageView& view) {
    language.BuildLanguageList();
    view.HudStringListBox_Menu_LNG = language.Language_List();
}

namespace {

struct SharedText {
    std::string SharedUnitTexts::*text;
    std::string_view key;
};

constexpr std::array kSharedTexts{
    SharedText{&SharedUnitTexts::Dim_Hour_Long, "Dim_Hour_Long"},
    SharedText{&SharedUnitTexts::Dim_MS_Short, "Dim_MS_Short"},
    SharedText{&SharedUnitTexts::Dim_Bar_Long, "Dim_Bar_Long"},
    SharedText{&SharedUnitTexts::Dim_RPM_Short, "Dim_RPM_Short"},
    SharedText{&SharedUnitTexts::Dim_Volt_Long, "Dim_Volt_Long"},
    SharedText{&SharedUnitTexts::Dim_Sec_Long, "Dim_Sec_Long"},
    SharedText{&SharedUnitTexts::Start, "Start"},
    SharedText{&SharedUnitTexts::Stop, "Stop"},
    SharedText{&SharedUnitTexts::Gas, "Gas"},
    SharedText{&SharedUnitTexts::Petrol, "Petrol"},
    SharedText{&SharedUnitTexts::Automat, "Automat"},
    SharedText{&SharedUnitTexts::RPM, "RPM"},
    SharedText{&SharedUnitTexts::Manifuld, "Manifuld"},
    SharedText{&SharedUnitTexts::Save, "Save"},
    SharedText{&SharedUnitTexts::Load, "Load"},
    SharedText{&SharedUnitTexts::CFG_User, "CFG_User"},
    SharedText{&SharedUnitTexts::File, "File"},
    SharedText{&SharedUnitTexts::Point, "Point"},
    SharedText{&SharedUnitTexts::Factor, "Factor"},
    SharedText{&SharedUnitTexts::Table, "Table"},
    SharedText{&SharedUnitTexts::Range, "Range"},
    SharedText{&SharedUnitTexts::Date, "Date"},
    SharedText{&SharedUnitTexts::Firmware, "Firmware"},
    SharedText{&SharedUnitTexts::CFG_Config, "CFG_Config"},
    SharedText{&SharedUnitTexts::CLB_History_Diagram, "CLB_History_Diagram"},
    SharedText{&SharedUnitTexts::CLB_History_Back, "CLB_History_Back"},
    SharedText{&SharedUnitTexts::CLB_History_Forward, "CLB_History_Forward"},
};

// A control's text: the key's text, then either ", " and a unit word or a fixed suffix.
struct ControlText {
    std::string LanguageView::*text;
    std::string_view key;
    std::string_view unitKey = {};
    std::string_view suffix = {};
};

constexpr std::string_view kMs = "Dim_MS_Short";
constexpr std::string_view kBar = "Dim_Bar_Long";
constexpr std::string_view kVolt = "Dim_Volt_Long";
constexpr std::string_view kKm = "Dim_KM_Short";
constexpr std::string_view kMm = "Dim_MM_Short";
constexpr std::string_view kSec = "Dim_Sec_Long";
constexpr std::string_view kDegrees = ",\xC2\xB0"
                                      "C"; // ",°C"

using V = LanguageView;
constexpr std::array kControlTexts{
    ControlText{&V::HudLabel_Work_Mode, "Automat"},
    ControlText{&V::HudButton_Work_Mode, "Mode"},
    ControlText{&V::HudButton_Menu_File, "File"},
    ControlText{&V::HudButton_Menu_LNG, "Language"},
    ControlText{&V::HudButton_3D_GEN_Flip, "Flip"},
    ControlText{&V::HudButton_3D_GEN_Settings, "Settings"},
    ControlText{&V::HudLabel_IND_Petrol_Name, "Petrol", kMs},
    ControlText{&V::HudLabel_IND_Gas_Name, "Gas", kMs},
    ControlText{&V::HudLabel_IND_RPM_Name, "IND_RPM"},
    ControlText{&V::HudLabel_IND_PressVap_Name, "IND_PressVap", kBar},
    ControlText{&V::HudLabel_IND_PressColl_Name, "IND_PressColl", kBar},
    ControlText{&V::HudLabel_IND_PressDiff_Name, "IND_PressDiff", kBar},
    ControlText{&V::HudLabel_IND_TempVap_Name, "IND_TempVap", {}, kDegrees},
    ControlText{&V::HudLabel_IND_TempGas_Name, "IND_TempGas", {}, kDegrees},
    ControlText{&V::HudButton_Port_Search, "IND_Port_Search"},
    ControlText{&V::HudTabItem_CFG, "Page_CFG"},
    ControlText{&V::HudGroupBox_CFG, "CFG_Config"},
    ControlText{&V::HudLabel_CFG_RPM_Prescaler, "CFG_Config_RPM_Prescaler"},
    ControlText{&V::HudLabel_CFG_PG_Temper,
                "CFG_Config_PG_Temper",
                {},
                ",\xC2\xB0"
                "C >"},
    ControlText{&V::HudLabel_CFG_PG_RPM, "CFG_Config_PG_RPM", {}, " >"},
    ControlText{&V::HudLabel_CFG_Injection, "CFG_Config_Injection"},
    ControlText{&V::HudLabel_CFG_Gas_Type, "CFG_Config_Gas_Type"},
    ControlText{&V::HudLabel_CFG_Level_Sensor, "Type"},
    ControlText{&V::HudCheckBox_CFG_LevelGas_Buzzer, "CFG_Config_LevelGas_Buzzer"},
    ControlText{&V::HudCheckBox_CFG_GP_Buzzer, "CFG_Config_GP_Buzzer"},
    ControlText{&V::HudCheckBox_CFG_PG_GAS_Hot_Engine, "CFG_Config_PG_GAS_Hot_Engine"},
    ControlText{&V::HudGroupBox_CFG_LevelSensor, "CFG_LevelSensor"},
    ControlText{&V::HudLabel_CFG_LevelGas_Current, "CFG_LevelSensor_Current", kVolt},
    ControlText{&V::HudGroupBox_CFG_Errors, "CFG_Errors"},
    ControlText{&V::HudButton_CFG_Errors_Clear, "Clear"},
    ControlText{&V::HudLabel_CFG_User_Name, "CFG_User_Name"},
    ControlText{&V::HudLabel_CFG_User_Phone, "CFG_User_Phone"},
    ControlText{&V::HudLabel_CFG_User_Install_Date, "CFG_User_Install_Date"},
    ControlText{&V::HudLabel_CFG_User_Install_KM, "CFG_User_Install_KM", kKm},
    ControlText{&V::HudLabel_CFG_User_Gas_Jets, "CFG_User_Gas_Jets", kMm},
    ControlText{&V::HudLabel_CFG_User_Notice, "CFG_User_Notice"},
    ControlText{&V::HudTabItem_ACB, "Page_ACB"},
    ControlText{&V::HudButton_ACB_Start, "Start"},
    ControlText{&V::HudLabel_3D_ACB_Prompt, "ACB_Prompt_Start"},
    ControlText{&V::HudTabItem_CLB, "Page_CLB"},
    ControlText{&V::HudLabel_CLB_Gas, "Gas"},
    ControlText{&V::HudLabel_CLB_Manifuld, "Manifuld"},
    ControlText{&V::HudLabel_CLB_Scale_Gas, "Gas", kMs},
    ControlText{&V::HudLabel_CLB_Scale_Manifuld, "Manifuld", kBar},
    ControlText{&V::HudLabel_CLB_Scale_Petrol, "Petrol", kMs},
    ControlText{&V::HudLabel_CLB_MAP_Collection, "MAP_Collection"},
    ControlText{&V::HudButton_CLB_MAP_Start, "Start"},
    ControlText{&V::HudButton_CLB_MAP_Stop, "Stop"},
    ControlText{&V::HudButton_CLB_MAP_To_Count, "MAP_To_Count"},
    ControlText{&V::HudLabel_CLB_MAP_Delete, "MAP_Delete"},
    ControlText{&V::HudButton_CLB_MAP_Del_Gas, "Gas"},
    ControlText{&V::HudButton_CLB_MAP_Del_Petrol, "Petrol"},
    ControlText{&V::HudTabItem_MAP, "Page_RPM"},
    ControlText{&V::HudButton_3D_MapRPM_Clear, "Clear"},
    ControlText{&V::HudButton_3D_MapRPM_Default, "Default"},
    ControlText{&V::HudLabel_CFG_PG_Time, "CFG_Config_PG_Time", kSec},
    ControlText{&V::HudCheckBox_CLB_Idle_Run, "CLB_Idle_Run_Points"},
};

constexpr std::array<std::string_view, 4> kFileMenu{"Save", "Load", "Default", "Exit"};

} // namespace

void ApplyLanguage(Language& language, LanguageView& view) {
    language.OpenLanguage();
    for (const SharedText& s : kSharedTexts)
        view.Shared.*s.text = language.LangText(s.key);

    for (const ControlText& c : kControlTexts) {
        std::string text = language.LangText(c.key);
        if (!c.unitKey.empty()) text += ", " + language.LangText(c.unitKey);
        text += c.suffix;
        view.*c.text = std::move(text);
    }
    view.HudStringListBox_Menu_File.clear();
    for (const std::string_view key : kFileMenu)
        view.HudStringListBox_Menu_File.push_back(language.LangText(key));
    language.CloseLanguage();
}

bool SelectLanguage(Language& language, LanguageView& view, std::string_view itemText) {
    const std::string name = StripExtension(itemText);
    const bool taken = !name.empty() && language.setCurrent(name);
    ApplyLanguage(language, view);
    return taken;
}

} // namespace bifuel

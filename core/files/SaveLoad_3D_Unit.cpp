#include "files/SaveLoad_3D_Unit.h"

#include "Context.h"
#include "calibration/Calibr_Create.h"
#include "calibration/Calibr_Unit.h"
#include "data/Calc_Unit.h"
#include "data/Config_Unit.h"
#include "data/Dynamic_IND_Unit.h"
#include "data/Setup_Page.h"
#include "files/Language_En.h"
#include "files/Paths.h"
#include "link/Edit_Tracker.h"
#include "link/Image_Check.h"
#include "link/Link_Operations.h"
#include "link/Parameter_Table.h"
#include "link/Receiver_Unit.h"
#include "rpm_map/MapRPM_Unit.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>
#include <variant>

namespace bifuel {
namespace {

// A field of the record and its key in the configuration file.
struct TextField {
    const char* key;
    std::string Configuration_Class::*field;
};

using C = Configuration_Class;

constexpr TextField kInstallerKeys[] = {
    {"User_Name", &C::User_Name},
    {"User_Phone", &C::User_Phone},
    {"Date_Mounting", &C::Date_Mounting},
    {"Data_KM", &C::Data_KM},
    {"Car_Jet", &C::Car_Jet},
    {"Car_Comments", &C::Car_Comments},
};

// A setting's value as the file writes it.
std::string settingText(const std::string& value) {
    return value;
}
std::string settingText(std::int32_t value) {
    return std::to_string(value);
}
std::string settingText(bool value) {
    return std::string(BoolToText(value));
}

std::string rawValue(const ParamField& k, const Configuration_Class& c) {
    return VisitMember(k, [&c](auto member) { return settingText(c.*member); });
}

std::string pointKey(const char* prefix, std::size_t n) {
    return prefix + std::to_string(n);
}

std::size_t mapPointCount(const Context& ctx) {
    return std::min<std::size_t>(ctx.mapPoints.MAP_Point_Count, kMapPointsMax);
}

// The configuration files of the folder (regular files, or links to them), sorted; the
// folder is made when it is missing. Entries that cannot be examined (a link loop, no
// access) are left out and a folder that cannot be read lists nothing: the range-for
// increment of a directory_iterator throws, so the iterator is stepped by hand.
void listConfigFiles(const std::filesystem::path& dir, std::vector<std::string>& names) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        fs::create_directories(dir, ec);
        return;
    }
    for (fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code entryError;
        if (it->is_regular_file(entryError))
            names.push_back(StripExtension(it->path().filename().string()));
    }
    std::sort(names.begin(), names.end());
}

// A key without a value reads as " ": for a text field that is nothing.
std::string textOf(const std::string& value) {
    return value == " " ? std::string() : value;
}

void readInstallerKeys(KeyFile& file, Configuration_Class& c) {
    for (const TextField& f : kInstallerKeys) {
        if (!file.FindKey(f.key)) continue;
        const std::string value = textOf(file.Found_Value);
        c.*f.field = f.field == &C::Car_Comments ? UnescapeComments(value) : value;
    }
}

std::string fullFileName(const Context& ctx, const std::string& name) {
    return (ctx.paths.Config_Dir / (name + ".cfg")).string();
}

// A setting the file holds into the record.
void readSetting(KeyFile& file, const ParamField& k, Configuration_Class& c) {
    if (k.text != nullptr) {
        // An empty text says nothing, as a boolean that is neither True nor False.
        if (file.FindKey(k.key) && !textOf(file.Found_Value).empty()) c.*k.text = file.Found_Value;
    } else if (k.number != nullptr) {
        if (file.GetKeyInt(k.key)) c.*k.number = file.Found_Int;
    } else if (file.GetKeyBool(k.key)) {
        c.*k.flag = file.Found_Bool;
    }
}

// The degrees of a temperature word; unknown without the table.
std::int32_t degreesOfCode(TemperatureTable& table, std::int32_t code) {
    const WordBytes b = WordToBytes(code);
    return table.Load() != nullptr ? RawToTemperature(table, b[0], b[1]) / 10 : kTemperatureUnknown;
}

// The keys of the record, the diagram and the MAP points a file holds, as a load takes
// them; `clear`: a counter or MAP point the file does not hold becomes 0. A switch-over
// temperature saved without the table comes as the ECU's word (`temperCode`).
void readRecordKeys(KeyFile& file, bool clear, std::size_t mapPoints, Configuration_Class& c,
                    DiagramModel& d, MapPoints& m, TemperatureTable& table,
                    std::optional<std::uint16_t>& temperCode) {
    const auto number = [&file, clear](const std::string& key, std::int32_t& field) {
        if (file.GetKeyInt(key)) {
            field = file.Found_Int;
        } else if (clear) {
            field = 0;
        }
    };
    number("Work_Gas", c.Work_Gas);
    number("Work_Petrol", c.Work_Petrol);
    const bool lpgBefore = c.LPG_on;
    for (const ParamField* k : FileFields())
        readSetting(file, *k, c);
    temperCode.reset();
    if (!file.GetKeyInt("PG_Temper") && file.GetKeyInt(kTemperCodeKey) && file.Found_Int >= 0 &&
        file.Found_Int <= 0xFFFF) {
        temperCode = static_cast<std::uint16_t>(file.Found_Int);
        c.PG_Temper = degreesOfCode(table, file.Found_Int);
    }
    // The pressure parameter follows a change of the gas type, as when the page sets it;
    // the same gas type keeps the ECU's own value.
    if (c.LPG_on != lpgBefore) c.Param44_Press = c.LPG_on ? kLpgPress44 : kCngPress44;
    for (std::size_t n = 0; n < kDiagramPoints; ++n) {
        if (file.GetKeyInt(pointKey("Gas_Point_", n))) d.Gas_Point[n] = file.Found_Int;
        if (file.GetKeyInt(pointKey("Petrol_Point_", n))) d.Petrol_Point[n] = file.Found_Int;
    }
    for (std::size_t n = 1; n <= mapPoints; ++n) {
        number(pointKey("MAP_Gas_", n), m.MAP_Gas[n - 1]);
        number(pointKey("MAP_Petrol_", n), m.MAP_Petrol[n - 1]);
    }
    readInstallerKeys(file, c);
}

} // namespace

bool IsValidConfigName(std::string_view name) {
    if (name.size() > kConfigNameMax || !IsSafeFileName(name)) return false;
    // Braces mark comments in the files that keep the name.
    return std::all_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80 && c != '{' && c != '}';
    });
}

std::string ConfigNameOf(const std::array<std::uint8_t, kConfigNameMax>& bytes) {
    std::string name;
    for (const std::uint8_t b : bytes) {
        if (b == 0x00 || b == 0xFF) break;
        name.push_back(static_cast<char>(b));
    }
    if (name.empty() || IsValidConfigName(name)) return name;
    const bool dots = name.find("..") != std::string::npos;
    for (char& ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F ||
            std::string_view("/\\:*?\"<>|{}").find(ch) != std::string_view::npos ||
            (dots && ch == '.')) {
            ch = '_';
        }
    }
    if (name.front() == '.') name.front() = '_';
    if (name.back() == '.' || name.back() == ' ') name.back() = '_';
    // What is left is a name the file systems keep for a device ("CON", "LPT1").
    if (!IsValidConfigName(name)) name.back() = '_';
    return name;
}

std::string EscapeComments(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i; // CR LF is one break
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeComments(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            out += text[i + 1] == 'n' ? '\n' : '\\';
            ++i;
        } else {
            out += text[i]; // a lone backslash from an older file stays as it was
        }
    }
    return out;
}

void PutConfigKeys(Context& ctx, KeyFile& file) {
    const Configuration_Class& c = ctx.config;
    for (const TextField& f : kInstallerKeys) {
        const std::string& v = c.*f.field;
        file.SetKey(f.key, f.field == &C::Car_Comments ? EscapeComments(v) : v);
    }
    file.SetKey("Work_Gas", std::to_string(c.Work_Gas));
    file.SetKey("Work_Petrol", std::to_string(c.Work_Petrol));
    for (const ParamField* k : FileFields())
        file.SetKey(k->key, rawValue(*k, c));
    // Degrees nobody knows (no table) are kept as the ECU's word, never as 0 °C; known
    // degrees replace a word an earlier save kept.
    const auto temperWord = ctx.link.Raw_Params.find(0x41);
    if (c.PG_Temper == kTemperatureUnknown && temperWord != ctx.link.Raw_Params.end()) {
        file.SetKey(kTemperCodeKey, std::to_string(temperWord->second));
        file.DeleteKey("PG_Temper");
    } else {
        file.DeleteKey(kTemperCodeKey);
    }
    const DiagramModel& d = ctx.diagram;
    for (std::size_t n = 0; n < kDiagramPoints; ++n) {
        file.SetKey(pointKey("Gas_Point_", n), std::to_string(d.Gas_Point[n]));
        file.SetKey(pointKey("Petrol_Point_", n), std::to_string(d.Petrol_Point[n]));
    }
    const MapPoints& m = ctx.mapPoints;
    for (std::size_t n = 1; n <= mapPointCount(ctx); ++n) {
        for (const auto& [prefix, list] :
             {std::pair{"MAP_Gas_", &m.MAP_Gas}, {"MAP_Petrol_", &m.MAP_Petrol}}) {
            const std::int32_t v = (*list)[n - 1];
            if (v != 0) {
                file.SetKey(pointKey(prefix, n), std::to_string(v));
            } else {
                file.DeleteKey(pointKey(prefix, n));
            }
        }
    }
    SaveMapKeys(ctx, file);
    TakeEndEdgeFromPoints(ctx.diagram);
}

WriteResult SaveConfigFile(Context& ctx) {
    KeyFile& file = ctx.keyFile;
    const std::filesystem::path path = ctx.settings.CFG_Full_File_Name;
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    file.OpenKeyFileForUpdate(path);
    PutConfigKeys(ctx, file);
    const WriteResult result = file.SaveKeyFile(path);
    if (!result.ok) AddStatus(ctx, Colour::Txt_Error, result.message);
    if (result.ok) {
        // The file now holds the record: later writes may save into it again.
        if (ctx.saveLoad.Partly_Loaded == ctx.settings.CFG_Full_File_Name)
            ctx.saveLoad.Partly_Loaded.clear();
        EditsFileSaved(ctx);
    }
    return result;
}

bool LoadConfigText(Context& ctx, const ConfigText& text, MissingKeys missing) {
    KeyFile& file = ctx.keyFile;
    file.OpenFromText(text.bytes);
    Configuration_Class& c = ctx.config;
    c.CFG_Name = ctx.settings.CFG_File_Name;
    std::optional<std::uint16_t> temperCode;
    readRecordKeys(file, missing == MissingKeys::Clear, mapPointCount(ctx), c, ctx.diagram,
                   ctx.mapPoints, ctx.temperatureTable(), temperCode);
    if (temperCode) ctx.link.Raw_Params[0x41] = *temperCode;
    TakeEndEdgeFromPoints(ctx.diagram);
    LoadMapKeys(ctx, file);
    file.CloseKeyFile();
    ctx.events.titleChanged.notify();
    EditsFileLoaded(ctx);
    return true;
}

bool LoadConfigFile(Context& ctx, MissingKeys missing) {
    const auto text = ReadConfigText(ctx.settings.CFG_Full_File_Name);
    if (const auto* file = std::get_if<ConfigText>(&text))
        return LoadConfigText(ctx, *file, missing);
    return false;
}

void LoadInstallerDetail(Context& ctx) {
    KeyFile& file = ctx.keyFile;
    Configuration_Class& c = ctx.config;
    if (!file.OpenKeyFile(ctx.settings.CFG_Full_File_Name)) {
        for (const TextField& f : kInstallerKeys)
            (c.*f.field).clear();
    } else {
        readInstallerKeys(file, c);
        file.CloseKeyFile();
    }
    FillInstallerBoxes(ctx);
}

void ResetConfiguration(Context& ctx) {
    ResetConfiguration(ctx.config);
    // The default diagram depends on the gas and injector type: from the reset record.
    ResetDiagram(ctx);
    TakeEndEdgeFromPoints(ctx.diagram);
    ResetMap(ctx);
}

bool LoadConfigForEcu(Context& ctx, const ConfigText& text) {
    // Connected, the file only changes what it holds: every other field keeps the value
    // read from the ECU, so a partial file can never put defaults over the car's setup.
    if (ctx.link.ECU_Connected) return LoadConfigText(ctx, text, MissingKeys::Keep);
    const std::string name = ctx.config.CFG_Name;
    ResetConfiguration(ctx);
    ctx.config.CFG_Name = name;
    return LoadConfigText(ctx, text, MissingKeys::Clear);
}

namespace {

// What a configuration file may hold for a key, as the Setup page, the diagram and the map
// allow it; a value outside this would reach the ECU wrong or spill into other settings.
struct KeyRule {
    enum Kind { Whole, Decimal, OneOf, PreScaler } kind = Whole;
    std::int64_t low = 0; // Whole and Decimal: the range, in units of `scale`
    std::int64_t high = 0;
    std::int32_t scale = 1;         // Decimal: 10 for tenths, 100 for hundredths
    std::vector<std::string> texts; // OneOf
    std::string describe(const ConfigTextLookup& text) const {
        const auto decimal = [this](std::int64_t v) {
            if (scale == 1) return std::to_string(v);
            const int places = scale == 10 ? 1 : 2;
            std::string digits = std::to_string(v);
            if (digits.size() <= static_cast<std::size_t>(places))
                digits.insert(0, places + 1 - digits.size(), '0');
            return digits.substr(0, digits.size() - places) + "." +
                   digits.substr(digits.size() - places);
        };
        switch (kind) {
        case Whole:
            return FillText(text("CFG_Check_Whole"), {std::to_string(low), std::to_string(high)});
        case Decimal:
            return FillText(text("CFG_Check_Number"), {decimal(low), decimal(high)});
        case PreScaler:
            return text("Image_Rule_PreScaler");
        case OneOf: {
            std::string list;
            for (const std::string& t : texts)
                list += (list.empty() ? "\"" : ", \"") + t + "\"";
            return FillText(text("CFG_Check_One_Of"), {list});
        }
        }
        return {};
    }
};

KeyRule whole(std::int64_t low, std::int64_t high) {
    return {KeyRule::Whole, low, high};
}

template <std::size_t N> KeyRule oneOf(const std::array<std::string_view, N>& list) {
    KeyRule r{KeyRule::OneOf};
    for (const std::string_view t : list)
        r.texts.emplace_back(t);
    return r;
}

// What the file may hold for a parameter's field: what its codec carries. Flags have none:
// a boolean that is neither True nor False counts as absent.
std::optional<KeyRule> ruleOf(const ParamField& f) {
    switch (f.codec) {
    case ParamCodec::Word:
        return whole(0, 0xFFFF);
    case ParamCodec::Byte:
    case ParamCodec::ZeroAs80: // 128 is the image's check
        return whole(0, 255);
    case ParamCodec::TenBits:
        return whole(0, 1023);
    case ParamCodec::RpmPeriod:
        return whole(0, kRpmHighest);
    case ParamCodec::Temperature: // degrees: whether the table reaches them is the image's check
        return whole(std::numeric_limits<std::int32_t>::min() + 1,
                     std::numeric_limits<std::int32_t>::max());
    case ParamCodec::PreScaler:
        return KeyRule{KeyRule::PreScaler};
    case ParamCodec::LevelType: {
        KeyRule types{KeyRule::OneOf};
        for (const Level_Sensor_Box_Class& box : kLevelSensorBoxes)
            types.texts.emplace_back(box.Name);
        types.texts.emplace_back(kLevelTypeError); // saved from an ECU with a type of its own
        return types;
    }
    default:
        return std::nullopt;
    }
}

// Every key a configuration file may hold, with what the ECU can hold there. Installer
// notes are free text; a boolean that is neither True nor False counts as absent. The rules
// between keys (the diagram's order, the map's headers) are those of the whole image the
// ECU would hold, checked where a load or a write puts it together.
const std::vector<std::pair<std::string, KeyRule>>& configRules() {
    static const std::vector<std::pair<std::string, KeyRule>> kRules = [] {
        std::vector<std::pair<std::string, KeyRule>> r;
        r.emplace_back("Work_Gas", whole(0, 0xFFFFFF)); // the ECU counts minutes in 24 bits
        r.emplace_back("Work_Petrol", whole(0, 0xFFFFFF));
        for (const ParamField* f : FileFields()) {
            if (const auto rule = ruleOf(*f)) r.emplace_back(f->key, *rule);
            // Saved without the table, a switch-over temperature is the ECU's word.
            if (f->codec == ParamCodec::Temperature)
                r.emplace_back(kTemperCodeKey, whole(0, 0xFFFF));
        }
        for (std::size_t n = 0; n < kDiagramPoints; ++n) {
            r.emplace_back(pointKey("Gas_Point_", n), whole(0, 0xFFFF));
            r.emplace_back(pointKey("Petrol_Point_", n), whole(0, 0x7FFF)); // under the idle flag
        }
        for (std::size_t n = 1; n <= kMapPointsMax; ++n) { // what one byte of the ECU's list gives
            r.emplace_back(pointKey("MAP_Gas_", n), whole(0, 255 * 128 / 10));
            r.emplace_back(pointKey("MAP_Petrol_", n), whole(0, 255 * 128 / 10));
        }
        r.emplace_back("Cols_Number", whole(kMapCols, kMapCols));
        r.emplace_back("Rows_Number", whole(kMapRows, kMapRows));
        for (int c = 1; c <= kMapCols; ++c)
            r.emplace_back("Cols_" + std::to_string(c), whole(0, kMapRpmMax));
        for (int row = 1; row <= kMapRows; ++row) {
            r.emplace_back("Rows_" + std::to_string(row), KeyRule{KeyRule::Decimal, 0, 0xFF, 10});
        }
        for (int c = 1; c <= kMapCols; ++c) {
            for (int row = 1; row <= kMapRows; ++row) {
                // A factor byte of 0 or 1 reads as 0.00.
                r.emplace_back(MapCellKey(c, row),
                               KeyRule{KeyRule::Decimal, 0, kMapFactorMax, 100});
            }
        }
        return r;
    }();
    return kRules;
}

bool allowed(KeyFile& file, const std::string& key, const KeyRule& rule) {
    switch (rule.kind) {
    case KeyRule::Whole:
        return file.GetKeyInt(key) && file.Found_Int >= rule.low && file.Found_Int <= rule.high;
    case KeyRule::Decimal: {
        const std::optional<std::int32_t> v = TextToScaled(file.Found_Value, rule.scale);
        return v && *v >= rule.low && *v <= rule.high;
    }
    case KeyRule::PreScaler:
        return PreScalerPosition(file.Found_Value).has_value();
    case KeyRule::OneOf:
        return std::find(rule.texts.begin(), rule.texts.end(), file.Found_Value) !=
               rule.texts.end();
    }
    return false;
}

// The line of the file where a key's first entry stands, counted from 1.
std::size_t lineOf(std::string_view bytes, std::string_view key) {
    std::size_t line = 1;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = bytes.size();
        KeyFile one;
        one.OpenFromText(bytes.substr(pos, end - pos));
        if (!one.Key_List.empty() && one.FindKey(key)) return line;
        pos = end + 1;
        if (end < bytes.size() && bytes[end] == '\r' && pos < bytes.size() && bytes[pos] == '\n')
            ++pos;
        ++line;
    }
    return 0;
}

} // namespace

std::string FillText(std::string_view pattern, std::initializer_list<std::string> values) {
    return FillText(pattern, std::span<const std::string>(values.begin(), values.size()));
}

ConfigTextLookup LanguageTexts(const Context& ctx) {
    return [&ctx](std::string_view key) { return ctx.LangText(key); };
}

std::string FillText(std::string_view pattern, std::span<const std::string> values) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        const auto n = static_cast<std::size_t>(next - '1');
        if (pattern[i] == '%' && next >= '1' && next <= '9' && n < values.size()) {
            out += values[n];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string EnglishConfigText(std::string_view key) {
    return std::string(EnglishText(key));
}

std::variant<ConfigText, std::string> ReadConfigText(const std::filesystem::path& path,
                                                     const ConfigTextLookup& text) {
    std::error_code ec;
    const std::string shown = "\"" + path.string() + "\"";
    const auto whole = [&](const char* key) { return FillText(text(key), {shown}); };
    if (!std::filesystem::exists(path, ec)) return whole("CFG_Check_Missing");
    if (!std::filesystem::is_regular_file(path, ec)) return whole("CFG_Check_Not_File");
    std::ifstream in(path, std::ios::binary);
    if (!in) return whole("CFG_Check_Unreadable");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return whole("CFG_Check_Unreadable");
    return ConfigText{std::move(bytes), shown};
}

std::string CheckConfigText(const ConfigText& config, const ConfigTextLookup& text) {
    const std::string& bytes = config.bytes;
    const auto whole = [&](const char* key) { return FillText(text(key), {config.shown}); };
    if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) return whole("CFG_Check_Empty");
    if (bytes.find('\0') != std::string::npos) return whole("CFG_Check_Binary");
    KeyFile file;
    file.OpenFromText(bytes);
    bool known = false;
    for (const TextField& f : kInstallerKeys)
        known = known || file.FindKey(f.key);
    for (const ParamField* k : FileFields())
        known = known || file.FindKey(k->key);
    // A file is refused whole at its first value out of bounds: nothing of it is loaded.
    for (const auto& [key, rule] : configRules()) {
        if (!file.FindKey(key)) continue;
        known = true;
        // An empty text says nothing: the field keeps its value.
        if (rule.kind != KeyRule::Whole && rule.kind != KeyRule::Decimal &&
            textOf(file.Found_Value).empty())
            continue;
        if (!allowed(file, key, rule)) {
            file.FindKey(key);
            return FillText(text("CFG_Check_Value"),
                            {config.shown, std::to_string(lineOf(bytes, key)), key,
                             file.Found_Value, rule.describe(text)});
        }
    }
    file.CloseKeyFile();
    if (!known) return whole("CFG_Check_No_Keys");
    return {};
}

std::string CheckConfigFile(const std::filesystem::path& path, const ConfigTextLookup& text) {
    const auto config = ReadConfigText(path, text);
    if (const auto* problem = std::get_if<std::string>(&config)) return *problem;
    return CheckConfigText(std::get<ConfigText>(config), text);
}

std::string MergedFaultText(const ConfigText& config, const ImageFault& fault,
                            const ConfigTextLookup& text) {
    // The fault is put on a key the file holds, where it can be: that is the line to mend.
    const auto inFile = [&](const std::string& key) { return lineOf(config.bytes, key); };
    std::size_t line = inFile(fault.key);
    const bool other = line == 0 && fault.otherKey && inFile(*fault.otherKey) != 0;
    if (other) line = inFile(*fault.otherKey);
    const std::string& key = other ? *fault.otherKey : fault.key;
    const std::string& value = other ? fault.otherValue : fault.value;
    const std::string& rule = other ? fault.otherRule : fault.rule;
    if (line == 0) return FillText(text("CFG_Check_Merged"), {config.shown, key, value, rule});
    return FillText(text("CFG_Check_Value"),
                    {config.shown, std::to_string(line), key, value, rule});
}

namespace {

// What a load would leave in the record, the diagram and the maps: a scratch copy.
struct FileImage {
    Configuration_Class config;
    DiagramModel diagram;
    MapPoints mapPoints;
    MapGrid<std::uint16_t> map{};
    std::optional<std::uint16_t> temperCode; // the switch-over temperature as the ECU's word
};

// The record as it is now, with the map's values taken from its texts as a write does.
FileImage currentImage(Context& ctx) {
    TextsToValues(ctx);
    return {ctx.config, ctx.diagram, ctx.mapPoints, ctx.rpmMap.Map_Value, std::nullopt};
}

// The file read over the record as a load on a connected ECU reads it: only the keys it
// holds change anything.
FileImage readFileImage(Context& ctx, const ConfigText& text) {
    KeyFile file; // the program's own key file may be open for something else
    file.OpenFromText(text.bytes);
    FileImage image = currentImage(ctx);
    readRecordKeys(file, false, mapPointCount(ctx), image.config, image.diagram, image.mapPoints,
                   ctx.temperatureTable(), image.temperCode);
    ReadMapKeys(file, image.map);
    file.CloseKeyFile();
    return image;
}

// The factory set-up over the record, as File > Default makes it; the name stays, as a
// load keeps it too, until the user takes the whole default.
FileImage factoryImage(Context& ctx) {
    FileImage image = currentImage(ctx);
    ResetConfiguration(image.config);
    ResetDiagram(image.diagram, image.config);
    image.map = DefaultMapValues();
    return image;
}

// What the ECU would hold with the scratch copy written: the record's image with the
// copy's settings, diagram and map.
EcuImage ecuImageOf(Context& ctx, const FileImage& f) {
    TextsToValues(ctx);
    EcuImage image = TakeImage(ctx);
    image.config = f.config;
    image.petrol = f.diagram.Petrol_Point;
    image.gas = f.diagram.Gas_Point;
    image.map = f.map;
    if (f.temperCode) image.rawParams[0x41] = *f.temperCode;
    return image;
}

const ParamField* fileKey(std::string_view key) {
    for (const ParamField* k : FileFields()) {
        if (key == k->key) return k;
    }
    return nullptr;
}

bool sameValue(const ParamField& k, const Configuration_Class& a, const Configuration_Class& b) {
    return VisitMember(k, [&](auto member) { return a.*member == b.*member; });
}

void copyValue(const ParamField& k, const Configuration_Class& from, Configuration_Class& to) {
    VisitMember(k, [&](auto member) { to.*member = from.*member; });
}

// The settings a file carries to the ECU that the Setup page does not show, with their
// captions.
struct HiddenSetting {
    const char* key;
    const char* captionKey;
};
constexpr HiddenSetting kHiddenSettings[] = {
    {"MonoInject", "SL_Diff_MonoInject"},
    {"Level_Invert", "SL_Diff_Level_Invert"},
    {"Level_90", "SL_Diff_Level_90"},
    {"Save_Map", "SL_Diff_Save_Map"},
};

SaveLoadDiffRow wholeRow(const Context& ctx, SaveLoadDiffRow::Kind kind, const char* captionKey,
                         bool changed) {
    SaveLoadDiffRow row;
    row.kind = kind;
    row.caption = ctx.LangText(captionKey);
    row.changed = changed;
    row.fileText = ctx.LangText(changed ? "SL_Diff_Changed" : "SL_Diff_Unchanged");
    return row;
}

std::vector<SaveLoadDiffRow> compareImage(Context& ctx, const FileImage& file) {
    std::vector<SaveLoadDiffRow> rows;
    const Configuration_Class& now = ctx.config;
    const auto add = [&](const ParamField& k, std::string caption, std::string ecuText,
                         std::string fileText) {
        if (sameValue(k, now, file.config)) return;
        // Two values the page shows alike (thresholds a code apart) still say which is which.
        if (ecuText == fileText) {
            ecuText += " (" + rawValue(k, now) + ")";
            fileText += " (" + rawValue(k, file.config) + ")";
        }
        rows.push_back({SaveLoadDiffRow::Kind::Setting, k.key, std::move(caption),
                        std::move(ecuText), std::move(fileText)});
    };
    for (const SetupField& f : SetupFields()) {
        if (const ParamField* k = fileKey(f.key))
            add(*k, SetupFieldCaption(ctx, f), f.text(now, ctx), f.text(file.config, ctx));
    }
    for (const HiddenSetting& h : kHiddenSettings) {
        const ParamField* k = fileKey(h.key);
        if (k == nullptr || k->flag == nullptr) continue;
        const auto yesNo = [&ctx](bool on) { return ctx.LangText(on ? "Yes" : "No"); };
        add(*k, ctx.LangText(h.captionKey), yesNo(now.*k->flag), yesNo(file.config.*k->flag));
    }
    const DiagramModel& d = ctx.diagram;
    rows.push_back(wholeRow(ctx, SaveLoadDiffRow::Kind::Diagram, "SL_Diff_Diagram",
                            d.Gas_Point != file.diagram.Gas_Point ||
                                d.Petrol_Point != file.diagram.Petrol_Point));
    const MapPoints& m = ctx.mapPoints;
    rows.push_back(
        wholeRow(ctx, SaveLoadDiffRow::Kind::MapPoints, "SL_Diff_MAP",
                 m.MAP_Gas != file.mapPoints.MAP_Gas || m.MAP_Petrol != file.mapPoints.MAP_Petrol));
    rows.push_back(wholeRow(ctx, SaveLoadDiffRow::Kind::RpmMap, "SL_Diff_RPM_Map",
                            ctx.rpmMap.Map_Value != file.map));
    return rows;
}

// The record with the ticked rows of the scratch copy taken over (and the installer
// notes when `notes`).
FileImage takeRows(Context& ctx, const FileImage& file, const std::vector<SaveLoadDiffRow>& rows,
                   bool notes) {
    FileImage out = currentImage(ctx);
    Configuration_Class& c = out.config;
    if (notes) {
        for (const TextField& f : kInstallerKeys)
            c.*f.field = file.config.*f.field;
    }
    for (const SaveLoadDiffRow& row : rows) {
        if (!row.ticked) continue;
        switch (row.kind) {
        case SaveLoadDiffRow::Kind::Setting:
            if (const ParamField* k = fileKey(row.key)) copyValue(*k, file.config, c);
            if (row.key == "LPG_on") c.Param44_Press = file.config.Param44_Press;
            if (row.key == "PG_Temper") out.temperCode = file.temperCode;
            break;
        case SaveLoadDiffRow::Kind::Diagram:
            out.diagram.Gas_Point = file.diagram.Gas_Point;
            out.diagram.Petrol_Point = file.diagram.Petrol_Point;
            break;
        case SaveLoadDiffRow::Kind::MapPoints:
            out.mapPoints = file.mapPoints;
            break;
        case SaveLoadDiffRow::Kind::RpmMap:
            out.map = file.map;
            break;
        }
    }
    return out;
}

// Puts a scratch copy into the record.
void putFileImage(Context& ctx, const FileImage& f) {
    ctx.config = f.config;
    if (f.temperCode) ctx.link.Raw_Params[0x41] = *f.temperCode;
    ctx.diagram.Gas_Point = f.diagram.Gas_Point;
    ctx.diagram.Petrol_Point = f.diagram.Petrol_Point;
    TakeEndEdgeFromPoints(ctx.diagram);
    ctx.mapPoints.MAP_Gas = f.mapPoints.MAP_Gas;
    ctx.mapPoints.MAP_Petrol = f.mapPoints.MAP_Petrol;
    if (ctx.rpmMap.Map_Value != f.map) {
        ctx.rpmMap.Map_Value = f.map;
        BuildMap(ctx);
    }
    ctx.events.titleChanged.notify();
}

void clearDiff(SaveLoadView& v) {
    v.Diff_Shown = false;
    v.Diff_Default = false;
    v.Diff_Prompt.clear();
    v.Diff_Rows.clear();
    v.Diff_File.clear();
    v.Diff_Text = {};
}

} // namespace

std::string CheckLoadOnEcu(Context& ctx, const ConfigText& text) {
    const FileImage merged = readFileImage(ctx, text);
    const ConfigTextLookup lookup = LanguageTexts(ctx);
    const std::optional<ImageFault> fault =
        CheckEcuImage(ecuImageOf(ctx, merged), EcuHoldsNow(ctx), ctx.temperatureTable(),
                      PartsOf(Request::WriteAll), lookup);
    return fault ? MergedFaultText(text, *fault, lookup) : std::string();
}

std::vector<SaveLoadDiffRow> CompareConfigText(Context& ctx, const ConfigText& text) {
    return compareImage(ctx, readFileImage(ctx, text));
}

std::vector<SaveLoadDiffRow> CompareConfigFile(Context& ctx, const std::filesystem::path& path) {
    const auto text = ReadConfigText(path);
    if (const auto* file = std::get_if<ConfigText>(&text)) return CompareConfigText(ctx, *file);
    return {};
}

std::string LoadConfigRows(Context& ctx, const ConfigText& text,
                           const std::vector<SaveLoadDiffRow>& rows) {
    const FileImage chosen = takeRows(ctx, readFileImage(ctx, text), rows, true);
    const ConfigTextLookup lookup = LanguageTexts(ctx);
    // What goes to a connected ECU is checked as the image it would hold; without an ECU
    // the write that follows a connection checks it.
    if (ctx.link.ECU_Connected) {
        if (const auto fault =
                CheckEcuImage(ecuImageOf(ctx, chosen), EcuHoldsNow(ctx), ctx.temperatureTable(),
                              PartsOf(Request::WriteAll), lookup)) {
            return MergedFaultText(text, *fault, lookup);
        }
    }
    putFileImage(ctx, chosen);
    ctx.config.CFG_Name = ctx.settings.CFG_File_Name;
    return {};
}

bool LoadConfigRows(Context& ctx, const std::vector<SaveLoadDiffRow>& rows) {
    const auto text = ReadConfigText(ctx.settings.CFG_Full_File_Name);
    const auto* file = std::get_if<ConfigText>(&text);
    return file != nullptr && LoadConfigRows(ctx, *file, rows).empty();
}

void AutoSaveConfigFile(Context& ctx) {
    // A file loaded in part keeps its own values: the mixed set-up is the user's to save.
    if (ctx.saveLoad.Partly_Loaded == ctx.settings.CFG_Full_File_Name) return;
    SaveConfigFile(ctx);
}

namespace {

// The chosen name becomes the configuration's name and file.
void takeName(Context& ctx, const std::string& name) {
    ctx.config.CFG_Name = name;
    ctx.settings.CFG_Full_File_Name = fullFileName(ctx, name);
    ctx.settings.CFG_File_Name = name;
}

// After a save or a load: the title, the whole set-up to a connected ECU, the window shut.
void finishRun(Context& ctx) {
    ctx.events.titleChanged.notify();
    if (ctx.link.ECU_Connected) SetPendingRequest(ctx, Request::WriteAll);
    CloseSaveLoad(ctx);
}

// Back to the factory set-up without a file, written to a connected ECU.
void takeDefault(Context& ctx) {
    ctx.settings.CFG_File_Name.clear();
    ctx.config.CFG_Name.clear();
    ctx.settings.CFG_Full_File_Name.clear();
    ResetConfiguration(ctx);
    RefreshDiagram(ctx);
    FillSetupPage(ctx);
    EditsFileDropped(ctx);
    SetPendingRequest(ctx, Request::WriteAll);
}

bool differs(const std::vector<SaveLoadDiffRow>& rows) {
    return std::any_of(rows.begin(), rows.end(), [](const SaveLoadDiffRow& r) {
        return r.kind == SaveLoadDiffRow::Kind::Setting || r.changed;
    });
}

} // namespace

void ShowSaveLoad(Context& ctx, SaveLoadMode mode) {
    SaveLoadView& v = ctx.saveLoad;
    if (mode == SaveLoadMode::Default && !ctx.link.ECU_Connected) {
        takeDefault(ctx);
    } else {
        v.shown = true;
        v.mode = mode;
        v.Last_Error.clear();
        clearDiff(v);
        if (mode == SaveLoadMode::Default) {
            // A connected ECU holds a car's calibration: the user first sees what the
            // factory set-up would change, as before a load.
            v.Diff_Rows = compareImage(ctx, factoryImage(ctx));
            v.Diff_Prompt =
                ctx.LangText(differs(v.Diff_Rows) ? "SL_Default_Prompt" : "SL_Default_None");
            v.Diff_Default = true;
            v.Diff_Shown = true;
        } else if (mode == SaveLoadMode::Save) {
            v.HudButton_3D_SL_Run_Text = ctx.LangText("Save");
            SaveLoadNameChanged(ctx, ctx.config.CFG_Name);
        } else {
            v.HudButton_3D_SL_Run_Text = ctx.LangText("Load");
            SaveLoadNameChanged(ctx, v.HudTextBox_3D_SL_Name);
        }
        v.HudStringListBox_3D_SL_List.clear();
        listConfigFiles(ctx.paths.Config_Dir, v.HudStringListBox_3D_SL_List);
        ctx.events.saveLoadShown.notify();
    }
    ctx.events.menusClose.notify();
}

void SaveLoadListClick(Context& ctx, std::size_t index) {
    const auto& list = ctx.saveLoad.HudStringListBox_3D_SL_List;
    if (index < list.size()) SaveLoadNameChanged(ctx, list[index]);
}

void SaveLoadNameChanged(Context& ctx, std::string_view text) {
    SaveLoadView& v = ctx.saveLoad;
    v.HudTextBox_3D_SL_Name = std::string(text.substr(0, kConfigNameMax));
    const std::string& name = v.HudTextBox_3D_SL_Name;
    v.Name_Refused.clear();
    if (!name.empty() && !IsValidConfigName(name)) v.Name_Refused = ctx.LangText("SL_Name_Refused");
    v.HudButton_3D_SL_Run_Enabled = !name.empty() && v.Name_Refused.empty();
}

void SaveLoadRun(Context& ctx) {
    SaveLoadView& v = ctx.saveLoad;
    if (!v.shown || !v.HudButton_3D_SL_Run_Enabled || v.Diff_Shown) return;
    const std::string name = v.HudTextBox_3D_SL_Name;
    if (v.mode == SaveLoadMode::Load) {
        // The file is read once: what is checked is what is loaded. A missing file, or one
        // with a value out of bounds, changes nothing; the window stays with the reason.
        const ConfigTextLookup lookup = LanguageTexts(ctx);
        const auto read = ReadConfigText(fullFileName(ctx, name), lookup);
        if (const auto* problem = std::get_if<std::string>(&read)) {
            v.Last_Error = *problem;
            return;
        }
        const ConfigText& text = std::get<ConfigText>(read);
        v.Last_Error = CheckConfigText(text, lookup);
        if (v.Last_Error.empty() && ctx.link.ECU_Connected)
            v.Last_Error = CheckLoadOnEcu(ctx, text);
        if (!v.Last_Error.empty()) return;
        if (ctx.link.ECU_Connected) {
            // The user first sees what the file would change on the ECU.
            v.Diff_Rows = CompareConfigText(ctx, text);
            v.Diff_Prompt = ctx.LangText(differs(v.Diff_Rows) ? "SL_Diff_Prompt" : "SL_Diff_None");
            v.Diff_File = fullFileName(ctx, name);
            v.Diff_Text = text;
            v.Diff_Shown = true;
            return;
        }
        takeName(ctx, name);
        LoadConfigForEcu(ctx, text);
        v.Partly_Loaded.clear();
        FillSetupPage(ctx);
    } else {
        takeName(ctx, name);
        const WriteResult saved = SaveConfigFile(ctx);
        v.Last_Error = saved.ok ? std::string() : saved.message;
        if (!saved.ok) return; // the window stays open with the reason
    }
    finishRun(ctx);
}

void SaveLoadDiffTick(Context& ctx, std::size_t row, bool ticked) {
    SaveLoadView& v = ctx.saveLoad;
    if (v.Diff_Shown && row < v.Diff_Rows.size()) v.Diff_Rows[row].ticked = ticked;
}

void SaveLoadDiffLoad(Context& ctx, bool all) {
    SaveLoadView& v = ctx.saveLoad;
    if (!v.shown || !v.Diff_Shown) return;
    if (v.Diff_Default) {
        const std::vector<SaveLoadDiffRow> rows = v.Diff_Rows;
        clearDiff(v);
        CloseSaveLoad(ctx);
        if (all) {
            takeDefault(ctx);
            return;
        }
        // Only the ticked settings go back to the factory's; the configuration keeps its
        // name and file.
        putFileImage(ctx, takeRows(ctx, factoryImage(ctx), rows, false));
        RefreshDiagram(ctx);
        FillSetupPage(ctx);
        if (ctx.link.ECU_Connected) SetPendingRequest(ctx, Request::WriteAll);
        return;
    }
    // The bytes compared are the bytes loaded: a file changed on disk since is not read.
    const ConfigText text = v.Diff_Text;
    const std::vector<SaveLoadDiffRow> rows = v.Diff_Rows;
    const std::string name = v.HudTextBox_3D_SL_Name;
    const std::string path = fullFileName(ctx, name);
    if (all) {
        v.Last_Error = CheckLoadOnEcu(ctx, text);
        if (!v.Last_Error.empty()) {
            clearDiff(v);
            return;
        }
        takeName(ctx, name);
        LoadConfigForEcu(ctx, text);
        v.Partly_Loaded.clear();
    } else {
        takeName(ctx, name);
        v.Last_Error = LoadConfigRows(ctx, text, rows);
        if (!v.Last_Error.empty()) {
            clearDiff(v);
            return;
        }
        // A choice leaves the file as it is: the automatic save after the write would
        // otherwise put the ECU's values into the file the user took only a part of.
        v.Partly_Loaded = path;
    }
    clearDiff(v);
    FillSetupPage(ctx);
    finishRun(ctx);
}

void SaveLoadDiffCancel(Context& ctx) {
    SaveLoadView& v = ctx.saveLoad;
    const bool wasDefault = v.Diff_Default;
    clearDiff(v);
    // Default has nothing behind its difference view.
    if (wasDefault) CloseSaveLoad(ctx);
}

void CloseSaveLoad(Context& ctx) {
    ctx.saveLoad.shown = false;
    clearDiff(ctx.saveLoad);
}

} // namespace bifuel

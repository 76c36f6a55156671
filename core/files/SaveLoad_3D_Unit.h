#pragma once

#include "files/FindUnit.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace bifuel {

class Context;
struct Configuration_Class;

inline constexpr std::size_t kConfigNameMax = 8;
// The switch-over temperature as the ECU's word, saved instead of degrees nobody knows
// (no temperature table).
inline constexpr const char* kTemperCodeKey = "PG_Temper_Code";

struct ImageFault;

// A configuration file's bytes, read once: what is checked is what is loaded and sent,
// whatever happens to the file on disk meanwhile.
struct ConfigText {
    std::string bytes;
    std::string shown; // the file's path as messages name it, in quotes
};

// Whether a configuration name can be stored in the ECU and used as a file name: 1..8
// printable ASCII characters that a file name can hold.
bool IsValidConfigName(std::string_view name);

// The configuration name the ECU's eight name bytes give: the characters up to the first
// 0x00 or 0xFF. A name no file can carry ("A*B", "CON", a trailing blank) is made safe for
// the program's own files, each offending character becoming "_" ("A_B", "CO_", "AB_").
std::string ConfigNameOf(const std::array<std::uint8_t, kConfigNameMax>& bytes);

// Car_Comments may hold line breaks; in the file they travel as "\n" (and "\" as "\\").
std::string EscapeComments(std::string_view text);
std::string UnescapeComments(std::string_view text);

// Writes the configuration file named by CFG_Full_File_Name. A failed write keeps the old
// file and tells the user on the status line.
WriteResult SaveConfigFile(Context& ctx);
// Sets every key of the configuration in an open key file, as a save writes them.
void PutConfigKeys(Context& ctx, KeyFile& file);
// Loads a configuration file as the Save/Load window does: without an ECU over the
// defaults; while the ECU is connected only the keys the file holds replace the values
// read from the ECU.
bool LoadConfigForEcu(Context& ctx, const ConfigText& text);
// A text of the language tables by key.
using ConfigTextLookup = std::function<std::string(std::string_view key)>;
std::string EnglishConfigText(std::string_view key);
// A text with %1 .. %9 replaced by the values.
std::string FillText(std::string_view pattern, std::span<const std::string> values);
std::string FillText(std::string_view pattern, std::initializer_list<std::string> values);
// The texts of the language in use, as the checks take them.
ConfigTextLookup LanguageTexts(const Context& ctx);
// A file's bytes, or why it cannot be read (missing, not a file, unreadable).
std::variant<ConfigText, std::string>
ReadConfigText(const std::filesystem::path& path, const ConfigTextLookup& text = EnglishConfigText);
// Why the bytes cannot be a configuration file (binary, empty, no known key, a value the
// ECU cannot hold, with its line), in the texts given; empty when they can. Rules between
// keys belong to the whole image (CheckLoadOnEcu).
std::string CheckConfigText(const ConfigText& config,
                            const ConfigTextLookup& text = EnglishConfigText);
std::string CheckConfigFile(const std::filesystem::path& path,
                            const ConfigTextLookup& text = EnglishConfigText);
// Why the image the connected ECU would hold with the file loaded over the record breaks a
// rule, with the line of the file to mend where the file holds the key; empty when it
// does not.
std::string CheckLoadOnEcu(Context& ctx, const ConfigText& text);
std::string MergedFaultText(const ConfigText& config, const ImageFault& fault,
                            const ConfigTextLookup& text);
// What a load does with a field whose key the file does not hold.
enum class MissingKeys {
    Clear, // counters and MAP points become 0 (the file is the whole configuration)
    Keep,  // the field keeps its value
};
// Reads the configuration file named by CFG_Full_File_Name; false when it does not exist.
bool LoadConfigFile(Context& ctx, MissingKeys missing = MissingKeys::Clear);
bool LoadConfigText(Context& ctx, const ConfigText& text, MissingKeys missing);
// The save after a write to the ECU: not into a file the user loaded only a part of.
void AutoSaveConfigFile(Context& ctx);
// Reads only the installer's notes of that file; clears them when there is no file.
void LoadInstallerDetail(Context& ctx);

// The record back to its defaults, with the diagram and the RPM map.
void ResetConfiguration(Context& ctx);

// One row of the difference view before a load on a connected ECU: a setting whose file
// value differs from the record's (what the ECU holds), or the diagram, the MAP points or
// the RPM map as a whole.
struct SaveLoadDiffRow {
    enum class Kind : std::uint8_t { Setting, Diagram, MapPoints, RpmMap } kind = Kind::Setting;
    std::string key;     // a setting's file key
    std::string caption; // as the page captions it
    std::string ecuText; // a setting's values as the page shows them
    std::string fileText;
    bool changed = true; // the three wholes: whether the file changes them
    bool ticked = true;
};

// What loading the file at `path` on the record would change, read into a scratch copy:
// the record, the diagram and the maps stay untouched. Settings come in page order, then
// the settings the page does not show, then the diagram, the MAP points and the RPM map.
std::vector<SaveLoadDiffRow> CompareConfigFile(Context& ctx, const std::filesystem::path& path);
std::vector<SaveLoadDiffRow> CompareConfigText(Context& ctx, const ConfigText& text);
// Loads only the ticked rows (settings whose key a row names, the diagram, the MAP points,
// the RPM map) and the installer notes, which never reach the ECU. The reason, and nothing
// loaded, when the ECU's image would break a rule with them.
std::string LoadConfigRows(Context& ctx, const ConfigText& text,
                           const std::vector<SaveLoadDiffRow>& rows);
// The same from the file named by CFG_Full_File_Name; false when it cannot be read or
// loaded.
bool LoadConfigRows(Context& ctx, const std::vector<SaveLoadDiffRow>& rows);

// The Save/Load window.
enum class SaveLoadMode { Save = 0, Load = 1, Default = 2 };

struct SaveLoadView {
    bool shown = false;
    SaveLoadMode mode = SaveLoadMode::Save;
    std::string HudButton_3D_SL_Run_Text;
    bool HudButton_3D_SL_Run_Enabled = false;
    std::string HudTextBox_3D_SL_Name;
    std::vector<std::string> HudStringListBox_3D_SL_List;
    std::string Name_Refused; // why the name cannot be used, empty when it can
    std::string Last_Error;   // why the last run was refused (invalid file, failed save)

    // The difference view: shown instead of the list when a load would change a
    // connected ECU, until the user loads or cancels.
    bool Diff_Shown = false;
    bool Diff_Default = false; // the rows compare with the factory set-up, not a file
    std::string Diff_Prompt;   // what the rows are, or that nothing differs
    std::vector<SaveLoadDiffRow> Diff_Rows;
    std::string Diff_File; // the file the rows were read from
    ConfigText Diff_Text;  // its bytes as compared: the load takes these

    // The configuration file a load took only some rows of: it keeps its own values, so
    // the save after a write leaves it alone until the user saves it.
    std::string Partly_Loaded;
};

// The File menu's entry point: 0 save, 1 load, 2 back to defaults (with a connected ECU
// first the difference view, the factory set-up in the file's place).
void ShowSaveLoad(Context& ctx, SaveLoadMode mode);
void SaveLoadListClick(Context& ctx, std::size_t index);
void SaveLoadNameChanged(Context& ctx, std::string_view text);
// Saves, or loads; a load on a connected ECU first opens the difference view.
void SaveLoadRun(Context& ctx);
void SaveLoadDiffTick(Context& ctx, std::size_t row, bool ticked);
// The difference view's buttons: everything, only the ticked rows, or nothing.
void SaveLoadDiffLoad(Context& ctx, bool all);
void SaveLoadDiffCancel(Context& ctx);
void CloseSaveLoad(Context& ctx);

} // namespace bifuel

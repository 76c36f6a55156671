#pragma once

#include "files/FindUnit.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel {

class Context;
struct Configuration_Class;

inline constexpr std::size_t kConfigNameMax = 8;

// Whether a configuration name can be stored in the ECU and used as a file name: 1..8
// printable ASCII characters that a file name can hold.
bool IsValidConfigName(std::string_view name);

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
bool LoadConfigForEcu(Context& ctx);
// A text of the language tables by key.
using ConfigTextLookup = std::function<std::string(std::string_view key)>;
std::string EnglishConfigText(std::string_view key);
// A text with %1 .. %9 replaced by the values.
std::string FillText(std::string_view pattern, std::initializer_list<std::string> values);
// Why a file cannot be a configuration file (missing, unreadable, binary, empty, no known
// key, a key with a value of the wrong type), in the texts given; empty when it can.
std::string CheckConfigFile(const std::filesystem::path& path, const ConfigTextLookup& text = EnglishConfigText);
// What a load does with a field whose key the file does not hold.
enum class MissingKeys {
    Clear, // counters and MAP points become 0 (the file is the whole configuration)
    Keep,  // the field keeps its value
};
// Reads the configuration file named by CFG_Full_File_Name; false when it does not exist.
bool LoadConfigFile(Context& ctx, MissingKeys missing = MissingKeys::Clear);
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
// Loads from the file named by CFG_Full_File_Name only the ticked rows (settings whose
// key a row names, the diagram, the MAP points, the RPM map) and the installer notes,
// which never reach the ECU. False when the file does not exist.
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
    std::string Diff_Prompt; // what the rows are, or that nothing differs
    std::vector<SaveLoadDiffRow> Diff_Rows;
    std::string Diff_File; // the file the rows were read from
};

// The File menu's entry point: 0 save, 1 load, 2 back to defaults.
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

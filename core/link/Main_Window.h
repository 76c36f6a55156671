#pragma once

// The main window's rules that need no display: the title, start-up and shutdown over the
// context, the language pick, and the texts of the window shown without OpenGL.

#include "files/Settings_3D_Unit.h"

#include <filesystem>
#include <string>

namespace bifuel {

class Context;

// The title says so when the ECU is the built-in simulator.
inline constexpr const char* kSimulatedPort = "sim";

// The window title: program, version and date; the ECU once connected; the file; and a
// note when the ECU is the simulator.
std::string TitleText(const Context& ctx);
// The note the title carries while the ECU is the simulator.
std::string SimulatedEcuNote(const Context& ctx);
// The installer group's caption with the configuration file name.
std::string InstallerGroupCaption(const Context& ctx);

// Every text in the current language: the window's, then the title and the units' own
// (the status line's work hours), all read within one opening of the language file.
void ApplyLanguageTexts(Context& ctx);

// Main window creation over the context: settings, language, configuration, status line,
// indicators at zero. Opens no port and sends nothing. The window follows the title and
// its menus through the `titleChanged` and `menusClose` events.
void MainWindow_Create(Context& ctx);

// The language menu's pick: the name before the last "." becomes the language (with its
// own font) and every text follows. An empty or unusable name changes nothing.
bool PickLanguage(Context& ctx, const std::string& itemText);

// How the Settings window reaches the link and the main window's queue. The window adds
// the hooks that need its own controls (panel opacity, the diagram).
SettingsHooks SettingsWindowHooks(Context& ctx);

// Main window closing over the context: timers stopped, the port closed, the settings
// saved. Returns the reason when the settings file could not be written.
std::string MainWindow_Close(Context& ctx, bool settingsWindowShown);

// The message of the window shown when OpenGL does not work, and its font.
struct NoOpenGLTexts {
    std::string language = "English";
    std::string font = "Tahoma";
    std::string message =
        "The computer does not support the OpenGL video mode. The program can not be run.";
};
NoOpenGLTexts ReadNoOpenGLTexts(const std::filesystem::path& workDir, const std::string& baseName);

} // namespace bifuel

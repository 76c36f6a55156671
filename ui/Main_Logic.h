#pragma once

// The main window's rules that need no display: geometry, scaling, the title, the mode
// keys, start-up and shutdown over the context. The Qt windows call these.

#include "files/Settings_3D_Unit.h"
#include "link/Main_Window.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace bifuel {
class Context;
}

namespace bifuel::ui {

inline constexpr int kDesignWidth = 792;
inline constexpr int kDesignHeight = 579;
// The content layout sits 13 in from the sides, 32 below the top and 12 above the bottom.
inline constexpr int kLayoutLeft = 13;
inline constexpr int kLayoutTop = 32;
inline constexpr int kLayoutWidth = kDesignWidth - 26;
inline constexpr int kLayoutHeight = kDesignHeight - 44;
inline constexpr int kMinWidth = 400;
inline constexpr int kMinHeight = 300;
// In full screen the window's own margin lies outside the work area.
inline constexpr int kFullScreenMargin = 12;
inline constexpr double kColumnMinExclusive = 60;
inline constexpr double kColumnMaxExclusive = 300;
inline constexpr double kColumnDesignWidth = 120;

// Deferred actions of the main window.
enum Action : std::uint8_t {
    kActionLayout = 1,
    kActionGeometry = 2,
    kActionMinimise = 3,
    kActionFullScreen = 4,
    kActionSkin = 5,
    kActionFonts = 6,
    kActionPortOpen = 7,
    kActionHistoryFont = 8, // the diagram's history panel
    kActionPromptFont = 9,  // the MAP correction's prompt panel
    kActionScaleFonts = 10, // the diagram's scale labels, while the Graph page is shown
    kActionPage0Fonts = 12,
    kActionPage1Fonts = 13, // the Auto Calibration page
    kActionSplashShow = 16,
    kActionSplashHide = 17,
    kActionChartsFonts = 24, // the charts window, once it is open
};

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

struct Scale {
    double x = 1.0;
    double y = 1.0;
};

// Scale of the content layout for a window size.
Scale LayoutScale(int windowWidth, int windowHeight);
// A window of this size centred on the work area (divisions truncate toward zero).
Rect CentredOn(const Rect& area, int width, int height);
// The window size after the minimum-size rule.
Rect HeldToMinimum(Rect window);
Rect FullScreenGeometry(const Rect& workArea);
// The user or the system made a full-screen window smaller than the work area.
bool FullScreenLost(int width, int height, const Rect& workArea);
// Whether the splitter may give the indicator column this width.
bool ColumnWidthAccepted(double width);

// The button row of the message window.
struct ButtonRow {
    double width = 0;
    std::vector<double> x;
};
ButtonRow MessageButtonRow(int buttons, double panelWidth);

// The wait window over the main window: large in the centre, small in the top-right corner.
Rect WaitLarge(const Rect& main);
Rect WaitCorner(const Rect& main);

// The name under which a running copy listens: one per user and working folder.
std::string InstanceServerName(const std::string& user, const std::filesystem::path& workDir);

} // namespace bifuel::ui

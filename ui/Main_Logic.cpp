#include "Main_Logic.h"

#include "Context.h"
#include "data/Live_Data.h"
#include "files/Language.h"
#include "files/SaveLoad_3D_Unit.h"
#include "files/Settings_3D_Unit.h"
#include "files/Skin_3D_Unit.h"
#include "link/Check_Versions.h"
#include "link/Global_Unit.h"
#include "link/Link_Operations.h"
#include "link/Transmit_Unit.h"

#include <algorithm>
#include <functional>

namespace bifuel::ui {

Scale LayoutScale(int windowWidth, int windowHeight) {
    return {double(windowWidth - (kDesignWidth - kLayoutWidth)) / kLayoutWidth,
            double(windowHeight - (kDesignHeight - kLayoutHeight)) / kLayoutHeight};
}

Rect CentredOn(const Rect& area, int width, int height) {
    return {area.left + (area.width - width) / 2, area.top + (area.height - height) / 2, width,
            height};
}

Rect HeldToMinimum(Rect window) {
    window.width = std::max(window.width, kMinWidth);
    window.height = std::max(window.height, kMinHeight);
    return window;
}

Rect FullScreenGeometry(const Rect& workArea) {
    return {workArea.left - kFullScreenMargin, workArea.top - kFullScreenMargin,
            workArea.width + 2 * kFullScreenMargin, workArea.height + 2 * kFullScreenMargin};
}

bool FullScreenLost(int width, int height, const Rect& workArea) {
    return width < workArea.width + 2 * kFullScreenMargin ||
           height < workArea.height + 2 * kFullScreenMargin;
}

bool ColumnWidthAccepted(double width) {
    return width > kColumnMinExclusive && width < kColumnMaxExclusive;
}

ButtonRow MessageButtonRow(int buttons, double panelWidth) {
    ButtonRow row;
    if (buttons <= 0) return row;
    row.width = (panelWidth - (5.0 * buttons + 5.0)) * 30.0 / 100.0;
    const double first = (panelWidth - (buttons * row.width + 5.0 * (buttons - 1))) / 2.0;
    for (int i = 0; i < buttons; ++i)
        row.x.push_back(first + i * (row.width + 5.0));
    return row;
}

Rect WaitLarge(const Rect& main) {
    return {main.left + (main.width - 150) / 2, main.top + (main.height - 150) / 2, 150, 150};
}

Rect WaitCorner(const Rect& main) {
    return {main.left + main.width - 50 - 7, main.top + 27, 50, 50};
}

std::string InstanceServerName(const std::string& user, const std::filesystem::path& workDir) {
    // Local socket names are short on some systems: a hash of the folder keeps it short.
    const std::size_t folder =
        std::hash<std::string>{}(std::filesystem::absolute(workDir).lexically_normal().string());
    std::string safeUser;
    for (const char c : user)
        safeUser += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016zx", folder);
    return "bifuel-studio-" + safeUser + "-" + hex;
}

} // namespace bifuel::ui

#pragma once

// What the files of the main window share; only they include it.

#include "Global_Window.h"

#include <QColor>

namespace bifuel::ui {

// The indicator column and the pages beside it, in layout units.
inline constexpr double kColumnTop = 25;
inline constexpr double kColumnHeight = 500;
inline constexpr double kCornerRadius = 10;

QColor entryColour(const Context& ctx, int entry);

// The Flip effect's picture of the content, hidden until a Flip runs.
QWidget* MakeFlipOverlay(TForm_3D_GEN* main);

} // namespace bifuel::ui

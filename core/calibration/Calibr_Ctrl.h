#pragma once

#include "calibration/Calibr_Unit.h"

#include <cstdint>

namespace bifuel {

class Context;

inline constexpr int kKeyRepeatMs = 300; // Timer_CLB_3D_Btn
inline constexpr std::uint8_t kRepeatFactorMax = 20;
inline constexpr std::int32_t kKeyStepUs = 50;

enum class DiagramMouseButton { Left, Right, Middle };

// Modifier keys and the mouse buttons held during an event.
struct DiagramShift {
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
    bool left = false;
    bool right = false;
    bool middle = false;
};

// Keys of the Graph page; the digits stand for the main keyboard and the numeric pad alike.
enum class DiagramKey {
    Escape,
    Left,
    Right,
    Up,
    Down,
    Digit0,
    Digit1,
    Digit2,
    Digit3,
    Digit4,
    Digit5,
    Digit6,
    Digit7,
    Digit8,
    Other,
};

// ---- Editing --------------------------------------------------------------------------

// Circle n (1..9). Left: select and arm it, unless it is a shown idle-run point. Right on
// 2..8: toggle it as the fixed point. Either way the committed copy takes the points.
void SelectPoint(Context& ctx, int n, DiagramMouseButton button);
// Circle n (1..9) is an idle-run point shown as such: it cannot be taken.
bool IsShownIdlePoint(const Context& ctx, int n);
// Guide lines away; the left button also ends the selection.
void Deselect(Context& ctx, DiagramMouseButton button);

// Requested position of the selected point, microseconds, through the editing rules.
// Ends with the debounced send unless a drag runs.
void MovePoint(Context& ctx, std::int32_t petrol, std::int32_t gas);
// Stretches the gas times of points from..to about point `pivot` so that point `anchor`
// would get `target`. Points that would leave 0..Gas_Axis_Max keep their value.
void RescaleGas(DiagramModel& d, std::int32_t target, int pivot, int anchor, int from, int to);
// Moves the end point up the right edge and along the top edge, stretching the points
// after the pivot. Commits or rolls back what it changed.
void SlideEndPoint(DiagramModel& d, std::int32_t petrol, int pivot, int anchor, int from, int to);
// 50 us steps of the selected point (more while a key repeats); the end point keeps to the
// edges and turns the corner.
void KeyStep(Context& ctx, DiagramKey key);
// Timer_CLB_3D_Btn: the key has not repeated in time.
void OnKeyRepeatTimer(Context& ctx);

// Mouse on point circle n (1..9); x, y inside the circle.
void Circle_CLB_PointMouseDown(Context& ctx, int n, DiagramMouseButton button,
                               const DiagramShift& shift, double x, double y);
void Circle_CLB_PointMouseMove(Context& ctx, int n, const DiagramShift& shift, double x, double y);
void Circle_CLB_PointMouseUp(Context& ctx, int n, DiagramMouseButton button,
                             const DiagramShift& shift, double x, double y);
// Mouse on the diagram image; x, y inside it.
void Image_CLB_DiagramMouseDown(Context& ctx, DiagramMouseButton button, const DiagramShift& shift,
                                double x, double y);
void Image_CLB_DiagramMouseMove(Context& ctx, const DiagramShift& shift, double x, double y);
void Image_CLB_DiagramMouseUp(Context& ctx, DiagramMouseButton button, const DiagramShift& shift,
                              double x, double y);
// A key while the Graph page is shown and no text box has the focus.
void DiagramKeyDown(Context& ctx, DiagramKey key);

// The Graph page's "Idle run points" box: shows the idle-run points in their colour and
// keeps them from being taken. A selected point that becomes one is let go.
void HudCheckBox_CLB_Idle_RunChange(Context& ctx, bool checked);

// ---- MAP points and "To count" ----------------------------------------------------------

// Manifold scale, MAP buttons and the vacuum point follow Save_Map; only while connected.
void UpdateMapControls(Context& ctx);
void HudButton_CLB_MAP_StartClick(Context& ctx);
void HudButton_CLB_MAP_StopClick(Context& ctx);
void HudButton_CLB_MAP_Del_GasClick(Context& ctx);
void HudButton_CLB_MAP_Del_PetrolClick(Context& ctx);
void HudButton_CLB_MAP_To_CountClick(Context& ctx);

// Collects the corrections the MAP pairs ask for and opens the prompt.
void ToCount(Context& ctx);
// The prompt's buttons: OK or Yes, and No.
void PromptButton1Click(Context& ctx);
void PromptButton2Click(Context& ctx);

} // namespace bifuel

#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace bifuel {

class Context;
struct Configuration_Class;

inline constexpr int kDiagramPoints = 9;
inline constexpr int kHistorySize = 20;
inline constexpr int kMapPointsMax = 32;

using DiagramTimes = std::array<std::int32_t, kDiagramPoints>;

// Petrol times of the default diagram, milliseconds.
inline constexpr std::array<std::int32_t, kDiagramPoints> kDefaultPetrolMs{0,  2,  4,  6, 9,
                                                                           12, 16, 20, 25};

// One stored diagram: nine petrol times, then nine gas times.
struct DiagramEntry {
    DiagramTimes Petrol{};
    DiagramTimes Gas{};
    bool operator==(const DiagramEntry&) const = default;
};

// The nine-point petrol-to-gas diagram and what editing it needs. Times in microseconds.
struct DiagramModel {
    DiagramTimes Petrol_Point{};
    DiagramTimes Gas_Point{};
    DiagramTimes Committed_Petrol{};
    DiagramTimes Committed_Gas{};
    std::array<double, kDiagramPoints> Segment_Slope{1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
    std::int32_t Gas_Axis_Max = 32000;
    std::int32_t Petrol_Axis_Max = 25000;
    bool End_On_Petrol_Max = true;
    std::uint8_t Idle_Point = 2;
    // The ECU's diagram bytes of the last read and the idle point they gave (none before a
    // read): points that are still these go back as these bytes.
    std::vector<std::uint8_t> Read_Bytes;
    std::uint8_t Read_Idle = 2;
    std::int32_t Selected_Point = -1;
    std::uint8_t Fixed_Point = 0;
    bool Edit_Armed = false;

    // Step back / Step forward: entries 1..History_Count live at [0..History_Count-1].
    std::array<DiagramEntry, kHistorySize> Diagram_History{};
    std::uint8_t History_Count = 0;
    std::uint8_t History_Position = 0;

    // Mouse and keyboard editing.
    bool Dragging = false;
    bool Moved = false;
    double Grab_X = 0; // where the pointer took the circle, inside it
    double Grab_Y = 0;
    std::uint8_t Repeat_Factor = 1; // arrow-key acceleration, 1..20
};

// The MAP points the ECU records per manifold-pressure band, in 10-microsecond units, and
// the work of "To count" over them.
struct MapPoints {
    std::uint8_t MAP_Point_Count = kMapPointsMax;
    std::array<std::int32_t, kMapPointsMax> MAP_Gas{};
    std::array<std::int32_t, kMapPointsMax> MAP_Petrol{};

    std::array<std::int32_t, kDiagramPoints> Correction_Sum{}; // microseconds
    std::array<std::uint8_t, kDiagramPoints> Correction_Hits{};
    DiagramTimes Proposed_Gas{}; // all 0: no proposal
    std::array<double, kDiagramPoints> Slope_Work{};
    std::uint8_t Prompt_Step = 0; // Yes answers in the current dialogue
};

// The properties an edited diagram must keep before it is sent.
struct DiagramHealth {
    bool gas = false;    // every gas time above 0; points 0..7 below the ceiling, 8 at most on it
    bool petrol = false; // rising strictly from 0 or more to the right edge at most
    bool edge = false;   // the end lies on the right edge or on the ceiling
    bool sound() const { return gas && petrol && edge; }
};

DiagramHealth CheckDiagram(const DiagramTimes& petrol, const DiagramTimes& gas,
                           std::int32_t petrolAxisMax, std::int32_t gasAxisMax);
DiagramHealth CheckDiagram(const DiagramModel& d);
// Whether `next` lost a property that `now` has.
bool WorseThan(const DiagramHealth& next, const DiagramHealth& now);

// The default diagram for an injector type and gas: axis limits, idle point, points.
// Leaves the committed copy, End_On_Petrol_Max and the history alone.
void ResetDiagram(DiagramModel& d, const Configuration_Class& cfg);
void ResetDiagram(Context& ctx);

// End_On_Petrol_Max as the points say. Every writer of the points other than the editing
// rules calls it, or the next drag of the first or the last point would start from the
// edge of the diagram that was replaced.
void TakeEndEdgeFromPoints(DiagramModel& d);

// Accepts the points into the committed copy when their gas times are in range, otherwise
// puts the committed copy back. Petrol times are the editing rules' business.
void CommitOrRollback(DiagramModel& d);

// Gain of the segment ending at each point; equal neighbouring petrol times give 1.0.
void ComputeSlopes(DiagramModel& d);

// The current points as the newest history entry; a full history drops its oldest.
void PushHistory(DiagramModel& d);
// Turn the history ring one step and send its newest entry; only while connected and while
// there is somewhere to go.
void HistoryBack(Context& ctx);
void HistoryForward(Context& ctx);
bool CanStepBack(const DiagramModel& d);
bool CanStepForward(const DiagramModel& d);

// The end of a user edit: a history entry now, the write once the user pauses. An edit
// that changed nothing, or lost a property the newest history entry has, is neither kept
// nor sent (the latter puts the points back to that entry).
void SendDiagramAfterEdit(Context& ctx);

// After the ECU's diagram has been decoded into the points.
void AfterDiagramRead(Context& ctx);

} // namespace bifuel

#pragma once

#include <array>
#include <cstdint>

namespace bifuel {

inline constexpr int kDiagramPoints = 9;
inline constexpr int kHistorySize = 20;
inline constexpr int kMapPointsMax = 32;

// The nine-point petrol-to-gas diagram and what editing it needs. Times in microseconds.
struct DiagramModel {
    std::array<std::int32_t, kDiagramPoints> Petrol_Point{};
    std::array<std::int32_t, kDiagramPoints> Gas_Point{};
    std::array<std::int32_t, kDiagramPoints> Committed_Petrol{};
    std::array<std::int32_t, kDiagramPoints> Committed_Gas{};
    std::array<double, kDiagramPoints> Segment_Slope{1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
    std::int32_t Gas_Axis_Max = 32000;
    std::int32_t Petrol_Axis_Max = 25000;
    bool End_On_Petrol_Max = true;
    std::uint8_t Idle_Point = 2;
    std::int32_t Selected_Point = -1;
    std::uint8_t Fixed_Point = 0;
    bool Edit_Armed = false;
};

// The MAP points the ECU records per manifold-pressure band, in 10-microsecond units.
struct MapPoints {
    std::uint8_t MAP_Point_Count = kMapPointsMax;
    std::array<std::int32_t, kMapPointsMax> MAP_Gas{};
    std::array<std::int32_t, kMapPointsMax> MAP_Petrol{};
};

// Gain of the segment ending at each point; equal neighbouring petrol times give 1.0.
void ComputeSlopes(DiagramModel& d);

} // namespace bifuel

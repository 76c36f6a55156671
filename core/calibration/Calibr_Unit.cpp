#include "calibration/Calibr_Unit.h"

#include <cstdlib>

namespace bifuel {

void ComputeSlopes(DiagramModel& d) {
    d.Segment_Slope[0] = 1.0;
    for (int k = 1; k < kDiagramPoints; ++k) {
        const auto i = static_cast<std::size_t>(k);
        const std::int32_t dx = d.Petrol_Point[i] - d.Petrol_Point[i - 1];
        d.Segment_Slope[i] =
            dx == 0 ? 1.0
                    : std::abs(static_cast<double>(d.Gas_Point[i]) - d.Gas_Point[i - 1]) / dx;
    }
}

} // namespace bifuel

#pragma once

#include "link/LinkHarness.h"

#include "rpm_map/MapRPM_Unit.h"
#include "rpm_map/MapRPM_View.h"

#include <cstdio>
#include <set>
#include <utility>

namespace bifuel::test {

using Cells = std::set<std::pair<int, int>>;

// "1.23" for 123 hundredths, written without floating point.
inline std::string Hundredths(int v) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d", v / 100, v % 100);
    return text;
}

// The default map as the ECU receives it: counts, column periods (0 rpm as FF FF), row
// headers in tenths of a ms, then 96 factors of 1.00.
inline Bytes DefaultMapStream() {
    Bytes s{0x08, 0x0C, 0xFF, 0xFF, 0xEA, 0x60, 0x75, 0x30, 0x4E, 0x20,
            0x3A, 0x98, 0x2E, 0xE0, 0x27, 0x10, 0x1D, 0x4C, 0x00, 0x0A,
            0x14, 0x1E, 0x28, 0x32, 0x46, 0x5A, 0x78, 0x96, 0xB4, 0xDC};
    s.insert(s.end(), 96, 0x80);
    return s;
}

// A context without an ECU, its map reset to the defaults.
class MapFixture : public ::testing::Test {
  protected:
    MapFixture() { ResetMap(ctx); }

    std::string& text(int c, int r) { return ctx.rpmMap.Map_Text[c][r]; }
    std::uint8_t mark(int c, int r) const { return ctx.rpmMap.Map_Mark[c][r]; }
    Cells marked(std::uint8_t which) const {
        Cells out;
        for (int c = 0; c < kMapGridCols; ++c) {
            for (int r = 0; r < kMapGridRows; ++r) {
                if (mark(c, r) == which) out.insert({c, r});
            }
        }
        return out;
    }
    static Cells rectangle(int c0, int r0, int c1, int r1) {
        Cells out;
        for (int c = c0; c <= c1; ++c) {
            for (int r = r0; r <= r1; ++r)
                out.insert({c, r});
        }
        return out;
    }
    void live(std::int32_t rpm, std::int32_t petrolUs, std::uint8_t mode = kModePetrol) {
        ctx.live.Live_RPM = rpm;
        ctx.live.Live_Petrol_Avg = petrolUs;
        ctx.live.Work_Mode = mode;
        UpdateLiveCell(ctx);
    }
    const std::string& colour(Colour c) const { return ctx.colours.ColourOf(c); }

    TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host(), work.paths(false)};
};

} // namespace bifuel::test

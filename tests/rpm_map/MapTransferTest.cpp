#include "MapFixture.h"

namespace bifuel::test {
namespace {

constexpr std::uint8_t kWriteMapSize = 0x2E;
constexpr std::uint8_t kWriteMapChunk = 0x36;

// The ECU's map differs from the defaults: column 4 at 1600 rpm, row 6 at 5.5 ms and
// cell (3, 5) at 1.25.
sim::EcuState customMapEcu() {
    sim::EcuState s = sim::SimEcu::defaultState();
    s.rpmMap = DefaultMapStream();
    s.rpmMap[2 + 2 * 3] = 0x49; // 30000000 / 0x493E = 1600
    s.rpmMap[2 + 2 * 3 + 1] = 0x3E;
    s.rpmMap[2 + 16 + 5] = 55;
    s.rpmMap[2 + 16 + 12 + 2 * 12 + 4] = 0xA0; // 160 / 1.28 = 125
    // Bytes that another byte decodes to the same value: 0x6E and 0x6D both give 0.85, and
    // periods 15002 and 15007 both give 1999 rpm. They go back as the ECU has them.
    s.rpmMap[2 + 16 + 12 + 4 * 12 + 6] = 0x6E;
    s.rpmMap[2 + 2 * 4] = 0x3A;
    s.rpmMap[2 + 2 * 4 + 1] = 0x9A;
    return s;
}

class MapTransfer : public LinkHarness {
  protected:
    MapTransfer() : LinkHarness(customMapEcu()) {}

    const std::string& text(int c, int r) const { return ctx.rpmMap.Map_Text[c][r]; }

    // Data bytes of the map chunks written since request number `from`.
    std::vector<Bytes> chunksSince(std::size_t from) const {
        std::vector<Bytes> out;
        const auto req = requests();
        for (std::size_t i = from; i < req.size(); ++i) {
            const Bytes& b = req[i].bytes;
            if (b.size() > 3 && b[1] == kWriteMapChunk)
                out.emplace_back(b.begin() + 2, b.end() - 1);
        }
        return out;
    }
};

TEST_F(MapTransfer, ConnectionReadsTheEcuMapAndLiveRepliesFollowTheEngine) {
    connect();
    EXPECT_EQ(text(4, 0), "1600");
    EXPECT_EQ(text(0, 6), "5.5");
    EXPECT_EQ(text(3, 5), "1.25");
    EXPECT_EQ(ctx.rpmMap.Map_Mark[3][5], kMarkChanged);
    EXPECT_EQ(ctx.rpmMap.Map_Mark[3][4], kMarkPlain);
    EXPECT_EQ(EncodeMapStream(ctx), ecu.state().rpmMap);

    ASSERT_TRUE(runRequests(3)); // a live reply among them
    ASSERT_EQ(ctx.live.Live_RPM, 800);
    ASSERT_EQ(ctx.live.Live_Petrol_Avg, 2800);
    EXPECT_EQ(ctx.rpmMap.Live_Cell, (MapCell{2, 3}));
    EXPECT_TRUE(ctx.mapView.Cells[2][3].frameVisible);
}

TEST_F(MapTransfer, AnEditedFactorReachesTheEcuOneTransmitDelayAfterTheEdit) {
    connect();
    MapCellMouseDown(ctx, 3, 5, MapMouseButton::Left);
    MapCellMouseUp(ctx, 3, 5);
    MapKeyDown(ctx, MapKey::Up, false);
    ASSERT_EQ(text(3, 5), "1.26");
    const Bytes expected = EncodeMapStream(ctx);
    ASSERT_EQ(expected[2 + 16 + 12 + 2 * 12 + 4], FactorToByte(126));
    const std::size_t from = requests().size();

    clock.advance(ctx.settings.CFG_Transmit_Delay - 1);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
    EXPECT_TRUE(chunksSince(from).empty());
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 2000));
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running; }, 5000));
    EXPECT_EQ(ecu.state().rpmMap, expected);
    Bytes onlyTheEdit = customMapEcu().rpmMap;
    onlyTheEdit[2 + 16 + 12 + 2 * 12 + 4] = FactorToByte(126);
    EXPECT_EQ(ecu.state().rpmMap, onlyTheEdit);
    const auto req = requests();
    const auto size =
        std::find_if(req.begin() + static_cast<std::ptrdiff_t>(from), req.end(),
                     [](const sim::WireWrite& w) { return w.bytes[1] == kWriteMapSize; });
    ASSERT_NE(size, req.end());
    EXPECT_EQ(size->bytes, withChecksum({0x19, kWriteMapSize, 8, 12}));
    EXPECT_EQ(chunksSince(from).size(), 2u);
    ASSERT_TRUE(clock.runUntil([&] { return polling(); }, 5000));
}

TEST_F(MapTransfer, DefaultButtonWritesTheDefaultStreamIn64And62ByteChunks) {
    connect();
    const std::size_t from = requests().size();
    HudButton_3D_MapRPM_DefaultClick(ctx);
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 2000));
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running; }, 5000));
    const Bytes stream = DefaultMapStream();
    EXPECT_EQ(ecu.state().rpmMap, stream);
    const auto chunks = chunksSince(from);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], Bytes(stream.begin(), stream.begin() + 64));
    EXPECT_EQ(chunks[1], Bytes(stream.begin() + 64, stream.end()));
}

} // namespace
} // namespace bifuel::test

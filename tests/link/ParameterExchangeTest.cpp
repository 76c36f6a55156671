#include "LinkHarness.h"

#include "link/Receiver_Unit.h"

namespace bifuel::test {
namespace {

class ParameterExchange : public LinkHarness {
  protected:
    ParameterExchange() : LinkHarness(sim::SimEcu::defaultState(), true) {}

    std::map<std::uint8_t, std::uint16_t> writeListValues() const {
        std::map<std::uint8_t, std::uint16_t> out;
        for (std::uint8_t code : ParameterWriteList())
            out[code] = ecu.state().params.at(code);
        return out;
    }
    void writeParameters() {
        ctx.link.Pending_Request = Request::WriteConfig;
        ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 2000));
        ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running; }, 5000));
    }
};

TEST_F(ParameterExchange, ConnectionFillsRecordMapListsAndDiagramFromTheEcu) {
    connect();
    const Configuration_Class& c = ctx.config;
    EXPECT_EQ(c.Press_Scale, 1315);
    EXPECT_EQ(c.PG_RPM, 600);
    EXPECT_EQ(c.PG_Time, 20);
    EXPECT_TRUE(c.LPG_on);
    EXPECT_EQ(c.RPM_PreScaler, "1:5");
    EXPECT_EQ(c.Level_Type, "0 - 90 Om");
    EXPECT_EQ(c.Level1, 55);
    EXPECT_EQ(c.Level5, 248);
    EXPECT_EQ(c.ACB_Corr_93, 50);
    EXPECT_EQ(c.ACB_Value_98, 1400);
    EXPECT_EQ(c.CFG_Name, "CAR01");
    EXPECT_EQ(ctx.settings.CFG_File_Name, "CAR01");
    const auto& s = ecu.state();
    for (std::size_t i = 0; i < kDiagramPoints; ++i) {
        EXPECT_EQ(ctx.diagram.Gas_Point[i], s.diagram[i].gas) << i;
        EXPECT_EQ(ctx.diagram.Petrol_Point[i], s.diagram[i].petrol & 0x7FFF) << i;
    }
    EXPECT_EQ(ctx.diagram.Idle_Point, 2);
    for (std::size_t k = 1; k < s.mapGas.size(); ++k) {
        EXPECT_EQ(ctx.mapPoints.MAP_Gas[k], s.mapGas[k] * 128 / 10) << k;
        EXPECT_EQ(ctx.mapPoints.MAP_Petrol[k], s.mapPetrol[k] * 128 / 10) << k;
    }
}

TEST_F(ParameterExchange, UneditedWriteSendsBackExactlyWhatTheEcuHolds) {
    connect();
    const auto before = writeListValues();
    writeParameters();
    EXPECT_EQ(writeListValues(), before);
}

TEST_F(ParameterExchange, UneditedValuesGoBackAsTheEcuHeldThemAndEditedOnesAsTheNearestCode) {
    // A temperature code between two table entries, with bits above its ten: unedited it
    // goes back as it came; a set 0x9F bit 3 is never written back.
    ecu.state().params[0x41] = 0x0724;
    ecu.state().params[0x9F] = 0x4A00;
    connect();
    const std::int32_t degrees = ctx.config.PG_Temper;
    writeParameters();
    EXPECT_EQ(ecu.state().params.at(0x9F), 0x4200);
    EXPECT_EQ(ecu.state().params.at(0x41), 0x0724);
    // Edited, it goes as the table's code for the new whole degree.
    ctx.config.PG_Temper = degrees + 5;
    writeParameters();
    const std::uint16_t temp = ecu.state().params.at(0x41);
    TemperatureTable table(ShippedTable());
    EXPECT_EQ(RawToTemperature(table, temp >> 8, temp & 0xFF) / 10, degrees + 5);
}

TEST_F(ParameterExchange, EcuWithoutACorrectionGetsTheDefaultAfterTheTransmitDelay) {
    ecu.state().params[0x93] = 0x0500; // "no value"
    connect();
    EXPECT_EQ(ctx.config.ACB_Corr_93, 50);
    const auto dataLoaded = clock.nowUs();
    ASSERT_TRUE(clock.runUntil([&] { return ecu.state().params.at(0x93) != 0x0500; }, 5000));
    EXPECT_EQ(ecu.state().params.at(0x93) >> 8, 0x40);
    // Scheduled when the parameters were decoded, before the rest of the connection.
    EXPECT_LT(clock.nowUs() - dataLoaded, 1'500'000);
}

TEST_F(ParameterExchange, IdlePointOneIsWrittenWithTheFlagOnPointsOneAndTwoAndReadsBackAsTwo) {
    connect();
    ctx.diagram.Idle_Point = 1;
    ctx.link.Pending_Request = Request::WriteDiagram;
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 2000));
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running; }, 5000));
    const auto& d = ecu.state().diagram;
    for (std::size_t i = 0; i < kDiagramPoints; ++i) {
        EXPECT_EQ((d[i].petrol & 0x8000) != 0, i == 1 || i == 2) << i;
        EXPECT_EQ(d[i].slope,
                  static_cast<std::uint16_t>(TruncToInt(ctx.diagram.Segment_Slope[i] * 128)));
    }
    ctx.link.Pending_Request = Request::Reconnect;
    ASSERT_TRUE(clock.runUntil([&] { return !polling(); }, 2000));
    ASSERT_TRUE(clock.runUntil([&] { return polling(); }, 10000));
    EXPECT_EQ(ctx.diagram.Idle_Point, 2);
}

TEST_F(ParameterExchange, NameRepliesWithoutAUsableName) {
    connect();
    struct Case {
        std::array<std::uint8_t, 8> bytes;
        const char* name;
    };
    const Case cases[] = {
        {{0xFF, 'A', 'B', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, ""},
        {{0x00, 'A', 'B', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, ""},
        {{'A', 'B', 0x00, 'C', 0xFF, 0xFF, 0xFF, 0xFF}, "AB"},
        // Names no file can carry get safe ones; the ECU keeps its own bytes.
        {{'.', '.', '/', 'e', 't', 'c', 0xFF, 0xFF}, "___etc"},
        {{'a', '\\', 'b', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "a_b"},
        {{'a', 0x07, 'b', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "a_b"},
        {{'C', 'O', 'N', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "CO_"},
        {{'A', 'B', ' ', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "AB_"},
        {{'C', 'A', 'R', '-', '0', '1', '_', 'X'}, "CAR-01_X"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ctx.settings.CFG_File_Name = "old";
        ctx.settings.CFG_Full_File_Name = "old";
        std::copy(c.bytes.begin(), c.bytes.end(), ctx.link.RX_Frame.begin() + 2);
        OnNameReply(ctx, std::span(ctx.link.RX_Frame.data(), 11));
        EXPECT_EQ(ctx.config.CFG_Name, c.name);
        EXPECT_EQ(ctx.settings.CFG_File_Name, c.name);
        EXPECT_EQ(EncodeName(ctx.config), c.bytes) << "a write sends other name bytes";
        if (*c.name == 0) {
            EXPECT_TRUE(ctx.settings.CFG_Full_File_Name.empty());
        } else {
            EXPECT_EQ(ctx.settings.CFG_Full_File_Name,
                      (ctx.paths.Config_Dir / (std::string(c.name) + ".cfg")).string());
        }
    }
}

TEST_F(ParameterExchange, GasMapReplyExample) {
    ctx.link.Reply_Length = 35;
    ctx.link.RX_Frame[2] = 0xC5;
    ctx.link.RX_Frame[3] = 0x10;
    DecodeMapGas(ctx, ReceivedReply(ctx.link));
    EXPECT_EQ(ctx.mapPoints.MAP_Gas[0], 64);
    EXPECT_EQ(ctx.mapPoints.MAP_Gas[1], 204);
    const auto petrolBefore = ctx.mapPoints.MAP_Petrol;
    ctx.link.Reply_Length = 3; // nothing to store
    DecodeMapPetrol(ctx, ReceivedReply(ctx.link));
    EXPECT_EQ(ctx.mapPoints.MAP_Petrol, petrolBefore);
}

// Replies shorter than a decoder needs, over a frame buffer still full of an older reply:
// nothing of that older reply is decoded.
TEST_F(ParameterExchange, ShortRepliesDecodeNothingBeyondWhatCame) {
    auto& rx = ctx.link.RX_Frame;
    rx.fill(0x33);

    // MAP lists: the points that came, the places after them untouched.
    ctx.mapPoints.MAP_Gas.fill(-1);
    DecodeMapGas(ctx, std::span(rx.data(), 5)); // two points
    EXPECT_EQ(ctx.mapPoints.MAP_Gas[1], 0x33 * 128 / 10);
    EXPECT_EQ(ctx.mapPoints.MAP_Gas[2], -1);

    // The diagram: all nine points or none.
    const DiagramModel diagramBefore = ctx.diagram;
    DecodeDiagram(ctx, std::span(rx.data(), kDiagramDataBytes + 2u));
    EXPECT_EQ(ctx.diagram.Gas_Point, diagramBefore.Gas_Point);
    EXPECT_EQ(ctx.diagram.Petrol_Point, diagramBefore.Petrol_Point);
    DecodeDiagram(ctx, std::span(rx.data(), kDiagramDataBytes + 3u));
    EXPECT_EQ(ctx.diagram.Gas_Point[8], 0x3333);

    // The name: all eight bytes or nothing.
    ctx.config.CFG_Name = "KEPT";
    ctx.settings.CFG_File_Name = "KEPT";
    OnNameReply(ctx, std::span(rx.data(), kNameDataBytes + 2u));
    EXPECT_EQ(ctx.config.CFG_Name, "KEPT");
    EXPECT_EQ(ctx.settings.CFG_File_Name, "KEPT");
    OnNameReply(ctx, std::span(rx.data(), kNameDataBytes + 3u));
    EXPECT_EQ(ctx.config.CFG_Name, "33333333");
}

} // namespace
} // namespace bifuel::test

#include "LinkHarness.h"

#include "link/Check_Versions.h"

namespace bifuel::test {
namespace {

constexpr std::int64_t kByteUs = sim::MemoryLine::kByteTimeUs9600;

class Connection : public LinkHarness {};

TEST_F(Connection, EcuOnCode25IsFoundOnTheSecondProbeWithExactBytes) {
    line.host().open();
    ASSERT_TRUE(runRequests(3, 5000));
    const auto req = requests();
    // The code-26 probe, unanswered; 550 ms later the code-25 probe.
    EXPECT_EQ(req[0].bytes, withChecksum({26, 0x21, 0x21, 0x21}));
    EXPECT_EQ(req[0].timeUs, 60'000);
    EXPECT_EQ(req[1].bytes, (Bytes{0x19, 0x21, 0x21, 0x21, 0x7C}));
    EXPECT_EQ(req[1].timeUs - req[0].timeUs, 550'000);
    const auto rep = replies();
    ASSERT_FALSE(rep.empty());
    EXPECT_EQ(rep[0].bytes, (Bytes{0x19, 0x21, 0x2A, 0x64}));
    EXPECT_TRUE(ctx.link.ECU_Connected);
    // The identification read leaves Reply_Delay after the last byte of the probe reply.
    EXPECT_EQ(req[2].bytes, (Bytes{0x19, 0x30, 0x30, 0x30, 0xA9}));
    EXPECT_EQ(req[2].timeUs, rep[0].timeUs + 4 * kByteUs + 60'000);
    EXPECT_EQ(ctx.link.Reply_Length, 45);
}

TEST_F(Connection, ConnectionProgramReadsEverythingThenPolls) {
    connect();
    ASSERT_TRUE(runRequests(6));
    const std::vector<std::uint8_t> expected{0x21, 0x21, 0x30, 0x2C, 0x24, 0x27,
                                             0x28, 0x25, 0x2F, 0x37, 0x37,        // connection
                                             0x23, 0x27, 0x28, 0x23, 0x27, 0x28}; // polling
    auto sent = commandsSent();
    sent.resize(expected.size());
    EXPECT_EQ(sent, expected);
    std::vector<std::string> link;
    std::copy_if(statusLog.begin(), statusLog.end(), std::back_inserter(link),
                 [](const std::string& s) {
                     return s.ends_with("Receiv data") || s.ends_with("Data loaded");
                 });
    EXPECT_EQ(link, (std::vector<std::string>{"+Receiv data", "-Receiv data", "!Data loaded"}));

    // Every request after the first answered probe leaves Reply_Delay after the last byte
    // of the previous reply.
    const auto req = requests();
    const auto rep = replies();
    ASSERT_GE(rep.size(), req.size() - 2);
    for (std::size_t i = 2; i < req.size(); ++i) {
        const auto& reply = rep[i - 2];
        EXPECT_EQ(req[i].timeUs,
                  reply.timeUs + static_cast<std::int64_t>(reply.bytes.size()) * kByteUs + 60'000)
            << "request " << i;
    }
    // The map is read in chunks of 64 and then the rest, each asking for its length.
    EXPECT_EQ(req[9].bytes, withChecksum({0x19, 0x37, 64, 64}));
    EXPECT_EQ(req[10].bytes, withChecksum({0x19, 0x37, 60, 60}));
    EXPECT_EQ(ctx.link.Map.Read_Stream.size(), 124u);
    // The ECU holds the stream behind its two dimension bytes; a read carries no counts.
    const auto& held = ecu.state().rpmMap;
    EXPECT_EQ(ctx.link.Map.Read_Stream, Bytes(held.begin() + 2, held.end()));
    EXPECT_EQ(req[3].bytes, withChecksum({0x19, 0x2C, 0x08, 0x08}));
}

TEST_F(Connection, IdentificationFillsTheRecordAndLengths) {
    auto& s = ecu.state();
    s.model = " KestraLX";
    s.firmwareVersion = "1.60";
    s.firmwareDate = "2013.11.02";
    s.workGasMinutes = 0x012345;
    s.workPetrolMinutes = 0x000102;
    connect();
    EXPECT_EQ(ctx.config.ECU_Model, "KestraLX");
    EXPECT_EQ(ctx.config.ECU_Version, "1.60");
    EXPECT_EQ(ctx.config.ECU_Date, "2013.11.02");
    EXPECT_EQ(ctx.config.Work_Gas, 0x012345);
    EXPECT_EQ(ctx.config.Work_Petrol, 0x0102);
    EXPECT_EQ(ctx.link.Ident.Firmware_Version, 160);
    EXPECT_FALSE(ctx.link.Ident.Innovational_Capable);
    EXPECT_EQ(ctx.settings.ACB_SCR_Type, "Fast calibration");
    EXPECT_EQ(ctx.link.Ident.L2, 2 * 53);
    // No pressure sensors: the four upper panels grow to double height.
    const LinkView& v = ctx.view;
    EXPECT_EQ(v.IND_Size_Factor, 2);
    EXPECT_EQ(v.HudPanel_IND_Gas.panel.y, 100);
    EXPECT_EQ(v.HudPanel_IND_TempVap.panel.y, 300);
    EXPECT_EQ(v.HudPanel_IND_RPM.panel.height, 100);
    EXPECT_EQ(v.HudPanel_IND_RPM.data.y, 36);
    EXPECT_FALSE(v.HudPanel_IND_PressVap.panel.visible);
    EXPECT_FALSE(v.HudButton_CLB_MAP_Start.enabled);
}

TEST_F(Connection, ReadListLengthFollowsTheFirmware) {
    const std::pair<const char*, int> cases[] = {{"2.54", 98}, {"1.58", 104}, {"3.62", 106}};
    for (const auto& [version, dataBytes] : cases) {
        VirtualScheduler c;
        sim::MemoryLine l(c, sim::MemoryLine::kByteTimeUs9600);
        auto state = sim::SimEcu::defaultState();
        state.firmwareVersion = version;
        sim::SimEcu e(c, l.device(), state);
        Context x(c, l.host());
        int paramReplyLength = -1;
        const Subscription watch =
            x.events.replyAccepted.subscribe([&](std::span<const std::uint8_t> reply) {
                if (reply[1] == 0x24) paramReplyLength = static_cast<int>(reply.size());
            });
        l.host().open();
        ASSERT_TRUE(c.runUntil([&] { return paramReplyLength >= 0; }, 10000)) << version;
        EXPECT_EQ(paramReplyLength, dataBytes + 3) << version;
        EXPECT_EQ(ReadList(x.link.Ident.Firmware_Version).size() * 2, std::size_t(dataBytes));
    }
}

TEST_F(Connection, FiveSilentSecondsDropTheLinkAndProbingRestarts) {
    connect();
    EXPECT_FALSE(ctx.view.HudButton_Port_Search.visible);
    EXPECT_TRUE(ctx.view.HudLabel_DynamicIND.visible);
    ecu.faults().dropEvery = 1;
    const std::int64_t lastReply = clock.nowUs();
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.ECU_Connected; }, 10000));
    EXPECT_NEAR(static_cast<double>(clock.nowUs() - lastReply), 5'000'000.0, 200'000.0);
    EXPECT_TRUE(ctx.view.HudButton_Port_Search.visible);
    EXPECT_FALSE(ctx.view.HudLabel_DynamicIND.visible);
    EXPECT_FALSE(ctx.view.HudButton_ACB_Start.enabled);
    ASSERT_TRUE(runRequests(1));
    EXPECT_EQ(requests().back().bytes.at(1), 0x21);
    // Once the ECU answers again, the link comes back by itself.
    ecu.faults().dropEvery = 0;
    ASSERT_TRUE(clock.runUntil([&] { return polling(); }, 10000));
}

TEST_F(Connection, NewerIdentificationBlockDisablesTheWindowAndKeepsTheLayout) {
    ecu.state().identLength = 43;
    ecu.state().firmwareVersion = "1.60";
    line.host().open();
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.view.Messages.empty(); }, 5000));
    EXPECT_EQ(ctx.view.Messages[0].type, 15);
    EXPECT_EQ(ctx.view.Messages[0].text,
              "To work correctly, please install a newer version of the program\n\r"
              "The ECU reports the identification block length N = 43; this program knows 42.");
    EXPECT_FALSE(ctx.view.TForm_3D_GEN_Enabled);
    EXPECT_EQ(ctx.view.IND_Size_Factor, 1);
    EXPECT_TRUE(ctx.view.HudPanel_IND_PressVap.panel.visible);
    // The title shows which ECU it is, and nothing is read from it past its identification.
    EXPECT_EQ(ctx.config.ECU_Model, "KestraLX");
    clock.advance(10000);
    EXPECT_FALSE(ctx.link.ECU_Connected);
    for (const auto& r : requests())
        EXPECT_TRUE(r.bytes.at(1) == 0x21 || r.bytes.at(1) == 0x30);
}

// A refused ECU is told once, counts as lost, and is only probed again after the
// link-loss delay, so that another ECU plugged in meanwhile is found.
TEST_F(Connection, LengthsThatCannotFitAReplyAreRefusedAndOnlyProbedAgainLater) {
    ecu.state().identLength = 253;
    line.host().open();
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.view.Messages.empty(); }, 5000));
    EXPECT_EQ(ctx.view.Messages[0].type, 15);
    EXPECT_FALSE(ctx.link.ECU_Connected);
    clock.advance(20000);
    EXPECT_EQ(ctx.view.Messages.size(), 1u) << "told once";
    for (const auto& r : requests())
        EXPECT_NE(r.bytes.at(1), 0x30) << "READ_IDENT armed";
    // Each answered probe is refused, and the next rotation waits for the loss delay: at
    // most one refusal per five seconds.
    const auto answers = replies();
    const auto refusals =
        std::count_if(answers.begin(), answers.end(),
                      [](const sim::WireWrite& w) { return w.bytes.at(1) == 0x21; });
    EXPECT_GE(refusals, 2);
    EXPECT_LE(refusals, 5);
}

// An ECU whose reported lengths are shorter than what the decoders read would have bytes
// of older replies decoded as its values; it is refused like one whose lengths cannot fit
// a reply, with the length named, and is sent nothing more.
TEST_F(Connection, LengthsTheDecodersCannotUseAreRefusedByName) {
    const std::string newer = "To work correctly, please install a newer version of the program";
    const std::string older = "This ECU's firmware is older than this program supports; a newer "
                              "version of the program will not help";
    const struct {
        void (*set)(sim::EcuState&);
        const std::string& headline;
        const char* detail;
    } cases[] = {
        {[](sim::EcuState& s) { s.identLength = 41; }, older,
         "The ECU reports the identification block length N = 41; this program knows 42."},
        {[](sim::EcuState& s) { s.identLength = 253; }, newer,
         "The ECU reports the identification block length N = 253; this program knows 42."},
        {[](sim::EcuState& s) { s.liveLength = 10; }, older,
         "The ECU reports the live-data length L1 = 10; this program needs at least 37."},
        {[](sim::EcuState& s) { s.liveLength = 36; }, older,
         "The ECU reports the live-data length L1 = 36; this program needs at least 37."},
        {[](sim::EcuState& s) { s.paramLength = 90; }, older,
         "The ECU reports the parameter length L2 = 90; this program needs at least 92."},
        {[](sim::EcuState& s) { s.diagramLength = 48; }, older,
         "The ECU reports the diagram length L3 = 48; this program needs at least 54."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.detail);
        VirtualScheduler k;
        sim::MemoryLine l(k, sim::MemoryLine::kByteTimeUs9600);
        auto state = sim::SimEcu::defaultState();
        c.set(state);
        sim::SimEcu e(k, l.device(), state);
        Context x(k, l.host());
        x.link.Main_Shown = true;
        l.host().open();
        ASSERT_TRUE(k.runUntil([&] { return !x.view.Messages.empty(); }, 5000));
        EXPECT_EQ(x.view.Messages[0].type, 15);
        EXPECT_EQ(x.view.Messages[0].text, c.headline + "\n\r" + c.detail);
        k.advance(20000);
        EXPECT_FALSE(x.link.ECU_Connected);
        EXPECT_EQ(x.view.Messages.size(), 1u) << "told once";
        for (const auto& w : l.hostWrites()) {
            EXPECT_TRUE(w.at(1) == 0x21 || w.at(1) == 0x30)
                << "more than the identification asked for";
        }
    }
}

// The link never hands over a block shorter than its N announced; called with one, the
// decoder still reads nothing past it.
TEST_F(Connection, IdentificationBlockCutShortIsRefusedUndecoded) {
    ctx.link.RX_Frame.fill('X');
    ctx.config.ECU_Model = "before";
    DecodeIdentification(ctx, std::span(ctx.link.RX_Frame.data(), kKnownIdentLength + 2u));
    EXPECT_EQ(ctx.config.ECU_Model, "before");
    EXPECT_TRUE(ctx.link.Halted);
    ASSERT_EQ(ctx.view.Messages.size(), 1u);
    EXPECT_NE(ctx.view.Messages[0].text.find("N = 41; this program knows 42."), std::string::npos);
}

// The shortest lengths the decoders accept are enough: the parameter reply reaches the
// last decoded code, and an ECU without MAP points polls without them.
TEST_F(Connection, ShortestUsableLengthsConnectAndDecodeEveryField) {
    auto& s = ecu.state();
    s.paramLength = 92;
    s.mapPointCount = 0;
    s.mapGas.clear();
    s.mapPetrol.clear();
    s.params[0x99] = 0x4020; // 50 %, not the 70 % a missing value would give
    connect();
    for (const auto& m : ctx.view.Messages)
        EXPECT_NE(m.type, 15) << m.text;
    EXPECT_EQ(ctx.config.ACB_Corr_99, 50);
    EXPECT_EQ(ctx.mapPoints.MAP_Point_Count, 0);
    ASSERT_TRUE(runRequests(6)) << "polling stopped";
    EXPECT_TRUE(ctx.link.ECU_Connected);
}

TEST_F(Connection, ReconnectRequestRestartsTheConnectionProgram) {
    connect();
    const auto before = requests().size();
    ctx.link.Pending_Request = Request::Reconnect;
    ASSERT_TRUE(clock.runUntil([&] { return requests().size() > before + 3; }, 5000));
    const auto req = requests();
    // The next request after the yield point is a probe of the rotation, then the
    // identification once it is answered.
    std::vector<std::uint8_t> after;
    for (std::size_t i = before; i < req.size(); ++i)
        after.push_back(req[i].bytes[1]);
    const auto probe = std::find(after.begin(), after.end(), 0x21);
    ASSERT_NE(probe, after.end());
    ASSERT_TRUE(clock.runUntil([&] { return polling(); }, 10000));
}

} // namespace
} // namespace bifuel::test

namespace bifuel::test {
namespace {

// A loop-back plug returns every probe as it was sent; the wide probe's echo has the
// length and checksum of a reply. It is no ECU, and the user is told what the port does.
TEST_F(Connection, APortThatEchoesIsNoEcuAndSaysSo) {
    ecu.faults().loopback = true;
    int connections = 0;
    const Subscription counted = ctx.events.connected.subscribe([&connections] { ++connections; });
    line.host().open();
    clock.advance(8000);
    EXPECT_EQ(connections, 0) << "an echo passed as the ECU's reply";
    std::vector<std::uint8_t> codes;
    for (const auto& w : requests())
        codes.push_back(w.bytes.at(0));
    EXPECT_NE(std::find(codes.begin(), codes.end(), 26), codes.end())
        << "the wide probe was never tried";
    const std::string echoes = "+" + ctx.LangText("Error_Port_Echoes");
    EXPECT_NE(std::find(statusLog.begin(), statusLog.end(), echoes), statusLog.end());

    // Once an ECU answers, the note goes.
    ecu.faults().loopback = false;
    ASSERT_TRUE(clock.runUntil([this] { return polling(); }, 20000));
    EXPECT_EQ(connections, 1);
    EXPECT_NE(
        std::find(statusLog.begin(), statusLog.end(), "-" + ctx.LangText("Error_Port_Echoes")),
        statusLog.end());
}

} // namespace
} // namespace bifuel::test

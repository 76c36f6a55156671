#include "EcuMemory.h"
#include "LinkHarness.h"

#include "link/Link_Operations.h"
#include "link/Receiver_Unit.h"
#include "rpm_map/MapRPM_Unit.h"

#include <optional>

namespace bifuel::test {
namespace {

class WriteProgram : public LinkHarness {
  protected:
    WriteProgram() {
        ended = ctx.events.operationEnded.subscribe(
            [this](const OperationEnd& e) { ends.push_back(e); });
    }

    // Commands sent from request `from` on.
    std::vector<std::uint8_t> commandsFrom(std::size_t from) const {
        const auto all = commandsSent();
        return {all.begin() + static_cast<std::ptrdiff_t>(from), all.end()};
    }

    std::vector<OperationEnd> ends;
    Subscription ended;
};

TEST_F(WriteProgram, FullWriteSendsNameParametersDiagramAndMapThenPolls) {
    connect();
    EXPECT_EQ(ctx.config.CFG_Name, "CAR01"); // read from the ECU
    ctx.config.CFG_Name = "CAR7";
    ctx.config.Level2 = 777;
    const std::vector<std::uint8_t> mapRead = ctx.link.Map.Read_Stream;
    const auto start = requests().size();
    const OperationId write = WriteEverything(ctx);
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 2000));
    EXPECT_EQ(ctx.view.TForm_3D_Wait, WaitForm::Large);
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running; }, 10000));
    ASSERT_TRUE(runRequests(1));

    const std::vector<std::uint8_t> expected{0x31, 0x2D, 0x31, 0x32, 0x31, 0x33,
                                             0x2E, 0x31, 0x36, 0x31, 0x36, 0x23};
    auto cmds = commandsFrom(start);
    // The write starts at the yield point, after the polling requests in flight.
    const auto first = std::find(cmds.begin(), cmds.end(), 0x31);
    ASSERT_NE(first, cmds.end());
    EXPECT_EQ(std::vector<std::uint8_t>(
                  first, first + static_cast<std::ptrdiff_t>(
                                     std::min(expected.size(), std::size_t(cmds.end() - first)))),
              expected);

    const auto req = requests();
    const std::size_t at = start + static_cast<std::size_t>(first - cmds.begin());
    EXPECT_EQ(req[at].bytes, withChecksum({0x19, 0x31, 0x31, 11}));
    EXPECT_EQ(req[at + 1].bytes,
              withChecksum({0x19, 0x2D, 'C', 'A', 'R', '7', 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(req[at + 2].bytes, (Bytes{0x19, 0x31, 0x31, 0x45, 0xC0}));
    const Bytes& params = req[at + 3].bytes;
    ASSERT_EQ(params.size(), 69u);
    for (std::size_t i = 0; i < 22; ++i) {
        const std::uint8_t code = ParameterWriteList()[i];
        const auto value = EncodeParameter(ctx, code);
        EXPECT_EQ(params[2 + 3 * i], code);
        EXPECT_EQ(params[3 + 3 * i], value[0]);
        EXPECT_EQ(params[4 + 3 * i], value[1]);
    }
    EXPECT_EQ(req[at + 4].bytes, withChecksum({0x19, 0x31, 0x31, 84}));
    ASSERT_EQ(req[at + 5].bytes.size(), 84u);
    EXPECT_EQ(req[at + 6].bytes, withChecksum({0x19, 0x2E, 8, 12}));
    EXPECT_EQ(req[at + 7].bytes, withChecksum({0x19, 0x31, 0x31, 67}));
    EXPECT_EQ(req[at + 8].bytes.size(), 67u);
    EXPECT_EQ(req[at + 9].bytes, withChecksum({0x19, 0x31, 0x31, 65}));
    EXPECT_EQ(req[at + 10].bytes.size(), 65u);

    // The ECU now holds what was sent, and the map went back byte for byte.
    const auto& s = ecu.state();
    EXPECT_EQ(s.params.at(0x55), 777);
    EXPECT_EQ(s.name[3], '7');
    EXPECT_EQ(s.name[4], 0xFF);
    Bytes written{8, 12};
    written.insert(written.end(), mapRead.begin(), mapRead.end());
    EXPECT_EQ(s.rpmMap, written);
    EXPECT_EQ(ctx.view.TForm_3D_Wait, WaitForm::Corner);
    EXPECT_EQ(std::count(statusLog.begin(), statusLog.end(), "+Data transmission"), 5);
    const auto last =
        std::find_if(statusLog.rbegin(), statusLog.rend(),
                     [](const std::string& entry) { return entry.ends_with("Data transmission"); });
    EXPECT_EQ(*last, "-Data transmission");
    // The write ends once the ECU reports the data saved.
    ASSERT_TRUE(clock.runUntil([&] { return !ends.empty(); }, 5000));
    EXPECT_EQ(ends.back().id, write);
    EXPECT_EQ(ends.back().result, OperationResult::Done);
    EXPECT_EQ(ctx.view.TForm_3D_Wait, WaitForm::Hidden);
}

TEST_F(WriteProgram, TenQuickEditsMakeOneWriteAfterTheLastOne) {
    connect();
    for (int i = 0; i < 10; ++i) {
        ScheduleWrite(ctx, 2);
        clock.advance(100);
    }
    const std::int64_t lastEdit = clock.nowUs() - 100'000;
    ASSERT_TRUE(
        clock.runUntil([&] { return ctx.link.Pending_Request == Request::WriteConfig; }, 5000));
    EXPECT_EQ(clock.nowUs() - lastEdit, 1'500'000);
    clock.advance(5000);
    const auto cmds = commandsSent();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), 0x32), 1);
    EXPECT_FALSE(ctx.link.Write_Running);
}

TEST_F(WriteProgram, WritesAreNotScheduledWhileDisconnected) {
    ScheduleWrite(ctx, 3);
    EXPECT_FALSE(ctx.timers.Timer_GEN_Transmit->isRunning());
    clock.advance(5000);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
}

TEST_F(WriteProgram, ModeSwitchDuringADiagramWriteWaitsForTheWriteToEnd) {
    connect();
    ctx.link.Pending_Request = Request::WriteDiagram;
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 2000));
    ctx.link.Pending_Request = Request::ModePetrol; // the mode button in gas mode
    ASSERT_TRUE(clock.runUntil([&] { return ecu.state().lastModeByte == 0x01; }, 5000));
    const auto cmds = commandsSent();
    const auto diagram = std::find(cmds.begin(), cmds.end(), 0x33);
    const auto mode = std::find(cmds.begin(), cmds.end(), 0x22);
    ASSERT_NE(diagram, cmds.end());
    ASSERT_NE(mode, cmds.end());
    EXPECT_LT(diagram, mode);
    EXPECT_EQ(requests().back().bytes, withChecksum({0x19, 0x22, 0x00, 0x01}));
}

TEST_F(WriteProgram, OneShotRequestsSendTheirCommands) {
    struct Case {
        Request request;
        Bytes frame;
    };
    const Case cases[] = {
        {Request::ModeGas, withChecksum({0x19, 0x22, 0x00, 0xF4})}, // gas, all cylinders
        {Request::ModeAuto, withChecksum({0x19, 0x22, 0x00, 0x02})},
        {Request::ClearErrors, withChecksum({0x19, 0x26, 0x26, 0x26})},
        {Request::EraseMapGas, withChecksum({0x19, 0x29, 0x29, 0x29})},
        {Request::EraseMapPetrol, withChecksum({0x19, 0x2A, 0x2A, 0x2A})},
    };
    connect();
    ctx.link.Mode_Bits = 0xF0;
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.request));
        const OperationId op = SetPendingRequest(ctx, c.request);
        const auto before = requests().size();
        ASSERT_TRUE(clock.runUntil(
            [&] {
                const auto r = requests();
                return std::any_of(r.begin() + static_cast<std::ptrdiff_t>(before), r.end(),
                                   [&](const sim::WireWrite& w) { return w.bytes == c.frame; });
            },
            5000));
        ASSERT_TRUE(clock.runUntil([&] { return polling(); }, 5000));
        ASSERT_FALSE(ends.empty());
        EXPECT_EQ(ends.back().id, op);
        EXPECT_EQ(ends.back().result, OperationResult::Done);
    }
}

// The ECU takes a data frame and then expects short frames again, so a data frame whose
// acknowledgement was lost is announced again before it is repeated.
TEST_F(WriteProgram, ALostAcknowledgementOfADataFrameRepeatsItWithItsAnnouncement) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> dropRepliesTo; // in order, from the start of the write
        std::vector<std::uint8_t> wire;          // commands of the write up to the parameters
    };
    const Case cases[] = {
        {"the name's acknowledgement", {0x2D}, {0x31, 0x2D, 0x31, 0x2D, 0x31, 0x32}},
        {"the name's and then the new announcement's",
         {0x2D, 0x31},
         // The ECU took the lost announcement and waits for a long frame: the repeat of
         // the announcement goes unanswered until it gives up on the stalled frame.
         {0x31, 0x2D, 0x31, 0x31, 0x31, 0x2D, 0x31, 0x32}},
    };
    connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ctx.config.CFG_Name = "VAN3";
        ctx.config.Level2 = 321;
        ctx.link.Pending_Request = Request::WriteAll;
        ASSERT_TRUE(clock.runUntil([&] { return commandsSent().back() == 0x31; }, 5000));
        const std::size_t start = requests().size() - 1;
        // Each reply is dropped while its request is still on the line.
        for (const std::uint8_t command : c.dropRepliesTo) {
            const std::size_t seen = requests().size();
            ASSERT_TRUE(clock.runUntil(
                [&] { return requests().size() > seen && commandsSent().back() == command; },
                5000));
            ecu.injectOnce(sim::Fault::Drop);
        }
        ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running && polling(); }, 20000));
        auto cmds = commandsFrom(start);
        cmds.resize(c.wire.size());
        EXPECT_EQ(cmds, c.wire);
        const auto req = requests();
        EXPECT_EQ(req[start + 2].bytes, req[start].bytes) << "the same announcement";
        EXPECT_EQ(req[start + c.wire.size() - 3].bytes, req[start + 1].bytes)
            << "the same data frame";
        EXPECT_TRUE(ctx.link.ECU_Connected);
        EXPECT_EQ(ecu.state().name[2], 'N');
        EXPECT_EQ(ecu.state().name[3], '3');
        EXPECT_EQ(ecu.state().params.at(0x55), 321) << "the write went on to its end";
        ctx.link.Pending_Request = Request::None;
    }
}

// The ECU steps its map offset on even when its reply is lost, so a chunk exchange that
// has to be repeated starts the whole map transfer over, reading and writing.
TEST_F(WriteProgram, AMapChunkThatMustBeRepeatedStartsTheTransferOver) {
    // The first chunk's reply is lost, on the way in and on the way out.
    const auto dropReplyTo = [this](std::uint8_t command) {
        const auto before = requests().size();
        ASSERT_TRUE(clock.runUntil(
            [&] {
                const auto r = requests();
                return r.size() > before && r.back().bytes[1] == command;
            },
            10000));
        ecu.injectOnce(sim::Fault::Drop);
    };
    ecu.state().rpmMap[40] = 0x77; // a factor somewhere in the first chunk
    line.host().open();
    dropReplyTo(0x37);
    ASSERT_TRUE(clock.runUntil([this] { return polling(); }, 20000));
    const Bytes& ecuMap = ecu.state().rpmMap;
    EXPECT_EQ(ctx.link.Map.Read_Stream, Bytes(ecuMap.begin() + 2, ecuMap.end()));
    auto cmds = commandsSent();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), 0x2F), 2) << "the size read again";

    ctx.rpmMap.Map_Value[2][3] = 155; // a factor in the first chunk
    ValuesToTexts(ctx);
    const Bytes edited = EncodeMapStream(ctx);
    ASSERT_NE(edited, ecu.state().rpmMap);
    ctx.link.Pending_Request = Request::WriteMap;
    dropReplyTo(0x36);
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running && polling(); }, 20000));
    EXPECT_EQ(ecu.state().rpmMap, edited);
    cmds = commandsSent();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), 0x2E), 2) << "the size written again";
}

// The ECU keeps the saved bit up for a few live replies. A second write soon after the
// first starts while the bit of the first still shows; its own report must still close
// the wait window.
TEST_F(WriteProgram, EachWriteWaitsForItsOwnSavedReport) {
    connect();
    for (int write = 0; write < 2; ++write) {
        SCOPED_TRACE(write);
        ctx.link.Pending_Request = Request::WriteDiagram;
        ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 5000));
        ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running; }, 5000));
        EXPECT_EQ(ctx.view.TForm_3D_Wait, WaitForm::Corner);
        ASSERT_TRUE(
            clock.runUntil([&] { return ctx.view.TForm_3D_Wait == WaitForm::Hidden; }, 5000));
    }
}

TEST_F(WriteProgram, DisconnectDropsAPendingRequest) {
    connect();
    ecu.faults().dropEvery = 1;
    clock.advance(100);
    ctx.link.Pending_Request = Request::ClearErrors;
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.ECU_Connected; }, 10000));
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
}

} // namespace
} // namespace bifuel::test

namespace bifuel::test {
namespace {

// A write cut off by the cable ends with a result that says so, and leaves nothing behind
// that would hold up the requests after the reconnection.
TEST_F(WriteProgram, AWriteCutOffByALinkLossEndsAndLaterRequestsGoOut) {
    connect();
    ctx.config.Level2 = 555;
    const OperationId write = SetPendingRequest(ctx, Request::WriteConfig);
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 5000));
    line.setUnplugged(true);
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.ECU_Connected; }, 10000));
    ASSERT_FALSE(ends.empty());
    EXPECT_EQ(ends.back().id, write);
    EXPECT_EQ(ends.back().result, OperationResult::LinkLost);
    EXPECT_NE(ends.back().reason.find("may hold part of it"), std::string::npos)
        << ends.back().reason;
    EXPECT_FALSE(ctx.link.Write_Running);
    EXPECT_EQ(ctx.view.TForm_3D_Wait, WaitForm::Hidden);
    ASSERT_FALSE(ctx.view.Messages.empty());
    EXPECT_EQ(ctx.view.Messages.back().type, kMessageWriteCutOff);

    line.setUnplugged(false);
    ASSERT_TRUE(clock.runUntil([&] { return polling(); }, 20000));
    EXPECT_NE(ctx.config.Level2, 555) << "the page shows what the ECU holds";
    const OperationId mode = SwitchToPetrol(ctx);
    ASSERT_TRUE(clock.runUntil([&] { return !ends.empty() && ends.back().id == mode; }, 5000));
    EXPECT_EQ(ends.back().result, OperationResult::Done);
    EXPECT_EQ(ecu.state().lastModeByte, 0x01);
}

class WriteOnConfiguredEcu : public LinkHarness {
  protected:
    WriteOnConfiguredEcu() : LinkHarness(ConfiguredEcu(), true) {}
};

// A write sends the image it was checked as when it started: an edit made while its frames
// go out (here one the ECU could not even hold) neither slips into it nor goes unchecked.
TEST_F(WriteOnConfiguredEcu, AnEditWhileAWriteRunsDoesNotMixIntoIt) {
    connect();
    EcuMemory want = memoryOf(ecu.state());
    ctx.config.Level2 = 300;
    want.params[0x55] = 300;
    std::optional<OperationEnd> end;
    const OperationId id = SetPendingRequest(ctx, Request::WriteConfig);
    const Subscription watch = ctx.events.operationEnded.subscribe([&](const OperationEnd& e) {
        if (e.id == id) end = e;
    });
    ASSERT_TRUE(clock.runUntil([this] { return ctx.link.Write_Running; }, 5000));
    ctx.config.Level1 = 5000;
    ctx.config.PG_RPM = 1500;
    ASSERT_TRUE(clock.runUntil([&] { return end.has_value(); }, 20000)) << "the write never ended";
    EXPECT_EQ(end->result, OperationResult::Done) << end->reason;
    EXPECT_EQ(memoryOf(ecu.state()), want) << differences(memoryOf(ecu.state()), want);
}

} // namespace
} // namespace bifuel::test

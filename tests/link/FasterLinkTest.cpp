#include "EcuMemory.h"
#include "LinkHarness.h"

#include "calibration/Calibr_Ctrl.h"
#include "files/Settings_3D_Unit.h"

#include <fstream>
#include <sstream>

namespace bifuel::test {
namespace {

constexpr std::int64_t kByteUs = sim::MemoryLine::kByteTimeUs9600;

std::vector<std::uint8_t> probeCodes(const std::vector<sim::WireWrite>& requests) {
    std::vector<std::uint8_t> codes;
    for (const auto& r : requests) {
        if (r.bytes.at(1) == 0x21) codes.push_back(r.bytes[0]);
    }
    return codes;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A second link and car in the same test, for comparisons.
class OtherCar final : public LinkHarness {
  public:
    explicit OtherCar(sim::EcuState state) : LinkHarness(std::move(state)) {}
    void TestBody() override {}
    using LinkHarness::clock;
    using LinkHarness::commandsSent;
    using LinkHarness::connect;
    using LinkHarness::ctx;
    using LinkHarness::line;
    using LinkHarness::requests;
};

class RememberedCode : public LinkHarness {
  protected:
    explicit RememberedCode(std::uint8_t ecuCode = 25) : LinkHarness(ecuOn(ecuCode)) {
        loaded = ctx.events.dataLoaded.subscribe([this] { loadedUs = clock.nowUs(); });
    }
    static sim::EcuState ecuOn(std::uint8_t code) {
        sim::EcuState s = ConfiguredEcu();
        s.programCode = code;
        return s;
    }
    void remember(const std::string& port, std::uint8_t code) {
        ctx.settings.Last_Code_Port = port;
        ctx.settings.Last_Code = code;
    }
    std::int64_t loadedUs = -1;
    Subscription loaded;
};

// The code that answered last on this port goes first: no probe waits out its timeout, and
// everything after it is the connection program as always, at the same pace.
TEST_F(RememberedCode, TheRememberedCodeIsProbedFirstAndSavesTheProbeTimeout) {
    std::vector<std::uint8_t> plainCommands;
    std::int64_t plainLoadedUs = 0;
    {
        OtherCar plain(ecuOn(25));
        std::int64_t at = -1;
        const Subscription watch =
            plain.ctx.events.dataLoaded.subscribe([&] { at = plain.clock.nowUs(); });
        plain.line.host().open();
        ASSERT_TRUE(plain.clock.runUntil([&] { return at >= 0; }, 10000));
        plainLoadedUs = at;
        plainCommands = plain.commandsSent();
        EXPECT_EQ(probeCodes(plain.requests()), (std::vector<std::uint8_t>{26, 25}));
    }

    remember("ttyTEST0", 25);
    line.host().open();
    ASSERT_TRUE(clock.runUntil([&] { return loadedUs >= 0; }, 10000));
    const auto req = requests();
    EXPECT_EQ(req[0].bytes, (Bytes{0x19, 0x21, 0x21, 0x21, 0x7C}));
    EXPECT_EQ(req[0].timeUs, 60'000);
    EXPECT_EQ(probeCodes(req), (std::vector<std::uint8_t>{25}));
    // The same requests but the unanswered probe; the 550 ms timeout and that probe's five
    // bytes are saved.
    std::vector<std::uint8_t> commands = commandsSent();
    commands.resize(plainCommands.size() - 1);
    EXPECT_EQ(commands, std::vector<std::uint8_t>(plainCommands.begin() + 1, plainCommands.end()));
    EXPECT_EQ(plainLoadedUs - loadedUs, 550'000);
}

class RememberedCodeOn23 : public RememberedCode {
  protected:
    RememberedCodeOn23() : RememberedCode(23) {}
};

// A code that no longer answers costs one probe; the rotation then runs as always, and the
// code that did answer is remembered, in the settings file when there is one.
TEST_F(RememberedCodeOn23, AStaleCodeCostsOneProbeAndTheAnsweringCodeIsKept) {
    const std::filesystem::path ini = ctx.paths.Ini_Name;
    {
        std::ofstream(ini)
            << "Installer_Note keep me\r\nLast_Code_Port ttyTEST0\r\nLast_Code 25\r\n";
    }
    remember("ttyTEST0", 25);
    connect();
    EXPECT_EQ(probeCodes(requests()), (std::vector<std::uint8_t>{25, 26, 25, 23}));
    EXPECT_EQ(ctx.settings.Last_Code, 23);
    EXPECT_EQ(ctx.settings.Last_Code_Port, "ttyTEST0");
    const std::string text = readFile(ini);
    EXPECT_NE(text.find("keep me"), std::string::npos) << "other keys stay: " << text;

    // Read back by the settings loader, it is probed first at the next connection.
    Settings_Class fromFile;
    ColourTable colours;
    WindowSkin skin;
    WindowLayout layout;
    ASSERT_TRUE(Settings_Load(ctx.keyFile, ini, {fromFile, colours, skin, layout}));
    EXPECT_EQ(fromFile.Last_Code, 23);
    ctx.link.Pending_Request = Request::Reconnect;
    const std::size_t before = requests().size();
    ASSERT_TRUE(clock.runUntil([&] { return requests().size() > before; }, 5000));
    EXPECT_EQ(requests()[before].bytes[0], 23);
}

TEST_F(RememberedCodeOn23, NoSettingsFileIsMadeForTheCode) {
    connect();
    EXPECT_EQ(ctx.settings.Last_Code, 23);
    EXPECT_FALSE(std::filesystem::exists(ctx.paths.Ini_Name));
}

// Only on its own port, and only a code the rotation knows; the rotation's bound on
// unanswered probes holds with the extra probe in front.
TEST_F(RememberedCode, AnotherPortsCodeOrNoEcuLeavesTheRotationAsItIs) {
    struct Case {
        std::string port;
        std::uint8_t code;
        std::vector<std::uint8_t> probes;
    };
    const Case cases[] = {
        {"ttyUSB7", 23, {26, 25}},
        {"ttyTEST0", 26, {26, 25}}, // the rotation's own first code: probed once
        {"ttyTEST0", 24, {26, 25}},
    };
    for (const Case& c : cases) {
        OtherCar other(ecuOn(25));
        other.ctx.settings.Last_Code_Port = c.port;
        other.ctx.settings.Last_Code = c.code;
        other.connect();
        EXPECT_EQ(probeCodes(other.requests()), c.probes) << c.port << " " << int{c.code};
    }

    ecu.setLineCut(true);
    remember("ttyTEST0", 23);
    line.host().open();
    clock.advance(6 * 560 + 100);
    EXPECT_EQ(probeCodes(requests()), (std::vector<std::uint8_t>{23, 26, 25, 23, 26, 25, 23}));
}

class LiveOnlyPolling : public LinkHarness {
  protected:
    LiveOnlyPolling() : LinkHarness(ConfiguredEcu()) {}

    bool runs(const std::vector<std::int32_t>& words) const {
        return std::equal(words.begin(), words.end(), ctx.link.Program_Words.begin() + 1) &&
               ctx.link.Program_Length == static_cast<std::int32_t>(words.size());
    }

    // Commands of the next `n` requests.
    std::vector<std::uint8_t> next(std::size_t n) {
        const std::size_t from = requests().size();
        EXPECT_TRUE(runRequests(n));
        const auto all = commandsSent();
        return {all.begin() + static_cast<std::ptrdiff_t>(from),
                all.begin() + static_cast<std::ptrdiff_t>(from + n)};
    }
};

TEST_F(LiveOnlyPolling, OffByDefault) {
    EXPECT_FALSE(Settings_Class{}.Live_Only_Polling);
    connect();
    EXPECT_EQ(next(6), (std::vector<std::uint8_t>{0x23, 0x27, 0x28, 0x23, 0x27, 0x28}));
}

// Chosen, the polling reads live data alone, each request Reply_Delay after the reply
// before it; a MAP collection gets its lists from the next live reply on, and when it
// stops, live data alone again.
TEST_F(LiveOnlyPolling, LiveDataAloneUntilAMapCollectionStarts) {
    ctx.settings.Live_Only_Polling = true;
    line.host().open();
    ASSERT_TRUE(clock.runUntil([&] { return runs(LivePollingProgram()); }, 10000));
    EXPECT_EQ(next(4), (std::vector<std::uint8_t>(4, 0x23)));
    // Every request after the answered probe leaves Reply_Delay after the reply before it.
    const auto req = requests();
    const auto rep = replies();
    for (std::size_t i = 2; i < req.size(); ++i) {
        const auto& reply = rep.at(i - 2);
        EXPECT_EQ(req[i].timeUs,
                  reply.timeUs + static_cast<std::int64_t>(reply.bytes.size()) * kByteUs + 60'000)
            << "request " << i;
    }

    // The live request already out is answered, and then the lists are read.
    const EcuMemory before = memoryOf(ecu.state());
    HudButton_CLB_MAP_StartClick(ctx);
    ASSERT_TRUE(ctx.config.Save_Map);
    EXPECT_EQ(next(2), (std::vector<std::uint8_t>{0x27, 0x28}));
    // The collection bit goes to the ECU; the lists keep being read meanwhile and after.
    ASSERT_TRUE(
        clock.runUntil([&] { return !ctx.edits.Not_On_Ecu && !ctx.link.Write_Running; }, 10000));
    EXPECT_TRUE(runs(PollingProgram()));
    const auto cycle = next(6);
    for (const std::uint8_t command : {0x23, 0x27, 0x28})
        EXPECT_EQ(std::count(cycle.begin(), cycle.end(), command), 2) << int{command};

    HudButton_CLB_MAP_StopClick(ctx);
    ASSERT_TRUE(
        clock.runUntil([&] { return !ctx.edits.Not_On_Ecu && !ctx.link.Write_Running; }, 10000));
    ASSERT_TRUE(clock.runUntil([&] { return runs(LivePollingProgram()); }, 2000));
    EXPECT_EQ(next(4), (std::vector<std::uint8_t>(4, 0x23)));
    // Nothing but the collection bit was ever written, and it is off again.
    EXPECT_EQ(ecu.counters().byCommand.count(0x33), 0u) << "no diagram write";
    const EcuMemory after = memoryOf(ecu.state());
    EXPECT_TRUE(after == before) << differences(after, before);
}

} // namespace
} // namespace bifuel::test

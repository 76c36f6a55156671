#include "StateFile.h"
#include "SimCar.h"
#include "link/LinkHarness.h"
#include "link/Link_Operations.h"
#include "link/Transmit_Unit.h"
#include "rpm_map/MapRPM_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace bifuel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Everything of the memory a write can change, part by part, so a failure names the part.
void expectSameMemory(const EcuState& a, const EcuState& b) {
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.params, b.params);
    EXPECT_EQ(a.diagram, b.diagram);
    EXPECT_EQ(a.mapGas, b.mapGas);
    EXPECT_EQ(a.mapPetrol, b.mapPetrol);
    EXPECT_EQ(a.rpmMapSize, b.rpmMapSize);
    EXPECT_EQ(a.rpmMap, b.rpmMap);
}

// The memory a fresh ECU gets from the file.
EcuState loaded(const std::filesystem::path& path) {
    EcuState s = SimEcu::defaultState();
    StateFile file(path);
    EXPECT_EQ(file.load(s), "");
    return s;
}

TEST(StateFile, TextHoldsEveryValueAsItWas) {
    EcuState s = SimEcu::defaultState();
    s.name = {0x00, 'A', 0x7F, 0x80, 0xFF, ' ', '=', '#'};
    s.params = {{0x00, 0}, {0x41, 0xFFFF}, {0xFF, 0x0102}};
    s.diagram[0] = {0xFFFF, 0, 0x8000};
    s.mapGas[31] = 0xFF;
    s.rpmMapSize = {0, 255};
    for (const std::size_t mapBytes : {std::size_t{0}, SimEcu::kMaxMapStream}) {
        s.rpmMap.assign(mapBytes, 0xA5);
        EcuState back = SimEcu::defaultState();
        ASSERT_EQ(ParseEcuMemory(FormatEcuMemory(s), back), "");
        expectSameMemory(back, s);
    }
}

// A connected tool writes through the real link; the file then holds what the ECU stored,
// and a fresh ECU made from it holds exactly those bytes.
TEST(StateFile, WritesThroughTheLinkSurviveIntoAFreshEcu) {
    test::TempWorkDir work;
    const auto path = work.path() / "car.txt";
    SimOptions options;
    options.engine.warm = true;
    options.stateFile = path.string();
    VirtualScheduler clock;
    MemoryLine line{clock, MemoryLine::kByteTimeUs9600};
    std::ostringstream messages;
    EcuState held;
    {
        SimCar car(clock, line.device(), options, messages);
        ASSERT_TRUE(std::filesystem::exists(path)) << "made from the defaults at start";
        Context ctx(clock, line.host(), work.paths(true));
        ctx.settings.Search_Port = false;
        ctx.link.Main_Shown = true;
        ctx.settings.Port_Name = "ttyTEST0";
        line.host().setPortName("ttyTEST0");
        line.host().open();
        const auto& polling = PollingProgram();
        ASSERT_TRUE(clock.runUntil(
            [&] {
                return ctx.link.ECU_Connected && std::equal(polling.begin(), polling.end(),
                                                            ctx.link.Program_Words.begin() + 1);
            },
            10000));

        std::vector<OperationEnd> ends;
        const Subscription ended =
            ctx.events.operationEnded.subscribe([&](const OperationEnd& e) { ends.push_back(e); });
        const auto runToEnd = [&](OperationId id) {
            ASSERT_TRUE(
                clock.runUntil([&] { return !ends.empty() && ends.back().id == id; }, 30000));
            EXPECT_EQ(ends.back().result, OperationResult::Done) << ends.back().reason;
        };
        ctx.config.CFG_Name = "CAR7";
        ctx.config.Level2 = 777;
        ctx.diagram.Gas_Point[5] += 400;
        ctx.rpmMap.Map_Value[2][3] = 150;
        ValuesToTexts(ctx); // the write sends what the texts say
        runToEnd(WriteEverything(ctx));
        runToEnd(SetPendingRequest(ctx, Request::EraseMapPetrol));
        held = car.ecu().state();
    }
    EXPECT_EQ(messages.str(), "");
    EXPECT_EQ(held.name, (std::array<std::uint8_t, 8>{'C', 'A', 'R', '7', 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(held.params.at(0x55), 777);
    EXPECT_EQ(held.mapPetrol, Bytes(32, 0));
    EXPECT_NE(held.rpmMap, SimEcu::defaultState().rpmMap) << "the changed cell was written";

    expectSameMemory(loaded(path), held);
    std::vector<std::string> leftovers;
    for (const auto& entry : std::filesystem::directory_iterator(work.path()))
        if (entry.path().extension() == ".tmp") leftovers.push_back(entry.path().string());
    EXPECT_EQ(leftovers, std::vector<std::string>{});

    // The identity is the options' of each run; the memory is the file's.
    SimOptions other = options;
    ASSERT_EQ(ApplySimOption(other, "firmware=3.62"), "");
    ASSERT_EQ(ApplySimOption(other, "model=OTHER"), "");
    MemoryLine second{clock};
    SimCar again(clock, second.device(), other, messages);
    EXPECT_EQ(again.ecu().state().firmwareVersion, "3.62");
    EXPECT_EQ(again.ecu().state().model, "OTHER");
    expectSameMemory(again.ecu().state(), held);
}

// Sends ANNOUNCE and a WRITE_NAME frame on the host end, as the tool would.
void writeName(VirtualScheduler& clock, MemoryLine& line, const std::string& name) {
    const auto framed = [](Bytes body) {
        body.push_back(static_cast<std::uint8_t>(std::accumulate(body.begin(), body.end(), 0u)));
        return body;
    };
    Bytes frame{25, 0x2D};
    frame.insert(frame.end(), name.begin(), name.end());
    frame.resize(10, 0xFF);
    for (const Bytes& request : {framed({25, 0x31, 0x31, 11}), framed(frame)}) {
        line.host().write(request.data(), request.size());
        clock.advance(50);
    }
}

TEST(StateFile, AMissingFileIsMadeFromTheDefaults) {
    test::TempWorkDir work;
    VirtualScheduler clock;
    MemoryLine line{clock, MemoryLine::kByteTimeUs9600};
    SimOptions options;
    options.stateFile = (work.path() / "new.txt").string();
    std::ostringstream messages;
    SimCar car(clock, line.device(), options, messages);
    EXPECT_EQ(messages.str(), "");
    expectSameMemory(loaded(options.stateFile), SimEcu::defaultState());

    // A folder that is not there: said once, and the ECU works from memory.
    SimOptions nowhere;
    nowhere.stateFile = (work.path() / "no-such-folder" / "car.txt").string();
    std::ostringstream said;
    MemoryLine other{clock, MemoryLine::kByteTimeUs9600};
    SimCar lost(clock, other.device(), nowhere, said);
    other.host().open();
    writeName(clock, other, "NEW");
    EXPECT_NE(said.str().find("cannot be made"), std::string::npos) << said.str();
    EXPECT_EQ(lost.ecu().state().name[0], 'N');
    EXPECT_FALSE(std::filesystem::exists(nowhere.stateFile));
}

// A file that is not a memory file is reported with its line, the ECU starts from the
// defaults, and the file stays as it was even after a write: it may be a hand edit with
// one typo, which overwriting would lose.
TEST(StateFile, AMalformedFileIsReportedAndLeftAlone) {
    const std::string good = FormatEcuMemory(SimEcu::defaultState());
    const auto zeros = [](std::size_t n) {
        std::string out;
        for (std::size_t i = 0; i < n; ++i)
            out += "00 ";
        return out;
    };
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const struct {
        const char* name;
        std::string text;
        const char* says;
    } cases[] = {
        {"empty", "", "no name"},
        {"binary",
         std::string("\x7F"
                     "ELF\x02\x01\x00\x00",
                     8),
         "line 1: expected KEY=VALUE"},
        {"unknown key", good + "turbo=1\n", "unknown key turbo"},
        {"twice", good + "param.41=0001\n", "param.41 given twice"},
        {"short name", replaced("name=43 41 52 30 31 FF FF FF", "name=43 41"),
         "name: expected 8 bytes"},
        {"not hex", replaced("param.41=0323", "param.41=03G3"), "param.41: expected one word"},
        {"word too wide", replaced("param.41=0323", "param.41=10323"),
         "param.41: expected one word"},
        {"bad code", replaced("param.41=", "param.4100="), "unknown key param.4100"},
        {"no point 10", good + "diagram.10=0 0 0\n", "unknown key diagram.10"},
        {"missing point", replaced("diagram.9=", "# diagram.9="), "no diagram.9"},
        {"short list", replaced("map_gas=00 ", "map_gas="), "map_gas: expected 32 bytes"},
        {"map too long", replaced("rpm_map=", "rpm_map=" + zeros(400)),
         "rpm_map: expected at most 512 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempWorkDir work;
        const auto path = work.path() / "car.txt";
        writeText(path, c.text);
        VirtualScheduler clock;
        MemoryLine line{clock, MemoryLine::kByteTimeUs9600};
        SimOptions options;
        options.stateFile = path.string();
        std::ostringstream messages;
        SimCar car(clock, line.device(), options, messages);
        EXPECT_NE(messages.str().find(c.says), std::string::npos) << messages.str();
        EXPECT_NE(messages.str().find("left as it is"), std::string::npos) << messages.str();
        expectSameMemory(car.ecu().state(), SimEcu::defaultState());

        line.host().open();
        writeName(clock, line, "NEW");
        EXPECT_EQ(car.ecu().state().name[0], 'N') << "the ECU takes writes all the same";
        EXPECT_EQ(readText(path), c.text);
    }

    // A folder in the file's place cannot be read.
    test::TempWorkDir work;
    std::filesystem::create_directory(work.path() / "car.txt");
    VirtualScheduler clock;
    MemoryLine line{clock};
    SimOptions options;
    options.stateFile = (work.path() / "car.txt").string();
    std::ostringstream messages;
    SimCar car(clock, line.device(), options, messages);
    EXPECT_NE(messages.str().find("is not a file"), std::string::npos) << messages.str();
    EXPECT_TRUE(std::filesystem::is_directory(options.stateFile));
}

} // namespace
} // namespace bifuel::sim

// What the tool reads from a car it can write back to the same car, byte for byte, and a
// file that would leave the car wrong is refused before anything is sent. Each command
// runs in a context of its own, as each run of `bifuel-cli` is a process of its own.
#include "Cli_Session.h"
#include "link/EcuMemory.h"
#include "link/LinkHarness.h"

#include "files/Backup_Unit.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Instruction_Unit.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <random>
#include <sstream>

namespace bifuel::cli {
namespace {

using test::EcuMemory;

class EcuRoundTrip : public ::testing::Test {
  protected:
    explicit EcuRoundTrip(sim::EcuState state = test::ConfiguredEcu())
        : ecu(clock, line.device(), std::move(state)) {}

    struct Run {
        int code = -1;
        std::string out;
        std::string err;
    };

    // One command of the tool, from a fresh start to its end. `meanwhile` runs once the
    // command has started (its file read), before anything is sent.
    Run run(const std::string& name, std::vector<std::string> args, SessionOptions options = {},
            const std::function<void()>& meanwhile = {}) {
        Context ctx(clock, line.host(), work.paths(withTable));
        ctx.settings.Port_Name = "sim";
        ctx.settings.Search_Port = false;
        line.host().setPortName("sim");
        std::ostringstream out;
        std::ostringstream err;
        options.progress = false;
        Session session(ctx, options, out, err);
        session.start(Command{name, std::move(args)}, [](int) {});
        if (meanwhile) meanwhile();
        const std::int64_t limitUs = clock.nowUs() + std::int64_t{120} * 1000 * 1000;
        while (!session.done() && clock.nowUs() < limitUs) {
            const std::int64_t due = clock.nextDueUs();
            if (due < 0) break;
            clock.advanceUs(due - clock.nowUs());
        }
        EXPECT_TRUE(session.done()) << name << " never ended\n" << err.str();
        // The line must be quiet before the next command opens it again.
        line.host().close();
        clock.advance(1000);
        return {session.exitCode(), out.str(), err.str()};
    }

    std::string file(const std::string& name) const { return (work.path() / name).string(); }

    void writeText(const std::string& path, const std::string& text) {
        test::WriteFileBytes(path, text);
    }

    EcuMemory memory() const { return test::memoryOf(ecu.state()); }

    // The desktop program connects, and the user loads `path` as the car's own file
    // (the window's Load, then "load everything" in the difference view).
    void desktopLoad(const std::string& path) {
        Context ctx(clock, line.host(), work.paths(withTable));
        ctx.settings.Port_Name = "sim";
        ctx.settings.Search_Port = false;
        ctx.link.Main_Shown = true;
        bool loaded = false;
        std::optional<OperationEnd> written;
        const Subscription onLoaded = ctx.events.dataLoaded.subscribe([&] { loaded = true; });
        const Subscription onEnd = ctx.events.operationEnded.subscribe([&](const OperationEnd& e) {
            if (e.request == Request::WriteAll) written = e;
        });
        line.host().open();
        ASSERT_TRUE(clock.runUntil([&] { return loaded; }, 20000)) << "never connected";
        // A car without a name gets the file's name with the load: that is a rename.
        const std::string name =
            ctx.config.CFG_Name.empty() ? std::string("NONAME") : ctx.config.CFG_Name;
        std::filesystem::create_directories(ctx.paths.Config_Dir);
        std::filesystem::copy_file(path, ctx.paths.Config_Dir / (name + ".cfg"),
                                   std::filesystem::copy_options::overwrite_existing);
        ShowSaveLoad(ctx, SaveLoadMode::Load);
        SaveLoadNameChanged(ctx, name);
        SaveLoadRun(ctx);
        ASSERT_TRUE(ctx.saveLoad.Diff_Shown) << ctx.saveLoad.Last_Error;
        SaveLoadDiffLoad(ctx, true);
        ASSERT_TRUE(clock.runUntil([&] { return written.has_value(); }, 30000))
            << "the write never ended";
        EXPECT_EQ(written->result, OperationResult::Done) << written->reason;
        line.host().close();
        clock.advance(1000);
        if (ctx.config.CFG_Name == "NONAME") ecu.state().name.fill(0xFF); // the rename, undone
    }

    test::TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock, sim::MemoryLine::kByteTimeUs9600};
    sim::SimEcu ecu;
    bool withTable = true;
};

// An ECU memory as another tool, a firmware default or an installer may have left it:
// every value the decoders take, including those the Setup page's lists do not offer.
sim::EcuState randomEcu(std::mt19937& rng) {
    sim::EcuState s = test::ConfiguredEcu();
    auto any = [&rng](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    auto word = [&]() { return static_cast<std::uint16_t>(any(0, 0xFFFF)); };
    for (auto& [code, value] : s.params)
        value = word();
    auto withHigh = [&](std::uint8_t code, int high) {
        s.params[code] = static_cast<std::uint16_t>((high << 8) | (s.params[code] & 0xFF));
    };
    // The bits every write sends as 0.
    s.params[0x9F] &= static_cast<std::uint16_t>(~0x2800);
    s.params[0x5C] &= static_cast<std::uint16_t>(~0x0008);
    // A correction byte of 0 or 5 holds no value: the program rewrites it with its default.
    for (const std::uint8_t code : {0x93, 0x94, 0x96, 0x97, 0x99}) {
        int high = any(1, 255);
        if (high == 5) high = 6;
        withHigh(code, high);
    }
    // Temperatures off the page's list (33, 56 °C and any other code), speeds (650 rpm and
    // any period), prescaler positions 0..7, level types beyond the table.
    s.params[0x45] = static_cast<std::uint16_t>((s.params[0x45] & 0xFF00) | any(0, 7));
    // A diagram and a map within their rules (petrol times rising, gas times below the
    // ceiling, rising headers, factors 0.01..1.99), with any slopes and idle flags.
    std::uint16_t petrol = 0;
    for (std::size_t i = 0; i < s.diagram.size(); ++i) {
        petrol = static_cast<std::uint16_t>(i == 0 ? any(0, 1000) : petrol + any(1, 2700));
        const auto flag = static_cast<std::uint16_t>(any(0, 1) << 15);
        s.diagram[i] = {word(), static_cast<std::uint16_t>(any(1, 31999)),
                        static_cast<std::uint16_t>(petrol | flag)};
    }
    int rpm = any(500, 1000);
    for (std::size_t c = 0; c < 8; ++c, rpm += any(150, 900)) {
        const int period = 30000000 / rpm;
        s.rpmMap[2 + 2 * c] = static_cast<std::uint8_t>(period >> 8);
        s.rpmMap[3 + 2 * c] = static_cast<std::uint8_t>(period & 0xFF);
    }
    int tenths = any(0, 10);
    for (std::size_t r = 0; r < 12; ++r, tenths += any(1, 18))
        s.rpmMap[18 + r] = static_cast<std::uint8_t>(tenths);
    for (std::size_t i = 30; i < s.rpmMap.size(); ++i)
        s.rpmMap[i] = static_cast<std::uint8_t>(any(2, 255));
    static const std::vector<std::array<std::uint8_t, 8>> names = {
        {'A', '*', 'B', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {'C', 'O', 'N', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {'A', 'B', ' ', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {'S', 'H', 'O', 'P', '7', 0x00, 'x', 'y'},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {'.', '.', '/', 0xC8, 0xE2, 'E', 0xFF, 0xFF},
        {'C', 'A', 'R', '0', '1', 'x', 'y', 'z'},
    };
    s.name = names[static_cast<std::size_t>(any(0, static_cast<int>(names.size()) - 1))];
    return s;
}

TEST_F(EcuRoundTrip, EveryMemoryReadIntoAFileOrABackupWritesBackUnchanged) {
    std::mt19937 rng(2612);
    for (int round = 0; round < 12; ++round) {
        ecu.state() = randomEcu(rng);
        const EcuMemory before = memory();
        SCOPED_TRACE("round " + std::to_string(round));
        std::filesystem::remove_all(
            BackupFolder(work.paths(true))); // the next backup is this car's

        SessionOptions read;
        read.outputFile = file("car.cfg");
        const Run readRun = run("read", {}, read);
        ASSERT_EQ(readRun.code, kDone) << readRun.err;
        const Run writeRun = run("write", {file("car.cfg")});
        ASSERT_EQ(writeRun.code, kDone) << writeRun.err;
        EXPECT_EQ(memory(), before) << test::differences(memory(), before);

        // The backup every read leaves writes back the same bytes.
        const std::vector<BackupEntry> backups = ListBackups(work.paths(true));
        ASSERT_FALSE(backups.empty());
        const Run restore = run("write", {backups.back().path.string()});
        ASSERT_EQ(restore.code, kDone) << restore.err;
        EXPECT_EQ(memory(), before) << test::differences(memory(), before);

        // And so does the desktop program's Load of the file under the car's own name.
        desktopLoad(file("car.cfg"));
        EXPECT_EQ(memory(), before) << test::differences(memory(), before);
    }
}

TEST_F(EcuRoundTrip, WithoutTheTemperatureTableABackupKeepsTheEcusTemperatureWord) {
    ecu.state().params[0x41] = 0x0123;
    const EcuMemory before = memory();
    // Without its table the program cannot say the degrees: the backup of the read keeps
    // the ECU's word, and claims no 0 °C.
    withTable = false;
    ASSERT_EQ(run("identify", {}).code, kDone);
    const std::vector<BackupEntry> backups = ListBackups(work.paths(false));
    ASSERT_EQ(backups.size(), 1u);
    const std::string text = test::ReadFileBytes(backups.back().path);
    KeyFile keys;
    keys.OpenFromText(text);
    EXPECT_FALSE(keys.FindKey("PG_Temper")) << text;
    ASSERT_TRUE(keys.GetKeyInt(kTemperCodeKey)) << text;
    EXPECT_EQ(keys.Found_Int, 0x0123);
    // With the table back, the backup restores the same word to a car set up otherwise.
    withTable = true;
    ecu.state().params[0x41] = 0x0323;
    const Run write = run("write", {backups.back().path.string()});
    ASSERT_EQ(write.code, kDone) << write.err;
    EXPECT_EQ(memory(), before) << test::differences(memory(), before);
}

TEST_F(EcuRoundTrip, AFileThatWouldLeaveTheEcuWrongIsRefusedWithItsLineAndRule) {
    const EcuMemory before = memory();
    const struct {
        const char* what;
        std::string text;
        std::string said; // what the refusal names
    } cases[] = {
        {"one point folds the diagram over the ECU's", "Petrol_Point_3 20000 {}\r\n",
         "line 1: Petrol_Point_3 20000 is not allowed; it must be less than 9000"},
        {"map headers out of order", "Cols_1 0\r\nCols_2 6000\r\nCols_3 1000\r\n",
         "line 3: Cols_3 1000"},
        {"a speed the map page refuses", "Cols_8 300\r\n", "Cols_8 300"},
        {"a row header below the one before", "Rows_5 1.0\r\n", "Rows_5 1.0"},
        {"a level beyond its ten bits", "Level1 5000\r\n", "line 1: Level1 5000"},
        {"a delay the ECU reads as 0", "User_Name x\r\nPG_Time 128\r\n", "PG_Time 128"},
        {"a temperature beyond the table", "PG_Temper 900\r\n", "PG_Temper 900"},
        {"a prescaler that is no position", "RPM_PreScaler 1:300\r\n", "RPM_PreScaler 1:300"},
        {"a gas time over the ceiling", "Gas_Point_5 40000\r\n", "Gas_Point_5 40000"},
        {"a factor the map page refuses", "Cell_0_0 0.00\r\n", "Cell_0_0 0.00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeText(file("bad.cfg"), c.text);
        const Run r = run("write", {file("bad.cfg")});
        EXPECT_EQ(r.code, kUsage);
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
        EXPECT_EQ(memory(), before) << test::differences(memory(), before);
    }
}

TEST_F(EcuRoundTrip, ValuesTheEcuCanHoldAreTakenAsTheKeyValueRulesReadThem) {
    // $23 is 35; a boolean that is neither True nor False says nothing; 56 and 650 are
    // off the page's lists but the ECU holds them.
    writeText(file("car.cfg"),
              "PG_Temper $23\r\nLevel_Buzzer 1\r\nPG_RPM 650\r\nRPM_PreScaler 1:7\r\n");
    const bool buzzer = ecu.state().params.at(0x54) & 0x4000;
    const Run r = run("write", {file("car.cfg")});
    ASSERT_EQ(r.code, kDone) << r.err;
    SessionOptions read;
    read.outputFile = file("back.cfg");
    ASSERT_EQ(run("read", {}, read).code, kDone);
    const std::string back = test::ReadFileBytes(file("back.cfg"));
    KeyFile keys;
    keys.OpenFromText(back);
    ASSERT_TRUE(keys.GetKeyInt("PG_Temper"));
    EXPECT_EQ(keys.Found_Int, 35);
    ASSERT_TRUE(keys.GetKeyInt("PG_RPM"));
    EXPECT_NEAR(keys.Found_Int, 650, 1);
    ASSERT_TRUE(keys.FindKey("RPM_PreScaler"));
    EXPECT_EQ(keys.Found_Value, "1:7");
    EXPECT_EQ(static_cast<bool>(ecu.state().params.at(0x54) & 0x4000), buzzer);
}

TEST_F(EcuRoundTrip, WhatWasCheckedIsWhatIsSentWhenTheFileChangesMeanwhile) {
    writeText(file("car.cfg"), "Level1 300\r\nPG_RPM 1500\r\n");
    // An editor saves the file while the tool connects: the tool sends what it checked.
    const Run r = run("write", {file("car.cfg")}, {},
                      [this] { writeText(file("car.cfg"), "Level1 5000\r\nPG_RPM 700\r\n"); });
    ASSERT_EQ(r.code, kDone) << r.err;
    EXPECT_EQ(ecu.state().params.at(0x54) & 0x3FF, 300);
    EXPECT_EQ(ecu.state().params.at(0x43), 30000000 / 1500);
}

TEST_F(EcuRoundTrip, ANameNoFileCanCarryStaysOnTheEcu) {
    for (const auto& name :
         std::vector<std::array<std::uint8_t, 8>>{{'A', '*', 'B', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                                  {'C', 'O', 'N', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                                  {'A', 'B', ' ', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}) {
        ecu.state().name = name;
        writeText(file("car.cfg"), "PG_RPM 1200\r\n");
        ASSERT_EQ(run("write", {file("car.cfg")}).code, kDone);
        EXPECT_EQ(ecu.state().name, name) << "the full write sent other name bytes";
    }
}

} // namespace
} // namespace bifuel::cli

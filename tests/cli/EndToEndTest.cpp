// The real bifuel-cli against the real bifuel-sim over a pseudo-terminal, as an installer's
// script would run them.
#if defined(BIFUEL_CLI_PATH) && defined(BIFUEL_SIM_PATH)

#include "ChildProcess.h"
#include "link/LinkHarness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <regex>
#include <sstream>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bifuel::cli {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

// Guards against a hang only; a command over a line with faults takes a few seconds.
constexpr auto kCommandDeadline = 120s;

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Key -> value of a configuration file ("Key   value {}" lines).
std::map<std::string, std::string> keysOf(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::istringstream in(text);
    std::string line;
    const std::regex entry(R"(^(\S+)\s+(.*?)\s*\{\}\s*$)");
    for (std::smatch m; std::getline(in, line);) {
        if (std::regex_match(line, m, entry)) keys[m[1]] = m[2];
    }
    return keys;
}

// The keys whose values differ, for the failure message.
std::string differences(const std::map<std::string, std::string>& a,
                        const std::map<std::string, std::string>& b) {
    std::string out;
    for (const auto& [key, value] : a) {
        const auto other = b.find(key);
        if (other == b.end())
            out += key + " only before; ";
        else if (other->second != value)
            out += key + ": " + value + " -> " + other->second + "; ";
    }
    for (const auto& [key, value] : b) {
        if (!a.count(key)) out += key + " only after; ";
    }
    return out;
}

// Replaces the value of one key, keeping the file's layout.
std::string withValue(const std::string& text, const std::string& key, const std::string& value) {
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        const bool ofKey = line.starts_with(key) && line.size() > key.size() &&
                           (line[key.size()] == ' ' || line[key.size()] == '\t');
        const auto braces = line.rfind("{}");
        if (ofKey && braces != std::string::npos) {
            line = line.substr(0, line.find_first_not_of(" \t", key.size())) + value + " " +
                   line.substr(braces);
        }
        out += line + "\n";
    }
    return out;
}

// A working folder like an installer's: the temperature table beside the program's files.
class CliFixture {
  protected:
    CliFixture() {
        std::filesystem::copy_file(test::ShippedTable(), work.path() / "bifuel-studio.dat");
    }

    CliRun cli(std::vector<std::string> args) {
        ChildProcess p(BIFUEL_CLI_PATH, args, work.path(), work.path());
        const int code = p.exitCode(kCommandDeadline);
        return {code, p.out(), p.err()};
    }

    test::TempWorkDir work;
};

struct LineFaults {
    const char* name;
    std::vector<std::string> simArgs;
};

void PrintTo(const LineFaults& line, std::ostream* os) {
    *os << line.name;
}

// Every fault the simulator can put on the line, each now and then.
const LineFaults kLines[] = {
    {"clean", {}},
    {"faulty",
     {"--drop", "23", "--corrupt", "29", "--echo", "31", "--split", "37", "--surplus", "41"}},
};

class CliAgainstSimulator : public CliFixture, public ::testing::TestWithParam<LineFaults> {
  protected:
    void SetUp() override {
        std::vector<std::string> args = GetParam().simArgs;
        args.insert(args.end(), {"--sim-option", "warm=1", "--seed", "5"});
        sim = std::make_unique<ChildProcess>(BIFUEL_SIM_PATH, args, work.path(), work.path());
        const auto path = sim->firstLine(10s);
        ASSERT_TRUE(path.has_value()) << "the simulator did not start: " << sim->err();
        port = *path;
    }

    CliRun onPort(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", port, "--timeout", "20"});
        return cli(args);
    }

    std::unique_ptr<ChildProcess> sim;
    std::string port;
};

TEST_P(CliAgainstSimulator, IdentifiesTheEcuAsTextAndAsJson) {
    const CliRun text = onPort({"identify"});
    ASSERT_EQ(text.code, 0) << text.err;
    for (const std::string& line :
         {"port: " + port, std::string("program_code: 25"), std::string("model: KestraLX"),
          std::string("firmware: 2.54"), std::string("firmware_date: 2014.03.12"),
          std::string("work_gas_minutes: 12345"), std::string("work_petrol_minutes: 6789")}) {
        EXPECT_NE(text.out.find(line + "\n"), std::string::npos) << line << " in\n" << text.out;
    }
    EXPECT_NE(text.out.find("model_name: "), std::string::npos);

    const CliRun json = onPort({"--json", "identify"});
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(json.out.front(), '{');
    EXPECT_NE(json.out.find("\"firmware\": \"2.54\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"program_code\": 25"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"work_gas_minutes\": 12345"), std::string::npos) << json.out;
    EXPECT_EQ(json.err.find('%'), std::string::npos) << "no progress with --json";
}

TEST_P(CliAgainstSimulator, WritesAFileReadBackAndTheEcuHoldsExactlyWhatWasWritten) {
    const CliRun first = onPort({"read", "-o", "car.cfg"});
    ASSERT_EQ(first.code, 0) << first.err;
    EXPECT_NE(first.err.find("reading 100%"), std::string::npos) << first.err;
    const std::string read = readText(work.path() / "car.cfg");
    const auto before = keysOf(read);
    ASSERT_GT(before.size(), 150u) << read;
    for (const char* key : {"PG_RPM", "Gas_Point_4", "MAP_Gas_10", "Cell_3_5", "Level_Type"}) {
        EXPECT_TRUE(before.count(key)) << key;
    }

    // Writing back what was read changes nothing.
    const CliRun same = onPort({"write", "car.cfg"});
    ASSERT_EQ(same.code, 0) << same.err;
    EXPECT_NE(same.err.find("written and saved by the ECU"), std::string::npos) << same.err;
    ASSERT_EQ(onPort({"read", "-o", "again.cfg"}).code, 0);
    const auto again = keysOf(readText(work.path() / "again.cfg"));
    EXPECT_EQ(again, before) << differences(before, again);

    // An edited file: a setting, a diagram point and an RPM map cell reach the ECU; a file
    // that holds only some keys leaves the others as the ECU had them.
    std::string edited = withValue(read, "PG_RPM", "1500");
    edited = withValue(edited, "Gas_Point_4", "10600");
    edited = withValue(edited, "Cell_3_5", "1.12");
    writeText(work.path() / "edited.cfg", edited);
    writeText(work.path() / "partial.cfg", "PG_Temper                    35 {}\r\n");
    const CliRun edit = onPort({"write", "edited.cfg"});
    ASSERT_EQ(edit.code, 0) << edit.err;
    const CliRun partial = onPort({"write", "partial.cfg"});
    ASSERT_EQ(partial.code, 0) << partial.err;
    ASSERT_EQ(onPort({"read", "-o", "after.cfg"}).code, 0);
    auto expected = keysOf(edited);
    expected["PG_Temper"] = "35";
    const auto after = keysOf(readText(work.path() / "after.cfg"));
    EXPECT_EQ(after, expected) << differences(expected, after);
}

TEST_P(CliAgainstSimulator, LogsLiveDataToTheScreenAndToCsv) {
    const CliRun live = onPort({"live", "--seconds", "3", "--csv", "live.csv"});
    ASSERT_EQ(live.code, 0) << live.err;
    const std::string csv = readText(work.path() / "live.csv");
    std::istringstream rows(csv);
    std::string header;
    std::getline(rows, header);
    EXPECT_EQ(header, "time_s,rpm,petrol_ms,gas_ms,reducer_bar,manifold_bar,reducer_c,gas_c,"
                      "level_v,mode,error1,error2");
    int count = 0;
    for (std::string row; std::getline(rows, row); ++count) {
        std::vector<std::string> f;
        std::istringstream cells(row);
        for (std::string cell; std::getline(cells, cell, ',');)
            f.push_back(cell);
        ASSERT_EQ(f.size(), 12u) << row;
        const int rpm = std::stoi(f[1]);
        EXPECT_TRUE(rpm > 650 && rpm < 950) << "idle speed " << row;
        EXPECT_GT(std::stod(f[2]), 1.0) << "petrol time " << row;
        EXPECT_EQ(f[9], "petrol") << row;
    }
    EXPECT_GE(count, 4) << csv;
    // The screen shows the same replies, one line each.
    std::size_t lines = 0;
    for (std::size_t at = live.out.find(" rpm="); at != std::string::npos;
         at = live.out.find(" rpm=", at + 1))
        ++lines;
    EXPECT_EQ(lines, static_cast<std::size_t>(count));
}

TEST_P(CliAgainstSimulator, SwitchesTheEcuToGasAndBack) {
    const CliRun gas = onPort({"mode", "gas"});
    ASSERT_EQ(gas.code, 0) << gas.err;
    EXPECT_EQ(gas.out, "mode: gas\n") << "the mode the ECU reports after the switch";
    const CliRun onGas = onPort({"live", "--seconds", "2"});
    ASSERT_EQ(onGas.code, 0) << onGas.err;
    EXPECT_NE(onGas.out.find("mode=gas"), std::string::npos) << onGas.out;
    EXPECT_EQ(onGas.out.find("mode=petrol"), std::string::npos) << onGas.out;

    const CliRun petrol = onPort({"mode", "petrol"});
    ASSERT_EQ(petrol.code, 0) << petrol.err;
    EXPECT_EQ(petrol.out, "mode: petrol\n");
    const CliRun onPetrol = onPort({"live", "--seconds", "2"});
    EXPECT_EQ(onPetrol.out.find("mode=gas"), std::string::npos) << onPetrol.out;
    EXPECT_NE(onPetrol.out.find("mode=petrol"), std::string::npos) << onPetrol.out;
}

INSTANTIATE_TEST_SUITE_P(Lines, CliAgainstSimulator, ::testing::ValuesIn(kLines),
                         [](const auto& line) { return std::string(line.param.name); });

// A terminal nobody answers on: the test sees every byte a program sends to it.
class SilentTerminal {
  public:
    SilentTerminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            path_ = ::ptsname(master_);
    }
    ~SilentTerminal() {
        if (master_ >= 0) ::close(master_);
    }
    SilentTerminal(const SilentTerminal&) = delete;
    SilentTerminal& operator=(const SilentTerminal&) = delete;

    const std::string& path() const { return path_; }

    // Bytes that arrived so far.
    std::size_t received() const {
        std::size_t total = 0;
        char buffer[256];
        for (;;) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) return total;
            total += static_cast<std::size_t>(n);
        }
    }

  private:
    int master_;
    std::string path_;
};

class CliInput : public CliFixture, public ::testing::Test {};

TEST_F(CliInput, AFileThatIsNoConfigurationIsRefusedBeforeAnythingIsSent) {
    SilentTerminal ecu;
    ASSERT_FALSE(ecu.path().empty());
    std::filesystem::create_directory(work.path() / "folder.cfg");
    writeText(work.path() / "empty.cfg", " \r\n");
    writeText(work.path() / "binary.cfg", std::string("PG_RPM 600 {}\0\x01\x02", 17));
    writeText(work.path() / "words.cfg", "PG_RPM                       fast {}\r\n");
    // A boolean that is neither True nor False says nothing; the level beside it is refused.
    writeText(work.path() / "flag.cfg",
              "LPG_on                       maybe {}\r\nLevel1 2000 {}\r\n");
    writeText(work.path() / "point.cfg", "Gas_Point_3                  7.5e3 {}\r\n");
    writeText(work.path() / "other.txt", "shopping list: bread, milk\n");
    const struct {
        const char* file;
        const char* says;
    } cases[] = {
        {"missing.cfg", "does not exist"},
        {"folder.cfg", "is not a file"},
        {"empty.cfg", "is empty"},
        {"binary.cfg", "is not a text file"},
        {"words.cfg", "line 1: PG_RPM fast is not allowed"},
        {"flag.cfg", "line 2: Level1 2000 is not allowed; it must be a whole number 0..1023"},
        {"point.cfg",
         "line 1: Gas_Point_3 7.5e3 is not allowed; it must be a whole number 0..65535"},
        {"other.txt", "holds no configuration keys"},
    };
    for (const auto& c : cases) {
        const CliRun r = cli({"--port", ecu.path(), "write", c.file});
        EXPECT_EQ(r.code, 2) << c.file << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.file << ": " << r.err;
        EXPECT_NE(r.err.find("nothing was written to the ECU"), std::string::npos) << r.err;
        EXPECT_EQ(ecu.received(), 0u) << c.file << ": bytes went to the ECU";
    }
    // A file the user may not read; root reads everything, so only as another user.
    if (::geteuid() != 0) {
        writeText(work.path() / "locked.cfg", "PG_RPM                       600 {}\r\n");
        std::filesystem::permissions(work.path() / "locked.cfg", std::filesystem::perms::none);
        const CliRun r = cli({"--port", ecu.path(), "write", "locked.cfg"});
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_NE(r.err.find("cannot be read"), std::string::npos) << r.err;
        EXPECT_EQ(ecu.received(), 0u);
    }
}

TEST_F(CliInput, ExitStatusSaysWhatWentWrong) {
    SilentTerminal nobody;
    ASSERT_FALSE(nobody.path().empty());
    const struct {
        std::vector<std::string> args;
        int code;
        const char* says;
    } cases[] = {
        {{"--port", "/dev/ttyNOWHERE9", "identify"}, 3, "cannot open port /dev/ttyNOWHERE9"},
        {{"--port", nobody.path(), "--timeout", "2", "identify"}, 1, "no ECU answered"},
        {{"--port", "/dev/null", "fly"}, 2, "unknown command fly"},
        {{"--port", "/dev/null", "mode", "diesel"}, 2, "mode needs petrol, auto or gas"},
        {{"--port", "/dev/null", "--virtual-time", "identify"},
         2,
         "--virtual-time needs --port sim"},
        {{"--port", "sim", "--sim-option", "load=200", "identify"}, 2, "load=200"},
        {{"--timeout", "0", "identify"}, 2, "--timeout needs seconds"},
    };
    for (const auto& c : cases) {
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.back() << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

TEST_F(CliInput, WithoutPortItTakesThePortOfTheSettingsFile) {
    writeText(work.path() / "bifuel-studio.ini", "Port_Name=sim\r\n");
    const CliRun r = cli({"identify"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("port: sim\n"), std::string::npos) << r.out;
    EXPECT_EQ(readText(work.path() / "bifuel-studio.ini"), "Port_Name=sim\r\n") << "never written";
}

// The in-process car keeps its memory in a state file, so what one run of the tool writes
// is what the next run reads.
TEST_F(CliInput, TheSimulatedEcuKeepsWhatWasWrittenInItsStateFile) {
    const auto onSim = [this](std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"--port", "sim", "--virtual-time", "--sim-option", "state=car.txt"});
        return cli(args);
    };
    const CliRun first = onSim({"read", "-o", "before.cfg"});
    ASSERT_EQ(first.code, 0) << first.err;
    ASSERT_TRUE(std::filesystem::exists(work.path() / "car.txt"));
    std::string edited = withValue(readText(work.path() / "before.cfg"), "PG_RPM", "1500");
    edited = withValue(edited, "Gas_Point_4", "10600");
    edited = withValue(edited, "Cell_3_5", "1.12");
    writeText(work.path() / "edited.cfg", edited);

    const CliRun write = onSim({"write", "edited.cfg"});
    ASSERT_EQ(write.code, 0) << write.err;
    const CliRun read = onSim({"read", "-o", "out.cfg"});
    ASSERT_EQ(read.code, 0) << read.err;
    const auto expected = keysOf(edited);
    const auto after = keysOf(readText(work.path() / "out.cfg"));
    EXPECT_NE(expected, keysOf(readText(work.path() / "before.cfg")));
    EXPECT_EQ(after, expected) << differences(expected, after);
}

// Reading over a file the installer keeps updates it as the program's own save does: the
// installer's details and keys the program does not know stay, the ECU's values change.
TEST_F(CliInput, ReadingOverAFileKeepsTheInstallersNotesAndUnknownKeys) {
    writeText(work.path() / "car.cfg",
              "User_Name                    Ann {}\r\n"
              "Car_Comments                 new filter at 30000 km {}\r\n"
              "Workshop_Ticket              A-17 {kept by the workshop}\r\n"
              "PG_RPM                       9999 {}\r\n");
    const CliRun r = cli({"--port", "sim", "--virtual-time", "read", "-o", "car.cfg"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string text = readText(work.path() / "car.cfg");
    const auto keys = keysOf(text);
    EXPECT_EQ(keys.count("PG_RPM"), 1u);
    EXPECT_NE(keys.at("PG_RPM"), "9999") << "the ECU's value is written";
    EXPECT_EQ(keys.at("User_Name"), "Ann");
    EXPECT_EQ(keys.at("Car_Comments"), "new filter at 30000 km");
    // The key file keeps unknown keys upper-cased, as the program's own save does.
    EXPECT_NE(text.find("WORKSHOP_TICKET              A-17 {kept by the workshop}\r\n"),
              std::string::npos)
        << text;
}

// An output the tool could not write is found before the port is even opened.
TEST_F(CliInput, AnOutputThatCannotBeWrittenIsRefusedBeforeAnythingIsSent) {
    SilentTerminal ecu;
    ASSERT_FALSE(ecu.path().empty());
    std::filesystem::create_directory(work.path() / "folder.cfg");
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"read", "-o", "missing/car.cfg"}, "the folder \"missing\" does not exist"},
        {{"read", "-o", "folder.cfg"}, "is a folder"},
        {{"live", "--seconds", "2", "--csv", "missing/live.csv"},
         "the folder \"missing\" does not exist"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), {"--port", ecu.path()});
        const CliRun r = cli(args);
        EXPECT_EQ(r.code, 2) << c.args.back() << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("nothing was sent to the ECU"), std::string::npos) << r.err;
        EXPECT_EQ(ecu.received(), 0u) << c.args.back() << ": bytes went to the ECU";
    }
}

// Without the temperature table the commands that convert temperatures refuse to start,
// naming the file they looked for; the others work as before.
TEST_F(CliInput, CommandsWithTemperaturesNeedTheTable) {
    std::filesystem::remove(work.path() / "bifuel-studio.dat");
    writeText(work.path() / "partial.cfg", "PG_Temper                    35 {}\r\n");
    SilentTerminal ecu;
    ASSERT_FALSE(ecu.path().empty());
    const std::string table = (work.path() / "bifuel-studio.dat").string();
    const std::vector<std::string> commands[] = {{"read", "-o", "car.cfg"},
                                                 {"read"},
                                                 {"write", "partial.cfg"},
                                                 {"live", "--seconds", "2"},
                                                 {"autocal"}};
    for (const auto& command : commands) {
        std::vector<std::string> args = command;
        args.insert(args.begin(), {"--port", ecu.path()});
        const CliRun r = cli(args);
        EXPECT_EQ(r.code, 4) << command[0] << ": " << r.err;
        EXPECT_NE(r.err.find("\"" + table + "\""), std::string::npos) << r.err;
        EXPECT_EQ(ecu.received(), 0u) << command[0] << ": bytes went to the ECU";
    }
    EXPECT_FALSE(std::filesystem::exists(work.path() / "car.cfg"));
    // A short file is no table either.
    writeText(work.path() / "bifuel-studio.dat", std::string(100, '\0'));
    EXPECT_EQ(cli({"--port", ecu.path(), "read"}).code, 4);

    const CliRun identify = cli({"--port", "sim", "--virtual-time", "identify"});
    EXPECT_EQ(identify.code, 0) << identify.err;
    const CliRun mode =
        cli({"--port", "sim", "--virtual-time", "--sim-option", "warm=1", "mode", "gas"});
    EXPECT_EQ(mode.code, 0) << mode.err;
    EXPECT_EQ(mode.out, "mode: gas\n");
}

// Waits for the tool to say something on its standard error.
bool waitForErr(const ChildProcess& p, const std::string& text) {
    const auto until = std::chrono::steady_clock::now() + 60s;
    while (p.err().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Ctrl+C against the real simulator, with a reply delay that makes a write take seconds.
class CliInterrupted : public CliFixture, public ::testing::Test {
  protected:
    void SetUp() override {
        sim = std::make_unique<ChildProcess>(BIFUEL_SIM_PATH,
                                             std::vector<std::string>{"--sim-option", "warm=1"},
                                             work.path(), work.path());
        const auto path = sim->firstLine(10s);
        ASSERT_TRUE(path.has_value()) << "the simulator did not start: " << sim->err();
        port = *path;
    }

    std::unique_ptr<ChildProcess> start(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", port, "--reply-delay", "300"});
        return std::make_unique<ChildProcess>(BIFUEL_CLI_PATH, args, work.path(), work.path());
    }

    std::unique_ptr<ChildProcess> sim;
    std::string port;
};

TEST_F(CliInterrupted, AFirstCtrlCLetsTheWriteFinish) {
    ASSERT_EQ(cli({"--port", port, "read", "-o", "car.cfg"}).code, 0);
    const auto p = start({"write", "car.cfg"});
    ASSERT_TRUE(waitForErr(*p, "writing 20%")) << p->err();
    p->signal(SIGINT);
    EXPECT_EQ(p->exitCode(kCommandDeadline), 0) << p->err();
    const std::string err = p->err();
    EXPECT_TRUE(
        std::regex_search(err, std::regex("goes on to its end .*\\(about [0-9]+ s left\\)")))
        << err;
    EXPECT_NE(err.find("written and saved by the ECU"), std::string::npos) << err;
}

// The second Ctrl+C stops the write, and what the tool says the ECU got is what it holds.
TEST_F(CliInterrupted, ASecondCtrlCStopsTheWriteAndSaysWhatReachedTheEcu) {
    ASSERT_EQ(cli({"--port", port, "read", "-o", "car.cfg"}).code, 0);
    const std::string read = readText(work.path() / "car.cfg");
    std::string edited = withValue(read, "Gas_Point_4", "10600");
    edited = withValue(edited, "Cell_3_5", "1.12");
    writeText(work.path() / "edited.cfg", edited);
    const auto p = start({"write", "edited.cfg"});
    ASSERT_TRUE(waitForErr(*p, "writing 20%")) << p->err();
    p->signal(SIGINT);
    ASSERT_TRUE(waitForErr(*p, "Ctrl+C again")) << p->err();
    p->signal(SIGINT);
    EXPECT_EQ(p->exitCode(kCommandDeadline), 130) << p->err();
    const std::string err = p->err();
    for (const char* line : {"the write was stopped; the ECU holds part of it:\n  name: written\n",
                             "  diagram: not written\n  RPM map: not written\n"}) {
        EXPECT_NE(err.find(line), std::string::npos) << err;
    }
    EXPECT_EQ(err.find("written and saved"), std::string::npos) << err;

    ASSERT_EQ(cli({"--port", port, "read", "-o", "after.cfg"}).code, 0);
    const auto before = keysOf(read);
    const auto after = keysOf(readText(work.path() / "after.cfg"));
    EXPECT_EQ(after.at("Gas_Point_4"), before.at("Gas_Point_4"))
        << "the diagram did not reach the ECU";
    EXPECT_EQ(after.at("Cell_3_5"), before.at("Cell_3_5")) << "the map did not reach the ECU";
}

TEST_F(CliInterrupted, CtrlCDuringAReadWritesNoFile) {
    const auto p = start({"read", "-o", "car.cfg"});
    ASSERT_TRUE(waitForErr(*p, "reading 10%")) << p->err();
    p->signal(SIGINT);
    EXPECT_EQ(p->exitCode(kCommandDeadline), 130) << p->err();
    EXPECT_NE(p->err().find("bifuel-cli: interrupted\n"), std::string::npos) << p->err();
    EXPECT_FALSE(std::filesystem::exists(work.path() / "car.cfg"));
}

// A whole auto-calibration in virtual time takes the real program a few seconds.
TEST_F(CliInput, RunsAWholeAutoCalibrationInVirtualTime) {
    const CliRun r = cli({"--port", "sim", "--virtual-time", "--sim-option", "warm=1", "autocal",
                          "--algorithm", "Fast calibration"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("result: Autocalibration successfully completed.\n"), std::string::npos)
        << r.out;
}

// A loop-back plug on the line: nothing passes as an ECU, and the tool says what the port does.
TEST_F(CliInput, APortThatEchoesIsNoEcuAndTheToolSaysSo) {
    const CliRun r = cli({"--port", "sim", "--virtual-time", "--sim-option", "loopback=1",
                          "--timeout", "3", "identify"});
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("status: The port returns what it is sent"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("model"), std::string::npos) << r.out;
}

// Every complete read keeps what the ECU held in Config/Backup; `backups` lists it.
TEST_F(CliInput, EveryReadKeepsABackupThatBackupsLists) {
    const CliRun none = cli({"backups"});
    ASSERT_EQ(none.code, 0) << none.err;
    EXPECT_EQ(none.out, "");
    ASSERT_EQ(cli({"--port", "sim", "--virtual-time", "read", "-o", "read.cfg"}).code, 0);
    const CliRun list = cli({"backups"});
    ASSERT_EQ(list.code, 0) << list.err;
    const std::regex line(R"(^CAR01  (\d{4}-\d\d-\d\d_\d{6})  (\S+)\n$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(list.out, m, line)) << list.out;
    EXPECT_EQ(keysOf(readText(m[2].str())), keysOf(readText(work.path() / "read.cfg")));
}

// The simulated ECU's memory as its state file keeps it, less the MAP point lists, which
// the ECU records from the running engine on its own.
std::string memoryWithoutMapLists(const std::string& stateFile) {
    std::istringstream in(stateFile);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("map_gas=") && !line.starts_with("map_petrol=")) out += line + "\n";
    }
    return out;
}

std::map<std::string, std::string> withoutMapLists(std::map<std::string, std::string> keys) {
    std::erase_if(keys, [](const auto& k) { return k.first.starts_with("MAP_"); });
    return keys;
}

// An auto-calibration cut short on a car that was set up before, by Ctrl+C (the run waits
// for the driver to raise the speed, which nobody does here, so it is surely still running)
// or by the engine going off at a set time: the ECU gets back everything it had before
// the tool exits, and the next run of the tool reads the set-up back.
TEST_F(CliInput, AnAutoCalibrationCutShortLeavesTheCarAsItWas) {
    const auto onSim = [this](std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", "sim", "--virtual-time", "--sim-option",
                                   "state=car.txt", "--sim-option", "warm=1"});
        return args;
    };
    ASSERT_EQ(cli(onSim({"read", "-o", "before.cfg"})).code, 0);
    std::string edited = withValue(readText(work.path() / "before.cfg"), "Gas_Point_4", "10600");
    edited = withValue(edited, "Cell_3_5", "1.12");
    writeText(work.path() / "edited.cfg", edited);
    ASSERT_EQ(cli(onSim({"write", "edited.cfg"})).code, 0);
    ASSERT_EQ(cli(onSim({"read", "-o", "start.cfg"})).code, 0);
    const auto start = withoutMapLists(keysOf(readText(work.path() / "start.cfg")));
    const std::string memory = memoryWithoutMapLists(readText(work.path() / "car.txt"));

    struct Way {
        const char* what;
        std::function<CliRun()> cut;
    };
    const Way ways[] = {
        {"Ctrl+C",
         [&] {
             ChildProcess p(BIFUEL_CLI_PATH,
                            onSim({"autocal", "--algorithm", "High R.P.M. calibration"}),
                            work.path(), work.path());
             EXPECT_TRUE(p.waitForOutput("progress: ", 60s)) << p.out() << p.err();
             p.signal(SIGINT);
             const int code = p.exitCode(kCommandDeadline);
             CliRun r{code, p.out(), p.err()};
             EXPECT_NE(r.err.find("stopping, restoring what the ECU had"), std::string::npos)
                 << r.err;
             return r;
         }},
        {"the engine going off",
         [&] {
             std::vector<std::string> args = onSim({"autocal", "--algorithm", "Fast calibration"});
             args.insert(args.begin(), {"--sim-option", "at=40:engine=off"});
             return cli(args);
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.what);
        const CliRun r = way.cut();
        EXPECT_EQ(r.code, 1) << r.out << r.err;
        EXPECT_NE(r.out.find("result: Autocalibration stopped.\n"), std::string::npos)
            << r.out << r.err;
        ASSERT_EQ(cli(onSim({"read", "-o", "after.cfg"})).code, 0);
        const auto after = withoutMapLists(keysOf(readText(work.path() / "after.cfg")));
        EXPECT_EQ(after, start) << differences(start, after);
        EXPECT_EQ(memoryWithoutMapLists(readText(work.path() / "car.txt")), memory);
    }
}

} // namespace
} // namespace bifuel::cli

#endif

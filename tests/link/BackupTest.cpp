// Every complete read of an ECU is kept in Config/Backup before anything can be written.
#include "LinkHarness.h"

#include "files/Backup_Unit.h"
#include "link/Link_Operations.h"

#include <fstream>

namespace bifuel::test {
namespace {

TEST(BackupStamp, IsTheLocalCalendarTime) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "1970-01-01_000000"},
        {951782400, "2000-02-29_000000"}, // a leap day
        {1767225600 + 13 * 3600 + 5 * 60 + 9, "2026-01-01_130509"},
        {1798761599, "2026-12-31_235959"},
        {-1, "1969-12-31_235959"},
    };
    for (const auto& [seconds, stamp] : cases)
        EXPECT_EQ(BackupStamp(seconds), stamp) << seconds;
}

sim::EcuState namedEcu() {
    sim::EcuState s = sim::SimEcu::defaultState();
    s.name = {'S', 'H', 'O', 'P', '7', 0xFF, 0xFF, 0xFF};
    for (auto& point : s.diagram)
        point.gas = static_cast<std::uint16_t>(point.gas + 300);
    return s;
}

class Backups : public LinkHarness {
  protected:
    Backups() : LinkHarness(namedEcu()) {}

    std::vector<std::string> namesOf(const std::string& name) const {
        std::vector<std::string> out;
        for (const BackupEntry& e : ListBackups(ctx.paths)) {
            if (e.name == name) out.push_back(e.path.filename().string());
        }
        return out;
    }
};

TEST_F(Backups, EveryCompleteReadIsKeptWithWhatTheEcuHeld) {
    connect();
    std::vector<std::string> kept = namesOf("SHOP7");
    ASSERT_EQ(kept.size(), 1U);
    KeyFile file;
    ASSERT_TRUE(file.OpenKeyFile(BackupFolder(ctx.paths) / kept[0]));
    ASSERT_TRUE(file.GetKeyInt("Gas_Point_4"));
    EXPECT_EQ(file.Found_Int, ecu.state().diagram[4].gas);
    file.CloseKeyFile();

    // The next read, a few seconds later, is kept as well.
    clock.advance(2000);
    ASSERT_NE(ReadEverything(ctx), 0U);
    ASSERT_TRUE(clock.runUntil([&] { return namesOf("SHOP7").size() == 2 && polling(); }, 20000));
}

TEST_F(Backups, TheOldestOfANameGoBeyondFifty) {
    const std::filesystem::path folder = BackupFolder(ctx.paths);
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 50; ++i) {
        std::ofstream(folder / ("SHOP7_" + BackupStamp(1700000000 + i * 86400) + ".cfg"))
            << "PG_RPM 600 {}\n";
    }
    std::ofstream(folder / ("OTHER_" + BackupStamp(1600000000) + ".cfg")) << "PG_RPM 600 {}\n";
    std::ofstream(folder / "notes.txt") << "the installer's own file\n";
    connect();
    const std::vector<std::string> kept = namesOf("SHOP7");
    ASSERT_EQ(kept.size(), 50U);
    EXPECT_EQ(kept.front(), "SHOP7_" + BackupStamp(1700000000 + 86400) + ".cfg")
        << "the oldest is gone";
    EXPECT_EQ(kept.back(), "SHOP7_" + BackupStamp(clock.localSeconds()) + ".cfg");
    EXPECT_EQ(namesOf("OTHER").size(), 1U);
    EXPECT_TRUE(std::filesystem::exists(folder / "notes.txt"));
}

} // namespace
} // namespace bifuel::test

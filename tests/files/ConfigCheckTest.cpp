// A configuration file with a value the Setup page, the diagram or the map would not allow
// is refused whole, saying where and what is allowed; nothing of it is loaded or sent.
#include "link/LinkHarness.h"

#include "files/SaveLoad_3D_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/Receiver_Unit.h"

#include <fstream>

namespace bifuel::test {
namespace {

struct BadFile {
    const char* what;
    std::string text;
    const char* refusal; // what the message must hold: line, key, value and the rule
};

TEST(ConfigCheck, AFileWithAValueOutOfBoundsIsRefusedWithWhereAndWhatIsAllowed) {
    const BadFile cases[] = {
        {"level above its ten bits", "PG_RPM 600 {}\r\nLevel2 5000 {}\r\n",
         "line 2: Level2 5000 is not allowed; it must be a whole number 0..1023"},
        {"negative level", "Level3 -1 {}\r\n", "line 1: Level3 -1 is not allowed; it must be a whole number 0..1023"},
        {"gas time above the axis", "Gas_Point_3 99999 {}\r\n", "Gas_Point_3 99999 is not allowed; it must be a whole number 0..32000"},
        {"a point below the one before", "Gas_Point_3 10000 {}\r\nGas_Point_4 102 {}\r\n",
         "line 2: Gas_Point_4 102 is not allowed; it must be at least 10000"},
        {"petrol points out of order", "Petrol_Point_1 -2000000000 {}\r\n", "Petrol_Point_1 -2000000000 is not allowed"},
        {"unknown sensor type", "Level_Type banana {}\r\n", "Level_Type banana is not allowed; it must be one of \"RESERVE\""},
        {"unknown prescaler", "RPM_PreScaler 1:9 {}\r\n", "RPM_PreScaler 1:9 is not allowed; it must be one of \"1:1\""},
        {"switch-over speed not in the list", "PG_RPM 650 {}\r\n", "PG_RPM 650 is not allowed"},
        {"map factor of 0", "Cell_3_5 0 {}\r\n", "Cell_3_5 0 is not allowed; it must be a number 0.01..1.99"},
        {"map factor below 0", "Cell_3_5 -0.5 {}\r\n", "Cell_3_5 -0.5 is not allowed"},
        {"MAP point above its byte", "MAP_Gas_1 300000000 {}\r\n", "MAP_Gas_1 300000000 is not allowed; it must be a whole number 0..3264"},
        {"not a boolean", "LPG_on perhaps {}\r\n", "LPG_on perhaps is not allowed; it must be True or False"},
        {"a counter above 24 bits", "Work_Gas 16777216 {}\r\n", "Work_Gas 16777216 is not allowed"},
    };
    TempWorkDir work;
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.what);
        const auto path = work.path() / "CAR.cfg";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        const std::string refusal = CheckConfigFile(path);
        EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
        EXPECT_NE(refusal.find("CAR.cfg"), std::string::npos) << refusal;
    }
}

TEST(ConfigCheck, TheBoundsThemselvesAndAnOldErrorTypeAreAllowed) {
    TempWorkDir work;
    const auto path = work.path() / "CAR.cfg";
    std::ofstream(path, std::ios::binary) << "Level1 1023 {}\r\nLevel2 0 {}\r\nGas_Point_8 32000 {}\r\n"
                                             "Petrol_Point_8 25000 {}\r\nCell_1_1 0.01 {}\r\nCell_8_12 1.99 {}\r\n"
                                             "Rows_12 25.5 {}\r\nLevel_Type Error {}\r\nMAP_Petrol_32 3264 {}\r\n"
                                             "Car_Comments Auto {Nord} Service {}\r\n";
    EXPECT_EQ(CheckConfigFile(path), "");
}

// Whatever the record holds, the first level threshold never touches the flags beside it;
// diagram times never wrap round or set the idle flag.
TEST(ConfigCheck, EncodersHoldEveryValueToItsField) {
    VirtualScheduler clock;
    sim::MemoryLine line(clock);
    TempWorkDir work;
    Context ctx(clock, line.host(), work.paths(false));
    ctx.config.Level1 = 5000;
    ctx.config.Level_Invert = false;
    ctx.config.Level_90 = false;
    ctx.config.Level_Buzzer = false;
    ctx.config.GP_Buzzer = false;
    EXPECT_EQ(EncodeParameter(ctx, 0x54), (WordBytes{0x03, 0x88})) << "the low ten bits, no flag";
    // No temperature table here: what is scaled by a temperature goes back as it came.
    ctx.link.Raw_Params[0x96] = 0x1234;
    ctx.config.ACB_Corr_96 = 5;
    EXPECT_EQ(EncodeParameter(ctx, 0x96), (WordBytes{0x12, 0x34}));
    ctx.diagram.Gas_Point[3] = 99999;
    ctx.diagram.Petrol_Point[5] = 40000;
    ctx.diagram.Idle_Point = 2;
    const std::vector<std::uint8_t>& list = DiagramWriteList();
    std::vector<WordBytes> items;
    for (const std::uint8_t code : list) items.push_back(EncodeDiagramItem(ctx, code));
    EXPECT_NE(std::find(items.begin(), items.end(), WordBytes{0xFF, 0xFF}), items.end()) << "gas held to a word";
    EXPECT_NE(std::find(items.begin(), items.end(), WordBytes{0x7F, 0xFF}), items.end())
        << "petrol held below the idle flag";
}

} // namespace
} // namespace bifuel::test

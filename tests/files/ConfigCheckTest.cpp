// A configuration file with a value the ECU cannot hold is refused whole, saying where and
// what is allowed; nothing of it is loaded or sent.
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
        {"level 1 above its ten bits", "PG_RPM 600 {}\r\nLevel1 5000 {}\r\n",
         "line 2: Level1 5000 is not allowed; it must be a whole number 0..1023"},
        {"negative level", "Level3 -1 {}\r\n",
         "line 1: Level3 -1 is not allowed; it must be a whole number 0..65535"},
        {"gas time above its word", "Gas_Point_3 99999 {}\r\n",
         "Gas_Point_3 99999 is not allowed; it must be a whole number 0..65535"},
        {"petrol time below 0", "Petrol_Point_1 -2000000000 {}\r\n",
         "Petrol_Point_1 -2000000000 is not allowed"},
        {"unknown sensor type", "Level_Type banana {}\r\n",
         "Level_Type banana is not allowed; it must be one of \"RESERVE\""},
        {"a prescaler that is no position", "RPM_PreScaler 1:300 {}\r\n",
         "RPM_PreScaler 1:300 is not allowed; it must be 1:N with N a whole number 0..255"},
        {"a switch-over speed beyond the period's reach", "PG_RPM 9000 {}\r\n",
         "PG_RPM 9000 is not allowed; it must be a whole number 0..8000"},
        {"map factor above its byte", "Cell_3_5 2.5 {}\r\n",
         "Cell_3_5 2.5 is not allowed; it must be a number 0.00..1.99"},
        {"map factor below 0", "Cell_3_5 -0.5 {}\r\n", "Cell_3_5 -0.5 is not allowed"},
        {"MAP point above its byte", "MAP_Gas_1 300000000 {}\r\n",
         "MAP_Gas_1 300000000 is not allowed; it must be a whole number 0..3264"},
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

// Every value an ECU can hold is a value a file may hold, whatever the Setup page's lists
// offer; integers follow the key-value reader ($hex), and a boolean that is neither True
// nor False says nothing.
TEST(ConfigCheck, TheBoundsThemselvesAndValuesOffThePagesListsAreAllowed) {
    TempWorkDir work;
    const auto path = work.path() / "CAR.cfg";
    std::ofstream(path, std::ios::binary)
        << "Level1 1023 {}\r\nLevel2 5000 {}\r\nGas_Point_8 32000 {}\r\n"
           "Petrol_Point_8 25000 {}\r\nCell_1_1 0.00 {}\r\nCell_8_12 1.99 {}\r\n"
           "Rows_12 25.5 {}\r\nLevel_Type Error {}\r\nMAP_Petrol_32 3264 {}\r\n"
           "Car_Comments Auto {Nord} Service {}\r\nPG_Temper 56 {}\r\n"
           "PG_RPM 650 {}\r\nRPM_PreScaler 1:7 {}\r\nPG_Time $7 {}\r\n"
           "LPG_on perhaps {}\r\nLevel_Buzzer 1 {}\r\nRPM_PreScaler {}\r\n"
           "PG_Temper_Code 65535 {}\r\n";
    EXPECT_EQ(CheckConfigFile(path), "");
}

// Diagram times never wrap round or set the idle flag, whatever the record holds.
TEST(ConfigCheck, EncodersHoldEveryValueToItsField) {
    VirtualScheduler clock;
    sim::MemoryLine line(clock);
    TempWorkDir work;
    Context ctx(clock, line.host(), work.paths(false));
    // No temperature table here: a correction scaled by a temperature nobody knows goes
    // back as it came; changed, it has nothing to be scaled by and cannot go at all.
    ctx.config.ACB_Temper = kTemperatureUnknown;
    ctx.link.Raw_Params[0x95] = 0x02D3;
    ctx.link.Raw_Params[0x96] = 0x1234;
    ctx.config.ACB_Corr_96 = *SignedPercentFromByte(0x12);
    EXPECT_EQ(EncodeParameter(ctx, 0x96), (WordBytes{0x12, 0x34}));
    ctx.config.ACB_Corr_96 += 1;
    const auto changed = EncodeParameter(TakeImage(ctx), ctx.temperatureTable(), 0x96);
    ASSERT_TRUE(std::holds_alternative<ParamFault>(changed));
    EXPECT_EQ(std::get<ParamFault>(changed).key, "ACB_Temper");
    ctx.diagram.Gas_Point[3] = 99999;
    ctx.diagram.Petrol_Point[5] = 40000;
    ctx.diagram.Idle_Point = 2;
    const std::vector<std::uint8_t>& list = DiagramWriteList();
    std::vector<WordBytes> items;
    for (const std::uint8_t code : list)
        items.push_back(EncodeDiagramItem(ctx, code));
    EXPECT_NE(std::find(items.begin(), items.end(), WordBytes{0xFF, 0xFF}), items.end())
        << "gas held to a word";
    EXPECT_NE(std::find(items.begin(), items.end(), WordBytes{0x7F, 0xFF}), items.end())
        << "petrol held below the idle flag";
}

} // namespace
} // namespace bifuel::test

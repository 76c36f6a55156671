#include "MapFixture.h"

#include "data/Calc_Unit.h"
#include "files/SaveLoad_3D_Unit.h"

#include <tuple>

namespace bifuel::test {
namespace {

using MapModel = MapFixture;

TEST_F(MapModel, ResetGivesTheDefaultTextsNoMarksAndTheDefaultStream) {
    text(3, 4) = "1.50";
    text(2, 0) = "700";
    ResetMap(ctx);
    EXPECT_EQ(text(0, 0), "ms\\rpm");
    const char* rpm[] = {"0", "500", "1000", "1500", "2000", "2500", "3000", "4000"};
    for (int c = 1; c <= 8; ++c)
        EXPECT_EQ(text(c, 0), rpm[c - 1]);
    const char* ms[] = {"0.0", "1.0", "2.0",  "3.0",  "4.0",  "5.0",
                        "7.0", "9.0", "12.0", "15.0", "18.0", "22.0"};
    for (int r = 1; r <= 12; ++r)
        EXPECT_EQ(text(0, r), ms[r - 1]);
    EXPECT_EQ(text(3, 4), "1.00");
    EXPECT_EQ(marked(kMarkPlain).size(), 9u * 13u);
    EXPECT_EQ(EncodeMapStream(ctx), DefaultMapStream());
    // 607 x 444 panel: cells of 66 x 33, centred.
    EXPECT_EQ(CellX(ctx.mapView, 0), 6);
    EXPECT_EQ(CellY(ctx.mapView, 12), 7 + 12 * 33);
    EXPECT_EQ(ctx.mapView.Cell_Width, 66);
}

TEST(MapBytes, EveryFactorIsSentAsTheSmallestByteThatReadsBackAsIt) {
    EXPECT_EQ(FactorToByte(100), 128);
    EXPECT_EQ(FactorToByte(199), 255);
    EXPECT_EQ(ByteToFactor(128), 100);
    EXPECT_EQ(ByteToFactor(255), 199);
    for (int f = 1; f <= 199; ++f) {
        const std::uint8_t b = FactorToByte(f);
        EXPECT_EQ(ByteToFactor(b), f) << f;
        EXPECT_LT(ByteToFactor(static_cast<std::uint8_t>(b - 1)), f) << f;
    }
}

// A decimal text must give its exact hundredths: a plain product turns "0.29" into 28.
TEST_F(MapModel, TextsGiveTheirExactHundredthsAndTenths) {
    for (int f = 1; f <= 199; ++f) {
        text(1 + f % 8, 1 + f % 12) = Hundredths(f);
        TextsToValues(ctx);
        EXPECT_EQ(ctx.rpmMap.Map_Value[1 + f % 8][1 + f % 12], f) << Hundredths(f);
    }
    for (int t = 0; t <= 255; ++t) {
        text(0, 12) = TenthsToText(t);
        TextsToValues(ctx);
        EXPECT_EQ(ctx.rpmMap.Map_Value[0][12], t) << text(0, 12);
    }
    ResetMap(ctx);
    text(2, 2) = "1,15";  // typed with a comma
    text(3, 3) = "1.239"; // more decimals than a factor has: cut, not rounded
    text(4, 4) = "abc";   // not a number: the value stays
    TextsToValues(ctx);
    EXPECT_EQ(ctx.rpmMap.Map_Value[2][2], 115);
    EXPECT_EQ(ctx.rpmMap.Map_Value[3][3], 123);
    EXPECT_EQ(ctx.rpmMap.Map_Value[4][4], 100);
}

struct StepCase {
    const char* what;
    std::vector<std::tuple<int, int, const char*>> texts; // set before the step
    std::pair<int, int> cell;
    int step;
    const char* expected;
};

TEST_F(MapModel, StepSelectedKeepsEveryCellWithinItsLimits) {
    const StepCase cases[] = {
        {"factor up", {}, {3, 5}, +1, "1.01"},
        {"factor at the top", {{3, 5, "1.99"}}, {3, 5}, +1, "1.99"},
        {"factor at the bottom", {{3, 5, "0.01"}}, {3, 5}, -1, "0.01"},
        {"factor with an inexact product", {{3, 5, "0.29"}}, {3, 5}, -1, "0.28"},
        {"column 1 up from 0", {{2, 0, "1000"}}, {1, 0}, +1, "500"},
        {"column 1 down from 500", {{1, 0, "500"}, {2, 0, "1000"}}, {1, 0}, -1, "0"},
        {"column 1 up, next at 500", {}, {1, 0}, +1, "0"},
        {"column 2 down onto a 0 neighbour", {}, {2, 0}, -1, "500"},
        {"column down onto its neighbour", {{3, 0, "600"}}, {3, 0}, -1, "600"},
        {"column up onto its neighbour", {{3, 0, "1400"}}, {3, 0}, +1, "1400"},
        {"column down", {}, {3, 0}, -1, "900"},
        {"last column to the top", {{8, 0, "7900"}}, {8, 0}, +1, "8000"},
        {"last column at the top", {{8, 0, "8000"}}, {8, 0}, +1, "8000"},
        {"first row at 0", {}, {0, 1}, -1, "0.0"},
        {"row down onto its neighbour", {{0, 2, "0.1"}}, {0, 2}, -1, "0.1"},
        {"row up onto its neighbour", {{0, 6, "4.1"}}, {0, 5}, +1, "4.0"},
        {"last row up", {}, {0, 12}, +1, "22.1"},
        {"last row at the top", {{0, 12, "23.0"}}, {0, 12}, +1, "23.0"},
    };
    for (const StepCase& k : cases) {
        SCOPED_TRACE(k.what);
        ResetMap(ctx);
        for (const auto& [c, r, t] : k.texts)
            text(c, r) = t;
        ctx.rpmMap.Map_Mark[k.cell.first][k.cell.second] = kMarkSelected;
        StepSelected(ctx, k.step);
        EXPECT_EQ(text(k.cell.first, k.cell.second), k.expected);
    }
}

TEST_F(MapModel, StepSeesNeighboursAlreadyChangedInTheSameScan) {
    text(0, 2) = "1.0";
    text(0, 3) = "1.1";
    ctx.rpmMap.Map_Mark[0][2] = kMarkSelected;
    ctx.rpmMap.Map_Mark[0][3] = kMarkSelected;
    StepSelected(ctx, -1);
    EXPECT_EQ(text(0, 2), "0.9");
    EXPECT_EQ(text(0, 3), "1.0"); // against the old 1.0 above it, it could not move
}

TEST_F(MapModel, MarksShowWhatDiffersFromTheDefaults) {
    text(3, 0) = "1100";
    text(0, 4) = "3.0"; // the default, written again
    text(0, 5) = "4.1";
    text(2, 2) = "1,00";
    text(2, 3) = "0.99";
    UpdateMarks(ctx);
    EXPECT_EQ(marked(kMarkChanged), (Cells{{3, 0}, {0, 5}, {2, 3}}));
    EXPECT_TRUE(ctx.mapView.Cells[2][3].frameVisible);
    EXPECT_EQ(ctx.mapView.Cells[2][3].frameColour, colour(Colour::Txt_Not_Default));
    EXPECT_FALSE(ctx.mapView.Cells[2][2].frameVisible);
}

TEST_F(MapModel, ClearFactorsTouchesTheSelectionOrElseEveryFactor) {
    text(2, 2) = "1.50";
    text(3, 3) = "0.50";
    text(3, 0) = "1100";
    UpdateMarks(ctx);
    ctx.rpmMap.Map_Mark[2][2] = kMarkSelected;
    ctx.rpmMap.Map_Mark[3][0] = kMarkSelected;
    ClearFactors(ctx);
    EXPECT_EQ(text(2, 2), "1.00");
    EXPECT_EQ(text(3, 3), "0.50");
    EXPECT_EQ(text(3, 0), "1100"); // a selected header keeps its text
    EXPECT_TRUE(marked(kMarkSelected).empty());

    ClearFactors(ctx); // nothing selected: every factor
    EXPECT_EQ(text(3, 3), "1.00");
    EXPECT_EQ(text(3, 0), "1100");
}

TEST_F(MapModel, ButtonsResetAndRequestAMapWriteButNotDuringAWrite) {
    for (const bool writing : {true, false}) {
        SCOPED_TRACE(writing);
        ctx.link.Pending_Request = Request::None;
        ctx.link.ECU_Connected = true;
        ctx.link.Write_Running = writing;
        text(2, 2) = "1.50";
        text(4, 0) = "1600";
        HudButton_3D_MapRPM_ClearClick(ctx);
        EXPECT_EQ(text(2, 2), writing ? "1.50" : "1.00");
        EXPECT_EQ(text(4, 0), "1600");
        EXPECT_EQ(ctx.link.Pending_Request, writing ? Request::None : Request::WriteMap);
        ctx.link.Pending_Request = Request::None;
        HudButton_3D_MapRPM_DefaultClick(ctx);
        EXPECT_EQ(text(4, 0), writing ? "1600" : "1500");
        EXPECT_EQ(ctx.link.Pending_Request, writing ? Request::None : Request::WriteMap);
    }
}

TEST_F(MapModel, DecodeReadsTheReportedSizeAndLeavesTheRestAlone) {
    // A full 8 x 12 stream as the ECU sends it: 0 rpm as FF FF, factor 199 as 255.
    Bytes full = DefaultMapStream();
    full.erase(full.begin(), full.begin() + 2);
    full[2] = 0x1D; // column 2: 30000000 / 0x1D4C = 4000 rpm
    full[3] = 0x4C;
    full[16 + 3] = 0xFF;      // row 4: 25.5 ms
    full[28 + 12 + 4] = 0xFF; // column 2, row 5
    full[28 + 95] = 2;        // column 8, row 12: 0.01
    MapTransfer& t = ctx.link.Map;
    t.Read_Cols = 8;
    t.Read_Rows = 12;
    t.Read_Stream = full;
    DecodeMapStream(ctx);
    EXPECT_EQ(text(1, 0), "0");
    EXPECT_EQ(text(2, 0), "4000");
    EXPECT_EQ(text(0, 4), "25.5");
    EXPECT_EQ(text(2, 5), "1.99");
    EXPECT_EQ(text(8, 12), "0.01");
    EXPECT_EQ(mark(2, 5), kMarkChanged);

    // A 2 x 3 map: 3 x 2 + 2 x 2 + 3 = 13 bytes; the rest of the grid keeps its values.
    t.Read_Cols = 2;
    t.Read_Rows = 3;
    t.Read_Stream = {0x75, 0x30, 0x3A, 0x98, 5, 6, 7, 0x80, 0x81, 0x82, 0x83, 0x84, 0x85};
    DecodeMapStream(ctx);
    EXPECT_EQ(text(1, 0), "1000");
    EXPECT_EQ(text(2, 0), "2000");
    EXPECT_EQ(text(3, 0), "1000"); // untouched
    EXPECT_EQ(text(0, 3), "0.7");
    EXPECT_EQ(text(0, 4), "25.5");
    EXPECT_EQ(text(2, 3), Hundredths(0x85 * 25 / 32));
    EXPECT_EQ(text(8, 12), "0.01");

    t.Read_Stream[1] = 0x98;  // would read as 996 rpm
    t.Read_Stream.pop_back(); // short of the reported size: nothing is decoded
    DecodeMapStream(ctx);
    EXPECT_EQ(text(1, 0), "1000");
    EXPECT_EQ(text(2, 3), Hundredths(0x85 * 25 / 32));
}

TEST_F(MapModel, ConfigurationFileKeepsTheMap) {
    ctx.settings.CFG_File_Name = "CAR01";
    ctx.settings.CFG_Full_File_Name = (ctx.paths.Config_Dir / "CAR01.cfg").string();
    text(3, 0) = "1600";
    text(0, 5) = "4.5";
    text(1, 1) = "0.29";
    text(8, 12) = "1.99";
    const Bytes edited = EncodeMapStream(ctx);
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    KeyFile saved;
    ASSERT_TRUE(saved.OpenKeyFile(ctx.settings.CFG_Full_File_Name));
    const std::pair<const char*, const char*> keys[] = {
        {"Cols_Number", "8"}, {"Rows_Number", "12"}, {"Cols_3", "1600"},  {"Rows_5", "4.5"},
        {"Cell_0_0", "0.29"}, {"Cell_7_11", "1.99"}, {"Cell_4_6", "1.00"}};
    for (const auto& [key, value] : keys) {
        EXPECT_TRUE(saved.FindKey(key)) << key;
        EXPECT_EQ(saved.Found_Value, value) << key;
    }
    saved.CloseKeyFile();

    ResetMap(ctx);
    ASSERT_TRUE(LoadConfigFile(ctx));
    EXPECT_EQ(EncodeMapStream(ctx), edited);
    EXPECT_EQ(text(1, 1), "0.29");
    EXPECT_EQ(mark(3, 0), kMarkChanged);
}

TEST_F(MapModel, LoadTakesOnlyUsableValues) {
    KeyFile file;
    file.OpenFromText("Cols_2 700\r\n"
                      "Cols_8 99999\r\n" // beyond what the ECU holds
                      "Rows_3 abc\r\n"   // not a number: the value stays
                      "Rows_4 2,5\r\n"
                      "Cell_0_0 5.00\r\n"
                      "Cell_1_1 -0.50\r\n"
                      "Cell_2_2 0.57\r\n");
    text(0, 3) = "1.5"; // a text not yet taken into the values does not survive a load
    LoadMapKeys(ctx, file);
    EXPECT_EQ(text(2, 0), "700");
    EXPECT_EQ(text(8, 0), "8000");
    EXPECT_EQ(text(0, 3), "2.0");
    EXPECT_EQ(text(0, 4), "2.5");
    EXPECT_EQ(text(1, 1), "1.99");
    EXPECT_EQ(text(2, 2), "0.00");
    EXPECT_EQ(text(3, 3), "0.57");
    EXPECT_EQ(text(5, 5), "1.00"); // absent
}

TEST_F(MapModel, NothingIsSavedForAMapNeverReadLoadedOrReset) {
    Context fresh{clock, line.host(), work.paths(false)};
    KeyFile file;
    file.OpenFromText("Cell_0_0 1.20\r\n");
    SaveMapKeys(fresh, file);
    EXPECT_EQ(file.Key_List.size(), 1u);
    EXPECT_EQ(file.Value_List[0], "1.20");
}

} // namespace
} // namespace bifuel::test

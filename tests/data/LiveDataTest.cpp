#include "Context.h"
#include "MemoryLine.h"
#include "data/Dynamic_IND_Unit.h"
#include "data/Live_Data.h"
#include "files/Language.h"
#include "link/Main_Window.h"
#include "runtime/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <unistd.h>

namespace bifuel {
namespace {

// A live reply under construction; data bytes at their frame offsets, the checksum last
// (the decoder gets only valid replies and does not look at it).
struct LiveFrame {
    std::array<std::uint8_t, kLiveDataBytes + 3> bytes{25, 0x23};

    LiveFrame& word(std::size_t at, int value) {
        bytes[at] = static_cast<std::uint8_t>(value >> 8);
        bytes[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
        return *this;
    }
    LiveFrame& petrol(int c1, int c2, int c3, int c4) {
        return word(20, c1).word(22, c2).word(24, c3).word(26, c4);
    }
    LiveFrame& gas(int c1, int c2, int c3, int c4) {
        return word(28, c1).word(30, c2).word(32, c3).word(34, c4);
    }
    LiveFrame& status(std::uint8_t bits) {
        bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | bits);
        return *this;
    }
    LiveFrame& mode(std::uint8_t m) {
        bytes[38] = m;
        return *this;
    }
    LiveFrame& errors(std::uint8_t e1, std::uint8_t e2) {
        bytes[36] = e1;
        bytes[37] = e2;
        return *this;
    }
};

class LiveDataTest : public ::testing::Test {
  protected:
    LiveDataTest() {
        ctx.link.Main_Shown = true;
        ctx.link.ECU_Connected = true;
        ctx.link.Ident.Firmware_Version = 254;
        // A small table: code i reads as i tenths of a degree.
        std::filesystem::create_directories(dir);
        std::ofstream out(ctx.paths.Dat_Name, std::ios::binary);
        for (int i = 0; i < 1024; ++i) {
            const char le[2] = {static_cast<char>(i & 0xFF), static_cast<char>(i >> 8)};
            out.write(le, 2);
        }
    }
    ~LiveDataTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    void decode(const LiveFrame& f) { DecodeLiveData(ctx, f.bytes); }
    std::vector<std::string> ring() const {
        std::vector<std::string> out;
        for (int i = 1; i <= ctx.dynamicInd.Count; ++i)
            out.push_back(ctx.dynamicInd.Texts[i]);
        return out;
    }
    static LiveFrame running() { return LiveFrame{}.status(0xC0).mode(1); }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        // Test programs run side by side: the process id keeps their folders apart.
        ("bifuel-live-" + std::to_string(::getpid()) + "-" +
         std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host(), MakePaths(dir, "bifuel-studio")};
};

TEST_F(LiveDataTest, DecodesTheValuesOfTheFrame) {
    LiveFrame f = running();
    f.word(2, 37500).word(4, 0x0190).word(8, 0x0296).word(10, 0x1F4).word(12, 0x050).word(18, 700);
    f.bytes[6] = 0xC0 | 0x01; // status bits share the byte with the gas temperature code
    f.bytes[7] = 0xA0;
    f.petrol(2800, 2800, 2900, 2900);
    decode(f);
    const LiveData& live = ctx.live;
    EXPECT_EQ(live.Live_RPM, 800);
    EXPECT_EQ(live.Live_TempVap, 0x190);
    EXPECT_EQ(live.Live_TempGas, 0x1A0);
    EXPECT_EQ(live.Live_Level, 0x296);
    EXPECT_EQ(live.Live_PressDiff, live.Live_PressVap - live.Live_PressColl);
    EXPECT_EQ(live.Live_Value18, 1400);
    EXPECT_EQ(live.Live_Petrol_Avg, 2850);
    EXPECT_EQ(live.Work_Mode, 1);
    EXPECT_EQ(ctx.dataView.HudLabel_IND_RPM_Data.text, "800");
    EXPECT_EQ(ctx.dataView.HudLabel_IND_TempVap_Data.text, "40.0");
}

// At start-up the decoder runs once over the empty reply: every indicator shows zero, and
// nothing is read from the frame buffer, whatever it holds.
TEST_F(LiveDataTest, EmptyReplyAtStartUpPutsZerosOnTheIndicators) {
    ctx.link.RX_Frame.fill(0x5A);
    DecodeLiveData(ctx, ReceivedReply(ctx.link));
    const DataView& v = ctx.dataView;
    for (const ViewControl* c : {&v.HudLabel_IND_Petrol_Data, &v.HudLabel_IND_Gas_Data,
                                 &v.HudLabel_IND_PressVap_Data, &v.HudLabel_IND_PressColl_Data,
                                 &v.HudLabel_IND_PressDiff_Data, &v.HudNumberBox_CFG_LevelGas}) {
        EXPECT_EQ(c->text, "0.00");
    }
    EXPECT_EQ(v.HudLabel_IND_RPM_Data.text, "0");
    EXPECT_EQ(v.HudLabel_IND_TempVap_Data.text, "0.0");
    EXPECT_EQ(v.HudLabel_IND_TempGas_Data.text, "0.0");
    EXPECT_EQ(ctx.live.Work_Mode, 0);
    EXPECT_TRUE(ring().empty());
    EXPECT_TRUE(v.HudMemo_CFG_Errors.empty());
}

// A reply that stops before the working mode (an ECU announcing a short L1) must not be
// read at all: its values, status bits and error bytes stay as the last full reply left
// them, and auto-calibration gets no sample from it.
TEST_F(LiveDataTest, ReplyWithoutEveryValueChangesNothing) {
    decode(running().mode(4).word(2, 37500).petrol(3000, 3000, 3000, 3000));
    const LiveData before = ctx.live;
    const auto listBefore = ctx.dataView.HudMemo_CFG_Errors;
    const LiveFrame other =
        running().status(0x20).mode(1).word(2, 7500).petrol(9000, 0, 0, 0).errors(0x01, 0x0C);
    for (const std::size_t length :
         {std::size_t{0}, std::size_t{3}, std::size_t{13}, other.bytes.size() - 1}) {
        SCOPED_TRACE(length);
        DecodeLiveData(ctx, std::span(other.bytes.data(), length));
        EXPECT_EQ(ctx.live.Live_RPM, before.Live_RPM);
        EXPECT_EQ(ctx.live.Work_Mode, before.Work_Mode);
        EXPECT_EQ(ctx.live.Live_Petrol_Avg, before.Live_Petrol_Avg);
        EXPECT_EQ(ctx.live.Petrol_Windows[0].count, before.Petrol_Windows[0].count);
        EXPECT_EQ(ctx.live.Error_Flags2, before.Error_Flags2);
        EXPECT_EQ(ctx.dataView.HudMemo_CFG_Errors, listBefore);
        EXPECT_TRUE(ring().empty());
        EXPECT_EQ(ctx.dataView.HudLabel_IND_RPM_Data.text, "800");
    }
    decode(other);
    EXPECT_EQ(ctx.live.Live_RPM, 4000);
    EXPECT_EQ(ctx.live.Error_Flags2, 0x0C);
}

TEST_F(LiveDataTest, AveragesCountOnlyCylindersThatInject) {
    decode(running());
    EXPECT_EQ(ctx.live.Live_Petrol_Avg, 0);
    EXPECT_EQ(ctx.live.Live_Petrol_Smooth, 0);
    EXPECT_EQ(ctx.live.Live_Gas_Avg, 0);
    decode(running().petrol(3000, 3000, 3000, 0));
    EXPECT_EQ(ctx.live.Live_Petrol_Avg, 3000);
    EXPECT_EQ(ctx.live.Petrol_Windows[3].count, 0) << "a zero sample is not kept while filling";
    EXPECT_EQ(ctx.live.Petrol_Windows[0].count, 1);
}

TEST_F(LiveDataTest, ReducerBelowManifoldGivesNoNegativeDifference) {
    decode(running().word(10, 0x050).word(12, 0x1F4));
    EXPECT_EQ(ctx.live.Live_PressDiff, 0);
}

TEST_F(LiveDataTest, SmoothedTimeIsTheMeanOfTheTwentySamplesBeforeTheNewOne) {
    for (int i = 1; i <= 20; ++i)
        decode(running().petrol(1000 * i, 0, 0, 0));
    EXPECT_EQ(ctx.live.Live_Petrol_Smooth, 20000) << "still filling: the sample itself";
    decode(running().petrol(60000, 0, 0, 0));
    EXPECT_EQ(ctx.live.Live_Petrol_Smooth, 10500); // mean of 1000..20000
    decode(running().petrol(0, 0, 0, 0));
    EXPECT_EQ(ctx.live.Live_Petrol_Smooth, 0) << "no cylinder injects: nothing to divide by";
    EXPECT_EQ(ctx.live.Petrol_Windows[0].smoothed, (2000 + 20000) * 19 / 2 / 20 + 60000 / 20);
}

TEST_F(LiveDataTest, PetrolTimesAreKeptApartForGasAndPetrolAndGasWindowsRestart) {
    decode(running().mode(4).petrol(5000, 5000, 5000, 5000).gas(6000, 6000, 6000, 6000));
    decode(running().mode(1).petrol(4000, 4000, 4000, 4000).gas(0, 0, 0, 0));
    EXPECT_EQ(ctx.live.Live_Petrol_On_Gas[1], 5000);
    EXPECT_EQ(ctx.live.Live_Petrol_On_Petrol[1], 4000);
    EXPECT_EQ(ctx.live.Gas_Windows[0].count, 0);
    EXPECT_EQ(ctx.live.Gas_Windows[0].smoothed, 6000) << "the last smoothed value stays";
}

TEST_F(LiveDataTest, EngineStoppingAndStartingAgain) {
    decode(running());
    EXPECT_TRUE(ring().empty());
    decode(running().status(0x40));
    EXPECT_EQ(ring(), std::vector<std::string>{"Engine off"});
    EXPECT_EQ(ctx.dynamicInd.Colors[1], ctx.colours.ColourOf(Colour::Txt_Error));
    decode(running());
    EXPECT_TRUE(ring().empty());
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.text, "Engine on");
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.colour, ctx.colours.ColourOf(Colour::Txt_Complete));
    clock.advance(2000);
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.text, WorkTimeText(ctx));
}

TEST_F(LiveDataTest, LowPressureStaysInTheRingUntilPressureIsNormal) {
    decode(running().status(0x80));
    decode(running().status(0x80));
    EXPECT_EQ(ring(), std::vector<std::string>{"Low pressure"});
    decode(running());
    EXPECT_TRUE(ring().empty());
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.text, "Normal pressure");
}

TEST_F(LiveDataTest, DataSavedClosesTheWaitWindow) {
    ctx.view.TForm_3D_Wait = WaitForm::Corner;
    decode(running().status(0xC0 | 0x10));
    EXPECT_EQ(ctx.view.TForm_3D_Wait, WaitForm::Hidden);
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.text, "Save data in memory");
    decode(running().status(0xC0 | 0x20));
    EXPECT_EQ(ring(), std::vector<std::string>{"Set idling run or switch to petrol"});
}

TEST_F(LiveDataTest, ErrorBytesFillTheListAndTheRing) {
    decode(running());
    EXPECT_EQ(ctx.dataView.HudMemo_CFG_Errors,
              (std::vector<std::string>{"Errors are not present.", "The ECU works normally."}));
    decode(running().errors(0, 0x0C));
    EXPECT_EQ(ctx.dataView.HudMemo_CFG_Errors,
              (std::vector<std::string>{"Broken seal system. Gas leakage.",
                                        "Short-circuit gas injectors"}));
    EXPECT_EQ(ring(), std::vector<std::string>{"ERROR"});
    decode(running().errors(0, 0x0C));
    decode(running());
    EXPECT_EQ(ctx.dataView.HudMemo_CFG_Errors,
              (std::vector<std::string>{"Errors are not present.", "The ECU works normally."}));
    EXPECT_TRUE(ring().empty());
}

TEST_F(LiveDataTest, FirmwareWithoutPressureSensorsIgnoresTheirErrorBits) {
    ctx.link.Ident.Firmware_Version = 160;
    decode(running());
    const auto before = ctx.dataView.HudMemo_CFG_Errors;
    decode(running().errors(0x10, 0x11));
    EXPECT_EQ(ctx.dataView.HudMemo_CFG_Errors, before);
    EXPECT_TRUE(ring().empty());
    ctx.link.Ident.Firmware_Version = 254;
    decode(running().errors(0x10, 0x11));
    EXPECT_EQ(ctx.dataView.HudMemo_CFG_Errors.size(), 3u);
}

TEST_F(LiveDataTest, NoStatusOrErrorsWhileNotConnected) {
    ctx.link.ECU_Connected = false;
    decode(LiveFrame{}.errors(0xFF, 0xFF));
    EXPECT_TRUE(ring().empty());
    EXPECT_TRUE(ctx.dataView.HudMemo_CFG_Errors.empty());
}

TEST_F(LiveDataTest, WorkTimeTextShowsHours) {
    ctx.config.Work_Gas = 90;
    ctx.config.Work_Petrol = 6789;
    EXPECT_EQ(WorkTimeText(ctx), "Gas : 1.50 hours\n\rPetrol : 113.15 hours");
    RotateStatus(ctx);
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.text, WorkTimeText(ctx));
}

struct LampCase {
    bool invert;
    int level;
    std::array<bool, 6> lit; // lamps 0..5: lit in the gas colour, or red for lamp 0
};

TEST_F(LiveDataTest, LevelLampsInGasMode) {
    ctx.config.Level1 = 55;
    ctx.config.Level2 = 104;
    ctx.config.Level3 = 147;
    ctx.config.Level4 = 184;
    ctx.config.Level5 = 248;
    const LampCase cases[] = {
        {false, 150, {false, true, true, true, false, false}},
        {false, 20, {true, false, false, false, false, false}},
        {false, 300, {false, true, true, true, true, true}},
        {true, 150, {false, false, false, false, true, true}},
        {true, 300, {true, false, false, false, false, false}},
    };
    const std::string gas = ctx.colours.ColourOf(Colour::Gas);
    for (const LampCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.level) + (c.invert ? " inverted" : ""));
        ctx.config.Level_Invert = c.invert;
        decode(running().mode(4).word(8, c.level));
        const auto& lamps = ctx.dataView.Circle_LevelGas;
        EXPECT_EQ(lamps[0].colour, c.lit[0] ? "#FFFF0000" : ctx.dataView.Form_Fill_Colour);
        for (std::size_t i = 1; i <= 5; ++i) {
            EXPECT_EQ(lamps[i].colour == gas, c.lit[i]) << "lamp " << i;
        }
        EXPECT_FALSE(lamps[6].visible);
        EXPECT_TRUE(ctx.dataView.HudNumberBox_CFG_LevelGas.visible);
        EXPECT_EQ(ctx.dataView.HudLabel_Work_Mode.text, "Gas");
    }
}

TEST_F(LiveDataTest, AutomaticModeBlinksTheSwitchLamp) {
    decode(running().mode(2));
    const std::string gas = ctx.colours.ColourOf(Colour::Gas);
    const auto& lamp5 = ctx.dataView.Circle_LevelGas[5];
    EXPECT_EQ(lamp5.colour, gas);
    EXPECT_EQ(ctx.dataView.Circle_LevelGas[6].colour, ctx.colours.ColourOf(Colour::Petrol));
    EXPECT_EQ(ctx.dataView.HudLabel_Work_Mode.text, "Automat");
    clock.advance(500);
    EXPECT_EQ(lamp5.colour, ctx.dataView.Form_Fill_Colour);
    decode(running().mode(2)); // while blinking, another automatic reply changes nothing
    EXPECT_EQ(lamp5.colour, ctx.dataView.Form_Fill_Colour);
    clock.advance(500);
    EXPECT_EQ(lamp5.colour, gas);
    decode(running().mode(1));
    EXPECT_FALSE(ctx.timers.Timer_LevelGas->isRunning());
    EXPECT_EQ(lamp5.colour, ctx.dataView.Form_Fill_Colour);
}

// The table file is looked at once per second of the link's clock: a change shows within
// that second, not at the very next reply.
TEST_F(LiveDataTest, MissingTemperatureTableGivesZeroAndOneMessagePerOutage) {
    const auto table = ctx.paths.Dat_Name;
    const auto kept = dir / "kept.dat";
    decode(running().word(4, 0x190));
    std::filesystem::rename(table, kept);
    decode(running().word(4, 0x190));
    EXPECT_EQ(ctx.live.Live_TempVap, 0x190) << "looked at again within the second";
    clock.advance(1000);
    decode(running().word(4, 0x190));
    decode(running().word(4, 0x190));
    EXPECT_EQ(ctx.live.Live_TempVap, 0);
    ASSERT_EQ(ctx.view.Messages.size(), 1u);
    EXPECT_EQ(ctx.view.Messages[0].type, 12);
    EXPECT_EQ(ctx.view.Messages[0].text, "\"bifuel-studio.dat\" file not found. Temperature ERROR");
    std::filesystem::rename(kept, table);
    clock.advance(1000);
    decode(running().word(4, 0x190));
    EXPECT_EQ(ctx.live.Live_TempVap, 0x190);
    std::filesystem::remove(table);
    clock.advance(1000);
    decode(running().word(4, 0x190));
    EXPECT_EQ(ctx.view.Messages.size(), 2u);
}

TEST(StatusRing, AddRemoveAndRotate) {
    VirtualScheduler clock;
    sim::MemoryLine line(clock);
    Context ctx(clock, line.host());
    AddStatus(ctx, Colour::Txt_Information, "one");
    AddStatus(ctx, Colour::Txt_Error, "two");
    AddStatus(ctx, Colour::Txt_Error, "one"); // already there
    AddStatus(ctx, Colour::Txt_Error, "");
    EXPECT_EQ(ctx.dynamicInd.Count, 2);
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.text, "two");
    clock.advance(2000);
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.text, "one");
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.colour, ctx.colours.ColourOf(Colour::Txt_Information));
    clock.advance(2000);
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.text, "two");
    RemoveStatus(ctx, "one");
    EXPECT_EQ(ctx.dynamicInd.Count, 1);
    EXPECT_EQ(ctx.dynamicInd.Texts[2], "");
    EXPECT_EQ(ctx.dynamicInd.Colors[2], "#FFFFFFFF");
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.text, "two");
    RemoveStatus(ctx, "two");
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.text, WorkTimeText(ctx));
    EXPECT_FALSE(ctx.timers.Timer_DynamicIND->isRunning());
    for (int i = 0; i < 12; ++i)
        AddStatus(ctx, Colour::Txt_Error, "m" + std::to_string(i));
    EXPECT_EQ(ctx.dynamicInd.Count, kStatusRingSize);
    EXPECT_EQ(ctx.view.HudLabel_DynamicIND.text, "m9");
}

} // namespace
} // namespace bifuel

namespace bifuel {
namespace {

// The language menu's pick: a usable name is taken and the menus close; an unsafe one
// changes nothing.
using LanguagePick = LiveDataTest;
TEST_F(LanguagePick, ATakenNameClosesTheMenusAndAnUnsafeOneChangesNothing) {
    ctx.language.setLanguageDir(BIFUEL_SOURCE_DIR "/data/Language");
    int closed = 0;
    const Subscription menus = ctx.events.menusClose.subscribe([&closed] { ++closed; });
    EXPECT_TRUE(PickLanguage(ctx, "Deutsch.lng"));
    EXPECT_EQ(ctx.language.current(), "Deutsch");
    EXPECT_EQ(ctx.languageView.Shared.Petrol, "Benzin");
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(PickLanguage(ctx, "../evil.lng"));
    EXPECT_EQ(ctx.language.current(), "Deutsch");
    EXPECT_EQ(closed, 1);
}

// The work hours shown while no status text rotates follow a change of language.
TEST(StatusLine, WorkHoursFollowTheLanguage) {
    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host(),
                MakePaths(std::filesystem::temp_directory_path(), "bifuel-studio")};
    ctx.config.Work_Gas = 90;
    RefreshStatusLine(ctx);
    EXPECT_NE(ctx.view.HudLabel_DynamicIND.text.find("hours"), std::string::npos);
    ctx.language.setLanguageDir(BIFUEL_SOURCE_DIR "/data/Language");
    ASSERT_TRUE(ctx.language.setCurrent("Deutsch"));
    // The title is rebuilt from the new shared texts, with the language file still open.
    std::vector<std::string> titles;
    const Subscription title = ctx.events.titleChanged.subscribe([&ctx, &titles] {
        titles.push_back(ctx.languageView.Shared.Petrol +
                         (ctx.language.isOpen() ? " (open)" : " (closed)"));
    });
    ApplyLanguageTexts(ctx);
    EXPECT_EQ(titles, (std::vector<std::string>{"Benzin (open)"}));
    EXPECT_FALSE(ctx.language.isOpen());
    EXPECT_NE(ctx.view.HudLabel_DynamicIND.text.find("1.50 Std."), std::string::npos)
        << ctx.view.HudLabel_DynamicIND.text;
}

} // namespace
} // namespace bifuel

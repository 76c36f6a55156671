#include "link/LinkHarness.h"

#include "autocalibration/AutoCLB_Unit.h"
#include "data/Calc_Unit.h"

namespace bifuel::test {
namespace {

class Display : public ::testing::Test {
  protected:
    Display() { ctx.link.Main_Shown = true; }

    ACBView& view() { return ctx.acbView; }
    const ACBBar& bar(int cylinder, int row) {
        return view()
            .cylinders[static_cast<std::size_t>(cylinder - 1)]
            .Rectangle_ACB_Bar[static_cast<std::size_t>(row - 1)];
    }
    // Live values of cylinders 1..4 as the decoder leaves them: petrol on petrol, petrol
    // on gas, gas.
    void live(int cylinder, std::int32_t onPetrol, std::int32_t onGas, std::int32_t gas) {
        const auto i = static_cast<std::size_t>(cylinder);
        ctx.live.Live_Petrol_On_Petrol[i] = onPetrol;
        ctx.live.Live_Petrol_On_Gas[i] = onGas;
        ctx.live.Live_Gas_Inj[i] = gas;
    }

    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    TempWorkDir work;
    Context ctx{clock, line.host(), work.paths(false)};
};

TEST_F(Display, BarsBoxesAndRowLabelsLieWhereTheGeometryPutsThem) {
    struct Case {
        int cylinders;
        int shown;
        int s;
    };
    // s = (614 - 50 - 30 n) / (3 n); numbers out of 1..8 are held to it.
    const Case cases[] = {{1, 1, 178}, {3, 3, 52},  {4, 4, 37}, {6, 6, 21},
                          {8, 8, 13},  {0, 1, 178}, {12, 8, 13}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cylinders);
        ACB_Build_Display(ctx, c.cylinders);
        ASSERT_EQ(view().Cylinders, c.shown);
        int x = 60;
        for (int cyl = 1; cyl <= kACBCylinderSlots; ++cyl) {
            const ACBCylinder& data = view().cylinders[static_cast<std::size_t>(cyl - 1)];
            for (int row = 1; row <= kACBRows; ++row) {
                const auto r = static_cast<std::size_t>(row - 1);
                const ViewRect& b = bar(cyl, row).rect;
                const ViewRect& box = data.boxRect[r];
                if (cyl > c.shown) {
                    EXPECT_EQ(b.width, 0);
                    EXPECT_FALSE(data.HudTextBox_ACB_Value[r].visible);
                    continue;
                }
                EXPECT_EQ(std::vector<int>({b.x, b.y, b.width, b.height}),
                          std::vector<int>({x, 10, c.s, 175}))
                    << "cylinder " << cyl << " bar " << row;
                // Each box spans its cylinder's three bars, in its row's band.
                EXPECT_EQ(
                    std::vector<int>({box.x, box.y, box.width, box.height}),
                    std::vector<int>({bar(cyl, 1).rect.x, 5 + 62 * (row - 1), 3 * c.s + 10, 60}));
                EXPECT_TRUE(data.HudTextBox_ACB_Value[r].visible);
                EXPECT_FALSE(data.HudTextBox_ACB_Value[r].enabled) << "the boxes take no input";
                x += row < kACBRows ? c.s + 5 : c.s + 20;
            }
        }
        // The last bar shown stays inside the 614-unit area.
        const ViewRect& last = bar(c.shown, 3).rect;
        EXPECT_LE(last.x + last.width, ACBView::kBarAreaWidth);
    }
    const std::array<std::string, 3> labels{"Petrol on Petrol", "Petrol on Gas", "Gas"};
    for (std::size_t r = 0; r < 3; ++r) {
        const ViewRect& l = view().rowRect[r];
        EXPECT_EQ(std::vector<int>({l.x, l.y, l.width, l.height}),
                  std::vector<int>({5, 5 + 62 * static_cast<int>(r), 50, 60}));
        EXPECT_EQ(view().HudLabel_ACB_Row[r].text, labels[r]);
    }
    EXPECT_EQ(view().HudLabel_ACB_Row[0].colour, ctx.colours.ColourOf(Colour::Petrol));
    EXPECT_EQ(view().HudLabel_ACB_Row[1].colour, ctx.colours.ColourOf(Colour::ACB_Pet_Gas));
    EXPECT_EQ(view().HudLabel_ACB_Row[2].colour, ctx.colours.ColourOf(Colour::Gas));
}

TEST_F(Display, BarScaleOnlyGrowsAndBarsFillInProportionUpToFullHeight) {
    ctx.config.Cylinders = 4;
    ACB_Build_Display(ctx, 4);
    live(1, 3000, 2000, 4000);
    live(2, 1000, 0, 0);
    ACB_Refresh(ctx, "");
    // Largest of the twelve values plus a millisecond.
    EXPECT_EQ(view().Bar_Scale, 5000);
    EXPECT_EQ(bar(1, 3).height, 4000 * 175 / 5000);
    EXPECT_EQ(bar(1, 1).height, 3000 * 175 / 5000);
    EXPECT_EQ(bar(2, 2).height, 0);
    EXPECT_EQ(view().cylinders[0].HudTextBox_ACB_Value[2].text, InjTimeToText(4000));
    EXPECT_EQ(view().cylinders[1].HudTextBox_ACB_Value[0].text, InjTimeToText(1000));

    // Smaller values keep the scale; the bars shrink against it.
    live(1, 1500, 1000, 2000);
    ACB_Refresh(ctx, "");
    EXPECT_EQ(view().Bar_Scale, 5000);
    EXPECT_EQ(bar(1, 3).height, 2000 * 175 / 5000);

    // A value at the scale fills the bar; a larger one raises the scale first.
    live(3, 0, 0, 9000);
    ACB_Refresh(ctx, "");
    EXPECT_EQ(view().Bar_Scale, 10000);
    EXPECT_EQ(bar(3, 3).height, 9000 * 175 / 10000);
    EXPECT_EQ(bar(1, 3).height, 2000 * 175 / 10000);

    // The press of Start begins the scale again, from the values shown then.
    live(3, 0, 0, 0);
    ctx.link.ECU_Connected = true;
    HudButton_ACB_StartClick(ctx);
    ASSERT_TRUE(ctx.view.HudButton_ACB_Start.pressed);
    EXPECT_EQ(view().Bar_Scale, 3000);
    EXPECT_EQ(bar(1, 3).height, 2000 * 175 / 3000);
}

TEST_F(Display, APressedRunShowsOnlyTheGroupUnderTest) {
    ctx.link.ECU_Connected = true;
    ACB_Build_Display(ctx, 4);
    for (int c = 1; c <= 4; ++c)
        live(c, 2000, 0, 0);
    ACB_Refresh(ctx, "");
    HudButton_ACB_StartClick(ctx);
    ASSERT_TRUE(ctx.view.HudButton_ACB_Start.pressed);
    // The group "13" brings new values for cylinders 1 and 3 only; the others keep what
    // the start showed.
    for (int c = 1; c <= 4; ++c)
        live(c, 2500, 2600, 2700);
    ACB_Refresh(ctx, "13");
    for (int c = 1; c <= 4; ++c) {
        SCOPED_TRACE(c);
        const bool inGroup = c == 1 || c == 3;
        EXPECT_EQ(view().cylinders[static_cast<std::size_t>(c - 1)].value,
                  (inGroup ? std::array<std::int32_t, 3>{2500, 2600, 2700}
                           : std::array<std::int32_t, 3>{2000, 0, 0}));
        EXPECT_EQ(bar(c, 3).height > 0, inGroup);
    }
}

TEST_F(Display, TheDisplayFollowsTheCylindersOfTheConfigurationRead) {
    // Built at start for the default four; the ECU then reports six.
    ASSERT_EQ(view().Cylinders, 4);
    ctx.config.Cylinders = 6;
    live(1, 2000, 2100, 2200);
    ACB_Refresh(ctx, "");
    EXPECT_EQ(view().Cylinders, 6);
    EXPECT_EQ(bar(6, 3).rect.width, 21);
    EXPECT_TRUE(view().cylinders[5].HudTextBox_ACB_Value[0].visible);
    EXPECT_EQ(bar(1, 3).height, 2200 * 175 / 3200) << "drawn after the rebuild";
    // Fewer cylinders hide the boxes beyond them again.
    ctx.config.Cylinders = 2;
    ACB_Draw_Bars(ctx);
    EXPECT_EQ(view().Cylinders, 2);
    EXPECT_FALSE(view().cylinders[2].HudTextBox_ACB_Value[0].visible);
}

} // namespace
} // namespace bifuel::test

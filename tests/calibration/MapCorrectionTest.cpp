#include "DiagramFixture.h"

namespace bifuel::test {
namespace {

struct Pair {
    int band;
    std::int32_t petrolUs;
    std::int32_t gasUs;
};

class MapCorrection : public DiagramFixture {
  protected:
    MapCorrection() {
        ctx.view.HudButton_CLB_MAP_Start.enabled = true; // as the connection leaves them
        ctx.view.HudButton_CLB_MAP_Stop.enabled = true;
        ctx.config.Inj_Time_Max = 32;
    }

    void record(std::initializer_list<Pair> pairs) {
        for (const Pair& p : pairs) {
            ctx.mapPoints.MAP_Petrol[static_cast<std::size_t>(p.band)] = p.petrolUs / 10;
            ctx.mapPoints.MAP_Gas[static_cast<std::size_t>(p.band)] = p.gasUs / 10;
        }
    }
    const PromptPanelView& prompt() { return ctx.diagramView.Prompt_Panel; }
    void yes() { PromptButton1Click(ctx); }
    void no() { PromptButton2Click(ctx); }
};

TEST_F(MapCorrection, ToCountCollectsTheDifferencesOnTheSegmentOfEachPair) {
    struct Case {
        const char* what;
        std::vector<Pair> pairs;
        PromptMode mode;
        const char* textKey;
        int point; // first of the two points that collect, -1 for none
        std::int32_t sum;
    };
    const Case cases[] = {
        {"no pair", {}, PromptMode::Ok, "MAP_Ctrl_No_Pair", -1, 0},
        {"within 1 ms", {{4, 5500, 5000}}, PromptMode::Ok, "MAP_Ctrl_No_Calc", -1, 0},
        {"gas inside the segment", {{4, 7000, 8500}}, PromptMode::YesNo, "MAP_Ctrl", 3, 1500},
        {"gas moved to the segment end, too close then",
         {{4, 8500, 9800}},
         PromptMode::Ok,
         "MAP_Ctrl_No_Pair",
         -1,
         0},
        {"gas moved to the segment end",
         {{4, 7000, 12000}},
         PromptMode::YesNo,
         "MAP_Ctrl",
         3,
         2000},
        {"gas moved up to the segment", {{4, 8000, 5000}}, PromptMode::YesNo, "MAP_Ctrl", 3, -2000},
        {"band beyond the ECU's count",
         {{31, 7000, 8500}},
         PromptMode::Ok,
         "MAP_Ctrl_No_Pair",
         -1,
         0},
    };
    ctx.mapPoints.MAP_Point_Count = 16;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ctx.mapPoints.MAP_Gas.fill(0);
        ctx.mapPoints.MAP_Petrol.fill(0);
        for (const Pair& p : c.pairs)
            record({p});
        ClosePromptPanel(ctx);
        ToCount(ctx);
        ASSERT_TRUE(prompt().open);
        EXPECT_EQ(prompt().mode, c.mode);
        EXPECT_EQ(prompt().text, ctx.LangText(c.textKey));
        std::array<std::uint8_t, kDiagramPoints> hits{};
        std::array<std::int32_t, kDiagramPoints> sums{};
        if (c.point >= 0) {
            for (auto i : {std::size_t(c.point), std::size_t(c.point) + 1}) {
                hits[i] = 1;
                sums[i] = c.sum;
            }
        }
        EXPECT_EQ(ctx.mapPoints.Correction_Hits, hits);
        EXPECT_EQ(ctx.mapPoints.Correction_Sum, sums);
    }
}

TEST_F(MapCorrection, TheWorkedExampleProposesThenAppliesAndWrites) {
    record({{10, 7000, 8500}});
    ToCount(ctx);
    yes();
    const DiagramTimes proposal{2000, 3840, 5680, 9020, 11780, 13040, 16886, 20732, 25540};
    EXPECT_EQ(ctx.mapPoints.Proposed_Gas, proposal);
    EXPECT_EQ(d().Gas_Point, kLpgGas);
    EXPECT_TRUE(ctx.diagramView.Proposed_Visible);
    EXPECT_EQ(ctx.diagramView.Proposed_Points[6].colour, Colour::Diagram_ReCalc);
    EXPECT_DOUBLE_EQ(ctx.diagramView.Y2[6], 377 - 377.0 / 32000 * 16886);
    EXPECT_EQ(prompt().text, ctx.LangText("MAP_Ctrl_Transmit"));
    EXPECT_EQ(prompt().mode, PromptMode::YesNo);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);

    yes();
    EXPECT_EQ(d().Gas_Point, proposal);
    EXPECT_EQ(ctx.mapPoints.Proposed_Gas, DiagramTimes{});
    EXPECT_FALSE(ctx.diagramView.Proposed_Visible);
    EXPECT_EQ(ctx.link.Pending_Request, Request::EraseGasAndWriteDiagram);
    EXPECT_FALSE(prompt().open);
    EXPECT_EQ(d().History_Count, 1); // the history is not touched here
    EXPECT_EQ(writeNow().Gas, proposal);
}

TEST_F(MapCorrection, NoAfterTheProposalLeavesTheDiagramAsItWas) {
    record({{10, 7000, 8500}});
    ToCount(ctx);
    yes();
    no();
    EXPECT_EQ(d().Gas_Point, kLpgGas);
    EXPECT_EQ(ctx.mapPoints.Proposed_Gas, DiagramTimes{});
    EXPECT_FALSE(ctx.diagramView.Proposed_Visible);
    EXPECT_FALSE(prompt().open);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
}

TEST_F(MapCorrection, IdleRunPointsCollectButAreNeverCorrectedWhileShown) {
    record({{3, 2100, 3500}}); // segment 1..2, +1400
    for (bool idleShown : {true, false}) {
        SCOPED_TRACE(idleShown);
        ctx.settings.Idle_Points = idleShown;
        ClosePromptPanel(ctx);
        ToCount(ctx);
        EXPECT_EQ(ctx.mapPoints.Correction_Hits[1], 1);
        EXPECT_EQ(ctx.mapPoints.Correction_Hits[2], 1);
        yes();
        const auto& p = ctx.mapPoints.Proposed_Gas;
        EXPECT_EQ(p[1], idleShown ? 3840 : 5240);
        EXPECT_EQ(p[2], idleShown ? 5680 : 7080);
        no();
    }
}

TEST_F(MapCorrection, ACorrectionAtTheLastPointExtrapolatesNothing) {
    record({{20, 22000, 24000}});
    ToCount(ctx);
    yes();
    DiagramTimes expected = kLpgGas;
    expected[7] += 2000;
    expected[8] += 2000;
    EXPECT_EQ(ctx.mapPoints.Proposed_Gas, expected);
}

TEST_F(MapCorrection, CorrectionsStopAtTheInjectionTimeLimit) {
    ctx.config.Inj_Time_Max = 21;
    record({{20, 22000, 24000}});
    ToCount(ctx);
    yes();
    EXPECT_EQ(ctx.mapPoints.Proposed_Gas[7], 21000);
    EXPECT_EQ(ctx.mapPoints.Proposed_Gas[8], 21000);
}

TEST_F(MapCorrection, AProposalThatWouldTakeTheEndOffTheCeilingIsNotApplied) {
    DiagramTimes petrol = kDefaultPetrol;
    DiagramTimes gas = kLpgGas;
    petrol[8] = 22000;
    gas[8] = 32000;
    setDiagram(petrol, gas, false);
    AfterDiagramRead(ctx);
    record({{20, 21500, 20100}}); // -1400 on points 7 and 8
    ToCount(ctx);
    yes();
    ASSERT_EQ(ctx.mapPoints.Proposed_Gas[8], 30600);
    yes();
    EXPECT_EQ(d().Gas_Point, gas);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None); // the MAP points are not erased either
    EXPECT_TRUE(prompt().open);
    EXPECT_EQ(prompt().mode, PromptMode::Ok);
    EXPECT_EQ(prompt().text, ctx.LangText("MAP_Ctrl_No_Pair"));
    EXPECT_FALSE(ctx.diagramView.Proposed_Visible);
}

TEST_F(MapCorrection, ToCountWaitsWhileAPromptIsOpen) {
    record({{10, 7000, 8500}});
    ToCount(ctx);
    yes();
    ToCount(ctx);
    EXPECT_EQ(ctx.mapPoints.Prompt_Step, 1);
    EXPECT_EQ(prompt().text, ctx.LangText("MAP_Ctrl_Transmit"));
}

TEST_F(MapCorrection, ThePromptSitsOnTheBottomEdgeOfTheDiagram) {
    record({{10, 7000, 8500}});
    ToCount(ctx);
    const double w = 549, h = 377;
    const PromptPanelView& p = prompt();
    EXPECT_DOUBLE_EQ(p.outer.x, 0.2 * w);
    EXPECT_DOUBLE_EQ(p.outer.y, 0.8 * h);
    EXPECT_DOUBLE_EQ(p.outer.width, 0.6 * w);
    EXPECT_DOUBLE_EQ(p.outer.height, 0.2 * h);
    EXPECT_DOUBLE_EQ(p.inner.x, 0.1 * p.outer.width);
    EXPECT_DOUBLE_EQ(p.inner.y, p.outer.height / 9);
    EXPECT_DOUBLE_EQ(p.inner.width, 0.8 * p.outer.width);
    EXPECT_DOUBLE_EQ(p.inner.height, p.outer.height / 3);
    const double bw = (p.inner.width - p.inner.y) / 2;
    const double top = 2 * p.inner.y + p.inner.height;
    EXPECT_EQ(p.button1.rect, (DiagramRect{p.inner.x, top, bw, p.inner.height}));
    EXPECT_EQ(p.button2.rect, (DiagramRect{p.inner.x + bw + p.inner.y, top, bw, p.inner.height}));
    EXPECT_EQ(p.button1.text, "Yes");
    EXPECT_EQ(p.button2.text, "No");

    no();
    ctx.mapPoints.MAP_Gas.fill(0);
    ToCount(ctx);
    EXPECT_EQ(p.button1.text, "OK");
    EXPECT_DOUBLE_EQ(p.button1.rect.x, (p.outer.width - bw) / 2);
    EXPECT_FALSE(p.button2.visible);
    yes();
    EXPECT_FALSE(p.open);
}

TEST_F(MapCorrection, StartAndStopSwitchTheCollectionAndItsControls) {
    // The page is read back (which clears the mono injection) only when the switch changes.
    ctx.config.MonoInject = true;
    ctx.settings.Map_Point = true;
    HudButton_CLB_MAP_StartClick(ctx);
    EXPECT_TRUE(ctx.config.Save_Map);
    EXPECT_FALSE(ctx.config.MonoInject);
    ctx.config.MonoInject = true;
    const DiagramView& v = ctx.diagramView;
    EXPECT_TRUE(v.Image_CLB_Scale_Manifuld.visible);
    EXPECT_TRUE(v.HudButton_CLB_MAP_To_Count.enabled);
    EXPECT_TRUE(v.HudButton_CLB_MAP_Del_Gas.enabled);
    EXPECT_TRUE(v.Circle_CLB_Manifuld.visible);
    EXPECT_TRUE(v.Live_Petrol_Vacuum.visible);
    HudButton_CLB_MAP_StartClick(ctx); // already on
    EXPECT_TRUE(ctx.config.MonoInject);

    HudButton_CLB_MAP_Del_GasClick(ctx);
    EXPECT_EQ(ctx.link.Pending_Request, Request::EraseMapGas);
    HudButton_CLB_MAP_Del_PetrolClick(ctx);
    EXPECT_EQ(ctx.link.Pending_Request, Request::EraseMapPetrol);

    HudButton_CLB_MAP_StopClick(ctx);
    EXPECT_FALSE(ctx.config.Save_Map);
    EXPECT_FALSE(ctx.config.MonoInject);
    EXPECT_FALSE(v.Image_CLB_Scale_Manifuld.visible);
    EXPECT_FALSE(v.HudButton_CLB_MAP_Del_Petrol.enabled);
    EXPECT_FALSE(v.Circle_CLB_Manifuld.visible);
    ctx.link.Pending_Request = Request::None;
    HudButton_CLB_MAP_Del_GasClick(ctx);
    HudButton_CLB_MAP_To_CountClick(ctx);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
    EXPECT_FALSE(prompt().open);
}

TEST_F(MapCorrection, StartWithoutASetupPageSchedulesTheConfigurationWrite) {
    HudButton_CLB_MAP_StartClick(ctx);
    EXPECT_TRUE(ctx.timers.Timer_GEN_Transmit->isRunning());
    EXPECT_EQ(ctx.link.Write_Kinds, 1u << 2);
    ctx.view.HudButton_CLB_MAP_Stop.enabled = false; // disconnected
    HudButton_CLB_MAP_StopClick(ctx);
    EXPECT_TRUE(ctx.config.Save_Map);
}

TEST_F(MapCorrection, RecordedPointsAreDrawnOnlyWhileTheCollectionRuns) {
    record({{9, 7000, 8500}, {11, 9000, 9500}});
    ctx.mapPoints.MAP_Gas[12] = 1100; // gas only
    RefreshDiagram(ctx);
    EXPECT_EQ(ctx.diagramView.Map_Gas.circleCount, 0);

    ctx.config.Save_Map = true;
    RefreshDiagram(ctx);
    const DiagramView& v = ctx.diagramView;
    ASSERT_EQ(v.Map_Gas.circleCount, 3);
    ASSERT_EQ(v.Map_Petrol.circleCount, 2);
    EXPECT_EQ(v.Map_Gas.lineCount, 2);
    EXPECT_EQ(v.Map_Petrol.lineCount, 1);
    ASSERT_EQ(v.Map_Pair_Count, 2);
    // Band 9: pressure code 10 x 16 = 160, 0.70 bar.
    const double y9 = 377 - 70 * 377.0 / 192;
    EXPECT_DOUBLE_EQ(v.Map_Gas.circles[0].x, 549.0 / 25000 * 850 * 10);
    EXPECT_DOUBLE_EQ(v.Map_Gas.circles[0].y, y9);
    EXPECT_EQ(v.Map_Gas.circles[0].colour, Colour::Map_Point_Gas);
    EXPECT_EQ(v.Map_Gas.circles[0].size, 10);
    EXPECT_EQ(v.Map_Petrol.circles[0].colour, Colour::Map_Point_Petrol);
    const DiagramLine& pair = v.Map_Pairs[0];
    EXPECT_DOUBLE_EQ(pair.y, y9 - 1);
    EXPECT_DOUBLE_EQ(pair.x, v.Map_Gas.circles[0].x);
    EXPECT_NEAR(pair.length, 549.0 / 25000 * 1500, 1e-9);
    EXPECT_EQ(pair.angle, 180); // the petrol point lies left of the gas point
    EXPECT_EQ(pair.colour, Colour::Map_Point_Line);
}

} // namespace
} // namespace bifuel::test

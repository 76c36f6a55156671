#include "DiagramFixture.h"

#include <cmath>
#include <numbers>

namespace bifuel::test {
namespace {

using Drawing = DiagramFixture;

TEST_F(Drawing, PointsSitAtTheirTimesOnTheImage) {
    const DiagramView& v = ctx.diagramView;
    EXPECT_DOUBLE_EQ(v.X[5], 549.0 * 12000 / 25000);
    EXPECT_DOUBLE_EQ(v.Y[5], 377 - 377.0 * 13040 / 32000);
    EXPECT_DOUBLE_EQ(v.Points[5].x, v.X[5]);
    EXPECT_EQ(v.Points[5].size, 14);
    const DiagramLine& segment = v.Lines[4]; // point 4 to point 5
    const double dx = v.X[5] - v.X[4];
    const double dy = v.Y[5] - v.Y[4];
    EXPECT_DOUBLE_EQ(segment.x, v.X[4]);
    EXPECT_DOUBLE_EQ(segment.length, std::hypot(dx, dy));
    EXPECT_DOUBLE_EQ(segment.angle, std::atan(dy / dx) * 180 / std::numbers::pi);
    EXPECT_LT(segment.angle, 0); // rising gas is drawn upwards

    // A new size: the points follow, the history panel (placed at the old pointer) goes,
    // the prompt keeps its question and is laid out for the new size.
    OpenHistoryPanel(ctx, 100, 100);
    OpenPromptPanel(ctx, PromptMode::YesNo, "question");
    SetDiagramGeometry(ctx, {.Diagram_Width = 1098, .Diagram_Height = 754});
    EXPECT_DOUBLE_EQ(v.X[5], 1098.0 * 12000 / 25000);
    EXPECT_DOUBLE_EQ(v.Y[5], 754 - 754.0 * 13040 / 32000);
    EXPECT_FALSE(v.History_Panel.open);
    ASSERT_TRUE(v.Prompt_Panel.open);
    EXPECT_EQ(v.Prompt_Panel.text, "question");
    EXPECT_EQ(v.Prompt_Panel.outer,
              (DiagramRect{1098 * 0.2, 754 - 754 * 0.2, 1098 * 0.6, 754 * 0.2}));
    EXPECT_DOUBLE_EQ(v.Prompt_Panel.button2.rect.x, v.Prompt_Panel.inner.x +
                                                        v.Prompt_Panel.button1.rect.width +
                                                        v.Prompt_Panel.inner.y);
}

TEST(LineBetween, PointsTheWayItGoes) {
    struct Case {
        double x2, y2, angle;
    };
    const Case cases[] = {
        {10, 0, 0}, {-10, 0, 180}, {0, 10, 90}, {0, -10, -90}, {-10, -10, 225}, {10, 10, 45},
    };
    for (const Case& c : cases) {
        const DiagramLine l = LineBetween(5, 5, 5 + c.x2, 5 + c.y2);
        EXPECT_DOUBLE_EQ(l.angle, c.angle) << c.x2 << ", " << c.y2;
        EXPECT_DOUBLE_EQ(l.length, std::hypot(c.x2, c.y2));
    }
}

TEST_F(Drawing, ScalesAndGridFollowTheAxes) {
    const DiagramView& v = ctx.diagramView;
    ASSERT_EQ(v.Gas_Scale_Labels.size(), 6u);
    EXPECT_EQ(v.Gas_Scale_Labels[0].text, "5");
    EXPECT_EQ(v.Gas_Scale_Labels[5].text, "30");
    EXPECT_DOUBLE_EQ(v.Gas_Scale_Labels[1].rect.y, 377 - 10 * 377.0 / 32 - 8);
    ASSERT_EQ(v.Manifuld_Scale_Labels.size(), 6u);
    EXPECT_EQ(v.Manifuld_Scale_Labels[0].text, "0.30");
    EXPECT_EQ(v.Manifuld_Scale_Labels[5].text, "1.80");
    EXPECT_DOUBLE_EQ(v.Manifuld_Scale_Labels[5].rect.y, v.Gas_Scale_Labels[5].rect.y);

    ASSERT_EQ(v.Grid_Horizontal.size(), 8u); // 6.4 divisions: 0..6 and the top edge
    EXPECT_DOUBLE_EQ(v.Grid_Horizontal[0].y, 377);
    EXPECT_DOUBLE_EQ(v.Grid_Horizontal[6].y, 377 - 30 * 377.0 / 32);
    EXPECT_DOUBLE_EQ(v.Grid_Horizontal[7].y, 0);

    ASSERT_EQ(v.Petrol_Scale_Labels.size(), 6u);
    EXPECT_EQ(v.Petrol_Scale_Labels[5].text, "25");
    EXPECT_DOUBLE_EQ(v.Petrol_Scale_Labels[2].rect.x, 549.0 / 25 * 10 - 10);
    ASSERT_EQ(v.Grid_Vertical.size(), 6u);
    EXPECT_DOUBLE_EQ(v.Grid_Vertical[4].x, 549.0 / 25 * 20);
    EXPECT_DOUBLE_EQ(v.Grid_Vertical[5].x, 549);
}

TEST_F(Drawing, LivePointsFollowTheEngineAndStayOnTheImage) {
    ctx.live.Live_Petrol_Avg = 12500;
    ctx.live.Live_Gas_Avg = 16000;
    ctx.live.Live_PressColl = 96;
    RefreshDiagram(ctx);
    const DiagramView& v = ctx.diagramView;
    EXPECT_DOUBLE_EQ(v.Live_Petrol_Gas.x, 549.0 / 2);
    EXPECT_DOUBLE_EQ(v.Live_Petrol_Gas.y, 377.0 / 2);
    EXPECT_FALSE(v.Live_Petrol_Vacuum_Exists);

    ctx.live.Live_Petrol_Avg = 26000;
    ctx.settings.Map_Point = true;
    RefreshDiagram(ctx);
    EXPECT_DOUBLE_EQ(v.Live_Petrol_Gas.x, 549);
    EXPECT_TRUE(v.Live_Petrol_Vacuum_Exists);
    EXPECT_DOUBLE_EQ(v.Live_Petrol_Vacuum.x, 549);
    EXPECT_DOUBLE_EQ(v.Live_Petrol_Vacuum.y, 377.0 / 2);
}

TEST_F(Drawing, GuideLinesFrameOnlyASelectedMiddlePoint) {
    const DiagramView& v = ctx.diagramView;
    select(4);
    ASSERT_TRUE(v.Guides_Visible);
    EXPECT_EQ(v.Guide_Lines[0], (DiagramRect{v.X[3], 0, 1, 377}));
    EXPECT_EQ(v.Guide_Lines[1], (DiagramRect{v.X[5], 0, 1, 377}));
    EXPECT_EQ(v.Guide_Lines[2], (DiagramRect{v.X[3], 0, v.X[5] - v.X[3], 1}));
    EXPECT_EQ(v.Guide_Lines[3], (DiagramRect{v.X[3], 377, v.X[5] - v.X[3], 1}));
    EXPECT_DOUBLE_EQ(v.X[3], 549.0 / 25000 * 6000);
    for (int end : {0, 8}) {
        select(end);
        EXPECT_FALSE(v.Guides_Visible);
    }
    select(4);
    Deselect(ctx, DiagramMouseButton::Left);
    EXPECT_FALSE(v.Guides_Visible);
}

TEST_F(Drawing, ColoursFollowFixedSelectedAndIdleRunPoints) {
    const DiagramView& v = ctx.diagramView;
    fix(2);
    select(5);
    EXPECT_EQ(v.Points[2].colour, Colour::Diagram_Fixed);
    EXPECT_EQ(v.Points[5].colour, Colour::Diagram_Marked);
    EXPECT_EQ(v.Points[0].colour, Colour::Diagram);
    ctx.settings.Idle_Points = true;
    RefreshDiagram(ctx);
    EXPECT_EQ(v.Points[1].colour, Colour::Diagram_Idle);
    EXPECT_EQ(v.Points[2].colour, Colour::Diagram_Idle); // over the fixed colour
    EXPECT_EQ(v.Points[5].colour, Colour::Diagram_Marked);
    EXPECT_EQ(v.Lines[0].colour, Colour::Diagram);
}

TEST_F(Drawing, ThePositionLabelShowsThePointerOrTheSelectedPoint) {
    Image_CLB_DiagramMouseMove(ctx, {}, 549.0 / 2, 377.0 / 4);
    EXPECT_EQ(ctx.diagramView.HudLabel_CLB_Position.text, "Gas, ms = 24.00;  Petrol, ms = 12.50;");
    ctx.config.Save_Map = true;
    Image_CLB_DiagramMouseMove(ctx, {}, 549.0 / 2, 377.0 / 4);
    EXPECT_EQ(ctx.diagramView.HudLabel_CLB_Position.text,
              "Gas, ms = 24.00;  Petrol, ms = 12.50; Manifuld, bar = 1.44; ");
    select(4);
    EXPECT_EQ(ctx.diagramView.HudLabel_CLB_Position.text,
              "Point = 4 -> Gas, ms = 10.28;  Petrol, ms = 9.00;");
}

} // namespace
} // namespace bifuel::test

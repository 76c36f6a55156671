#include "data/Dynamic_IND_Unit.h"

#include "Context.h"
#include "data/Calc_Unit.h"

namespace bifuel {
namespace {

void show(Context& ctx, const std::string& colour, const std::string& text) {
    ctx.view.HudLabel_DynamicIND.text = text;
    ctx.view.HudLabel_DynamicIND.colour = colour;
}

void restartRotation(Context& ctx) {
    Timer& timer = *ctx.timers.Timer_DynamicIND;
    timer.stop();
    timer.setInterval(kStatusRotateMs);
    timer.start();
}

} // namespace

void ShowStatusNow(Context& ctx, Colour colour, const std::string& text) {
    ctx.events.status.notify(StatusChange{StatusChange::Kind::ShownNow, colour, text});
    show(ctx, ctx.colours.ColourOf(colour), text);
    restartRotation(ctx);
}

void AddStatus(Context& ctx, Colour colour, const std::string& text) {
    ctx.events.status.notify(StatusChange{StatusChange::Kind::Added, colour, text});
    DynamicIND_Class& ring = ctx.dynamicInd;
    if (text.empty() || ring.Count >= kStatusRingSize) return;
    for (int i = 1; i <= ring.Count; ++i) {
        if (ring.Texts[static_cast<std::size_t>(i)] == text) return;
    }
    ring.Count += 1;
    ring.Colors[ring.Count] = ctx.colours.ColourOf(colour);
    ring.Texts[ring.Count] = text;
    ring.Current = ring.Count;
    show(ctx, ctx.colours.ColourOf(colour), text);
    restartRotation(ctx);
}

void RemoveStatus(Context& ctx, const std::string& text) {
    ctx.events.status.notify(StatusChange{StatusChange::Kind::Removed, Colour::General, text});
    DynamicIND_Class& ring = ctx.dynamicInd;
    if (ring.Count == 0 || text.empty()) return;
    ctx.timers.Timer_DynamicIND->stop();
    for (int i = 1; i <= ring.Count; ++i) {
        if (ring.Texts[static_cast<std::size_t>(i)] != text) continue;
        for (int j = i; j < ring.Count; ++j) {
            ring.Texts[static_cast<std::size_t>(j)] = ring.Texts[static_cast<std::size_t>(j + 1)];
            ring.Colors[static_cast<std::size_t>(j)] = ring.Colors[static_cast<std::size_t>(j + 1)];
        }
        ring.Texts[ring.Count].clear();
        ring.Colors[ring.Count] = "#FFFFFFFF";
        ring.Count -= 1;
        break;
    }
    RotateStatus(ctx);
}

void RotateStatus(Context& ctx) {
    DynamicIND_Class& ring = ctx.dynamicInd;
    ctx.timers.Timer_DynamicIND->stop();
    if (ring.Count == 0) {
        show(ctx, ctx.colours.ColourOf(Colour::General), WorkTimeText(ctx));
        return;
    }
    ring.Current = (ring.Current >= ring.Count) ? 1 : ring.Current + 1;
    show(ctx, ring.Colors[ring.Current], ring.Texts[ring.Current]);
    restartRotation(ctx);
}

void RefreshStatusLine(Context& ctx) {
    if (ctx.dynamicInd.Count == 0)
        show(ctx, ctx.colours.ColourOf(Colour::General), WorkTimeText(ctx));
}

std::string WorkTimeText(const Context& ctx) {
    const std::string hours = ctx.LangText("Dim_Hour_Long");
    return ctx.LangText("Gas") + " : " + FixedText(ctx.config.Work_Gas / 60.0, 2) + " " + hours +
           "\n\r" + ctx.LangText("Petrol") + " : " + FixedText(ctx.config.Work_Petrol / 60.0, 2) +
           " " + hours;
}

} // namespace bifuel

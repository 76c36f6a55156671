#include "link/Check_Versions.h"

#include "Context.h"
#include "data/Calc_Unit.h"
#include "data/Live_Data.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Global_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/Link_Operations.h"
#include "link/Port_3D_Connect.h"
#include "link/Port_3D_Unit.h"
#include "link/Receiver_Unit.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace bifuel {
namespace {

struct ModelRow {
    std::string_view identifier;
    std::string_view displayName;
};

constexpr std::array<ModelRow, 3> kModels{{
    {"KestraLX", "Kestra LX"},
    {"VoltigonRA", "Voltigon RA"},
    {"VoltigonRB", "Voltigon RB"},
}};

bool isBlankOrControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F;
}

std::string trimmed(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && isBlankOrControl(s[b]))
        ++b;
    while (e > b && isBlankOrControl(s[e - 1]))
        --e;
    return std::string(s.substr(b, e - b));
}

std::string blanklessUpper(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c != ' ') out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return out;
}

// A length the ECU reports and the range this program can take: for N the one block it
// knows, for the reply lengths what the decoders read up to what a reply can carry.
struct ReportedLength {
    const char* name; // "N", "L1" .. "L5"
    int value;
    int minimum;
    int maximum;
};

ReportedLength identLength(int value) {
    return {"N", value, kKnownIdentLength, kKnownIdentLength};
}
ReportedLength replyLength(const char* name, int value, int minimum) {
    return {name, value, minimum, kMaxReportedLength};
}

bool usable(const ReportedLength& length) {
    return length.value >= length.minimum && length.value <= length.maximum;
}

// What the user is told: which length is wrong and against what, and whether the ECU is
// newer than this program (a longer length: a newer program may know it) or older than
// what it supports (a shorter one: no newer program will help).
struct Refusal {
    std::string headline;
    std::string detail;
};

Refusal refusalOf(const Context& ctx, const ReportedLength& length) {
    const bool ecuNewer = length.value > length.maximum;
    const std::string name = ctx.LangText(std::string("Ident_Length_") + length.name);
    const std::string value = std::to_string(length.value);
    std::string detail;
    if (length.minimum == length.maximum) {
        detail = FillText(ctx.LangText("Error_Length_Known"),
                          {name, value, std::to_string(length.minimum)});
    } else if (ecuNewer) {
        detail = FillText(ctx.LangText("Error_Length_At_Most"),
                          {name, value, std::to_string(length.maximum)});
    } else {
        detail = FillText(ctx.LangText("Error_Length_At_Least"),
                          {name, value, std::to_string(length.minimum)});
    }
    return {ctx.LangText(ecuNewer ? "Error_Version" : "Error_Version_Older"), detail};
}

// An ECU whose replies we cannot size or decode safely: say so once, naming the length,
// and send it nothing more, so no reply is armed that can never match or that would be
// decoded from bytes of older replies, and nothing is written to it. The link counts as
// lost: after the link-loss delay the probing starts over, so that another ECU plugged in
// meanwhile is found.
void refuseEcu(Context& ctx, const ReportedLength& length) {
    const Refusal refusal = refusalOf(ctx, length);
    if (!std::exchange(ctx.link.Refusal_Shown, true)) {
        ShowMessageWindow(ctx, kMessageNewerVersion, refusal.headline + "\n\r" + refusal.detail);
    }
    OperationsRefusedEcu(ctx, refusal.headline + ". " + refusal.detail);
    ctx.link.Halted = true;
    ctx.link.Request_Armed = false;
    ctx.link.Awaiting_Reply = false;
    ctx.timers.Timer_Sending->stop();
    OnDisconnected(ctx);
    ctx.timers.Timer_Connect->start();
}

void layoutIndicator(IndicatorView& v, int m, int y) {
    v.panel.y = y;
    v.panel.height = 50 * m;
    v.name.y = 2 * m;
    v.name.height = 20 * m;
    v.data.y = 18 * m;
    v.data.height = 30 * m;
}

} // namespace

void ProbeStep(Context& ctx) {
    LinkState& link = ctx.link;
    ctx.timers.Timer_Connect->stop();
    if (link.Probe_Rounds > 1) {
        if (link.Port_Window_Shown) {
            TryNextPort(ctx);
            return;
        }
        const bool opened = OpenConfiguredPort(ctx);
        if (!opened) {
            link.Probe_Rounds = 0;
        } else if (ctx.settings.Search_Port) {
            StartPortSearch(ctx);
            return;
        }
    }
    const std::uint8_t last =
        std::exchange(link.Rotation_Resume, false) ? link.Rotation_From : link.Sent_Frame[0];
    const std::uint8_t next = last == 26 ? 25 : last == 25 ? 23 : 26;
    if (const std::uint8_t remembered = std::exchange(link.Remembered_Code, 0);
        remembered != 0 && remembered != next) {
        // One probe ahead of the rotation, which then takes up where it stood.
        link.Rotation_From = last;
        link.Rotation_Resume = true;
        link.Probe_Code = remembered;
        link.Sent_Frame[0] = remembered;
        ArmProbe(ctx, remembered);
        return;
    }
    if (last == 26) link.Probe_Rounds += 1;
    link.Probe_Code = next;
    link.Sent_Frame[0] = next;
    ArmProbe(ctx, next);
}

void ArmIdentRead(Context& ctx, std::span<const std::uint8_t> probeReply) {
    // [code, 0x21, N, (x,) checksum]: without its N byte a reply announces nothing. A
    // longer block than ours that still fits a reply is read: the title shows which ECU
    // it is before it is refused.
    const ReportedLength n = identLength(probeReply.size() >= 4 ? probeReply[2] : 0);
    if (n.value < n.minimum || n.value > kMaxReportedLength) {
        refuseEcu(ctx, n);
        return;
    }
    ArmRead(ctx, Command::READ_IDENT, static_cast<std::uint8_t>(n.value + 3));
}

void DecodeIdentification(Context& ctx, std::span<const std::uint8_t> reply) {
    LinkState& link = ctx.link;
    const std::span<const std::uint8_t> rx = reply;
    // The block as long as it came, which is what the probe announced.
    const ReportedLength n = identLength(static_cast<int>(rx.size() >= 3 ? rx.size() - 3 : 0));
    if (n.value < n.minimum) {
        refuseEcu(ctx, n);
        return;
    }
    EcuIdentity& id = link.Ident;
    id.N = rx[2];

    const std::string_view text(reinterpret_cast<const char*>(rx.data() + 3), 30);
    ctx.config.ECU_Model = trimmed(text.substr(0, 16));
    ctx.config.ECU_Date = std::string(text.substr(16, 10));
    ctx.config.ECU_Version = std::string(text.substr(26, 4));
    id.Firmware_Version = NumericFirmwareVersion(ctx.config.ECU_Version);

    ctx.config.Work_Gas = (rx[33] << 16) | (rx[34] << 8) | rx[35];
    ctx.config.Work_Petrol = (rx[36] << 16) | (rx[37] << 8) | rx[38];

    // A newer block holds the lengths elsewhere, if at all.
    if (!usable(n)) {
        refuseEcu(ctx, n);
        return;
    }
    // L4 sizes nothing; it only has to fit a reply length like the others. L5 needs no
    // minimum: a MAP list decodes the points that came.
    const ReportedLength lengths[] = {
        replyLength("L1", rx[39], kLiveDataBytes),
        replyLength("L2", rx[40], kParamsDataBytes),
        replyLength("L3", rx[41], kDiagramDataBytes),
        replyLength("L4", rx[42], 0),
        replyLength("L5", rx[43], 0),
    };
    for (const ReportedLength& length : lengths) {
        if (!usable(length)) {
            refuseEcu(ctx, length);
            return;
        }
    }
    OperationsEcuAccepted(ctx);
    ctx.link.Refusal_Shown = false; // an ECU refused after this one is told again
    id.L1 = rx[39];
    id.L2 = rx[40];
    id.L3 = rx[41];
    id.L4 = rx[42];
    id.L5 = rx[43];
    ctx.mapPoints.MAP_Point_Count = std::min<std::uint8_t>(id.L5, kMapPointsMax);
    ApplyFirmwareLayout(ctx);
    id.Innovational_Capable = IsInnovationalCapable(id.Firmware_Version);
    ctx.settings.ACB_SCR_Type = id.Innovational_Capable ? "Innovational" : "Fast calibration";
}

std::int32_t NumericFirmwareVersion(std::string_view versionText) {
    const std::optional<double> value = TextToFloat(versionText);
    if (!value) return 0;
    // "2.55" x 100 is 254.99999999999997 in binary floating point; the small nudge keeps
    // every two-decimal version at its own number.
    return TruncToInt(*value * 100.0 + (*value >= 0 ? 1e-7 : -1e-7));
}

bool HasNoPressureSensors(std::int32_t fw) {
    return fw >= 155 && fw <= 199;
}

bool IsInnovationalCapable(std::int32_t fw) {
    return (fw >= 163 && fw <= 199) || (fw >= 363 && fw <= 399);
}

bool HasFreeMidPoints(std::int32_t fw) {
    return fw >= 156 && fw <= 199;
}

std::string ModelDisplayName(std::string_view identifier) {
    const std::string key = blanklessUpper(identifier);
    if (key.empty()) return "Unknow";
    for (const ModelRow& row : kModels) {
        if (blanklessUpper(row.identifier) == key) return std::string(row.displayName);
    }
    return "Unknow";
}

void ApplyFirmwareLayout(Context& ctx) {
    const bool sensors = !HasNoPressureSensors(ctx.link.Ident.Firmware_Version);
    const int m = sensors ? 1 : 2;
    LinkView& v = ctx.view;
    ClearErrorFlags(ctx);

    v.HudButton_CLB_MAP_Start.enabled = sensors;
    v.HudButton_CLB_MAP_Stop.enabled = sensors;
    for (IndicatorView* p : {&v.HudPanel_IND_PressVap, &v.HudPanel_IND_PressColl,
                             &v.HudPanel_IND_PressDiff, &v.HudPanel_IND_TempGas}) {
        p->panel.visible = sensors;
        p->panel.height = 50;
    }
    layoutIndicator(v.HudPanel_IND_Petrol, m, 0);
    layoutIndicator(v.HudPanel_IND_Gas, m, 50 * m);
    layoutIndicator(v.HudPanel_IND_RPM, m, 100 * m);
    layoutIndicator(v.HudPanel_IND_TempVap, m, 150 * m);
    if (sensors) {
        v.HudPanel_IND_PressVap.panel.y = 250;
        v.HudPanel_IND_PressColl.panel.y = 300;
        v.HudPanel_IND_PressDiff.panel.y = 350;
        v.HudPanel_IND_TempGas.panel.y = 200;
    }
    v.IND_Size_Factor = m;
}

} // namespace bifuel

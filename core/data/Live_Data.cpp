#include "data/Live_Data.h"

#include "Context.h"
#include "data/Calc_Unit.h"
#include "data/Dynamic_IND_Unit.h"
#include "link/Check_Versions.h"

namespace bifuel {
namespace {

struct ErrorBit {
    int byte; // 1 or 2
    std::uint8_t mask;
    const char* key;
    bool needsPressureSensors;
};

// In the order the error list shows them.
constexpr std::array<ErrorBit, 7> kErrorBits{{
    {1, 0x01, "DynamicIND_Error_TempVap", false},
    {1, 0x10, "DynamicIND_Error_TempGas", true},
    {2, 0x01, "DynamicIND_Error_PressVap", true},
    {2, 0x10, "DynamicIND_Error_PressColl", true},
    {2, 0x02, "DynamicIND_Error_LinkInject", false},
    {2, 0x04, "DynamicIND_Error_GasLeakage", false},
    {2, 0x08, "DynamicIND_Error_ShortCircuit", false},
}};

using Reply = std::span<const std::uint8_t>;

std::int32_t word(Reply rx, std::size_t at) {
    return BytesToWord(rx[at], rx[at + 1]);
}

// One sample into a cylinder's window. While it fills, zero samples are not kept and the
// smoothed value is the sample itself; once full, it is the mean of the 20 kept samples,
// taken before the new one replaces the oldest.
void feed(SmoothWindow& w, std::int32_t sample) {
    if (w.count < kSmoothSamples) {
        if (sample != 0) w.samples[static_cast<std::size_t>(w.count++)] = sample;
        w.smoothed = sample;
        return;
    }
    std::int64_t sum = 0;
    for (std::int32_t s : w.samples)
        sum += s;
    w.smoothed = static_cast<std::int32_t>(sum / kSmoothSamples);
    std::copy(w.samples.begin() + 1, w.samples.end(), w.samples.begin());
    w.samples.back() = sample;
}

struct Averages {
    std::int32_t avg = 0;
    std::int32_t smooth = 0;
};

Averages average(const std::array<std::int32_t, 5>& times,
                 const std::array<SmoothWindow, 4>& windows) {
    std::int64_t sum = 0;
    std::int64_t smoothSum = 0;
    int nonZero = 0;
    for (int c = 1; c <= 4; ++c) {
        sum += times[static_cast<std::size_t>(c)];
        smoothSum += windows[static_cast<std::size_t>(c - 1)].smoothed;
        if (times[static_cast<std::size_t>(c)] != 0) ++nonZero;
    }
    if (nonZero == 0) return {};
    return {static_cast<std::int32_t>(sum / nonZero),
            static_cast<std::int32_t>(smoothSum / nonZero)};
}

void decodeValues(Context& ctx, Reply rx) {
    LiveData& live = ctx.live;
    live.Live_RPM = PeriodToRpm(rx[2], rx[3]);
    live.Live_TempVap = RawToTemperature(ctx.temperatureTable(), rx[4], rx[5]);
    live.Live_TempGas = RawToTemperature(ctx.temperatureTable(), rx[6], rx[7]);
    live.Live_Level = ((rx[8] & 0x03) << 8) | rx[9];
    live.Live_PressVap = RawToPressure(rx[10], rx[11]);
    live.Live_PressColl = RawToPressure(rx[12], rx[13]);
    live.Live_PressDiff = std::max(0, live.Live_PressVap - live.Live_PressColl);
    live.Live_Value18 = RawTimesTwo(rx[18], rx[19]);
}

void decodeInjectionTimes(Context& ctx, Reply rx) {
    LiveData& live = ctx.live;
    const bool onGas = live.Work_Mode == kModeGas;
    for (int c = 1; c <= 4; ++c) {
        const auto i = static_cast<std::size_t>(c);
        live.Live_Petrol_Inj[i] = word(rx, 18 + 2 * i);
        feed(live.Petrol_Windows[i - 1], live.Live_Petrol_Inj[i]);
    }
    const Averages petrol = average(live.Live_Petrol_Inj, live.Petrol_Windows);
    live.Live_Petrol_Avg = petrol.avg;
    live.Live_Petrol_Smooth = petrol.smooth;
    (onGas ? live.Live_Petrol_On_Gas : live.Live_Petrol_On_Petrol) = live.Live_Petrol_Inj;

    for (int c = 1; c <= 4; ++c) {
        const auto i = static_cast<std::size_t>(c);
        live.Live_Gas_Inj[i] = word(rx, 26 + 2 * i);
        SmoothWindow& w = live.Gas_Windows[i - 1];
        if (onGas) {
            feed(w, live.Live_Gas_Inj[i]);
        } else {
            w.count = 0; // the window restarts when gas mode returns; its last value stays
        }
    }
    const Averages gas = average(live.Live_Gas_Inj, live.Gas_Windows);
    live.Live_Gas_Avg = gas.avg;
    live.Live_Gas_Smooth = gas.smooth;
}

void setLamps(Context& ctx, const std::array<std::string, kLevelLamps>& colours, bool lamp6Shown) {
    DataView& v = ctx.dataView;
    for (std::size_t i = 0; i < kLevelLamps; ++i)
        v.Circle_LevelGas[i].colour = colours[i];
    v.Circle_LevelGas[6].visible = lamp6Shown;
    v.HudNumberBox_CFG_LevelGas.visible = !lamp6Shown;
    v.HudLabel_CFG_LevelGas_Current.visible = !lamp6Shown;
}

void showLevelInGas(Context& ctx, std::array<std::string, kLevelLamps>& lamps) {
    const Configuration_Class& cfg = ctx.config;
    const std::int32_t level = ctx.live.Live_Level;
    const std::array<std::int32_t, 6> threshold{0,          cfg.Level1, cfg.Level2,
                                                cfg.Level3, cfg.Level4, cfg.Level5};
    const std::string& gas = ctx.colours.ColourOf(Colour::Gas);
    bool beyondAll = true;
    for (std::size_t i = 1; i <= 5; ++i) {
        const bool lit = cfg.Level_Invert ? level < threshold[i] : level >= threshold[i];
        if (lit) {
            lamps[i] = gas;
            beyondAll = false;
        }
    }
    // The reserve lamp: below every threshold (above every one when the sensor is inverted).
    if (beyondAll) lamps[0] = "#FFFF0000";
}

void refreshModeAndLamps(Context& ctx) {
    DataView& v = ctx.dataView;
    Timer& blink = *ctx.timers.Timer_LevelGas;
    const std::string off = v.Form_Fill_Colour;
    std::array<std::string, kLevelLamps> lamps;
    lamps.fill(off);
    switch (ctx.live.Work_Mode) {
    case kModePetrol:
        v.HudLabel_Work_Mode.text = ctx.LangText("Petrol");
        v.HudLabel_Work_Mode.colour = ctx.colours.ColourOf(Colour::Petrol);
        lamps[6] = ctx.colours.ColourOf(Colour::Petrol);
        blink.stop();
        setLamps(ctx, lamps, true);
        break;
    case kModeAutomatic:
        if (blink.isRunning()) return; // blinking already: nothing changes while it waits
        v.HudLabel_Work_Mode.text = ctx.LangText("Automat");
        v.HudLabel_Work_Mode.colour = ctx.colours.ColourOf(Colour::Automat);
        lamps[6] = ctx.colours.ColourOf(Colour::Petrol);
        lamps[5] = ctx.colours.ColourOf(Colour::Gas);
        blink.setInterval(kLevelBlinkMs);
        blink.start();
        setLamps(ctx, lamps, true);
        break;
    case kModeGas:
        v.HudLabel_Work_Mode.text = ctx.LangText("Gas");
        v.HudLabel_Work_Mode.colour = ctx.colours.ColourOf(Colour::Gas);
        showLevelInGas(ctx, lamps);
        blink.stop();
        setLamps(ctx, lamps, false);
        break;
    default:
        setLamps(ctx, lamps, v.Circle_LevelGas[6].visible);
        break;
    }
}

void refreshIndicators(Context& ctx) {
    const LiveData& live = ctx.live;
    DataView& v = ctx.dataView;
    v.HudLabel_IND_Petrol_Data.text = InjTimeToText(live.Live_Petrol_Avg);
    v.HudLabel_IND_Gas_Data.text = InjTimeToText(live.Live_Gas_Avg);
    v.HudLabel_IND_RPM_Data.text = std::to_string(live.Live_RPM);
    v.HudLabel_IND_PressVap_Data.text = HundredthsToText(live.Live_PressVap);
    v.HudLabel_IND_PressColl_Data.text = HundredthsToText(live.Live_PressColl);
    v.HudLabel_IND_PressDiff_Data.text = HundredthsToText(live.Live_PressDiff);
    v.HudLabel_IND_TempVap_Data.text = TenthsToText(live.Live_TempVap);
    v.HudLabel_IND_TempGas_Data.text = TenthsToText(live.Live_TempGas);
    v.HudNumberBox_CFG_LevelGas.text = AdcToVoltText(live.Live_Level);
    const bool onGas = live.Work_Mode == kModeGas;
    v.Image_CFG_LevelSensor.visible = onGas;
    if (onGas) v.Line_CFG_LevelSensor_Y = live.Live_Level * v.Image_CFG_LevelSensor_Height / 1023;
}

void handleStatusBits(Context& ctx, Reply rx) {
    DynamicIND_Class& ring = ctx.dynamicInd;
    const std::uint8_t bits = rx[6];
    const std::uint8_t changed = bits ^ ring.Flags;
    if (changed & 0x80) {
        if (bits & 0x80) {
            RemoveStatus(ctx, ctx.LangText("DynamicIND_Engine_off"));
            ShowStatusNow(ctx, Colour::Txt_Complete, ctx.LangText("DynamicIND_Engine_on"));
        } else {
            AddStatus(ctx, Colour::Txt_Error, ctx.LangText("DynamicIND_Engine_off"));
            ctx.live.Engine_Went_Off = true;
        }
    }
    if ((bits & 0x40) && !(ring.Flags & 0x40)) {
        RemoveStatus(ctx, ctx.LangText("DynamicIND_Low_pressure"));
        ShowStatusNow(ctx, Colour::Txt_Complete, ctx.LangText("DynamicIND_Normal_pressure"));
    } else if (!(bits & 0x40)) {
        AddStatus(ctx, Colour::Txt_Error, ctx.LangText("DynamicIND_Low_pressure"));
    }
    if (changed & 0x20) {
        if (bits & 0x20) {
            AddStatus(ctx, Colour::Txt_Error, ctx.LangText("DynamicIND_Not_Save_Data"));
        } else {
            RemoveStatus(ctx, ctx.LangText("DynamicIND_Not_Save_Data"));
        }
    }
    if ((changed & kStatusDataSavedBit) && (bits & kStatusDataSavedBit)) {
        ShowStatusNow(ctx, Colour::Txt_Complete, ctx.LangText("DynamicIND_Save_Data"));
        ctx.view.TForm_3D_Wait = WaitForm::Hidden;
    }
    ring.Flags = bits & 0xFC;
}

std::uint8_t evaluatedMask(const Context& ctx, int byte) {
    std::uint8_t mask = 0;
    for (const ErrorBit& e : kErrorBits) {
        if (e.byte == byte && (!e.needsPressureSensors || HasPressureSensors(ctx))) mask |= e.mask;
    }
    return mask;
}

void handleErrorBytes(Context& ctx, Reply rx) {
    LiveData& live = ctx.live;
    const std::uint8_t e1 = rx[36];
    const std::uint8_t e2 = rx[37];
    const std::uint8_t m1 = evaluatedMask(ctx, 1);
    const std::uint8_t m2 = evaluatedMask(ctx, 2);
    std::vector<std::string>& list = ctx.dataView.HudMemo_CFG_Errors;
    if (((e1 ^ live.Error_Flags1) & m1) || ((e2 ^ live.Error_Flags2) & m2)) {
        live.Errors_Reported = false;
        live.Error_Flags1 = e1;
        live.Error_Flags2 = e2;
        list.clear();
        for (const ErrorBit& e : kErrorBits) {
            const std::uint8_t flags = e.byte == 1 ? e1 : e2;
            const std::uint8_t mask = e.byte == 1 ? m1 : m2;
            if (flags & e.mask & mask) list.push_back(ctx.LangText(e.key));
        }
        AddStatus(ctx, Colour::Txt_Error, ctx.LangText("DynamicIND_Error"));
    }
    if (live.Error_Flags1 == 0 && live.Error_Flags2 == 0 && !live.Errors_Reported) {
        live.Errors_Reported = true;
        list = {ctx.LangText("DynamicIND_Errors_NotPresent"),
                ctx.LangText("DynamicIND_Errors_ECU_Works")};
        RemoveStatus(ctx, ctx.LangText("DynamicIND_Error"));
    }
}

} // namespace

bool HasPressureSensors(const Context& ctx) {
    return !HasNoPressureSensors(ctx.link.Ident.Firmware_Version);
}

void DecodeLiveData(Context& ctx, std::span<const std::uint8_t> reply) {
    // The data bytes end before the checksum; a shorter reply would have the values of an
    // older one read in its place.
    const bool complete = reply.size() >= kLiveDataBytes + 3u;
    ctx.live.Complete = complete;
    ctx.live.Engine_Went_Off = false;
    if (complete) {
        ctx.live.Work_Mode = reply[38] & 0x07;
        decodeValues(ctx, reply);
        decodeInjectionTimes(ctx, reply);
    }
    refreshModeAndLamps(ctx);
    refreshIndicators(ctx);
    if (!complete) return;
    if (ctx.link.ECU_Connected) {
        handleStatusBits(ctx, reply);
        handleErrorBytes(ctx, reply);
    }
}

void OnLevelGasTimer(Context& ctx) {
    ViewControl& lamp = ctx.dataView.Circle_LevelGas[5];
    const std::string& gas = ctx.colours.ColourOf(Colour::Gas);
    lamp.colour = (lamp.colour == gas) ? ctx.dataView.Form_Fill_Colour : gas;
}

void ClearErrorFlags(Context& ctx) {
    ctx.live.Error_Flags1 = 0;
    ctx.live.Error_Flags2 = 0;
    ctx.live.Errors_Reported = false;
    ctx.dataView.HudMemo_CFG_Errors.clear();
}

} // namespace bifuel

#include "data/Setup_Page.h"

#include "Context.h"
#include "calibration/Calibr_Create.h"
#include "calibration/Calibr_Ctrl.h"
#include "data/Calc_Unit.h"
#include "data/Dynamic_IND_Unit.h"
#include "link/Global_Unit.h"
#include "link/Main_Window.h"
#include "rpm_map/MapRPM_Unit.h"

#include <utility>

namespace bifuel {

std::string DelayListText(std::int32_t tenths, char decimalSeparator) {
    std::string text = FixedText(tenths / 10.0, 1);
    for (char& c : text) {
        if (c == '.') c = decimalSeparator;
    }
    return text;
}

std::string_view InjectionText(bool noSequentInject) {
    return kInjectionList[noSequentInject ? 1 : 0];
}
std::string_view GasTypeText(bool lpgOn) {
    return kGasTypeList[lpgOn ? 0 : 1];
}

std::string TemperatureText(const Context& ctx, std::int32_t degrees) {
    return degrees == kTemperatureUnknown ? ctx.LangText("CFG_Temper_Unknown")
                                          : std::to_string(degrees);
}

namespace {

using C = Configuration_Class;

std::string checkText(const Context& ctx, bool on) {
    return ctx.LangText(on ? "Yes" : "No");
}

} // namespace

std::string SetupField::text(const C& c, const Context& ctx) const {
    const ParamField& f = *field;
    switch (f.setup.show) {
    case SetupShow::Text:
        return c.*f.text;
    case SetupShow::Number:
        return std::to_string(c.*f.number);
    case SetupShow::Temperature:
        return TemperatureText(ctx, c.*f.number);
    case SetupShow::Delay:
        return DelayListText(c.*f.number, ctx.setupView.Decimal_Separator);
    case SetupShow::Injection:
        return std::string(InjectionText(c.*f.flag));
    case SetupShow::GasType:
        return std::string(GasTypeText(c.*f.flag));
    case SetupShow::YesNo:
        return checkText(ctx, c.*f.flag);
    case SetupShow::Volts:
        return AdcToVoltText(c.*f.number);
    }
    return {};
}

std::span<const SetupField> SetupFields() {
    static const std::vector<SetupField> kFields = [] {
        std::vector<SetupField> fields;
        for (const ParamField* f : SetupRows())
            fields.push_back({f->key, f});
        return fields;
    }();
    return kFields;
}

std::string SetupFieldCaption(const Context& ctx, const SetupField& field) {
    const SetupRow& row = field.field->setup;
    if (row.caption != nullptr) return ctx.languageView.*row.caption;
    return ctx.LangText(row.captionKey) + " " + std::string(field.key).substr(5);
}

namespace {

std::array<std::int32_t*, 5> levels(Configuration_Class& c) {
    return {&c.Level1, &c.Level2, &c.Level3, &c.Level4, &c.Level5};
}

// A number of a list times `scale`, exactly ("2.3" seconds is 23 tenths). A list the user
// changed shows one of its items, which always parse; the fallback only guards the record.
std::int32_t listNumber(const std::string& text, std::int32_t scale, std::int32_t fallback) {
    return TextToScaled(text, scale).value_or(fallback);
}

// A list that still shows the record's value keeps the value exactly: it may be one the list
// does not offer (an ECU's 650 rpm), or none in numbers at all (an unknown temperature).
void readListNumber(const std::string& shown, const std::string& recordText, std::int32_t scale,
                    std::int32_t& field) {
    if (shown != recordText) field = listNumber(shown, scale, field);
}

// Sets the filling flag for one fill, and clears it however the fill ends.
class Filling {
  public:
    explicit Filling(SetupView& v) : v_(v), was_(std::exchange(v.Setup_Filling, true)) {}
    ~Filling() { v_.Setup_Filling = was_; }
    Filling(const Filling&) = delete;
    Filling& operator=(const Filling&) = delete;

  private:
    SetupView& v_;
    bool was_;
};

void fillInstaller(Context& ctx) {
    const Configuration_Class& c = ctx.config;
    SetupView& v = ctx.setupView;
    v.HudTextBox_CFG_User_Name = c.User_Name;
    v.HudTextBox_CFG_User_Phone = c.User_Phone;
    v.HudTextBox_CFG_User_Install_Date = c.Date_Mounting;
    v.HudTextBox_CFG_User_Install_KM = c.Data_KM;
    v.HudTextBox_CFG_User_Gas_Jets = c.Car_Jet;
    v.HudMemo_CFG_User_Notice = c.Car_Comments;
}

} // namespace

void FillSetupPage(Context& ctx) {
    SetupView& v = ctx.setupView;
    const Filling filling(v);
    Configuration_Class& c = ctx.config;
    v.HudGroupBox_CFG_User = InstallerGroupCaption(ctx);
    ctx.events.titleChanged.notify();
    v.HudComboTextBox_CFG_RPM_Prescaler = c.RPM_PreScaler;
    v.HudComboTextBox_CFG_PG_RPM = std::to_string(c.PG_RPM);
    v.HudComboTextBox_CFG_PG_Temper = TemperatureText(ctx, c.PG_Temper);
    v.HudComboTextBox_CFG_Injection = InjectionText(c.NoSequentInject);
    v.HudComboTextBox_CFG_Gas_Type = GasTypeText(c.LPG_on);
    v.HudCheckBox_CFG_GP_Buzzer = c.GP_Buzzer;
    v.HudCheckBox_CFG_PG_GAS_Hot_Engine = c.PG_GAS_Hot_Engine;
    v.HudCheckBox_CFG_LevelGas_Buzzer = c.Level_Buzzer;
    v.HudComboTextBox_CFG_Level_Sensor = c.Level_Type;
    const auto l = levels(c);
    for (std::size_t i = 0; i < l.size(); ++i) {
        v.HudTrackBar_LevelGas[i] = std::clamp(*l[i], 0, 1023);
        v.HudTextBox_LevelGas[i] = AdcToVoltText(*l[i]);
    }
    v.HudComboTextBox_CFG_PG_Time = DelayListText(c.PG_Time, v.Decimal_Separator);
    fillInstaller(ctx);
    UpdateMapControls(ctx);
    RefreshDiagram(ctx);
    ctx.events.setupPageFilled.notify();
}

void FillInstallerBoxes(Context& ctx) {
    const Filling filling(ctx.setupView);
    ctx.setupView.HudGroupBox_CFG_User = InstallerGroupCaption(ctx);
    fillInstaller(ctx);
    ctx.events.setupPageFilled.notify();
}

void ReadSetupPage(Context& ctx) {
    SetupView& v = ctx.setupView;
    if (v.Setup_Filling) return;
    ctx.timers.Timer_GEN_Transmit->stop();
    Configuration_Class& c = ctx.config;
    c.RPM_PreScaler = v.HudComboTextBox_CFG_RPM_Prescaler;
    readListNumber(v.HudComboTextBox_CFG_PG_RPM, std::to_string(c.PG_RPM), 1, c.PG_RPM);
    readListNumber(v.HudComboTextBox_CFG_PG_Temper, TemperatureText(ctx, c.PG_Temper), 1,
                   c.PG_Temper);
    // The page has no control for the mono injection: any edit here turns it off.
    c.MonoInject = false;
    c.NoSequentInject = v.HudComboTextBox_CFG_Injection == InjectionText(true);
    c.LPG_on = v.HudComboTextBox_CFG_Gas_Type == GasTypeText(true);
    c.Param44_Press = c.LPG_on ? kLpgPress44 : kCngPress44;
    c.GP_Buzzer = v.HudCheckBox_CFG_GP_Buzzer;
    c.Level_Buzzer = v.HudCheckBox_CFG_LevelGas_Buzzer;
    c.PG_GAS_Hot_Engine = v.HudCheckBox_CFG_PG_GAS_Hot_Engine;
    c.User_Name = v.HudTextBox_CFG_User_Name;
    c.User_Phone = v.HudTextBox_CFG_User_Phone;
    c.Date_Mounting = v.HudTextBox_CFG_User_Install_Date;
    c.Data_KM = v.HudTextBox_CFG_User_Install_KM;
    c.Car_Jet = v.HudTextBox_CFG_User_Gas_Jets;
    c.Car_Comments = v.HudMemo_CFG_User_Notice;
    readListNumber(v.HudComboTextBox_CFG_PG_Time, DelayListText(c.PG_Time, v.Decimal_Separator), 10,
                   c.PG_Time);
    if (std::exchange(v.User_Text_As_Utf8, false)) {
        ShowStatusNow(ctx, Colour::Txt_Attention, ctx.LangText("CFG_User_Saved_As_UTF8"));
    }
    ScheduleWrite(ctx, 2);
}

void ReadLevelBars(Context& ctx) {
    SetupView& v = ctx.setupView;
    if (v.Setup_Filling) return;
    const auto l = levels(ctx.config);
    for (std::size_t i = 0; i < l.size(); ++i) {
        *l[i] = std::clamp(v.HudTrackBar_LevelGas[i], 0, 1023);
        v.HudTextBox_LevelGas[i] = AdcToVoltText(*l[i]);
    }
    ReadSetupPage(ctx);
}

void OnLevelTypeChosen(Context& ctx) {
    SetupView& v = ctx.setupView;
    if (v.Setup_Filling) return;
    Configuration_Class& c = ctx.config;
    // Picking the type the ECU reported again keeps it and its thresholds as they are.
    if (ComboIndex(v.HudComboTextBox_CFG_Level_Sensor, kLevelTypeList) == 0) return;
    const Level_Sensor_Box_Class* box =
        LevelSensorBox(LevelTypeIndex(v.HudComboTextBox_CFG_Level_Sensor));
    if (box == nullptr) return;
    c.Level_Type = box->Name;
    c.Level_Buzzer = v.HudCheckBox_CFG_LevelGas_Buzzer;
    c.Level_Invert = box->Invert;
    c.Level_90 = box->Level_90;
    v.HudTrackBar_LevelGas = {box->Level1, box->Level2, box->Level3, box->Level4, box->Level5};
    ReadLevelBars(ctx);
}

bool RefreshSetupTexts(Context& ctx) {
    if (ctx.config.PG_Temper != kTemperatureUnknown) return false;
    std::string& shown = ctx.setupView.HudComboTextBox_CFG_PG_Temper;
    if (ComboIndex(shown, kPGTemperList) != 0) return false; // a pick of the user's stays
    std::string text = TemperatureText(ctx, kTemperatureUnknown);
    if (shown == text) return false;
    shown = std::move(text);
    return true;
}

} // namespace bifuel

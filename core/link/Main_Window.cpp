#include "link/Main_Window.h"

#include <filesystem>

#include "Context.h"
#include "Version.h"
#include "data/Dynamic_IND_Unit.h"
#include "data/Live_Data.h"
#include "data/Setup_Page.h"
#include "files/Language.h"
#include "files/SaveLoad_3D_Unit.h"
#include "files/Settings_3D_Unit.h"
#include "files/Skin_3D_Unit.h"
#include "link/Check_Versions.h"
#include "link/Edit_Tracker.h"
#include "link/Global_Unit.h"
#include "link/Link_Operations.h"
#include "link/Transmit_Unit.h"

namespace bifuel {

std::string TitleText(const Context& ctx) {
    const SharedUnitTexts& t = ctx.languageView.Shared;
    // The marks lead, so that a title cut at the right still shows them.
    std::string title = "     " + EditMarks(ctx) + ctx.paths.Base_Name + " : " + kProgramVersion +
                        "  " + t.Date + " " + kReleaseDate;
    if (ctx.link.ECU_Connected) {
        title += "     " + t.Firmware + " : " + ModelDisplayName(ctx.config.ECU_Model) + " " +
                 ctx.config.ECU_Version + "  " + t.Date + " " + ctx.config.ECU_Date;
    }
    if (!ctx.config.CFG_Name.empty())
        title += "     " + t.File + " : " + ctx.config.CFG_Name + ".cfg";
    if (ctx.settings.Port_Name == kSimulatedPort) title += "     [" + SimulatedEcuNote(ctx) + "]";
    return title;
}

std::string SimulatedEcuNote(const Context& ctx) {
    return ctx.LangText("Simulated_ECU");
}

std::string InstallerGroupCaption(const Context& ctx) {
    const SharedUnitTexts& t = ctx.languageView.Shared;
    std::string caption = t.CFG_User;
    if (!ctx.config.CFG_Name.empty())
        caption += " (" + t.File + " : " + ctx.config.CFG_Name + ".cfg) ";
    return caption;
}

void ApplyLanguageTexts(Context& ctx) {
    ctx.language.OpenLanguage();
    ApplyLanguage(ctx.language, ctx.languageView);
    ctx.events.titleChanged.notify();
    RefreshStatusLine(ctx);
    ctx.language.CloseLanguage();
}

void MainWindow_Create(Context& ctx) {
    ctx.link.Port_Error = false;
    ctx.link.Port_Opened = false;
    ctx.link.ECU_Connected = false;
    ctx.link.Main_Shown = false;

    // Settings first: they name the language, the font, the port and the last file.
    const LanguageListBuilder buildList = [&ctx](Settings_Class& s) {
        ctx.language.BuildLanguageList();
        const auto& names = ctx.language.Language_List();
        s.Language_List.fill({});
        for (std::size_t i = 0; i < names.size() && i + 1 < s.Language_List.size(); ++i)
            s.Language_List[i + 1] = names[i];
    };
    Settings_Create(ctx.keyFile, ctx.paths.Ini_Name,
                    SettingsRecords{ctx.settings, ctx.colours, ctx.skin, ctx.layout}, buildList);
    ctx.port.setPortName(ctx.settings.Port_Name);

    if (!ctx.language.setCurrent(ctx.settings.Language))
        ctx.language.setCurrent(std::string(Language::kEnglish));
    BuildLanguageList(ctx.language, ctx.languageView);
    ApplyLanguageTexts(ctx);

    // The configuration record starts at its defaults; the last file the user had, if any,
    // unless a value in it is out of bounds: then nothing of it, and the status line says why.
    const auto lastFile = ReadConfigText(ctx.settings.CFG_Full_File_Name);
    if (const auto* text = std::get_if<ConfigText>(&lastFile)) {
        const std::string refused = CheckConfigText(*text);
        if (refused.empty()) {
            LoadConfigText(ctx, *text, MissingKeys::Clear);
        } else {
            AddStatus(ctx, Colour::Txt_Error, refused);
        }
    } else if (std::filesystem::exists(ctx.settings.CFG_Full_File_Name)) {
        AddStatus(ctx, Colour::Txt_Error, std::get<std::string>(lastFile));
    }
    FillSetupPage(ctx);

    // The status line starts from "engine running, pressure normal", and every indicator
    // shows its zero value.
    ctx.dynamicInd.Flags = 0xC0;
    ctx.dataView.Form_Fill_Colour = ctx.skin.Color;
    DecodeLiveData(ctx, ReceivedReply(ctx.link));
    ctx.events.liveData.notify();
    ctx.events.titleChanged.notify();
}

bool PickLanguage(Context& ctx, const std::string& itemText) {
    const std::string name = StripExtension(itemText);
    if (name.empty() || !IsUsableLanguageName(name)) return false;
    const WriteResult written =
        SwitchLanguage(ctx.keyFile, ctx.paths.Ini_Name, ctx.settings, ctx.colours, name);
    (void)written; // the settings are written again at exit; a failure here loses nothing
    ctx.language.setCurrent(name);
    ApplyLanguageTexts(ctx);
    ctx.events.menusClose.notify();
    return true;
}

SettingsHooks SettingsWindowHooks(Context& ctx) {
    SettingsHooks h;
    h.ECU_Connected = [&ctx] { return ctx.link.ECU_Connected; };
    // The restarted connection goes on with the probe rotation from the last code tried.
    h.RestoreProbeCode = [&ctx] { ctx.link.Sent_Frame[0] = ctx.link.Probe_Code; };
    h.Reconnect = [&ctx] { SetPendingRequest(ctx, Request::Reconnect); };
    h.StartConnection = [&ctx] { StartConnection(ctx); };
    h.QueueDeferredAction = [&ctx](int action, int delayMs) {
        QueueDeferredAction(ctx, static_cast<std::uint8_t>(action), delayMs);
    };
    return h;
}

std::string MainWindow_Close(Context& ctx, bool settingsWindowShown) {
    ctx.link.Main_Shown = false;
    // Nothing may run against the closing windows: no deferred action, no request, no
    // map trace and no port search step.
    ctx.timers.Timer_GEN_General->stop();
    ctx.timers.Timer_Connect->stop();
    ctx.timers.Timer_Sending->stop();
    ctx.timers.Timer_3D_MapRPM_Tail->stop();
    ctx.timers.Timer_Select_ComPort->stop();
    if (ctx.port.isOpen()) ctx.port.close();
    // The closed port's handling starts the send timer for its retries; the program ends,
    // so there is nothing left to retry.
    ctx.timers.Timer_Sending->stop();
    const WriteResult saved = Settings_Save(
        ctx.keyFile, ctx.paths.Ini_Name,
        SettingsRecords{ctx.settings, ctx.colours, ctx.skin, ctx.layout}, settingsWindowShown);
    return saved.ok ? std::string() : saved.message;
}

NoOpenGLTexts ReadNoOpenGLTexts(const std::filesystem::path& workDir, const std::string& baseName) {
    NoOpenGLTexts t;
    KeyFile file;
    if (file.OpenKeyFile(workDir / (baseName + ".ini"))) {
        if (file.FindKey("Language")) t.language = file.Found_Value;
        if (file.FindKey(FontKey(t.language, "_Name"))) t.font = file.Found_Value;
        file.CloseKeyFile();
    }
    // A language name that could leave the folder is not looked up.
    if (t.language != "English" && IsSafeFileName(t.language) &&
        file.OpenKeyFile(workDir / "Language" / (t.language + ".lng"))) {
        if (file.FindKey("Error_OpenGL_Not_Work")) t.message = file.Found_Value;
        file.CloseKeyFile();
    }
    return t;
}

} // namespace bifuel

#include "Context.h"

#include "calibration/Calibr_Ctrl.h"
#include "data/Dynamic_IND_Unit.h"
#include "data/Live_Data.h"
#include "link/Global_Unit.h"
#include "link/Port_3D_Connect.h"
#include "link/Port_3D_Unit.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Receiver_Unit.h"
#include "link/Transmit_Unit.h"
#include "rpm_map/MapRPM_Unit.h"

namespace bifuel {
namespace {

std::unique_ptr<Timer> makeTimer(Scheduler& scheduler, int intervalMs,
                                 std::function<void()> onFire) {
    auto timer = scheduler.createTimer(intervalMs);
    timer->setOnFire(std::move(onFire));
    return timer;
}

} // namespace

Context::Context(Scheduler& sched, SerialPort& serial, Paths where)
    : scheduler(sched), port(serial), paths(std::move(where)),
      temperatures_(paths.Dat_Name, [this] {
          if (!link.Main_Shown) return false;
          ShowMessageWindow(*this, kMessageTemperatureTable,
                            "\"" + paths.Dat_Name.filename().string() + "\" " +
                                LangText("Error_File_not_found") + ". " +
                                LangText("Error_Temperature"));
          return true;
      }, &sched) {
    timers.Timer_GEN_General = makeTimer(scheduler, 200, [this] { OnGeneralTimer(*this); });
    timers.Timer_GEN_Connect_Stabil =
        makeTimer(scheduler, 80, [this] { OnConnectStabilTimer(*this); });
    timers.Timer_GEN_Transmit = makeTimer(scheduler, 2000, [this] { OnTransmitTimer(*this); });
    timers.Timer_Countner = makeTimer(scheduler, 100, [this] { OnCountnerTimer(*this); });
    timers.Timer_Wait = makeTimer(scheduler, 1000, [this] { OnWaitTimer(*this); });
    timers.Timer_Connect = makeTimer(scheduler, 5000, [this] { OnLinkLost(*this); });
    timers.Timer_Sending = makeTimer(scheduler, 1000, [this] { SendArmed(*this); });
    timers.Timer_Reply_Gap = makeTimer(scheduler, kReadGapMs, [this] { OnReplyGap(*this); });
    timers.Timer_DynamicIND =
        makeTimer(scheduler, kStatusRotateMs, [this] { RotateStatus(*this); });
    timers.Timer_LevelGas = makeTimer(scheduler, kLevelBlinkMs, [this] { OnLevelGasTimer(*this); });

    // The units the link hands over to.
    hooks.AddStatus = [this](Colour c, const std::string& text) { AddStatus(*this, c, text); };
    hooks.RemoveStatus = [this](const std::string& text) { RemoveStatus(*this, text); };
    hooks.ShowStatusNow = [this](Colour c, const std::string& text) {
        ShowStatusNow(*this, c, text);
    };
    hooks.ClearErrorFlags = [this] { ClearErrorFlags(*this); };
    hooks.DecodeLiveData = [this] { DecodeLiveData(*this, ReceivedReply(link)); };
    hooks.DecodeName = [this] { OnNameReply(*this, ReceivedReply(link)); };
    hooks.DecodeParams = [this] { DecodeParams(*this, ReceivedReply(link)); };
    hooks.DecodeDiagram = [this] { DecodeDiagram(*this, ReceivedReply(link)); };
    hooks.DecodeMapGas = [this] { DecodeMapGas(*this, ReceivedReply(link)); };
    hooks.DecodeMapPetrol = [this] { DecodeMapPetrol(*this, ReceivedReply(link)); };
    hooks.EncodeParameter = [this](std::uint8_t code) { return EncodeParameter(*this, code); };
    hooks.EncodeDiagramItem = [this](std::uint8_t code) { return EncodeDiagramItem(*this, code); };
    hooks.ComputeSlopes = [this] { ComputeSlopes(diagram); };
    hooks.SaveConfigFile = [this] { SaveConfigFile(*this); };
    hooks.LoadInstallerDetail = [this] { LoadInstallerDetail(*this); };

    // The RPM map.
    timers.Timer_3D_MapRPM_Tail = makeTimer(scheduler, kMapTailMs, [this] { TailTick(*this); });
    hooks.DecodeMapStream = [this] { DecodeMapStream(*this); };
    hooks.BuildMap = [this] { BuildMap(*this); };
    hooks.EncodeMapStream = [this] { return EncodeMapStream(*this); };
    hooks.SaveMapKeys = [this](KeyFile& file) { SaveMapKeys(*this, file); };
    hooks.LoadMapKeys = [this](KeyFile& file) { LoadMapKeys(*this, file); };
    hooks.ResetMap = [this] { ResetMap(*this); };
    hooks.MapLiveCell = [this] { UpdateLiveCell(*this); };

    // The port and its search.
    timers.Timer_Select_ComPort =
        makeTimer(scheduler, kSelectFirstMs, [this] { OnSelectComPortTimer(*this); });
    hooks.OpenConfiguredPort = [this] { return OpenConfiguredPort(*this); };
    hooks.StartPortSearch = [this] { StartPortSearch(*this); };
    hooks.TryNextPort = [this] { TryNextPort(*this); };

    language.setLanguageDir(paths.Language_Dir);
    view.HudLabel_Port_Connect_Stabil.colour = colours.ColourOf(Colour::Port_Close);
    view.HudLabel_Port_Name.colour = colours.ColourOf(Colour::Port_Close);

    // Auto-calibration.
    hooks.ACB_Tick = [this] { ACB_Tick(*this); };
    hooks.ACB_Stop = [this] { ACB_Stop(*this); };
    hooks.ACB_On_Write_End = [this] { ACB_On_Write_End(*this); };
    hooks.ACB_Prompt_Text = [this](int n) { return bifuel::ACB_Prompt_Text(*this, n); };
    hooks.ACB_Refresh = [this] { ACB_Refresh(*this, acb.Group_Text); };
    // A classic run on an ECU that also knows the innovational algorithm still needs
    // its samples.
    hooks.Innov_Refresh = [this] {
        if (acb.ACB_Running) {
            ACB_Refresh(*this, acb.Group_Text);
        } else {
            Innov_Refresh(*this);
        }
    };
    hooks.InnovationalProgram = [] { return InnovationalProgram(); };
    hooks.InnovationalStep = [this](int step) { Innov_Instruction(*this, step); };
    hooks.InnovationalCondition = [this](int condition) {
        return Innov_Condition(*this, condition);
    };
    hooks.ACB_Frame_Data = [this] { return Innov_Frame_Data(*this); };
    ACB_Init(*this);

    // The calibration diagram.
    timers.Timer_CLB_3D_Btn =
        makeTimer(scheduler, kKeyRepeatMs, [this] { OnKeyRepeatTimer(*this); });
    hooks.AfterDiagramRead = [this] { AfterDiagramRead(*this); };
    hooks.DiagramLivePoint = [this] { RefreshDiagram(*this); };
    hooks.ResetDiagram = [this] { ResetDiagram(*this); };
    hooks.DiagramRefresh = [this] { RefreshDiagram(*this); };
    BuildDiagramScales(diagramView, diagram);

    port.setEvents({
        [this] { OnBytesArrived(*this); },
        [this] { OnPortOpened(*this); },
        [this] { OnPortClosed(*this); },
    });
}

Context::~Context() { port.setEvents({}); }

} // namespace bifuel

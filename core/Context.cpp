#include "Context.h"

#include "data/Dynamic_IND_Unit.h"
#include "data/Live_Data.h"
#include "link/Global_Unit.h"
#include "link/Port_3D_Connect.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Receiver_Unit.h"
#include "link/Transmit_Unit.h"

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
      }) {
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
    hooks.DecodeLiveData = [this] { DecodeLiveData(*this); };
    hooks.DecodeName = [this] { OnNameReply(*this); };
    hooks.DecodeParams = [this] { DecodeParams(*this); };
    hooks.DecodeDiagram = [this] { DecodeDiagram(*this); };
    hooks.DecodeMapGas = [this] { DecodeMapGas(*this); };
    hooks.DecodeMapPetrol = [this] { DecodeMapPetrol(*this); };
    hooks.EncodeParameter = [this](std::uint8_t code) { return EncodeParameter(*this, code); };
    hooks.EncodeDiagramItem = [this](std::uint8_t code) { return EncodeDiagramItem(*this, code); };
    hooks.ComputeSlopes = [this] { ComputeSlopes(diagram); };
    hooks.SaveConfigFile = [this] { SaveConfigFile(*this); };
    hooks.LoadInstallerDetail = [this] { LoadInstallerDetail(*this); };

    language.setLanguageDir(paths.Language_Dir);
    view.HudLabel_Port_Connect_Stabil.colour = colours.ColourOf(Colour::Port_Close);
    view.HudLabel_Port_Name.colour = colours.ColourOf(Colour::Port_Close);

    port.setEvents({
        [this] { OnBytesArrived(*this); },
        [this] { OnPortOpened(*this); },
        [this] { OnPortClosed(*this); },
    });
}

Context::~Context() { port.setEvents({}); }

} // namespace bifuel

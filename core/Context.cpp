#include "Context.h"

#include "autocalibration/AutoCLB_Unit.h"
#include "calibration/Calibr_Create.h"
#include "calibration/Calibr_Ctrl.h"
#include "data/Dynamic_IND_Unit.h"
#include "data/Live_Data.h"
#include "data/Setup_Page.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Edit_Tracker.h"
#include "link/Global_Unit.h"
#include "link/Port_3D_Connect.h"
#include "link/Port_3D_Unit.h"
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
      temperatures_(
          paths.Dat_Name,
          [this] {
              if (!link.Main_Shown) return false;
              ShowMessageWindow(*this, kMessageTemperatureTable,
                                "\"" + paths.Dat_Name.filename().string() + "\" " +
                                    LangText("Error_File_not_found") + ". " +
                                    LangText("Error_Temperature"));
              return true;
          },
          &sched) {
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

    timers.Timer_3D_MapRPM_Tail = makeTimer(scheduler, kMapTailMs, [this] { TailTick(*this); });

    timers.Timer_Select_ComPort =
        makeTimer(scheduler, kSelectFirstMs, [this] { OnSelectComPortTimer(*this); });

    language.setLanguageDir(paths.Language_Dir);
    view.HudLabel_Port_Connect_Stabil.colour = colours.ColourOf(Colour::Port_Close);
    view.HudLabel_Port_Name.colour = colours.ColourOf(Colour::Port_Close);

    ACB_Init(*this);
    // Those who follow the engine, in the order a live reply reaches them; the windows
    // and the tool subscribe after them.
    wiring_.push_back(events.liveData.subscribe([this] {
        if (!live.Complete) return;
        RefreshDiagram(*this);
        UpdateLiveCell(*this);
    }));
    wiring_.push_back(events.liveData.subscribe([this] { ACB_On_Live_Data(*this); }));

    timers.Timer_CLB_3D_Btn =
        makeTimer(scheduler, kKeyRepeatMs, [this] { OnKeyRepeatTimer(*this); });
    BuildDiagramScales(diagramView, diagram);
    // The Setup page's controls hold the record from the start: an edit reads all of them.
    FillSetupPage(*this);
    EditsStart(*this);

    port.setEvents({
        [this] { OnBytesArrived(*this); },
        [this] { OnPortOpened(*this); },
        [this] { OnPortClosed(*this); },
    });
}

Context::~Context() {
    port.setEvents({});
}

} // namespace bifuel

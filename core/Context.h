#pragma once

#include "autocalibration/AutoCLB_Script.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "autocalibration/Veltra_ACB_Innov.h"
#include "calibration/Calibr_Create.h"
#include "calibration/Calibr_Unit.h"
#include "data/Config_Unit.h"
#include "data/Dynamic_IND_Unit.h"
#include "data/Live_Data.h"
#include "data/Setup_Page.h"
#include "data/Temperature_Table.h"
#include "files/Colors_3D_Unit.h"
#include "files/FindUnit.h"
#include "files/Language.h"
#include "files/Language_View.h"
#include "files/Paths.h"
#include "files/SaveLoad_3D_Unit.h"
#include "files/Settings_3D_Unit.h"
#include "files/Skin_3D_Unit.h"
#include "link/Edit_Tracker.h"
#include "link/Link_Events.h"
#include "link/Link_State.h"
#include "link/Link_View.h"
#include "link/Port_3D_Unit.h"
#include "rpm_map/MapRPM_Unit.h"
#include "rpm_map/MapRPM_View.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialPort.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace bifuel {

// One entry of the main window's deferred-action queue.
struct DeferredAction {
    std::uint8_t action = 0;
    int delayMs = 0;
};

// The timers of the link, named as the user-visible behaviour they drive.
struct LinkTimers {
    std::unique_ptr<Timer> Timer_GEN_General;        // deferred actions
    std::unique_ptr<Timer> Timer_GEN_Connect_Stabil; // link quality
    std::unique_ptr<Timer> Timer_GEN_Transmit;       // debounced writes
    std::unique_ptr<Timer> Timer_Countner;           // tenths counter of the programs
    std::unique_ptr<Timer> Timer_Wait;               // program waits
    std::unique_ptr<Timer> Timer_Connect;            // link loss
    std::unique_ptr<Timer> Timer_Sending;            // send delay and reply timeout
    std::unique_ptr<Timer> Timer_Reply_Gap;          // 500 ms without a byte ends a reply
    std::unique_ptr<Timer> Timer_DynamicIND;         // status line rotation
    std::unique_ptr<Timer> Timer_LevelGas;           // level lamp blink
    std::unique_ptr<Timer> Timer_3D_MapRPM_Tail;     // RPM map trace
    std::unique_ptr<Timer> Timer_Select_ComPort;     // port search steps
    std::unique_ptr<Timer> Timer_CLB_3D_Btn;         // diagram key repeat
};

// Everything the program holds for its whole run. main() makes one; tests make as many
// as they like. The scheduler and the port belong to the caller and must outlive it.
class Context {
  public:
    Context(Scheduler& scheduler, SerialPort& port, Paths paths = {});
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    Scheduler& scheduler;
    SerialPort& port;
    PortLister* lister = nullptr; // the system's ports; none: only the configured port

    const Paths paths;
    Settings_Class settings;
    Configuration_Class config;
    LiveData live;
    DynamicIND_Class dynamicInd;
    DiagramModel diagram;
    MapPoints mapPoints;
    Language language;
    ColourTable colours;
    LinkState link;
    LinkView view;
    DataView dataView;
    SetupView setupView;
    SaveLoadView saveLoad;
    SettingsView settingsView;
    LanguageView languageView;
    WindowSkin skin;
    WindowLayout layout;
    KeyFile keyFile; // the one key-value file open at a time
    LinkEvents events;
    LinkOperations ops;
    LinkTimers timers;
    std::vector<DeferredAction> deferred;
    ACB_State acb;
    Innov_State innov;
    ACBView acbView;
    std::vector<ACB_SCR_Class> acbRecords;
    RpmMap rpmMap;
    MapView mapView;
    PortSearch portSearch;
    PortView portView;
    DiagramView diagramView;
    EditTracker edits; // what the ECU and the file do not hold yet

    std::string LangText(std::string_view key) const { return language.LangText(key); }
    TemperatureTable& temperatureTable() { return temperatures_; }

  private:
    TemperatureTable temperatures_;
    std::vector<Subscription> wiring_; // the units' own subscriptions to the core's events
};

} // namespace bifuel

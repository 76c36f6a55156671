#pragma once

#include "link/Link_View.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel {

class Context;

// The in-process simulated ECU. The programs list it only while it is the configured
// port; the automatic search never tries it.
inline constexpr std::string_view kSimPortName = "sim";

// Timer_Select_ComPort: 100 ms marks the first call of a search (and re-reads the list
// while no port exists); 1000 ms is the wait before trying the first port and between
// passes.
inline constexpr int kSelectFirstMs = 100;
inline constexpr int kSelectPassMs = 1000;
inline constexpr std::string_view kSearchLabelColour = "#FF00FF00";
inline constexpr std::uint8_t kActionPortTexts = 6; // deferred action queued when shown

enum class PortParity { None, Even, Odd, Space, Mark };
enum class PortStopBits { One, OneAndHalf, Two };
enum class PortFlowControl { None, Hardware, Software };

// Line settings of the serial port. Fixed at 9600 8N1 without flow control; only the
// manual port dialog changes them, until the program ends.
struct PortLineSettings {
    std::int32_t Baud_Rate = 9600;
    std::int32_t Data_Bits = 8;
    PortStopBits Stop_Bits = PortStopBits::One;
    PortParity Parity = PortParity::None;
    PortFlowControl Flow_Control = PortFlowControl::None;
    bool operator==(const PortLineSettings&) const = default;
};

// The port search's part of the link state.
struct PortSearch {
    std::vector<std::string> Port_List; // the ports to try, in order
    std::int32_t Port_Count = 0;        // entries of Port_List
    // The entry being tried; -1 before the first. While a list is rebuilt it holds the
    // size of the previous one.
    std::int32_t Port_Index = 0;
    bool Preferred_Found = false;
    // The Port_Name setting as loaded (taken when the link first looks for a port) or
    // as chosen by hand; the first search prefers it.
    std::string Startup_Port_Name;
    bool Startup_Port_Known = false;
    PortLineSettings Line_Settings; // what the port runs with; presets the manual dialog
    // The list a rebuild compares with to find new ports. The call that only announces a
    // search keeps it for the rebuild a second later, which would otherwise compare with
    // the announced list and lose the preferred port.
    std::vector<std::string> Basis_List;
    std::int32_t Basis_Count = 0;
    bool Announced = false;
};

struct PortWindowRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PortWindowRect&) const = default;
};

// The port window (TForm_3D_Port). It is shown while link.Port_Window_Shown is set; it
// takes the main window's fill.
struct PortView {
    std::string Title;
    // Searching look.
    ViewControl HudLabel_3D_Port_Search{.visible = false};
    ViewControl AniIndicator_3D_Port{.visible = false};
    bool AniIndicator_3D_Port_Animate = false;
    // List look.
    ViewControl HudLabel_3D_Port_Num{.visible = false};
    ViewControl HudPanel_3D_Port_Num{.visible = false};
    ViewControl HudLabel_3D_Port_Num_Data{.visible = false};
    ViewControl HudLabel_3D_Port_Name{.visible = false};
    ViewControl HudPanel_3D_Port_Name{.visible = false};
    ViewControl HudLabel_3D_Port_Name_Data{.visible = false};
    ViewControl HudLabel_3D_Port_Number{.visible = false};
    ViewControl ProgressBar_3D_Port{.visible = false};
    ViewProgress ProgressBar_3D_Port_Value;
    ViewControl HudMemo_3D_Port{.visible = false};
    std::vector<std::string> HudMemo_3D_Port_Lines; // the ports listed, one a line

    // Why the last port could not be opened, naming it; empty once a port opens. The
    // status line shows it too; the command-line tool prints it.
    std::string Port_Open_Error;
};

// Where the searching look puts its label and indicator in a panel of this size.
struct SearchingLookGeometry {
    PortWindowRect HudLabel_3D_Port_Search;
    PortWindowRect AniIndicator_3D_Port;
};
SearchingLookGeometry SearchingLookLayout(int panelWidth, int panelHeight);

// The ports the system lists; without a lister only the configured port is known.
std::vector<std::string> ListedPorts(const Context& ctx);
bool PortListed(const Context& ctx, const std::string& name);

// Deferred action 7 and the probe rotation: opens Port_Name if it is listed (false after
// a failed open, which runs the port-error handling); otherwise searches if Search_Port
// is set and returns false.
bool OpenConfiguredPort(Context& ctx);
// HudButton_Port_Search ("Auto search port"), Timer_Select_ComPort, the port-error
// handling and the probe rotation: rebuilds the list and tries its ports.
void StartPortSearch(Context& ctx);
// Moves the search on to the next port of the list; at its end waits for the next pass.
void TryNextPort(Context& ctx);
void OnSelectComPortTimer(Context& ctx);

void ShowPortWindow(Context& ctx);
// The user closed the port window: no traffic until the next search or port change.
void ClosePortWindow(Context& ctx);

// The manual port dialog's "OK": the line settings and the name go to the port, the
// name becomes Port_Name and the preferred port of the next first search, and a listed
// port is opened afresh.
void ApplyManualPort(Context& ctx, const std::string& name, const PortLineSettings& line);

// "Port <name>: <reason>", for a port that could not be opened.
std::string PortOpenFailureText(const Context& ctx, const std::string& name,
                                const std::string& reason);

} // namespace bifuel

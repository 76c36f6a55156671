#include "link/Port_3D_Unit.h"

#include "Context.h"
#include "files/Settings_3D_Unit.h"
#include "link/Global_Unit.h"
#include "link/Port_3D_Connect.h"

#include <algorithm>
#include <deque>

namespace bifuel {
namespace {

// The setting as loaded is what the first search prefers; the search rewrites Port_Name,
// so it is taken before the link touches any port.
void rememberStartupPort(Context& ctx) {
    PortSearch& search = ctx.portSearch;
    if (search.Startup_Port_Known) return;
    search.Startup_Port_Name = ctx.settings.Port_Name;
    search.Startup_Port_Known = true;
}

void setListLookVisible(PortView& v, bool visible) {
    for (ViewControl* c :
         {&v.HudLabel_3D_Port_Num, &v.HudPanel_3D_Port_Num, &v.HudLabel_3D_Port_Num_Data,
          &v.HudLabel_3D_Port_Name, &v.HudPanel_3D_Port_Name, &v.HudLabel_3D_Port_Name_Data,
          &v.HudLabel_3D_Port_Number, &v.ProgressBar_3D_Port, &v.HudMemo_3D_Port}) {
        c->visible = visible;
    }
}

void showSearchingLook(Context& ctx, std::string_view textKey) {
    PortView& v = ctx.portView;
    setListLookVisible(v, false);
    v.HudLabel_3D_Port_Search.visible = true;
    v.AniIndicator_3D_Port.visible = true;
    v.HudLabel_3D_Port_Search.text = ctx.LangText(textKey);
    v.HudLabel_3D_Port_Search.colour = std::string(kSearchLabelColour);
}

void showListLook(Context& ctx) {
    PortView& v = ctx.portView;
    setListLookVisible(v, true);
    v.HudLabel_3D_Port_Search.visible = false;
    v.AniIndicator_3D_Port.visible = false;
    v.AniIndicator_3D_Port_Animate = false;
}

// The search never tries the simulated ECU: it is no device a cable could be plugged into.
std::vector<std::string> searchablePorts(const Context& ctx) {
    std::vector<std::string> ports = ListedPorts(ctx);
    std::erase(ports, std::string(kSimPortName));
    return ports;
}

// First half of the search: the listed ports, preferred ones in front. A port is
// preferred on the first search when it is the port the program started with, later
// when it was not in the previous list (an adapter plugged in since).
void buildPortList(Context& ctx, const std::vector<std::string>& listed) {
    PortSearch& search = ctx.portSearch;
    if (!search.Announced) {
        search.Basis_List = search.Port_List;
        search.Basis_Count = search.Port_Count;
    }
    search.Announced = false;
    search.Preferred_Found = false;
    search.Port_Index = search.Basis_Count;
    search.Port_Count = 0;
    const std::size_t known =
        std::min(search.Basis_List.size(), static_cast<std::size_t>(search.Port_Index));
    const auto knownBegin = search.Basis_List.cbegin();
    const auto knownEnd = knownBegin + static_cast<std::ptrdiff_t>(known);

    std::deque<std::string> list;
    for (const std::string& port : listed) {
        search.Port_Count += 1;
        ctx.portView.HudMemo_3D_Port_Lines.push_back(port);
        const bool preferred = search.Port_Index == 0
                                   ? port == search.Startup_Port_Name
                                   : std::find(knownBegin, knownEnd, port) == knownEnd;
        if (preferred) {
            search.Preferred_Found = true;
            list.push_front(port);
            ctx.settings.Port_Name = port;
        } else {
            list.push_back(port);
        }
    }
    search.Port_List.assign(list.begin(), list.end());
    ctx.portView.HudLabel_3D_Port_Num_Data.text = std::to_string(search.Port_Count);
}

// P, X, Y, Z becomes P, X, P, Y, P, Z: the likeliest port gets a turn between all others.
void interleavePreferred(PortSearch& search) {
    const std::vector<std::string> list = std::move(search.Port_List);
    search.Port_List.clear();
    for (std::size_t i = 1; i < list.size(); ++i) {
        search.Port_List.push_back(list.front());
        search.Port_List.push_back(list[i]);
    }
    search.Port_Count = static_cast<std::int32_t>(search.Port_List.size());
}

void stopSearchLook(Context& ctx) {
    ctx.portView.HudLabel_3D_Port_Search.visible = false;
    ctx.portView.AniIndicator_3D_Port_Animate = false;
    ctx.timers.Timer_Select_ComPort->stop();
    ctx.portSearch.Announced = false;
}

} // namespace

SearchingLookGeometry SearchingLookLayout(int panelWidth, int panelHeight) {
    const int side = panelWidth * 30 / 100;
    SearchingLookGeometry g;
    g.HudLabel_3D_Port_Search = {0, 0, panelWidth - side, panelHeight};
    g.AniIndicator_3D_Port = {panelWidth - side, (panelHeight - side) / 2, side, side};
    return g;
}

std::vector<std::string> ListedPorts(const Context& ctx) {
    if (ctx.lister == nullptr) return {ctx.settings.Port_Name};
    return ctx.lister->listPorts();
}

bool PortListed(const Context& ctx, const std::string& name) {
    const std::vector<std::string> ports = ListedPorts(ctx);
    return std::find(ports.begin(), ports.end(), name) != ports.end();
}

bool OpenConfiguredPort(Context& ctx) {
    rememberStartupPort(ctx);
    if (PortListed(ctx, ctx.settings.Port_Name)) {
        ctx.port.setPortName(ctx.settings.Port_Name);
        if (OpenPort(ctx) && !ctx.link.Port_Error) return true;
        HandlePortError(ctx);
        return false;
    }
    if (ctx.settings.Search_Port) StartPortSearch(ctx);
    return false;
}

void StartPortSearch(Context& ctx) {
    rememberStartupPort(ctx);
    PortSearch& search = ctx.portSearch;
    PortView& v = ctx.portView;
    Timer& select = *ctx.timers.Timer_Select_ComPort;
    ctx.view.HudButton_Port_Search.visible = false;
    ctx.view.HudLabel_DynamicIND.visible = false;
    v.HudMemo_3D_Port_Lines.clear();
    buildPortList(ctx, searchablePorts(ctx));

    if (search.Port_Count > 0) {
        select.stop();
        if (search.Preferred_Found && search.Port_Count != 1) interleavePreferred(search);
        v.ProgressBar_3D_Port_Value = {search.Port_Count, 0};
        search.Port_Index = -1;
        if (!ctx.link.Port_Window_Shown) ShowPortWindow(ctx);
        if (select.interval() == kSelectFirstMs) {
            // The first call of a search only announces it; the first port is tried a
            // second later.
            showSearchingLook(ctx, "Finds_Port");
            search.Announced = true;
            select.setInterval(kSelectPassMs);
            select.start();
        } else {
            showListLook(ctx);
            TryNextPort(ctx);
        }
        return;
    }

    const ViewControl& label = v.HudLabel_3D_Port_Search;
    if (label.visible && label.colour != kSearchLabelColour) return;
    // No port at all: read the list again every 100 ms until one appears.
    showSearchingLook(ctx, "Search_Port");
    select.setInterval(kSelectFirstMs);
    select.start();
    if (!ctx.link.Port_Window_Shown) ShowPortWindow(ctx);
}

void OnSelectComPortTimer(Context& ctx) {
    Timer& select = *ctx.timers.Timer_Select_ComPort;
    if (!ctx.link.Port_Window_Shown) {
        // The link closed the window when the ECU answered; finish that close here.
        stopSearchLook(ctx);
        return;
    }
    if (ctx.portSearch.Port_Count != 0) {
        select.stop();
    } else {
        ctx.portView.AniIndicator_3D_Port_Animate = true;
    }
    StartPortSearch(ctx);
}

void TryNextPort(Context& ctx) {
    PortSearch& search = ctx.portSearch;
    PortView& v = ctx.portView;
    ctx.link.Probe_Rounds = 0;
    if (search.Port_Count == 0) return;
    ctx.link.Port_Opened = false;
    if (search.Port_Index < search.Port_Count - 1) {
        search.Port_Index += 1;
        const std::string name = search.Port_List[static_cast<std::size_t>(search.Port_Index)];
        ctx.settings.Port_Name = name;
        v.HudLabel_3D_Port_Number.text = std::to_string(search.Port_Index + 1);
        v.HudLabel_3D_Port_Name_Data.text = name;
        v.ProgressBar_3D_Port_Value.value = search.Port_Index + 1;
        if (PortListed(ctx, name)) {
            if (!ctx.port.portName().empty()) ctx.port.close();
            ctx.port.setPortName(name);
            // Opening runs the port-opened handling, which starts probing on this port.
            OpenPort(ctx);
        }
    }
    if (!ctx.link.Port_Opened) {
        // The list is used up, or the port vanished or did not open: the next pass
        // reads the list again.
        v.HudLabel_3D_Port_Number.text.clear();
        v.HudLabel_3D_Port_Name_Data.text.clear();
        v.ProgressBar_3D_Port_Value.value = 0;
        Timer& select = *ctx.timers.Timer_Select_ComPort;
        select.setInterval(kSelectPassMs);
        select.start();
    }
}

void ShowPortWindow(Context& ctx) {
    PortView& v = ctx.portView;
    ctx.link.Port_Window_Shown = true;
    QueueDeferredAction(ctx, kActionPortTexts, 100);
    v.Title = ctx.LangText("AutoSearchPort");
    v.HudLabel_3D_Port_Num.text = ctx.LangText("Quantity");
    v.HudLabel_3D_Port_Name.text = ctx.LangText("Name");
    v.HudLabel_3D_Port_Number.text.clear();
    v.HudLabel_3D_Port_Name_Data.text.clear();
}

void ClosePortWindow(Context& ctx) {
    if (ctx.link.Port_Window_Shown) {
        ctx.view.HudButton_Port_Search.visible = true;
        ctx.timers.Timer_Sending->stop();
        ctx.timers.Timer_Connect->stop();
    }
    ctx.link.Port_Window_Shown = false;
    stopSearchLook(ctx);
}

void ApplyManualPort(Context& ctx, const std::string& name, const PortLineSettings& line) {
    ctx.portSearch.Line_Settings = line;
    ctx.events.lineSettings.notify(line);
    SettingsHooks hooks;
    hooks.SetPortToOpen = [&ctx](const std::string& chosen) {
        ctx.portSearch.Startup_Port_Name = chosen;
        ctx.portSearch.Startup_Port_Known = true;
    };
    hooks.IsSystemPort = [&ctx](const std::string& chosen) { return PortListed(ctx, chosen); };
    hooks.ReopenPort = [&ctx] {
        ctx.port.close();
        ctx.link.Port_Error = false;
        ctx.port.setPortName(ctx.settings.Port_Name);
        OpenPort(ctx);
    };
    HudButton_3D_SET_Port_ManualChosen(ctx.settingsView, ctx.settings, name, hooks);
}

std::string PortOpenFailureText(const Context& ctx, const std::string& name,
                                const std::string& reason) {
    std::string text = ctx.LangText("Port") + " " + name;
    if (!reason.empty()) text += ": " + reason;
    return text;
}

} // namespace bifuel

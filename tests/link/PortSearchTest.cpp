#include "LinkHarness.h"
#include "PortRouter.h"

#include "link/Port_3D_Connect.h"
#include "link/Port_3D_Unit.h"

#include <map>
#include <memory>

namespace bifuel::test {
namespace {

// A machine with ports and no ECU unless a test attaches one.
struct Rig {
    Rig() : ctx(clock, port, work.paths(false)) {
        ctx.lister = &lister;
        ctx.link.Main_Shown = true;
        ctx.settings.Search_Port = true;
    }

    void attachEcu(const std::string& portName) {
        ecu = std::make_unique<sim::SimEcu>(clock, port.line(portName).device());
    }
    bool runUntilOpens(std::size_t n, std::int64_t limitMs = 120000) {
        return clock.runUntil([&] { return port.opens.size() >= n; }, limitMs);
    }
    std::size_t hostWrites(const std::string& name) { return port.line(name).hostWrites().size(); }
    int statusCount(const std::string& text) const {
        int n = 0;
        for (int i = 1; i <= ctx.dynamicInd.Count; ++i)
            n += ctx.dynamicInd.Texts[i] == text;
        return n;
    }

    TempWorkDir work;
    VirtualScheduler clock;
    PortRouter port{clock};
    FakeLister lister;
    std::unique_ptr<sim::SimEcu> ecu;
    Context ctx;
};

using Names = std::vector<std::string>;

TEST(PortSearch, TriesThePreferredPortBetweenAllOthersOnlyOnTheFirstPass) {
    struct Case {
        Names listed;
        std::string portName;
        Names tried; // the first pass, then the second
    };
    const Case cases[] = {
        {{"COM1", "COM2", "COM3"},
         "COM3",
         {"COM3", "COM1", "COM3", "COM2", /* next pass */ "COM1", "COM2", "COM3"}},
        {{"COM1", "COM3"}, "COM3", {"COM3", "COM1", "COM1", "COM3"}},
        {{"COM3"}, "COM3", {"COM3", "COM3"}},
        {{"COM1", "COM2"}, "COM9", {"COM1", "COM2", "COM1", "COM2"}},
        // The simulated ECU is never searched, not even as the preferred port.
        {{"sim", "COM1"}, "sim", {"COM1", "COM1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.portName + " among " + std::to_string(c.listed.size()));
        Rig rig;
        rig.lister.ports = c.listed;
        rig.ctx.settings.Port_Name = c.portName;
        StartPortSearch(rig.ctx);
        ASSERT_TRUE(rig.runUntilOpens(c.tried.size()));
        EXPECT_EQ(Names(rig.port.opens.begin(), rig.port.opens.begin() + c.tried.size()), c.tried);
    }
}

TEST(PortSearch, FirstCallOnlyAnnouncesTheSearchAndTriesAPortOneSecondLater) {
    Rig rig;
    rig.lister.ports = {"COM1", "COM2"};
    StartPortSearch(rig.ctx);
    const PortView& v = rig.ctx.portView;
    EXPECT_TRUE(rig.ctx.link.Port_Window_Shown);
    EXPECT_TRUE(v.HudLabel_3D_Port_Search.visible);
    EXPECT_EQ(v.HudLabel_3D_Port_Search.text, rig.ctx.LangText("Finds_Port"));
    EXPECT_EQ(v.HudLabel_3D_Port_Search.colour, kSearchLabelColour);
    EXPECT_FALSE(v.HudMemo_3D_Port.visible);
    EXPECT_EQ(v.Title, "Auto saerch port");
    EXPECT_FALSE(rig.ctx.view.HudButton_Port_Search.visible);

    rig.clock.advance(999);
    EXPECT_TRUE(rig.port.opens.empty());
    rig.clock.advance(1);
    EXPECT_EQ(rig.port.opens, Names{"COM1"});
    // The list look: what was found and which one is being tried.
    EXPECT_FALSE(v.HudLabel_3D_Port_Search.visible);
    EXPECT_TRUE(v.HudMemo_3D_Port.visible);
    EXPECT_EQ(v.HudMemo_3D_Port_Lines, (Names{"COM1", "COM2"}));
    EXPECT_EQ(v.HudLabel_3D_Port_Num_Data.text, "2");
    EXPECT_EQ(v.HudLabel_3D_Port_Number.text, "1");
    EXPECT_EQ(v.HudLabel_3D_Port_Name_Data.text, "COM1");
    EXPECT_EQ(v.ProgressBar_3D_Port_Value.max, 2);
    EXPECT_EQ(v.ProgressBar_3D_Port_Value.value, 1);
    EXPECT_EQ(rig.ctx.settings.Port_Name, "COM1");
}

TEST(PortSearch, WithoutAnyPortItWaitsAndReadsTheListEvery100ms) {
    Rig rig;
    StartPortSearch(rig.ctx);
    const PortView& v = rig.ctx.portView;
    EXPECT_TRUE(rig.ctx.link.Port_Window_Shown);
    EXPECT_EQ(v.HudLabel_3D_Port_Search.text, rig.ctx.LangText("Search_Port"));
    rig.clock.advance(1050);
    EXPECT_EQ(v.HudLabel_3D_Port_Search.text, rig.ctx.LangText("Search_Port"));
    EXPECT_TRUE(v.AniIndicator_3D_Port_Animate);
    EXPECT_TRUE(rig.port.opens.empty());

    rig.lister.ports = {"ttyUSB0"}; // an adapter is plugged in
    rig.clock.advance(100);
    EXPECT_EQ(v.HudLabel_3D_Port_Search.text, rig.ctx.LangText("Finds_Port"));
    rig.clock.advance(1000);
    EXPECT_EQ(rig.port.opens, Names{"ttyUSB0"});
}

TEST(PortSearch, AnAdapterPluggedInBetweenPassesIsPreferredInTheNextPass) {
    Rig rig;
    rig.lister.ports = {"COM1", "COM2"};
    rig.ctx.settings.Port_Name = "COM9";
    StartPortSearch(rig.ctx);
    ASSERT_TRUE(rig.runUntilOpens(2));
    rig.lister.ports = {"COM1", "COM5", "COM2"};
    ASSERT_TRUE(rig.runUntilOpens(3));
    EXPECT_EQ(rig.ctx.settings.Port_Name, "COM5");
    ASSERT_TRUE(rig.runUntilOpens(6));
    EXPECT_EQ(rig.port.opens, (Names{"COM1", "COM2", "COM5", "COM1", "COM5", "COM2"}));
}

TEST(PortSearch, FindsTheEcuOnTheOnePortWithIt) {
    Rig rig;
    rig.attachEcu("ttyC");
    rig.lister.ports = {"ttyA", "ttyB", "ttyC"};
    EXPECT_FALSE(OpenConfiguredPort(rig.ctx)); // "COM1" is not there: search
    ASSERT_TRUE(rig.clock.runUntil([&] { return rig.ctx.link.ECU_Connected; }, 60000));
    EXPECT_EQ(rig.port.opens, (Names{"ttyA", "ttyB", "ttyC"}));
    EXPECT_EQ(rig.ctx.settings.Port_Name, "ttyC");
    EXPECT_EQ(rig.ctx.view.HudLabel_Port_Name.text, "ttyC");
    EXPECT_FALSE(rig.ctx.link.Port_Window_Shown);
    // The search is over: the link stays on that port.
    rig.clock.advance(20000);
    EXPECT_TRUE(rig.ctx.link.ECU_Connected);
    EXPECT_EQ(rig.port.opens.size(), 3u);
    EXPECT_FALSE(rig.ctx.timers.Timer_Select_ComPort->isRunning());
}

// The code that answered last on a port is probed first on that port only; the others
// get the rotation as always.
TEST(PortSearch, EachPortIsProbedFirstWithTheCodeThatAnsweredThere) {
    Rig rig;
    sim::EcuState on23 = sim::SimEcu::defaultState();
    on23.programCode = 23;
    rig.ecu = std::make_unique<sim::SimEcu>(rig.clock, rig.port.line("ttyC").device(), on23);
    rig.lister.ports = {"ttyA", "ttyC"};
    rig.ctx.settings.Last_Code_Port = "ttyC";
    rig.ctx.settings.Last_Code = 23;
    EXPECT_FALSE(OpenConfiguredPort(rig.ctx));
    ASSERT_TRUE(rig.clock.runUntil([&] { return rig.ctx.link.ECU_Connected; }, 60000));
    EXPECT_EQ(rig.port.opens, (Names{"ttyA", "ttyC"}));
    auto probes = [&](const std::string& name) {
        std::vector<int> codes;
        for (const auto& w : rig.port.line(name).hostWrites()) {
            if (w.at(1) == 0x21) codes.push_back(w[0]);
        }
        return codes;
    };
    EXPECT_EQ(probes("ttyA"), (std::vector<int>{26, 25, 23, 26, 25}));
    EXPECT_EQ(probes("ttyC"), (std::vector<int>{23}));
}

TEST(PortSearch, AnAnswerDuringTheAnnouncedSearchClosesThePortWindowAndKeepsTheLink) {
    Rig rig;
    rig.attachEcu("COM1");
    rig.lister.ports = {"COM1", "COM2"};
    rig.ctx.settings.Port_Name = "COM1";
    ASSERT_TRUE(OpenConfiguredPort(rig.ctx));
    StartPortSearch(rig.ctx); // "Auto search port" while the open port is still probed
    ASSERT_TRUE(rig.ctx.timers.Timer_Select_ComPort->isRunning());
    ASSERT_TRUE(rig.ctx.portView.HudLabel_3D_Port_Search.visible);

    ASSERT_TRUE(rig.clock.runUntil([&] { return rig.ctx.link.ECU_Connected; }, 900));
    // The window closes with the answer; the search it showed ends with it.
    EXPECT_FALSE(rig.ctx.link.Port_Window_Shown);
    EXPECT_FALSE(rig.ctx.portView.HudLabel_3D_Port_Search.visible);
    EXPECT_FALSE(rig.ctx.portView.AniIndicator_3D_Port_Animate);
    EXPECT_FALSE(rig.ctx.timers.Timer_Select_ComPort->isRunning());
    // Unlike a close by the user, the traffic goes on.
    EXPECT_FALSE(rig.ctx.view.HudButton_Port_Search.visible);
    EXPECT_TRUE(rig.ctx.timers.Timer_Connect->isRunning());
    const std::size_t sent = rig.hostWrites("COM1");
    rig.clock.advance(10000);
    EXPECT_TRUE(rig.ctx.link.ECU_Connected);
    EXPECT_GT(rig.hostWrites("COM1"), sent);
    EXPECT_EQ(rig.port.opens, Names{"COM1"});
}

TEST(PortSearch, OpeningTheConfiguredPortSearchesOnlyWhenItIsMissingAndSearchIsOn) {
    struct Case {
        Names listed;
        bool searchPort;
        bool opened;
        bool searching;
    };
    const Case cases[] = {
        {{"COM1", "COM2"}, true, true, false},
        {{"COM2"}, true, false, true},
        {{"COM2"}, false, false, false},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.lister.ports = c.listed;
        rig.ctx.settings.Search_Port = c.searchPort;
        EXPECT_EQ(OpenConfiguredPort(rig.ctx), c.opened);
        EXPECT_EQ(rig.port.isOpen(), c.opened);
        EXPECT_EQ(rig.ctx.link.Port_Opened, c.opened);
        EXPECT_EQ(rig.ctx.link.Port_Window_Shown, c.searching);
        rig.clock.advance(1000);
        EXPECT_EQ(rig.port.opens.empty(), !c.opened && !c.searching);
    }
}

TEST(PortSearch, ClosingThePortWindowStopsAllTrafficUntilTheNextSearch) {
    Rig rig;
    rig.lister.ports = {"COM1"};
    StartPortSearch(rig.ctx);
    ASSERT_TRUE(rig.clock.runUntil([&] { return rig.hostWrites("COM1") > 0; }, 5000));
    ClosePortWindow(rig.ctx);
    EXPECT_FALSE(rig.ctx.link.Port_Window_Shown);
    EXPECT_FALSE(rig.ctx.timers.Timer_Sending->isRunning());
    EXPECT_FALSE(rig.ctx.timers.Timer_Connect->isRunning());
    EXPECT_FALSE(rig.ctx.timers.Timer_Select_ComPort->isRunning());
    EXPECT_TRUE(rig.ctx.view.HudButton_Port_Search.visible);
    const std::size_t sent = rig.hostWrites("COM1");
    rig.clock.advance(30000);
    EXPECT_EQ(rig.hostWrites("COM1"), sent);
    EXPECT_EQ(rig.port.opens.size(), 1u);

    StartPortSearch(rig.ctx); // "Auto search port"
    EXPECT_TRUE(rig.clock.runUntil([&] { return rig.hostWrites("COM1") > sent; }, 5000));
}

TEST(PortSearch, ABusyPortIsKeptWhileListedAndSaysWhy) {
    Rig rig;
    rig.ctx.settings.Search_Port = false;
    rig.lister.ports = {"COM1"};
    rig.ctx.settings.Port_Name = "COM1";
    rig.port.line("COM1").setOpenFailure("Device or resource busy");
    EXPECT_FALSE(OpenConfiguredPort(rig.ctx));
    const std::string message = "Port COM1: Device or resource busy";
    EXPECT_EQ(rig.ctx.portView.Port_Open_Error, message);
    EXPECT_EQ(rig.statusCount(message), 1);

    rig.clock.advance(30000);
    EXPECT_TRUE(rig.port.isOpen());
    EXPECT_FALSE(rig.ctx.link.Port_Opened);
    EXPECT_EQ(rig.hostWrites("COM1"), 0u);
    EXPECT_EQ(rig.statusCount(message), 1); // retries do not repeat it
    EXPECT_FALSE(rig.ctx.link.Port_Window_Shown);

    rig.lister.ports.clear(); // taken away: the next failure closes it
    ASSERT_TRUE(rig.clock.runUntil([&] { return !rig.port.isOpen(); }, 2000));
}

TEST(PortSearch, AVanishedPortIsClosedAndTheSearchMovesOn) {
    Rig rig;
    rig.attachEcu("COM2");
    rig.lister.ports = {"COM1", "COM2"};
    rig.ctx.settings.Port_Name = "COM2";
    ASSERT_TRUE(OpenConfiguredPort(rig.ctx));
    ASSERT_TRUE(rig.clock.runUntil([&] { return rig.ctx.link.ECU_Connected; }, 10000));

    rig.port.line("COM2").setUnplugged(true);
    rig.lister.ports = {"COM1"};
    ASSERT_TRUE(rig.clock.runUntil([&] { return rig.ctx.link.Port_Window_Shown; }, 5000));
    EXPECT_FALSE(rig.ctx.link.ECU_Connected);
    EXPECT_FALSE(rig.port.line("COM2").host().isOpen());
    ASSERT_TRUE(rig.runUntilOpens(2));
    EXPECT_EQ(rig.port.opens.back(), "COM1");
}

TEST(PortSearch, AManualChoiceBecomesThePreferredPortAndReopensAListedOne) {
    Rig rig;
    std::vector<PortLineSettings> applied;
    const Subscription watch = rig.ctx.events.lineSettings.subscribe(
        [&](const PortLineSettings& s) { applied.push_back(s); });
    rig.ctx.settings.Search_Port = false;
    rig.lister.ports = {"COM1", "COM2"};
    rig.ctx.settings.Port_Name = "COM1";
    rig.port.line("COM1").setOpenFailure("Device or resource busy");
    ASSERT_FALSE(OpenConfiguredPort(rig.ctx));

    const PortLineSettings line{.Baud_Rate = 19200, .Parity = PortParity::Even};
    ApplyManualPort(rig.ctx, "COM7", line); // not there: only remembered
    EXPECT_EQ(applied, std::vector<PortLineSettings>{line});
    EXPECT_EQ(rig.ctx.settings.Port_Name, "COM7");
    EXPECT_EQ(rig.ctx.portSearch.Startup_Port_Name, "COM7");
    EXPECT_EQ(rig.port.opens, Names{"COM1"});

    rig.port.line("COM1").setOpenFailure("");
    ApplyManualPort(rig.ctx, "COM1", line); // there: opened afresh, and it works now
    EXPECT_EQ(rig.port.opens, (Names{"COM1", "COM1"}));
    EXPECT_TRUE(rig.ctx.link.Port_Opened);
    EXPECT_TRUE(rig.ctx.portView.Port_Open_Error.empty());
    EXPECT_EQ(rig.statusCount("Port COM1: Device or resource busy"), 0);
    EXPECT_EQ(rig.ctx.settingsView.HudTextBox_3D_SET_Port_Name, "COM1");
}

} // namespace
} // namespace bifuel::test

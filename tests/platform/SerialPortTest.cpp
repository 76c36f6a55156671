#include "QtHarness.h"

#include "Context.h"
#include "ProgramPort.h"
#include "QtPortLister.h"
#include "QtScheduler.h"
#include "QtSerialPort.h"
#include "SimOptions.h"
#include "link/LinkHarness.h"
#include "link/Port_3D_Unit.h"

namespace bifuel::test {
namespace {

using platform::ProgramPort;
using platform::QtPortLister;
using platform::QtScheduler;
using platform::QtSerialPort;

class StaticLister final : public PortLister {
  public:
    std::function<std::vector<std::string>()> ports;
    std::vector<std::string> listPorts() const override { return ports(); }
};

class QtPort : public ::testing::Test {
  protected:
    QtPort() { App(); }
};

TEST_F(QtPort, CarriesBytesBothWaysAndReportsArrivalsFromTheEventLoop) {
    PseudoTerminal pty;
    QtSerialPort port;
    int arrivals = 0;
    int opened = 0;
    port.setEvents({[&] { ++arrivals; }, [&] { ++opened; }, {}});
    port.setPortName(pty.path());
    ASSERT_TRUE(port.open()) << port.errorText();
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(port.errorText().empty());

    const Bytes probe{0x1A, 0x21, 0x21, 0x21, 0x7D};
    ASSERT_TRUE(port.write(probe.data(), probe.size()));
    Bytes atFarEnd;
    ASSERT_TRUE(RunLoopUntil([&] {
        pty.readInto(atFarEnd);
        return atFarEnd.size() >= probe.size();
    }));
    EXPECT_EQ(atFarEnd, probe);

    const Bytes reply{0x19, 0x21, 0x2A, 0x64, 0x00, 0xFF};
    pty.write(reply);
    ASSERT_TRUE(
        RunLoopUntil([&] { return arrivals > 0 && port.bytesAvailable() >= reply.size(); }));
    Bytes got(reply.size());
    EXPECT_EQ(port.read(got.data(), 4), 4u); // a part, then the rest
    EXPECT_EQ(port.read(got.data() + 4, 16), 2u);
    EXPECT_EQ(got, reply);

    // A purge drops what waits unread.
    pty.write({1, 2, 3});
    ASSERT_TRUE(RunLoopUntil([&] { return port.bytesAvailable() == 3; }));
    EXPECT_TRUE(port.purge());
    EXPECT_EQ(port.bytesAvailable(), 0u);
}

// On a slow line the port does not wake the program for every byte of a reply: after
// the first bytes it rests until the rest can be there, then reports all of it.
TEST_F(QtPort, BytesOfAReplyStillComingAreReportedTogether) {
    PseudoTerminal pty;
    QtSerialPort port;
    int arrivals = 0;
    port.setEvents({[&] { ++arrivals; }, {}, {}});
    port.setPortName(pty.path());
    ASSERT_TRUE(port.open()) << port.errorText();
    port.expectBytes(100); // about 104 ms on the line
    pty.write({0x19});
    ASSERT_TRUE(RunLoopUntil([&] { return arrivals == 1; }));
    for (std::uint8_t b = 1; b <= 5; ++b) {
        pty.write({b});
        RunLoopUntil([] { return false; }, 2);
    }
    ASSERT_TRUE(RunLoopUntil([&] { return port.bytesAvailable() == 6; }));
    EXPECT_EQ(arrivals, 2) << "woken byte by byte";
    // A purge ends the rest: the next reply is reported as soon as it starts.
    EXPECT_TRUE(port.purge());
    pty.write({0x42});
    ASSERT_TRUE(RunLoopUntil([&] { return arrivals == 3; }, 50));
    EXPECT_EQ(port.bytesAvailable(), 1u);
}

TEST_F(QtPort, OpensAt9600_8N1WithoutFlowControlAndTakesTheManualLineSettings) {
    TempWorkDir work;
    PseudoTerminal pty;
    QtScheduler scheduler;
    ProgramPort port(scheduler);
    Context ctx(scheduler, port, work.paths(false));
    QtPortLister lister([&ctx] { return ctx.settings.Port_Name; });
    const Subscription lineSettings = platform::ConnectToContext(ctx, port, lister);
    ctx.settings.Port_Name = pty.path();
    ASSERT_TRUE(OpenConfiguredPort(ctx)) << ctx.portView.Port_Open_Error;

    termios t = pty.portSettings();
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);

    // Speed and stop bits: a pseudo-terminal may refuse other sizes and parity.
    const PortLineSettings manual{.Baud_Rate = 19200, .Stop_Bits = PortStopBits::Two};
    ApplyManualPort(ctx, pty.path(), manual);
    EXPECT_TRUE(port.isOpen());
    EXPECT_TRUE(ctx.portView.Port_Open_Error.empty()) << ctx.portView.Port_Open_Error;
    t = pty.portSettings();
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
}

TEST_F(QtPort, AMissingDeviceFailsToOpenAndTheLinkSaysWhichPortAndWhy) {
    TempWorkDir work;
    QtScheduler scheduler;
    ProgramPort port(scheduler);
    Context ctx(scheduler, port, work.paths(false));
    const std::string missing = (work.path() / "ttyGONE").string();
    // Listed, yet not there to open: the case of a port taken away between list and open.
    StaticLister lister;
    lister.ports = [&] { return std::vector<std::string>{missing}; };
    ctx.lister = &lister;
    ctx.settings.Search_Port = false;
    ctx.settings.Port_Name = missing;
    int opened = 0;
    port.setEvents({{}, [&] { ++opened; }, {}});

    EXPECT_FALSE(OpenConfiguredPort(ctx));
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(port.isOpen()); // the contract: a failed open still counts as open
    const Bytes byte{0};
    EXPECT_FALSE(port.write(byte.data(), 1));
    ASSERT_FALSE(port.errorText().empty());
    EXPECT_EQ(ctx.portView.Port_Open_Error, "Port " + missing + ": " + port.errorText());
    EXPECT_EQ(ctx.dynamicInd.Texts[1], ctx.portView.Port_Open_Error);
}

TEST(PortFailureReason, TellsHowToGetAccessOnlyWhenTheDeviceRefusesTheUser) {
    struct Case {
        QSerialPort::SerialPortError error;
        std::string systemText;
        std::string deniedGroup;
        std::string hint; // empty: none
    };
    const Case cases[] = {
        {QSerialPort::PermissionError, "Permission denied", "dialout",
         "sudo usermod -aG dialout $USER"},
        {QSerialPort::PermissionError, "Permission denied", "uucp", "sudo usermod -aG uucp $USER"},
        // Locked or held by another program: no group membership helps.
        {QSerialPort::PermissionError, "Permission error while locking the device", "", ""},
        {QSerialPort::PermissionError, "Device or resource busy", "", ""},
        {QSerialPort::DeviceNotFoundError, "No such file or directory", "", ""},
    };
    for (const Case& c : cases) {
        const std::string text = platform::PortFailureReason(c.error, c.systemText, c.deniedGroup);
        EXPECT_EQ(text.rfind(c.systemText, 0), 0u) << text;
        EXPECT_EQ(text.find("usermod") != std::string::npos, !c.hint.empty()) << text;
        if (!c.hint.empty()) {
            EXPECT_NE(text.find(c.hint), std::string::npos) << text;
            EXPECT_NE(text.find("log out and in again"), std::string::npos) << text;
        }
    }
    EXPECT_EQ(platform::PortFailureReason(QSerialPort::OpenError, "", ""), "unknown error");
}

TEST_F(QtPort, AHungUpDeviceIsReleasedAtOnceAndFailsEveryOperation) {
    PseudoTerminal pty;
    const long before = OpenDescriptors();
    QtSerialPort port;
    int closed = 0;
    port.setEvents({{}, {}, [&] { ++closed; }});
    port.setPortName(pty.path());
    ASSERT_TRUE(port.open()) << port.errorText();
    ASSERT_GT(OpenDescriptors(), before);

    pty.hangUp();
    // Nobody touches the port: the adapter alone gives the dead descriptor back, so it
    // cannot keep waking the event loop.
    ASSERT_TRUE(RunLoopUntil([&] { return OpenDescriptors() < before; }));
    EXPECT_FALSE(port.errorText().empty());
    EXPECT_TRUE(port.isOpen()); // for the link to close, which starts its search
    const Bytes byte{0};
    EXPECT_FALSE(port.write(byte.data(), 1));
    EXPECT_FALSE(port.purge());
    EXPECT_EQ(closed, 0);
    port.close();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(port.isOpen());
}

TEST_F(QtPort, AHungUpPortIsAVanishedPortToTheLink) {
    TempWorkDir work;
    PseudoTerminal pty;
    QtScheduler scheduler;
    ProgramPort port(scheduler);
    Context ctx(scheduler, port, work.paths(false));
    // The pseudo-terminal is listed until it hangs up, as an adapter is until it is pulled.
    // Not its device node: the system hands the same /dev/pts number to the next terminal
    // any process opens, and the search would then open that one.
    bool pluggedIn = true;
    StaticLister lister;
    lister.ports = [&] {
        return pluggedIn ? std::vector<std::string>{pty.path()} : std::vector<std::string>{};
    };
    ctx.lister = &lister;
    ctx.link.Main_Shown = true;
    ctx.settings.Search_Port = true;
    ctx.settings.Port_Name = pty.path();

    ASSERT_TRUE(OpenConfiguredPort(ctx)) << ctx.portView.Port_Open_Error;
    Bytes sent;
    ASSERT_TRUE(RunLoopUntil([&] {
        pty.readInto(sent);
        return sent.size() >= 5;
    }));
    EXPECT_EQ(sent[1], 0x21); // the link probes on it

    pluggedIn = false;
    pty.hangUp();
    // The link finds out at its next write; the bound only guards against a hang.
    ASSERT_TRUE(RunLoopUntil([&] { return ctx.link.Port_Window_Shown && !port.isOpen(); }, 30000));
    EXPECT_FALSE(ctx.link.Port_Opened);
    EXPECT_EQ(ctx.portView.HudLabel_3D_Port_Search.text, ctx.LangText("Search_Port"));
}

TEST_F(QtPort, TheProgramPortRunsTheSimulatedEcuUnderTheNameSim) {
    TempWorkDir work;
    QtScheduler scheduler;
    ProgramPort port(scheduler);
    sim::SimOptions car;
    car.model = "VoltigonRB";
    port.setSimOptions(car);
    Context ctx(scheduler, port, work.paths(false));
    QtPortLister lister([&ctx] { return ctx.settings.Port_Name; });
    const Subscription lineSettings = platform::ConnectToContext(ctx, port, lister);
    ctx.link.Main_Shown = true;
    ctx.settings.Port_Name = std::string(kSimPortName);
    ASSERT_TRUE(OpenConfiguredPort(ctx));
    // Connected, and the identification block read at 9600 baud from the car asked for.
    EXPECT_TRUE(RunLoopUntil(
        [&] { return ctx.link.ECU_Connected && ctx.config.ECU_Model == "VoltigonRB"; }, 10000));
    EXPECT_NE(port.simulatedEcu(), nullptr);
}

TEST_F(QtPort, RenamingTheProgramPortSwitchesBetweenSimulatorAndDevice) {
    PseudoTerminal pty;
    QtScheduler scheduler;
    ProgramPort port(scheduler);
    std::vector<std::string> events;
    port.setEvents({{},
                    [&] { events.push_back("opened " + port.portName()); },
                    [&] { events.push_back("closed " + port.portName()); }});
    port.setPortName("sim");
    ASSERT_TRUE(port.open());
    port.setPortName(pty.path());
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(events,
              (std::vector<std::string>{"opened sim", "closed sim", "opened " + pty.path()}));
    const Bytes frame{1, 2, 3};
    ASSERT_TRUE(port.write(frame.data(), frame.size())) << port.errorText();
    Bytes atFarEnd;
    ASSERT_TRUE(RunLoopUntil([&] {
        pty.readInto(atFarEnd);
        return atFarEnd.size() >= frame.size();
    }));
    EXPECT_EQ(atFarEnd, frame);
}

TEST_F(QtPort, TheListerAddsTheConfiguredCharacterDeviceAndTheSimulatorWhenConfigured) {
    PseudoTerminal pty;
    TempWorkDir work;
    struct Case {
        std::string configured;
        bool listed;
    };
    const Case cases[] = {
        {pty.path(), true},
        {"sim", true},
        {(work.path() / "ttyNONE").string(), false},
        {work.path().string(), false}, // a folder, no device
    };
    for (const Case& c : cases) {
        QtPortLister lister([&c] { return c.configured; });
        const auto ports = lister.listPorts();
        EXPECT_EQ(std::count(ports.begin(), ports.end(), c.configured), c.listed ? 1 : 0)
            << c.configured;
        EXPECT_EQ(std::count(ports.begin(), ports.end(), "sim"), c.configured == "sim" ? 1 : 0);
    }
}

} // namespace
} // namespace bifuel::test

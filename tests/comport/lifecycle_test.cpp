// Opening, configuring and closing real pseudo-terminals. A pty ignores the baud
// rate and has no modem lines: the rate is checked in the settings the kernel
// keeps, the lines only as "all off".
#include <gtest/gtest.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

#include "comport/com_port.h"
#include "comport/com_port_private.h"
#include "pty_pair.h"

namespace tarnwick {
namespace {

// Linux's BOTHER, "the rate is in c_ospeed": asm/termbits.h has it but clashes with termios.h.
constexpr unsigned LinuxBother = 0010000;

using test::TPtyPair;

// A port with the bootloader's settings on a pty: 8N1, no flow control, no events
// (so no thread reads behind the test's back).
void Prepare(TComPort& Port, const TPtyPair& Pty, TComEvents Events = {}) {
    Port.SetPort(Pty.SlavePath());
    Port.SetEvents(Events);
}

// Records the order of the open/close notifications.
struct TTrace {
    std::vector<std::string> Calls;
    void Attach(TComPort& Port) {
        Port.OnBeforeOpen = [this](TCustomComPort&) { Calls.push_back("BeforeOpen"); };
        Port.OnAfterOpen = [this](TCustomComPort&) { Calls.push_back("AfterOpen"); };
        Port.OnBeforeClose = [this](TCustomComPort&) { Calls.push_back("BeforeClose"); };
        Port.OnAfterClose = [this](TCustomComPort&) { Calls.push_back("AfterClose"); };
        Port.OnCTSChange = [this](TCustomComPort&, bool On) {
            Calls.push_back(std::string("CTS ") + (On ? "on" : "off"));
        };
        Port.OnDSRChange = [this](TCustomComPort&, bool On) {
            Calls.push_back(std::string("DSR ") + (On ? "on" : "off"));
        };
        Port.OnRLSDChange = [this](TCustomComPort&, bool On) {
            Calls.push_back(std::string("RLSD ") + (On ? "on" : "off"));
        };
    }
};

TEST(PortLifecycle, OpenConfiguresAndCloseReleasesAPty) {
    TPtyPair pty;
    TComPort port;
    Prepare(port, pty);
    TTrace trace;
    trace.Attach(port);
    TComLink link;
    std::vector<bool> linkOpen;
    link.LinkOpenChanged = [&](TCustomComPort&, bool On) { linkOpen.push_back(On); };
    port.AttachLink(&link);

    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_GE(port.DeviceHandle(), 0);
    const test::TLineSettings s = pty.Settings();
    EXPECT_EQ(s.CFlag & CSIZE, static_cast<unsigned>(CS8));
    EXPECT_EQ(s.CFlag & (PARENB | CSTOPB | CRTSCTS), 0U);
    EXPECT_EQ(s.IFlag & (IXON | IXOFF | INPCK | ICRNL | ISTRIP), 0U);
    EXPECT_EQ(s.LFlag & (ICANON | ECHO | ISIG), 0U);  // raw
    EXPECT_EQ(s.OFlag & OPOST, 0U);
    EXPECT_EQ(s.OSpeed, 9600U);

    port.Open();  // already open: nothing happens
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.DeviceHandle(), -1);
    port.Close();  // already closed: nothing happens

    const std::vector<std::string> expected = {"BeforeOpen",  "AfterOpen", "CTS off", "DSR off",
                                               "RLSD off",    "CTS off",   "DSR off", "RLSD off",
                                               "BeforeClose", "AfterClose"};
    EXPECT_EQ(trace.Calls, expected);
    EXPECT_EQ(linkOpen, (std::vector<bool>{true, false}));
    port.DetachLink(&link);

    // Released: another port can have it now.
    TComPort other;
    Prepare(other, pty);
    EXPECT_NO_THROW(other.Open());
}

TEST(PortLifecycle, EverySettingReachesTheKernel) {
    // A pty forces 8 data bits without parity whatever it is told; for those
    // settings the test checks what the port hands the kernel instead.
    struct TCase {
        const char* Name;
        std::function<void(TComPort&)> Set;
        std::function<bool(const test::TLineSettings&)> Check;
        bool PtyKeepsIt = true;
    };
    const std::vector<TCase> cases = {
        {"115200", [](TComPort& p) { p.SetBaudRate(br115200); },
         [](const test::TLineSettings& s) { return s.OSpeed == 115200 && s.ISpeed == 115200; }},
        {"56000 (no standard code)", [](TComPort& p) { p.SetBaudRate(br56000); },
         [](const test::TLineSettings& s) { return s.OSpeed == 56000; }},
        {"custom 31250",
         [](TComPort& p) {
             p.SetCustomBaudRate(31250);
             p.SetBaudRate(brCustom);
         },
         [](const test::TLineSettings& s) { return s.OSpeed == 31250; }},
        // The fast rates of the baud list: 250000 has no code of its own (BOTHER), 1000000
        // has one; either way the driver gets the exact rate.
        {"custom 250000",
         [](TComPort& p) {
             p.SetCustomBaudRate(250000);
             p.SetBaudRate(brCustom);
         },
         [](const test::TLineSettings& s) {
             return s.OSpeed == 250000 && s.ISpeed == 250000 && (s.CFlag & CBAUD) == LinuxBother;
         }},
        {"custom 1000000",
         [](TComPort& p) {
             p.SetCustomBaudRate(1000000);
             p.SetBaudRate(brCustom);
         },
         [](const test::TLineSettings& s) {
             return s.OSpeed == 1000000 && (s.CFlag & CBAUD) == B1000000;
         }},
        {"five bits", [](TComPort& p) { p.SetDataBits(dbFive); },
         [](const test::TLineSettings& s) { return (s.CFlag & CSIZE) == CS5; }, false},
        {"six bits", [](TComPort& p) { p.SetDataBits(dbSix); },
         [](const test::TLineSettings& s) { return (s.CFlag & CSIZE) == CS6; }, false},
        {"seven bits", [](TComPort& p) { p.SetDataBits(dbSeven); },
         [](const test::TLineSettings& s) { return (s.CFlag & CSIZE) == CS7; }, false},
        {"odd", [](TComPort& p) { p.Parity().SetBits(prOdd); },
         [](const test::TLineSettings& s) {
             return (s.CFlag & (PARENB | PARODD | CMSPAR)) == (PARENB | PARODD);
         },
         false},
        {"even", [](TComPort& p) { p.Parity().SetBits(prEven); },
         [](const test::TLineSettings& s) {
             return (s.CFlag & (PARENB | PARODD | CMSPAR)) == PARENB;
         },
         false},
        {"mark", [](TComPort& p) { p.Parity().SetBits(prMark); },
         [](const test::TLineSettings& s) {
             return (s.CFlag & (PARENB | PARODD | CMSPAR)) == (PARENB | PARODD | CMSPAR);
         },
         false},
        {"space", [](TComPort& p) { p.Parity().SetBits(prSpace); },
         [](const test::TLineSettings& s) {
             return (s.CFlag & (PARENB | PARODD | CMSPAR)) == (PARENB | CMSPAR);
         },
         false},
        {"parity check", [](TComPort& p) { p.Parity().SetCheck(true); },
         [](const test::TLineSettings& s) { return (s.IFlag & INPCK) != 0; }},
        {"two stop bits", [](TComPort& p) { p.SetStopBits(sbTwoStopBits); },
         [](const test::TLineSettings& s) { return (s.CFlag & CSTOPB) != 0; }},
        {"hardware flow", [](TComPort& p) { p.FlowControl().SetFlowControl(fcHardware); },
         [](const test::TLineSettings& s) { return (s.CFlag & CRTSCTS) != 0; }},
        {"software flow",
         [](TComPort& p) {
             p.FlowControl().SetXonChar(0x11 + 0x40);
             p.FlowControl().SetXoffChar(0x13 + 0x40);
             p.FlowControl().SetFlowControl(fcSoftware);
         },
         [](const test::TLineSettings& s) {
             return (s.IFlag & (IXON | IXOFF)) == (IXON | IXOFF) && s.Start == 0x51 &&
                    s.Stop == 0x53 && (s.CFlag & CRTSCTS) == 0;
         }},
        {"xon/xoff out only", [](TComPort& p) { p.FlowControl().SetXonXoffOut(true); },
         [](const test::TLineSettings& s) { return (s.IFlag & (IXON | IXOFF)) == IXON; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (!c.PtyKeepsIt) {
            TComPort port;
            c.Set(port);
            test::TLineSettings s;
            ASSERT_TRUE(platform::DcbToTermios(BuildDcb(port), s));
            EXPECT_TRUE(c.Check(s));
            continue;
        }
        // Set before the open ...
        {
            TPtyPair pty;
            TComPort port;
            Prepare(port, pty);
            c.Set(port);
            port.Open();
            EXPECT_TRUE(c.Check(pty.Settings()));
        }
        // ... and on an open port, where it applies at once.
        {
            TPtyPair pty;
            TComPort port;
            Prepare(port, pty);
            port.Open();
            c.Set(port);
            EXPECT_TRUE(c.Check(pty.Settings()));
        }
    }
}

// Counts the configure calls that actually reach an open device.
class TCountingPort : public TComPort {
  public:
    int NLines = 0, NTimeouts = 0, NQueues = 0;
    void ConfigureLine() override {
        if (Connected())
            ++NLines;
        TComPort::ConfigureLine();
    }
    void ConfigureTimeouts() override {
        if (Connected())
            ++NTimeouts;
        TComPort::ConfigureTimeouts();
    }
    void ConfigureQueues() override {
        if (Connected())
            ++NQueues;
        TComPort::ConfigureQueues();
    }
};

TEST(PortLifecycle, AChangeWhileOpenConfiguresOnlyItsGroup) {
    TPtyPair pty;
    TCountingPort port;
    Prepare(port, pty);
    port.Open();
    EXPECT_EQ(port.NLines, 1);
    EXPECT_EQ(port.NTimeouts, 1);
    EXPECT_EQ(port.NQueues, 1);
    port.Timeouts().SetReadTotalConstant(20);
    EXPECT_EQ(port.NTimeouts, 2);
    EXPECT_EQ(port.NLines, 1);
    EXPECT_EQ(port.NQueues, 1);
    port.Buffer().SetOutputSize(2048);
    EXPECT_EQ(port.NQueues, 2);
    EXPECT_EQ(port.NLines, 1);
    port.SetBaudRate(br57600);
    EXPECT_EQ(port.NLines, 2);
    EXPECT_EQ(pty.Settings().OSpeed, 57600U);
    EXPECT_EQ(port.NTimeouts, 2);
}

TEST(PortLifecycle, AMissingDeviceGivesCodeOneAndStaysClosed) {
    for (const std::string name :
         {"/dev/tarnwick-no-such-port", "tarnwick-no-such-port", "COM200"}) {
        TComPort port;
        port.SetPort(name);
        int beforeOpen = 0, afterOpen = 0;
        port.OnBeforeOpen = [&](TCustomComPort&) { ++beforeOpen; };
        port.OnAfterOpen = [&](TCustomComPort&) { ++afterOpen; };
        try {
            port.Open();
            ADD_FAILURE() << "opened " << name;
        } catch (const EComPortExt& e) {
            EXPECT_EQ(e.ErrorCode(), 1);
            EXPECT_EQ(std::string(e.what()), "COM Port Error: Unable to open com port on " + name);
            EXPECT_NE(e.WindowsError(), 0U);
        }
        EXPECT_FALSE(port.Connected());
        EXPECT_EQ(port.DeviceHandle(), -1);
        EXPECT_EQ(beforeOpen, 1);
        EXPECT_EQ(afterOpen, 0);
    }
}

TEST(PortLifecycle, ASecondOpenerOfTheSameDeviceIsRefused) {
    TPtyPair pty;
    TComPort first;
    Prepare(first, pty);
    first.Open();
    TComPort second;
    Prepare(second, pty);
    try {
        second.Open();
        ADD_FAILURE() << "second open succeeded";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
    }
    EXPECT_FALSE(second.Connected());
    EXPECT_TRUE(first.Connected());
    first.Close();
    EXPECT_NO_THROW(second.Open());
}

TEST(PortLifecycle, ARefusedSettingDuringOpenClosesTheDeviceAgain) {
    // 1.5 stop bits and the modem-line handshakes have no termios form.
    const std::vector<std::pair<const char*, std::function<void(TComPort&)>>> refused = {
        {"1.5 stop bits", [](TComPort& p) { p.SetStopBits(sbOne5StopBits); }},
        {"DSR flow", [](TComPort& p) { p.FlowControl().SetOutDSRFlow(true); }},
        {"DTR handshake", [](TComPort& p) { p.FlowControl().SetControlDTR(dtrHandshake); }},
        {"RTS toggle", [](TComPort& p) { p.FlowControl().SetControlRTS(rtsToggle); }},
        {"rate 0",
         [](TComPort& p) {
             p.SetCustomBaudRate(0);
             p.SetBaudRate(brCustom);
         }},
    };
    for (const auto& [name, set] : refused) {
        SCOPED_TRACE(name);
        TPtyPair pty;
        TComPort port;
        Prepare(port, pty, {evRxChar});
        set(port);
        int afterOpen = 0;
        port.OnAfterOpen = [&](TCustomComPort&) { ++afterOpen; };
        try {
            port.Open();
            ADD_FAILURE() << "accepted";
        } catch (const EComPortExt& e) {
            EXPECT_EQ(e.ErrorCode(), 7);
            EXPECT_EQ(std::string(e.what()),
                      "COM Port Error: SetCommState function failed on " + pty.SlavePath());
        }
        EXPECT_FALSE(port.Connected());
        EXPECT_EQ(port.DeviceHandle(), -1);
        EXPECT_FALSE(port.EventThreadRunning());
        EXPECT_EQ(afterOpen, 0);
        // The device was released.
        TComPort other;
        Prepare(other, pty);
        EXPECT_NO_THROW(other.Open());
    }
}

TEST(PortLifecycle, ARefusedSettingWhileOpenKeepsThePortOpenAndTheValue) {
    TPtyPair pty;
    TComPort port;
    Prepare(port, pty);
    port.Open();
    try {
        port.SetStopBits(sbOne5StopBits);
        ADD_FAILURE() << "accepted";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.ErrorCode(), 7);
    }
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.StopBits(), sbOne5StopBits);
    EXPECT_EQ(pty.Settings().CFlag & CSTOPB, 0U);  // the device kept what it had
}

TEST(PortLifecycle, ANegativeQueueSizeIsRefusedWithCodeNine) {
    TPtyPair pty;
    TComPort port;
    Prepare(port, pty);
    port.Open();
    try {
        port.Buffer().SetInputSize(-3);
        ADD_FAILURE() << "accepted";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.ErrorCode(), 9);
        EXPECT_EQ(std::string(e.what()),
                  "COM Port Error: SetupComm function failed on " + pty.SlavePath());
    }
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.Buffer().InputSize(), -3);  // kept, as every refused setting is
}

TEST(PortLifecycle, SyncMethodCannotChangeWhileOpen) {
    TPtyPair pty;
    TComPort port;
    Prepare(port, pty);
    port.SetSyncMethod(smNone);  // closed: fine
    port.SetSyncMethod(smThreadSync);
    port.Open();
    EXPECT_NO_THROW(port.SetSyncMethod(smThreadSync));
    try {
        port.SetSyncMethod(smWindowSync);
        ADD_FAILURE() << "accepted";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 14);
        EXPECT_EQ(std::string(e.what()),
                  pty.SlavePath() + " Error: Cannot set property while connected");
    }
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
}

TEST(PortLifecycle, ANewPortNameMovesAnOpenPort) {
    TPtyPair a, b;
    TTrace trace;  // outlives the port, whose destruction reports to it
    TComPort port;
    Prepare(port, a);
    port.Open();
    trace.Attach(port);
    port.SetPort(b.SlavePath());
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(std::count(trace.Calls.begin(), trace.Calls.end(), "AfterClose"), 1);
    EXPECT_EQ(std::count(trace.Calls.begin(), trace.Calls.end(), "AfterOpen"), 1);
    port.WriteStr("b");
    EXPECT_EQ(b.Receive(1, std::chrono::seconds(2)), "b");
    EXPECT_EQ(a.Drain(), "");
    // The same name changes nothing.
    trace.Calls.clear();
    port.SetPort(b.SlavePath());
    EXPECT_TRUE(trace.Calls.empty());
}

TEST(PortLifecycle, ConnectedOpensAndClosesExceptWhileLoading) {
    TPtyPair pty;
    TComPort port;
    Prepare(port, pty);
    port.SetConnected(true);
    EXPECT_GE(port.DeviceHandle(), 0);
    port.SetConnected(false);
    EXPECT_EQ(port.DeviceHandle(), -1);

    port.SetLoading(true);
    port.SetConnected(true);  // only recorded
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.DeviceHandle(), -1);
    port.Loaded();  // now it opens
    EXPECT_TRUE(port.Connected());
    EXPECT_GE(port.DeviceHandle(), 0);
}

TEST(PortLifecycle, LoadingWithAMissingDeviceReportsAndGoesOn) {
    std::vector<std::string> reports;
    SetApplicationExceptionHandler(test::CollectReports(reports));
    TComPort port;
    port.SetPort("/dev/tarnwick-no-such-port");
    port.SetLoading(true);
    port.SetConnected(true);
    port.Loaded();
    SetApplicationExceptionHandler(nullptr);
    EXPECT_FALSE(port.Connected());
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports[0], "COM Port Error: Unable to open com port on /dev/tarnwick-no-such-port");
}

TEST(PortLifecycle, DestroyingAnOpenPortClosesItWithAllNotifications) {
    TPtyPair pty;
    TTrace trace;
    {
        TComPort port;
        Prepare(port, pty, {evRxChar, evTxEmpty});
        port.Open();
        trace.Attach(port);
    }
    const std::vector<std::string> expected = {"CTS off", "DSR off", "RLSD off", "BeforeClose",
                                               "AfterClose"};
    EXPECT_EQ(trace.Calls, expected);
    TComPort other;
    Prepare(other, pty);
    EXPECT_NO_THROW(other.Open());
}

TEST(PortLifecycle, TheEventThreadRunsOnlyWithEvents) {
    TPtyPair pty;
    TComPort quiet;
    Prepare(quiet, pty);
    quiet.Open();
    EXPECT_FALSE(quiet.EventThreadRunning());
    quiet.Close();

    TComPort watching;
    Prepare(watching, pty, {evRxChar});
    watching.SetSyncMethod(smWindowSync);
    watching.Open();
    EXPECT_TRUE(watching.EventThreadRunning());
    EXPECT_TRUE(watching.EventWindowExists());
    watching.Close();
    EXPECT_FALSE(watching.EventThreadRunning());
    EXPECT_FALSE(watching.EventWindowExists());
}

TEST(PortLifecycle, ModemLinesOfAPtyReadAsOff) {
    // A pty has no modem lines; a serial adapter would show CTS/DSR/RLSD here.
    TPtyPair pty;
    TComPort port;
    Prepare(port, pty);
    port.Open();
    EXPECT_TRUE(port.ModemSignals().Empty());
}

}  // namespace
}  // namespace tarnwick

// Settings model without a device: conversions, option objects, setter rules,
// the device control block and the error messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comport/com_port.h"
#include "comport/com_port_private.h"

namespace tarnwick {
namespace {

// ------------------------------------------------------------ conversions

struct TFromTextCase {
    std::string Text;
    int Expected;
};

TEST(PortTextConversions, BaudRateFromTextMatchesWholeTextIgnoringCase) {
    const std::vector<TFromTextCase> cases = {
        {"115200", br115200}, {"custom", brCustom}, {"CUSTOM", brCustom}, {"110", br110},
        {"256000", br256000}, {" 9600", br9600},    {"9600 ", br9600},    {"1152", br9600},
        {"", br9600},         {"57600", br57600},   {"300", br300},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BaudRateFromText(c.Text), c.Expected) << '"' << c.Text << '"';
    }
}

TEST(PortTextConversions, EveryMemberRoundTripsThroughItsText) {
    for (int i = 0; i <= br256000; ++i) {
        const auto v = static_cast<TBaudRate>(i);
        EXPECT_EQ(BaudRateFromText(BaudRateToText(v)), v) << i;
    }
    for (int i = 0; i <= sbTwoStopBits; ++i) {
        EXPECT_EQ(StopBitsFromText(StopBitsToText(static_cast<TStopBits>(i))), i);
    }
    for (int i = 0; i <= dbEight; ++i) {
        EXPECT_EQ(DataBitsFromText(DataBitsToText(static_cast<TDataBits>(i))), i);
    }
    for (int i = 0; i <= prSpace; ++i) {
        EXPECT_EQ(ParityFromText(ParityToText(static_cast<TParityBits>(i))), i);
    }
    for (int i = 0; i <= fcCustom; ++i) {
        EXPECT_EQ(FlowControlFromText(FlowControlToText(static_cast<TFlowControl>(i))), i);
    }
    for (int i = 0; i <= dtrHandshake; ++i) {
        EXPECT_EQ(DTRFromText(DTRToText(static_cast<TDTRFlowControl>(i))), i);
    }
    for (int i = 0; i <= rtsToggle; ++i) {
        EXPECT_EQ(RTSFromText(RTSToText(static_cast<TRTSFlowControl>(i))), i);
    }
    EXPECT_EQ(BaudRateToText(br115200), "115200");
    EXPECT_EQ(StopBitsToText(sbOne5StopBits), "1.5");
    EXPECT_EQ(ParityToText(prMark), "Mark");
    EXPECT_EQ(RTSToText(rtsToggle), "Toggle");
}

TEST(PortTextConversions, UnknownTextsFallBack) {
    EXPECT_EQ(StopBitsFromText("1.5"), sbOne5StopBits);
    EXPECT_EQ(StopBitsFromText("3"), sbOneStopBit);
    EXPECT_EQ(DataBitsFromText("9"), dbEight);
    EXPECT_EQ(DataBitsFromText("7"), dbSeven);
    EXPECT_EQ(ParityFromText("even"), prEven);
    EXPECT_EQ(ParityFromText("Evens"), prNone);
    EXPECT_EQ(FlowControlFromText(""), fcCustom);
    EXPECT_EQ(FlowControlFromText("software"), fcSoftware);
    EXPECT_EQ(DTRFromText("handshake"), dtrHandshake);
    EXPECT_EQ(DTRFromText("x"), dtrDisable);
    EXPECT_EQ(RTSFromText("TOGGLE"), rtsToggle);
    EXPECT_EQ(RTSFromText("Toggles"), rtsDisable);
}

TEST(PortTextConversions, BoolFromTextIsTrueOnlyForYes) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"yes", true}, {"YES", true}, {"yEs", true}, {"Yes", true},  {"True", false},
        {"1", false},  {"", false},   {"y", false},  {"yes ", false}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(BoolFromText(text), expected) << text;
    EXPECT_EQ(BoolToText(true), "Yes");
    EXPECT_EQ(BoolToText(false), "No");
}

TEST(PortTextConversions, CharToTextSpellsOutControlAndHighCodes) {
    const std::vector<std::pair<int, std::string>> cases = {
        {32, "#32"},   {33, "!"}, {65, "A"},   {127, std::string(1, '\x7f')},
        {128, "#128"}, {0, "#0"}, {17, "#17"}, {255, "#255"},
        {35, "#"}};
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(CharToText(static_cast<std::uint8_t>(code)), text) << code;
    }
}

TEST(PortTextConversions, CharFromTextParsesNumbersAndTakesTheFirstCharacter) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"#19", 19},    {"#300", 44}, {"#a", 0},    {"", 0},    {"#", '#'}, {"AB", 'A'},
        {"#$41", 0x41}, {"# 7", 7},   {"#-1", 255}, {"#+5", 5}, {"#1x", 0}, {"#17", 17}};
    for (const auto& [text, code] : cases)
        EXPECT_EQ(CharFromText(text), code) << text;
    // Every code survives the way through its text.
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(CharFromText(CharToText(static_cast<std::uint8_t>(code))), code);
    }
}

TEST(PortTextConversions, EventMaskFollowsTheDriverBits) {
    EXPECT_EQ(EventsToCommMask(TComEvents{evRxChar, evTxEmpty}), 0x0005U);
    EXPECT_EQ(EventsToCommMask(kAllComEvents), 0x05FFU);
    const std::vector<std::pair<TComEvent, std::uint32_t>> bits = {
        {evRxChar, 0x1}, {evTxEmpty, 0x4}, {evRxFlag, 0x2}, {evRing, 0x100}, {evBreak, 0x40},
        {evCTS, 0x8},    {evDSR, 0x10},    {evError, 0x80}, {evRLSD, 0x20},  {evRx80Full, 0x400}};
    for (const auto& [event, bit] : bits) {
        EXPECT_EQ(EventsToCommMask(TComEvents{event}), bit) << int(event);
        EXPECT_EQ(CommMaskToEvents(bit), TComEvents{event}) << int(event);
    }
    // Bits no event stands for are ignored.
    EXPECT_EQ(CommMaskToEvents(0x0200 | 0x0800 | 0x1), TComEvents{evRxChar});
}

// ------------------------------------------------------------------ errors

TEST(PortErrors, ErrorTextCoversTheTableAndUnknownCodes) {
    const std::vector<std::pair<int, std::string>> cases = {
        {1, "Unable to open com port"},
        {7, "SetCommState function failed"},
        {14, "Cannot set property while connected"},
        {18, "Link (un)registration failed"},
        {23, "Registry error"},
        {24, "Unknown Error #24"},
        {0, "Unknown Error #0"},
        {-3, "Unknown Error #-3"}};
    for (const auto& [code, text] : cases)
        EXPECT_EQ(ErrorText(code), text) << code;
}

TEST(PortErrors, TheTwoMessageFormsPutThePortOnOppositeEnds) {
    const EComPort plain("COM1", 14);
    EXPECT_STREQ(plain.what(), "COM1 Error: Cannot set property while connected");
    EXPECT_EQ(plain.ErrorCode(), 14);

    const EComPortExt ext("COM3", 7, 87);
    EXPECT_STREQ(ext.what(), "COM Port Error: SetCommState function failed on COM3");
    EXPECT_EQ(ext.ErrorCode(), 7);
    EXPECT_EQ(ext.WindowsError(), 87U);

    const EComPort message("something odd");
    EXPECT_STREQ(message.what(), "something odd");
    EXPECT_EQ(message.ErrorCode(), 0);

    // A handler for the base catches the extended form too.
    try {
        throw EComPortExt("COM3", 1, 2);
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_STREQ(e.what(), "COM Port Error: Unable to open com port on COM3");
    }
}

// ---------------------------------------------------------- option objects

// A port that counts the configure calls its setters make (closed, so the calls
// do nothing else).
class TCountingPort : public TComPort {
  public:
    int NLines = 0, NTimeouts = 0, NQueues = 0;
    void ConfigureLine() override {
        ++NLines;
        TComPort::ConfigureLine();
    }
    void ConfigureTimeouts() override {
        ++NTimeouts;
        TComPort::ConfigureTimeouts();
    }
    void ConfigureQueues() override {
        ++NQueues;
        TComPort::ConfigureQueues();
    }
};

TEST(PortOptions, DefaultsOfAFreshPort) {
    TComPort port;
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_FALSE(port.DiscardNull());
    EXPECT_EQ(port.EventChar(), 0);
    EXPECT_EQ(port.Events(), kAllComEvents);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_EQ(port.StoredGroups(), TStoredGroups{sgBasic});
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.FlowControl().XonChar(), 17);
    EXPECT_EQ(port.FlowControl().XoffChar(), 19);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.DeviceHandle(), -1);
    for (const void* owner : {static_cast<const void*>(port.Parity().OwnerPort()),
                              static_cast<const void*>(port.FlowControl().OwnerPort()),
                              static_cast<const void*>(port.Timeouts().OwnerPort()),
                              static_cast<const void*>(port.Buffer().OwnerPort())}) {
        EXPECT_EQ(owner, &port);
    }
}

TEST(PortOptions, FlowControlPresetIsDerivedFromFourFields) {
    TComFlowControl f;
    EXPECT_EQ(f.FlowControl(), fcNone);
    f.SetOutCTSFlow(true);
    EXPECT_EQ(f.FlowControl(), fcCustom);
    f.SetControlDTR(dtrEnable);
    f.SetOutDSRFlow(true);
    f.SetFlowControl(fcHardware);
    EXPECT_EQ(f.FlowControl(), fcHardware);
    EXPECT_EQ(f.ControlRTS(), rtsHandshake);
    EXPECT_EQ(f.ControlDTR(), dtrEnable);  // the presets leave DTR and DSR alone
    EXPECT_TRUE(f.OutDSRFlow());
    f.SetFlowControl(fcSoftware);
    EXPECT_EQ(f.FlowControl(), fcSoftware);
    EXPECT_FALSE(f.OutCTSFlow());
    EXPECT_EQ(f.ControlRTS(), rtsDisable);
    f.SetFlowControl(fcCustom);  // changes nothing
    EXPECT_EQ(f.FlowControl(), fcSoftware);
    f.SetFlowControl(fcNone);
    EXPECT_EQ(f.FlowControl(), fcNone);
    EXPECT_FALSE(f.XonXoffIn());
    f.SetControlRTS(rtsEnable);
    EXPECT_EQ(f.FlowControl(), fcCustom);
}

TEST(PortOptions, QueueSizesAreStoredEven) {
    const std::vector<std::pair<int, int>> cases = {{4097, 4096}, {1025, 1024}, {1, 0}, {2, 2},
                                                    {-3, -3},     {-4, -4},     {0, 0}};
    for (const auto& [value, stored] : cases) {
        TComBuffer b;
        b.SetInputSize(value);
        b.SetOutputSize(value);
        EXPECT_EQ(b.InputSize(), stored) << value;
        EXPECT_EQ(b.OutputSize(), stored) << value;
    }
}

TEST(PortOptions, EachSetterConfiguresItsGroupOnlyOnAChange) {
    TCountingPort port;
    struct TCase {
        const char* Name;
        std::function<void(TCountingPort&)> Change;
        int Lines, Timeouts, Queues;
    };
    const std::vector<TCase> cases = {
        {"baud", [](TCountingPort& p) { p.SetBaudRate(br115200); }, 1, 0, 0},
        {"same baud", [](TCountingPort& p) { p.SetBaudRate(br9600); }, 0, 0, 0},
        {"custom baud", [](TCountingPort& p) { p.SetCustomBaudRate(250000); }, 1, 0, 0},
        {"stop bits", [](TCountingPort& p) { p.SetStopBits(sbTwoStopBits); }, 1, 0, 0},
        {"data bits", [](TCountingPort& p) { p.SetDataBits(dbSeven); }, 1, 0, 0},
        {"discard null", [](TCountingPort& p) { p.SetDiscardNull(true); }, 1, 0, 0},
        {"event char", [](TCountingPort& p) { p.SetEventChar('\n'); }, 1, 0, 0},
        {"parity", [](TCountingPort& p) { p.Parity().SetBits(prEven); }, 1, 0, 0},
        {"same parity", [](TCountingPort& p) { p.Parity().SetBits(prNone); }, 0, 0, 0},
        {"xon", [](TCountingPort& p) { p.FlowControl().SetXonChar(1); }, 1, 0, 0},
        {"preset none again", [](TCountingPort& p) { p.FlowControl().SetFlowControl(fcNone); }, 1,
         0, 0},
        {"timeout", [](TCountingPort& p) { p.Timeouts().SetReadTotalConstant(5); }, 0, 1, 0},
        {"same timeout", [](TCountingPort& p) { p.Timeouts().SetReadInterval(-1); }, 0, 0, 0},
        {"input size", [](TCountingPort& p) { p.Buffer().SetInputSize(4097); }, 0, 0, 1},
        {"same input size", [](TCountingPort& p) { p.Buffer().SetInputSize(1024); }, 0, 0, 0},
        {"events", [](TCountingPort& p) { p.SetEvents({evRxChar}); }, 0, 0, 0},
        {"whole parity", [](TCountingPort& p) { p.SetParity(TComParity{}); }, 1, 0, 0},
        {"whole buffer", [](TCountingPort& p) { p.SetBuffer(TComBuffer{}); }, 0, 0, 1},
        {"whole timeouts", [](TCountingPort& p) { p.SetTimeouts(TComTimeouts{}); }, 0, 1, 0},
    };
    for (const auto& c : cases) {
        TCountingPort p;
        c.Change(p);
        EXPECT_EQ(p.NLines, c.Lines) << c.Name;
        EXPECT_EQ(p.NTimeouts, c.Timeouts) << c.Name;
        EXPECT_EQ(p.NQueues, c.Queues) << c.Name;
    }
}

TEST(PortOptions, AssigningAWholeObjectCopiesFieldsButKeepsTheOwner) {
    TComPort port;
    TComFlowControl standalone;
    standalone.SetFlowControl(fcHardware);
    standalone.SetXoffChar(0x93);
    EXPECT_EQ(standalone.OwnerPort(), nullptr);
    port.SetFlowControl(standalone);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
    EXPECT_EQ(port.FlowControl().XoffChar(), 0x93);
    EXPECT_EQ(port.FlowControl().OwnerPort(), &port);
    const TComFlowControl copy = port.FlowControl();
    EXPECT_EQ(copy.OwnerPort(), nullptr);
    EXPECT_EQ(copy.XoffChar(), 0x93);
}

// ---------------------------------------------------------- device control block

TEST(PortDcb, TheMainWindowSettingsGiveFlagWordOne) {
    TComPort port;
    const platform::TDcb dcb = BuildDcb(port);
    EXPECT_EQ(dcb.DCBlength, 28U);
    EXPECT_EQ(dcb.Flags, 0x0001U);
    EXPECT_EQ(dcb.BaudRate, 9600U);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_EQ(dcb.XonLim, 256);
    EXPECT_EQ(dcb.XoffLim, 256);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);
    EXPECT_EQ(dcb.ErrorChar, 0);
    EXPECT_EQ(dcb.EofChar, 0);
}

TEST(PortDcb, EverySettingLandsInItsField) {
    struct TCase {
        const char* Name;
        std::function<void(TComPort&)> Set;
        std::uint32_t Flags;
        std::function<bool(const platform::TDcb&)> Check;
    };
    const std::vector<TCase> cases = {
        {"check parity", [](TComPort& p) { p.Parity().SetCheck(true); }, 0x0003, nullptr},
        {"cts", [](TComPort& p) { p.FlowControl().SetOutCTSFlow(true); }, 0x0005, nullptr},
        {"dsr", [](TComPort& p) { p.FlowControl().SetOutDSRFlow(true); }, 0x0009, nullptr},
        {"dtr enable", [](TComPort& p) { p.FlowControl().SetControlDTR(dtrEnable); }, 0x0011,
         nullptr},
        {"dtr handshake", [](TComPort& p) { p.FlowControl().SetControlDTR(dtrHandshake); }, 0x0021,
         nullptr},
        {"dsr sensitivity", [](TComPort& p) { p.FlowControl().SetDSRSensitivity(true); }, 0x0041,
         nullptr},
        {"continue on xoff", [](TComPort& p) { p.FlowControl().SetTxContinueOnXoff(true); }, 0x0081,
         nullptr},
        {"software", [](TComPort& p) { p.FlowControl().SetFlowControl(fcSoftware); }, 0x0301,
         nullptr},
        {"replace without check", [](TComPort& p) { p.Parity().SetReplace(true); }, 0x0001,
         [](const platform::TDcb& d) { return d.ErrorChar == 0; }},
        {"replace with check",
         [](TComPort& p) {
             p.Parity().SetCheck(true);
             p.Parity().SetReplace(true);
             p.Parity().SetReplaceChar('?');
         },
         0x0403 | 0x0002, [](const platform::TDcb& d) { return d.ErrorChar == '?'; }},
        {"discard null", [](TComPort& p) { p.SetDiscardNull(true); }, 0x0801, nullptr},
        {"rts enable", [](TComPort& p) { p.FlowControl().SetControlRTS(rtsEnable); }, 0x1001,
         nullptr},
        {"hardware", [](TComPort& p) { p.FlowControl().SetFlowControl(fcHardware); }, 0x2005,
         nullptr},
        {"rts toggle", [](TComPort& p) { p.FlowControl().SetControlRTS(rtsToggle); }, 0x3001,
         nullptr},
        {"custom rate outside every table",
         [](TComPort& p) {
             p.SetCustomBaudRate(31250);
             p.SetBaudRate(brCustom);
         },
         0x0001, [](const platform::TDcb& d) { return d.BaudRate == 31250; }},
        {"custom rate ignored for a table rate", [](TComPort& p) { p.SetCustomBaudRate(31250); },
         0x0001, [](const platform::TDcb& d) { return d.BaudRate == 9600; }},
        {"256000", [](TComPort& p) { p.SetBaudRate(br256000); }, 0x0001,
         [](const platform::TDcb& d) { return d.BaudRate == 256000; }},
        {"4096 input", [](TComPort& p) { p.Buffer().SetInputSize(4096); }, 0x0001,
         [](const platform::TDcb& d) { return d.XonLim == 1024 && d.XoffLim == 1024; }},
        {"seven data, space parity, two stop",
         [](TComPort& p) {
             p.SetDataBits(dbSeven);
             p.Parity().SetBits(prSpace);
             p.SetStopBits(sbTwoStopBits);
         },
         0x0001,
         [](const platform::TDcb& d) {
             return d.ByteSize == 7 && d.Parity == 4 && d.StopBits == 2;
         }},
        {"event char", [](TComPort& p) { p.SetEventChar('\r'); }, 0x0001,
         [](const platform::TDcb& d) { return d.EvtChar == '\r'; }},
    };
    for (const auto& c : cases) {
        TComPort port;
        c.Set(port);
        const platform::TDcb dcb = BuildDcb(port);
        EXPECT_EQ(dcb.Flags, c.Flags) << c.Name;
        if (c.Check) {
            EXPECT_TRUE(c.Check(dcb)) << c.Name;
        }
    }
}

TEST(PortDcb, TimeoutsPassBitForBit) {
    TComPort port;
    port.Timeouts().SetReadTotalConstant(-1);
    port.Timeouts().SetWriteTotalConstant(7);
    const platform::TCommTimeouts t = BuildCommTimeouts(port);
    EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFU);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0xFFFFFFFFU);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 7U);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100U);
}

TEST(PortNames, BareNamesLiveUnderDevAndComNIsTtySnMinusOne) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"COM1", "/dev/ttyS0"},      {"COM10", "/dev/ttyS9"},      {"com3", "/dev/ttyS2"},
        {"ttyUSB0", "/dev/ttyUSB0"}, {"/dev/pts/7", "/dev/pts/7"}, {"./tty", "./tty"},
        {"COM", "/dev/COM"},         {"COM0", "/dev/COM0"},        {"COM1x", "/dev/COM1x"}};
    for (const auto& [port, path] : cases)
        EXPECT_EQ(platform::DevicePath(port), path) << port;
}

}  // namespace
}  // namespace tarnwick

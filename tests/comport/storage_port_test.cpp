// Saving and loading a port's settings in INI sections and registry keys, with
// real port objects: closed where the storage alone is tested, opened on
// pseudo-terminals where a load must reach the device.
#include <gtest/gtest.h>
#include <termios.h>

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "comport/com_port.h"
#include "comport/ini_file.h"
#include "comport/registry_key.h"
#include "pty_pair.h"

namespace tarnwick {
namespace {

const TStoredGroups AllGroups{sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers};

// Everything the storage can save, for comparing two ports at once.
struct TStoredValues {
    std::string Port;
    int BaudRate, CustomBaudRate, StopBits, DataBits, ParityBits;
    int EventChar;
    bool DiscardNull, ParityCheck, ParityReplace;
    int ReplaceChar, OutputSize, InputSize;
    int ReadInterval, ReadTotalConstant, ReadTotalMultiplier, WriteTotalConstant,
        WriteTotalMultiplier;
    int ControlRTS, ControlDTR;
    bool DSRSensitivity, OutCTSFlow, OutDSRFlow, TxContinueOnXoff, XonXoffIn, XonXoffOut;
    int XoffChar, XonChar;
    bool operator==(const TStoredValues&) const = default;
};

TStoredValues Snapshot(const TCustomComPort& P) {
    const TComFlowControl& f = P.FlowControl();
    const TComTimeouts& t = P.Timeouts();
    return {P.Port(),
            P.BaudRate(),
            P.CustomBaudRate(),
            P.StopBits(),
            P.DataBits(),
            P.Parity().Bits(),
            P.EventChar(),
            P.DiscardNull(),
            P.Parity().Check(),
            P.Parity().Replace(),
            P.Parity().ReplaceChar(),
            P.Buffer().OutputSize(),
            P.Buffer().InputSize(),
            t.ReadInterval(),
            t.ReadTotalConstant(),
            t.ReadTotalMultiplier(),
            t.WriteTotalConstant(),
            t.WriteTotalMultiplier(),
            f.ControlRTS(),
            f.ControlDTR(),
            f.DSRSensitivity(),
            f.OutCTSFlow(),
            f.OutDSRFlow(),
            f.TxContinueOnXoff(),
            f.XonXoffIn(),
            f.XonXoffOut(),
            f.XoffChar(),
            f.XonChar()};
}

void PrintTo(const TStoredValues& V, std::ostream* Out) {
    *Out << "{Port=" << V.Port << " Baud=" << V.BaudRate << "/" << V.CustomBaudRate
         << " Stop=" << V.StopBits << " Data=" << V.DataBits << " Parity=" << V.ParityBits
         << " EventChar=" << V.EventChar << " DiscardNull=" << V.DiscardNull
         << " Check=" << V.ParityCheck << " Replace=" << V.ParityReplace << "/" << V.ReplaceChar
         << " Buffer=" << V.OutputSize << "/" << V.InputSize << " Timeouts=" << V.ReadInterval
         << "/" << V.ReadTotalConstant << "/" << V.ReadTotalMultiplier << "/"
         << V.WriteTotalConstant << "/" << V.WriteTotalMultiplier << " RTS=" << V.ControlRTS
         << " DTR=" << V.ControlDTR << " DSRSens=" << V.DSRSensitivity << " CTS=" << V.OutCTSFlow
         << " DSR=" << V.OutDSRFlow << " TxCont=" << V.TxContinueOnXoff << " XIn=" << V.XonXoffIn
         << " XOut=" << V.XonXoffOut << " Xoff=" << V.XoffChar << " Xon=" << V.XonChar << "}";
}

// A port far from the defaults in every stored property.
void SetEverything(TCustomComPort& P) {
    P.SetPort("/dev/ttyUSB3");
    P.SetBaudRate(brCustom);
    P.SetCustomBaudRate(250000);
    P.SetStopBits(sbTwoStopBits);
    P.SetDataBits(dbSeven);
    P.Parity().SetBits(prMark);
    P.SetEventChar(' ');
    P.SetDiscardNull(true);
    P.Parity().SetCheck(true);
    P.Parity().SetReplace(true);
    P.Parity().SetReplaceChar('?');
    P.Buffer().SetOutputSize(8192);
    P.Buffer().SetInputSize(-3);
    P.Timeouts().SetReadInterval(5);
    P.Timeouts().SetReadTotalConstant(6);
    P.Timeouts().SetReadTotalMultiplier(7);
    P.Timeouts().SetWriteTotalConstant(-1);
    P.Timeouts().SetWriteTotalMultiplier(9);
    TComFlowControl& f = P.FlowControl();
    f.SetControlRTS(rtsToggle);
    f.SetControlDTR(dtrHandshake);
    f.SetDSRSensitivity(true);
    f.SetOutCTSFlow(true);
    f.SetOutDSRFlow(true);
    f.SetTxContinueOnXoff(true);
    f.SetXonXoffIn(true);
    f.SetXonXoffOut(false);
    f.SetXoffChar(200);
    f.SetXonChar('#');
}

// Counts the configure calls the setters make (they do nothing while closed).
class TCountingPort : public TComPort {
  public:
    int LineCalls = 0, TimeoutCalls = 0, QueueCalls = 0;
    void ConfigureLine() override {
        ++LineCalls;
        TComPort::ConfigureLine();
    }
    void ConfigureTimeouts() override {
        ++TimeoutCalls;
        TComPort::ConfigureTimeouts();
    }
    void ConfigureQueues() override {
        ++QueueCalls;
        TComPort::ConfigureQueues();
    }
};

TEST(PortStorage, DefaultSettingsGiveTheKnownIniSection) {
    TComPort port;
    port.SetName("ComPort");
    TIniFile ini;
    port.SaveToIni(ini);
    EXPECT_EQ(ini.Text(),
              "[ComPort]\r\nPort=COM1\r\nBaudRate=9600\r\nStopBits=1\r\nDataBits=8\r\n"
              "Parity=None\r\nFlowControl=None\r\n\r\n");
}

TEST(PortStorage, AllGroupsAreWrittenInTheirFixedOrder) {
    TComPort port;
    port.SetName("P");
    SetEverything(port);
    port.SetStoredGroups(AllGroups);
    TIniFile ini;
    port.SaveToIni(ini);
    EXPECT_EQ(ini.Text(),
              "[P]\r\n"
              "Port=/dev/ttyUSB3\r\nBaudRate=Custom\r\nCustomBaudRate=250000\r\nStopBits=2\r\n"
              "DataBits=7\r\nParity=Mark\r\nFlowControl=Custom\r\n"
              "EventChar=#32\r\nDiscardNull=Yes\r\n"
              "Parity.Check=Yes\r\nParity.Replace=Yes\r\nParity.ReplaceChar=?\r\n"
              "Buffer.OutputSize=8192\r\nBuffer.InputSize=-3\r\n"
              "Timeouts.ReadInterval=5\r\nTimeouts.ReadTotalConstant=6\r\n"
              "Timeouts.ReadTotalMultiplier=7\r\nTimeouts.WriteTotalConstant=-1\r\n"
              "Timeouts.WriteTotalMultiplier=9\r\n"
              "FlowControl.ControlRTS=Toggle\r\nFlowControl.ControlDTR=Handshake\r\n"
              "FlowControl.DSRSensitivity=Yes\r\nFlowControl.OutCTSFlow=Yes\r\n"
              "FlowControl.OutDSRFlow=Yes\r\nFlowControl.TxContinueOnXoff=Yes\r\n"
              "FlowControl.XonXoffIn=Yes\r\nFlowControl.XonXoffOut=No\r\n"
              "FlowControl.XoffChar=#200\r\nFlowControl.XonChar=#\r\n\r\n");
}

TEST(PortStorage, RegistryGetsStringsAndDwordsInTheSameOrder) {
    TComPort port;
    SetEverything(port);
    port.SetStoredGroups(AllGroups);
    TMemoryRegistryKey key;
    port.SaveToRegistry(key);
    const std::vector<std::string> names = key.ValueNames();
    const std::vector<std::string> expected = {"Port",
                                               "BaudRate",
                                               "CustomBaudRate",
                                               "StopBits",
                                               "DataBits",
                                               "Parity",
                                               "FlowControl",
                                               "EventChar",
                                               "DiscardNull",
                                               "Parity.Check",
                                               "Parity.Replace",
                                               "Parity.ReplaceChar",
                                               "Buffer.OutputSize",
                                               "Buffer.InputSize",
                                               "Timeouts.ReadInterval",
                                               "Timeouts.ReadTotalConstant",
                                               "Timeouts.ReadTotalMultiplier",
                                               "Timeouts.WriteTotalConstant",
                                               "Timeouts.WriteTotalMultiplier",
                                               "FlowControl.ControlRTS",
                                               "FlowControl.ControlDTR",
                                               "FlowControl.DSRSensitivity",
                                               "FlowControl.OutCTSFlow",
                                               "FlowControl.OutDSRFlow",
                                               "FlowControl.TxContinueOnXoff",
                                               "FlowControl.XonXoffIn",
                                               "FlowControl.XonXoffOut",
                                               "FlowControl.XoffChar",
                                               "FlowControl.XonChar"};
    ASSERT_EQ(names, expected);
    for (const std::string& name : names) {
        const bool integer = name == "CustomBaudRate" || name.rfind("Buffer.", 0) == 0 ||
                             name.rfind("Timeouts.", 0) == 0;
        EXPECT_EQ(key.ValueType(name), integer ? TMemoryRegistryKey::TValueType::Integer
                                               : TMemoryRegistryKey::TValueType::String)
            << name;
    }
    EXPECT_EQ(key.ReadInteger("Timeouts.WriteTotalConstant"), -1);
    EXPECT_EQ(key.ReadString("EventChar"), "#32");
}

// Saving one port and loading into a fresh one restores every stored property,
// through either store.
struct TRoundTripCase {
    const char* Name;
    std::function<void(TCustomComPort&, TCustomComPort&)> SaveAndLoad;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const TRoundTripCase& Case, std::ostream* Os) {
    *Os << Case.Name;
}

class PortStorageRoundTrip : public testing::TestWithParam<TRoundTripCase> {};

TEST_P(PortStorageRoundTrip, RestoresEveryStoredProperty) {
    TComPort saved;
    saved.SetName("ComPort");
    SetEverything(saved);
    saved.SetStoredGroups(AllGroups);
    TComPort loaded;
    loaded.SetName("ComPort");
    loaded.SetStoredGroups(AllGroups);
    ASSERT_NE(Snapshot(loaded), Snapshot(saved));
    GetParam().SaveAndLoad(saved, loaded);
    EXPECT_EQ(Snapshot(loaded), Snapshot(saved));
}

INSTANTIATE_TEST_SUITE_P(
    Stores, PortStorageRoundTrip,
    testing::Values(TRoundTripCase{"Ini",
                                   [](TCustomComPort& From, TCustomComPort& To) {
                                       TIniFile ini;
                                       From.SaveToIni(ini);
                                       // Through the file form as well.
                                       TIniFile reread;
                                       reread.SetText(ini.Text());
                                       To.LoadFromIni(reread);
                                   }},
                    TRoundTripCase{"Registry",
                                   [](TCustomComPort& From, TCustomComPort& To) {
                                       TMemoryRegistryKey key;
                                       From.SaveToRegistry(key);
                                       To.LoadFromRegistry(key);
                                   }}),
    [](const testing::TestParamInfo<TRoundTripCase>& Info) {
        return std::string(Info.param.Name);
    });

TEST(PortStorage, CustomBaudRateRoundTripsWithBasicGroupOnly) {
    TComPort saved;
    saved.SetName("ComPort");
    saved.SetBaudRate(brCustom);
    saved.SetCustomBaudRate(31250);
    TIniFile ini;
    saved.SaveToIni(ini);
    EXPECT_EQ(ini.ReadString("ComPort", "BaudRate", ""), "Custom");
    EXPECT_EQ(ini.ReadInteger("ComPort", "CustomBaudRate", 0), 31250);
    TComPort loaded;
    loaded.SetName("ComPort");
    loaded.LoadFromIni(ini);
    EXPECT_EQ(loaded.BaudRate(), brCustom);
    EXPECT_EQ(loaded.CustomBaudRate(), 31250);
}

// One INI section of entries loaded into a port set far from the defaults.
struct TIniLoadCase {
    const char* Name;
    std::vector<std::string> Entries;
    TStoredGroups Groups;
    std::function<void(TStoredValues&)> Expect;  // changes to the starting values
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const TIniLoadCase& Case, std::ostream* Os) {
    *Os << Case.Name;
}

class PortStorageIniLoad : public testing::TestWithParam<TIniLoadCase> {};

TEST_P(PortStorageIniLoad, SetsWhatTheEntriesSay) {
    TIniFile ini;
    std::string text = "[Other]\r\nPort=COM9\r\nBaudRate=110\r\n[ComPort]\r\n";
    for (const std::string& entry : GetParam().Entries) {
        text += entry + "\r\n";
    }
    ini.SetText(text);
    TComPort port;
    port.SetName("ComPort");
    SetEverything(port);
    port.SetBaudRate(br57600);  // CustomBaudRate stays 250000
    port.SetStoredGroups(GetParam().Groups);
    TStoredValues expected = Snapshot(port);
    GetParam().Expect(expected);
    port.LoadFromIni(ini);
    EXPECT_EQ(Snapshot(port), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortStorageIniLoad,
    testing::Values(
        TIniLoadCase{"SectionWithoutKeysChangesNothing", {}, AllGroups, [](TStoredValues&) {}},
        TIniLoadCase{"BaudRateWithoutCustomEntryLeavesCustomRate",
                     {"BaudRate=38400"},
                     {sgBasic},
                     [](TStoredValues& V) { V.BaudRate = br38400; }},
        TIniLoadCase{"CustomBaudRateIgnoredUnlessBaudRateIsCustom",
                     {"BaudRate=19200", "CustomBaudRate=1234"},
                     {sgBasic},
                     [](TStoredValues& V) { V.BaudRate = br19200; }},
        TIniLoadCase{"CustomWithoutRateEntryGives9600",
                     {"BaudRate=custom"},
                     {sgBasic},
                     [](TStoredValues& V) {
                         V.BaudRate = brCustom;
                         V.CustomBaudRate = 9600;
                     }},
        TIniLoadCase{"UnknownBaudRateTextFallsBackTo9600",
                     {"BaudRate= 9600x"},
                     {sgBasic},
                     [](TStoredValues& V) { V.BaudRate = br9600; }},
        TIniLoadCase{"XonCharAsCode",
                     {"FlowControl.XonChar=#17"},
                     AllGroups,
                     [](TStoredValues& V) { V.XonChar = 17; }},
        TIniLoadCase{"XonCharAsLetter",
                     {"FlowControl.XonChar=A"},
                     AllGroups,
                     [](TStoredValues& V) { V.XonChar = 'A'; }},
        TIniLoadCase{"DiscardNullYesInAnyCaseIsTrue",
                     {"DiscardNull=yEs"},
                     {sgOthers},
                     [](TStoredValues& V) { V.DiscardNull = true; }},
        // Booleans are texts here, not integers: 1 is no "Yes".
        TIniLoadCase{"DiscardNullOneIsFalse",
                     {"DiscardNull=1"},
                     {sgOthers},
                     [](TStoredValues& V) { V.DiscardNull = false; }},
        TIniLoadCase{"MissingOutDSRFlowKept",
                     {"FlowControl.OutCTSFlow=No"},
                     {sgFlowControl},
                     [](TStoredValues& V) { V.OutCTSFlow = false; }},
        TIniLoadCase{"HexIntegersAndOddSizeThroughSetter",
                     {"Buffer.InputSize=$1001", "Timeouts.ReadInterval=0xFFFFFFFF"},
                     AllGroups,
                     [](TStoredValues& V) {
                         V.InputSize = 4096;
                         V.ReadInterval = -1;
                     }},
        TIniLoadCase{"NonIntegerKeepsCurrentValue",
                     {"Timeouts.ReadTotalConstant=abc", "Buffer.OutputSize=1.5"},
                     AllGroups,
                     [](TStoredValues&) {}},
        TIniLoadCase{"PresetAloneSetsItsFields",
                     {"FlowControl=hardware"},
                     {sgBasic},
                     [](TStoredValues& V) {
                         V.ControlRTS = rtsHandshake;
                         V.OutCTSFlow = true;
                         V.XonXoffIn = false;
                         V.XonXoffOut = false;
                     }},
        TIniLoadCase{"DetailKeysWinOverThePreset",
                     {"FlowControl=Software", "FlowControl.XonXoffIn=No"},
                     {sgBasic, sgFlowControl},
                     [](TStoredValues& V) {
                         V.ControlRTS = rtsDisable;
                         V.OutCTSFlow = false;
                         V.XonXoffIn = false;
                         V.XonXoffOut = true;
                     }},
        TIniLoadCase{
            "CustomPresetChangesNoField", {"FlowControl=Custom"}, {sgBasic}, [](TStoredValues&) {}},
        TIniLoadCase{"GroupsNotChosenAreNotRead",
                     {"Port=COM2", "EventChar=#1", "Parity.Check=No", "Buffer.InputSize=64",
                      "Timeouts.ReadInterval=1", "FlowControl.ControlDTR=Enable"},
                     {},
                     [](TStoredValues&) {}},
        TIniLoadCase{"KeysMatchWithoutLetterCase",
                     {"PORT=COM2", "parity=even", "STOPBITS=1.5"},
                     {sgBasic},
                     [](TStoredValues& V) {
                         V.Port = "COM2";
                         V.ParityBits = prEven;
                         V.StopBits = sbOne5StopBits;
                     }}),
    [](const testing::TestParamInfo<TIniLoadCase>& Info) { return std::string(Info.param.Name); });

TEST(PortStorage, EmptyStoredGroupsWriteNothing) {
    TComPort port;
    port.SetName("ComPort");
    SetEverything(port);
    port.SetStoredGroups({});
    TIniFile ini;
    port.SaveToIni(ini);
    EXPECT_EQ(ini.Text(), "");
    TMemoryRegistryKey key;
    port.SaveToRegistry(key);
    EXPECT_TRUE(key.ValueNames().empty());
}

TEST(PortStorage, EmptyStoredGroupsReadNothingFromTheRegistry) {
    TMemoryRegistryKey key;  // empty: any read would reset Port or throw
    TComPort port;
    SetEverything(port);
    port.SetStoredGroups({});
    const TStoredValues before = Snapshot(port);
    port.LoadFromRegistry(key);
    EXPECT_EQ(Snapshot(port), before);
}

TEST(PortStorage, RegistryWithoutTextValuesGivesTheFallbacks) {
    TMemoryRegistryKey key;
    TComPort port;
    SetEverything(port);
    port.SetBaudRate(br57600);
    port.SetStoredGroups({sgBasic, sgOthers, sgParity, sgFlowControl});
    TStoredValues expected = Snapshot(port);
    expected.Port = "";
    expected.BaudRate = br9600;
    expected.StopBits = sbOneStopBit;
    expected.DataBits = dbEight;
    expected.ParityBits = prNone;
    // The preset reads "Custom" and changes nothing; the detail keys fall back.
    expected.EventChar = 0;
    expected.DiscardNull = false;
    expected.ParityCheck = false;
    expected.ParityReplace = false;
    expected.ReplaceChar = 0;
    expected.ControlRTS = rtsDisable;
    expected.ControlDTR = dtrDisable;
    expected.DSRSensitivity = false;
    expected.OutCTSFlow = false;
    expected.OutDSRFlow = false;
    expected.TxContinueOnXoff = false;
    expected.XonXoffIn = false;
    expected.XonXoffOut = false;
    expected.XoffChar = 0;
    expected.XonChar = 0;
    port.LoadFromRegistry(key);
    EXPECT_EQ(Snapshot(port), expected);
}

TEST(PortStorage, MissingRegistryIntegerEndsTheLoadAndKeepsWhatCameBefore) {
    TMemoryRegistryKey key;
    key.WriteString("Port", "COM4");
    key.WriteString("BaudRate", "Custom");
    key.WriteInteger("CustomBaudRate", 100000);
    key.WriteString("DataBits", "6");
    key.WriteInteger("Buffer.OutputSize", 2048);
    key.WriteString("Buffer.InputSize", "4096");  // text, not an integer value
    key.WriteInteger("Timeouts.ReadInterval", 77);
    TComPort port;
    port.SetStoredGroups({sgBasic, sgBuffer, sgTimeouts});
    EXPECT_THROW(port.LoadFromRegistry(key), ERegistryError);
    EXPECT_EQ(port.Port(), "COM4");
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.CustomBaudRate(), 100000);
    EXPECT_EQ(port.DataBits(), dbSix);
    EXPECT_EQ(port.Buffer().OutputSize(), 2048);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
}

TEST(PortStorage, RegistryCustomBaudRateMissingIsAnError) {
    TMemoryRegistryKey key;
    key.WriteString("Port", "COM1");
    key.WriteString("BaudRate", "Custom");
    TComPort port;
    EXPECT_THROW(port.LoadFromRegistry(key), ERegistryError);
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
}

// Every assignment goes through the setters: unchanged values configure
// nothing, the flow-control preset always reconfigures the line.
TEST(PortStorage, LoadAssignsThroughTheSetters) {
    TIniFile ini;
    ini.SetText(
        "[ComPort]\r\nBaudRate=115200\r\nStopBits=2\r\nDataBits=8\r\n"
        "Timeouts.ReadInterval=-1\r\nTimeouts.WriteTotalConstant=500\r\n"
        "Buffer.InputSize=1024\r\nBuffer.OutputSize=4096\r\n");
    TCountingPort port;
    port.SetName("ComPort");
    port.SetStoredGroups({sgBasic, sgTimeouts, sgBuffer});
    port.LoadFromIni(ini);
    EXPECT_EQ(port.LineCalls, 3);  // BaudRate, StopBits, FlowControl preset
    EXPECT_EQ(port.TimeoutCalls, 1);
    EXPECT_EQ(port.QueueCalls, 1);
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 500);
    EXPECT_EQ(port.Buffer().OutputSize(), 4096);
}

TEST(PortStorage, IniSectionIsTheComponentName) {
    TIniFile ini;
    ini.SetText("[ComPort]\r\nPort=COM2\r\n[Modem]\r\nPort=COM5\r\n");
    TComPort port;
    port.SetName("Modem");
    port.LoadFromIni(ini);
    EXPECT_EQ(port.Port(), "COM5");
    port.SetName("ComPort");
    port.SetBaudRate(br1200);
    port.SaveToIni(ini);
    EXPECT_EQ(ini.ReadString("ComPort", "BaudRate", ""), "1200");
    EXPECT_EQ(ini.ReadString("Modem", "BaudRate", "none"), "none");
}

// Records which device each open/close notification belonged to.
void Trace(TComPort& Port, std::vector<std::string>& Calls) {
    Port.OnBeforeClose = [&Calls](TCustomComPort& P) { Calls.push_back("close " + P.Port()); };
    Port.OnAfterOpen = [&Calls](TCustomComPort& P) { Calls.push_back("open " + P.Port()); };
}

TEST(PortStorageOpenPort, LoadMovesTheOpenPortAndAppliesLineSettings) {
    test::TPtyPair first;
    test::TPtyPair second;
    TComPort port;
    port.SetName("ComPort");
    port.SetEvents({});  // no event thread: nothing runs behind the test
    port.SetPort(first.SlavePath());
    port.Open();
    std::vector<std::string> calls;
    Trace(port, calls);

    TIniFile ini;
    // A pty always keeps 8 data bits without parity, so stop bits and flow
    // control show that the line settings were applied.
    ini.SetText("[ComPort]\r\nPort=" + second.SlavePath() +
                "\r\nBaudRate=19200\r\nStopBits=2\r\nFlowControl=Hardware\r\n");
    port.LoadFromIni(ini);

    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(calls, (std::vector<std::string>{"close " + second.SlavePath(),
                                               "open " + second.SlavePath()}));
    const test::TLineSettings t = second.Settings();
    EXPECT_EQ(t.OSpeed, 19200u);
    EXPECT_NE(t.CFlag & CSTOPB, 0u);
    EXPECT_NE(t.CFlag & CRTSCTS, 0u);
    port.Close();
}

TEST(PortStorageOpenPort, PortThatCannotOpenStopsTheLoadThere) {
    test::TPtyPair pty;
    TComPort port;
    port.SetEvents({});
    port.SetPort(pty.SlavePath());
    port.Open();
    TMemoryRegistryKey key;
    key.WriteString("Port", "/dev/tarnwick-no-such-port");
    key.WriteString("BaudRate", "57600");
    try {
        port.LoadFromRegistry(key);
        FAIL() << "no error for a port that does not exist";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 1) << e.what();
    }
    EXPECT_EQ(port.Port(), "/dev/tarnwick-no-such-port");
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.BaudRate(), br9600);  // the key after the failing one was not read
}

}  // namespace
}  // namespace tarnwick

// Settings model of the port: errors, text conversions and option objects.
#include <array>
#include <cstdlib>
#include <limits>

#include "comport/com_port.h"
#include "comport/platform/comm_device.h"

namespace tarnwick {

// ------------------------------------------------------------------- errors

namespace {

constexpr std::array<const char*, 23> kErrorTexts = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

}  // namespace

std::string ErrorText(int Code) {
    if (Code >= 1 && Code <= static_cast<int>(kErrorTexts.size())) {
        return kErrorTexts[static_cast<std::size_t>(Code - 1)];
    }
    std::string text = "Unknown Error #";
    text += std::to_string(Code);
    return text;
}

EComPort::EComPort(const std::string& Message) : std::runtime_error(Message), FErrorCode(0) {}

EComPort::EComPort(const std::string& PortName, int Code)
    : std::runtime_error(PortName + " Error: " + ErrorText(Code)),
      FErrorCode(static_cast<std::uint8_t>(Code)) {}

EComPort::EComPort(const std::string& Message, int Code, bool /*tag*/)
    : std::runtime_error(Message), FErrorCode(static_cast<std::uint8_t>(Code)) {}

EComPortExt::EComPortExt(const std::string& PortName, int Code, std::uint32_t WindowsError)
    : EComPort("COM Port Error: " + ErrorText(Code) + " on " + PortName, Code, true),
      OsError(WindowsError) {}

// --------------------------------------------------------- text conversions

namespace {

std::string AsciiUpper(const std::string& Text) {
    std::string result = Text;
    for (char& c : result) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

template <typename TEnum, std::size_t N>
TEnum FromTable(const std::array<const char*, N>& Table, const std::string& Text, TEnum Fallback) {
    const std::string wanted = AsciiUpper(Text);
    for (std::size_t i = 0; i < N; ++i) {
        if (AsciiUpper(Table[i]) == wanted)
            return static_cast<TEnum>(i);
    }
    return Fallback;
}

template <std::size_t N>
std::string ToTable(const std::array<const char*, N>& Table, unsigned Ordinal) {
    return Ordinal < N ? Table[Ordinal] : std::string();
}

constexpr std::array<const char*, 16> kBaudTexts = {
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<std::uint32_t, 16> kBaudValues = {0,     110,    300,    600,   1200,  2400,
                                                       4800,  9600,   14400,  19200, 38400, 56000,
                                                       57600, 115200, 128000, 256000};
constexpr std::array<const char*, 3> kStopTexts = {"1", "1.5", "2"};
constexpr std::array<const char*, 4> kDataTexts = {"5", "6", "7", "8"};
constexpr std::array<const char*, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, 4> kFlowTexts = {"Hardware", "Software", "None", "Custom"};
constexpr std::array<const char*, 3> kDtrTexts = {"Disable", "Enable", "Handshake"};
constexpr std::array<const char*, 4> kRtsTexts = {"Disable", "Enable", "Handshake", "Toggle"};

// Signed integer as the runtime's string-to-integer reads it: blanks, a sign,
// decimal digits or "$" and hexadecimal digits, nothing after them.
bool ParseInteger(const std::string& Text, long long& Value) {
    std::size_t i = 0;
    while (i < Text.size() && Text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < Text.size() && (Text[i] == '-' || Text[i] == '+')) {
        negative = Text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < Text.size() && Text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < Text.size() && Text[i] == '0' &&
               (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= Text.size())
        return false;
    unsigned long long result = 0;
    for (; i < Text.size(); ++i) {
        const char c = Text[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        result = result * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (result > 0xFFFFFFFFULL)
            return false;  // beyond 32 bits
    }
    if (base == 10 && result > (negative ? 0x80000000ULL : 0x7FFFFFFFULL))
        return false;
    long long v = static_cast<long long>(result);
    if (base == 16 && !negative && result > 0x7FFFFFFFULL)
        v -= 0x100000000LL;  // bit pattern
    Value = negative ? -v : v;
    return true;
}

}  // namespace

std::string BaudRateToText(TBaudRate Value) {
    return ToTable(kBaudTexts, Value);
}
TBaudRate BaudRateFromText(const std::string& Text) {
    return FromTable(kBaudTexts, Text, br9600);
}
std::string StopBitsToText(TStopBits Value) {
    return ToTable(kStopTexts, Value);
}
TStopBits StopBitsFromText(const std::string& Text) {
    return FromTable(kStopTexts, Text, sbOneStopBit);
}
std::string DataBitsToText(TDataBits Value) {
    return ToTable(kDataTexts, Value);
}
TDataBits DataBitsFromText(const std::string& Text) {
    return FromTable(kDataTexts, Text, dbEight);
}
std::string ParityToText(TParityBits Value) {
    return ToTable(kParityTexts, Value);
}
TParityBits ParityFromText(const std::string& Text) {
    return FromTable(kParityTexts, Text, prNone);
}
std::string FlowControlToText(TFlowControl Value) {
    return ToTable(kFlowTexts, Value);
}
TFlowControl FlowControlFromText(const std::string& Text) {
    return FromTable(kFlowTexts, Text, fcCustom);
}
std::string DTRToText(TDTRFlowControl Value) {
    return ToTable(kDtrTexts, Value);
}
TDTRFlowControl DTRFromText(const std::string& Text) {
    return FromTable(kDtrTexts, Text, dtrDisable);
}
std::string RTSToText(TRTSFlowControl Value) {
    return ToTable(kRtsTexts, Value);
}
TRTSFlowControl RTSFromText(const std::string& Text) {
    return FromTable(kRtsTexts, Text, rtsDisable);
}
std::string BoolToText(bool Value) {
    return Value ? "Yes" : "No";
}
bool BoolFromText(const std::string& Text) {
    return AsciiUpper(Text) == "YES";
}

std::string CharToText(std::uint8_t Value) {
    if (Value >= 33 && Value <= 127)
        return std::string(1, static_cast<char>(Value));
    std::string text = "#";  // (appended: GCC 12 warns wrongly about "#" + string)
    text += std::to_string(Value);
    return text;
}

std::uint8_t CharFromText(const std::string& Text) {
    if (Text.empty())
        return 0;
    if (Text[0] == '#' && Text.size() > 1) {
        long long value = 0;
        if (!ParseInteger(Text.substr(1), value))
            return 0;
        return static_cast<std::uint8_t>(static_cast<unsigned long long>(value) & 0xFFU);
    }
    return static_cast<std::uint8_t>(Text[0]);
}

std::uint32_t BaudRateValue(TBaudRate Value) {
    return Value < kBaudValues.size() ? kBaudValues[Value] : 0;
}

namespace {
constexpr std::array<std::uint32_t, 10> kEventMaskBits = {
    platform::kEvRxChar, platform::kEvTxEmpty, platform::kEvRxFlag, platform::kEvRing,
    platform::kEvBreak,  platform::kEvCts,     platform::kEvDsr,    platform::kEvErr,
    platform::kEvRlsd,   platform::kEvRx80Full};
}

std::uint32_t EventsToCommMask(TComEvents Events) {
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < kEventMaskBits.size(); ++i) {
        if (Events.Contains(static_cast<TComEvent>(i)))
            mask |= kEventMaskBits[i];
    }
    return mask;
}

TComEvents CommMaskToEvents(std::uint32_t Mask) {
    TComEvents events;
    for (std::size_t i = 0; i < kEventMaskBits.size(); ++i) {
        if ((Mask & kEventMaskBits[i]) != 0)
            events.Include(static_cast<TComEvent>(i));
    }
    return events;
}

// ------------------------------------------------------------ option objects

void TComTimeouts::Assign(const TComTimeouts& Source) {
    FReadInterval = Source.FReadInterval;
    FReadTotalMultiplier = Source.FReadTotalMultiplier;
    FReadTotalConstant = Source.FReadTotalConstant;
    FWriteTotalMultiplier = Source.FWriteTotalMultiplier;
    FWriteTotalConstant = Source.FWriteTotalConstant;
}

void TComTimeouts::Set(std::int32_t& Field, std::int32_t Value) {
    if (Field == Value)
        return;
    Field = Value;
    if (Owner != nullptr)
        Owner->ConfigureTimeouts();
}

void TComTimeouts::SetReadInterval(std::int32_t Value) {
    Set(FReadInterval, Value);
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t Value) {
    Set(FReadTotalMultiplier, Value);
}
void TComTimeouts::SetReadTotalConstant(std::int32_t Value) {
    Set(FReadTotalConstant, Value);
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t Value) {
    Set(FWriteTotalMultiplier, Value);
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t Value) {
    Set(FWriteTotalConstant, Value);
}

void TComFlowControl::Assign(const TComFlowControl& Source) {
    FOutCTSFlow = Source.FOutCTSFlow;
    FOutDSRFlow = Source.FOutDSRFlow;
    FControlDTR = Source.FControlDTR;
    FControlRTS = Source.FControlRTS;
    FXonXoffOut = Source.FXonXoffOut;
    FXonXoffIn = Source.FXonXoffIn;
    FDSRSensitivity = Source.FDSRSensitivity;
    FTxContinueOnXoff = Source.FTxContinueOnXoff;
    FXonChar = Source.FXonChar;
    FXoffChar = Source.FXoffChar;
}

template <typename T>
void TComFlowControl::Set(T& Field, T Value) {
    if (Field == Value)
        return;
    Field = Value;
    if (Owner != nullptr)
        Owner->ConfigureLine();
}

void TComFlowControl::SetOutCTSFlow(bool Value) {
    Set(FOutCTSFlow, Value);
}
void TComFlowControl::SetOutDSRFlow(bool Value) {
    Set(FOutDSRFlow, Value);
}
void TComFlowControl::SetControlDTR(TDTRFlowControl Value) {
    Set(FControlDTR, Value);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl Value) {
    Set(FControlRTS, Value);
}
void TComFlowControl::SetXonXoffOut(bool Value) {
    Set(FXonXoffOut, Value);
}
void TComFlowControl::SetXonXoffIn(bool Value) {
    Set(FXonXoffIn, Value);
}
void TComFlowControl::SetDSRSensitivity(bool Value) {
    Set(FDSRSensitivity, Value);
}
void TComFlowControl::SetTxContinueOnXoff(bool Value) {
    Set(FTxContinueOnXoff, Value);
}
void TComFlowControl::SetXonChar(std::uint8_t Value) {
    Set(FXonChar, Value);
}
void TComFlowControl::SetXoffChar(std::uint8_t Value) {
    Set(FXoffChar, Value);
}

TFlowControl TComFlowControl::FlowControl() const {
    if (FControlRTS == rtsHandshake && FOutCTSFlow && !FXonXoffIn && !FXonXoffOut) {
        return fcHardware;
    }
    if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut)
        return fcSoftware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl Value) {
    if (Value != fcCustom) {
        FControlRTS = rtsDisable;
        FOutCTSFlow = false;
        FXonXoffIn = false;
        FXonXoffOut = false;
    }
    if (Value == fcHardware) {
        FControlRTS = rtsHandshake;
        FOutCTSFlow = true;
    } else if (Value == fcSoftware) {
        FXonXoffIn = true;
        FXonXoffOut = true;
    }
    if (Owner != nullptr)
        Owner->ConfigureLine();
}

void TComParity::Assign(const TComParity& Source) {
    FBits = Source.FBits;
    FCheck = Source.FCheck;
    FReplace = Source.FReplace;
    FReplaceChar = Source.FReplaceChar;
}

template <typename T>
void TComParity::Set(T& Field, T Value) {
    if (Field == Value)
        return;
    Field = Value;
    if (Owner != nullptr)
        Owner->ConfigureLine();
}

void TComParity::SetBits(TParityBits Value) {
    Set(FBits, Value);
}
void TComParity::SetCheck(bool Value) {
    Set(FCheck, Value);
}
void TComParity::SetReplace(bool Value) {
    Set(FReplace, Value);
}
void TComParity::SetReplaceChar(std::uint8_t Value) {
    Set(FReplaceChar, Value);
}

void TComBuffer::Assign(const TComBuffer& Source) {
    FInputSize = Source.FInputSize;
    FOutputSize = Source.FOutputSize;
}

void TComBuffer::Set(std::int32_t& Field, std::int32_t Value) {
    if (Field == Value)
        return;
    Field = Value;
    // Queue sizes must be even; a negative odd value is left for the driver to refuse.
    if (Field % 2 == 1)
        --Field;
    if (Owner != nullptr)
        Owner->ConfigureQueues();
}

void TComBuffer::SetInputSize(std::int32_t Value) {
    Set(FInputSize, Value);
}
void TComBuffer::SetOutputSize(std::int32_t Value) {
    Set(FOutputSize, Value);
}

}  // namespace tarnwick

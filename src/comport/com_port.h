// Serial port component: a port object that opens and configures a serial
// device, watches it from an event thread, hands its events to the main thread
// and reads and writes data.
//
// Settings are properties with getters and setters. A setter stores its value
// and, when the port is open and the value changed, applies the affected group
// of settings to the device at once (line settings, timeouts or queue sizes).
// Every failure is reported by throwing EComPort or EComPortExt.
//
// On POSIX the port name may be a path, a name under /dev, or COMn for
// /dev/ttyS(n-1); EComPortExt::WindowsError then carries errno. Settings that
// termios cannot carry out (1.5 stop bits, DSR flow control or sensitivity, DTR
// handshake, RTS toggle, a zero rate) fail with code 7; RTS/CTS is one switch
// there (either OutCTSFlow or rtsHandshake turns both directions on), and
// TxContinueOnXoff, XonLim and XoffLim have no effect. Modem lines are sampled
// every 20 ms while their events are watched; a device without them (a pty)
// reads as all lines off.
//
// Threads: Open, Close, the setters, WriteStr and the handlers run on the main
// thread (the one TMainThreadDispatcher knows), or all on one thread with a
// dispatcher of its own (TMainThreadDispatcher::TThreadScope) that the port was
// opened on. Each open port with a non-empty Events set has one event thread
// that waits for line events and hands each batch over as SyncMethod says.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick {

namespace platform {
class TCommDevice;
}

// ---------------------------------------------------------------- enumerations

enum TBaudRate : std::uint8_t {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent : std::uint8_t {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full
};
enum TComError : std::uint8_t {
    ceFrame,
    ceRxParity,
    ceOverrun,
    ceBreak,
    ceIO,
    ceMode,
    ceRxOver,
    ceTxFull
};
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone, smDisableEvents };
enum TStoredGroup : std::uint8_t {
    sgBasic,
    sgFlowControl,
    sgBuffer,
    sgTimeouts,
    sgParity,
    sgOthers
};
enum TLineSignal : std::uint8_t { lsCTS, lsDSR, lsRing, lsRLSD };
enum TAsyncOperation : std::uint8_t { opWrite, opRead };

// A set of enumeration members; bit n stands for the member with ordinal n.
template <typename TEnum, typename TBits>
class TEnumSet {
  public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<TEnum> Members) {
        for (TEnum m : Members)
            Include(m);
    }
    static constexpr TEnumSet FromBits(TBits Value) {
        TEnumSet s;
        s.Bits = Value;
        return s;
    }
    constexpr TBits ToBits() const { return Bits; }
    constexpr bool Contains(TEnum Member) const { return (Bits & Mask(Member)) != 0; }
    constexpr bool Empty() const { return Bits == 0; }
    constexpr TEnumSet& Include(TEnum Member) {
        Bits = static_cast<TBits>(Bits | Mask(Member));
        return *this;
    }
    constexpr TEnumSet& Exclude(TEnum Member) {
        Bits = static_cast<TBits>(Bits & ~Mask(Member));
        return *this;
    }
    friend constexpr bool operator==(TEnumSet, TEnumSet) = default;

  private:
    static constexpr TBits Mask(TEnum Member) {
        return static_cast<TBits>(TBits{1} << static_cast<unsigned>(Member));
    }
    TBits Bits = 0;
};

using TComEvents = TEnumSet<TComEvent, std::uint16_t>;
using TComErrors = TEnumSet<TComError, std::uint8_t>;
using TStoredGroups = TEnumSet<TStoredGroup, std::uint8_t>;
using TLineSignals = TEnumSet<TLineSignal, std::uint8_t>;

inline constexpr TComEvents kAllComEvents = TComEvents::FromBits(0x03FF);

// ------------------------------------------------------------------- errors

// The English message of a component error code; "Unknown Error #n" for codes
// outside the table.
std::string ErrorText(int Code);

class EComPort : public std::runtime_error {
  public:
    // ErrorCode 0, the message as given.
    explicit EComPort(const std::string& Message);
    // "<port> Error: <ErrorText(code)>".
    EComPort(const std::string& PortName, int Code);
    std::uint8_t ErrorCode() const { return FErrorCode; }

  protected:
    EComPort(const std::string& Message, int Code, bool /*tag*/);

  private:
    std::uint8_t FErrorCode;
};

// A failed OS call: "COM Port Error: <ErrorText(code)> on <port>"; the OS error
// code is kept in WindowsError only.
class EComPortExt : public EComPort {
  public:
    EComPortExt(const std::string& PortName, int Code, std::uint32_t WindowsError);
    std::uint32_t WindowsError() const { return OsError; }

  private:
    std::uint32_t OsError;
};

// ------------------------------------------------------------ text conversions

std::string BaudRateToText(TBaudRate Value);
TBaudRate BaudRateFromText(const std::string& Text);
std::string StopBitsToText(TStopBits Value);
TStopBits StopBitsFromText(const std::string& Text);
std::string DataBitsToText(TDataBits Value);
TDataBits DataBitsFromText(const std::string& Text);
std::string ParityToText(TParityBits Value);
TParityBits ParityFromText(const std::string& Text);
std::string FlowControlToText(TFlowControl Value);
TFlowControl FlowControlFromText(const std::string& Text);
std::string DTRToText(TDTRFlowControl Value);
TDTRFlowControl DTRFromText(const std::string& Text);
std::string RTSToText(TRTSFlowControl Value);
TRTSFlowControl RTSFromText(const std::string& Text);
std::string BoolToText(bool Value);
bool BoolFromText(const std::string& Text);
// Codes 33..127 as the character itself, every other code as "#<decimal>".
std::string CharToText(std::uint8_t Value);
// "#<number>" (decimal or $hex, low 8 bits), else the first character, #0 if empty.
std::uint8_t CharFromText(const std::string& Text);

// The number a baud-rate member stands for (0 for brCustom).
std::uint32_t BaudRateValue(TBaudRate Value);

// Event set <-> the driver's event mask.
std::uint32_t EventsToCommMask(TComEvents Events);
TComEvents CommMaskToEvents(std::uint32_t Mask);

// ------------------------------------------------------------ option objects

class TCustomComPort;

// Driver timeouts in milliseconds; -1 stands for the all-ones value.
class TComTimeouts {
  public:
    TComTimeouts() = default;
    explicit TComTimeouts(TCustomComPort* Port) : Owner(Port) {}
    // Copies the values, not the owner.
    TComTimeouts(const TComTimeouts& Other) { Assign(Other); }
    TComTimeouts& operator=(const TComTimeouts& Other) {
        Assign(Other);
        return *this;
    }
    void Assign(const TComTimeouts& Source);
    TCustomComPort* OwnerPort() const { return Owner; }

    std::int32_t ReadInterval() const { return FReadInterval; }
    std::int32_t ReadTotalMultiplier() const { return FReadTotalMultiplier; }
    std::int32_t ReadTotalConstant() const { return FReadTotalConstant; }
    std::int32_t WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
    std::int32_t WriteTotalConstant() const { return FWriteTotalConstant; }
    void SetReadInterval(std::int32_t Value);
    void SetReadTotalMultiplier(std::int32_t Value);
    void SetReadTotalConstant(std::int32_t Value);
    void SetWriteTotalMultiplier(std::int32_t Value);
    void SetWriteTotalConstant(std::int32_t Value);

  private:
    void Set(std::int32_t& Field, std::int32_t Value);
    TCustomComPort* Owner = nullptr;
    std::int32_t FReadInterval = -1;
    std::int32_t FReadTotalMultiplier = 0;
    std::int32_t FReadTotalConstant = 0;
    std::int32_t FWriteTotalMultiplier = 100;
    std::int32_t FWriteTotalConstant = 1000;
};

class TComFlowControl {
  public:
    TComFlowControl() = default;
    explicit TComFlowControl(TCustomComPort* Port) : Owner(Port) {}
    TComFlowControl(const TComFlowControl& Other) { Assign(Other); }
    TComFlowControl& operator=(const TComFlowControl& Other) {
        Assign(Other);
        return *this;
    }
    void Assign(const TComFlowControl& Source);
    TCustomComPort* OwnerPort() const { return Owner; }

    bool OutCTSFlow() const { return FOutCTSFlow; }
    bool OutDSRFlow() const { return FOutDSRFlow; }
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DSRSensitivity() const { return FDSRSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    std::uint8_t XonChar() const { return FXonChar; }
    std::uint8_t XoffChar() const { return FXoffChar; }
    void SetOutCTSFlow(bool Value);
    void SetOutDSRFlow(bool Value);
    void SetControlDTR(TDTRFlowControl Value);
    void SetControlRTS(TRTSFlowControl Value);
    void SetXonXoffOut(bool Value);
    void SetXonXoffIn(bool Value);
    void SetDSRSensitivity(bool Value);
    void SetTxContinueOnXoff(bool Value);
    void SetXonChar(std::uint8_t Value);
    void SetXoffChar(std::uint8_t Value);

    // The preset the four handshake fields amount to.
    TFlowControl FlowControl() const;
    // Sets the preset's fields (fcCustom changes none); always reconfigures.
    void SetFlowControl(TFlowControl Value);

  private:
    template <typename T>
    void Set(T& Field, T Value);
    TCustomComPort* Owner = nullptr;
    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = dtrDisable;
    TRTSFlowControl FControlRTS = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    std::uint8_t FXonChar = 17;
    std::uint8_t FXoffChar = 19;
};

class TComParity {
  public:
    TComParity() = default;
    explicit TComParity(TCustomComPort* Port) : Owner(Port) {}
    TComParity(const TComParity& Other) { Assign(Other); }
    TComParity& operator=(const TComParity& Other) {
        Assign(Other);
        return *this;
    }
    void Assign(const TComParity& Source);
    TCustomComPort* OwnerPort() const { return Owner; }

    TParityBits Bits() const { return FBits; }
    bool Check() const { return FCheck; }
    bool Replace() const { return FReplace; }
    std::uint8_t ReplaceChar() const { return FReplaceChar; }
    void SetBits(TParityBits Value);
    void SetCheck(bool Value);
    void SetReplace(bool Value);
    void SetReplaceChar(std::uint8_t Value);

  private:
    template <typename T>
    void Set(T& Field, T Value);
    TCustomComPort* Owner = nullptr;
    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    std::uint8_t FReplaceChar = 0;
};

// Driver queue sizes; a positive odd size is stored one lower.
class TComBuffer {
  public:
    TComBuffer() = default;
    explicit TComBuffer(TCustomComPort* Port) : Owner(Port) {}
    TComBuffer(const TComBuffer& Other) { Assign(Other); }
    TComBuffer& operator=(const TComBuffer& Other) {
        Assign(Other);
        return *this;
    }
    void Assign(const TComBuffer& Source);
    TCustomComPort* OwnerPort() const { return Owner; }

    std::int32_t InputSize() const { return FInputSize; }
    std::int32_t OutputSize() const { return FOutputSize; }
    void SetInputSize(std::int32_t Value);
    void SetOutputSize(std::int32_t Value);

  private:
    void Set(std::int32_t& Field, std::int32_t Value);
    TCustomComPort* Owner = nullptr;
    std::int32_t FInputSize = 1024;
    std::int32_t FOutputSize = 1024;
};

// ------------------------------------------------------------------ events

using TNotifyEvent = std::function<void(TCustomComPort& Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort& Sender, int Count)>;
using TRxBufEvent =
    std::function<void(TCustomComPort& Sender, const std::uint8_t* Buffer, int Count)>;
using TComSignalEvent = std::function<void(TCustomComPort& Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TCustomComPort& Sender, TComErrors Errors)>;

// Another component's tap on a port: the port calls every set callback of every
// attached link (in attach order). The port keeps only a pointer; detach the
// link before destroying it.
class TComLink {
  public:
    TComSignalEvent LinkOpenChanged;
    TRxBufEvent LinkDataReceived;
    TRxBufEvent LinkDataSent;
    TNotifyEvent LinkTxQueueEmpty;
    TNotifyEvent LinkEventCharReceived;
    TComSignalEvent LinkCTSChanged;
    TComSignalEvent LinkDSRChanged;
    TComSignalEvent LinkRLSDChanged;
    TNotifyEvent LinkRingDetected;
    TComSignalEvent LinkSending;
    TComSignalEvent LinkReceiving;
};

// The record of one overlapped transfer; what it holds is the communications layer's
// and stays inside the component.
struct TComAsync;
struct TComAsyncDelete {
    void operator()(TComAsync* Async) const;
};
using TComAsyncPtr = std::unique_ptr<TComAsync, TComAsyncDelete>;

// Opens the device at Path (DevicePath of the port name) for overlapped use: nullptr,
// with platform::LastError() set, when it cannot. The default is the system's
// communications layer; a test puts a layer of its own under a port.
using TCommDeviceOpener =
    std::function<std::unique_ptr<platform::TCommDevice>(const std::string& Path)>;

class TIniFile;
struct TComPortPrivate;
class TRegistryKey;

// Receives exceptions that escape window-sync dispatch (the application's
// global exception report). Unset: the message goes to standard error.
void SetApplicationExceptionHandler(std::function<void(std::exception_ptr)> Handler);
void HandleApplicationException(std::exception_ptr Error);

// --------------------------------------------------------------------- port

class TCustomComPort {
  public:
    TCustomComPort();
    explicit TCustomComPort(TCommDeviceOpener Opener);
    virtual ~TCustomComPort();
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;

    // ---- settings
    // The component's name (section name of the INI storage).
    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value) { FName = Value; }

    bool Connected() const { return FConnected; }
    // Opens or closes (while loading only records the wish).
    void SetConnected(bool Value);
    // The port as the user typed it: COM1, ttyUSB0, /dev/ttyUSB0 ...
    const std::string& Port() const { return FPort; }
    // A different name (case-sensitive) moves an open port to the new device.
    void SetPort(const std::string& Value);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate Value);
    // The rate used while BaudRate is brCustom.
    std::int32_t CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(std::int32_t Value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits Value);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits Value);
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool Value);
    std::uint8_t EventChar() const { return FEventChar; }
    void SetEventChar(std::uint8_t Value);
    // The events watched; read when the port opens.
    TComEvents Events() const { return FEvents; }
    void SetEvents(TComEvents Value) { FEvents = Value; }
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    // Refused with error 14 while the port is open.
    void SetSyncMethod(TSyncMethod Value);
    TStoredGroups StoredGroups() const { return FStoredGroups; }
    void SetStoredGroups(TStoredGroups Value) { FStoredGroups = Value; }

    // The option objects; change single fields through them.
    TComParity& Parity() { return *FParity; }
    const TComParity& Parity() const { return *FParity; }
    TComFlowControl& FlowControl() { return *FFlowControl; }
    const TComFlowControl& FlowControl() const { return *FFlowControl; }
    TComTimeouts& Timeouts() { return *FTimeouts; }
    const TComTimeouts& Timeouts() const { return *FTimeouts; }
    TComBuffer& Buffer() { return *FBuffer; }
    const TComBuffer& Buffer() const { return *FBuffer; }
    // Copy all fields at once, then configure the group once.
    void SetParity(const TComParity& Value);
    void SetFlowControl(const TComFlowControl& Value);
    void SetTimeouts(const TComTimeouts& Value);
    void SetBuffer(const TComBuffer& Value);

    // Component states of a form-based owner; both false at run time.
    bool Designing() const { return FDesigning; }
    void SetDesigning(bool Value) { FDesigning = Value; }
    bool Loading() const { return FLoading; }
    void SetLoading(bool Value) { FLoading = Value; }
    // End of loading: opens the port if Connected was recorded as true; an
    // error goes to the application's exception report.
    void Loaded();

    // ---- settings storage
    // The groups in StoredGroups, under fixed key names: in the INI section
    // named after Name(), or as values directly in an open registry key. Loads
    // assign through the setters, so an open port applies them at once.
    virtual void SaveToIni(TIniFile& Ini) const;
    virtual void LoadFromIni(TIniFile& Ini);
    virtual void SaveToRegistry(TRegistryKey& Reg) const;
    virtual void LoadFromRegistry(TRegistryKey& Reg);

    // ---- lifecycle
    void Open();
    // When the purge or a before-close handler raises, the port stays open and the
    // error passes.
    void Close();
    // Close, and should that raise, still stops the event thread, releases the device
    // and counts the port closed (with the after-close notifications), then raises the
    // error again: for an owner that must not keep a port it could not close, which
    // the next Open would take as open (a pulled adapter can make the purge fail).
    void ForceClose();
    // The OS handle of the open device; -1 while closed.
    std::intptr_t DeviceHandle() const;

    virtual void OpenDevice();
    virtual void CloseDevice();
    virtual void ConfigureAll();
    virtual void ConfigureLine();
    virtual void ConfigureTimeouts();
    virtual void ConfigureQueues();

    // ---- data transfer (blocking on the calling thread)
    // Writes Text; returns the bytes the driver took before the write time-out.
    std::int32_t WriteStr(const std::string& Text);
    // Reads up to Count bytes within the read time-outs; returns how many came.
    std::int32_t ReadWait(std::uint8_t* Buffer, std::int32_t Count);

    void CreateAsync(TComAsyncPtr& Async);
    void FreeAsync(TComAsyncPtr& Async);
    void StoreAsyncData(TAsyncOperation Kind, const std::uint8_t* Data, std::int32_t Count,
                        TComAsync& Async);
    std::int32_t StartWrite(const std::uint8_t* Data, std::int32_t Count, TComAsync* Async);
    std::int32_t StartWriteStr(const std::string& Text, TComAsync* Async);
    std::int32_t StartRead(std::uint8_t* Buffer, std::int32_t Count, TComAsync* Async);
    std::int32_t WaitAsync(TComAsync* Async);
    void AbortTransfers();

    // ---- line status
    std::int32_t InputQueueCount();
    TLineSignals ModemSignals();
    // Errors since the last query (the query clears them).
    TComErrors LineErrors();

    // ---- links
    void AttachLink(TComLink* Link);
    void DetachLink(TComLink* Link);
    bool LinkWantsRxData() const { return FLinkWantsRxData; }

    // ---- destruction notice
    // For an object that keeps a pointer to this port (a terminal view): Notify runs
    // once when the port is destroyed, after it closed. Remove it when that object
    // goes first. A second call with the same Key replaces the first.
    void FreeNotification(const void* Key, std::function<void()> Notify);
    void RemoveFreeNotification(const void* Key);

    // ---- events (sender first; unset handlers are skipped)
    TNotifyEvent OnAfterOpen;
    TNotifyEvent OnAfterClose;
    TNotifyEvent OnBeforeOpen;
    TNotifyEvent OnBeforeClose;
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    TNotifyEvent OnTxEmpty;
    TNotifyEvent OnBreak;
    TNotifyEvent OnRing;
    TComSignalEvent OnCTSChange;
    TComSignalEvent OnDSRChange;
    TComSignalEvent OnRLSDChange;
    TNotifyEvent OnRxFlag;
    TComErrorEvent OnError;
    TNotifyEvent OnRx80Full;

    // True while the event thread of this port runs (ended threads excluded).
    bool EventThreadRunning() const;
    bool EventWindowExists() const;

  protected:
    virtual void FireAfterClose();
    virtual void FireAfterOpen();
    virtual void FireBeforeClose();
    virtual void FireBeforeOpen();
    virtual void FireRxChar(int Count);
    virtual void FireRxBuf(const std::uint8_t* Data, int Count);
    virtual void FireTxEmpty();
    virtual void FireBreak();
    virtual void FireRing();
    virtual void FireRxFlag();
    virtual void FireCTSChange(bool OnOff);
    virtual void FireDSRChange(bool OnOff);
    virtual void FireError(TComErrors Errors);
    virtual void FireRLSDChange(bool OnOff);
    virtual void FireRx80Full();

    // Dispatch of one event (run as SyncMethod says).
    void HandleRxChar();
    void HandleTxEmpty();
    void HandleRxFlag();
    void HandleBreak();
    void HandleRing();
    void HandleCTSChange();
    void HandleDSRChange();
    void HandleRLSDChange();
    void HandleError();
    void HandleRx80Full();

    void NotifyBeforeOpen();
    void NotifyAfterOpen();
    void NotifyBeforeClose();
    void NotifyAfterClose();
    void RefreshSignals(bool OnOff);

    using TLinkSignal = TComSignalEvent TComLink::*;
    using TLinkEvent = TNotifyEvent TComLink::*;
    void NotifyLinksSignal(TLinkSignal Callback, bool OnOff);
    void NotifyLinksEvent(TLinkEvent Callback);
    void NotifyLinksDataSent(const std::uint8_t* Data, int Count);

  private:
    friend class TComThread;
    friend class TComEventWindow;

    void RaiseExt(int Code, std::uint32_t OsError) const;
    // What is left of Close after its notifications and purge: the event thread, the
    // event window and the device go.
    void ReleaseDevice();
    // Runs the handler of one driver event mask bit (window-sync messages).
    void HandleEventBit(std::uint32_t Bit);

    std::string FName;
    bool FConnected = false;
    std::string FPort = "COM1";
    TBaudRate FBaudRate = br9600;
    std::int32_t FCustomBaudRate = 9600;
    TStopBits FStopBits = sbOneStopBit;
    TDataBits FDataBits = dbEight;
    bool FDiscardNull = false;
    std::uint8_t FEventChar = 0;
    TComEvents FEvents = kAllComEvents;
    TSyncMethod FSyncMethod = smThreadSync;
    TStoredGroups FStoredGroups{sgBasic};
    bool FDesigning = false;
    bool FLoading = false;

    std::vector<TComLink*> Links;
    bool FLinkWantsRxData = false;
    std::vector<std::pair<const void*, std::function<void()>>> FreeNotifications;
    std::unique_ptr<TComParity> FParity;
    std::unique_ptr<TComFlowControl> FFlowControl;
    std::unique_ptr<TComTimeouts> FTimeouts;
    std::unique_ptr<TComBuffer> FBuffer;

    // The device, the event thread and what else belongs to the open port.
    std::unique_ptr<TComPortPrivate> Private;
};

// The published port.
class TComPort : public TCustomComPort {
  public:
    TComPort() = default;
    explicit TComPort(TCommDeviceOpener Opener) : TCustomComPort(std::move(Opener)) {}
};

}  // namespace tarnwick

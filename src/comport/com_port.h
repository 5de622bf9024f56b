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
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "comport/com_link.h"
#include "comport/com_port_error.h"
#include "comport/com_port_options.h"
#include "comport/com_port_text.h"
#include "comport/com_port_types.h"

namespace tarnwick {

namespace platform {
class TCommDevice;
}

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

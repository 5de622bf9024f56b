// Port settings, lifecycle, data transfer and line status; the links and events are in
// com_port_events.cpp.
#include "comport/com_port.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>

#include "comport/com_port_private.h"

namespace tarnwick {

namespace {

constexpr std::uint32_t kErrorInvalidHandle = 6;

std::mutex& ExceptionHandlerMutex() {
    static std::mutex m;
    return m;
}
std::function<void(std::exception_ptr)>& ExceptionHandler() {
    static std::function<void(std::exception_ptr)> handler;
    return handler;
}

}  // namespace

void SetApplicationExceptionHandler(std::function<void(std::exception_ptr)> Handler) {
    std::lock_guard<std::mutex> lock(ExceptionHandlerMutex());
    ExceptionHandler() = std::move(Handler);
}

void HandleApplicationException(std::exception_ptr Error) {
    std::function<void(std::exception_ptr)> handler;
    {
        std::lock_guard<std::mutex> lock(ExceptionHandlerMutex());
        handler = ExceptionHandler();
    }
    if (handler) {
        handler(Error);
        return;
    }
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "unknown exception\n");
    }
}

// ------------------------------------------------------------- construction

TCustomComPort::TCustomComPort() : TCustomComPort(platform::OpenCommDevice) {}

TCustomComPort::TCustomComPort(TCommDeviceOpener Opener)
    : FParity(std::make_unique<TComParity>(this)),
      FFlowControl(std::make_unique<TComFlowControl>(this)),
      FTimeouts(std::make_unique<TComTimeouts>(this)),
      FBuffer(std::make_unique<TComBuffer>(this)),
      Private(std::make_unique<TComPortPrivate>()) {
    Private->OpenDevice = std::move(Opener);
}

TCustomComPort::~TCustomComPort() {
    try {
        ForceClose();
    } catch (...) {
        // A destructor cannot throw; the failure still goes to the report.
        HandleApplicationException(std::current_exception());
    }
    // A port being designed is never closed, yet its thread must end before the device.
    ReleaseDevice();
    for (auto& [key, notify] : std::exchange(FreeNotifications, {})) {
        try {
            notify();
        } catch (...) {
            HandleApplicationException(std::current_exception());
        }
    }
}

// ------------------------------------------------------------------ settings

void TCustomComPort::SetConnected(bool Value) {
    if (FDesigning || FLoading) {
        FConnected = Value;
        return;
    }
    if (Value != FConnected) {
        if (Value) {
            Open();
        } else {
            Close();
        }
    }
}

void TCustomComPort::SetPort(const std::string& Value) {
    if (Value == FPort)
        return;
    FPort = Value;
    if (FConnected && !FDesigning && !FLoading) {
        Close();
        Open();
    }
}

void TCustomComPort::SetBaudRate(TBaudRate Value) {
    if (Value == FBaudRate)
        return;
    FBaudRate = Value;
    ConfigureLine();
}

void TCustomComPort::SetCustomBaudRate(std::int32_t Value) {
    if (Value == FCustomBaudRate)
        return;
    FCustomBaudRate = Value;
    ConfigureLine();
}

void TCustomComPort::SetStopBits(TStopBits Value) {
    if (Value == FStopBits)
        return;
    FStopBits = Value;
    ConfigureLine();
}

void TCustomComPort::SetDataBits(TDataBits Value) {
    if (Value == FDataBits)
        return;
    FDataBits = Value;
    ConfigureLine();
}

void TCustomComPort::SetDiscardNull(bool Value) {
    if (Value == FDiscardNull)
        return;
    FDiscardNull = Value;
    ConfigureLine();
}

void TCustomComPort::SetEventChar(std::uint8_t Value) {
    if (Value == FEventChar)
        return;
    FEventChar = Value;
    ConfigureLine();
}

void TCustomComPort::SetSyncMethod(TSyncMethod Value) {
    if (Value == FSyncMethod)
        return;
    if (FConnected && !FDesigning && !FLoading)
        throw EComPort(FPort, 14);
    FSyncMethod = Value;
}

void TCustomComPort::SetParity(const TComParity& Value) {
    FParity->Assign(Value);
    ConfigureLine();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& Value) {
    FFlowControl->Assign(Value);
    ConfigureLine();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& Value) {
    FTimeouts->Assign(Value);
    ConfigureTimeouts();
}

void TCustomComPort::SetBuffer(const TComBuffer& Value) {
    FBuffer->Assign(Value);
    ConfigureQueues();
}

void TCustomComPort::Loaded() {
    FLoading = false;
    if (FConnected && !FDesigning) {
        FConnected = false;
        try {
            Open();
        } catch (...) {
            HandleApplicationException(std::current_exception());
        }
    }
}

// ----------------------------------------------------------------- lifecycle

void TCustomComPort::RaiseExt(int Code, std::uint32_t OsError) const {
    throw EComPortExt(FPort, Code, OsError);
}

std::intptr_t TCustomComPort::DeviceHandle() const {
    return Private->Device ? Private->Device->NativeHandle() : -1;
}

void TCustomComPort::Open() {
    if (FConnected || FDesigning)
        return;
    NotifyBeforeOpen();
    OpenDevice();
    FConnected = true;
    try {
        ConfigureAll();
    } catch (...) {
        CloseDevice();
        FConnected = false;
        throw;
    }
    if (FEvents.Empty()) {
        Private->ThreadCreated = false;
    } else {
        try {
            if (FSyncMethod == smWindowSync)
                Private->EventWindow = std::make_unique<TComEventWindow>(*this);
            Private->EventThread = std::make_unique<TComThread>(*this);
            Private->ThreadCreated = true;
            Private->EventThread->Resume();  // after the fields above, which the thread reads
        } catch (...) {
            // Out of descriptors or threads: the port stays closed, nothing is kept.
            Private->EventThread.reset();
            Private->ThreadCreated = false;
            Private->EventWindow.reset();
            CloseDevice();
            FConnected = false;
            throw;
        }
    }
    NotifyAfterOpen();
}

void TCustomComPort::Close() {
    // A handler that runs while Close waits for the event thread may close too.
    if (!FConnected || FDesigning || Private->Closing)
        return;
    Private->Closing = true;
    struct TClosingDone {
        bool& Flag;
        ~TClosingDone() { Flag = false; }
    } closingDone{Private->Closing};
    NotifyBeforeClose();
    AbortTransfers();
    if (Private->ThreadCreated) {
        Private->EventThread.reset();  // stops the thread, dispatching what was on its way
        Private->ThreadCreated = false;
        if (FSyncMethod == smWindowSync)
            Private->EventWindow.reset();
    }
    CloseDevice();
    FConnected = false;
    NotifyAfterClose();
}

void TCustomComPort::ForceClose() {
    try {
        Close();
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        if (FConnected && !FDesigning) {
            ReleaseDevice();
            FConnected = false;
            try {
                NotifyAfterClose();
            } catch (...) {
                // The first error is the one the caller gets; this one is still told.
                HandleApplicationException(std::current_exception());
            }
        }
        std::rethrow_exception(failure);
    }
}

void TCustomComPort::ReleaseDevice() {
    // The thread ends first: it uses the device until then.
    Private->EventThread.reset();
    Private->ThreadCreated = false;
    Private->EventWindow.reset();
    CloseDevice();
}

void TCustomComPort::OpenDevice() {
    const std::string path = platform::DevicePath(FPort);
    Private->Device = Private->OpenDevice(path);
    if (!Private->Device) {
        const std::uint32_t error = platform::LastError();
        platform::DebugOutput("CreateFile " + path);
        RaiseExt(1, error);
    }
}

void TCustomComPort::CloseDevice() {
    Private->Device.reset();
    Private->OutstandingWrites = 0;
}

void TCustomComPort::ConfigureAll() {
    ConfigureQueues();
    ConfigureLine();
    ConfigureTimeouts();
}

namespace {
bool Configurable(bool Connected, bool Designing, bool Loading) {
    return Connected && !Designing && !Loading;
}
}  // namespace

void TCustomComPort::ConfigureQueues() {
    if (!Configurable(FConnected, FDesigning, FLoading))
        return;
    if (!Private->Device ||
        !Private->Device->SetupComm(static_cast<std::uint32_t>(FBuffer->InputSize()),
                                    static_cast<std::uint32_t>(FBuffer->OutputSize()))) {
        RaiseExt(9, Private->Device ? platform::LastError() : kErrorInvalidHandle);
    }
}

void TCustomComPort::ConfigureTimeouts() {
    if (!Configurable(FConnected, FDesigning, FLoading))
        return;
    if (!Private->Device || !Private->Device->SetCommTimeouts(BuildCommTimeouts(*this))) {
        RaiseExt(8, Private->Device ? platform::LastError() : kErrorInvalidHandle);
    }
}

void TCustomComPort::ConfigureLine() {
    if (!Configurable(FConnected, FDesigning, FLoading))
        return;
    if (!Private->Device || !Private->Device->SetCommState(BuildDcb(*this))) {
        RaiseExt(7, Private->Device ? platform::LastError() : kErrorInvalidHandle);
    }
}

platform::TCommTimeouts BuildCommTimeouts(const TCustomComPort& Port) {
    const TComTimeouts* timeouts = &Port.Timeouts();
    platform::TCommTimeouts t;
    t.ReadIntervalTimeout = static_cast<std::uint32_t>(timeouts->ReadInterval());
    t.ReadTotalTimeoutMultiplier = static_cast<std::uint32_t>(timeouts->ReadTotalMultiplier());
    t.ReadTotalTimeoutConstant = static_cast<std::uint32_t>(timeouts->ReadTotalConstant());
    t.WriteTotalTimeoutMultiplier = static_cast<std::uint32_t>(timeouts->WriteTotalMultiplier());
    t.WriteTotalTimeoutConstant = static_cast<std::uint32_t>(timeouts->WriteTotalConstant());
    return t;
}

platform::TDcb BuildDcb(const TCustomComPort& Port) {
    using namespace platform;
    TDcb dcb;
    dcb.DCBlength = 28;
    dcb.BaudRate = Port.BaudRate() == brCustom ? static_cast<std::uint32_t>(Port.CustomBaudRate())
                                               : BaudRateValue(Port.BaudRate());
    const TComFlowControl& fc = Port.FlowControl();
    const TComParity& pa = Port.Parity();
    std::uint32_t flags = kDcbBinary;
    if (pa.Check())
        flags |= kDcbParity;
    if (fc.OutCTSFlow())
        flags |= kDcbOutxCtsFlow;
    if (fc.OutDSRFlow())
        flags |= kDcbOutxDsrFlow;
    flags |= static_cast<std::uint32_t>(fc.ControlDTR()) << kDcbDtrControlShift;
    if (fc.DSRSensitivity())
        flags |= kDcbDsrSensitivity;
    if (fc.TxContinueOnXoff())
        flags |= kDcbTxContinueOnXoff;
    if (fc.XonXoffOut())
        flags |= kDcbOutX;
    if (fc.XonXoffIn())
        flags |= kDcbInX;
    if (pa.Check() && pa.Replace())
        flags |= kDcbErrorChar;
    if (Port.DiscardNull())
        flags |= kDcbNull;
    flags |= static_cast<std::uint32_t>(fc.ControlRTS()) << kDcbRtsControlShift;
    dcb.Flags = flags;
    const auto limit = static_cast<std::uint16_t>(Port.Buffer().InputSize() / 4);
    dcb.XonLim = limit;
    dcb.XoffLim = limit;
    dcb.ByteSize = static_cast<std::uint8_t>(5 + Port.DataBits());
    dcb.Parity = static_cast<std::uint8_t>(pa.Bits());
    dcb.StopBits = static_cast<std::uint8_t>(Port.StopBits());
    dcb.XonChar = fc.XonChar();
    dcb.XoffChar = fc.XoffChar();
    dcb.ErrorChar = (pa.Check() && pa.Replace()) ? pa.ReplaceChar() : 0;
    dcb.EofChar = 0;
    dcb.EvtChar = Port.EventChar();
    return dcb;
}

bool TCustomComPort::EventWindowExists() const {
    return static_cast<bool>(Private->EventWindow);
}

bool TCustomComPort::EventThreadRunning() const {
    return Private->EventThread && Private->EventThread->Running();
}

// ------------------------------------------------------------- data transfer

void TComAsyncDelete::operator()(TComAsync* Async) const {
    delete Async;
}

void TCustomComPort::CreateAsync(TComAsyncPtr& Async) {
    Async.reset(new TComAsync);
    Async->OverlappedRec = platform::CreateOverlapped();
}

void TCustomComPort::FreeAsync(TComAsyncPtr& Async) {
    Async.reset();
}

void TCustomComPort::StoreAsyncData(TAsyncOperation Kind, const std::uint8_t* Data,
                                    std::int32_t Count, TComAsync& Async) {
    Async.Operation = Kind;
    Async.DataCopy.reset();
    const std::size_t size = Count > 0 ? static_cast<std::size_t>(Count) : 0;
    Async.DataCopy = std::make_unique<std::uint8_t[]>(size);
    if (size > 0)
        std::copy(Data, Data + size, Async.DataCopy.get());
    Async.DataSize = Count;
}

std::int32_t TCustomComPort::StartWrite(const std::uint8_t* Data, std::int32_t Count,
                                        TComAsync* Async) {
    if (Async == nullptr)
        throw EComPort(FPort, 4);
    StoreAsyncData(opWrite, Data, Count, *Async);
    std::uint32_t written = 0;
    bool ok = false;
    std::uint32_t error = kErrorInvalidHandle;
    if (Private->Device) {
        ok = Private->Device->WriteFile(Data, static_cast<std::uint32_t>(Count), written,
                                        *Async->OverlappedRec);
        if (!ok)
            error = platform::LastError();
    }
    if (!ok && !(Private->Device && error == platform::kErrorIoPending))
        RaiseExt(2, error);
    if (!ok && !Async->Outstanding) {
        Async->Outstanding = true;
        ++Private->OutstandingWrites;
    }
    NotifyLinksSignal(&TComLink::LinkSending, true);
    return static_cast<std::int32_t>(written);
}

std::int32_t TCustomComPort::StartWriteStr(const std::string& Text, TComAsync* Async) {
    if (Text.empty())
        return 0;
    return StartWrite(reinterpret_cast<const std::uint8_t*>(Text.data()),
                      static_cast<std::int32_t>(Text.size()), Async);
}

std::int32_t TCustomComPort::StartRead(std::uint8_t* Buffer, std::int32_t Count, TComAsync* Async) {
    if (Async == nullptr)
        throw EComPort(FPort, 4);
    Async->Operation = opRead;
    Buffer[0] = 0xFF;
    if (!Private->Device)
        return 0;
    std::uint32_t read = 0;
    if (Private->Device->ReadFile(Buffer, static_cast<std::uint32_t>(Count), read,
                                  *Async->OverlappedRec)) {
        return static_cast<std::int32_t>(read);
    }
    return 0;
}

std::int32_t TCustomComPort::WaitAsync(TComAsync* Async) {
    if (Async == nullptr)
        throw EComPort(FPort, 4);
    std::uint32_t transferred = 0;
    if (Async->Outstanding) {
        // Ended or failed, it is no longer in the driver's hands.
        Async->Outstanding = false;
        Private->OutstandingWrites = std::max(Private->OutstandingWrites - 1, 0);
    }
    // A read that could not start on a closed port has nothing to wait for.
    if (!Private->Device && Async->Operation == opRead)
        return 0;
    if (!Private->Device || !Private->Device->WaitOverlapped(*Async->OverlappedRec, transferred)) {
        const std::uint32_t error = Private->Device ? platform::LastError() : kErrorInvalidHandle;
        // A read that never started has nothing to wait for.
        if (Async->Operation == opRead && error == platform::kErrorNotStarted)
            return 0;
        RaiseExt(Async->Operation == opWrite ? 2 : 3, error);
    }
    if (Async->Operation == opRead && InputQueueCount() == 0) {
        NotifyLinksSignal(&TComLink::LinkReceiving, false);
    } else if (Async->DataCopy) {
        NotifyLinksDataSent(Async->DataCopy.get(), Async->DataSize);
    }
    return static_cast<std::int32_t>(transferred);
}

std::int32_t TCustomComPort::WriteStr(const std::string& Text) {
    platform::DebugOutput("TCustomComPort.WriteStr");
    TComAsyncPtr async;
    CreateAsync(async);
    StartWriteStr(Text, async.get());
    if (Text.empty())
        return 0;  // nothing was started, so there is nothing to wait for
    return WaitAsync(async.get());
}

std::int32_t TCustomComPort::ReadWait(std::uint8_t* Buffer, std::int32_t Count) {
    TComAsyncPtr async;
    CreateAsync(async);
    StartRead(Buffer, Count, async.get());
    return WaitAsync(async.get());
}

void TCustomComPort::AbortTransfers() {
    // Output is aborted only while a write is outstanding. Wine carries PURGE_TXABORT out
    // as a flush of the output queue (tcflush), which throws away what completed writes
    // handed to the driver and the line has not taken yet: the last bytes before a Close.
    // With nothing outstanding the purge must change nothing, on every system.
    std::uint32_t flags = platform::kPurgeRxAbort;
    if (Private->OutstandingWrites > 0)
        flags |= platform::kPurgeTxAbort;
    if (!Private->Device || !Private->Device->PurgeComm(flags)) {
        RaiseExt(5, Private->Device ? platform::LastError() : kErrorInvalidHandle);
    }
}

// --------------------------------------------------------------- line status

std::int32_t TCustomComPort::InputQueueCount() {
    std::uint32_t errors = 0;
    platform::TComStat stat;
    if (!Private->Device || !Private->Device->ClearCommError(errors, stat)) {
        RaiseExt(10, Private->Device ? platform::LastError() : kErrorInvalidHandle);
    }
    return static_cast<std::int32_t>(stat.InQue);
}

TLineSignals TCustomComPort::ModemSignals() {
    std::uint32_t status = 0;
    if (!Private->Device || !Private->Device->GetCommModemStatus(status)) {
        const std::uint32_t error = Private->Device ? platform::LastError() : kErrorInvalidHandle;
        // A port without modem lines (Wine's view of a pty, some virtual ports) has no line
        // on: it is a port all the same, and failing here would fail its open.
        if (error != platform::kErrorNotSupported)
            RaiseExt(11, error);
        status = 0;
    }
    TLineSignals signals;
    if ((status & platform::kMsCtsOn) != 0)
        signals.Include(lsCTS);
    if ((status & platform::kMsDsrOn) != 0)
        signals.Include(lsDSR);
    if ((status & platform::kMsRingOn) != 0)
        signals.Include(lsRing);
    if ((status & platform::kMsRlsdOn) != 0)
        signals.Include(lsRLSD);
    return signals;
}

TComErrors TCustomComPort::LineErrors() {
    std::uint32_t errors = 0;
    platform::TComStat stat;
    if (!Private->Device || !Private->Device->ClearCommError(errors, stat)) {
        RaiseExt(10, Private->Device ? platform::LastError() : kErrorInvalidHandle);
    }
    TComErrors result;
    if ((errors & platform::kCeFrame) != 0)
        result.Include(ceFrame);
    if ((errors & platform::kCeRxParity) != 0 && FParity->Check())
        result.Include(ceRxParity);
    if ((errors & platform::kCeOverrun) != 0)
        result.Include(ceOverrun);
    if ((errors & platform::kCeRxOver) != 0)
        result.Include(ceRxOver);
    if ((errors & platform::kCeTxFull) != 0)
        result.Include(ceTxFull);
    if ((errors & platform::kCeBreak) != 0)
        result.Include(ceBreak);
    if ((errors & platform::kCeIoe) != 0)
        result.Include(ceIO);
    if ((errors & platform::kCeMode) != 0)
        result.Include(ceMode);
    return result;
}

}  // namespace tarnwick

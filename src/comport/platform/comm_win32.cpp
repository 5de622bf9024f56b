// Windows communications layer: every call passes straight to the Windows API.
#include <windows.h>

#include "comport/platform/comm_device.h"

namespace tarnwick::platform {

namespace {

bool Fail() {
    SetLastError(::GetLastError());
    return false;
}

}  // namespace

void DebugOutput(const std::string& Text) {
    ::OutputDebugStringA(Text.c_str());
}

// ------------------------------------------------------------------ TEvent

TEvent::TEvent(bool InitiallySet)
    : Handle(reinterpret_cast<std::intptr_t>(
          ::CreateEventW(nullptr, TRUE, InitiallySet ? TRUE : FALSE, nullptr))) {
    if (Handle == 0)
        Fail();
}

bool TEvent::Valid() const {
    return Handle != 0;
}

TEvent::~TEvent() {
    if (Handle != 0)
        ::CloseHandle(reinterpret_cast<HANDLE>(Handle));
}

void TEvent::Set() {
    ::SetEvent(reinterpret_cast<HANDLE>(Handle));
}
void TEvent::Reset() {
    ::ResetEvent(reinterpret_cast<HANDLE>(Handle));
}
bool TEvent::IsSet() const {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(Handle), 0) == WAIT_OBJECT_0;
}

// -------------------------------------------------------------- TOverlapped

struct TOverlapped {
    OVERLAPPED Ov{};
    bool Started = false;
    DWORD EventError = 0;  // why the record has no event
};

void TOverlappedDelete::operator()(TOverlapped* Record) const {
    if (Record->Ov.hEvent != nullptr)
        ::CloseHandle(Record->Ov.hEvent);
    delete Record;
}

TOverlappedPtr CreateOverlapped() {
    TOverlappedPtr record(new TOverlapped);
    record->Ov.hEvent = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (record->Ov.hEvent == nullptr)
        record->EventError = ::GetLastError();
    return record;
}

std::string DevicePath(const std::string& Port) {
    return "\\\\.\\" + Port;
}

// ------------------------------------------------------------------ device

namespace {

DCB ToDcb(const TDcb& D) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = D.BaudRate;
    dcb.fBinary = D.Flag(kDcbBinary) ? 1 : 0;
    dcb.fParity = D.Flag(kDcbParity) ? 1 : 0;
    dcb.fOutxCtsFlow = D.Flag(kDcbOutxCtsFlow) ? 1 : 0;
    dcb.fOutxDsrFlow = D.Flag(kDcbOutxDsrFlow) ? 1 : 0;
    dcb.fDtrControl = D.DtrControl();
    dcb.fDsrSensitivity = D.Flag(kDcbDsrSensitivity) ? 1 : 0;
    dcb.fTXContinueOnXoff = D.Flag(kDcbTxContinueOnXoff) ? 1 : 0;
    dcb.fOutX = D.Flag(kDcbOutX) ? 1 : 0;
    dcb.fInX = D.Flag(kDcbInX) ? 1 : 0;
    dcb.fErrorChar = D.Flag(kDcbErrorChar) ? 1 : 0;
    dcb.fNull = D.Flag(kDcbNull) ? 1 : 0;
    dcb.fRtsControl = D.RtsControl();
    dcb.fAbortOnError = D.Flag(kDcbAbortOnError) ? 1 : 0;
    dcb.XonLim = D.XonLim;
    dcb.XoffLim = D.XoffLim;
    dcb.ByteSize = D.ByteSize;
    dcb.Parity = D.Parity;
    dcb.StopBits = D.StopBits;
    dcb.XonChar = static_cast<char>(D.XonChar);
    dcb.XoffChar = static_cast<char>(D.XoffChar);
    dcb.ErrorChar = static_cast<char>(D.ErrorChar);
    dcb.EofChar = static_cast<char>(D.EofChar);
    dcb.EvtChar = static_cast<char>(D.EvtChar);
    return dcb;
}

class TWin32Device final : public TCommDevice {
  public:
    explicit TWin32Device(HANDLE Device) : Handle(Device) {
        WaitOv.hEvent = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
        if (WaitOv.hEvent == nullptr)
            Fail();
    }
    bool HasWaitEvent() const { return WaitOv.hEvent != nullptr; }
    ~TWin32Device() override {
        ::CloseHandle(Handle);
        if (WaitOv.hEvent != nullptr)
            ::CloseHandle(WaitOv.hEvent);
    }

    bool SetupComm(std::uint32_t InQueue, std::uint32_t OutQueue) override {
        return ::SetupComm(Handle, InQueue, OutQueue) ? true : Fail();
    }
    bool SetCommState(const TDcb& Dcb) override {
        DCB dcb = ToDcb(Dcb);
        return ::SetCommState(Handle, &dcb) ? true : Fail();
    }
    bool SetCommTimeouts(const TCommTimeouts& T) override {
        COMMTIMEOUTS t{T.ReadIntervalTimeout, T.ReadTotalTimeoutMultiplier,
                       T.ReadTotalTimeoutConstant, T.WriteTotalTimeoutMultiplier,
                       T.WriteTotalTimeoutConstant};
        return ::SetCommTimeouts(Handle, &t) ? true : Fail();
    }
    bool SetCommMask(std::uint32_t Mask) override {
        CurrentMask = Mask;
        return ::SetCommMask(Handle, Mask) ? true : Fail();
    }

    TWaitResult WaitCommEvent(const TEvent& Quit, std::uint32_t& Mask) override {
        Mask = 0;
        WaitMask = 0;
        if (!::WaitCommEvent(Handle, &WaitMask, &WaitOv) && ::GetLastError() != ERROR_IO_PENDING) {
            // The device refuses to wait (it has gone): report that once, then
            // wait for the stop alone instead of failing over and over.
            if (!WaitFailedReported) {
                WaitFailedReported = true;
                Mask = CurrentMask & EV_ERR;
                if (Mask != 0)
                    return TWaitResult::Event;
            }
            ::WaitForSingleObject(reinterpret_cast<HANDLE>(Quit.Native()), INFINITE);
            return TWaitResult::Quit;
        }
        HANDLE handles[2] = {reinterpret_cast<HANDLE>(Quit.Native()), WaitOv.hEvent};
        const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (r == WAIT_OBJECT_0 + 1) {
            DWORD unused = 0;
            if (::GetOverlappedResult(Handle, &WaitOv, &unused, FALSE))
                Mask = WaitMask;
            return TWaitResult::Event;
        }
        // The wait still runs on our record: end it before the record can go. Setting
        // the mask again ends a pending wait (as documented for SetCommMask); Wine's
        // CancelIoEx cannot reach a pending WaitCommEvent (ERROR_NOT_FOUND), so without
        // this the wait below would last as long as the device stays attached.
        ::SetCommMask(Handle, CurrentMask);
        ::CancelIoEx(Handle, &WaitOv);
        DWORD unused = 0;
        ::GetOverlappedResult(Handle, &WaitOv, &unused, TRUE);
        if (r == WAIT_OBJECT_0)
            return TWaitResult::Quit;
        Fail();
        return TWaitResult::Failed;
    }

    bool WriteFile(const std::uint8_t* Data, std::uint32_t Count, std::uint32_t& Written,
                   TOverlapped& Record) override {
        return Transfer(Record, Written, [&](DWORD* Done, OVERLAPPED* Ov) {
            return ::WriteFile(Handle, Data, Count, Done, Ov);
        });
    }

    bool ReadFile(std::uint8_t* Data, std::uint32_t Count, std::uint32_t& Read,
                  TOverlapped& Record) override {
        return Transfer(Record, Read, [&](DWORD* Done, OVERLAPPED* Ov) {
            return ::ReadFile(Handle, Data, Count, Done, Ov);
        });
    }

    bool WaitOverlapped(TOverlapped& Record, std::uint32_t& Transferred) override {
        if (!Record.Started) {
            SetLastError(kErrorNotStarted);
            return false;
        }
        if (::WaitForSingleObject(Record.Ov.hEvent, INFINITE) != WAIT_OBJECT_0)
            return Fail();
        DWORD n = 0;
        if (!::GetOverlappedResult(Handle, &Record.Ov, &n, FALSE))
            return Fail();
        Transferred = n;
        return true;
    }

    bool PurgeComm(std::uint32_t Flags) override {
        return ::PurgeComm(Handle, Flags) ? true : Fail();
    }

    bool ClearCommError(std::uint32_t& Errors, TComStat& Stat) override {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(Handle, &errors, &stat))
            return Fail();
        Errors = errors;
        Stat.InQue = stat.cbInQue;
        Stat.OutQue = stat.cbOutQue;
        return true;
    }

    bool GetCommModemStatus(std::uint32_t& Status) override {
        DWORD status = 0;
        if (!::GetCommModemStatus(Handle, &status))
            return Fail();
        Status = status;
        return true;
    }

    std::intptr_t NativeHandle() const override { return reinterpret_cast<std::intptr_t>(Handle); }

  private:
    // Starts an overlapped read or write on Record. The record counts as started unless
    // the call failed without leaving the operation pending, so that WaitOverlapped
    // never waits for one that cannot end.
    template <typename TCall>
    bool Transfer(TOverlapped& Record, std::uint32_t& Transferred, TCall Call) {
        // Without its event the transfer could not be waited for: it fails before it
        // starts, with the reason the event could not be had.
        if (Record.Ov.hEvent == nullptr) {
            Record.Started = false;
            SetLastError(Record.EventError != 0 ? Record.EventError : ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        Record.Started = true;
        DWORD n = 0;
        const BOOL ok = Call(&n, &Record.Ov);
        Transferred = n;
        if (!ok) {
            Fail();
            if (LastError() != ERROR_IO_PENDING)
                Record.Started = false;
            return false;
        }
        return true;
    }

    HANDLE Handle;
    // The event wait's record and mask outlive each call: the wait may still be
    // pending inside the driver when the call returns.
    OVERLAPPED WaitOv{};
    DWORD WaitMask = 0;
    std::uint32_t CurrentMask = 0;
    bool WaitFailedReported = false;
};

}  // namespace

std::unique_ptr<TCommDevice> OpenCommDevice(const std::string& Path) {
    HANDLE h = ::CreateFileA(Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Fail();
        return nullptr;
    }
    auto device = std::make_unique<TWin32Device>(h);
    if (!device->HasWaitEvent()) {
        return nullptr;  // no event for the comm-event wait: it could never be ended
    }
    return device;
}

}  // namespace tarnwick::platform

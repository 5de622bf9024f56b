// The operating system's communications layer as the port component sees it.
//
// The calls mirror the Windows communications API one to one, so the component
// is written once: on Windows every call passes straight through, on POSIX the
// same promises are kept with termios, ioctl, poll and eventfd. A failing call
// returns false and leaves its error code in LastError().
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tarnwick::platform {

// Error codes the component looks at (the Windows values; POSIX maps to them).
inline constexpr std::uint32_t kErrorIoPending = 997;
inline constexpr std::uint32_t kErrorOperationAborted = 995;
inline constexpr std::uint32_t kErrorNotSupported = 50;
// Set by WaitOverlapped for a record whose operation never started.
inline constexpr std::uint32_t kErrorNotStarted = 0x20000001;

// Event mask bits of WaitCommEvent / SetCommMask.
inline constexpr std::uint32_t kEvRxChar = 0x0001;
inline constexpr std::uint32_t kEvRxFlag = 0x0002;
inline constexpr std::uint32_t kEvTxEmpty = 0x0004;
inline constexpr std::uint32_t kEvCts = 0x0008;
inline constexpr std::uint32_t kEvDsr = 0x0010;
inline constexpr std::uint32_t kEvRlsd = 0x0020;
inline constexpr std::uint32_t kEvBreak = 0x0040;
inline constexpr std::uint32_t kEvErr = 0x0080;
inline constexpr std::uint32_t kEvRing = 0x0100;
inline constexpr std::uint32_t kEvRx80Full = 0x0400;

// PurgeComm flags.
inline constexpr std::uint32_t kPurgeTxAbort = 0x0001;
inline constexpr std::uint32_t kPurgeRxAbort = 0x0002;
inline constexpr std::uint32_t kPurgeTxClear = 0x0004;
inline constexpr std::uint32_t kPurgeRxClear = 0x0008;

// ClearCommError error bits.
inline constexpr std::uint32_t kCeRxOver = 0x0001;
inline constexpr std::uint32_t kCeOverrun = 0x0002;
inline constexpr std::uint32_t kCeRxParity = 0x0004;
inline constexpr std::uint32_t kCeFrame = 0x0008;
inline constexpr std::uint32_t kCeBreak = 0x0010;
inline constexpr std::uint32_t kCeTxFull = 0x0100;
inline constexpr std::uint32_t kCeIoe = 0x0400;
inline constexpr std::uint32_t kCeMode = 0x8000;

// GetCommModemStatus bits.
inline constexpr std::uint32_t kMsCtsOn = 0x10;
inline constexpr std::uint32_t kMsDsrOn = 0x20;
inline constexpr std::uint32_t kMsRingOn = 0x40;
inline constexpr std::uint32_t kMsRlsdOn = 0x80;

// DCB flag word bits.
inline constexpr std::uint32_t kDcbBinary = 0x0001;
inline constexpr std::uint32_t kDcbParity = 0x0002;
inline constexpr std::uint32_t kDcbOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t kDcbOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t kDcbDtrControlShift = 4;  // two bits
inline constexpr std::uint32_t kDcbDsrSensitivity = 0x0040;
inline constexpr std::uint32_t kDcbTxContinueOnXoff = 0x0080;
inline constexpr std::uint32_t kDcbOutX = 0x0100;
inline constexpr std::uint32_t kDcbInX = 0x0200;
inline constexpr std::uint32_t kDcbErrorChar = 0x0400;
inline constexpr std::uint32_t kDcbNull = 0x0800;
inline constexpr std::uint32_t kDcbRtsControlShift = 12;  // two bits
inline constexpr std::uint32_t kDcbAbortOnError = 0x4000;

inline constexpr std::uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3,
                              kSpaceParity = 4;
inline constexpr std::uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;
inline constexpr std::uint32_t kDtrControlDisable = 0, kDtrControlEnable = 1,
                               kDtrControlHandshake = 2;
inline constexpr std::uint32_t kRtsControlDisable = 0, kRtsControlEnable = 1,
                               kRtsControlHandshake = 2, kRtsControlToggle = 3;

// The device control block, laid out as the Windows DCB with its bit fields in
// one flag word.
struct TDcb {
    std::uint32_t DCBlength = 28;
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;
    std::uint16_t wReserved = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;
    std::uint8_t StopBits = 0;
    std::uint8_t XonChar = 0;
    std::uint8_t XoffChar = 0;
    std::uint8_t ErrorChar = 0;
    std::uint8_t EofChar = 0;
    std::uint8_t EvtChar = 0;
    std::uint16_t wReserved1 = 0;

    std::uint32_t DtrControl() const { return (Flags >> kDcbDtrControlShift) & 3U; }
    std::uint32_t RtsControl() const { return (Flags >> kDcbRtsControlShift) & 3U; }
    bool Flag(std::uint32_t Bit) const { return (Flags & Bit) != 0; }
};

struct TCommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

struct TComStat {
    std::uint32_t InQue = 0;
    std::uint32_t OutQue = 0;
};

// Error code of the last failed call of this layer on the calling thread.
std::uint32_t LastError();
void SetLastError(std::uint32_t Error);

// Debugger output: on POSIX a line on standard error when TARNWICK_DEBUG is set.
void DebugOutput(const std::string& Text);

// A manual-reset event that a thread can wait on together with the device.
class TEvent {
  public:
    // Creating it can fail (no file descriptor or handle left): see Valid().
    explicit TEvent(bool InitiallySet = false);
    ~TEvent();
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // False when the system gave no event; LastError() of the creating thread says why.
    // An invalid event is never set, so nobody may wait on it.
    bool Valid() const;
    // The native object: an eventfd on POSIX, an event HANDLE on Windows.
    std::intptr_t Native() const { return Handle; }

  private:
    std::intptr_t Handle;
};

// The record of one overlapped operation (Windows: OVERLAPPED plus its event).
struct TOverlapped;
struct TOverlappedDelete {
    void operator()(TOverlapped* Record) const;
};
using TOverlappedPtr = std::unique_ptr<TOverlapped, TOverlappedDelete>;
// Zeroed record whose event is manual-reset and created signalled.
TOverlappedPtr CreateOverlapped();

enum class TWaitResult { Event, Quit, Failed };

// One open communications device. Reads, writes and status calls may run on one
// thread while WaitCommEvent runs on another.
class TCommDevice {
  public:
    virtual ~TCommDevice() = default;

    virtual bool SetupComm(std::uint32_t InQueue, std::uint32_t OutQueue) = 0;
    virtual bool SetCommState(const TDcb& Dcb) = 0;
    virtual bool SetCommTimeouts(const TCommTimeouts& Timeouts) = 0;
    virtual bool SetCommMask(std::uint32_t Mask) = 0;
    // Overlapped WaitCommEvent followed by a wait on it and on Quit without
    // time-out. Event: Mask holds what happened. Quit: Quit was set first.
    virtual TWaitResult WaitCommEvent(const TEvent& Quit, std::uint32_t& Mask) = 0;
    // Overlapped transfers: true when done at once, false with LastError()
    // kErrorIoPending while the operation goes on, false otherwise on failure.
    virtual bool WriteFile(const std::uint8_t* Data, std::uint32_t Count, std::uint32_t& Written,
                           TOverlapped& Record) = 0;
    virtual bool ReadFile(std::uint8_t* Data, std::uint32_t Count, std::uint32_t& Read,
                          TOverlapped& Record) = 0;
    // Waits without time limit for the record's operation and fetches its result.
    virtual bool WaitOverlapped(TOverlapped& Record, std::uint32_t& Transferred) = 0;
    virtual bool PurgeComm(std::uint32_t Flags) = 0;
    virtual bool ClearCommError(std::uint32_t& Errors, TComStat& Stat) = 0;
    virtual bool GetCommModemStatus(std::uint32_t& Status) = 0;
    // The OS handle (file descriptor or HANDLE), for diagnostics and tests.
    virtual std::intptr_t NativeHandle() const = 0;
};

// The path CreateFile is given for a port name: "\\.\COM3" on Windows; on POSIX
// a path as it is, a bare name under /dev, COMn as /dev/ttyS(n-1).
std::string DevicePath(const std::string& Port);

#if !defined(_WIN32)
// The terminal settings a DCB becomes on POSIX (flags as the kernel's termios2
// holds them). False with LastError() EINVAL for what termios cannot carry out:
// 1.5 stop bits, DSR flow control and sensitivity, DTR handshake, RTS toggle,
// a zero rate.
struct TTermiosSetting {
    unsigned IFlag = 0, OFlag = 0, CFlag = 0, LFlag = 0;
    unsigned ISpeed = 0, OSpeed = 0;
    unsigned char Start = 0, Stop = 0;
};
bool DcbToTermios(const TDcb& Dcb, TTermiosSetting& Setting);
#endif

// Opens the device exclusively for overlapped use; nullptr and LastError() on
// failure.
std::unique_ptr<TCommDevice> OpenCommDevice(const std::string& Path);

}  // namespace tarnwick::platform

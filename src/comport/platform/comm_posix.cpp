// POSIX communications layer: termios2, ioctl, poll and eventfd keeping the
// promises of the Windows driver that the port component was written against.
//
// Received bytes pass through a queue of our own: the event wait moves them
// there as they arrive, so "characters received" fires once per arrival rather
// than for as long as bytes sit unread, and the event character and the
// 80 %-full mark can be seen without consuming the input.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "comport/platform/comm_posix_device.h"

namespace tarnwick::platform {

using posix::DrainEventFd;
using posix::Fail;
using posix::KickEventFd;

namespace {

speed_t StandardSpeed(std::uint32_t Rate) {
    struct TEntry {
        std::uint32_t Rate;
        speed_t Code;
    };
    static constexpr TEntry kTable[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000}};
    for (const TEntry& e : kTable) {
        if (e.Rate == Rate)
            return e.Code;
    }
    return BOTHER;
}

}  // namespace

void DebugOutput(const std::string& Text) {
    static const bool enabled = std::getenv("TARNWICK_DEBUG") != nullptr;
    if (enabled)
        std::fprintf(stderr, "tarnwick: %s\n", Text.c_str());
}

// ------------------------------------------------------------------ TEvent

TEvent::TEvent(bool InitiallySet)
    : Handle(::eventfd(InitiallySet ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (Handle < 0)
        Fail(errno);
}

bool TEvent::Valid() const {
    return Handle >= 0;
}

TEvent::~TEvent() {
    if (Handle >= 0)
        ::close(static_cast<int>(Handle));
}

void TEvent::Set() {
    KickEventFd(static_cast<int>(Handle));
}
void TEvent::Reset() {
    DrainEventFd(static_cast<int>(Handle));
}

bool TEvent::IsSet() const {
    pollfd p{static_cast<int>(Handle), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// -------------------------------------------------------------- TOverlapped

void TOverlappedDelete::operator()(TOverlapped* Record) const {
    delete Record;
}

TOverlappedPtr CreateOverlapped() {
    return TOverlappedPtr(new TOverlapped);
}

// ------------------------------------------------------------------ names

std::string DevicePath(const std::string& Port) {
    if (Port.find('/') != std::string::npos)
        return Port;
    if (Port.size() > 3 && (Port[0] == 'C' || Port[0] == 'c') &&
        (Port[1] == 'O' || Port[1] == 'o') && (Port[2] == 'M' || Port[2] == 'm') &&
        std::all_of(Port.begin() + 3, Port.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        Port.size() < 9) {
        const long n = std::strtol(Port.c_str() + 3, nullptr, 10);
        if (n >= 1)
            return "/dev/ttyS" + std::to_string(n - 1);
    }
    return "/dev/" + Port;
}

bool DcbToTermios(const TDcb& Value, TTermiosSetting& Setting) {
    // Settings a termios driver cannot carry out are refused rather than ignored.
    if (Value.StopBits == kOne5StopBits || Value.StopBits > kTwoStopBits || Value.ByteSize < 5 ||
        Value.ByteSize > 8 || Value.Parity > kSpaceParity || Value.BaudRate == 0 ||
        Value.BaudRate > 0x7FFFFFFFU || Value.Flag(kDcbOutxDsrFlow) ||
        Value.Flag(kDcbDsrSensitivity) || Value.DtrControl() == kDtrControlHandshake ||
        Value.RtsControl() == kRtsControlToggle) {
        return Fail(EINVAL);
    }
    TTermiosSetting t;
    // Parity errors arrive marked (\377 \0 x), so the byte can be replaced.
    if (Value.Flag(kDcbParity))
        t.IFlag |= INPCK | PARMRK;
    if (Value.Flag(kDcbOutX))
        t.IFlag |= IXON;
    if (Value.Flag(kDcbInX))
        t.IFlag |= IXOFF;
    t.CFlag = CREAD | CLOCAL;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.CFlag |= kSizes[Value.ByteSize - 5];
    if (Value.StopBits == kTwoStopBits)
        t.CFlag |= CSTOPB;
    switch (Value.Parity) {
        case kOddParity:
            t.CFlag |= PARENB | PARODD;
            break;
        case kEvenParity:
            t.CFlag |= PARENB;
            break;
        case kMarkParity:
            t.CFlag |= PARENB | CMSPAR | PARODD;
            break;
        case kSpaceParity:
            t.CFlag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    // Linux couples the two directions of the RTS/CTS handshake.
    if (Value.Flag(kDcbOutxCtsFlow) || Value.RtsControl() == kRtsControlHandshake) {
        t.CFlag |= CRTSCTS;
    }
    const speed_t code = StandardSpeed(Value.BaudRate);
    t.CFlag |= code | (code << IBSHIFT);
    t.ISpeed = Value.BaudRate;
    t.OSpeed = Value.BaudRate;
    t.Start = Value.XonChar;
    t.Stop = Value.XoffChar;
    Setting = t;
    return true;
}

std::unique_ptr<TCommDevice> OpenCommDevice(const std::string& Path) {
    const int fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Fail(errno);
        return nullptr;
    }
    // Exclusive like a Windows COM port: TIOCEXCL keeps out other openers
    // (but not root), the lock keeps out everyone who asks for it too.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        Fail(error);
        return nullptr;
    }
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) {  // not a terminal
        const int error = errno;
        ::close(fd);
        Fail(error);
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);
    const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int rx = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int abortFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0 || rx < 0 || abortFd < 0) {
        const int error = errno;
        for (int f : {wake, rx, abortFd, fd}) {
            if (f >= 0)
                ::close(f);
        }
        Fail(error);
        return nullptr;
    }
    return std::make_unique<posix::TPosixDevice>(fd, wake, rx, abortFd);
}

}  // namespace tarnwick::platform

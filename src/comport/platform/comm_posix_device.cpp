// The POSIX device: settings through termios2, received bytes through our own queue,
// the event wait, transfers with the Windows driver's timeouts, purging and status.
#include "comport/platform/comm_posix_device.h"

#include <asm/termbits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace tarnwick::platform::posix {

bool Fail(int Error) {
    SetLastError(static_cast<std::uint32_t>(Error));
    return false;
}

void DrainEventFd(int Fd) {
    std::uint64_t value;
    while (::read(Fd, &value, sizeof value) > 0) {
    }
}

void KickEventFd(int Fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(Fd, &one, sizeof one);
}

namespace {

// A driver without modem lines (a pseudo-terminal) answers these.
bool NoSuchIoctl(int Error) {
    return Error == ENOTTY || Error == EINVAL || Error == 515;
}  // 515: ENOIOCTLCMD leaking from a driver

}  // namespace

TPosixDevice::TPosixDevice(int Device, int Wake, int Rx, int Abort)
    : Fd(Device), WakeFd(Wake), RxFd(Rx), AbortFd(Abort) {
    serial_icounter_struct ic{};
    HasICount = ::ioctl(Fd, TIOCGICOUNT, &ic) == 0;
    if (HasICount)
        LastICount = ic;
    int lines = 0;
    HasModemLines = ::ioctl(Fd, TIOCMGET, &lines) == 0;
    LastModemLines = lines;
}

TPosixDevice::~TPosixDevice() {
    ::ioctl(Fd, TIOCNXCL);  // the flag outlives us on a pseudo-terminal
    ::close(Fd);            // also releases the flock
    ::close(WakeFd);
    ::close(RxFd);
    ::close(AbortFd);
}

bool TPosixDevice::SetCommState(const TDcb& Value) {
    TTermiosSetting setting;
    if (!DcbToTermios(Value, setting))
        return false;
    termios2 t{};
    if (::ioctl(Fd, TCGETS2, &t) != 0)
        return Fail(errno);
    t.c_iflag = setting.IFlag;
    t.c_oflag = setting.OFlag;
    t.c_cflag = setting.CFlag;
    t.c_lflag = setting.LFlag;
    t.c_ispeed = setting.ISpeed;
    t.c_ospeed = setting.OSpeed;
    for (cc_t& c : t.c_cc)
        c = 0;
    t.c_cc[VSTART] = setting.Start;
    t.c_cc[VSTOP] = setting.Stop;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::ioctl(Fd, TCSETS2, &t) != 0)
        return Fail(errno);

    // DTR and RTS are held as asked unless a handshake drives them.
    auto setLine = [this](int Line, bool On) {
        if (::ioctl(Fd, On ? TIOCMBIS : TIOCMBIC, &Line) != 0 && !NoSuchIoctl(errno)) {
            return Fail(errno);
        }
        return true;
    };
    if (!setLine(TIOCM_DTR, Value.DtrControl() == kDtrControlEnable))
        return false;
    if (Value.RtsControl() != kRtsControlHandshake && !Value.Flag(kDcbOutxCtsFlow) &&
        !setLine(TIOCM_RTS, Value.RtsControl() == kRtsControlEnable)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(Mutex);
    Dcb = Value;
    ParityMarks = Value.Flag(kDcbParity);
    MarkState = 0;
    return true;
}

std::size_t TPosixDevice::PullInput() {
    std::size_t taken = 0;
    std::uint8_t raw[1024];
    const bool discardNull = Dcb.Flag(kDcbNull);
    const bool replace = Dcb.Flag(kDcbErrorChar);
    while (!Vanished && Queue.size() < QueueCapacity()) {
        const std::size_t room = std::min<std::size_t>(sizeof raw, QueueCapacity() - Queue.size());
        const ssize_t n = ::read(Fd, raw, room);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n <= 0) {  // EIO or end of file: the device (or the other side) has gone
            Vanished = true;
            KickEventFd(WakeFd);
            break;
        }
        for (ssize_t i = 0; i < n; ++i) {
            std::uint8_t b = raw[i];
            bool keep = true;
            if (ParityMarks) {
                if (MarkState == 0 && b == 0xFF) {
                    MarkState = 1;
                    continue;
                }
                if (MarkState == 1) {
                    if (b == 0) {
                        MarkState = 2;
                        continue;
                    }
                    MarkState = 0;  // \377 \377 stands for one \377
                } else if (MarkState == 2) {
                    MarkState = 0;  // the byte received with a line error
                    if (replace)
                        b = Dcb.ErrorChar;
                    if (!HasICount)
                        ErrorBits |= kCeRxParity;
                }
            }
            if (discardNull && b == 0)
                keep = false;
            if (keep) {
                Queue.push_back(b);
                ++taken;
                if (b == Dcb.EvtChar)
                    EvtCharArrived = true;
            }
        }
    }
    if (taken > 0) {
        // Whoever took the bytes in, the event wait reports their arrival.
        RxArrived = true;
        KickEventFd(RxFd);
        KickEventFd(WakeFd);
    }
    return taken;
}

void TPosixDevice::UpdateICount() {
    if (!HasICount)
        return;
    serial_icounter_struct ic{};
    if (::ioctl(Fd, TIOCGICOUNT, &ic) != 0)
        return;
    if (ic.frame != LastICount.frame)
        ErrorBits |= kCeFrame;
    if (ic.parity != LastICount.parity)
        ErrorBits |= kCeRxParity;
    if (ic.overrun != LastICount.overrun)
        ErrorBits |= kCeOverrun;
    if (ic.buf_overrun != LastICount.buf_overrun)
        ErrorBits |= kCeRxOver;
    // The line counters also catch a pulse that came and went between samples.
    if (ic.cts != LastICount.cts)
        ModemChanges |= kEvCts;
    if (ic.dsr != LastICount.dsr)
        ModemChanges |= kEvDsr;
    if (ic.dcd != LastICount.dcd)
        ModemChanges |= kEvRlsd;
    if (ic.rng != LastICount.rng)
        ModemChanges |= kEvRing;
    if (ic.brk != LastICount.brk)
        ErrorBits |= kCeBreak;
    LastICount = ic;
}

std::uint32_t TPosixDevice::ComputeEvents(TClock::time_point Now, int& TimeoutMs) {
    std::uint32_t events = 0;
    TimeoutMs = -1;
    if ((Mask & (kEvRxChar | kEvRxFlag | kEvRx80Full | kEvErr | kEvBreak)) != 0) {
        const std::uint32_t errorsBefore = ErrorBits;
        PullInput();
        if (RxArrived)
            events |= kEvRxChar;
        if (EvtCharArrived)
            events |= kEvRxFlag;
        RxArrived = false;
        EvtCharArrived = false;
        const bool above = Queue.size() * 10 >= static_cast<std::size_t>(InSize) * 8;
        if (above && !AboveRx80)
            events |= kEvRx80Full;
        AboveRx80 = above;
        UpdateICount();
        const std::uint32_t fresh = ErrorBits & ~errorsBefore;
        if ((fresh & (kCeFrame | kCeRxParity | kCeOverrun | kCeRxOver)) != 0)
            events |= kEvErr;
        if ((fresh & kCeBreak) != 0)
            events |= kEvBreak;
    }
    if (Vanished) {
        // Reported once; after that the wait blocks on the stop event alone.
        if (!VanishReported) {
            VanishReported = true;
            ErrorBits |= kCeIoe;
            events |= kEvErr;
        }
        return events & Mask;
    }
    if (TxPending) {
        int outq = 0;
        if (::ioctl(Fd, TIOCOUTQ, &outq) != 0)
            outq = 0;
        unsigned lsr = TIOCSER_TEMT;
        if (outq == 0 && ::ioctl(Fd, TIOCSERGETLSR, &lsr) != 0)
            lsr = TIOCSER_TEMT;
        if (outq == 0 && (lsr & TIOCSER_TEMT) != 0) {
            TxPending = false;
            events |= kEvTxEmpty;
        } else {
            // Look again about when the queue should have drained.
            const std::uint32_t baud = std::max<std::uint32_t>(Dcb.BaudRate, 50);
            const long ms = static_cast<long>(outq) * 10 * 1000 / baud + 1;
            TimeoutMs = static_cast<int>(std::clamp<long>(ms, 1, 100));
        }
    }
    if (HasModemLines && (Mask & (kEvCts | kEvDsr | kEvRlsd | kEvRing)) != 0) {
        if (Now >= NextModemCheck) {
            int lines = 0;
            if (::ioctl(Fd, TIOCMGET, &lines) == 0) {
                const int changed = lines ^ LastModemLines;
                if ((changed & TIOCM_CTS) != 0)
                    events |= kEvCts;
                if ((changed & TIOCM_DSR) != 0)
                    events |= kEvDsr;
                if ((changed & TIOCM_CAR) != 0)
                    events |= kEvRlsd;
                if ((changed & lines & TIOCM_RNG) != 0)
                    events |= kEvRing;
                LastModemLines = lines;
            }
            UpdateICount();
            events |= ModemChanges;
            ModemChanges = 0;
            NextModemCheck = Now + std::chrono::milliseconds(20);
        }
        // The lines are sampled: a driver that could wake us on a change has no
        // pollable form of it.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(NextModemCheck - Now);
        const int ms = static_cast<int>(std::max<long>(left.count(), 1));
        TimeoutMs = TimeoutMs < 0 ? ms : std::min(TimeoutMs, ms);
    }
    return events & Mask;
}

TWaitResult TPosixDevice::WaitCommEvent(const TEvent& Quit, std::uint32_t& Events) {
    for (;;) {
        if (Quit.IsSet())
            return TWaitResult::Quit;
        int timeoutMs = -1;
        bool watchInput = false;
        {
            std::lock_guard<std::mutex> lock(Mutex);
            const std::uint32_t events = ComputeEvents(TClock::now(), timeoutMs);
            if (events != 0) {
                Events = events;
                return TWaitResult::Event;
            }
            watchInput = !Vanished && Queue.size() < QueueCapacity() &&
                         (Mask & (kEvRxChar | kEvRxFlag | kEvRx80Full | kEvErr | kEvBreak)) != 0;
        }
        pollfd fds[3] = {
            {static_cast<int>(Quit.Native()), POLLIN, 0}, {WakeFd, POLLIN, 0}, {Fd, POLLIN, 0}};
        const int r = ::poll(fds, watchInput ? 3 : 2, timeoutMs);
        if (r < 0 && errno != EINTR) {
            Fail(errno);
            return TWaitResult::Failed;
        }
        if ((fds[1].revents & POLLIN) != 0)
            DrainEventFd(WakeFd);
        if (watchInput && (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
            (fds[2].revents & POLLIN) == 0) {
            std::lock_guard<std::mutex> lock(Mutex);
            Vanished = true;
        }
    }
}

std::size_t TPosixDevice::TakeFromQueue(std::uint8_t* Data, std::size_t Count) {
    const std::size_t n = std::min(Count, Queue.size());
    std::copy_n(Queue.begin(), n, Data);
    Queue.erase(Queue.begin(), Queue.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

bool TPosixDevice::ReadFile(std::uint8_t* Data, std::uint32_t Count, std::uint32_t& Read,
                            TOverlapped& Record) {
    Record = TOverlapped{};
    Read = 0;
    DrainEventFd(AbortFd);
    const unsigned generation = AbortGeneration.load();
    TCommTimeouts to;
    {
        std::lock_guard<std::mutex> lock(Mutex);
        to = Timeouts;
    }
    // The driver's read time-out rules.
    const bool immediate = to.ReadIntervalTimeout == kMaxDword &&
                           to.ReadTotalTimeoutMultiplier == 0 && to.ReadTotalTimeoutConstant == 0;
    const bool anyByte =
        to.ReadIntervalTimeout == kMaxDword && to.ReadTotalTimeoutMultiplier == kMaxDword &&
        to.ReadTotalTimeoutConstant != 0 && to.ReadTotalTimeoutConstant != kMaxDword;
    const auto start = TClock::now();
    bool hasTotal = true;
    std::chrono::milliseconds total{};
    if (anyByte) {
        total = std::chrono::milliseconds(to.ReadTotalTimeoutConstant);
    } else {
        const std::uint64_t ms = static_cast<std::uint64_t>(to.ReadTotalTimeoutMultiplier) * Count +
                                 to.ReadTotalTimeoutConstant;
        hasTotal = ms != 0;
        total = std::chrono::milliseconds(static_cast<std::int64_t>(ms));
    }
    const bool hasInterval =
        !anyByte && to.ReadIntervalTimeout != 0 && to.ReadIntervalTimeout != kMaxDword;
    auto lastByte = start;
    std::uint32_t got = 0;
    for (;;) {
        bool vanished = false;
        {
            std::lock_guard<std::mutex> lock(Mutex);
            if (Queue.size() < Count - got)
                PullInput();
            const std::size_t n = TakeFromQueue(Data + got, Count - got);
            if (n > 0) {
                got += static_cast<std::uint32_t>(n);
                lastByte = TClock::now();
                AboveRx80 = Queue.size() * 10 >= static_cast<std::size_t>(InSize) * 8;
            }
            vanished = Vanished;
        }
        if (got > 0)
            KickEventFd(WakeFd);  // room in our queue: the event wait may read on
        if (got == Count || immediate || (anyByte && got > 0))
            break;
        if (vanished && got == 0) {
            Record.Started = true;
            Record.Error = EIO;
            return Fail(static_cast<int>(kErrorIoPending));
        }
        if (vanished)
            break;
        const auto now = TClock::now();
        int waitMs = 100;  // also a backstop for a missed abort wake-up
        if (hasTotal) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(start + total - now);
            if (left.count() <= 0)
                break;
            waitMs = std::min<int>(waitMs, static_cast<int>(left.count()) + 1);
        }
        if (hasInterval && got > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                lastByte + std::chrono::milliseconds(to.ReadIntervalTimeout) - now);
            if (left.count() <= 0)
                break;
            waitMs = std::min<int>(waitMs, static_cast<int>(left.count()) + 1);
        }
        pollfd fds[3] = {{Fd, POLLIN, 0}, {RxFd, POLLIN, 0}, {AbortFd, POLLIN, 0}};
        ::poll(fds, 3, waitMs);
        if ((fds[1].revents & POLLIN) != 0)
            DrainEventFd(RxFd);
        if (AbortGeneration.load() != generation) {
            Record.Started = true;
            Record.Error = kErrorOperationAborted;
            Record.Transferred = got;
            return Fail(static_cast<int>(kErrorIoPending));
        }
        if ((fds[0].revents & (POLLHUP | POLLERR)) != 0 && (fds[0].revents & POLLIN) == 0) {
            std::lock_guard<std::mutex> lock(Mutex);
            Vanished = true;
        }
    }
    Record.Started = true;
    Record.Ok = true;
    Record.Transferred = got;
    Read = got;
    return true;
}

bool TPosixDevice::WriteFile(const std::uint8_t* Data, std::uint32_t Count, std::uint32_t& Written,
                             TOverlapped& Record) {
    Record = TOverlapped{};
    Written = 0;
    DrainEventFd(AbortFd);
    const unsigned generation = AbortGeneration.load();
    TCommTimeouts to;
    {
        std::lock_guard<std::mutex> lock(Mutex);
        to = Timeouts;
    }
    const std::uint64_t totalMs =
        static_cast<std::uint64_t>(to.WriteTotalTimeoutMultiplier) * Count +
        to.WriteTotalTimeoutConstant;
    const auto deadline = TClock::now() + std::chrono::milliseconds(static_cast<std::int64_t>(
                                              std::min<std::uint64_t>(totalMs, 1ULL << 40)));
    std::uint32_t done = 0;
    int error = 0;
    while (done < Count) {
        const ssize_t n = ::write(Fd, Data + done, Count - done);
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            error = errno;
            break;
        }
        int waitMs = 100;
        if (totalMs != 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
            if (left.count() <= 0)
                break;  // write time-out: report what went out
            waitMs = std::min<int>(waitMs, static_cast<int>(left.count()) + 1);
        }
        pollfd fds[2] = {{Fd, POLLOUT, 0}, {AbortFd, POLLIN, 0}};
        ::poll(fds, 2, waitMs);
        if (AbortGeneration.load() != generation) {
            error = static_cast<int>(kErrorOperationAborted);
            break;
        }
    }
    if (done > 0) {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            TxPending = true;
        }
        KickEventFd(WakeFd);
    }
    if (error != 0 && done == 0 && error != static_cast<int>(kErrorOperationAborted)) {
        return Fail(error);  // failed to start
    }
    Record.Started = true;
    Record.Ok = error == 0;
    Record.Error = static_cast<std::uint32_t>(error);
    Record.Transferred = done;
    if (error != 0)
        return Fail(static_cast<int>(kErrorIoPending));
    Written = done;
    return true;
}

bool TPosixDevice::PurgeComm(std::uint32_t Flags) {
    if ((Flags & (kPurgeTxAbort | kPurgeRxAbort)) != 0) {
        AbortGeneration.fetch_add(1);
        KickEventFd(AbortFd);
    }
    std::lock_guard<std::mutex> lock(Mutex);
    if ((Flags & kPurgeTxClear) != 0) {
        if (::ioctl(Fd, TCFLSH, TCOFLUSH) != 0 && !Vanished && !NoSuchIoctl(errno)) {
            return Fail(errno);
        }
        TxPending = false;
    }
    if ((Flags & kPurgeRxClear) != 0) {
        if (::ioctl(Fd, TCFLSH, TCIFLUSH) != 0 && !Vanished && !NoSuchIoctl(errno)) {
            return Fail(errno);
        }
        Queue.clear();
        MarkState = 0;
        AboveRx80 = false;
    }
    return true;
}

bool TPosixDevice::ClearCommError(std::uint32_t& Errors, TComStat& Stat) {
    std::lock_guard<std::mutex> lock(Mutex);
    // Take in what the driver holds so the count is of bytes a read will deliver.
    PullInput();
    UpdateICount();
    Errors = ErrorBits;
    ErrorBits = 0;
    Stat.InQue = static_cast<std::uint32_t>(Queue.size());
    int outq = 0;
    if (::ioctl(Fd, TIOCOUTQ, &outq) != 0)
        outq = 0;
    Stat.OutQue = static_cast<std::uint32_t>(outq);
    return true;
}

bool TPosixDevice::GetCommModemStatus(std::uint32_t& Status) {
    Status = 0;
    int lines = 0;
    if (::ioctl(Fd, TIOCMGET, &lines) != 0) {
        if (NoSuchIoctl(errno))
            return true;  // no modem lines: all of them off
        return Fail(errno);
    }
    if ((lines & TIOCM_CTS) != 0)
        Status |= kMsCtsOn;
    if ((lines & TIOCM_DSR) != 0)
        Status |= kMsDsrOn;
    if ((lines & TIOCM_RNG) != 0)
        Status |= kMsRingOn;
    if ((lines & TIOCM_CAR) != 0)
        Status |= kMsRlsdOn;
    return true;
}

}  // namespace tarnwick::platform::posix

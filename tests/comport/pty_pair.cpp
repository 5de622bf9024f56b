#include "pty_pair.h"

// The kernel's termios2 (for any baud rate) clashes with <termios.h>, so this
// file alone speaks to the terminal driver.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "comport/main_thread_dispatcher.h"

namespace tarnwick::test {

TPtyPair::TPtyPair() {
    MasterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (MasterFd < 0 || ::grantpt(MasterFd) != 0 || ::unlockpt(MasterFd) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    char name[PATH_MAX];
    if (::ptsname_r(MasterFd, name, sizeof name) != 0)
        throw std::runtime_error("ptsname");
    Path = name;
}

TPtyPair::~TPtyPair() {
    CloseMaster();
}

void TPtyPair::CloseMaster() {
    if (MasterFd >= 0)
        ::close(MasterFd);
    MasterFd = -1;
}

void TPtyPair::Send(const std::string& Bytes) {
    std::size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (done < Bytes.size()) {
        const ssize_t n = ::write(MasterFd, Bytes.data() + done, Bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("send stuck");
        pollfd p{MasterFd, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
}

std::string TPtyPair::Receive(std::size_t Count, std::chrono::milliseconds Timeout) {
    std::string result;
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    while (result.size() < Count) {
        char buf[4096];
        const ssize_t n = ::read(MasterFd, buf, std::min(sizeof buf, Count - result.size()));
        if (n > 0) {
            result.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{MasterFd, POLLIN, 0};
        // EIO while no slave is open: wait a little instead of spinning.
        ::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 10)));
    }
    return result;
}

std::string TPtyPair::Drain() {
    return Receive(1 << 20, std::chrono::milliseconds(0));
}

TLineSettings TPtyPair::Settings() const {
    termios2 t{};
    // On the master this reads the slave's settings.
    if (::ioctl(MasterFd, TCGETS2, &t) != 0)
        throw std::runtime_error("TCGETS2");
    TLineSettings s;
    s.IFlag = t.c_iflag;
    s.OFlag = t.c_oflag;
    s.CFlag = t.c_cflag;
    s.LFlag = t.c_lflag;
    s.ISpeed = t.c_ispeed;
    s.OSpeed = t.c_ospeed;
    s.Start = t.c_cc[VSTART];
    s.Stop = t.c_cc[VSTOP];
    return s;
}

bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) {
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        TMainThreadDispatcher::Instance().WaitAndRunPending(std::chrono::milliseconds(2));
    }
    return true;
}

void PumpFor(std::chrono::milliseconds Duration) {
    const auto deadline = std::chrono::steady_clock::now() + Duration;
    while (std::chrono::steady_clock::now() < deadline) {
        TMainThreadDispatcher::Instance().WaitAndRunPending(std::chrono::milliseconds(2));
    }
}

std::function<void(std::exception_ptr)> CollectReports(std::vector<std::string>& Reports) {
    return [&Reports](std::exception_ptr Error) {
        try {
            std::rethrow_exception(Error);
        } catch (const std::exception& x) {
            Reports.push_back(x.what());
        }
    };
}

}  // namespace tarnwick::test

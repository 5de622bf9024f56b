// The emulated chip for a test, as a child process: started with its arguments, its pty's
// path read at start, the port opened raw at a baud rate, ended in the destructor. A test
// target that includes this defines TARNWICK_AVRSIM_PATH.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"

namespace tarnwick::test {

class TAvrsim {
  public:
    explicit TAvrsim(const std::vector<std::string>& Args) : Process(TARNWICK_AVRSIM_PATH, Args) {
        Path = Process.ReadLine(std::chrono::seconds(10));
        if (Path.empty())
            throw std::runtime_error("tarnwick-avrsim printed no port: " + Process.Err());
    }
    ~TAvrsim() { ClosePort(); }
    TAvrsim(const TAvrsim&) = delete;
    TAvrsim& operator=(const TAvrsim&) = delete;

    const std::string& PortPath() const { return Path; }

    // Opens the port as a host does: raw, 8N1, at Baud.
    void OpenPort(speed_t Baud = B115200) {
        Fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (Fd < 0)
            throw std::runtime_error("cannot open " + Path);
        termios tio{};
        tcgetattr(Fd, &tio);
        cfmakeraw(&tio);
        cfsetispeed(&tio, Baud);
        cfsetospeed(&tio, Baud);
        tcsetattr(Fd, TCSANOW, &tio);
    }
    void ClosePort() {
        if (Fd >= 0)
            ::close(Fd);
        Fd = -1;
    }

    void Write(const std::vector<std::uint8_t>& Bytes) {
        std::size_t done = 0;
        while (done < Bytes.size()) {
            const ssize_t n = ::write(Fd, Bytes.data() + done, Bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{Fd, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                return;  // the chip has gone
            }
        }
    }

    // The chip's bytes until Count have come or Timeout has passed.
    std::vector<std::uint8_t> Read(std::size_t Count, std::chrono::milliseconds Timeout) {
        std::vector<std::uint8_t> bytes;
        const auto end = std::chrono::steady_clock::now() + Timeout;
        while (bytes.size() < Count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{Fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            std::uint8_t buf[256];
            const ssize_t n = ::read(Fd, buf, sizeof buf);
            if (n > 0)
                bytes.insert(bytes.end(), buf, buf + n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                break;
        }
        return bytes;
    }

    // A line of standard output after the path (the pin changes).
    std::string ReadLine(std::chrono::milliseconds Timeout) { return Process.ReadLine(Timeout); }

    // Ends the chip (SIGTERM, or SIGKILL for a power cut) unless it has ended by itself,
    // and returns what it printed on standard error.
    std::string Stop(int Signal = SIGTERM) {
        Process.Signal(Signal);
        return Finish();
    }
    // Waits for the chip to end by itself; returns standard error ("" on time-out).
    std::string Finish(std::chrono::milliseconds Timeout = std::chrono::seconds(10)) {
        if (!Process.WaitExit(Timeout))
            return {};
        Process.ReadAll(std::chrono::seconds(2));
        return Process.Err();
    }
    int ExitCode() const { return Process.ExitCode(); }
    TChildProcess& Child() { return Process; }

  private:
    TChildProcess Process;
    std::string Path;
    int Fd = -1;
};

}  // namespace tarnwick::test

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "pty_line.h"

namespace toolcommon {

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char b = 1;
    // Nothing useful can be done if the pipe is full: one byte is enough to wake the loop.
    [[maybe_unused]] auto n = write(SignalPipe[1], &b, 1);
}

void Fail(const char* Program, const char* What) {
    std::perror((std::string(Program) + ": " + What).c_str());
}

}  // namespace

std::optional<TPtyLine> OpenPtyLine(const char* Program) {
    TPtyLine line;
    line.Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.Master < 0 || grantpt(line.Master) != 0 || unlockpt(line.Master) != 0) {
        Fail(Program, "pseudo-terminal");
        ClosePtyLine(line);
        return std::nullopt;
    }
    const char* slaveName = ptsname(line.Master);
    if (slaveName == nullptr) {
        Fail(Program, "ptsname");
        ClosePtyLine(line);
        return std::nullopt;
    }
    line.SlavePath = slaveName;
    line.Slave = open(line.SlavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.Slave < 0) {
        Fail(Program, "open slave");
        ClosePtyLine(line);
        return std::nullopt;
    }
    termios tio{};
    tcgetattr(line.Slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(line.Slave, TCSANOW, &tio);
    fcntl(line.Master, F_SETFL, fcntl(line.Master, F_GETFL) | O_NONBLOCK);
    return line;
}

void ClosePtyLine(TPtyLine& Line) {
    if (Line.Slave >= 0)
        close(Line.Slave);
    if (Line.Master >= 0)
        close(Line.Master);
    Line.Slave = Line.Master = -1;
}

int StopSignalDescriptor(const char* Program) {
    if (SignalPipe[0] < 0 && pipe2(SignalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        Fail(Program, "pipe");
        return -1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return SignalPipe[0];
}

}  // namespace toolcommon

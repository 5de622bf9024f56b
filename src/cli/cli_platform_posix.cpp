#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "cli_platform.h"
#include "comport/platform/port_list_sysfs.h"
#include "text/cp1252.h"

namespace tarnwick::cli {

struct TInterruptGuard::TSaved {
    struct sigaction Int {};
    struct sigaction Term {};
    struct sigaction Pipe {};
};

TInterruptGuard::TInterruptGuard(void (*Handler)(int)) : Saved(std::make_unique<TSaved>()) {
    struct sigaction sa {};
    sa.sa_handler = Handler;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &Saved->Int);
    sigaction(SIGTERM, &sa, &Saved->Term);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &Saved->Pipe);
}

TInterruptGuard::~TInterruptGuard() {
    sigaction(SIGINT, &Saved->Int, nullptr);
    sigaction(SIGTERM, &Saved->Term, nullptr);
    sigaction(SIGPIPE, &Saved->Pipe, nullptr);
}

struct TSignalsToMainThread::TSaved {
    sigset_t Mask{};
};

TSignalsToMainThread::TSignalsToMainThread() : Saved(std::make_unique<TSaved>()) {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, &Saved->Mask);
}

TSignalsToMainThread::~TSignalsToMainThread() {
    pthread_sigmask(SIG_SETMASK, &Saved->Mask, nullptr);
}

bool ArgumentToCp1252(const std::string& Argument, std::string& Bytes) {
    return Utf8ToCp1252(Argument, Bytes);
}

namespace {
std::filesystem::path RootFromEnvironment(const char* Variable, const char* Default) {
    const char* value = std::getenv(Variable);
    return value != nullptr && *value != '\0' ? value : Default;
}
}  // namespace

std::vector<std::string> ListPorts() {
    return ListSerialPortsUnder(RootFromEnvironment("TARNWICK_SYSFS_ROOT", "/sys"),
                                RootFromEnvironment("TARNWICK_DEV_ROOT", "/dev"));
}

struct TConsoleSetup::TSaved {};

TConsoleSetup::TConsoleSetup() = default;
TConsoleSetup::~TConsoleSetup() = default;

bool StandardInputIsTerminal() {
    return isatty(STDIN_FILENO) != 0;
}

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

}  // namespace tarnwick::cli

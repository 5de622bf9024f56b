#include <io.h>

#include <csignal>
#include <cstdio>

#include "cli_platform.h"
#include "comport/port_list.h"

namespace tarnwick::cli {

struct TInterruptGuard::TSaved {
    void (*Int)(int) = SIG_DFL;
    void (*Term)(int) = SIG_DFL;
};

TInterruptGuard::TInterruptGuard(void (*Handler)(int)) : Saved(std::make_unique<TSaved>()) {
    Saved->Int = std::signal(SIGINT, Handler);
    Saved->Term = std::signal(SIGTERM, Handler);
}

TInterruptGuard::~TInterruptGuard() {
    std::signal(SIGINT, Saved->Int);
    std::signal(SIGTERM, Saved->Term);
}

struct TSignalsToMainThread::TSaved {};

TSignalsToMainThread::TSignalsToMainThread() = default;
TSignalsToMainThread::~TSignalsToMainThread() = default;

bool ArgumentToCp1252(const std::string& Argument, std::string& Bytes) {
    Bytes = Argument;
    return true;
}

std::vector<std::string> ListPorts() {
    return ListSerialPorts();
}

bool StandardInputIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

bool StandardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

}  // namespace tarnwick::cli

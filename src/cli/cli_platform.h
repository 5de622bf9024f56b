// What the CLI does differently per platform; cli_platform_posix.cpp or
// cli_platform_win32.cpp is built.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tarnwick::cli {

// Routes Ctrl-C and SIGTERM to Handler for its lifetime (on POSIX it also ignores
// SIGPIPE: a reader that goes away must not kill a run half-way, with the port open
// and the device mid-stream), then restores what was there.
class TInterruptGuard {
  public:
    explicit TInterruptGuard(void (*Handler)(int));
    ~TInterruptGuard();
    TInterruptGuard(const TInterruptGuard&) = delete;
    TInterruptGuard& operator=(const TInterruptGuard&) = delete;

  private:
    struct TSaved;
    std::unique_ptr<TSaved> Saved;
};

// For its lifetime a console shows what the program writes, as a terminal does on POSIX:
// on Windows std::cout and std::cerr reach a console as UTF-16 (the texts are UTF-8),
// and standard error's console draws the terminal sequences of the progress lines; its
// mode is restored afterwards. Without those sequences
// (an older console) StandardErrorIsTerminal is false, so no progress lines are drawn.
class TConsoleSetup {
  public:
    TConsoleSetup();
    ~TConsoleSetup();
    TConsoleSetup(const TConsoleSetup&) = delete;
    TConsoleSetup& operator=(const TConsoleSetup&) = delete;

  private:
    struct TSaved;
    std::unique_ptr<TSaved> Saved;
};

// The threads started while it lives leave Ctrl-C and SIGTERM to the thread that made it,
// whose read of an answer they must interrupt. (Windows delivers them on a thread of its
// own anyway.)
class TSignalsToMainThread {
  public:
    TSignalsToMainThread();
    ~TSignalsToMainThread();
    TSignalsToMainThread(const TSignalsToMainThread&) = delete;
    TSignalsToMainThread& operator=(const TSignalsToMainThread&) = delete;

  private:
    struct TSaved;
    std::unique_ptr<TSaved> Saved;
};

// The port list of tarnwick-cli ports, as the window offers it. On POSIX,
// TARNWICK_SYSFS_ROOT and TARNWICK_DEV_ROOT put the walk on another tree (a test's copy,
// a container's); unset they are /sys and /dev.
std::vector<std::string> ListPorts();

// True when standard input, or standard error, is a terminal.
bool StandardInputIsTerminal();
bool StandardErrorIsTerminal();

// A command-line argument as Windows-1252 bytes: POSIX terminals hand over UTF-8, Windows
// the ANSI code page already. False when a character has no Windows-1252 form.
bool ArgumentToCp1252(const std::string& Argument, std::string& Bytes);

}  // namespace tarnwick::cli

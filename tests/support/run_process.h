// Runs a real program with its standard output and error captured, with a
// time limit so that no test can hang on it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tarnwick::test {

struct TProcessResult {
    int ExitCode = -1;      // exit status, or -1 when killed by a signal
    int Signal = 0;         // the signal that ended it, if any
    bool TimedOut = false;  // killed because it outlived the time limit
    std::string Out;        // standard output
    std::string Err;        // standard error
};

// Runs Argv[0] (looked up in PATH when it has no slash) with the other
// elements as arguments, standard input from /dev/null.
TProcessResult RunProcess(const std::vector<std::string>& Argv,
                          std::chrono::milliseconds Timeout = std::chrono::seconds(30),
                          const std::string& WorkingDirectory = {});

// True when Name is an executable found in PATH.
bool ToolAvailable(const std::string& Name);

// Runs a tool and fails (throws std::runtime_error with its output) unless it
// exits with 0. For generating test input with real tools.
void RunTool(const std::vector<std::string>& Argv, const std::string& WorkingDirectory = {});

}  // namespace tarnwick::test

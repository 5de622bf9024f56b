// Real programs as child processes for the tests: one started and read while the
// test goes on (TChildProcess), or run to its end with everything it printed
// (RunProcess). Nothing here waits without a time limit.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tarnwick::test {

class TChildProcess {
  public:
    // Runs Program (looked up in PATH when it has no slash) with Args. Its standard
    // output, and with MergeStderr its standard error, is read by ReadLine, WaitForText
    // and ReadAll; otherwise standard error is kept apart (Err). Standard input is
    // StdinPath (a terminal, say).
    TChildProcess(const std::string& Program, const std::vector<std::string>& Args,
                  bool MergeStderr = false, const std::string& StdinPath = "/dev/null",
                  const std::string& WorkingDirectory = {});
    // Ends the child (SIGTERM, then SIGKILL) unless it has ended.
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // One line of standard output (without the line feed); empty on time-out or end.
    std::string ReadLine(std::chrono::milliseconds Timeout);
    // True once standard output has shown Text (which stays to be read), false on time-out.
    bool WaitForText(const std::string& Text, std::chrono::milliseconds Timeout);
    // Everything on standard output until the child closes its outputs or Timeout passes.
    std::string ReadAll(std::chrono::milliseconds Timeout);
    // Standard error as read so far (when not merged).
    const std::string& Err() const { return ErrText; }

    // Waits for the exit; true when the child ended within Timeout.
    bool WaitExit(std::chrono::milliseconds Timeout);
    // The exit code, or -1 when the child was ended by a signal or has not ended.
    int ExitCode() const;
    // The CPU time the child used, all its threads, once it has ended.
    double CpuSeconds() const {
        return static_cast<double>(Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) +
               static_cast<double>(Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e6;
    }
    void Signal(int Number);
    // Stops reading: the child's next write to standard output finds no reader.
    void CloseOutput();

  private:
    bool Fill(std::chrono::steady_clock::time_point End);

    pid_t Pid = -1;
    int OutFd = -1;
    int ErrFd = -1;
    bool Ended = false;
    int Status = 0;
    rusage Usage{};
    std::string Buffered;
    std::string ErrText;
};

struct TProcessResult {
    int ExitCode = -1;      // exit status, or -1 when killed by a signal
    bool TimedOut = false;  // killed because it outlived the time limit
    std::string Out;        // standard output
    std::string Err;        // standard error

    // Everything about the run, for a failure message: a child that could not start the
    // program it was to run says why on standard error, and the exit code tells.
    std::string Describe() const;
};

// Runs Argv[0] with the other elements as arguments to its end, standard input from
// /dev/null; one that outlives Timeout is killed.
TProcessResult RunProcess(const std::vector<std::string>& Argv,
                          std::chrono::milliseconds Timeout = std::chrono::seconds(30),
                          const std::string& WorkingDirectory = {});

// True when Name is an executable found in PATH.
bool ToolAvailable(const std::string& Name);

// Runs a tool and fails (throws std::runtime_error with its output) unless it
// exits with 0. For generating test input with real tools.
void RunTool(const std::vector<std::string>& Argv);

}  // namespace tarnwick::test

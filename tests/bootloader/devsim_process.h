// Starts tarnwick-devsim (or any program) as a child process for a test, reads the first
// line of its standard output and ends it again in the destructor. Nothing here waits
// without a time-out.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"

extern char** environ;

namespace tarnwick::test {

class TChildProcess {
  public:
    // Runs Program with Args; its standard output (and with MergeStderr its standard error)
    // is a pipe read by ReadLine/ReadAll. Standard input is StdinPath (a terminal, say).
    TChildProcess(const std::string& Program, const std::vector<std::string>& Args,
                  bool MergeStderr = false, const std::string& StdinPath = "/dev/null") {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (MergeStderr)
            posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, out[1]);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, StdinPath.c_str(),
                                         O_RDONLY | O_NOCTTY, 0);
        std::vector<std::string> all{Program};
        all.insert(all.end(), Args.begin(), Args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&Pid, Program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            close(out[0]);
            throw std::runtime_error("cannot start " + Program);
        }
        OutFd = out[0];
    }

    ~TChildProcess() {
        if (Pid > 0 && !Ended) {
            kill(Pid, SIGTERM);
            if (!WaitExit(std::chrono::seconds(5))) {
                kill(Pid, SIGKILL);
                WaitExit(std::chrono::seconds(5));
            }
        }
        if (OutFd >= 0)
            close(OutFd);
    }

    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Id() const { return Pid; }

    // One line of standard output (without the line feed); empty on time-out or end.
    std::string ReadLine(std::chrono::milliseconds Timeout) {
        const auto end = std::chrono::steady_clock::now() + Timeout;
        while (true) {
            const auto nl = Buffered.find('\n');
            if (nl != std::string::npos) {
                std::string line = Buffered.substr(0, nl);
                Buffered.erase(0, nl + 1);
                return line;
            }
            if (!Fill(end))
                return {};
        }
    }

    // True once standard output has shown Text (which stays to be read), false on time-out.
    bool WaitForText(const std::string& Text, std::chrono::milliseconds Timeout) {
        const auto end = std::chrono::steady_clock::now() + Timeout;
        while (Buffered.find(Text) == std::string::npos) {
            if (!Fill(end))
                return false;
        }
        return true;
    }

    // Everything on standard output until the child closes it or Timeout passes.
    std::string ReadAll(std::chrono::milliseconds Timeout) {
        const auto end = std::chrono::steady_clock::now() + Timeout;
        while (Fill(end)) {
        }
        std::string all = Buffered;
        Buffered.clear();
        return all;
    }

    // Waits for the exit; true when the child ended within Timeout.
    bool WaitExit(std::chrono::milliseconds Timeout) {
        if (Ended)
            return true;
        const auto end = std::chrono::steady_clock::now() + Timeout;
        while (true) {
            int status = 0;
            const pid_t r = wait4(Pid, &status, WNOHANG, &Usage);
            if (r == Pid) {
                Ended = true;
                Status = status;
                return true;
            }
            if (std::chrono::steady_clock::now() >= end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // The exit code, or -1 when the child was ended by a signal or has not ended.
    int ExitCode() const {
        if (!Ended || !WIFEXITED(Status))
            return -1;
        return WEXITSTATUS(Status);
    }

    // The CPU time the child used, all its threads, once it has ended.
    double CpuSeconds() const {
        return static_cast<double>(Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) +
               static_cast<double>(Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e6;
    }

    void Signal(int Number) {
        if (!Ended)
            kill(Pid, Number);
    }

    // Stops reading: the child's next write to standard output finds no reader.
    void CloseOutput() {
        if (OutFd >= 0)
            close(OutFd);
        OutFd = -1;
    }

  private:
    bool Fill(std::chrono::steady_clock::time_point End) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              End - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        pollfd p{OutFd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            return false;
        char buf[4096];
        const ssize_t n = read(OutFd, buf, sizeof buf);
        if (n <= 0)
            return false;
        Buffered.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    pid_t Pid = -1;
    int OutFd = -1;
    bool Ended = false;
    int Status = 0;
    rusage Usage{};
    std::string Buffered;
};

// The simulated device with its trace file; the slave path is read at start.
class TDevsim {
  public:
    explicit TDevsim(std::vector<std::string> Args, const std::string& Dir)
        : TracePath(Dir + "/trace.txt"),
          FlashPath(Dir + "/flash.bin"),
          Process(TARNWICK_DEVSIM_PATH, WithFiles(std::move(Args), Dir)) {
        Path = Process.ReadLine(std::chrono::seconds(10));
        if (Path.empty())
            throw std::runtime_error("tarnwick-devsim printed no port");
    }

    const std::string& PortPath() const { return Path; }

    struct TTraceEntry {
        double TimeMs;
        std::uint8_t Byte;
        std::string Note;
    };

    // Ends the device (so its files are complete) and reads the trace.
    std::vector<TTraceEntry> Stop() {
        Process.Signal(SIGTERM);
        Process.WaitExit(std::chrono::seconds(10));
        return Trace();
    }

    std::vector<TTraceEntry> Trace() const {
        std::vector<TTraceEntry> entries;
        std::ifstream in(TracePath);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream s(line);
            TTraceEntry e{};
            std::string hex;
            s >> e.TimeMs >> hex;
            std::getline(s, e.Note);
            if (!e.Note.empty() && e.Note[0] == ' ')
                e.Note.erase(0, 1);
            e.Byte = static_cast<std::uint8_t>(std::stoi(hex, nullptr, 16));
            entries.push_back(e);
        }
        return entries;
    }

    std::vector<std::uint8_t> Flash() const {
        std::ifstream in(FlashPath, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

  private:
    static std::vector<std::string> WithFiles(std::vector<std::string> Args,
                                              const std::string& Dir) {
        Args.insert(Args.end(), {"--trace", Dir + "/trace.txt", "--flash-out", Dir + "/flash.bin",
                                 "--max-time", "600"});
        return Args;
    }

    std::string TracePath;
    std::string FlashPath;
    TChildProcess Process;
    std::string Path;
};

// The bytes of a trace, in the order the device received them.
inline std::vector<std::uint8_t> TraceBytes(const std::vector<TDevsim::TTraceEntry>& Trace) {
    std::vector<std::uint8_t> bytes;
    for (const auto& e : Trace)
        bytes.push_back(e.Byte);
    return bytes;
}

}  // namespace tarnwick::test

#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace tarnwick::test {

namespace {

std::array<int, 2> MakePipe() {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    return fds;
}

void CloseFd(int& Fd) {
    if (Fd >= 0) {
        ::close(Fd);
        Fd = -1;
    }
}

}  // namespace

TChildProcess::TChildProcess(const std::string& Program, const std::vector<std::string>& Args,
                             bool MergeStderr, const std::string& StdinPath,
                             const std::string& WorkingDirectory) {
    std::array<int, 2> out = MakePipe();
    std::array<int, 2> err = MergeStderr ? std::array<int, 2>{-1, -1} : MakePipe();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, MergeStderr ? out[1] : err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, StdinPath.c_str(), O_RDONLY | O_NOCTTY,
                                     0);
    if (!WorkingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, WorkingDirectory.c_str());
    }
    std::vector<std::string> all{Program};
    all.insert(all.end(), Args.begin(), Args.end());
    std::vector<char*> argv;
    for (auto& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int rc = posix_spawnp(&Pid, Program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    CloseFd(out[1]);
    CloseFd(err[1]);
    OutFd = out[0];
    ErrFd = err[0];
    if (rc != 0) {
        CloseFd(OutFd);
        CloseFd(ErrFd);
        Pid = -1;
        throw std::runtime_error("cannot start " + Program + ": " +
                                 std::generic_category().message(rc));
    }
}

TChildProcess::~TChildProcess() {
    if (Pid > 0 && !Ended) {
        ::kill(Pid, SIGTERM);
        if (!WaitExit(std::chrono::seconds(5))) {
            ::kill(Pid, SIGKILL);
            WaitExit(std::chrono::seconds(5));
        }
    }
    CloseFd(OutFd);
    CloseFd(ErrFd);
}

std::string TChildProcess::ReadLine(std::chrono::milliseconds Timeout) {
    if (!WaitForText("\n", Timeout)) {
        return {};
    }
    const auto nl = Buffered.find('\n');
    std::string line = Buffered.substr(0, nl);
    Buffered.erase(0, nl + 1);
    return line;
}

bool TChildProcess::WaitForText(const std::string& Text, std::chrono::milliseconds Timeout) {
    const auto end = std::chrono::steady_clock::now() + Timeout;
    while (Buffered.find(Text) == std::string::npos) {
        if (!Fill(end)) {
            return false;
        }
    }
    return true;
}

std::string TChildProcess::ReadAll(std::chrono::milliseconds Timeout) {
    const auto end = std::chrono::steady_clock::now() + Timeout;
    while (Fill(end)) {
    }
    std::string all = std::move(Buffered);
    Buffered.clear();
    return all;
}

bool TChildProcess::WaitExit(std::chrono::milliseconds Timeout) {
    if (Ended) {
        return true;
    }
    const auto end = std::chrono::steady_clock::now() + Timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::wait4(Pid, &status, WNOHANG, &Usage);
        if (r == Pid) {
            Ended = true;
            Status = status;
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int TChildProcess::ExitCode() const {
    return Ended && WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

void TChildProcess::Signal(int Number) {
    if (!Ended) {
        ::kill(Pid, Number);
    }
}

void TChildProcess::CloseOutput() {
    CloseFd(OutFd);
}

// Reads what arrives on either output; false once both are closed or End has passed.
bool TChildProcess::Fill(std::chrono::steady_clock::time_point End) {
    for (;;) {
        if (OutFd < 0 && ErrFd < 0) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              End - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return false;
        }
        std::array<pollfd, 2> fds{{{OutFd, POLLIN, 0}, {ErrFd, POLLIN, 0}}};
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        bool gotOut = false;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? Buffered : ErrText).append(buffer, static_cast<std::size_t>(n));
                gotOut = gotOut || i == 0;
            } else if (n == 0 || errno != EINTR) {
                CloseFd(i == 0 ? OutFd : ErrFd);
            }
        }
        if (gotOut) {
            return true;
        }
    }
}

TProcessResult RunProcess(const std::vector<std::string>& Argv, std::chrono::milliseconds Timeout,
                          const std::string& WorkingDirectory) {
    if (Argv.empty()) {
        throw std::invalid_argument("RunProcess: no program");
    }
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    TChildProcess child(Argv[0], {Argv.begin() + 1, Argv.end()}, false, "/dev/null",
                        WorkingDirectory);
    TProcessResult result;
    result.Out = child.ReadAll(Timeout);
    // A child may close its outputs and still run on: the time limit holds for it too.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!child.WaitExit(std::max(left, std::chrono::milliseconds(0)))) {
        result.TimedOut = true;
        child.Signal(SIGKILL);
        child.WaitExit(std::chrono::seconds(10));
    }
    result.Err = child.Err();
    result.ExitCode = child.ExitCode();
    return result;
}

std::string TProcessResult::Describe() const {
    std::string text =
        TimedOut ? "killed after its time limit" : "exit code " + std::to_string(ExitCode);
    text += "\n--- standard output:\n" + Out + "\n--- standard error:\n" + Err;
    return text;
}

bool ToolAvailable(const std::string& Name) {
    return RunProcess({"sh", "-c", "command -v \"$0\"", Name}).ExitCode == 0;
}

void RunTool(const std::vector<std::string>& Argv) {
    const TProcessResult result = RunProcess(Argv, std::chrono::seconds(60));
    if (result.ExitCode != 0) {
        std::string command;
        for (const auto& arg : Argv) {
            command += arg + " ";
        }
        throw std::runtime_error("tool failed (exit " + std::to_string(result.ExitCode) +
                                 "): " + command + "\n" + result.Out + result.Err);
    }
}

}  // namespace tarnwick::test

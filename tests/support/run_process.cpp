#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <system_error>

namespace tarnwick::test {

namespace {

class TFd {
  public:
    TFd() = default;
    explicit TFd(int fd) : Fd(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return Fd; }
    void Close() {
        if (Fd >= 0) {
            ::close(Fd);
            Fd = -1;
        }
    }

  private:
    int Fd = -1;
};

std::array<int, 2> MakePipe() {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    return fds;
}

class TPipe {
  public:
    TPipe() : TPipe(MakePipe()) {}
    TFd Read;
    TFd Write;

  private:
    explicit TPipe(std::array<int, 2> fds) : Read(fds[0]), Write(fds[1]) {}
};

}  // namespace

TProcessResult RunProcess(const std::vector<std::string>& Argv, std::chrono::milliseconds Timeout,
                          const std::string& WorkingDirectory) {
    if (Argv.empty()) {
        throw std::invalid_argument("RunProcess: no program");
    }
    std::vector<char*> args;
    for (const auto& arg : Argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    TPipe out;
    TPipe err;
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::system_error(errno, std::generic_category(), "fork");
    }
    if (pid == 0) {
        // Child: only async-signal-safe calls from here on.
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(out.Write.Get(), 1) < 0 ||
            ::dup2(err.Write.Get(), 2) < 0) {
            ::_exit(126);
        }
        if (!WorkingDirectory.empty() && ::chdir(WorkingDirectory.c_str()) != 0) {
            ::_exit(126);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    out.Write.Close();
    err.Write.Close();

    TProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    std::array<pollfd, 2> fds{{{out.Read.Get(), POLLIN, 0}, {err.Read.Get(), POLLIN, 0}}};
    std::array<std::string*, 2> sinks{&result.Out, &result.Err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.TimedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            ::kill(pid, SIGKILL);
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            std::array<char, 65536> buffer{};
            const ssize_t got = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (got > 0) {
                sinks[i]->append(buffer.data(), static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;  // closed; the TFd still owns the descriptor
                --open;
            }
        }
    }
    // A child may close its outputs and still run on: the time limit holds for it too.
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, result.TimedOut ? 0 : WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            break;
        }
        if (done == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                result.TimedOut = true;
                ::kill(pid, SIGKILL);
            } else {
                ::usleep(2000);
            }
        }
    }
    if (WIFEXITED(status)) {
        result.ExitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.Signal = WTERMSIG(status);
    }
    return result;
}

bool ToolAvailable(const std::string& Name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
        return false;
    }
    std::string_view rest(path);
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + Name;
        std::error_code ignored;
        if (::access(candidate.c_str(), X_OK) == 0 &&
            !std::filesystem::is_directory(candidate, ignored)) {
            return true;
        }
    }
    return false;
}

void RunTool(const std::vector<std::string>& Argv, const std::string& WorkingDirectory) {
    const TProcessResult result = RunProcess(Argv, std::chrono::seconds(60), WorkingDirectory);
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

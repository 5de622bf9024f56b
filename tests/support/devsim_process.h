// The simulated device for a test, as a child process: started with its trace and flash
// files in a folder, its pty's path read at start, ended in the destructor. A test
// target that includes this defines TARNWICK_DEVSIM_PATH.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"

namespace tarnwick::test {

// The simulated device with its trace file; the slave path is read at start.
class TDevsim {
  public:
    explicit TDevsim(std::vector<std::string> Args, const std::string& Dir)
        : TracePath(Dir + "/trace.txt"),
          FlashPath(Dir + "/flash.bin"),
          Process(TARNWICK_DEVSIM_PATH, WithFiles(std::move(Args), TracePath, FlashPath)) {
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

    // Ends the device (so its files are complete) and reads the trace. A device started with
    // --exit-after-success is given Grace to take the host's last bytes and end by itself:
    // at line speed they may still be on their way when the host has closed the port.
    std::vector<TTraceEntry> Stop(std::chrono::milliseconds Grace = std::chrono::milliseconds(0)) {
        if (Grace.count() == 0 || !Process.WaitExit(Grace))
            Process.Signal(SIGTERM);
        Process.WaitExit(std::chrono::seconds(10));
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

    std::vector<std::uint8_t> Flash() const { return ReadBinaryFile(FlashPath); }

  private:
    static std::vector<std::string> WithFiles(std::vector<std::string> Args,
                                              const std::string& Trace, const std::string& Flash) {
        Args.insert(Args.end(), {"--trace", Trace, "--flash-out", Flash, "--max-time", "600"});
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

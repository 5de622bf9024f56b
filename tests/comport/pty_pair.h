// A pseudo-terminal pair for port tests: the port opens the slave by its path,
// the test plays the far end on the master.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "comport/platform/comm_device.h"

namespace tarnwick::test {

// The slave's line settings as the kernel holds them.
using TLineSettings = platform::TTermiosSetting;

class TPtyPair {
  public:
    TPtyPair();
    ~TPtyPair();
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    const std::string& SlavePath() const { return Path; }
    int Master() const { return MasterFd; }
    // Writes all of Bytes to the master (what the far end sends).
    void Send(const std::string& Bytes);
    // Reads from the master until Count bytes came or Timeout passed.
    std::string Receive(std::size_t Count, std::chrono::milliseconds Timeout);
    // Everything the master holds now, without waiting.
    std::string Drain();
    TLineSettings Settings() const;
    // Closes the master: the device vanishes for whoever has the slave open.
    void CloseMaster();

  private:
    int MasterFd = -1;
    std::string Path;
};

// Pumps the main-thread dispatcher until Done() or Timeout; returns Done().
bool PumpUntil(const std::function<bool()>& Done,
               std::chrono::milliseconds Timeout = std::chrono::seconds(5));
// Pumps for a while (to see that nothing more arrives).
void PumpFor(std::chrono::milliseconds Duration);

// An application exception handler that keeps the message of each report in Reports.
std::function<void(std::exception_ptr)> CollectReports(std::vector<std::string>& Reports);

}  // namespace tarnwick::test

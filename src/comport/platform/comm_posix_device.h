// The POSIX device behind the communications layer (comm_posix.cpp opens it): the
// termios terminal, our own input queue and the eventfds that wake the waits.
#pragma once

#include <linux/serial.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>

#include "comport/platform/comm_device.h"

namespace tarnwick::platform {

// Transfers complete inside ReadFile/WriteFile here; the record keeps the result.
struct TOverlapped {
    bool Started = false;
    bool Ok = false;
    std::uint32_t Transferred = 0;
    std::uint32_t Error = 0;
};

namespace posix {

using TClock = std::chrono::steady_clock;
constexpr std::uint32_t kMaxDword = 0xFFFFFFFFU;

// Sets the layer's last error; false.
bool Fail(int Error);
void DrainEventFd(int Fd);
void KickEventFd(int Fd);

class TPosixDevice final : public TCommDevice {
  public:
    TPosixDevice(int Device, int Wake, int Rx, int Abort);
    ~TPosixDevice() override;

    bool SetupComm(std::uint32_t InQueue, std::uint32_t OutQueue) override {
        // The kernel keeps queues of its own; the input size bounds ours.
        if (InQueue > 0x7FFFFFFFU || OutQueue > 0x7FFFFFFFU)
            return Fail(EINVAL);
        std::lock_guard<std::mutex> lock(Mutex);
        InSize = InQueue;
        OutSize = OutQueue;
        return true;
    }

    bool SetCommState(const TDcb& Dcb) override;

    bool SetCommTimeouts(const TCommTimeouts& Value) override {
        std::lock_guard<std::mutex> lock(Mutex);
        Timeouts = Value;
        return true;
    }

    bool SetCommMask(std::uint32_t Value) override {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            Mask = Value;
        }
        KickEventFd(WakeFd);
        return true;
    }

    TWaitResult WaitCommEvent(const TEvent& Quit, std::uint32_t& Events) override;
    bool WriteFile(const std::uint8_t* Data, std::uint32_t Count, std::uint32_t& Written,
                   TOverlapped& Record) override;
    bool ReadFile(std::uint8_t* Data, std::uint32_t Count, std::uint32_t& Read,
                  TOverlapped& Record) override;

    bool WaitOverlapped(TOverlapped& Record, std::uint32_t& Transferred) override {
        if (!Record.Started)
            return Fail(static_cast<int>(kErrorNotStarted));
        if (!Record.Ok)
            return Fail(static_cast<int>(Record.Error));
        Transferred = Record.Transferred;
        return true;
    }

    bool PurgeComm(std::uint32_t Flags) override;
    bool ClearCommError(std::uint32_t& Errors, TComStat& Stat) override;
    bool GetCommModemStatus(std::uint32_t& Status) override;
    std::intptr_t NativeHandle() const override { return Fd; }

  private:
    // Moves what the driver has into our queue (Mutex held). Returns the count
    // taken; sets Vanished when the device has gone.
    std::size_t PullInput();
    void UpdateICount();                                                  // Mutex held
    std::uint32_t ComputeEvents(TClock::time_point Now, int& TimeoutMs);  // Mutex held
    std::size_t TakeFromQueue(std::uint8_t* Data, std::size_t Count);     // Mutex held
    std::uint32_t QueueCapacity() const { return std::max<std::uint32_t>(InSize, 16); }

    const int Fd;
    const int WakeFd;   // makes a pending event wait look again
    const int RxFd;     // tells a waiting ReadFile that our queue grew
    const int AbortFd;  // ends pending transfers (PurgeComm)
    std::atomic<unsigned> AbortGeneration{0};

    std::mutex Mutex;  // guards everything below
    std::deque<std::uint8_t> Queue;
    TCommTimeouts Timeouts{};
    TDcb Dcb{};
    std::uint32_t InSize = 4096;
    std::uint32_t OutSize = 4096;
    std::uint32_t Mask = 0;
    std::uint32_t ErrorBits = 0;
    bool TxPending = false;
    bool Vanished = false;
    bool VanishReported = false;
    bool AboveRx80 = false;
    std::uint32_t ModemChanges = 0;  // line events seen in the driver's counters
    bool RxArrived = false;          // bytes came in since the last event report
    bool EvtCharArrived = false;     // ... among them the event character
    bool ParityMarks = false;        // PARMRK is on: errors arrive as \377 \0 x
    int MarkState = 0;               // 0 plain, 1 after \377, 2 after \377 \0
    bool HasICount = false;
    serial_icounter_struct LastICount{};
    bool HasModemLines = false;
    int LastModemLines = 0;
    TClock::time_point NextModemCheck{};
};

}  // namespace posix

}  // namespace tarnwick::platform

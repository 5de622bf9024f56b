// The event thread of an open port and the receiver of its window-sync
// notifications. Internal to the port component.
#pragma once

#include <atomic>
#include <thread>

#include "comport/com_port.h"

namespace tarnwick {

class TComThread {
  public:
    // Sets the driver's event mask from the port's Events and starts at once.
    explicit TComThread(TCustomComPort& Port);
    // SignalStop, then waits for the end while running the hand-overs that the
    // thread queued for the main thread.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    void SignalStop();
    // False once the body has ended (stopped, or ended by an exception).
    bool Running() const { return !Finished.load(); }

  private:
    void Execute();
    void HandOverEvents();
    void FireEvents();
    void SendEventMessages();

    TCustomComPort& OwnerPort;
    platform::TEvent QuitEvent;
    TComEvents PendingEvents;
    std::atomic<bool> Finished{false};
    std::thread Thread;
};

// Receives the event thread's notifications on the main thread (the hidden
// window of window-sync dispatch): each is acknowledged as soon as the main
// thread takes it, then handled there.
class TComEventWindow {
  public:
    explicit TComEventWindow(TCustomComPort& Port) : OwnerPort(Port) {}
    // Sends one notification from the event thread; returns once acknowledged.
    void Send(std::uint32_t EventBit);

  private:
    void WindowProc(std::uint32_t EventBit);
    TCustomComPort& OwnerPort;
};

}  // namespace tarnwick

// The event thread of an open port and the receiver of its window-sync
// notifications. Internal to the port component.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "comport/platform/comm_device.h"

namespace tarnwick {

class TComThread {
  public:
    // Sets the driver's event mask from the port's Events; the thread starts
    // with Resume, once the port has recorded it. Both raise EComPortExt code 1
    // when the system gives no stop event or no thread.
    explicit TComThread(TCustomComPort& Port);
    void Resume();
    // SignalStop, then waits for the end while running the hand-overs that the
    // thread queued for the main thread. Called from one of the port's own
    // handlers (the port closed in the middle of a batch), it cannot wait for
    // the hand-over it runs in: the thread then ends by itself once that
    // returns, without touching the port again.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    void SignalStop();
    // False once the body has ended (stopped, or ended by an exception).
    bool Running() const { return Thread.joinable() && !Shared->Finished.load(); }

  private:
    // What the thread body needs to outlive this object.
    struct TShared {
        // The dispatcher of the thread that opened the port, which gets its events.
        std::shared_ptr<TMainThreadDispatcher> Dispatcher;
        platform::TEvent QuitEvent{false};
        std::atomic<bool> Finished{false};
        std::atomic<bool> Abandoned{false};
        std::atomic<std::thread::id> FiringThread{};  // the thread inside FireEvents
        std::mutex ThreadMutex;  // orders the start with a stop from the thread itself
    };
    using TSharedPtr = std::shared_ptr<TShared>;

    static void Execute(TSharedPtr Shared, TCustomComPort* Port);
    static void HandOverEvents(const TSharedPtr& Shared, TCustomComPort& Port,
                               TComEvents PendingEvents);
    static void FireEvents(const TSharedPtr& Shared, TCustomComPort& Port,
                           TComEvents PendingEvents);
    static void SendEventMessages(TCustomComPort& Port, TComEvents PendingEvents);

    TCustomComPort& OwnerPort;
    TSharedPtr Shared;
    std::thread Thread;
};

// Receives the event thread's notifications on the main thread (the hidden
// window of window-sync dispatch): each is acknowledged as soon as the main
// thread takes it, then handled there.
class TComEventWindow {
  public:
    explicit TComEventWindow(TCustomComPort& Port)
        : OwnerPort(Port), Dispatcher(TMainThreadDispatcher::SharedInstance()) {}
    // Sends one notification from the event thread; returns once acknowledged.
    void Send(std::uint32_t EventBit);

  private:
    void WindowProc(std::uint32_t EventBit);
    TCustomComPort& OwnerPort;
    std::shared_ptr<TMainThreadDispatcher> Dispatcher;
};

}  // namespace tarnwick

// Runs calls from worker threads on the main thread.
//
// A worker queues a call with Invoke() and blocks until the main thread has run
// it; an exception thrown by the call is raised again in the worker. The main
// thread runs queued calls whenever it pumps (RunPending / WaitAndRunPending)
// and while it waits for a worker to end, so the two never block each other.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace tarnwick {

class TMainThreadDispatcher {
  public:
    // The dispatcher of the calling thread: its own while a TThreadScope lives on
    // it, else the process-wide one. The thread that first calls Instance() (or
    // the one named with SetMainThread) is the process-wide main thread.
    static TMainThreadDispatcher& Instance();
    // Instance() for someone who may outlive the calling thread's scope (a
    // port's event thread that ends after its port was abandoned).
    static std::shared_ptr<TMainThreadDispatcher> SharedInstance();

    // Gives the calling thread a dispatcher of its own for its lifetime, so that
    // a thread running ports of its own (one of several devices updated at once)
    // gets their events handed over to itself, not to the process's main thread.
    // Ports must be closed before the scope ends.
    class TThreadScope {
      public:
        TThreadScope();
        ~TThreadScope();
        TThreadScope(const TThreadScope&) = delete;
        TThreadScope& operator=(const TThreadScope&) = delete;

      private:
        std::shared_ptr<TMainThreadDispatcher> Own;
        std::shared_ptr<TMainThreadDispatcher> Previous;
    };

    ~TMainThreadDispatcher();
    TMainThreadDispatcher(const TMainThreadDispatcher&) = delete;
    TMainThreadDispatcher& operator=(const TMainThreadDispatcher&) = delete;

    // Marks the calling thread as the main thread.
    void SetMainThread();
    bool IsMainThread() const;

    // Worker side: queue Call for the main thread and block until it has run.
    // Rethrows what Call threw. Called on the main thread, runs Call at once.
    // Throws std::runtime_error when the dispatcher is shut down.
    void Invoke(std::function<void()> Call);
    // Worker side: queue Call and block only until the main thread has taken it
    // (a sent notification); Call runs after that and must not throw. Called on
    // the main thread, runs Call at once. Throws std::runtime_error after
    // Shutdown, or when the call is failed by it.
    void Send(std::function<void()> Call);

    // Main-thread side: run every queued call; returns how many ran.
    int RunPending();
    // Sleep until a call is queued, Wake() is called or MaxWait has passed,
    // then run what is queued. The pump of the CLI and the tests.
    int WaitAndRunPending(std::chrono::milliseconds MaxWait);
    // Ends a WaitAndRunPending early (a flag the main thread waits for changed).
    void Wake();

    // Called (from the queuing thread) whenever a call is queued or Wake() is
    // called: lets a GUI event loop that sleeps until its next event wake up.
    void SetWakeHook(std::function<void()> Hook);

    // Fails every queued and every later Invoke (application shutdown).
    void Shutdown();

  private:
    TMainThreadDispatcher();
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};

}  // namespace tarnwick

#include "comport/main_thread_dispatcher.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace tarnwick {

namespace {

struct TQueuedCall {
    std::function<void()> Call;
    bool AckOnly = false;  // Send: the worker waits only until the call is taken
    bool Taken = false;
    bool Done = false;
    bool Failed = false;  // failed by Shutdown before it ran
    std::exception_ptr Error;
};

}  // namespace

struct TMainThreadDispatcher::TImpl {
    std::mutex Mutex;
    std::condition_variable WorkerCv;  // a queued call was taken or finished
    std::condition_variable MainCv;    // a call was queued or Wake() called
    std::deque<std::shared_ptr<TQueuedCall>> Queue;
    std::thread::id MainThread = std::this_thread::get_id();
    bool WakeRequested = false;
    bool IsShutDown = false;
    std::function<void()> WakeHook;
};

namespace {

// The dispatcher of a thread inside a TThreadScope; empty elsewhere.
thread_local std::shared_ptr<TMainThreadDispatcher> ThreadDispatcher;

}  // namespace

std::shared_ptr<TMainThreadDispatcher> TMainThreadDispatcher::SharedInstance() {
    if (ThreadDispatcher)
        return ThreadDispatcher;
    // Never destroyed: event threads and the application may use it until the process ends.
    static const std::shared_ptr<TMainThreadDispatcher> process(new TMainThreadDispatcher,
                                                                [](TMainThreadDispatcher*) {});
    return process;
}

TMainThreadDispatcher& TMainThreadDispatcher::Instance() {
    return ThreadDispatcher ? *ThreadDispatcher : *SharedInstance();
}

TMainThreadDispatcher::TThreadScope::TThreadScope()
    : Own(new TMainThreadDispatcher), Previous(ThreadDispatcher) {
    ThreadDispatcher = Own;
}

TMainThreadDispatcher::TThreadScope::~TThreadScope() {
    ThreadDispatcher = Previous;
}

TMainThreadDispatcher::TMainThreadDispatcher() : Impl(std::make_unique<TImpl>()) {}

TMainThreadDispatcher::~TMainThreadDispatcher() = default;

void TMainThreadDispatcher::SetMainThread() {
    std::lock_guard<std::mutex> lock(Impl->Mutex);
    Impl->MainThread = std::this_thread::get_id();
}

bool TMainThreadDispatcher::IsMainThread() const {
    std::lock_guard<std::mutex> lock(Impl->Mutex);
    return Impl->MainThread == std::this_thread::get_id();
}

namespace {

// (A template, so that it may be handed the dispatcher's private state.)
template <typename TState>
void Queue(TState& Impl, const std::shared_ptr<TQueuedCall>& Item,
           std::unique_lock<std::mutex>& Lock) {
    if (Impl.IsShutDown)
        throw std::runtime_error("main-thread dispatcher is shut down");
    Impl.Queue.push_back(Item);
    std::function<void()> hook = Impl.WakeHook;
    Impl.MainCv.notify_all();
    Lock.unlock();
    if (hook)
        hook();
    Lock.lock();
}

}  // namespace

void TMainThreadDispatcher::Invoke(std::function<void()> Call) {
    if (IsMainThread()) {
        Call();
        return;
    }
    auto item = std::make_shared<TQueuedCall>();
    item->Call = std::move(Call);
    std::unique_lock<std::mutex> lock(Impl->Mutex);
    Queue(*Impl, item, lock);
    Impl->WorkerCv.wait(lock, [&] { return item->Done || item->Failed; });
    if (item->Failed)
        throw std::runtime_error("main-thread dispatcher is shut down");
    std::exception_ptr error = std::move(item->Error);
    lock.unlock();
    if (error)
        std::rethrow_exception(error);
}

void TMainThreadDispatcher::Send(std::function<void()> Call) {
    if (IsMainThread()) {
        Call();
        return;
    }
    auto item = std::make_shared<TQueuedCall>();
    item->Call = std::move(Call);
    item->AckOnly = true;
    std::unique_lock<std::mutex> lock(Impl->Mutex);
    Queue(*Impl, item, lock);
    Impl->WorkerCv.wait(lock, [&] { return item->Taken || item->Failed; });
    if (item->Failed)
        throw std::runtime_error("main-thread dispatcher is shut down");
}

int TMainThreadDispatcher::RunPending() {
    int ran = 0;
    for (;;) {
        std::shared_ptr<TQueuedCall> item;
        {
            std::lock_guard<std::mutex> lock(Impl->Mutex);
            if (Impl->Queue.empty())
                break;
            item = Impl->Queue.front();
            Impl->Queue.pop_front();
            item->Taken = true;
            if (item->AckOnly)
                Impl->WorkerCv.notify_all();
        }
        std::exception_ptr error;
        try {
            item->Call();
        } catch (...) {
            error = std::current_exception();
        }
        ++ran;
        {
            std::lock_guard<std::mutex> lock(Impl->Mutex);
            // The worker takes the only reference: the exception dies on its thread.
            if (!item->AckOnly)
                item->Error = std::move(error);
            item->Done = true;
            Impl->WorkerCv.notify_all();
        }
        if (error) {
            // Nobody waits for a sent call's outcome; it must not vanish.
            std::rethrow_exception(error);
        }
    }
    return ran;
}

int TMainThreadDispatcher::WaitAndRunPending(std::chrono::milliseconds MaxWait) {
    {
        std::unique_lock<std::mutex> lock(Impl->Mutex);
        Impl->MainCv.wait_for(lock, MaxWait,
                              [&] { return !Impl->Queue.empty() || Impl->WakeRequested; });
        Impl->WakeRequested = false;
    }
    return RunPending();
}

void TMainThreadDispatcher::Wake() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(Impl->Mutex);
        Impl->WakeRequested = true;
        hook = Impl->WakeHook;
        Impl->MainCv.notify_all();
    }
    if (hook)
        hook();
}

void TMainThreadDispatcher::SetWakeHook(std::function<void()> Hook) {
    std::lock_guard<std::mutex> lock(Impl->Mutex);
    Impl->WakeHook = std::move(Hook);
}

void TMainThreadDispatcher::Shutdown() {
    std::lock_guard<std::mutex> lock(Impl->Mutex);
    Impl->IsShutDown = true;
    for (auto& item : Impl->Queue)
        item->Failed = true;
    Impl->Queue.clear();
    Impl->WorkerCv.notify_all();
}

}  // namespace tarnwick

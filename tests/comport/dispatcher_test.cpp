// The main-thread dispatcher on its own.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "comport/main_thread_dispatcher.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

TEST(MainThreadDispatcher, InvokeRunsOnTheMainThreadAndRethrowsThere) {
    TMainThreadDispatcher& d = TMainThreadDispatcher::Instance();
    d.SetMainThread();
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> caught{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        d.Invoke([&] { ranOnMain = d.IsMainThread(); });
        try {
            d.Invoke([] { throw std::logic_error("from main"); });
        } catch (const std::logic_error& e) {
            caught = std::string(e.what()) == "from main";
        }
        finished = true;
        d.Wake();
    });
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!finished && std::chrono::steady_clock::now() < deadline)
        d.WaitAndRunPending(5ms);
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(caught);
    // On the main thread itself the call runs at once.
    int direct = 0;
    d.Invoke([&] { ++direct; });
    EXPECT_EQ(direct, 1);
}

TEST(MainThreadDispatcher, WakeEndsAWaitAndTheHookSeesEveryQueuedCall) {
    TMainThreadDispatcher& d = TMainThreadDispatcher::Instance();
    std::atomic<int> hooks{0};
    d.SetWakeHook([&] { ++hooks; });
    std::thread waker([&] {
        std::this_thread::sleep_for(20ms);
        d.Wake();
    });
    const auto start = std::chrono::steady_clock::now();
    d.WaitAndRunPending(10s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    waker.join();
    std::thread worker([&] { d.Invoke([] {}); });
    while (d.RunPending() == 0)
        std::this_thread::sleep_for(1ms);
    worker.join();
    d.SetWakeHook(nullptr);
    EXPECT_EQ(hooks.load(), 2);
}

TEST(MainThreadDispatcherDeathTest, ShutdownFailsQueuedAndLaterCalls) {
    // Shutdown is for good, so it runs in a child process (re-executed, as other
    // tests leave threads behind that a plain fork would copy half-way).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TMainThreadDispatcher& d = TMainThreadDispatcher::Instance();
            d.SetMainThread();
            std::atomic<int> failed{0};
            std::thread queued([&] {
                try {
                    d.Invoke([] {});
                } catch (const std::runtime_error&) {
                    ++failed;
                }
            });
            while (failed == 0) {
                std::this_thread::sleep_for(20ms);
                d.Shutdown();
            }
            queued.join();
            std::thread later([&] {
                try {
                    d.Send([] {});
                } catch (const std::runtime_error&) {
                    ++failed;
                }
            });
            later.join();
            std::exit(failed == 2 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tarnwick

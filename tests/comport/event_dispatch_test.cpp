// The event thread and the four ways of handing its events over, with real
// pseudo-terminals. A pty can show received characters, the event character,
// the 80 %-full mark, transmit-empty and a vanishing device; ring, break, line
// errors and modem-line changes need a serial adapter and are not shown here.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "pty_pair.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using test::PumpFor;
using test::PumpUntil;
using test::TPtyPair;

struct TRig {
    TPtyPair Pty;
    TComPort Port;
    explicit TRig(TComEvents Events = {evRxChar, evTxEmpty}, TSyncMethod Sync = smThreadSync) {
        Port.SetPort(Pty.SlavePath());
        Port.SetEvents(Events);
        Port.SetSyncMethod(Sync);
    }
};

std::string Text(const std::uint8_t* Data, int Count) {
    return std::string(reinterpret_cast<const char*>(Data), static_cast<std::size_t>(Count));
}

TEST(PortEvents, ReceivedBytesReachOnRxBufBeforeTheLinkOnTheMainThread) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TRig rig;
    std::vector<std::string> calls;
    std::string received;
    bool offMainThread = false;
    rig.Port.OnRxBuf = [&](TCustomComPort& Sender, const std::uint8_t* Data, int Count) {
        offMainThread |= !TMainThreadDispatcher::Instance().IsMainThread();
        EXPECT_EQ(&Sender, &rig.Port);
        calls.push_back("buf " + std::to_string(Count));
        received += Text(Data, Count);
    };
    int rxChar = 0;
    rig.Port.OnRxChar = [&](TCustomComPort&, int) { ++rxChar; };
    TComLink link;
    std::string linkData;
    link.LinkDataReceived = [&](TCustomComPort&, const std::uint8_t* Data, int Count) {
        calls.push_back("link " + std::to_string(Count));
        linkData += Text(Data, Count);
    };
    std::vector<bool> receiving;
    link.LinkReceiving = [&](TCustomComPort&, bool On) { receiving.push_back(On); };
    rig.Port.AttachLink(&link);
    EXPECT_TRUE(rig.Port.LinkWantsRxData());
    rig.Port.Open();

    rig.Pty.Send("hello");
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 5; }));
    EXPECT_EQ(received, "hello");
    EXPECT_EQ(linkData, "hello");
    EXPECT_FALSE(offMainThread);
    EXPECT_EQ(rxChar, 0);
    ASSERT_FALSE(calls.empty());
    // Each batch: OnRxBuf first, then the link, with the same count.
    for (std::size_t i = 0; i + 1 < calls.size(); i += 2) {
        EXPECT_EQ(calls[i].substr(4), calls[i + 1].substr(5));
        EXPECT_EQ(calls[i].substr(0, 3), "buf");
    }
    ASSERT_GE(receiving.size(), 2U);
    EXPECT_TRUE(receiving.front());
    EXPECT_FALSE(receiving.back());
    rig.Port.Close();
    rig.Port.DetachLink(&link);
}

TEST(PortEvents, WithoutADataLinkOnRxCharCountsWaitingBytesAndNothingIsRead) {
    TRig rig;
    std::vector<int> counts;
    int rxBuf = 0;
    rig.Port.OnRxChar = [&](TCustomComPort&, int Count) { counts.push_back(Count); };
    rig.Port.OnRxBuf = [&](TCustomComPort&, const std::uint8_t*, int) { ++rxBuf; };
    TComLink quietLink;  // a link without a data callback does not count
    quietLink.LinkTxQueueEmpty = [](TCustomComPort&) {};
    rig.Port.AttachLink(&quietLink);
    EXPECT_FALSE(rig.Port.LinkWantsRxData());
    rig.Port.Open();
    rig.Pty.Send("ab");
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty() && counts.back() == 2; }));
    rig.Pty.Send("cde");
    ASSERT_TRUE(PumpUntil([&] { return counts.back() == 5; }));
    EXPECT_EQ(rxBuf, 0);
    // The bytes are all still there.
    std::uint8_t buf[8];
    EXPECT_EQ(rig.Port.ReadWait(buf, 8), 5);
    EXPECT_EQ(Text(buf, 5), "abcde");
    rig.Port.Close();
    rig.Port.DetachLink(&quietLink);
}

TEST(PortEvents, OnTxEmptyFollowsEveryWriteOnTheMainThread) {
    TRig rig;
    std::atomic<int> txEmpty{0};
    bool offMainThread = false;
    rig.Port.OnTxEmpty = [&](TCustomComPort&) {
        offMainThread |= !TMainThreadDispatcher::Instance().IsMainThread();
        ++txEmpty;
    };
    TComLink link;
    std::vector<std::string> calls;
    link.LinkSending = [&](TCustomComPort&, bool On) { calls.push_back(On ? "on" : "off"); };
    link.LinkTxQueueEmpty = [&](TCustomComPort&) { calls.push_back("empty"); };
    rig.Port.AttachLink(&link);
    rig.Port.Open();
    for (int i = 1; i <= 20; ++i) {
        rig.Port.WriteStr("x");
        ASSERT_TRUE(PumpUntil([&] { return txEmpty.load() == i; })) << i;
    }
    EXPECT_FALSE(offMainThread);
    ASSERT_GE(calls.size(), 3U);
    EXPECT_EQ((std::vector<std::string>(calls.begin(), calls.begin() + 3)),
              (std::vector<std::string>{"on", "off", "empty"}));
    EXPECT_EQ(rig.Pty.Receive(20, 2s), std::string(20, 'x'));
    rig.Port.Close();
    rig.Port.DetachLink(&link);
}

TEST(PortEvents, ThousandsOfBatchesArriveInOrderWithoutLoss) {
    TRig rig;
    std::string received;
    rig.Port.OnRxBuf = [&](TCustomComPort&, const std::uint8_t* Data, int Count) {
        received += Text(Data, Count);
    };
    TComLink link;
    link.LinkDataReceived = [](TCustomComPort&, const std::uint8_t*, int) {};
    rig.Port.AttachLink(&link);
    rig.Port.Open();
    std::string sent;
    std::thread farEnd([&] {
        std::string chunk;
        for (int i = 0; i < 3000; ++i) {
            chunk.assign(1 + i % 7, static_cast<char>(i & 0xFF));
            rig.Pty.Send(chunk);
            if (i % 50 == 0)
                std::this_thread::sleep_for(1ms);
        }
    });
    for (int i = 0; i < 3000; ++i)
        sent.append(1 + i % 7, static_cast<char>(i & 0xFF));
    const bool complete = PumpUntil([&] { return received.size() >= sent.size(); }, 30s);
    farEnd.join();
    EXPECT_TRUE(complete);
    EXPECT_EQ(received, sent);
    rig.Port.Close();
    rig.Port.DetachLink(&link);
}

TEST(PortEvents, CloseDispatchesTheBatchThatIsOnItsWay) {
    TRig rig;
    std::vector<std::string> calls;
    rig.Port.OnRxBuf = [&](TCustomComPort& Sender, const std::uint8_t* Data, int Count) {
        EXPECT_TRUE(Sender.Connected());
        calls.push_back("buf " + Text(Data, Count));
    };
    rig.Port.OnAfterClose = [&](TCustomComPort&) { calls.push_back("closed"); };
    TComLink link;
    link.LinkDataReceived = [](TCustomComPort&, const std::uint8_t*, int) {};
    rig.Port.AttachLink(&link);
    std::atomic<bool> queued{false};
    TMainThreadDispatcher::Instance().SetWakeHook([&] { queued = true; });
    rig.Port.Open();
    rig.Pty.Send("late");
    // Wait, without pumping, until the event thread has queued its hand-over.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!queued && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    TMainThreadDispatcher::Instance().SetWakeHook(nullptr);
    ASSERT_TRUE(queued);
    rig.Port.Close();
    EXPECT_EQ(calls, (std::vector<std::string>{"buf late", "closed"}));
    rig.Port.DetachLink(&link);
}

TEST(PortEvents, AnEventThatFindsTheQueueEmptyDoesNothing) {
    TRig rig;
    int rxChar = 0, rxBuf = 0;
    std::vector<bool> receiving;
    rig.Port.OnRxChar = [&](TCustomComPort&, int) { ++rxChar; };
    rig.Port.OnRxBuf = [&](TCustomComPort&, const std::uint8_t*, int) { ++rxBuf; };
    TComLink link;
    link.LinkDataReceived = [](TCustomComPort&, const std::uint8_t*, int) {};
    link.LinkReceiving = [&](TCustomComPort&, bool On) { receiving.push_back(On); };
    std::atomic<bool> queued{false};
    TMainThreadDispatcher::Instance().SetWakeHook([&] { queued = true; });
    rig.Port.Open();
    rig.Pty.Send("gone");
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!queued && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    TMainThreadDispatcher::Instance().SetWakeHook(nullptr);
    ASSERT_TRUE(queued);
    // The bytes are taken before the queued hand-over runs.
    std::uint8_t buf[8];
    ASSERT_EQ(rig.Port.ReadWait(buf, 8), 4);
    rig.Port.AttachLink(&link);
    PumpFor(100ms);
    EXPECT_EQ(rxChar, 0);
    EXPECT_EQ(rxBuf, 0);
    EXPECT_TRUE(receiving.empty());
    rig.Port.Close();
    rig.Port.DetachLink(&link);
}

TEST(PortEvents, AHandlerMayCloseItsOwnPort) {
    for (const TSyncMethod sync : {smThreadSync, smWindowSync, smNone}) {
        SCOPED_TRACE(int(sync));
        TRig rig({evRxChar, evTxEmpty}, sync);
        std::atomic<int> closedInHandler{0};
        std::atomic<bool> opened{false};
        rig.Port.OnRxChar = [&](TCustomComPort& Sender, int) {
            // Without sync the handler runs on the event thread, and the test
            // must order it after Open itself.
            while (!opened.load())
                std::this_thread::yield();
            Sender.Close();
            ++closedInHandler;
        };
        rig.Port.Open();
        opened = true;
        rig.Pty.Send("bye");
        ASSERT_TRUE(PumpUntil([&] { return closedInHandler.load() == 1; }));
        EXPECT_FALSE(rig.Port.Connected());
        EXPECT_EQ(rig.Port.DeviceHandle(), -1);
        // The port works again after a reopen.
        std::atomic<int> seen{0};
        opened = false;
        rig.Port.OnRxChar = [&](TCustomComPort&, int) {
            while (!opened.load())
                std::this_thread::yield();
            ++seen;
        };
        rig.Port.Open();
        opened = true;
        rig.Pty.Send("again");
        EXPECT_TRUE(PumpUntil([&] { return seen.load() > 0; }));
        rig.Port.Close();
    }
}

TEST(PortEvents, AHandlerExceptionUnderThreadSyncStopsEventsUntilReopened) {
    TRig rig;
    int calls = 0;
    rig.Port.OnRxChar = [&](TCustomComPort&, int) {
        ++calls;
        throw std::runtime_error("handler failed");
    };
    rig.Port.Open();
    rig.Pty.Send("1");
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return !rig.Port.EventThreadRunning(); }));
    rig.Pty.Send("2");
    PumpFor(200ms);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(rig.Port.Connected());
    rig.Port.Close();
    rig.Port.OnRxChar = [&](TCustomComPort&, int) { ++calls; };
    rig.Port.Open();
    rig.Pty.Send("3");
    EXPECT_TRUE(PumpUntil([&] { return calls >= 2; }));
}

TEST(PortEvents, WindowSyncDeliversOneMessagePerEventAndReportsHandlerErrors) {
    TRig rig({evRxChar, evTxEmpty, evRxFlag}, smWindowSync);
    rig.Port.SetEventChar('!');
    std::vector<std::string> calls;
    bool offMainThread = false;
    auto note = [&](const std::string& What) {
        offMainThread |= !TMainThreadDispatcher::Instance().IsMainThread();
        calls.push_back(What);
    };
    int rxChar = 0;
    rig.Port.OnRxChar = [&](TCustomComPort&, int) {
        note("rxchar");
        if (++rxChar == 1)
            throw std::runtime_error("first one fails");
    };
    rig.Port.OnRxFlag = [&](TCustomComPort&) { note("flag"); };
    rig.Port.OnTxEmpty = [&](TCustomComPort&) { note("txempty"); };
    std::vector<std::string> reports;
    SetApplicationExceptionHandler(test::CollectReports(reports));
    rig.Port.Open();
    EXPECT_TRUE(rig.Port.EventWindowExists());
    rig.Pty.Send("a!");
    ASSERT_TRUE(PumpUntil([&] { return rxChar >= 1 && !calls.empty() && calls.back() == "flag"; }));
    // Both events of the batch came, each as its own message, received chars first.
    EXPECT_EQ(calls, (std::vector<std::string>{"rxchar", "flag"}));
    EXPECT_EQ(reports, std::vector<std::string>{"first one fails"});
    // The thread goes on after the reported error.
    rig.Port.WriteStr("w");
    EXPECT_TRUE(PumpUntil([&] { return calls.back() == "txempty"; }));
    EXPECT_TRUE(rig.Port.EventThreadRunning());
    EXPECT_FALSE(offMainThread);
    rig.Port.Close();
    SetApplicationExceptionHandler(nullptr);
    EXPECT_FALSE(rig.Port.EventWindowExists());
}

TEST(PortEvents, SyncNoneRunsHandlersOnTheEventThread) {
    TRig rig({evRxChar}, smNone);
    std::mutex m;
    std::string received;
    bool onMainThread = false;
    rig.Port.OnRxBuf = [&](TCustomComPort&, const std::uint8_t* Data, int Count) {
        std::lock_guard<std::mutex> lock(m);
        onMainThread |= TMainThreadDispatcher::Instance().IsMainThread();
        received += Text(Data, Count);
    };
    TComLink link;
    link.LinkDataReceived = [](TCustomComPort&, const std::uint8_t*, int) {};
    rig.Port.AttachLink(&link);
    rig.Port.Open();
    rig.Pty.Send("direct");
    // No pumping at all: the event thread does the work.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m);
            if (received.size() >= 6 || std::chrono::steady_clock::now() > deadline)
                break;
        }
        std::this_thread::sleep_for(1ms);
    }
    rig.Port.Close();
    EXPECT_EQ(received, "direct");
    EXPECT_FALSE(onMainThread);
    rig.Port.DetachLink(&link);
}

TEST(PortEvents, DisabledEventsDropEveryBatch) {
    TRig rig({evRxChar, evTxEmpty}, smDisableEvents);
    int handled = 0;
    rig.Port.OnRxChar = [&](TCustomComPort&, int) { ++handled; };
    rig.Port.OnTxEmpty = [&](TCustomComPort&) { ++handled; };
    rig.Port.Open();
    EXPECT_TRUE(rig.Port.EventThreadRunning());
    rig.Pty.Send("dropped");
    rig.Port.WriteStr("w");
    PumpFor(200ms);
    EXPECT_EQ(handled, 0);
    std::uint8_t buf[16];
    EXPECT_EQ(rig.Port.ReadWait(buf, 16), 7);  // the bytes were not taken away
}

TEST(PortEvents, EmptyEventsStartNoThreadAndDeliverNothing) {
    TRig rig(TComEvents{});
    int handled = 0;
    rig.Port.OnRxChar = [&](TCustomComPort&, int) { ++handled; };
    TComLink link;
    link.LinkDataReceived = [&](TCustomComPort&, const std::uint8_t*, int) { ++handled; };
    rig.Port.AttachLink(&link);
    rig.Port.Open();
    EXPECT_FALSE(rig.Port.EventThreadRunning());
    rig.Pty.Send("x");
    PumpFor(100ms);
    EXPECT_EQ(handled, 0);
    rig.Port.Close();
    rig.Port.DetachLink(&link);
}

TEST(PortEvents, TheEventCharacterAndTheEightyPercentMarkAreReported) {
    TRig rig({evRxFlag, evRx80Full});
    rig.Port.SetEventChar('\n');
    rig.Port.Buffer().SetInputSize(100);
    int flags = 0, full = 0;
    rig.Port.OnRxFlag = [&](TCustomComPort&) { ++flags; };
    rig.Port.OnRx80Full = [&](TCustomComPort&) { ++full; };
    rig.Port.Open();
    rig.Pty.Send("no end yet");
    PumpFor(100ms);
    EXPECT_EQ(flags, 0);
    rig.Pty.Send("line\n");
    ASSERT_TRUE(PumpUntil([&] { return flags == 1; }));
    EXPECT_EQ(full, 0);
    rig.Pty.Send(std::string(70, 'f'));  // 85 of 100 waiting
    ASSERT_TRUE(PumpUntil([&] { return full == 1; }));
    EXPECT_EQ(flags, 1);
}

TEST(PortEvents, AVanishedDeviceIsReportedOnceAndTheThreadStaysQuiet) {
    TRig rig({evRxChar, evError});
    std::vector<TComErrors> errors;
    rig.Port.OnError = [&](TCustomComPort&, TComErrors E) { errors.push_back(E); };
    rig.Port.Open();
    rig.Pty.CloseMaster();  // the adapter is unplugged
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
    PumpFor(200ms);
    ASSERT_EQ(errors.size(), 1U);
    EXPECT_TRUE(errors[0].Contains(ceIO));
    EXPECT_TRUE(rig.Port.EventThreadRunning());
    rig.Port.Close();  // and closing still works
    EXPECT_FALSE(rig.Port.Connected());
}

TEST(PortLinks, AttachAndDetachFollowTheRules) {
    TComPort port;
    TComLink a, b;
    port.AttachLink(&a);
    for (const auto& [name, call] : std::vector<std::pair<const char*, std::function<void()>>>{
             {"attach twice", [&] { port.AttachLink(&a); }},
             {"detach a stranger", [&] { port.DetachLink(&b); }}}) {
        try {
            call();
            ADD_FAILURE() << name;
        } catch (const EComPort& e) {
            EXPECT_EQ(e.ErrorCode(), 18) << name;
            EXPECT_EQ(std::string(e.what()), "COM1 Error: Link (un)registration failed");
        }
    }
    EXPECT_FALSE(port.LinkWantsRxData());
    // A callback set after attaching counts only from the next attach or detach.
    a.LinkDataReceived = [](TCustomComPort&, const std::uint8_t*, int) {};
    EXPECT_FALSE(port.LinkWantsRxData());
    port.AttachLink(&b);
    EXPECT_TRUE(port.LinkWantsRxData());
    a.LinkDataReceived = nullptr;
    EXPECT_TRUE(port.LinkWantsRxData());
    port.DetachLink(&b);
    EXPECT_FALSE(port.LinkWantsRxData());
    port.DetachLink(&a);
    EXPECT_THROW(port.DetachLink(&a), EComPort);
}

// Several devices updated at once: each thread with a dispatcher of its own opens a port,
// and that port's events are handed to the thread that opened it. The process's main
// thread pumps meanwhile and must get nothing.
TEST(PortEvents, APortOpenedOnAThreadWithItsOwnDispatcherHandsEventsToThatThread) {
    TMainThreadDispatcher::Instance().SetMainThread();
    auto device = [](const std::string& Payload, std::atomic<bool>& Ok, std::atomic<int>& Left) {
        {
            TMainThreadDispatcher::TThreadScope scope;
            TRig rig;
            const auto self = std::this_thread::get_id();
            std::string received;
            bool elsewhere = false;
            rig.Port.OnRxBuf = [&](TCustomComPort&, const std::uint8_t* Data, int Count) {
                elsewhere |= std::this_thread::get_id() != self;
                received += Text(Data, Count);
            };
            TComLink link;
            link.LinkDataReceived = [](TCustomComPort&, const std::uint8_t*, int) {};
            rig.Port.AttachLink(&link);
            rig.Port.Open();
            rig.Pty.Send(Payload);
            const bool got = PumpUntil([&] { return received == Payload; });
            rig.Port.Close();
            rig.Port.DetachLink(&link);
            Ok = got && !elsewhere;
        }
        --Left;
        TMainThreadDispatcher::Instance().Wake();
    };
    std::atomic<bool> firstOk{false};
    std::atomic<bool> secondOk{false};
    std::atomic<int> left{2};
    std::thread first(device, "first", std::ref(firstOk), std::ref(left));
    std::thread second(device, "second", std::ref(secondOk), std::ref(left));
    int ranOnMain = 0;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (left > 0 && std::chrono::steady_clock::now() < deadline)
        ranOnMain += TMainThreadDispatcher::Instance().WaitAndRunPending(5ms);
    first.join();
    second.join();
    EXPECT_TRUE(firstOk);
    EXPECT_TRUE(secondOk);
    EXPECT_EQ(ranOnMain, 0);
}

}  // namespace
}  // namespace tarnwick

// Moving bytes through an open port over a pty: writes, reads, their time-outs,
// the link notifications of transfers and the line-status queries.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "comport/com_port.h"
#include "comport/com_port_private.h"
#include "pty_pair.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using test::TPtyPair;

struct TOpenPort {
    TPtyPair Pty;
    TComPort Port;
    explicit TOpenPort(std::function<void(TComPort&)> Setup = nullptr) {
        Port.SetPort(Pty.SlavePath());
        Port.SetEvents({});  // no event thread: the test does every read itself
        if (Setup)
            Setup(Port);
        Port.Open();
    }
};

// Reads until Count bytes came (each ReadWait returns at once with what is there).
std::string ReadAll(TComPort& Port, std::size_t Count) {
    std::string result;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (result.size() < Count && std::chrono::steady_clock::now() < deadline) {
        std::uint8_t buf[256];
        const int n = Port.ReadWait(
            buf, static_cast<int>(std::min<std::size_t>(sizeof buf, Count - result.size())));
        result.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
        if (n == 0)
            std::this_thread::sleep_for(1ms);
    }
    return result;
}

TEST(PortTransfer, WrittenBytesArriveUnchanged) {
    TOpenPort p;
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    const std::vector<std::string> cases = {"A", std::string(1, '\0'), "\r\n", all,
                                            std::string(3000, '\xA5')};
    for (const auto& bytes : cases) {
        EXPECT_EQ(p.Port.WriteStr(bytes), static_cast<int>(bytes.size()));
        EXPECT_EQ(p.Pty.Receive(bytes.size(), 5s), bytes);
    }
}

TEST(PortTransfer, ReceivedBytesAreReadUnchanged) {
    TOpenPort p;
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    p.Pty.Send(all);
    EXPECT_EQ(ReadAll(p.Port, all.size()), all);
    std::uint8_t buf[4] = {0, 0, 0, 0};
    EXPECT_EQ(p.Port.ReadWait(buf, 4), 0);  // default time-outs: at once, nothing there
    EXPECT_EQ(buf[0], 0xFF);                // marked before the read
}

TEST(PortTransfer, ParityCheckingKeepsByte255AndDiscardNullDropsZeros) {
    struct TCase {
        const char* Name;
        std::function<void(TComPort&)> Setup;
        std::string Sent, Read;
    };
    const std::vector<TCase> cases = {
        {"check", [](TComPort& p) { p.Parity().SetCheck(true); },
         std::string("a\xFF\xFF"
                     "b",
                     4),
         std::string("a\xFF\xFF"
                     "b",
                     4)},
        {"check and replace",
         [](TComPort& p) {
             p.Parity().SetCheck(true);
             p.Parity().SetReplace(true);
             p.Parity().SetReplaceChar('?');
         },
         std::string("\xFF\x00z", 3), std::string("\xFF\x00z", 3)},
        {"discard null", [](TComPort& p) { p.SetDiscardNull(true); },
         std::string("\x00"
                     "a\x00\x00"
                     "b\x00",
                     6),
         "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TOpenPort p(c.Setup);
        p.Pty.Send(c.Sent);
        // The port's count is of bytes a read will deliver.
        ASSERT_TRUE(
            test::PumpUntil([&] { return p.Port.InputQueueCount() >= int(c.Read.size()); }));
        EXPECT_EQ(p.Port.InputQueueCount(), static_cast<int>(c.Read.size()));
        EXPECT_EQ(ReadAll(p.Port, c.Read.size()), c.Read);
    }
}

TEST(PortTransfer, InputQueueCountShowsWaitingBytes) {
    TOpenPort p;
    EXPECT_EQ(p.Port.InputQueueCount(), 0);
    p.Pty.Send("12345");
    ASSERT_TRUE(test::PumpUntil([&] { return p.Port.InputQueueCount() == 5; }));
    std::uint8_t buf[2];
    EXPECT_EQ(p.Port.ReadWait(buf, 2), 2);
    EXPECT_EQ(p.Port.InputQueueCount(), 3);
}

TEST(PortTransfer, ReadTimeoutsAreHonoured) {
    struct TCase {
        const char* Name;
        int Interval, Multiplier, Constant;
        std::string Sent;
        int Asked, Expected;
        std::chrono::milliseconds AtLeast;
    };
    const std::vector<TCase> cases = {
        {"total time-out, nothing came", 0, 0, 150, "", 4, 0, 100ms},
        {"total time-out, some came", 0, 0, 150, "ab", 4, 2, 100ms},
        {"multiplier", 0, 40, 0, "", 4, 0, 100ms},
        {"any byte or constant", -1, -1, 150, "", 4, 0, 100ms},
        {"any byte returns with the first", -1, -1, 5000, "xy", 4, 2, 0ms},
        {"everything asked came", 0, 0, 5000, "wxyz", 4, 4, 0ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TOpenPort p([&](TComPort& port) {
            port.Timeouts().SetReadInterval(c.Interval);
            port.Timeouts().SetReadTotalMultiplier(c.Multiplier);
            port.Timeouts().SetReadTotalConstant(c.Constant);
        });
        if (!c.Sent.empty())
            p.Pty.Send(c.Sent);
        std::uint8_t buf[16];
        const auto start = std::chrono::steady_clock::now();
        const int n = p.Port.ReadWait(buf, c.Asked);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(n, c.Expected);
        EXPECT_GE(took, c.AtLeast);
        EXPECT_LT(took, 4s);
    }
}

TEST(PortTransfer, AWriteNobodyTakesEndsAtTheWriteTimeout) {
    TOpenPort p([](TComPort& port) {
        port.Timeouts().SetWriteTotalMultiplier(0);
        port.Timeouts().SetWriteTotalConstant(200);
    });
    // The far end reads nothing, so the pty's buffers fill and the write stops.
    const std::string lots(4 << 20, 'x');
    const auto start = std::chrono::steady_clock::now();
    const int written = p.Port.WriteStr(lots);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(lots.size()));
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 5s);
}

TEST(PortTransfer, WritesNotifyLinks) {
    TOpenPort p;
    TComLink link;
    std::vector<std::string> calls;
    link.LinkSending = [&](TCustomComPort&, bool On) { calls.push_back(On ? "sending" : "idle"); };
    link.LinkDataSent = [&](TCustomComPort&, const std::uint8_t* Data, int Count) {
        calls.push_back("sent " + std::string(reinterpret_cast<const char*>(Data), Count));
    };
    p.Port.AttachLink(&link);

    EXPECT_EQ(p.Port.WriteStr(""), 0);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(p.Port.WriteStr("Z"), 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"sending", "sent Z"}));
    EXPECT_EQ(p.Pty.Receive(1, 2s), "Z");
    p.Port.DetachLink(&link);
}

TEST(PortTransfer, AReadThatEmptiesTheQueueTellsLinksReceivingOff) {
    TOpenPort p;
    TComLink link;
    std::vector<bool> receiving;
    link.LinkReceiving = [&](TCustomComPort&, bool On) { receiving.push_back(On); };
    p.Port.AttachLink(&link);
    p.Pty.Send("abc");
    ASSERT_TRUE(test::PumpUntil([&] { return p.Port.InputQueueCount() == 3; }));
    std::uint8_t buf[3];
    EXPECT_EQ(p.Port.ReadWait(buf, 2), 2);  // one left
    EXPECT_TRUE(receiving.empty());
    EXPECT_EQ(p.Port.ReadWait(buf, 2), 1);  // now empty
    EXPECT_EQ(receiving, std::vector<bool>{false});
    p.Port.DetachLink(&link);
}

TEST(PortTransfer, AsyncRecordsAreRequired) {
    TOpenPort p;
    std::uint8_t buf[1];
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { p.Port.StartWrite(buf, 1, nullptr); },
             [&] { p.Port.StartRead(buf, 1, nullptr); }, [&] { p.Port.WaitAsync(nullptr); }}) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const EComPortExt&) {
            ADD_FAILURE() << "wrong class";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.ErrorCode(), 4);
        }
    }
    // With a record the steps work one by one.
    TComAsyncPtr async;
    p.Port.CreateAsync(async);
    ASSERT_TRUE(async);
    p.Port.StartWriteStr("ok", async.get());
    EXPECT_EQ(async->DataSize, 2);
    EXPECT_EQ(p.Port.WaitAsync(async.get()), 2);
    p.Port.FreeAsync(async);
    EXPECT_FALSE(async);
    EXPECT_EQ(p.Pty.Receive(2, 2s), "ok");
}

TEST(PortTransfer, OnAClosedPortWritesFailAndReadsGiveNothing) {
    TComPort port;
    try {
        port.WriteStr("x");
        ADD_FAILURE() << "wrote";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
    }
    std::uint8_t buf[2] = {1, 1};
    EXPECT_EQ(port.ReadWait(buf, 2), 0);
    EXPECT_EQ(buf[0], 0xFF);
    for (const auto& [code, call] :
         std::vector<std::pair<int, std::function<void()>>>{{10, [&] { port.InputQueueCount(); }},
                                                            {10, [&] { port.LineErrors(); }},
                                                            {11, [&] { port.ModemSignals(); }},
                                                            {5, [&] { port.AbortTransfers(); }}}) {
        try {
            call();
            ADD_FAILURE() << code;
        } catch (const EComPortExt& e) {
            EXPECT_EQ(e.ErrorCode(), code);
        }
    }
}

}  // namespace
}  // namespace tarnwick

// A device layer that refuses what a driver can refuse: a port without modem lines still
// opens, and a port whose close fails is still closed by ForceClose, so that the next Open
// really opens the device again.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>

#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "pty_pair.h"
#include "refusing_device.h"

namespace tarnwick {
namespace {

using test::TPtyPair;
using test::TRefusingLayer;

constexpr std::uint32_t kNotSupported = 50;  // ERROR_NOT_SUPPORTED
constexpr std::uint32_t kGenFailure = 31;    // ERROR_GEN_FAILURE
constexpr std::uint32_t kBadCommand = 22;    // ERROR_BAD_COMMAND

struct TModemCase {
    const char* Name;
    std::uint32_t Error;
    int OpenErrorCode;  // 0: opens
};

void PrintTo(const TModemCase& Case, std::ostream* Os) {
    *Os << Case.Name;
}

class RefusedModemStatusTest : public testing::TestWithParam<TModemCase> {};

TEST_P(RefusedModemStatusTest, OnlyAPortWithoutModemLinesOpensWithNoLineOn) {
    const TModemCase& c = GetParam();
    TMainThreadDispatcher::Instance().SetMainThread();
    TPtyPair pty;
    TRefusingLayer layer;
    layer.ModemStatusError = c.Error;
    TComPort port(layer.Opener());
    port.SetPort(pty.SlavePath());
    int code = 0;
    std::uint32_t osError = 0;
    try {
        port.Open();
    } catch (const EComPortExt& e) {
        code = e.ErrorCode();
        osError = e.WindowsError();
    }
    EXPECT_EQ(code, c.OpenErrorCode);
    if (c.OpenErrorCode == 0) {
        EXPECT_TRUE(port.ModemSignals().Empty());
    } else {
        EXPECT_EQ(osError, c.Error);
        EXPECT_THROW(port.ModemSignals(), EComPortExt);
    }
}

INSTANTIATE_TEST_SUITE_P(Driver, RefusedModemStatusTest,
                         testing::Values(TModemCase{"NotSupported", kNotSupported, 0},
                                         TModemCase{"GenFailure", kGenFailure, 11},
                                         TModemCase{"BadCommand", kBadCommand, 11}),
                         [](const testing::TestParamInfo<TModemCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// What makes the close fail, and what the caller then gets.
struct TCloseCase {
    const char* Name;
    bool RefusePurge;
    bool BeforeCloseRaises;
    int ErrorCode;  // of the EComPort raised; -1 for the handler's own error
};

void PrintTo(const TCloseCase& Case, std::ostream* Os) {
    *Os << Case.Name;
}

class ForceCloseTest : public testing::TestWithParam<TCloseCase> {};

TEST_P(ForceCloseTest, ReleasesThePortAndTheNextOpenOpensTheDeviceAgain) {
    const TCloseCase& c = GetParam();
    TMainThreadDispatcher::Instance().SetMainThread();
    TPtyPair pty;
    TRefusingLayer layer;
    TComPort port(layer.Opener());
    port.SetPort(pty.SlavePath());
    port.SetEvents({evRxChar, evTxEmpty});
    int afterClose = 0;
    port.OnAfterClose = [&](TCustomComPort&) { ++afterClose; };
    bool raise = c.BeforeCloseRaises;
    port.OnBeforeClose = [&](TCustomComPort&) {
        if (raise)
            throw std::runtime_error("handler");
    };
    port.Open();
    ASSERT_TRUE(port.EventThreadRunning());
    layer.PurgeAbortError = c.RefusePurge ? kGenFailure : 0;

    int code = 0;
    try {
        port.ForceClose();
    } catch (const EComPort& e) {
        code = e.ErrorCode();
    } catch (const std::runtime_error&) {
        code = -1;
    }
    EXPECT_EQ(code, c.ErrorCode);
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.EventThreadRunning());
    EXPECT_EQ(port.DeviceHandle(), -1);
    EXPECT_EQ(layer.Live, 0) << "the device is still held";
    EXPECT_EQ(afterClose, 1);

    // The driver is well again: Open opens a new device, which carries bytes.
    layer.PurgeAbortError = 0;
    raise = false;
    port.Open();
    EXPECT_EQ(layer.Opened, 2);
    EXPECT_TRUE(port.EventThreadRunning());
    EXPECT_EQ(port.WriteStr("ok"), 2);
    EXPECT_EQ(pty.Receive(2, std::chrono::seconds(5)), "ok");
    port.Close();
    EXPECT_EQ(layer.Live, 0);
}

// Wine and POSIX carry out an output purge as a flush of the tty's queue: a Close that
// purged the output lost the last bytes written before it (the Wine smoke test's first
// line, on a loaded machine). What WriteStr has written stays on the line.
TEST(Close, PurgesNoOutputThatWritesHaveEnded) {
    TMainThreadDispatcher::Instance().SetMainThread();
    for (const bool events : {false, true}) {
        SCOPED_TRACE(events ? "with the event thread" : "without events");
        TPtyPair pty;
        TRefusingLayer layer;
        TComPort port(layer.Opener());
        port.SetPort(pty.SlavePath());
        port.SetEvents(events ? TComEvents{evRxChar, evTxEmpty} : TComEvents{});
        port.Open();
        EXPECT_EQ(port.WriteStr("last"), 4);
        port.Close();
        EXPECT_EQ(layer.Purged & (platform::kPurgeTxAbort | platform::kPurgeTxClear), 0u);
        EXPECT_NE(layer.Purged & platform::kPurgeRxAbort, 0u) << "pending reads still end";
        EXPECT_EQ(pty.Receive(4, std::chrono::seconds(5)), "last");
    }
}

INSTANTIATE_TEST_SUITE_P(Failure, ForceCloseTest,
                         testing::Values(TCloseCase{"PurgeRefused", true, false, 5},
                                         TCloseCase{"BeforeCloseHandlerRaises", false, true, -1}),
                         [](const testing::TestParamInfo<TCloseCase>& Info) {
                             return std::string(Info.param.Name);
                         });

}  // namespace
}  // namespace tarnwick

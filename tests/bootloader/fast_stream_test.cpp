// Image bytes faster than the default pacing, against the simulated device keeping line
// time at 115200 baud: the bytes on the wire are those of a paced run, only sooner, and a
// device that loses bytes on the way is caught by the verification or the CRC check.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "bootloader/protocol_codes.h"
#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "devsim_process.h"
#include "update_run_support.h"

namespace tarnwick {
namespace {

using namespace test;

const std::vector<std::string> LineRate = {"--line-rate", "115200"};

std::vector<std::string> With(std::vector<std::string> Args, const std::vector<std::string>& More) {
    Args.insert(Args.end(), More.begin(), More.end());
    return Args;
}

TBuffer FlashImage(const TBytes& Image) {
    TBuffer image(MaxFlashSize, 0xFF);
    std::copy(Image.begin(), Image.end(), image.begin());
    return image;
}

struct TRunResult {
    std::vector<std::string> Messages;  // without the duration
    TUpdateOutcome Outcome;
    std::vector<TDevsim::TTraceEntry> Trace;
    TBytes Flash;
    // When the host had sent each image byte of the verification stream (ms, its clock).
    std::vector<double> VerifyProgressMs;
};

// A whole update run of Image with the given pacing against a device started with Args.
TRunResult RunUpdate(int Pacing, const std::vector<std::string>& Args, const TBytes& Image) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TTempDir dir;
    TDevsim device(Args, dir.Path());
    const TBuffer image = FlashImage(Image);
    TRecorder owner;
    owner.Port = device.PortPath();
    TRunResult result;
    const auto start = std::chrono::steady_clock::now();
    // The bar is set to 0 at the start of the run, of the pass and after its first byte, and
    // at the end of the run again; the last of the first three begins the stream's times.
    owner.OnProgress = [&](TProgressBar Bar, int Position) {
        auto& times = result.VerifyProgressMs;
        const double now =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (Bar != pbVerify)
            return;
        if (Position == 0 && times.size() <= 1)
            times = {now};
        else if (Position > 0 && static_cast<std::size_t>(Position) == times.size())
            times.push_back(now);
    };
    {
        TComPort port;
        TBootloader bootloader(owner, port);
        bootloader.SetImage(image, static_cast<std::int32_t>(Image.size() - 1));
        bootloader.BytePacing = Pacing;
        result.Outcome = bootloader.RunUpdate();
    }
    result.Trace = device.Stop();
    result.Flash = device.Flash();
    EXPECT_FALSE(owner.Messages.empty());
    if (!owner.Messages.empty())
        result.Messages.assign(owner.Messages.begin(), owner.Messages.end() - 1);
    return result;
}

// Times (ms) at which the device received the image bytes of the verification stream.
std::vector<double> VerifyStreamTimes(const std::vector<TDevsim::TTraceEntry>& Trace,
                                      std::size_t WireBytes) {
    for (std::size_t i = 0; i + 1 < Trace.size(); ++i) {
        if (Trace[i].Byte == 0xA5 && Trace[i + 1].Byte == 0x07 &&
            i + 2 + WireBytes <= Trace.size()) {
            std::vector<double> times;
            for (std::size_t k = i + 2; k < i + 2 + WireBytes; ++k)
                times.push_back(Trace[k].TimeMs);
            return times;
        }
    }
    return {};
}

// A successful run with both passes whose device accepted the first password cycle.
TBytes FullRunStream(const TBytes& Image) {
    TExpectedStream want;
    want.Add({'K', 'i', 'w', 'u', 0xFF, 0xA5});
    want.CrcExchange();
    want.Add({0xA5, 0x00, 0xA5, 0x02, 0xA5, 0x01, 0xA5, 0x03});
    want.CrcExchange();
    want.Add({0xA5, 0x04});
    want.Data(Image);
    want.Add({0xA5, 0x80, 0xA5, 0x07});
    want.Data(Image);
    want.Add({0xA5, 0x80});
    want.CrcExchange();
    want.Add({0xA5, 0x80, 0xA5, 0xA5, 0xA5, 0x05});
    return want.Bytes;
}

TEST(FastStream, SendsTheBytesOfAPacedRunAtLineSpeed) {
    const TRunResult paced = RunUpdate(DefaultBytePacing, {"--buffer", "4"}, Image10);
    const TRunResult fast = RunUpdate(0, With({"--buffer", "4"}, LineRate), Image10);

    EXPECT_EQ(TraceBytes(fast.Trace), TraceBytes(paced.Trace));
    EXPECT_EQ(TraceBytes(fast.Trace), FullRunStream(Image10));
    EXPECT_EQ(fast.Messages, paced.Messages);
    EXPECT_EQ(fast.Messages, FullSuccess);
    EXPECT_TRUE(fast.Outcome.SuccessSent);
    EXPECT_EQ(fast.Flash, paced.Flash);
    ASSERT_EQ(fast.Flash.size(), 8192u);
    EXPECT_TRUE(std::equal(Image10.begin(), Image10.end(), fast.Flash.begin()));

    // The 13 wire bytes of the verification stream come as one block: far less than the
    // 13 windows of 50 ms a paced stream takes (a generous bound, load only delays).
    const auto times = VerifyStreamTimes(fast.Trace, 13);
    ASSERT_EQ(times.size(), 13u);
    EXPECT_LT(times.back() - times.front(), 12 * 50 / 2);
}

// Timed on the host, where load can only lengthen a window: each image byte holds 5 ms
// for each of its bytes on the wire, and the stream takes well under the 13 windows of
// 50 ms a paced one needs.
TEST(FastStream, FewerMillisecondsOfPacingHoldEachImageByteThatLong) {
    const TRunResult run = RunUpdate(5, {"--buffer", "4"}, Image10);
    EXPECT_EQ(run.Messages, FullSuccess);
    EXPECT_TRUE(run.Outcome.SuccessSent);
    EXPECT_EQ(TraceBytes(run.Trace), FullRunStream(Image10));
    const auto& times = run.VerifyProgressMs;
    ASSERT_EQ(times.size(), Image10.size());
    for (std::size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 5.0 * DataByteOnWire(Image10[i]).Count)
            << "image byte " << i;
    }
    EXPECT_LT(times.back() - times.front(), 13 * 50 * 3 / 4);
}

// A device that loses a byte at line speed: the run ends in the verification or the CRC
// message, never in success.
struct TLossCase {
    const char* Name;
    std::vector<std::string> DevsimArgs;
    std::string Failure;
};

std::ostream& operator<<(std::ostream& os, const TLossCase& c) {
    return os << c.Name;
}

// Byte 19 after the connection is the first image byte (4 CRC, 8 query, 4 CRC, 2 command);
// byte 36 the first of the verification stream (13 image, 2 end, 2 command bytes later).
const TLossCase LossCases[] = {
    {"ProgrammingStreamIsCaughtByVerification",
     {"--drop-byte", "19"},
     "[B-L]Gespeichertes Programm stimmt nicht mit Datei überein"},
    {"VerificationStreamIsCaughtByVerification",
     {"--drop-byte", "36"},
     "[B-L]Gespeichertes Programm stimmt nicht mit Datei überein"},
    {"ProgrammingStreamWithoutVerificationIsCaughtByTheCrc",
     {"--drop-byte", "19", "--no-verify"},
     "[B-L]CRC-Prüfsumme stimmt nicht überein"},
};

class FastStreamLossTest : public ::testing::TestWithParam<TLossCase> {};

TEST_P(FastStreamLossTest, EndsInTheFailureMessageWithoutSuccess) {
    const TLossCase& c = GetParam();
    const TRunResult run =
        RunUpdate(0, With(With({"--buffer", "64"}, LineRate), c.DevsimArgs), Image10);
    EXPECT_FALSE(run.Outcome.SuccessSent);
    ASSERT_FALSE(run.Messages.empty());
    EXPECT_EQ(run.Messages.back(), c.Failure);
    const TBytes sent = TraceBytes(run.Trace);
    const TBytes closing = {0xA5, 0x80, 0xA5, 0xA5};
    ASSERT_GE(sent.size(), closing.size());
    EXPECT_TRUE(std::equal(closing.begin(), closing.end(), sent.end() - 4));
}

INSTANTIATE_TEST_SUITE_P(Devsim, FastStreamLossTest, ::testing::ValuesIn(LossCases),
                         [](const auto& param) { return std::string(param.param.Name); });

// A larger image straight through the passes (no start-up waits): buffer-fulls with the
// acknowledgement after the last one or a shorter last one, or none at all, and
// verification blocks, all with the bytes and the CRC the protocol fixes.
class FastStreamBlocksTest : public ::testing::TestWithParam<int> {};

TEST_P(FastStreamBlocksTest, CarryTheProtocolsBytesAndCrc) {
    const int buffer = GetParam();
    TMainThreadDispatcher::Instance().SetMainThread();
    // 1000 bytes, with 0x13 and 0xA5 put at the edges of 40- and 64-byte buffer-fulls and
    // of the verification blocks (230 image bytes at 115200 baud).
    std::mt19937 random(11);
    TBytes data(1000);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(random());
    for (const std::size_t at : {39u, 40u, 63u, 64u, 229u, 230u, 459u, 999u})
        data[at] = at % 2 == 0 ? 0xA5 : 0x13;

    TTempDir dir;
    TDevsim device(With({"--buffer", std::to_string(buffer)}, LineRate), dir.Path());
    const TBuffer image = FlashImage(data);
    TRecorder owner;
    int program = 0;
    int verify = 0;
    int crc = 0;
    std::uint16_t crcAfter = 0;
    {
        TComPort port;
        TBootloader bootloader(owner, port);
        bootloader.SetImage(image, static_cast<std::int32_t>(data.size() - 1));
        bootloader.BytePacing = 0;
        port.SetPort(device.PortPath());
        port.SetBaudRate(br115200);
        port.Open();
        ASSERT_EQ(bootloader.Connect(), 1);
        ASSERT_TRUE(bootloader.ReadDeviceInfo());
        program = bootloader.ProgramFlash();
        verify = bootloader.VerifyFlash();
        crc = bootloader.CheckLinkCrc();
        crcAfter = bootloader.LinkCrc;
        port.Close();
    }
    EXPECT_EQ(program, 1);
    EXPECT_EQ(verify, 1);
    EXPECT_EQ(crc, 1);
    EXPECT_EQ(crcAfter, 0);

    const TBytes sent = TraceBytes(device.Stop());
    const TBytes cycle = {'K', 'i', 'w', 'u', 0xFF};
    TExpectedStream want;
    want.Add(cycle);
    want.Add({0xA5, 0xA5, 0x00, 0xA5, 0x02, 0xA5, 0x01, 0xA5, 0x03, 0xA5, 0x04});
    want.Data(data);
    want.Add({0xA5, 0x80, 0xA5, 0x07});
    want.Data(data);
    want.Add({0xA5, 0x80});
    want.CrcExchange();
    EXPECT_EQ(sent, want.Bytes);
    const TBytes flash = device.Flash();
    ASSERT_GE(flash.size(), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
}

INSTANTIATE_TEST_SUITE_P(Devsim, FastStreamBlocksTest, ::testing::Values(64, 40, 0),
                         [](const auto& param) { return "Buffer" + std::to_string(param.param); });

}  // namespace
}  // namespace tarnwick

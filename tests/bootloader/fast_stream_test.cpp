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

// 1000 bytes, with 0x13 and 0xA5 put at the edges of 40- and 64-byte buffer-fulls and of
// the verification blocks (230 image bytes at 115200 baud).
TBytes LargeImage() {
    std::mt19937 random(11);
    TBytes data(1000);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(random());
    for (const std::size_t at : {39u, 40u, 63u, 64u, 229u, 230u, 459u, 999u})
        data[at] = at % 2 == 0 ? 0xA5 : 0x13;
    return data;
}

// Every pacing puts the stream of a paced run on the wire (the paced run itself is the
// update run test's) and the image into the flash. Each paced image byte holds its window
// for each of its bytes on the wire, timed on the host where load can only lengthen a
// window (how fast the unpaced streams go is measured in bench/bootloader). A device that
// loses a byte at line speed ends the run in the verification or the CRC message, never in
// success.
struct TStreamCase {
    const char* Name;
    int Pacing;
    int Buffer;
    TBytes Image;
    std::vector<std::string> Device = {};
    std::string Failure = "";  // the run's last message; none: it succeeds
};

std::ostream& operator<<(std::ostream& os, const TStreamCase& c) {
    return os << c.Name;
}

const std::string Mismatch = "[B-L]Gespeichertes Programm stimmt nicht mit Datei überein";
const std::string CrcFailed = "[B-L]CRC-Prüfsumme stimmt nicht überein";

const TStreamCase StreamCases[] = {
    {"FiveMilliseconds", 5, 4, Image10},
    {"LineSpeed", 0, 4, Image10},
    // Buffer-fulls with the acknowledgement after the last one or a shorter last one, or
    // none at all, and several verification blocks.
    {"LineSpeedBuffer64", 0, 64, LargeImage()},
    {"LineSpeedBuffer40", 0, 40, LargeImage()},
    {"LineSpeedBuffer0", 0, 0, LargeImage()},
    // Caught by the verification, without it by the CRC. Byte 19 after the connection is the
    // first image byte (4 CRC, 8 query, 4 CRC, 2 command); byte 36 the first of the
    // verification stream (13 image, 2 end, 2 command bytes later).
    {"LostInProgramming", 0, 64, Image10, {"--drop-byte", "19"}, Mismatch},
    {"LostInVerification", 0, 64, Image10, {"--drop-byte", "36"}, Mismatch},
    {"LostWithoutVerification", 0, 64, Image10, {"--drop-byte", "19", "--no-verify"}, CrcFailed},
};

class FastStreamTest : public ::testing::TestWithParam<TStreamCase> {};

TEST_P(FastStreamTest, SendsTheBytesAndCrcOfAPacedRun) {
    const TStreamCase& c = GetParam();
    TMainThreadDispatcher::Instance().SetMainThread();
    TTempDir dir;
    std::vector<std::string> args = {"--buffer", std::to_string(c.Buffer)};
    if (c.Pacing == 0)
        args.insert(args.end(), {"--line-rate", "115200"});
    args.insert(args.end(), c.Device.begin(), c.Device.end());
    TDevsim device(args, dir.Path());
    const TBuffer image = FlashImage(c.Image);
    TRecorder owner;
    owner.Port = device.PortPath();
    // When the host had sent each image byte of the verification stream (ms, its clock). The
    // bar is set to 0 at the start of the run, of the pass and after its first byte, and at
    // the end of the run again; the last of the first three begins the stream's times.
    std::vector<double> times;
    const auto start = std::chrono::steady_clock::now();
    owner.OnProgress = [&](TProgressBar Bar, int Position) {
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
    TUpdateOutcome outcome;
    {
        TComPort port;
        TBootloader bootloader(owner, port);
        bootloader.SetImage(image, static_cast<std::int32_t>(c.Image.size() - 1));
        bootloader.BytePacing = c.Pacing;
        outcome = bootloader.RunUpdate();
    }
    const auto trace = device.Stop();
    const TBytes sent = TraceBytes(trace);
    ASSERT_FALSE(owner.Messages.empty());
    const std::vector<std::string> messages(owner.Messages.begin(), owner.Messages.end() - 1);
    if (!c.Failure.empty()) {
        EXPECT_FALSE(outcome.SuccessSent);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), c.Failure);
        const TBytes closing = {0xA5, 0x80, 0xA5, 0xA5};
        ASSERT_GE(sent.size(), closing.size());
        EXPECT_TRUE(std::equal(closing.begin(), closing.end(), sent.end() - 4));
        return;
    }
    EXPECT_TRUE(outcome.SuccessSent);
    // The messages of Image10's run, with this buffer and image.
    std::vector<std::string> want = FullSuccess;
    const std::string bytes = std::to_string(c.Image.size() - 1) + " von 8192 Bytes Flash";
    want[4] = "[-I-]Buffergröße: " + std::to_string(c.Buffer) + " Byte";
    want[7] = "[-IL]Programmiere " + bytes;
    want[9] = "[-IL]Überprüfe " + bytes;
    EXPECT_EQ(messages, want);
    EXPECT_EQ(sent, FullRunStream(c.Image));
    TBytes flash(8192, 0xFF);
    std::copy(c.Image.begin(), c.Image.end(), flash.begin());
    EXPECT_EQ(device.Flash(), flash);

    if (c.Pacing > 0) {
        ASSERT_EQ(times.size(), c.Image.size());
        for (std::size_t i = 1; i < times.size(); ++i) {
            EXPECT_GE(times[i] - times[i - 1], c.Pacing * DataByteOnWire(c.Image[i]).Count)
                << "image byte " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Devsim, FastStreamTest, ::testing::ValuesIn(StreamCases),
                         [](const auto& param) { return std::string(param.param.Name); });

// A pacing of 1 ms at 600 baud, where a byte takes 16.7 ms on the line: were the windows
// that short, the bytes would queue up in the driver and the verdict wait would begin while
// seconds of the stream were still on their way (300 bytes are 5 s of line time), and the
// run would end in "Baustein reagiert nicht". Each byte's window is at least its line time,
// a lower bound, timed on the host.
TEST(ShortPacing, AtALowBaudRateEveryWindowLastsTheLineTimeAndTheVerdictIsWaitedFor) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TTempDir dir;
    std::mt19937 random(5);
    TBytes data(300);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(random());
    const std::string preload = dir.Write("preload.bin", data);
    TDevsim device({"--line-rate", "600", "--flash-in", preload}, dir.Path());
    const TBuffer image = FlashImage(data);
    TRecorder owner;
    owner.Port = device.PortPath();
    owner.Baud = "600";
    owner.Program = false;
    std::vector<double> times;
    TimeVerifyBytes(owner, times);
    TUpdateOutcome outcome;
    {
        TComPort port;
        TBootloader bootloader(owner, port);
        bootloader.SetImage(image, static_cast<std::int32_t>(data.size() - 1));
        bootloader.BytePacing = 1;
        outcome = bootloader.RunUpdate();
    }
    device.Stop();
    EXPECT_TRUE(outcome.SuccessSent);
    const std::vector<std::string> messages(owner.Messages.begin(), owner.Messages.end() - 1);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], Verified);
    ExpectVerifyWindows(times, data, 10000.0 / 600);
}

}  // namespace
}  // namespace tarnwick

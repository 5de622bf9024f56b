// The simulated device's reply rules, checked from the host side of its pseudo-terminal
// with hand-made byte strings (no host code involved).

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "devsim_process.h"

namespace tarnwick {
namespace {

using TBytes = std::vector<std::uint8_t>;
using test::TDevsim;
using test::TTempDir;

std::uint16_t Crc16Arc(const TBytes& bytes) {
    std::uint16_t crc = 0;
    for (const std::uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

class TLine {
  public:
    explicit TLine(const std::string& Path) {
        Fd = open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (Fd >= 0) {
            termios tio{};
            tcgetattr(Fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(Fd, TCSANOW, &tio);
        }
    }
    ~TLine() {
        if (Fd >= 0)
            close(Fd);
    }
    bool IsOpen() const { return Fd >= 0; }
    void Send(const TBytes& b) const {
        ASSERT_EQ(write(Fd, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    // Everything that arrives until the line has been quiet for QuietMs.
    TBytes Receive(int QuietMs = 300) const {
        TBytes got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{Fd, POLLIN, 0};
            if (poll(&p, 1, QuietMs) <= 0)
                break;
            std::uint8_t buf[256];
            const ssize_t n = read(Fd, buf, sizeof buf);
            if (n <= 0)
                break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    // Count bytes as soon as they are in (fewer after 10 s).
    TBytes ReceiveCount(std::size_t Count) const {
        TBytes got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (got.size() < Count && std::chrono::steady_clock::now() < end) {
            pollfd p{Fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            std::uint8_t buf[256];
            const ssize_t n = read(Fd, buf, std::min(sizeof buf, Count - got.size()));
            if (n <= 0)
                break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

  private:
    int Fd = -1;
};

const TBytes Connect = {'K', 'i', 'w', 'u', 0xFF, 0xA5};
const TBytes Connected = {0xA6, 0xAA};

TBytes Cat(std::initializer_list<TBytes> parts) {
    TBytes all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A CRC exchange that covers Before (everything the device received since power-on or
// the previous exchange).
TBytes CrcExchange(const TBytes& Before) {
    TBytes all = Cat({Before, {0xA5, 0x06}});
    const std::uint16_t crc = Crc16Arc(all);
    return {0xA5, 0x06, static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)};
}

struct TExchange {
    TBytes Send;
    TBytes Reply;
};

struct TDevsimCase {
    const char* Name;
    std::vector<std::string> Args;
    std::vector<TExchange> Exchanges;
};

std::ostream& operator<<(std::ostream& os, const TDevsimCase& c) {
    return os << c.Name;
}

const TDevsimCase Cases[] = {
    {"PasswordThenConfirmation",
     {},
     {{{'K', 'i', 'w', 'u'}, {}}, {{0xFF}, {0xA6}}, {{0xA5}, {0xAA}}}},
    {"PasswordFoundInTheCyclicStream",
     {},
     {{{'u', 0xFF, 'K', 'K', 'i', 'w', 'u', 0xFF}, {0xA6}}, {{0xA5}, {0xAA}}}},
    {"WrongPasswordGetsNothing", {}, {{{'K', 'i', 'w', 'x', 0xFF, 0xA5}, {}}}},
    {"OwnPassword", {"--password", "ab"}, {{{'a', 'b', 0xFF, 0xA5}, Connected}}},
    {"EmptyPassword", {"--password", ""}, {{{0xFF, 0xA5}, Connected}}},
    {"Queries",
     {},
     {{Connect, Connected},
      {{0xA5, 0x00}, {0xA8, 0x02, 0x02, 0x01, 0xAA}},
      {{0xA5, 0x02}, {0xA8, 0x03, 0x1E, 0x93, 0x07, 0xAA}},
      {{0xA5, 0x01}, {0xA8, 0x02, 0x00, 0x40, 0xAA}},
      {{0xA5, 0x03}, {0xA8, 0x04, 0x00, 0x00, 0x20, 0x00, 0xAA}}}},
    {"QueryOptions",
     {"--boot-version", "2.10", "--signature", "1E9802", "--buffer", "256", "--flash", "262144"},
     {{Connect, Connected},
      {{0xA5, 0x00}, {0xA8, 0x02, 0x02, 0x10, 0xAA}},
      {{0xA5, 0x02}, {0xA8, 0x03, 0x1E, 0x98, 0x02, 0xAA}},
      {{0xA5, 0x01}, {0xA8, 0x02, 0x01, 0x00, 0xAA}},
      {{0xA5, 0x03}, {0xA8, 0x04, 0x00, 0x04, 0x00, 0x00, 0xAA}}}},
    {"UnknownCommandUnsupported", {}, {{Connect, Connected}, {{0xA5, 0x42}, {0xA7}}}},
    {"CrcEqual", {}, {{Connect, Connected}, {CrcExchange(Connect), {0xAA}}}},
    {"CrcDifferent", {}, {{Connect, Connected}, {{0xA5, 0x06, 0x12, 0x34}, {0xAB}}}},
    {"CrcRestartsAfterEachCheck",
     {},
     {{Connect, Connected},
      {{0xA5, 0x06, 0x00, 0x00}, {0xAB}},
      {{0xA5, 0x00}, {0xA8, 0x02, 0x02, 0x01, 0xAA}},
      {CrcExchange({0xA5, 0x00}), {0xAA}}}},
    {"CrcRefused", {"--no-crc"}, {{Connect, Connected}, {{0xA5, 0x06}, {0xA7}}}},
    {"ProgramAcknowledgesEachBufferFull",
     {"--buffer", "2"},
     {{Connect, Connected},
      {{0xA5, 0x04, 0x01, 0xA5, 0x93}, {0xA9}},
      {{0xA5, 0x25, 0x04}, {0xA9}},
      {{0x05, 0xA5, 0x80}, {0xAA}},
      {{0xA5, 0x07, 0x01, 0xA5, 0x93, 0xA5, 0x25, 0x04, 0x05, 0xA5, 0x80}, {0xAA}},
      {{0xA5, 0x07, 0x01, 0x14, 0xA5, 0x80}, {0xAB}}}},
    {"WithheldAcknowledgement",
     {"--buffer", "1", "--withhold-ack", "2"},
     {{Connect, Connected}, {{0xA5, 0x04, 0x01, 0x02, 0x03}, {0xA9, 0xA9}}}},
    {"VerificationRefused", {"--no-verify"}, {{Connect, Connected}, {{0xA5, 0x07}, {0xA7}}}},
    {"WrongVerdict",
     {"--wrong-verdict"},
     {{Connect, Connected},
      {{0xA5, 0x04, 0x01, 0xA5, 0x80}, {0xAA}},
      {{0xA5, 0x07, 0x01, 0xA5, 0x80}, {0xAB}}}},
    {"Echo",
     {"--echo"},
     {{{'K', 'x'}, {'K', 'x'}}, {{'K', 'i', 'w', 'u', 0xFF}, {'K', 'i', 'w', 'u', 0xFF, 0xA6}}}},
    {"Silent", {"--silent"}, {{Connect, {}}, {{0xA5, 0x00}, {}}}},
    {"DroppedByte",
     {"--drop-byte", "2"},
     {{Connect, Connected}, {{0xA5, 0x00}, {}}, {{0x00}, {0xA8, 0x02, 0x02, 0x01, 0xAA}}}},
    {"CorruptedByte",
     {"--corrupt-byte", "2"},
     {{Connect, Connected}, {{0xA5, 0x03}, {0xA8, 0x03, 0x1E, 0x93, 0x07, 0xAA}}}},
    // Replies withheld: the device hangs at that point and answers the rest as before.
    {"WithheldConfirmation",
     {"--withhold-confirm"},
     {{{'K', 'i', 'w', 'u', 0xFF}, {0xA6}}, {{0xA5}, {}}, {Connect, {0xA6}}}},
    // The 10th byte taken in, the second 0xFF, is the first that may complete the password.
    {"PasswordAcceptedFromTheTenthByte",
     {"--accept-from-byte", "10"},
     {{{'K', 'i', 'w', 'u', 0xFF}, {}}, {Connect, Connected}}},
    {"WithheldSecondCrcVerdict",
     {"--withhold-crc-verdict", "2"},
     {{Connect, Connected},
      {{0xA5, 0x06, 0x00, 0x00}, {0xAB}},
      {{0xA5, 0x06, 0x00, 0x00}, {}},
      {{0xA5, 0x06, 0x00, 0x00}, {0xAB}}}},
    {"WithheldEndOfProgramming",
     {"--withhold-program-end"},
     {{Connect, Connected},
      {{0xA5, 0x04, 0x01, 0xA5, 0x80}, {}},
      {{0xA5, 0x07, 0x01, 0xA5, 0x80}, {0xAA}}}},
    {"WithheldVerdict",
     {"--withhold-verdict"},
     {{Connect, Connected},
      {{0xA5, 0x04, 0x01, 0xA5, 0x80}, {0xAA}},
      {{0xA5, 0x07, 0x01, 0xA5, 0x80}, {}},
      {{0xA5, 0x00}, {0xA8, 0x02, 0x02, 0x01, 0xAA}}}},
    {"StartsOverOnAPasswordAfterASession",
     {},
     {{Connect, Connected}, {{0xA5, 0x80, 0xA5, 0xA5}, {}}, {Connect, Connected}}},
};

class DevsimTest : public ::testing::TestWithParam<TDevsimCase> {};

TEST_P(DevsimTest, AnswersByItsRules) {
    const TDevsimCase& c = GetParam();
    TTempDir dir;
    TDevsim device(c.Args, dir.Path());
    TLine line(device.PortPath());
    ASSERT_TRUE(line.IsOpen());
    for (std::size_t i = 0; i < c.Exchanges.size(); ++i) {
        SCOPED_TRACE("exchange " + std::to_string(i));
        line.Send(c.Exchanges[i].Send);
        EXPECT_EQ(line.Receive(), c.Exchanges[i].Reply);
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, DevsimTest, ::testing::ValuesIn(Cases),
                         [](const auto& param) { return std::string(param.param.Name); });

// Keeping line time changes when the device answers, never what.
std::vector<TDevsimCase> AtLineRate() {
    std::vector<TDevsimCase> cases(std::begin(Cases), std::end(Cases));
    for (auto& c : cases)
        c.Args.insert(c.Args.end(), {"--line-rate", "9600"});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(LineRate, DevsimTest, ::testing::ValuesIn(AtLineRate()),
                         [](const auto& param) { return std::string(param.param.Name); });

// At 1200 baud a byte takes 8.3 ms on the line. Eight bytes written at once reach the
// device one line time apart, and the reply to the last one (five bytes) arrives only after
// all thirteen have crossed the line. Lower bounds only: load can but delay. Forty bytes
// written then take a third of a second to cross the line, but the stop comes at once: they
// still reach the trace.
TEST(Devsim, AtLineRateTakesBytesNoFasterThanTheLineAndAllBeforeTheStop) {
    TTempDir dir;
    TDevsim device({"--line-rate", "1200"}, dir.Path());
    TLine line(device.PortPath());
    ASSERT_TRUE(line.IsOpen());
    const double byteMs = 10000.0 / 1200;
    const auto start = std::chrono::steady_clock::now();
    const TBytes query = Cat({Connect, {0xA5, 0x00}});
    line.Send(query);
    const TBytes want = Cat({Connected, {0xA8, 0x02, 0x02, 0x01, 0xAA}});
    const TBytes got = line.ReceiveCount(want.size());
    const double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(got, want);
    EXPECT_GE(elapsed, 13 * byteMs);
    line.Send(TBytes(40, 0x55));
    const auto trace = device.Stop();
    EXPECT_EQ(test::TraceBytes(trace), Cat({query, TBytes(40, 0x55)}));
    for (std::size_t i = 1; i < query.size() && i < trace.size(); ++i)
        EXPECT_GE(trace[i].TimeMs - trace[i - 1].TimeMs, byteMs - 0.2) << "byte " << i;
}

TEST(Devsim, WritesFlashAndTrace) {
    TTempDir dir;
    TDevsim device({"--buffer", "2", "--flash", "16"}, dir.Path());
    {
        TLine line(device.PortPath());
        ASSERT_TRUE(line.IsOpen());
        line.Send(Cat({Connect, {0xA5, 0x04, 0x01, 0xA5, 0x93, 0xA5, 0x25, 0xA5, 0x80}}));
        EXPECT_EQ(line.Receive(), (TBytes{0xA6, 0xAA, 0xA9, 0xAA}));
    }
    const auto trace = device.Stop();
    ASSERT_EQ(trace.size(), 15u);
    EXPECT_EQ(trace[0].Byte, 'K');
    EXPECT_EQ(trace[14].Byte, 0x80);
    EXPECT_LE(trace[0].TimeMs, trace[14].TimeMs);
    TBytes want(16, 0xFF);
    want[0] = 0x01;
    want[1] = 0x13;
    want[2] = 0xA5;
    EXPECT_EQ(device.Flash(), want);
}

TEST(Devsim, IgnoresEverythingWhileSwitchedOff) {
    TTempDir dir;
    TDevsim device({"--power-on-delay", "1500"}, dir.Path());
    TLine line(device.PortPath());
    ASSERT_TRUE(line.IsOpen());
    line.Send(Connect);
    EXPECT_EQ(line.Receive(100), TBytes{});
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
    line.Send(Connect);
    EXPECT_EQ(line.Receive(), Connected);
    const auto trace = device.Stop();
    ASSERT_EQ(trace.size(), 12u);
    EXPECT_EQ(trace[0].Note, "off");
    EXPECT_EQ(trace[11].Note, "");
}

TEST(Devsim, EndsOnTheSuccessCommandWhenAsked) {
    test::TChildProcess device(TARNWICK_DEVSIM_PATH, {"--exit-after-success", "--max-time", "60"});
    const std::string path = device.ReadLine(std::chrono::seconds(10));
    ASSERT_FALSE(path.empty());
    TLine line(path);
    line.Send(Cat({Connect, {0xA5, 0x80, 0xA5, 0xA5, 0xA5, 0x05}}));
    ASSERT_TRUE(device.WaitExit(std::chrono::seconds(10)));
    EXPECT_EQ(device.ExitCode(), 0);
}

TEST(Devsim, EndsCleanlyOnSigterm) {
    test::TChildProcess device(TARNWICK_DEVSIM_PATH, {"--max-time", "60"});
    ASSERT_FALSE(device.ReadLine(std::chrono::seconds(10)).empty());
    device.Signal(SIGTERM);
    ASSERT_TRUE(device.WaitExit(std::chrono::seconds(10)));
    EXPECT_EQ(device.ExitCode(), 0);
}

TEST(Devsim, RefusesBadOptions) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--boot-version", "2"},
                                                 {"--signature", "1E93G7"},
                                                 {"--buffer", "x"},
                                                 {"--bogus"},
                                                 {"--trace"},
                                                 {"--line-rate", "0"},
                                                 {"--line-rate", "fast"}}) {
        test::TChildProcess device(TARNWICK_DEVSIM_PATH, args);
        ASSERT_TRUE(device.WaitExit(std::chrono::seconds(10)));
        EXPECT_EQ(device.ExitCode(), 2) << args[0];
    }
}

}  // namespace
}  // namespace tarnwick

// The emulated chip's line and ports, driven with real firmware over its pty: echo at
// line rate, what the receiver keeps when the firmware stops reading, baud rates that do
// not match, the blink sample's pin changes, and switching on when the host opens.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "avrsim_firmware.h"
#include "avrsim_process.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;

// Bytes the echo program passes on unchanged ('S' would make it pause).
TBytes EchoData(std::size_t count) {
    TBytes data;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t b = static_cast<std::uint8_t>(i * 7 + 1);
        data.push_back(b == 'S' ? 0 : b);
    }
    return data;
}

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The echo program on a chip switched on when the port opens, ready to echo.
class TEchoChip {
  public:
    explicit TEchoChip(const std::string& Mcu, speed_t Baud = B115200,
                       const std::vector<std::string>& More = {})
        : Chip(Joined({"--mcu", Mcu, "--power-on-open", test::FirmwareHex("uart_echo_" + Mcu)},
                      More)) {
        Chip.OpenPort(Baud);
        // PB0 goes high once the UART is set up.
        Ready = Chip.ReadLine(5s).find("PORTB 0x01") != std::string::npos;
    }
    test::TAvrsim Chip;
    bool Ready = false;
};

// A line of the emulator's trace: "12.345 < 4B note".
struct TTraceLine {
    double Ms;
    char Direction;
    int Byte;
    std::string Note;
};

std::vector<TTraceLine> ReadTrace(const std::string& path) {
    std::vector<TTraceLine> lines;
    std::ifstream in(path);
    std::string text;
    const std::regex format(R"((\d+\.\d{3}) ([<>]) ([0-9A-F]{2}) ?(.*))");
    while (std::getline(in, text)) {
        std::smatch m;
        if (std::regex_match(text, m, format))
            lines.push_back({std::stod(m[1]), m[2].str()[0], std::stoi(m[3], nullptr, 16), m[4]});
        else
            lines.push_back({-1, '?', -1, text});
    }
    return lines;
}

// The count before Label in the summary line ("17 durch Überlauf").
long Counted(const std::string& err, const std::string& label) {
    std::smatch m;
    if (!std::regex_search(err, m, std::regex("(\\d+) " + label)))
        return -1;
    return std::stol(m[1]);
}

// Every byte comes back, on both chips (the ATmega8 sets UCSRC through UBRRH's address),
// and no faster than a line at 115200 baud carries them: 10 bits a byte there and back.
TEST(AvrsimLine, EchoesEveryByteAtLineRate) {
    for (const char* mcu : {"atmega328p", "atmega8"}) {
        SCOPED_TRACE(mcu);
        test::TTempDir dir;
        TEchoChip echoChip(mcu, B115200, {"--trace", dir.File("trace.txt")});
        ASSERT_TRUE(echoChip.Ready);
        test::TAvrsim& chip = echoChip.Chip;
        const TBytes data = EchoData(1000);
        const auto start = std::chrono::steady_clock::now();
        chip.Write(data);
        const TBytes echo = chip.Read(data.size(), 20s);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(echo, data);
        EXPECT_GE(took, std::chrono::microseconds(data.size() * 10 * 1000000 / 115200));
        const std::string err = chip.Stop();
        EXPECT_EQ(chip.ExitCode(), 0) << err;  // a clean end on SIGTERM
        EXPECT_EQ(Counted(err, "Byte empfangen"), 1000) << err;
        EXPECT_EQ(Counted(err, "durch Überlauf"), 0) << err;
        // In chip time the echo leaves no faster than the firmware's 117647 baud allow, ten
        // bits a byte (simavr alone would count eleven, and lose bytes here).
        double last = -1;
        int echoed = 0;
        for (const auto& t : ReadTrace(dir.File("trace.txt"))) {
            if (t.Direction != '>')
                continue;
            ++echoed;
            if (last >= 0) {
                ASSERT_GE(t.Ms - last, 10 * 1000.0 / 117647 - 0.001);
            }
            last = t.Ms;
        }
        EXPECT_EQ(echoed, 1000);
    }
}

// While the firmware does not read, two bytes wait in UDR and a third in the shift
// register, which each later byte overwrites: of 20 bytes, the first two and the last
// one are read afterwards, 17 are lost and counted.
TEST(AvrsimLine, KeepsTwoBytesAndTheLastWhenTheFirmwareStopsReading) {
    test::TTempDir dir;
    TEchoChip echoChip("atmega328p", B115200, {"--trace", dir.File("trace.txt")});
    ASSERT_TRUE(echoChip.Ready);
    test::TAvrsim& chip = echoChip.Chip;
    TBytes sent = {'S'};
    for (std::uint8_t b = 'a'; b < 'a' + 20; ++b)
        sent.push_back(b);
    chip.Write(sent);
    // The echo program pauses 200 ms after 'S'; no fifth byte comes after the fourth.
    const TBytes echo = chip.Read(4, 2s);
    EXPECT_EQ(echo, (TBytes{'S', 'a', 'b', 't'}));
    EXPECT_EQ(chip.Read(1, 300ms), TBytes{});
    const std::string err = chip.Stop();
    EXPECT_EQ(Counted(err, "durch Überlauf"), 17) << err;
    EXPECT_NE(err.find("Überlauf: Byte nicht rechtzeitig gelesen"), std::string::npos) << err;

    // The trace shows the host's bytes one frame of 10 bits at 115200 baud apart, and which
    // were lost: 'c' to 's', each overwritten by the next.
    const std::vector<TTraceLine> trace = ReadTrace(dir.File("trace.txt"));
    std::vector<TTraceLine> fromHost;
    for (const auto& t : trace)
        if (t.Direction == '<')
            fromHost.push_back(t);
    ASSERT_EQ(fromHost.size(), sent.size());
    std::string lost;
    for (std::size_t i = 0; i < fromHost.size(); ++i) {
        EXPECT_EQ(fromHost[i].Byte, sent[i]);
        if (i > 0) {
            EXPECT_NEAR(fromHost[i].Ms - fromHost[i - 1].Ms, 10 * 1000.0 / 115200, 0.001) << i;
        }
        std::smatch m;
        if (std::regex_match(fromHost[i].Note, m, std::regex("Überlauf, ([0-9A-F]{2}) verloren")))
            lost += static_cast<char>(std::stoi(m[1], nullptr, 16));
    }
    EXPECT_EQ(lost, "cdefghijklmnopqrs");
}

// The firmware runs at 117647 baud (115200 with U2X at 16 MHz, 2.1 % off): a host at
// 115200 talks to it, one at a neighbouring rate gets nothing through either way.
TEST(AvrsimLine, LetsNoByteThroughAtAMismatchedBaudRate) {
    const struct {
        speed_t Baud;
        std::uint32_t Value;
        bool Crosses;
    } cases[] = {
        {B115200, 115200, true},
        {B57600, 57600, false},
        {B230400, 230400, false},
        {B9600, 9600, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        TEchoChip echoChip("atmega328p", c.Baud);
        ASSERT_TRUE(echoChip.Ready);
        test::TAvrsim& chip = echoChip.Chip;
        const TBytes data = EchoData(8);
        chip.Write(data);
        const TBytes echo = chip.Read(data.size(), c.Crosses ? 5s : 500ms);
        const std::string err = chip.Stop();
        if (c.Crosses) {
            EXPECT_EQ(echo, data);
            EXPECT_EQ(err.find("Baudrate passt nicht"), std::string::npos) << err;
        } else {
            EXPECT_TRUE(echo.empty());
            EXPECT_NE(err.find("Baudrate passt nicht: Firmware 117647 Baud, Host " +
                               std::to_string(c.Value) + " Baud"),
                      std::string::npos)
                << err;
            EXPECT_EQ(Counted(err, "bei falscher Baudrate"), 8) << err;
        }
    }
}

struct TPinChange {
    double Ms;
    std::string Port;
    int Value;
};

TPinChange ParsePinLine(const std::string& line) {
    std::smatch m;
    if (!std::regex_match(line, m, std::regex(R"((\d+\.\d) (PORT[A-L]) 0x([0-9A-F]{2}))")))
        return {-1, line, -1};
    return {std::stod(m[1]), m[2], std::stoi(m[3], nullptr, 16)};
}

// The blink sample, started through the blank boot section, toggles PB0 every 500 ms of
// chip time; the changes come on standard output or in the pins file.
TEST(AvrsimPins, ReportsTheBlinkSampleTogglingItsPin) {
    const struct {
        const char* Mcu;
        bool ToFile;
    } cases[] = {{"atmega328p", false}, {"atmega8", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Mcu);
        test::TTempDir dir;
        std::vector<std::string> args = {"--mcu", c.Mcu,
                                         test::FirmwareHex(std::string("blink_") + c.Mcu)};
        if (c.ToFile)
            args.insert(args.begin(), {"--pins", dir.File("pins.txt")});
        test::TAvrsim chip(args);
        std::vector<TPinChange> changes;
        if (c.ToFile) {
            // Four changes take 1.5 s of chip time.
            for (int i = 0; i < 100 && changes.size() < 4; ++i) {
                std::this_thread::sleep_for(50ms);
                changes.clear();
                std::ifstream in(dir.File("pins.txt"));
                std::string line;
                while (std::getline(in, line))
                    changes.push_back(ParsePinLine(line));
            }
        } else {
            for (int i = 0; i < 4; ++i)
                changes.push_back(ParsePinLine(chip.ReadLine(5s)));
        }
        chip.Stop();
        ASSERT_GE(changes.size(), 4u);
        for (std::size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(changes[i].Port, "PORTB");
            EXPECT_EQ(changes[i].Value, i % 2 == 0 ? 0x01 : 0x00);
            EXPECT_NEAR(changes[i].Ms, 500.0 * static_cast<double>(i), 1.0);
        }
    }
}

// The chip stays off until the host opens the port (--power-on-open) or its delay is
// over (--power-on-delay): nothing comes before, and the first pin change comes at chip
// time 0 after that.
TEST(AvrsimPower, SwitchesOnWhenTheHostOpensThePortOrAfterItsDelay) {
    const struct {
        std::vector<std::string> Args;
        bool Open;
    } cases[] = {
        {{"--power-on-open"}, true},
        {{"--power-on-delay", "600"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args[0]);
        std::vector<std::string> args = c.Args;
        args.push_back(test::FirmwareHex("blink_atmega328p"));
        test::TAvrsim chip(args);
        EXPECT_EQ(chip.ReadLine(300ms), "");
        if (c.Open)
            chip.OpenPort();
        const TPinChange first = ParsePinLine(chip.ReadLine(5s));
        EXPECT_EQ(first.Port, "PORTB");
        EXPECT_EQ(first.Value, 0x01);
        EXPECT_NEAR(first.Ms, 0.0, 1.0);
        const TPinChange second = ParsePinLine(chip.ReadLine(5s));
        EXPECT_NEAR(second.Ms, 500.0, 1.0);
    }
}

// The reset_flags program in the boot section shows MCUSR on PORTB: a power-on (PORF)
// at 0 ms, a watchdog reset (WDRF) it asks for 16 ms later, and with --reset-on-open one
// through the RESET pin (EXTRF) at every open of the port. Each starts at the boot section
// at once (a start at 0 would slide through the blank flash for a millisecond), and the
// port is cleared by each reset.
TEST(AvrsimReset, StartsAtTheBootSectionAfterEveryKindOfReset) {
    test::TAvrsim chip({"--reset-on-open", test::FirmwareHex("reset_flags_atmega328p")});
    auto next = [&] { return ParsePinLine(chip.ReadLine(5s)); };
    const TPinChange powerOn = next();
    EXPECT_EQ(powerOn.Value, 0x81);
    EXPECT_NEAR(powerOn.Ms, 0.0, 0.1);
    EXPECT_EQ(next().Value, 0x00);
    const TPinChange watchdog = next();
    EXPECT_EQ(watchdog.Value, 0x88);
    EXPECT_NEAR(watchdog.Ms, 16.0, 0.5);
    for (int open = 0; open < 2; ++open) {
        SCOPED_TRACE(open);
        chip.OpenPort();
        const TPinChange cleared = next();
        EXPECT_EQ(cleared.Value, 0x00);
        const TPinChange external = next();
        EXPECT_EQ(external.Value, 0x82);
        EXPECT_NEAR(external.Ms, cleared.Ms, 0.1);
        chip.ClosePort();
    }
}

}  // namespace
}  // namespace tarnwick

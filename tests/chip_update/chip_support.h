// What the whole runs on the emulated chip share: the chip as a child process with its
// flash and EEPROM in files, the pin changes it reports, what its flash should hold after
// an update (judged by srec_cat), a tarnwick-cli update run against it, and a raw host
// that writes and reads the line itself.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"
#include "hex_record.h"
#include "temp_dir.h"

namespace tarnwick::test {

// Variant: "" for 115200 baud, "-1000000baud" for the 1 Mbaud build.
inline std::string BootHex(const std::string& Mcu, const std::string& Variant = "") {
    return std::string(TARNWICK_FIRMWARE_DIR) + "/tarnwick-boot-" + Mcu + Variant + ".hex";
}

inline std::string SampleHex(const std::string& Name) {
    return std::string(TARNWICK_SAMPLES_DIR) + "/" + Name + ".hex";
}

// The sample Name with Bytes added from Address on (below 64 KiB): another program for an
// update, or bytes the test wants in a given page. Returns the new HEX file's path.
inline std::string SampleWith(const TTempDir& Dir, const std::string& Name, std::uint16_t Address,
                              const std::vector<std::uint8_t>& Bytes) {
    std::ifstream in(SampleHex(Name));
    std::string text, line;
    while (std::getline(in, line))
        if (line.rfind(":00000001", 0) != 0)
            text += line + "\n";
    for (std::size_t at = 0; at < Bytes.size(); at += 16) {
        const auto end =
            Bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at + 16, Bytes.size()));
        text += DataRecord(static_cast<std::uint16_t>(Address + at),
                           std::vector<std::uint8_t>(
                               Bytes.begin() + static_cast<std::ptrdiff_t>(at), end)) +
                "\n";
    }
    return Dir.Write(Name + "-more.hex", text + EofRecord + "\n");
}

// One change of an output port as the chip reports it: "942.1 PORTB 0x01".
struct TPinChange {
    double TimeMs = 0;
    std::string Port;
    unsigned Value = 0;
};

inline std::optional<TPinChange> ParsePinChange(const std::string& Line) {
    std::istringstream in(Line);
    TPinChange change;
    std::string value;
    if (!(in >> change.TimeMs >> change.Port >> value) || change.Port.rfind("PORT", 0) != 0)
        return std::nullopt;
    change.Value = static_cast<unsigned>(std::stoul(value, nullptr, 16));
    return change;
}

// The emulated chip with the bootloader of its kind, its flash and EEPROM kept in Dir: a
// chip started again on the same Dir is the same chip switched on again.
class TEmulatedChip {
  public:
    TEmulatedChip(const std::string& Mcu, const TTempDir& Dir,
                  const std::vector<std::string>& More = {}, const std::string& Variant = "")
        : FlashPath(Dir.File("flash.bin")),
          Process(TARNWICK_AVRSIM_PATH, Args(Mcu, Dir, More, Variant)) {
        Path = Process.ReadLine(std::chrono::seconds(10));
        if (Path.empty())
            throw std::runtime_error("tarnwick-avrsim printed no port: " + Process.Err());
    }

    const std::string& PortPath() const { return Path; }

    // Whether PORTB's bit 0 was seen going high and low again (in either order) within
    // Timeout: the blink sample running.
    bool SeenBlinking(std::chrono::milliseconds Timeout) {
        const auto end = std::chrono::steady_clock::now() + Timeout;
        bool high = false;
        bool low = false;
        while (!(high && low)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            const auto change = ParsePinChange(Process.ReadLine(left));
            if (change && change->Port == "PORTB") {
                ((change->Value & 1) != 0 ? high : low) = true;
                Changes.push_back(*change);
            }
        }
        return true;
    }

    // Every PORTB change read within Timeout.
    std::vector<TPinChange> PortBChanges(std::chrono::milliseconds Timeout) {
        const auto end = std::chrono::steady_clock::now() + Timeout;
        std::vector<TPinChange> changes;
        for (auto now = std::chrono::steady_clock::now(); now < end;
             now = std::chrono::steady_clock::now()) {
            const auto change = ParsePinChange(
                Process.ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(end - now)));
            if (change && change->Port == "PORTB")
                changes.push_back(*change);
        }
        return changes;
    }

    // SIGKILL is a power cut; SIGTERM a clean end. Returns what the chip said on standard error.
    std::string Stop(int Signal = SIGTERM) {
        Process.Signal(Signal);
        Process.WaitExit(std::chrono::seconds(10));
        Process.ReadAll(std::chrono::seconds(2));
        return Process.Err();
    }

    std::vector<std::uint8_t> Flash() const { return ReadBinaryFile(FlashPath); }

    std::vector<TPinChange> Changes;

  private:
    static std::vector<std::string> Args(const std::string& Mcu, const TTempDir& Dir,
                                         std::vector<std::string> More,
                                         const std::string& Variant) {
        std::vector<std::string> args = {"--mcu",      Mcu,
                                         "--flash",    Dir.File("flash.bin"),
                                         "--eeprom",   Dir.File("eeprom.bin"),
                                         "--max-time", "300"};
        args.insert(args.end(), More.begin(), More.end());
        args.push_back(BootHex(Mcu, Variant));
        return args;
    }

    std::string FlashPath;
    TChildProcess Process;
    std::string Path;
};

// What the chip's flash must hold: the image and the bootloader, erased bytes elsewhere. On
// a chip without a boot section (JumpAtZero) the bootloader's jump to itself stands at 0 in
// place of the image's first word.
inline std::vector<std::uint8_t> ExpectedFlash(const TTempDir& Dir, const std::string& Image,
                                               const std::string& Mcu, std::size_t FlashBytes,
                                               bool JumpAtZero = false,
                                               const std::string& Variant = "") {
    const std::string out = Dir.File("expected.bin");
    std::vector<std::string> argv = {"srec_cat", "(", Image, "-intel"};
    if (JumpAtZero)
        argv.insert(argv.end(), {"-exclude", "0", "2"});
    argv.insert(argv.end(), {BootHex(Mcu, Variant), "-intel", ")", "-fill", "0xFF", "0",
                             std::to_string(FlashBytes), "-o", out, "-binary"});
    RunTool(argv);
    return ReadBinaryFile(out);
}

// A chip on one wire: its RC oscillator's 8 MHz, the wire on PB1 (PD0 on the ATmega48),
// the host at 19200 baud.
inline std::vector<std::string> OneWireChipArgs(const std::string& Mcu) {
    return {"--frequency", "8000000", "--one-wire", Mcu == "atmega48" ? "PD0" : "PB1"};
}
inline const std::vector<std::string> OneWireFast = {"--baud", "19200", "--fast",
                                                     "--no-power-cycle"};

// Whether PB0 went high in the changes (the blink sample running).
inline bool AnyPb0High(const std::vector<TPinChange>& Changes) {
    for (const TPinChange& c : Changes)
        if ((c.Value & 1) != 0)
            return true;
    return false;
}

// tarnwick-cli update FILE into the chip with Args; its exit code and output.
inline TProcessResult UpdateChip(const TEmulatedChip& Chip, const std::string& Image,
                                 const std::vector<std::string>& Args) {
    std::vector<std::string> argv = {TARNWICK_CLI_PATH, "update", "--port", Chip.PortPath(),
                                     "--yes"};
    argv.insert(argv.end(), Args.begin(), Args.end());
    argv.push_back(Image);
    return RunProcess(argv, std::chrono::seconds(120));
}

using TBytes = std::vector<std::uint8_t>;

// The chip's port opened raw at 115200 baud by the test itself, as a host that keeps or
// breaks the protocol at will.
class TRawHost {
  public:
    explicit TRawHost(const std::string& Path, speed_t Speed = B115200)
        : Fd(::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        if (Fd < 0)
            throw std::runtime_error("cannot open " + Path);
        termios tio{};
        tcgetattr(Fd, &tio);
        cfmakeraw(&tio);
        cfsetispeed(&tio, Speed);
        cfsetospeed(&tio, Speed);
        tcsetattr(Fd, TCSANOW, &tio);
    }
    ~TRawHost() { ::close(Fd); }
    TRawHost(const TRawHost&) = delete;
    TRawHost& operator=(const TRawHost&) = delete;

    void Send(const TBytes& Bytes) {
        std::size_t done = 0;
        while (done < Bytes.size()) {
            const ssize_t n = ::write(Fd, Bytes.data() + done, Bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{Fd, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                throw std::runtime_error("the chip's port went away");
            }
        }
    }

    // The next Count bytes from the chip, fewer when Timeout passes first.
    TBytes Read(std::size_t Count, std::chrono::milliseconds Timeout) {
        TBytes got;
        const auto end = std::chrono::steady_clock::now() + Timeout;
        while (got.size() < Count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{Fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            std::uint8_t byte = 0;
            if (::read(Fd, &byte, 1) == 1)
                got.push_back(byte);
        }
        return got;
    }

  private:
    int Fd;
};

}  // namespace tarnwick::test

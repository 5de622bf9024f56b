// What the whole runs on the emulated chip share: the chip as a child process with its
// flash and EEPROM in files, the pin changes it reports, what its flash should hold after
// an update (judged by srec_cat), and a tarnwick-cli update run against it.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"

namespace tarnwick::test {

inline std::string BootHex(const std::string& Mcu) {
    return std::string(TARNWICK_FIRMWARE_DIR) + "/tarnwick-boot-" + Mcu + ".hex";
}

inline std::string SampleHex(const std::string& Name) {
    return std::string(TARNWICK_SAMPLES_DIR) + "/" + Name + ".hex";
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
                  const std::vector<std::string>& More = {})
        : FlashPath(Dir.File("flash.bin")), Process(TARNWICK_AVRSIM_PATH, Args(Mcu, Dir, More)) {
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
                                         std::vector<std::string> More) {
        std::vector<std::string> args = {"--mcu",      Mcu,
                                         "--flash",    Dir.File("flash.bin"),
                                         "--eeprom",   Dir.File("eeprom.bin"),
                                         "--max-time", "300"};
        args.insert(args.end(), More.begin(), More.end());
        args.push_back(BootHex(Mcu));
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
                                               bool JumpAtZero = false) {
    const std::string out = Dir.File("expected.bin");
    std::vector<std::string> argv = {"srec_cat", "(", Image, "-intel"};
    if (JumpAtZero)
        argv.insert(argv.end(), {"-exclude", "0", "2"});
    argv.insert(argv.end(), {BootHex(Mcu), "-intel", ")", "-fill", "0xFF", "0",
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

}  // namespace tarnwick::test

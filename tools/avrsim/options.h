// The command line of tarnwick-avrsim.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace avrsim {

struct TOptions {
    std::string Firmware;  // the bootloader's HEX (may be left out when the flash file exists)
    std::string App;       // an application HEX programmed beside it
    std::string Mcu = "atmega328p";
    std::uint32_t Frequency = 16000000;
    std::optional<std::uint32_t> BootAddress;  // byte address of the reset vector
    std::string FlashFile;
    std::string EepromFile;
    std::string TraceFile;
    std::string PinsFile;  // empty: pin changes on standard output
    bool NoPins = false;
    int PowerOnDelayMs = 0;
    bool PowerOnOpen = false;
    bool ResetOnOpen = false;
    bool NoBaudCheck = false;
    bool RxdLow = false;  // RXD held low: a 0x00 with a framing error every frame
    int PauseEvery = 0;   // the host's line pauses after every that many bytes ...
    int PauseMs = 0;      // ... for this long (chip time)
    double MaxTimeS = 0;
    double ClockErrorPercent = 0;  // the chip's clock this far off its nominal frequency
    char OneWirePort = 0;          // the single wire's pin (port letter, 0: the UART)
    int OneWireBit = 0;
    std::optional<std::uint32_t> PowerCutAtWrite;  // page address
};

void Usage(std::ostream& Out);
// The options, or nothing after a message on standard error for a bad command line.
// --help and --version print and end the program.
std::optional<TOptions> ParseOptions(int argc, char** argv);

}  // namespace avrsim

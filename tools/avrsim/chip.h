// The emulated chip: a libsimavr core with its flash and EEPROM kept in files, started at
// its boot section as the BOOTRST fuse does, self-programming timed as on silicon and
// kept out of the boot section, and the changes of its port registers reported.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "memory_file.h"
#include "options.h"

struct avr_t;
struct avr_io_t;
struct avr_irq_t;
struct avr_flash_t;

namespace avrsim {

std::string HexAddress(std::uint32_t Address);  // "0x7C00"

class TChip {
  public:
    // Throws std::runtime_error with a message for the user when the chip cannot be made.
    explicit TChip(const TOptions& Options);
    ~TChip();
    TChip(const TChip&) = delete;
    TChip& operator=(const TChip&) = delete;

    avr_t* Avr() const { return Core; }
    std::uint32_t Frequency() const { return Hz; }
    std::uint32_t FlashSize() const { return FlashBytes; }
    std::uint32_t BootAddress() const { return BootStart; }
    double Milliseconds() const;  // chip time since power-on

    // Where the port changes go (standard output when Out is null).
    void ReportPinsTo(std::FILE* Out) { Pins = Out; }
    // Starts the chip (runs nothing yet): from now on its ports report.
    void PowerOn();
    // A low pulse on the RESET pin (what a DTR auto-reset circuit does when the host opens
    // the port): the chip starts again at its reset vector with EXTRF set in MCUSR.
    void ExternalReset();
    // Runs until the chip's clock reaches Cycle; false once the firmware has stopped for
    // good (Stopped() says why).
    bool RunUntil(std::uint64_t Cycle);
    const std::string& Stopped() const { return StopReason; }
    // Leaves the bits of Mask in the port's reports out (the single wire's pin).
    void HidePin(char Port, std::uint8_t Mask) {
        WirePort = Port;
        WireMask = Mask;
    }
    // Whether the chip stopped for the power cut that --power-cut-at-write asked for.
    bool PowerCutHappened() const { return PowerCut; }
    // Saves the EEPROM when the firmware changed it.
    void SaveEeprom();

    struct TCounters {
        long PagesWritten = 0;  // erases and writes done
        long BootWrites = 0;    // erases and writes into the boot section, refused
        long IgnoredSpm = 0;    // SPM while busy or outside the boot section
        long PinLinesLost = 0;  // port changes not reported: their reader was full
    };
    const TCounters& Counters() const { return Count; }

    // Set when the emulator refused an SPM: simavr then warns that none came.
    static bool SpmRefused;
    // Set when simavr met an opcode it does not know.
    static bool InvalidOpcode;

  private:
    static int FlashIoctl(avr_io_t* Io, std::uint32_t Ctl, void* Param);
    // The ATtiny cores of libsimavr have no self-programming module: this adds one (the page
    // buffer, erase and write), which the timing wrapper then wraps as on the ATmegas.
    static avr_io_t* AddTinySelfProgramming(avr_t* Avr, const std::string& Mcu);
    // The SPM page buffer all ones, as silicon has it after a page write.
    static void ClearPageBuffer(avr_flash_t* Flash);
    static std::uint64_t SpmDone(avr_t* Avr, std::uint64_t When, void* Param);
    static void PortChanged(avr_irq_t* Irq, std::uint32_t Value, void* Param);
    static void Reset(avr_t* Avr);
    void ReportPort(char Name, int Value);
    int Spm(avr_io_t* Io, std::uint32_t Ctl, void* Param);
    void LoadFlash(const TOptions& Options);
    void LoadEeprom();

    avr_t* Core = nullptr;
    std::uint32_t Hz;
    std::uint32_t FlashBytes = 0;
    std::uint32_t BootStart = 0;
    std::uint32_t NrwwStart = 0;  // the section the CPU halts for while it is written
    std::optional<std::uint32_t> CutAtWrite;
    bool PowerCut = false;
    char WirePort = 0;
    std::uint8_t WireMask = 0;
    TMemoryFile FlashFile;
    TMemoryFile EepromFile;
    std::vector<std::uint8_t> SavedEeprom;
    std::uint8_t* Eeprom = nullptr;
    std::FILE* Pins = nullptr;
    bool ReportPins = true;
    bool Powered = false;
    std::uint64_t PowerOnCycle = 0;

    // The flash module's own SPM handling, which this wraps.
    avr_io_t* FlashIo = nullptr;
    int (*FlashIoctlOriginal)(avr_io_t*, std::uint32_t, void*) = nullptr;
    bool SpmBusy = false;
    std::uint32_t BusyPage = 0;
    std::uint32_t PageBytes = 0;
    bool HaveRww = false;
    // While RWWSB is set the read-while-write section reads as blank; its true content
    // waits here until the firmware enables the section again (or a reset).
    bool RwwHidden = false;
    std::vector<std::uint8_t> RwwShadow;
    void ShowRww();
    const std::uint8_t* TruePage(std::uint32_t Page) const;

    struct TPort {
        char Name;
        int Value;
        TChip* Chip;
    };
    std::vector<TPort> Ports;

    // simavr's hooks carry no parameter of ours; there is one chip.
    static TChip* Current;

    void (*ResetOriginal)(avr_t*) = nullptr;
    bool ExternalResetting = false;

    TCounters Count;
    std::string StopReason;
};

}  // namespace avrsim

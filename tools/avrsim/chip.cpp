#include "chip.h"

#include <simavr/avr_eeprom.h>
#include <simavr/avr_flash.h>
#include <simavr/avr_ioport.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_regbit.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "hex_file.h"

namespace avrsim {

namespace {

// The host's clock drives the chip's: a sleeping core only moves its cycle count on, and
// the main loop waits for the wall clock.
void SleepNot(avr_t*, avr_cycle_count_t) {}

void Log(avr_t*, const int level, const char* format, va_list ap) {
    if (level > LOG_WARNING)
        return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, ap);
    // The emulator reports crashes itself, and a wrap of the program counter is none.
    if (std::strstr(text, "avr_sadly_crashed") != nullptr)
        return;
    if (TChip::SpmRefused && std::strstr(text, "SPM not received") != nullptr) {
        TChip::SpmRefused = false;
        return;
    }
    // simavr carries on after an opcode it does not know, at the same address for ever.
    if (std::strstr(text, "Invalid Opcode") != nullptr) {
        TChip::InvalidOpcode = true;
        return;
    }
    // Without its colours and line ends.
    std::string line;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\x1b') {
            while (*c != '\0' && *c != 'm')
                ++c;
            if (*c == '\0')
                break;
        } else if (*c != '\n' && *c != '\r') {
            line += *c;
        }
    }
    if (!line.empty())
        std::cerr << "tarnwick-avrsim: simavr: " << line << std::endl;
}

// The largest boot section the chip offers. Below it lies the read-while-write section: the
// CPU runs on while a page there is written. At and above it the CPU halts for a write.
std::uint32_t LargestBootSection(std::uint32_t flashBytes) {
    if (flashBytes <= 16 * 1024)
        return 2048;
    if (flashBytes <= 32 * 1024)
        return 4096;
    return 8192;
}

avr_io_t* FindIo(avr_t* avr, const char* kind) {
    for (avr_io_t* io = avr->io_port; io != nullptr; io = io->next)
        if (io->kind != nullptr && std::strcmp(io->kind, kind) == 0)
            return io;
    return nullptr;
}

class TQuietStdout {
  public:
    TQuietStdout() {
        std::fflush(stdout);
        Saved = dup(1);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, 1);
            close(null);
        }
    }
    ~TQuietStdout() {
        std::fflush(stdout);
        if (Saved >= 0) {
            dup2(Saved, 1);
            close(Saved);
        }
    }

  private:
    int Saved = -1;
};

avr_t* FinishedCore = nullptr;

}  // namespace

TChip* TChip::Current = nullptr;
bool TChip::SpmRefused = false;
bool TChip::InvalidOpcode = false;

std::string HexAddress(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", v);
    return text;
}

TChip::TChip(const TOptions& o)
    : Hz(static_cast<std::uint32_t>(
          std::lround(o.Frequency * (1.0 + o.ClockErrorPercent / 100.0)))),
      CutAtWrite(o.PowerCutAtWrite),
      FlashFile(o.FlashFile),
      EepromFile(o.EepromFile) {
    avr_global_logger_set(Log);
    {
        // Some cores print notes on standard output, where the port's path must come first.
        TQuietStdout quiet;
        Core = avr_make_mcu_by_name(o.Mcu.c_str());
        if (Core != nullptr)
            avr_init(Core);
    }
    if (Core == nullptr)
        throw std::runtime_error("unbekannter Chip " + o.Mcu);
    Core->log = LOG_WARNING;
    Core->frequency = Hz;
    Core->sleep = SleepNot;
    FlashBytes = Core->flashend + 1;
    ReportPins = !o.NoPins;

    FlashIo = FindIo(Core, "flash");
    if (FlashIo == nullptr)
        FlashIo = AddTinySelfProgramming(Core, o.Mcu);
    if (FlashIo != nullptr) {
        auto* flash = reinterpret_cast<avr_flash_t*>(FlashIo);
        PageBytes = flash->spm_pagesize;
        HaveRww = (flash->flags & AVR_SELFPROG_HAVE_RWW) != 0;
        FlashIoctlOriginal = FlashIo->ioctl;
        FlashIo->ioctl = FlashIoctl;
        ClearPageBuffer(flash);
    }
    LoadFlash(o);
    LoadEeprom();
    Current = this;
    ResetOriginal = Core->reset;
    Core->reset = Reset;

    Ports.reserve(16);
    for (char name = 'A'; name <= 'L'; ++name) {
        avr_irq_t* irq = avr_io_getirq(Core, AVR_IOCTL_IOPORT_GETIRQ(name), IOPORT_IRQ_REG_PORT);
        if (irq == nullptr)
            continue;
        Ports.push_back({name, -1, this});
        // Every write is seen, also one that sets again what was there before a reset.
        avr_irq_set_flags(irq, avr_irq_get_flags(irq) & ~IRQ_FLAG_FILTERED);
        avr_irq_register_notify(irq, PortChanged, &Ports.back());
    }
}

TChip::~TChip() {
    Current = nullptr;
    if (Core != nullptr)
        avr_terminate(Core);
    // simavr frees neither the core nor its IRQs; they stay with the process to its end.
    FinishedCore = Core;
}

void TChip::LoadFlash(const TOptions& o) {
    std::uint8_t* flash = Core->flash;
    std::memset(flash, 0xFF, FlashBytes);
    std::string error;
    if (FlashFile.Enabled()) {
        FlashFile.Load(flash, FlashBytes, error);
        if (!error.empty())
            throw std::runtime_error(error);
    }
    std::optional<std::uint32_t> firmwareStart;
    for (const std::string* path : {&o.Firmware, &o.App}) {
        if (path->empty())
            continue;
        const THexImage image = ReadHexFile(*path);
        if (!image.Error.empty())
            throw std::runtime_error(*path + ": " + image.Error);
        if (image.EndAddress() > FlashBytes)
            throw std::runtime_error(*path + " reicht über das Ende des Flashs (" +
                                     std::to_string(FlashBytes) + " Byte)");
        for (const THexChunk& c : image.Chunks)
            std::memcpy(flash + c.Address, c.Bytes.data(), c.Bytes.size());
        if (path == &o.Firmware && !image.Empty())
            firmwareStart = image.LowestAddress();
    }
    // The boot section starts where the bootloader does; a firmware low in the flash is
    // an application, and the chip keeps the default 1 KiB boot section. A chip without a
    // boot section (no read-while-write section either: the ATtinys, the ATmega48) starts
    // at 0, where its bootloader keeps a jump to itself.
    if (o.BootAddress) {
        BootStart = *o.BootAddress;
    } else if (!HaveRww) {
        BootStart = 0;
    } else if (firmwareStart && *firmwareStart >= FlashBytes / 2) {
        BootStart = *firmwareStart;
    } else {
        BootStart = FlashBytes - 1024;
    }
    if (BootStart >= FlashBytes || BootStart % 2 != 0)
        throw std::runtime_error("Bootadresse " + HexAddress(BootStart) + " liegt nicht im Flash");
    NrwwStart = FlashBytes - LargestBootSection(FlashBytes);
    Core->codeend = FlashBytes - 1;
    Core->reset_pc = BootStart;
    Core->pc = BootStart;
    // Written whole at start (also when read from it: a short file grows to the flash's
    // size), so that every page can go into it in place.
    if (FlashFile.Enabled() && !FlashFile.SaveAll(flash, FlashBytes, error))
        throw std::runtime_error(error);
}

void TChip::LoadEeprom() {
    auto* io = reinterpret_cast<avr_eeprom_t*>(FindIo(Core, "eeprom"));
    if (io == nullptr || io->eeprom == nullptr)
        return;
    Eeprom = io->eeprom;
    if (!EepromFile.Enabled())
        return;
    std::string error;
    EepromFile.Load(Eeprom, io->size, error);
    if (!error.empty())
        throw std::runtime_error(error);
    SavedEeprom.assign(Eeprom, Eeprom + io->size);
    if (!EepromFile.SaveAll(Eeprom, io->size, error))
        throw std::runtime_error(error);
}

void TChip::SaveEeprom() {
    if (Eeprom == nullptr || !EepromFile.Enabled() ||
        std::memcmp(SavedEeprom.data(), Eeprom, SavedEeprom.size()) == 0)
        return;
    SavedEeprom.assign(Eeprom, Eeprom + SavedEeprom.size());
    std::string error;
    if (!EepromFile.SaveAll(Eeprom, SavedEeprom.size(), error))
        std::cerr << "tarnwick-avrsim: " << error << std::endl;
}

double TChip::Milliseconds() const {
    return static_cast<double>(Core->cycle - PowerOnCycle) * 1000.0 / Hz;
}

void TChip::PowerOn() {
    Powered = true;
    PowerOnCycle = Core->cycle;
}

bool TChip::RunUntil(std::uint64_t cycle) {
    while (Core->cycle < cycle) {
        const avr_flashaddr_t pc = Core->pc;
        int state = avr_run(Core);
        // simavr stops at the end of the flash; silicon's program counter wraps round to 0,
        // so a chip whose boot section is blank runs into the application.
        if (state == cpu_Crashed && pc + 4 >= FlashBytes) {
            Core->pc = 0;
            Core->state = state = cpu_Running;
        }
        if (PowerCut) {
            StopReason = "Stromausfall beim Schreiben der Seite " + HexAddress(*CutAtWrite);
            return false;
        }
        if (InvalidOpcode) {
            StopReason = "Firmware abgestürzt: ungültiger Befehl bei " + HexAddress(pc);
            return false;
        }
        if (state == cpu_Done) {
            StopReason = "Firmware angehalten (schläft mit gesperrten Interrupts)";
            return false;
        }
        if (state == cpu_Crashed) {
            StopReason = "Firmware abgestürzt bei " + HexAddress(pc);
            return false;
        }
    }
    return true;
}

void TChip::PortChanged(avr_irq_t*, std::uint32_t value, void* param) {
    auto* port = static_cast<TPort*>(param);
    TChip& chip = *port->Chip;
    // The single wire's pin is the line's: its bits are not reported.
    const int v =
        static_cast<int>(value & 0xFF & ~(port->Name == chip.WirePort ? chip.WireMask : 0));
    if (v == port->Value || !chip.ReportPins)
        return;
    port->Value = v;
    chip.ReportPort(port->Name, v);
}

void TChip::ReportPort(char name, int value) {
    std::FILE* out = Pins != nullptr ? Pins : stdout;
    // A reader that does not keep up loses lines rather than stopping the chip's clock.
    pollfd p{fileno(out), POLLOUT, 0};
    if (poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0) {
        ++Count.PinLinesLost;
        return;
    }
    std::fprintf(out, "%.1f PORT%c 0x%02X\n", Milliseconds(), name, value);
    std::fflush(out);
}

void TChip::Reset(avr_t* avr) {
    if (Current == nullptr)
        return;
    TChip& chip = *Current;
    if (chip.ResetOriginal != nullptr)
        chip.ResetOriginal(avr);
    // simavr's own resets come from the watchdog.
    char when[32];
    std::snprintf(when, sizeof when, "%.1f", chip.Milliseconds());
    std::cerr << "tarnwick-avrsim: Reset "
              << (chip.ExternalResetting ? "am RESET-Pin" : "durch den Watchdog") << " bei " << when
              << " ms" << std::endl;
    // The ports' registers are cleared: the pins are inputs again.
    for (TPort& port : chip.Ports) {
        if (port.Value > 0 && chip.ReportPins)
            chip.ReportPort(port.Name, 0);
        port.Value = 0;
    }
    // A page write under way is taken as done.
    if (chip.SpmBusy) {
        avr_cycle_timer_cancel(avr, SpmDone, &chip);
        SpmDone(avr, 0, &chip);
    }
    chip.ShowRww();
}

void TChip::ExternalReset() {
    ExternalResetting = true;
    avr_reset(Core);
    ExternalResetting = false;
    avr_regbit_clear(Core, Core->reset_flags.porf);
    avr_regbit_clear(Core, Core->reset_flags.wdrf);
    avr_regbit_set(Core, Core->reset_flags.extrf);
}

}  // namespace avrsim

#include "chip.h"

#include <simavr/avr_eeprom.h>
#include <simavr/avr_flash.h>
#include <simavr/avr_ioport.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_regbit.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "hex_file.h"

namespace avrsim {

namespace {

// A page erase and a page write take 3.7 to 4.5 ms on these chips; the slow end is what a
// bootloader must be ready for.
constexpr double SpmMs = 4.5;

constexpr int SpmEnBit = 0;
constexpr int RwwsbBit = 6;

// The host's clock drives the chip's: a sleeping core only moves its cycle count on, and
// the main loop waits for the wall clock.
void SleepNot(avr_t*, avr_cycle_count_t) {}

// Set when the emulator refused an SPM: simavr then warns that none came.
bool SpmRefused = false;

void Log(avr_t*, const int level, const char* format, va_list ap) {
    if (level > LOG_WARNING)
        return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, ap);
    // The emulator reports crashes itself, and a wrap of the program counter is none.
    if (std::strstr(text, "avr_sadly_crashed") != nullptr)
        return;
    if (SpmRefused && std::strstr(text, "SPM not received") != nullptr) {
        SpmRefused = false;
        return;
    }
    std::size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r'))
        text[--n] = '\0';
    if (n > 0)
        std::cerr << "tarnwick-avrsim: simavr: " << text << std::endl;
}

// The largest boot section the chip offers: below it the read-while-write section, which
// keeps running while it is written; at and above it the CPU halts for a write.
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

TChip* TheChip = nullptr;  // simavr's ioctl hook carries no parameter of ours

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", v);
    return text;
}

}  // namespace

TChip::TChip(const TOptions& o)
    : Hz(o.Frequency), FlashFile(o.FlashFile), EepromFile(o.EepromFile) {
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
    LoadFlash(o);
    LoadEeprom();

    FlashIo = FindIo(Core, "flash");
    if (FlashIo != nullptr) {
        auto* flash = reinterpret_cast<avr_flash_t*>(FlashIo);
        PageBytes = flash->spm_pagesize;
        FlashIoctlOriginal = FlashIo->ioctl;
        FlashIo->ioctl = FlashIoctl;
        ClearPageBuffer(flash);
    }
    TheChip = this;
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
    TheChip = nullptr;
    if (Core != nullptr)
        avr_terminate(Core);
}

void TChip::LoadFlash(const TOptions& o) {
    std::uint8_t* flash = Core->flash;
    std::memset(flash, 0xFF, FlashBytes);
    std::string error;
    bool fromFile = false;
    if (FlashFile.Enabled()) {
        fromFile = FlashFile.Load(flash, FlashBytes, error);
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
    // an application, and the chip keeps the default 1 KiB boot section.
    if (o.BootAddress) {
        BootStart = *o.BootAddress;
    } else if (firmwareStart && *firmwareStart >= FlashBytes / 2) {
        BootStart = *firmwareStart;
    } else {
        BootStart = FlashBytes - 1024;
    }
    if (BootStart >= FlashBytes || BootStart % 2 != 0)
        throw std::runtime_error("Bootadresse " + Hex(BootStart) + " liegt nicht im Flash");
    NrwwStart = FlashBytes - LargestBootSection(FlashBytes);
    Core->codeend = FlashBytes - 1;
    Core->reset_pc = BootStart;
    Core->pc = BootStart;
    if (FlashFile.Enabled() && (!fromFile || !o.Firmware.empty() || !o.App.empty())) {
        if (!FlashFile.SaveAll(flash, FlashBytes, error))
            throw std::runtime_error(error);
    }
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
        if (state == cpu_Done) {
            StopReason = "Firmware angehalten (schläft mit gesperrten Interrupts)";
            return false;
        }
        if (state == cpu_Crashed) {
            StopReason = "Firmware abgestürzt bei " + Hex(pc);
            return false;
        }
    }
    return true;
}

void TChip::PortChanged(avr_irq_t*, std::uint32_t value, void* param) {
    auto* port = static_cast<TPort*>(param);
    TChip& chip = *port->Chip;
    const int v = static_cast<int>(value & 0xFF);
    if (v == port->Value || !chip.ReportPins)
        return;
    port->Value = v;
    std::FILE* out = chip.Pins != nullptr ? chip.Pins : stdout;
    std::fprintf(out, "%.1f PORT%c 0x%02X\n", chip.Milliseconds(), port->Name, v);
    std::fflush(out);
}

void TChip::ClearPageBuffer(avr_flash_t* Flash) {
    for (std::uint32_t i = 0; i < Flash->spm_pagesize / 2u; ++i) {
        Flash->tmppage[i] = 0xFFFF;
        Flash->tmppage_used[i] = 0;
    }
}

void TChip::Reset(avr_t* avr) {
    if (TheChip == nullptr)
        return;
    TChip& chip = *TheChip;
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
        if (port.Value > 0 && chip.ReportPins) {
            std::FILE* out = chip.Pins != nullptr ? chip.Pins : stdout;
            std::fprintf(out, "%.1f PORT%c 0x00\n", chip.Milliseconds(), port.Name);
            std::fflush(out);
        }
        port.Value = 0;
    }
    // A page write under way is taken as done.
    if (chip.SpmBusy) {
        avr_cycle_timer_cancel(avr, SpmDone, &chip);
        SpmDone(avr, 0, &chip);
    }
}

void TChip::ExternalReset() {
    ExternalResetting = true;
    avr_reset(Core);
    ExternalResetting = false;
    avr_regbit_clear(Core, Core->reset_flags.porf);
    avr_regbit_clear(Core, Core->reset_flags.wdrf);
    avr_regbit_set(Core, Core->reset_flags.extrf);
}

int TChip::FlashIoctl(avr_io_t* io, std::uint32_t ctl, void* param) {
    if (ctl != AVR_IOCTL_FLASH_SPM || TheChip == nullptr)
        return TheChip != nullptr ? TheChip->FlashIoctlOriginal(io, ctl, param) : -1;
    return TheChip->Spm(io, ctl, param);
}

int TChip::Spm(avr_io_t* io, std::uint32_t ctl, void* param) {
    auto* p = reinterpret_cast<avr_flash_t*>(io);
    avr_t* avr = Core;
    std::uint8_t& spmcsr = avr->data[p->r_spm];
    // While an erase or write runs, the chip ignores SPM.
    if (SpmBusy) {
        ++Count.IgnoredSpm;
        return 0;
    }
    // SPM works only from the boot section (its own address is just behind the PC).
    if (BootStart > 0 && avr->pc + 2 < BootStart) {
        ++Count.IgnoredSpm;
        std::cerr << "tarnwick-avrsim: SPM außerhalb des Bootbereichs bei " << Hex(avr->pc)
                  << " ignoriert" << std::endl;
        spmcsr &= static_cast<std::uint8_t>(~0x0F);
        return 0;
    }
    const bool erase = avr_regbit_get(avr, p->pgers) != 0;
    const bool write = avr_regbit_get(avr, p->pgwrt) != 0;
    if (!(erase || write) || avr_regbit_get(avr, p->selfprgen) == 0)
        return FlashIoctlOriginal(io, ctl, param);

    std::uint32_t z = avr->data[30] | (static_cast<std::uint32_t>(avr->data[31]) << 8);
    if (avr->rampz != 0)
        z |= static_cast<std::uint32_t>(avr->data[avr->rampz]) << 16;
    const std::uint32_t page = (z % FlashBytes) & ~(PageBytes - 1);
    if (BootStart > 0 && page >= BootStart) {
        ++Count.BootWrites;
        std::cerr << "tarnwick-avrsim: " << (erase ? "Löschen" : "Schreiben") << " der Seite "
                  << Hex(page) << " im Bootbereich abgewiesen" << std::endl;
        if (write)
            ClearPageBuffer(p);  // as after a write
        spmcsr &= static_cast<std::uint8_t>(~0x0F);
        SpmRefused = true;
        return 0;
    }
    // simavr writes words never loaded as 0x00FF and empties the buffer to those; on silicon
    // the buffer is all ones after every write, so words a bootloader leaves unloaded are
    // written erased.
    if (write) {
        for (std::uint32_t i = 0; i < PageBytes / 2; ++i) {
            if (p->tmppage_used[i] == 0) {
                p->tmppage[i] = 0xFFFF;
                p->tmppage_used[i] = 1;
            }
        }
    }
    const int result = FlashIoctlOriginal(io, ctl, param);
    if (write)
        ClearPageBuffer(p);
    SpmBusy = true;
    BusyPage = page;
    spmcsr = static_cast<std::uint8_t>((spmcsr & ~0x0F) | (erase ? 0x02 : 0x04) | (1 << SpmEnBit));
    if (p->flags & AVR_SELFPROG_HAVE_RWW)
        spmcsr |= 1 << RwwsbBit;
    const auto cycles = static_cast<avr_cycle_count_t>(SpmMs * Hz / 1000.0);
    avr_cycle_timer_register(avr, cycles, SpmDone, this);
    // Writing the section the CPU runs from halts it until the write is done.
    if (page >= NrwwStart)
        avr->cycle += cycles;
    return result;
}

std::uint64_t TChip::SpmDone(avr_t* avr, std::uint64_t, void* param) {
    auto* chip = static_cast<TChip*>(param);
    auto* p = reinterpret_cast<avr_flash_t*>(chip->FlashIo);
    std::uint8_t& spmcsr = avr->data[p->r_spm];
    spmcsr &= static_cast<std::uint8_t>(~0x0F);
    chip->SpmBusy = false;
    ++chip->Count.PagesWritten;
    if (chip->FlashFile.Enabled()) {
        std::string error;
        if (!chip->FlashFile.SaveRange(avr->flash, chip->FlashBytes, chip->BusyPage,
                                       chip->PageBytes, error))
            std::cerr << "tarnwick-avrsim: " << error << std::endl;
    }
    return 0;
}

}  // namespace avrsim

// Self-programming as on silicon: simavr's flash module does the work, wrapped so that
// an erase or a write takes its time with SPMEN and RWWSB set, the read-while-write
// section reads as blank until the firmware enables it again, the boot section is never
// changed, and every finished page goes into the flash file.
#include <simavr/avr_flash.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_io.h>
#include <simavr/sim_regbit.h>

#include <cstring>
#include <iostream>

#include "chip.h"

namespace avrsim {

namespace {

// A page erase and a page write take 3.7 to 4.5 ms on these chips; the slow end is what a
// bootloader must be ready for.
constexpr double SpmMs = 4.5;

constexpr int SpmEnBit = 0;
constexpr int RwwsbBit = 6;

// SPMCSR's bits on the ATtinys, at data address 0x57 on every one of them.
constexpr std::uint16_t TinySpmcsr = 0x57;
constexpr std::uint8_t TinyPgers = 1 << 1;
constexpr std::uint8_t TinyPgwrt = 1 << 2;
constexpr std::uint8_t TinyCtpb = 1 << 4;

struct TTinyPage {
    const char* Mcu;
    std::uint16_t Bytes;
};
constexpr TTinyPage TinyPages[] = {{"attiny13", 32},    {"attiny13a", 32}, {"attiny2313", 32},
                                   {"attiny2313a", 32}, {"attiny24", 32},  {"attiny25", 32},
                                   {"attiny44", 64},    {"attiny45", 64},  {"attiny84", 64},
                                   {"attiny85", 64},    {"attiny4313", 64}};

// One chip per process, as simavr's hooks assume: the module lives as long as the core.
avr_flash_t TinyFlash;
std::uint16_t TinyBuffer[64];
std::uint8_t TinyBufferUsed[64];

// The page buffer, erase and write, without timing (the wrapper adds it). A write without
// an erase before it can only clear bits, as on silicon.
int TinyFlashIoctl(avr_io_t* io, std::uint32_t ctl, void*) {
    if (ctl != AVR_IOCTL_FLASH_SPM)
        return -1;
    auto* p = reinterpret_cast<avr_flash_t*>(io);
    avr_t* avr = io->avr;
    std::uint8_t& spmcsr = avr->data[p->r_spm];
    const std::uint32_t z = avr->data[30] | (static_cast<std::uint32_t>(avr->data[31]) << 8);
    const std::uint32_t bytes = p->spm_pagesize;
    const std::uint32_t page = (z % (avr->flashend + 1)) & ~(bytes - 1);
    if (spmcsr & TinyCtpb) {
        for (std::uint32_t i = 0; i < bytes / 2; ++i) {
            p->tmppage[i] = 0xFFFF;
            p->tmppage_used[i] = 0;
        }
    } else if (spmcsr & TinyPgers) {
        std::memset(avr->flash + page, 0xFF, bytes);
    } else if (spmcsr & TinyPgwrt) {
        for (std::uint32_t i = 0; i < bytes / 2; ++i) {
            avr->flash[page + 2 * i] &= static_cast<std::uint8_t>(p->tmppage[i]);
            avr->flash[page + 2 * i + 1] &= static_cast<std::uint8_t>(p->tmppage[i] >> 8);
        }
    } else if ((spmcsr & 0x3E) == 0) {
        const std::uint32_t word = (z % bytes) / 2;
        p->tmppage[word] = static_cast<std::uint16_t>(avr->data[0] | (avr->data[1] << 8));
        p->tmppage_used[word] = 1;
    }
    spmcsr &= static_cast<std::uint8_t>(~0x3F);
    return 0;
}

}  // namespace

avr_io_t* TChip::AddTinySelfProgramming(avr_t* avr, const std::string& mcu) {
    const TTinyPage* found = nullptr;
    for (const TTinyPage& t : TinyPages)
        if (mcu == t.Mcu)
            found = &t;
    if (found == nullptr)
        return nullptr;
    TinyFlash = avr_flash_t{};
    TinyFlash.io.kind = "flash";
    TinyFlash.io.ioctl = TinyFlashIoctl;
    TinyFlash.r_spm = TinySpmcsr;
    TinyFlash.spm_pagesize = found->Bytes;
    TinyFlash.selfprgen = avr_regbit_t{TinySpmcsr, 0, 1};
    TinyFlash.pgers = avr_regbit_t{TinySpmcsr, 1, 1};
    TinyFlash.pgwrt = avr_regbit_t{TinySpmcsr, 2, 1};
    TinyFlash.blbset = avr_regbit_t{TinySpmcsr, 3, 1};
    TinyFlash.tmppage = TinyBuffer;
    TinyFlash.tmppage_used = TinyBufferUsed;
    avr_register_io(avr, &TinyFlash.io);
    TinyFlash.io.avr = avr;
    return &TinyFlash.io;
}

int TChip::FlashIoctl(avr_io_t* io, std::uint32_t ctl, void* param) {
    if (ctl != AVR_IOCTL_FLASH_SPM || Current == nullptr)
        return Current != nullptr ? Current->FlashIoctlOriginal(io, ctl, param) : -1;
    return Current->Spm(io, ctl, param);
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
        std::cerr << "tarnwick-avrsim: SPM außerhalb des Bootbereichs bei " << HexAddress(avr->pc)
                  << " ignoriert" << std::endl;
        spmcsr &= static_cast<std::uint8_t>(~0x0F);
        return 0;
    }
    const bool erase = avr_regbit_get(avr, p->pgers) != 0;
    const bool write = avr_regbit_get(avr, p->pgwrt) != 0;
    const bool enableRww = HaveRww && avr_regbit_get(avr, p->rwwsre) != 0;
    if (avr_regbit_get(avr, p->selfprgen) != 0 && enableRww && !erase && !write) {
        const int result = FlashIoctlOriginal(io, ctl, param);
        spmcsr &= static_cast<std::uint8_t>(~(1 << RwwsbBit));
        ShowRww();
        return result;
    }
    if (!(erase || write) || avr_regbit_get(avr, p->selfprgen) == 0)
        return FlashIoctlOriginal(io, ctl, param);

    std::uint32_t z = avr->data[30] | (static_cast<std::uint32_t>(avr->data[31]) << 8);
    if (avr->rampz != 0)
        z |= static_cast<std::uint32_t>(avr->data[avr->rampz]) << 16;
    const std::uint32_t page = (z % FlashBytes) & ~(PageBytes - 1);
    if (BootStart > 0 && page >= BootStart) {
        ++Count.BootWrites;
        std::cerr << "tarnwick-avrsim: " << (erase ? "Löschen" : "Schreiben") << " der Seite "
                  << HexAddress(page) << " im Bootbereich abgewiesen" << std::endl;
        if (write)
            ClearPageBuffer(p);  // as after a write
        spmcsr &= static_cast<std::uint8_t>(~0x0F);
        SpmRefused = true;
        return 0;
    }
    // A planned power cut: the erase before it has landed, this write never does.
    if (write && CutAtWrite && page == *CutAtWrite) {
        PowerCut = true;
        avr->state = cpu_Done;
        return 0;
    }
    const bool rwwPage = HaveRww && page < NrwwStart;
    std::uint8_t* flash = avr->flash;
    // simavr works on its flash array: it gets the page's true content for the operation.
    if (rwwPage && RwwHidden)
        std::memcpy(flash + page, RwwShadow.data() + page, PageBytes);
    // simavr writes page-buffer words never loaded as 0x00FF and empties the buffer to those;
    // on silicon the buffer is all ones after every write, so words a bootloader leaves
    // unloaded are written erased.
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
    if (rwwPage) {
        if (!RwwHidden) {
            RwwShadow.assign(flash, flash + NrwwStart);
            std::memset(flash, 0xFF, NrwwStart);
            RwwHidden = true;
        } else {
            std::memcpy(RwwShadow.data() + page, flash + page, PageBytes);
            std::memset(flash + page, 0xFF, PageBytes);
        }
    }
    SpmBusy = true;
    BusyPage = page;
    spmcsr = static_cast<std::uint8_t>((spmcsr & ~0x0F) | (erase ? 0x02 : 0x04) | (1 << SpmEnBit));
    if (rwwPage)
        spmcsr |= 1 << RwwsbBit;
    const auto cycles = static_cast<avr_cycle_count_t>(SpmMs * Hz / 1000.0);
    avr_cycle_timer_register(avr, cycles, SpmDone, this);
    // Writing the section the CPU runs from halts it until the write is done (on a chip
    // without a read-while-write section, any page).
    if (!HaveRww || page >= NrwwStart)
        avr->cycle += cycles;
    return result;
}

void TChip::ClearPageBuffer(avr_flash_t* Flash) {
    for (std::uint32_t i = 0; i < Flash->spm_pagesize / 2u; ++i) {
        Flash->tmppage[i] = 0xFFFF;
        Flash->tmppage_used[i] = 0;
    }
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
        if (!chip->FlashFile.SaveRange(chip->TruePage(chip->BusyPage), chip->BusyPage,
                                       chip->PageBytes, error))
            std::cerr << "tarnwick-avrsim: " << error << std::endl;
    }
    return 0;
}

const std::uint8_t* TChip::TruePage(std::uint32_t page) const {
    if (RwwHidden && page < NrwwStart)
        return RwwShadow.data() + page;
    return Core->flash + page;
}

void TChip::ShowRww() {
    if (!RwwHidden)
        return;
    std::memcpy(Core->flash, RwwShadow.data(), NrwwStart);
    RwwHidden = false;
}

}  // namespace avrsim

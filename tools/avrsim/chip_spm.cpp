// Self-programming as on silicon: simavr's flash module does the work, wrapped so that
// an erase or a write takes its time with SPMEN and RWWSB set, the read-while-write
// section reads as blank until the firmware enables it again, the boot section is never
// changed, and every finished page goes into the flash file.
#include <simavr/avr_flash.h>
#include <simavr/sim_avr.h>
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

}  // namespace

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
    // Writing the section the CPU runs from halts it until the write is done.
    if (page >= NrwwStart)
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

// ELF files as avr-gcc links them, read with libelf: the loadable segments at their load
// (flash) addresses, as avr-objcopy puts them into a HEX file.
#include <gelf.h>
#include <libelf.h>

#include <memory>
#include <string>

#include "image/firmware_file.h"

namespace tarnwick {

namespace {

// avr-gcc's linker scripts place RAM at 0x800000, EEPROM at 0x810000 and fuses, lock bits
// and signature above; everything below is flash.
constexpr std::uint64_t AvrDataSpaces = 0x800000;

struct TElfCloser {
    void operator()(Elf* E) const { elf_end(E); }
};

}  // namespace

int LoadElfBytes(std::string_view Bytes, TBuffer& Image, std::int32_t& HighestAddress) {
    if (elf_version(EV_CURRENT) == EV_NONE)
        return ElfUnreadable;
    // libelf wants a writable buffer; it reads only.
    std::string copy(Bytes);
    const std::unique_ptr<Elf, TElfCloser> elf(elf_memory(copy.data(), copy.size()));
    GElf_Ehdr header;
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF || gelf_getehdr(elf.get(), &header) == nullptr)
        return ElfUnreadable;
    if (header.e_machine != EM_AVR)
        return ElfWrongMachine;
    std::size_t count = 0;
    if (elf_getphdrnum(elf.get(), &count) != 0)
        return ElfUnreadable;
    bool any = false;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Phdr segment;
        if (gelf_getphdr(elf.get(), static_cast<int>(i), &segment) == nullptr)
            return ElfUnreadable;
        if (segment.p_type != PT_LOAD || segment.p_filesz == 0 || segment.p_paddr >= AvrDataSpaces)
            continue;
        if (segment.p_offset > copy.size() || segment.p_filesz > copy.size() - segment.p_offset)
            return ElfUnreadable;
        if (segment.p_paddr + segment.p_filesz > Image.size())
            return ImageOutsideFlash;
        for (std::uint64_t j = 0; j < segment.p_filesz; ++j)
            Image[segment.p_paddr + j] = static_cast<std::uint8_t>(copy[segment.p_offset + j]);
        const auto last = static_cast<std::int32_t>(segment.p_paddr + segment.p_filesz - 1);
        if (last > HighestAddress)
            HighestAddress = last;
        any = true;
    }
    if (!any)
        return ElfNoFlash;
    return HexLoaded;
}

}  // namespace tarnwick

// Debian offers no ELF library built for Windows, and the program reads no format with a
// parser of its own: on Windows an ELF file is refused with advice.
#include "image/firmware_file.h"

namespace tarnwick {

int LoadElfBytes(std::string_view, TBuffer&, std::int32_t&) {
    return ElfNotSupported;
}

}  // namespace tarnwick

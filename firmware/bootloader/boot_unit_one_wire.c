/* The bootloader for AVRs without a boot section, on one wire, as one translation unit: it
 * must fit 2 KiB, and one unit lets the compiler inline across the files. The platform
 * comes first: it pins its CRC register before any function is defined. */
#include "boot_one_wire.c"

#include "boot_crc.c"
#include "boot_password.c"
#include "boot_protocol.c"
#include "boot_stream.c"

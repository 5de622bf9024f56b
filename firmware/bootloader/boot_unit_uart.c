/* The bootloader for AVRs with a hardware UART and a boot section, as one translation unit:
 * it must fit 1 KiB, and one unit lets the compiler inline across the files and keep the
 * state that every wait touches in registers for the whole run. The platform comes first:
 * it pins those registers before any function is defined. */
#include "boot_avr_uart.c"

#include "boot_crc.c"
#include "boot_password.c"
#include "boot_protocol.c"
#include "boot_stream.c"

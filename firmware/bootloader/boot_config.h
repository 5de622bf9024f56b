/* Sizes of one build, given by the build as -D options (CMakeLists.txt, per chip); the
 * defaults are an ATmega8's. */
#ifndef TARNWICK_BOOT_CONFIG_H
#define TARNWICK_BOOT_CONFIG_H

#include <stdint.h>

#ifndef BOOT_PAGE_SIZE
#define BOOT_PAGE_SIZE 64 /* bytes of one flash page (on one wire a part of one) */
#endif
/* The buffer-full the host sends between two 0xA9: a page, so that each page can be
 * written while the host waits for its acknowledgement where the CPU halts meanwhile. */
#define BOOT_BUFFER_SIZE BOOT_PAGE_SIZE
#ifndef BOOT_SECTION_SIZE
#define BOOT_SECTION_SIZE 1024UL /* the bootloader's own section, at the end of the flash */
#endif
#ifndef BOOT_APP_SIZE
#define BOOT_APP_SIZE 7168UL /* flash below the bootloader's own section */
#endif

/* Constant tables stay in flash on the chip (the build passes -DBOOT_ROM=__flash, or
 * __flash1 where the bootloader lies in the second 64 KiB). */
#ifndef BOOT_ROM
#define BOOT_ROM
#endif

/* Flash addresses: wider than 16 bits only where the flash is larger than 64 KiB; there,
 * on the chip, 24 bits (avr-gcc's __uint24): cheaper than 32, and a stream that counted
 * past 16 MiB would long since have gone bad for passing the application section. */
#if BOOT_APP_SIZE > 65536UL && defined(__AVR__)
typedef __uint24 boot_addr_t;
#elif BOOT_APP_SIZE > 65536UL
typedef uint32_t boot_addr_t;
#else
typedef uint16_t boot_addr_t;
#endif

#if (BOOT_PAGE_SIZE & (BOOT_PAGE_SIZE - 1)) || BOOT_PAGE_SIZE > 256 || \
    BOOT_APP_SIZE % BOOT_PAGE_SIZE || BOOT_APP_SIZE % 256
#error "a page is a power of two of at most 256 bytes, the section whole pages and 256-byte blocks"
#endif

#endif

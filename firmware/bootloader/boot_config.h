/* Sizes of one build, given by the build as -D options (cmake: tarnwick_boot_defines);
 * the defaults are an ATmega8's. */
#ifndef TARNWICK_BOOT_CONFIG_H
#define TARNWICK_BOOT_CONFIG_H

#include <stdint.h>

#ifndef BOOT_PAGE_SIZE
#define BOOT_PAGE_SIZE 64 /* bytes of one flash page */
#endif
#ifndef BOOT_PAGES
#define BOOT_PAGES 12 /* pages the receive queue holds */
#endif
#ifndef BOOT_BUFFER_SIZE
#define BOOT_BUFFER_SIZE 512 /* the buffer-full the host sends between two 0xA9 */
#endif
#ifndef BOOT_SECTION_SIZE
#define BOOT_SECTION_SIZE 2048UL /* the bootloader's own section, at the end of the flash */
#endif
#ifndef BOOT_APP_SIZE
#define BOOT_APP_SIZE 6144UL /* flash below the bootloader's own section */
#endif

/* Constant tables stay in flash on the chip (the build passes -DBOOT_ROM=__flash). */
#ifndef BOOT_ROM
#define BOOT_ROM
#endif

/* Flash addresses: 32 bits only where the flash is larger than 64 KiB. */
#if BOOT_APP_SIZE > 65536UL
typedef uint32_t boot_addr_t;
#else
typedef uint16_t boot_addr_t;
#endif

#if BOOT_BUFFER_SIZE % BOOT_PAGE_SIZE != 0 || BOOT_APP_SIZE % BOOT_PAGE_SIZE != 0
#error "the buffer-full and the application section must be whole pages"
#endif
/* A buffer-full is taken over at once when its pages fit beside the page being written
 * and the one just received (when the flash is faster than the line). */
#if BOOT_PAGES < BOOT_BUFFER_SIZE / BOOT_PAGE_SIZE + 2
#error "the queue must hold a buffer-full and two pages more"
#endif

#endif

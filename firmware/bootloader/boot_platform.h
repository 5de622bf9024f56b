/* What the protocol core needs from the chip. boot_avr.c implements it on the AVR; the
 * host's tests implement it over a flash array. */
#ifndef TARNWICK_BOOT_PLATFORM_H
#define TARNWICK_BOOT_PLATFORM_H

#include <stdint.h>

#include "boot_config.h"

#ifdef __cplusplus
extern "C" {
#endif

/* How long plat_receive may wait for a byte. */
enum {
    BOOT_WAIT_LISTEN,   /* not connected: without a host the platform starts the application */
    BOOT_WAIT_COMMAND,  /* connected, between commands: for ever */
    BOOT_WAIT_EXCHANGE, /* inside a stream or a check: a host silent too long is gone, and
                           the platform starts the bootloader again (as after a reset) */
};

/* The next received byte. */
uint8_t plat_receive(uint8_t wait);
/* Sends one byte to the host. */
void plat_send(uint8_t byte);
/* One byte of the flash. */
uint8_t plat_flash_read(boot_addr_t addr);
/* Loads the word at offset (even, below BOOT_PAGE_SIZE) of the page being received. Words
 * not loaded stay erased (0xFFFF). */
void plat_page_word(uint16_t offset, uint16_t word);
/* Erases the page at addr (a page start) and writes the loaded words into it, then makes
 * the section readable again; keeps receiving meanwhile. Never touches the bootloader's
 * own section. */
void plat_page_write(boot_addr_t addr);
/* A programming stream begins: the application stops counting as valid, durably, before
 * any page of it changes. */
void plat_stream_begins(void);
/* The host reported the update successful after a clean programming stream: mark the
 * application valid and start it. Returns only when there is no application to start. */
void plat_success(void);

#ifdef __cplusplus
}
#endif

#endif

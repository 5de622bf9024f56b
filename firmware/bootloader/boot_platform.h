/* What the protocol core needs from the chip, and the only way between the two. One
 * implementation per kind of chip (boot_avr_uart.c: a hardware UART and a boot section;
 * boot_one_wire.c: a software UART on one wire, no boot section); the host's tests
 * implement it over a flash array. */
#ifndef TARNWICK_BOOT_PLATFORM_H
#define TARNWICK_BOOT_PLATFORM_H

#include <stdint.h>

#include "boot_config.h"

#ifdef __cplusplus
extern "C" {
#endif

/* How long plat_receive may wait for a byte, and what ends the wait. */
enum {
    BOOT_WAIT_LISTEN,   /* not connected: the listening window after reset runs out, and a
                           whole application starts */
    BOOT_WAIT_ROUND,    /* as LISTEN, but a connection round is under way: the window stays
                           open at least one more host byte */
    BOOT_WAIT_COMMAND,  /* connected, between commands: a host silent too long is gone, and
                           an application the session left untouched starts */
    BOOT_WAIT_EXCHANGE, /* inside a stream or a check: a host silent too long is gone, and
                           the platform starts the bootloader again (as after a reset) */
};

/* The next received byte. */
uint8_t plat_receive(uint8_t wait);
/* The CRC-16/ARC (boot_crc_update) over the bytes plat_receive handed out since the last
 * call; starts it again. */
uint16_t plat_crc_take(void);
/* Sends one byte to the host. */
void plat_send(uint8_t byte);
/* One byte of the flash. */
uint8_t plat_flash_read(boot_addr_t addr);
/* Loads the word (low, high) at offset (even, below BOOT_PAGE_SIZE) of the page being
 * received. Words not loaded stay erased (0xFFFF). */
void plat_page_word(uint16_t offset, uint8_t low, uint8_t high);
/* BOOT_STREAM_STATE: where the stream keeps its state byte, when the platform file defines
 * it (before the protocol is compiled): a chip's spare register with single-bit access is
 * cheaper than one of the CPU's registers where those run short. Else a variable. */

/* What plat_page_done does with a page: an unchanged page is neither erased nor written
 * (less wear, and a second run of the same image takes the line's time only). */
enum {
    BOOT_PAGE_ERASE = 1, /* the flash page holds data */
    BOOT_PAGE_WRITE = 2, /* the new page holds data (an erased page is all ones) */
    BOOT_PAGE_ACK = 4,   /* a buffer-full ends with the page: acknowledge it (0xA9) */
    BOOT_PAGE_BAD = 8,   /* the stream went bad: nothing more of it is written (given where
                            the platform writes every page, as on one wire) */
};
/* The page at addr (a page start) is complete: erases it and/or writes the loaded words
 * into it as `what` says (also neither), empties the page buffer and makes the section
 * readable again; keeps receiving meanwhile unless the CPU halts. The acknowledgement goes
 * before the page is erased and written where the chip keeps receiving, so that the host
 * sends the next buffer-full meanwhile; after it where the CPU halts, so that the host is
 * silent then (the UART holds two bytes only). Never touches the bootloader's own
 * section. */
void plat_page_done(boot_addr_t addr, uint8_t what);
/* A programming stream begins: the application stops counting as valid, durably, before
 * any page of it changes. */
void plat_stream_begins(void);
/* Starts the application if it counts as valid (no programming stream has begun since the
 * last successful update) and is there; returns otherwise. */
void plat_start_application(void);
/* The host reported the update successful after a clean programming stream: mark the
 * application valid and start it. Returns only when there is no application to start. */
void plat_success(void);

#ifdef __cplusplus
}
#endif

#endif

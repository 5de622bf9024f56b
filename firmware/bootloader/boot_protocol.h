/* The device side of the update protocol, free of chip details: connection, queries, CRC
 * check, programming and verification streams. It runs as one loop that takes bytes from
 * plat_receive and loads image bytes straight into the chip's page buffer; the platform
 * keeps receiving while a page is erased and written. */
#ifndef TARNWICK_BOOT_PROTOCOL_H
#define TARNWICK_BOOT_PROTOCOL_H

#include <stdint.h>

#include "boot_config.h"
#include "boot_password.h"

#ifdef __cplusplus
extern "C" {
#endif

#define BOOT_VERSION_MAJOR 2
#define BOOT_VERSION_MINOR 1

enum {
    BOOT_REPLY_PASSWORD_OK = 0xA6,
    BOOT_REPLY_UNSUPPORTED = 0xA7,
    BOOT_REPLY_DATA = 0xA8,
    BOOT_REPLY_BUFFER_DONE = 0xA9,
    BOOT_REPLY_OK = 0xAA,
    BOOT_REPLY_FAILED = 0xAB,
    /* The byte after 0xA8 in every query reply, which the host otherwise skips: says "this
     * is Tarnwick's bootloader, it takes the streams at line speed". A device speaking only
     * the documented protocol sends the value's length or the command code there (0 to 4),
     * never this. */
    BOOT_REPLY_MARK = 0x54,
};

/* Runs the bootloader; never returns. clean: whether the application counted as valid at
 * reset. */
void boot_run(const BOOT_ROM uint8_t* password, uint8_t length, uint8_t clean)
    __attribute__((noreturn));

#ifdef __cplusplus
}
#endif

#endif

/* The device side of the update protocol, free of chip details: connection, queries, CRC
 * check, programming and verification streams. It runs as one loop that takes bytes from
 * plat_receive; programming hands whole pages to the chip's flash writer through a queue,
 * so that the line keeps running while a page is written. */
#ifndef TARNWICK_BOOT_PROTOCOL_H
#define TARNWICK_BOOT_PROTOCOL_H

#include <stdint.h>

#include "boot_config.h"

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
};

/* Pages received and not yet written. The flash writer writes pages[head] at page_addr
 * while count is not 0, then moves head on (modulo BOOT_PAGES), lowers count and adds a
 * page to page_addr. */
typedef struct {
    uint8_t head;
    uint8_t count;
    boot_addr_t page_addr;
    uint8_t pages[BOOT_PAGES][BOOT_PAGE_SIZE];
} boot_queue_t;

/* Defined by the platform (no start-up code zeroes it: the core sets what it uses). */
extern boot_queue_t boot_queue;

/* Runs the bootloader; never returns. clean: whether the application counted as valid at
 * reset. */
void boot_run(const BOOT_ROM uint8_t* password, uint8_t length, uint8_t clean);

#ifdef __cplusplus
}
#endif

#endif

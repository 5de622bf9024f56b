#include "boot_protocol.h"

#include "boot_crc.h"
#include "boot_password.h"
#include "boot_platform.h"
#include "boot_stream.h"

#ifndef BOOT_SIGNATURE_0
#define BOOT_SIGNATURE_0 0x1E
#define BOOT_SIGNATURE_1 0x93
#define BOOT_SIGNATURE_2 0x07
#endif

#define PAGES_PER_BUFFER (BOOT_BUFFER_SIZE / BOOT_PAGE_SIZE)

enum {
    CMD_VERSION = 0x00,
    CMD_BUFFER_SIZE = 0x01,
    CMD_SIGNATURE = 0x02,
    CMD_FLASH_SIZE = 0x03,
    CMD_PROGRAM = 0x04,
    CMD_SUCCESS = 0x05,
    CMD_CRC = 0x06,
    CMD_VERIFY = 0x07,
    CMD_END = 0x80,    /* closing: the session is over */
    CMD_PREFIX = 0xA5, /* commands; alone, the confirmation; also closing */
};

/* The query values, by command code: the length, then the bytes (most significant
 * first). None of them is 0xA8, 0xAA or 0xAB, which would end or restart the value. */
static const BOOT_ROM uint8_t values[] = {
    2,
    BOOT_VERSION_MAJOR,
    BOOT_VERSION_MINOR,
    2,
    (uint8_t)(BOOT_BUFFER_SIZE >> 8),
    (uint8_t)BOOT_BUFFER_SIZE,
    3,
    BOOT_SIGNATURE_0,
    BOOT_SIGNATURE_1,
    BOOT_SIGNATURE_2,
    4,
    (uint8_t)(BOOT_APP_SIZE >> 24),
    (uint8_t)(BOOT_APP_SIZE >> 16),
    (uint8_t)(BOOT_APP_SIZE >> 8),
    (uint8_t)BOOT_APP_SIZE,
};

/* CRC-16/ARC over every byte received since the last check. */
static uint16_t crc;

static int16_t receive(uint8_t wait) {
    const int16_t byte = plat_receive(wait);
    if (byte >= 0)
        crc = boot_crc_update(crc, (uint8_t)byte);
    return byte;
}

/* The reply 0xA8, the value's length (the byte the host skips), the value, 0xAA. */
static void send_value(uint8_t code) {
    const BOOT_ROM uint8_t* v = values;
    while (code--)
        v += *v + 1;
    plat_send(BOOT_REPLY_DATA);
    uint8_t n = (uint8_t)(*v + 1);
    do
        plat_send(*v++);
    while (--n);
    plat_send(BOOT_REPLY_OK);
}

static void wait_queue(uint8_t free) {
    while ((uint8_t)(BOOT_PAGES - boot_queue.count) < free)
        plat_poll();
}

/* A programming (program set) or verification stream, up to its end sequence; returns
 * whether it went wrong. Once it went wrong nothing more of it is written: bytes beyond
 * the application section, a broken escape, bytes a host sends without waiting for room,
 * a difference in verification. A host that falls silent ends it. */
static uint8_t stream(uint8_t program) {
    uint8_t bad = 0, fill = 0, pages = 0, slot = boot_queue.head;
    boot_addr_t addr = 0;
    boot_queue.page_addr = 0;
    for (;;) {
        int16_t byte = receive(BOOT_WAIT_EXCHANGE);
        if (byte == BOOT_ESCAPE) {
            byte = receive(BOOT_WAIT_EXCHANGE);
            if (byte >= 0)
                byte = boot_unescape((uint8_t)byte);
            if (byte == BOOT_STREAM_END)
                break;
        }
        if (byte < 0) {
            bad = 1;
            if (byte == -1) /* silence: the host is gone */
                break;
            continue;
        }
        const uint8_t value = (uint8_t)byte;
        if (!program) {
            if (plat_flash_read(addr) != value || addr >= BOOT_APP_SIZE)
                bad = 1;
            ++addr;
            continue;
        }
        if (addr >= BOOT_APP_SIZE || boot_queue.count >= BOOT_PAGES)
            bad = 1;
        if (!bad)
            boot_queue.pages[slot][fill] = value;
        ++addr;
        if (++fill == (uint8_t)BOOT_PAGE_SIZE) {
            fill = 0;
            if (!bad) {
                ++boot_queue.count;
                if (++slot == BOOT_PAGES)
                    slot = 0;
            }
            /* A buffer-full is acknowledged once the queue has room for the whole next
             * one, so that the host sends it at line speed while pages are written. */
            if (++pages == PAGES_PER_BUFFER) {
                pages = 0;
                wait_queue(PAGES_PER_BUFFER);
                plat_send(BOOT_REPLY_BUFFER_DONE);
            }
        }
    }
    if (program) {
        /* The last page is completed with erased bytes; a bad stream's is dropped. */
        if (fill && !bad) {
            do
                boot_queue.pages[slot][fill] = 0xFF;
            while (++fill != (uint8_t)BOOT_PAGE_SIZE);
            ++boot_queue.count;
        }
        wait_queue(BOOT_PAGES);
    }
    plat_send(bad ? BOOT_REPLY_FAILED : BOOT_REPLY_OK);
    return bad;
}

static boot_password_t matcher;

void boot_run(const BOOT_ROM uint8_t* password, uint8_t length, uint8_t clean) {
    boot_password_init(&matcher, password, length);
    uint8_t connected = 0, first = 0;
    boot_queue.head = 0;
    boot_queue.count = 0;
    crc = 0;
    int16_t byte;
    for (;;) {
        byte = receive(connected ? BOOT_WAIT_COMMAND : BOOT_WAIT_LISTEN);
    again:
        if (byte < 0)
            continue;
        if (!connected || byte != CMD_PREFIX) {
            if (boot_password_feed(&matcher, (uint8_t)byte)) {
                plat_send(BOOT_REPLY_PASSWORD_OK);
                byte = receive(BOOT_WAIT_EXCHANGE);
                if (byte != CMD_PREFIX)
                    goto again; /* the host is still sending rounds */
                plat_send(BOOT_REPLY_OK);
                connected = 1;
                first = 1; /* the first check covers the rounds: not judged */
            }
            continue;
        }
        byte = receive(BOOT_WAIT_EXCHANGE);
        switch (byte) {
            case CMD_VERSION:
            case CMD_BUFFER_SIZE:
            case CMD_SIGNATURE:
            case CMD_FLASH_SIZE:
                send_value((uint8_t)byte);
                break;
            case CMD_PROGRAM:
                clean = 0;
                plat_stream_begins();
                clean = !stream(1);
                break;
            case CMD_VERIFY:
                plat_send(BOOT_REPLY_OK); /* at once, so that the host's wait ends early */
                if (stream(0))
                    clean = 0;
                break;
            case CMD_SUCCESS:
                if (clean)
                    plat_success();
                break;
            case CMD_CRC:
                plat_send(BOOT_REPLY_OK); /* at once, as above */
                if (receive(BOOT_WAIT_EXCHANGE) < 0 || receive(BOOT_WAIT_EXCHANGE) < 0)
                    break;
                plat_send(crc == 0 || first ? BOOT_REPLY_OK : BOOT_REPLY_FAILED);
                crc = 0;
                first = 0;
                break;
            case CMD_END:
            case CMD_PREFIX:
            case -1:
                break;
            default:
                plat_send(BOOT_REPLY_UNSUPPORTED);
                break;
        }
    }
}

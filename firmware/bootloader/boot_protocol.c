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

/* boot_run's session byte: the wait in its lowest bit, and this bit while the first check
 * after connecting is still to come. */
_Static_assert(BOOT_WAIT_LISTEN == 0 && BOOT_WAIT_COMMAND == 1,
               "the session byte holds the wait in its lowest bit");
#define SESSION_FIRST_CHECK 2

/* The query values, a row by command code: the length, then the bytes (most significant
 * first); rows of one size, so that a row is found without walking the table. None of
 * the values is 0xA8, 0xAA or 0xAB, which would end or restart the value. */
static const BOOT_ROM uint8_t values[4][5] = {
    {2, BOOT_VERSION_MAJOR, BOOT_VERSION_MINOR},
    {2, (uint8_t)(BOOT_BUFFER_SIZE >> 8), (uint8_t)BOOT_BUFFER_SIZE},
    {3, BOOT_SIGNATURE_0, BOOT_SIGNATURE_1, BOOT_SIGNATURE_2},
    {4, (uint8_t)(BOOT_APP_SIZE >> 24), (uint8_t)(BOOT_APP_SIZE >> 16),
     (uint8_t)(BOOT_APP_SIZE >> 8), (uint8_t)BOOT_APP_SIZE},
};

/* CRC-16/ARC over every byte received since the last check. The chip's build keeps it in
 * registers (BOOT_CRC_REGISTER, see boot_avr.c); no start-up code zeroes it: boot_run does. */
#ifndef BOOT_CRC_REGISTER
static uint16_t crc;
#endif

static uint8_t receive(uint8_t wait) {
    const uint8_t byte = plat_receive(wait);
    crc = boot_crc_update(crc, byte);
    return byte;
}

/* The reply 0xA8, the value's length (the byte the host skips), the value, 0xAA. */
static void send_value(uint8_t code) {
    const BOOT_ROM uint8_t* v = values[code];
    plat_send(BOOT_REPLY_DATA);
    uint8_t n = (uint8_t)(*v + 1);
    do
        plat_send(*v++);
    while (--n);
    plat_send(BOOT_REPLY_OK);
}

/* A programming (program set) or verification stream, up to its end sequence; returns
 * whether it went wrong. Once it went wrong nothing more of it is written: bytes beyond
 * the application section, a broken escape, a difference in verification. (A host that
 * falls silent ends it by a restart.) */
static uint8_t stream(uint8_t program) {
    /* program: 0 verifying, else programming; PADDING once the end has come and the rest
     * of the last page is filled erased, through the same path as image bytes (one byte
     * for both, which keeps the loop's variables in registers). */
    enum { PADDING = 2 };
    uint8_t bad = 0, low = 0;
    boot_addr_t addr = 0;
    for (;;) {
        uint8_t byte = 0xFF;
        if (program != PADDING) {
            byte = receive(BOOT_WAIT_EXCHANGE);
            if (byte == BOOT_ESCAPE) {
                const int16_t value = boot_unescape(receive(BOOT_WAIT_EXCHANGE));
                if (value == BOOT_STREAM_END) {
                    if (!program || bad || !(addr & (BOOT_PAGE_SIZE - 1)))
                        break;
                    program = PADDING;
                    byte = 0xFF;
                } else if (value < 0) {
                    bad = 1;
                    continue;
                } else {
                    byte = (uint8_t)value;
                }
            }
        }
        if (addr >= BOOT_APP_SIZE)
            bad = 1;
        if (!program) {
            if (plat_flash_read(addr) != byte)
                bad = 1;
        } else if (!(addr & 1)) {
            low = byte;
        } else if (!bad) {
            plat_page_word((uint16_t)(addr & (BOOT_PAGE_SIZE - 2)),
                           (uint16_t)(low | (uint16_t)(byte << 8)));
        }
        ++addr;
        if (!program)
            continue;
        /* Acknowledged before the page is written: the platform keeps receiving the
         * next buffer-full meanwhile. */
        if (!(addr & (BOOT_BUFFER_SIZE - 1)) && program != PADDING)
            plat_send(BOOT_REPLY_BUFFER_DONE);
        if (!(addr & (BOOT_PAGE_SIZE - 1))) {
            if (!bad)
                plat_page_write((boot_addr_t)(addr - BOOT_PAGE_SIZE));
            if (program == PADDING)
                break;
        }
    }
    plat_send(bad ? BOOT_REPLY_FAILED : BOOT_REPLY_OK);
    return bad;
}

void boot_run(const BOOT_ROM uint8_t* password, uint8_t length, uint8_t clean) {
    boot_password_t matcher;
    boot_password_init(&matcher, password, length);
    /* One byte for two flags: the wait while connected (BOOT_WAIT_COMMAND, else
     * BOOT_WAIT_LISTEN) and whether the first check is still to come. */
    uint8_t session = BOOT_WAIT_LISTEN;
    crc = 0;
    uint8_t byte;
    for (;;) {
        byte = receive(session & BOOT_WAIT_COMMAND);
    again:
        if (session == BOOT_WAIT_LISTEN || byte != CMD_PREFIX) {
            if (boot_password_feed(&matcher, byte)) {
                plat_send(BOOT_REPLY_PASSWORD_OK);
                byte = receive(BOOT_WAIT_EXCHANGE);
                if (byte != CMD_PREFIX)
                    goto again; /* the host is still sending rounds */
                plat_send(BOOT_REPLY_OK);
                /* The first check covers the rounds: not judged. */
                session = BOOT_WAIT_COMMAND | SESSION_FIRST_CHECK;
            }
            continue;
        }
        byte = receive(BOOT_WAIT_EXCHANGE);
        switch (byte) {
            case CMD_VERSION:
            case CMD_BUFFER_SIZE:
            case CMD_SIGNATURE:
            case CMD_FLASH_SIZE:
                send_value(byte);
                break;
            case CMD_PROGRAM:
            case CMD_VERIFY: {
                /* One call of stream, so that it is compiled into this loop. Programming
                 * makes the application valid only by a clean stream; a difference in
                 * verification makes it invalid. */
                const uint8_t program = byte == CMD_PROGRAM;
                if (program) {
                    plat_stream_begins();
                    clean = 1;
                } else {
#ifndef BOOT_ONE_WIRE
                    /* At once, so that the host's wait ends early. On one wire the echo of the
                     * command ends it, and the host's first image byte would meet this reply. */
                    plat_send(BOOT_REPLY_OK);
#endif
                }
                if (stream(program))
                    clean = 0;
                break;
            }
            case CMD_SUCCESS:
                if (clean)
                    plat_success();
                break;
            case CMD_CRC:
                plat_send(BOOT_REPLY_OK); /* at once, as above */
                receive(BOOT_WAIT_EXCHANGE);
                receive(BOOT_WAIT_EXCHANGE);
                plat_send(crc == 0 || (session & SESSION_FIRST_CHECK) ? BOOT_REPLY_OK
                                                                      : BOOT_REPLY_FAILED);
                crc = 0;
                session = BOOT_WAIT_COMMAND;
                break;
            case CMD_END:
            case CMD_PREFIX:
                break;
            default:
                plat_send(BOOT_REPLY_UNSUPPORTED);
                break;
        }
    }
}

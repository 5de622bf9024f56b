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

/* boot_run's session byte: 0 while listening; the password accepted, waiting for the lone
 * 0xA5; or connected, with a bit while the first check after connecting is still to come.
 * Its low bits are the wait of each state. */
#define SESSION_ACCEPTED BOOT_WAIT_EXCHANGE
#define SESSION_CONNECTED BOOT_WAIT_COMMAND
#define SESSION_WAIT 3
#define SESSION_FIRST_CHECK 4
_Static_assert(BOOT_WAIT_EXCHANGE <= SESSION_WAIT && BOOT_WAIT_COMMAND <= SESSION_WAIT,
               "the session byte's low bits hold its wait");

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

/* The reply 0xA8, the mark in the byte the host skips, the value, 0xAA. */
static void send_value(uint8_t code) {
#if defined(__AVR__) && !defined(__AVR_HAVE_MUL__)
    /* The row without a multiplication: the ATtinys have no multiplier. */
    const BOOT_ROM uint8_t* v = values[0] + (uint8_t)((code << 2) + code);
#else
    const BOOT_ROM uint8_t* v = values[code];
#endif
    uint8_t n = *v;
    plat_send(BOOT_REPLY_DATA);
    plat_send(BOOT_REPLY_MARK);
    do
        plat_send(*++v);
    while (--n);
    plat_send(BOOT_REPLY_OK);
}

/* A programming (program set) or verification stream, up to its end sequence; returns
 * whether it went wrong. Once it went wrong nothing more of it is written: a page beyond
 * the application section, a broken escape, a difference in verification. (A host that
 * falls silent ends it by a restart.) */
#ifndef BOOT_STREAM_STATE
static uint8_t stream_state;
#define BOOT_STREAM_STATE stream_state
#endif

static uint8_t stream(uint8_t program) {
    /* The stream's state in one byte (BOOT_STREAM_STATE), which keeps the loop's variables in
     * registers:
     * PROGRAM (else verifying) with BOOT_PAGE_ACK; PADDING instead of BOOT_PAGE_ACK once the
     * end has come and the rest of the last page is filled erased, through the same path as
     * image bytes; BAD once it went wrong; and what the page under way needs: DIFFERS from
     * the flash (in verification: anywhere in the stream), which erases it, and
     * BOOT_PAGE_WRITE when the new one holds data. An equal page is neither erased nor
     * written, one of all ones only erased. (Skipping the erase of a blank flash page would
     * not fit the ATmega1284P's 1 KiB.) The address is the page's start and the offset in it
     * (the sum is an OR: a page starts at a multiple of its size), so that the wide page
     * address changes once a page. */
    enum { PROGRAM = 0x10, PADDING = 0x20, BAD = BOOT_PAGE_BAD, DIFFERS = BOOT_PAGE_ERASE };
    _Static_assert(
        ((BOOT_PAGE_ERASE | BOOT_PAGE_WRITE | BOOT_PAGE_ACK | BOOT_PAGE_BAD) & 0xF0) == 0,
        "the page's needs share the state byte");
    uint8_t low = 0, offset = 0;
    BOOT_STREAM_STATE = program ? PROGRAM | BOOT_PAGE_ACK : 0;
    boot_addr_t page = 0;
    for (;;) {
        uint8_t byte = 0xFF;
        if (!(BOOT_STREAM_STATE & PADDING)) {
            byte = plat_receive(BOOT_WAIT_EXCHANGE);
            if (byte == BOOT_ESCAPE) {
                const int16_t value = boot_unescape(plat_receive(BOOT_WAIT_EXCHANGE));
                if (value == BOOT_STREAM_END) {
                    if (!(BOOT_STREAM_STATE & PROGRAM) || (BOOT_STREAM_STATE & BAD) || !offset)
                        break;
                    BOOT_STREAM_STATE |= PADDING;
                    BOOT_STREAM_STATE &= (uint8_t)~BOOT_PAGE_ACK;
                    byte = 0xFF;
                } else {
                    /* A broken pair still stands for one image byte, as the host counts
                     * it, so that the buffer-fulls stay acknowledged in their places. */
                    if (value < 0)
                        BOOT_STREAM_STATE |= BAD;
                    byte = (uint8_t)value;
                }
            }
        }
#ifdef BOOT_ONE_WIRE
        /* There pages are written whole from RAM (see below): compared in verification only. */
        if (!(BOOT_STREAM_STATE & PROGRAM))
#endif
            if (plat_flash_read(page | offset) != byte)
                BOOT_STREAM_STATE |= DIFFERS;
#ifndef BOOT_ONE_WIRE
        if (byte != 0xFF)
            BOOT_STREAM_STATE |= BOOT_PAGE_WRITE;
#endif
        if (!(offset & 1))
            low = byte;
        else if (BOOT_STREAM_STATE & PROGRAM)
            plat_page_word((uint8_t)(offset - 1), low, byte);
        offset = (uint8_t)((offset + 1) & (BOOT_PAGE_SIZE - 1));
        if (offset)
            continue;
        /* A page ends with each buffer-full. */
        if ((uint16_t)(page >> 8) >= BOOT_APP_SIZE >> 8) /* fewer bytes than the whole */
            BOOT_STREAM_STATE |= BAD;                    /* beyond the application section */
        if (BOOT_STREAM_STATE & PROGRAM) {
#ifdef BOOT_ONE_WIRE
            /* On one wire a flash page is assembled from several of these in RAM and
             * written whole: every page of a good stream goes (and nothing was compared). */
            plat_page_done(page, BOOT_STREAM_STATE & (BOOT_PAGE_ACK | BOOT_PAGE_BAD));
#else
            if (!(BOOT_STREAM_STATE & DIFFERS) || (BOOT_STREAM_STATE & BAD))
                BOOT_STREAM_STATE &= (uint8_t) ~(BOOT_PAGE_ERASE | BOOT_PAGE_WRITE);
            plat_page_done(page,
                           BOOT_STREAM_STATE & (BOOT_PAGE_ERASE | BOOT_PAGE_WRITE | BOOT_PAGE_ACK));
            BOOT_STREAM_STATE &= PROGRAM | PADDING | BAD | BOOT_PAGE_ACK;
#endif
            if (BOOT_STREAM_STATE & PADDING)
                break;
        }
        page += BOOT_PAGE_SIZE;
    }
    /* In programming DIFFERS is clear here, or the stream went bad anyway. */
    const uint8_t bad = BOOT_STREAM_STATE & (BAD | DIFFERS);
    plat_send(bad ? BOOT_REPLY_FAILED : BOOT_REPLY_OK);
    return bad;
}

void boot_run(const BOOT_ROM uint8_t* password, uint8_t length, uint8_t clean) {
    boot_password_t matcher;
    boot_password_init(&matcher, password, length);
    /* The CRC register starts with whatever it holds: the first check after connecting
     * covers the rounds from before the chip was on anyway, is not judged, and starts it
     * again. */
    uint8_t session = 0;
    uint8_t byte;
    for (;;) {
        /* Not connected: a round heard from its start keeps the window open to its end. */
        byte = plat_receive(session                            ? session & SESSION_WAIT
                            : boot_password_in_round(&matcher) ? BOOT_WAIT_ROUND
                                                               : BOOT_WAIT_LISTEN);
        if (!session || byte != CMD_PREFIX) {
            /* Also after 0xA6: a host that sees it late sends more of its rounds first. */
            if (boot_password_feed(&matcher, byte)) {
                plat_send(BOOT_REPLY_PASSWORD_OK);
                session = SESSION_ACCEPTED;
            }
            continue;
        }
        if (session == SESSION_ACCEPTED) {
            plat_send(BOOT_REPLY_OK);
            /* The first check covers the rounds: not judged. */
            session = SESSION_CONNECTED | SESSION_FIRST_CHECK;
            continue;
        }
        byte = plat_receive(BOOT_WAIT_EXCHANGE);
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
                plat_receive(BOOT_WAIT_EXCHANGE);
                plat_receive(BOOT_WAIT_EXCHANGE);
                plat_send(!plat_crc_take() || (session & SESSION_FIRST_CHECK) ? BOOT_REPLY_OK
                                                                              : BOOT_REPLY_FAILED);
                session = SESSION_CONNECTED;
                break;
            case CMD_END:
                /* A run that ends without having begun a programming stream (a failed check,
                 * a refused chip, a cancel) leaves the application as it was: it runs again
                 * at once rather than at the next power-up. After a programming stream the
                 * platform keeps the chip here until the success command. */
                plat_start_application();
                break;
            case CMD_PREFIX:
                break;
            default:
                plat_send(BOOT_REPLY_UNSUPPORTED);
                break;
        }
    }
}

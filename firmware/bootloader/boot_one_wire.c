/* The chip's side of the bootloader on chips without a boot section (the ATtinys, the
 * ATmega48), talking on one wire: a software UART on one pin, driven only while the chip
 * sends, its bit time measured from the host's connection rounds (the chips run on their
 * RC oscillator, whose factory tolerance no fixed rate survives).
 *
 * The bootloader sits at the top of the flash. Address 0 always holds a jump to it; the
 * application's own first word (its reset vector, an RJMP as avr-gcc writes it) is kept in
 * EEPROM, where the bootloader reads it to start the application and to verify. The CPU
 * halts while a page is erased or written, and a software UART hears nothing meanwhile:
 * pages are written only while the host waits for a reply, just before the reply goes out.
 *
 * The protocol's page (its buffer-full) is a part of a flash page here: the host's own
 * 0xA9 bytes let it run ahead (see host_acks), and the more often it waits, the fewer flash
 * pages wait in RAM meanwhile.
 *
 * boot_unit_one_wire.c makes the one translation unit of the build. */
#include <stdint.h>

/* The CRC register, updated for every byte handed out, for the whole run. */
register uint16_t crc __asm__("r6");

#include <avr/io.h>
#include <avr/pgmspace.h>

#include "boot_crc.h"
#include "boot_platform.h"
#include "boot_protocol.h"

/* The stream's state byte (boot_platform.h) in the spare I/O register with single-bit
 * access on every chip here, cheaper than RAM; put back to 0 before the application
 * starts. */
#define BOOT_STREAM_STATE GPIOR0

#define FLASH_PAGE SPM_PAGESIZE
#if FLASH_PAGE % BOOT_PAGE_SIZE || FLASHEND + 1UL - BOOT_SECTION_SIZE != BOOT_APP_SIZE
#error "the build's page and section sizes do not fit this chip"
#endif
#if SIGNATURE_0 != BOOT_SIGNATURE_0 || SIGNATURE_1 != BOOT_SIGNATURE_1 || \
    SIGNATURE_2 != BOOT_SIGNATURE_2
#error "the build's signature is not this chip's"
#endif

#ifndef BOOT_PASSWORD_BYTES
#define BOOT_PASSWORD_BYTES 'K', 'i', 'w', 'u'
#endif
#ifndef BOOT_WIRE_PORT
#define BOOT_WIRE_PORT B
#define BOOT_WIRE_BIT 1
#endif
/* Received pages wait here until the host waits for a reply (see plat_send). */
#ifndef BOOT_PENDING_PAGES
#define BOOT_PENDING_PAGES 2
#endif
#if BOOT_PENDING_PAGES & (BOOT_PENDING_PAGES - 1)
#error "the pending pages are a ring of a power of two"
#endif

#define GLUE_(a, b) a##b
#define GLUE(a, b) GLUE_(a, b)
#define WIRE_PIN GLUE(PIN, BOOT_WIRE_PORT)
#define WIRE_DDR GLUE(DDR, BOOT_WIRE_PORT)
#define WIRE_OUT GLUE(PORT, BOOT_WIRE_PORT)
#define WIRE_MASK (1u << BOOT_WIRE_BIT)

#if defined(TIFR0)
#define TIFR0_ TIFR0
#else
#define TIFR0_ TIFR
#endif
#if defined(WDTCSR)
#define WDTCSR_ WDTCSR
#else
#define WDTCSR_ WDTCR
#endif

/* Timer 0 at F_CPU / 1024 counts time in overflows (32.8 ms at 8 MHz): since reset, and the
 * line's silence. */
#define TICKS(ms) ((uint8_t)((F_CPU / 1024UL * (ms) / 256UL + 999UL) / 1000UL))
/* The listening window after reset (the build computes it from the password, see
 * CMakeLists.txt): the host asks the user to switch on, waits 1 s and then sends its
 * rounds, one byte every 60 ms; a chip switched on at the request hears the first round
 * within the second, one switched on during the rounds hears a whole one within two. */
#ifndef BOOT_LISTEN_MS
#define BOOT_LISTEN_MS 1500
#endif
#define LISTEN_TICKS TICKS(BOOT_LISTEN_MS)
/* A round heard from its start keeps the window open while its bytes come no further apart
 * than this: the host sends them 60 ms apart (50 ms pacing, 10 ms listening), a loaded PC
 * later. */
#define ROUND_TICKS TICKS(300)
/* A host silent this long inside a stream or a check is gone: it never pauses there (paced
 * bytes come every 50 ms). */
#define IDLE_TICKS TICKS(2000)
/* Between commands the host may wait for a person: on one wire it shows a box right after
 * connecting that must be clicked away before the first check, and a person takes seconds,
 * even half a minute. An untouched application starts only after this many spans of
 * IDLE_TICKS in a row (32 s). */
#define IDLE_SPANS_BETWEEN_COMMANDS 16

/* The last EEPROM byte is the mark (0xFF: the application is whole; 0x00 from the start of a
 * programming stream until the host reports success); the two below it hold the
 * application's first word. The application must not use these three bytes. */
#define MARK_ADDRESS E2END
#define APP_WORD_ADDRESS (E2END - 2)
#define MARK_VALID 0xFF
#define MARK_UPDATING 0x00

/* SPMCSR's commands (SPMEN is bit 0 everywhere; the ATmega48 calls it SELFPRGEN). */
#define SPM_FILL 0x01
#define SPM_ERASE 0x03
#define SPM_WRITE 0x05

/* The jump to the bootloader at address 0 (the build computes the RJMP and keeps the section
 * from the linker's garbage collection). */
#define TEXT_(x) #x
#define TEXT(x) TEXT_(x)
__asm__(".section .boot_reset,\"ax\",@progbits\n\t.global boot_reset\nboot_reset:\n\t.word " TEXT(
    BOOT_RESET_WORD) "\n\t.previous");

static const BOOT_ROM uint8_t password[] = {BOOT_PASSWORD_BYTES};

/* The bit time, in the units of the receive and send loops (see set_bit_time): set by the
 * first byte of the rounds measured, before anything is sent or received at it. No start-up
 * code runs: boot_main sets the rest of these. */
#define NOINIT __attribute__((section(".noinit")))
static uint16_t rx_whole NOINIT, tx_whole NOINIT, rx_half NOINIT;
static uint8_t rx_frac NOINIT, tx_frac NOINIT;

/* Replies wait here until the chip listens again (the longest: a query value, 7 bytes). */
static uint8_t out[8] NOINIT;
static uint8_t out_length NOINIT;
/* The host goes on to the next buffer-full without waiting when it has heard an 0xA9 since
 * it last took one, and its own image bytes come back to it on the wire: each 0xA9 among
 * them lets it go on once (two that come before it looks count once, so this may count
 * more than it takes, never less). None left: it certainly waits. */
static uint8_t host_acks NOINIT;
/* An acknowledgement that the count says the host goes on without: it goes out once the
 * line has been quiet this long (timer 0's counts; 0: none), longer than a paced host's
 * 50 ms between two bytes and its 10 ms of listening. */
static uint16_t ack_after NOINIT;
#define ACK_LATE ((uint16_t)(F_CPU / 1024UL * 120UL / 1000UL))

typedef struct {
    boot_addr_t address;
    uint8_t data[FLASH_PAGE];
} page_t;
static page_t pages[BOOT_PENDING_PAGES] NOINIT;
static page_t* oldest NOINIT;  /* the first of the pending pages */
static page_t* filling NOINIT; /* the flash page the stream loads now, behind them */
static uint8_t pending_pages NOINIT;
static uint8_t filled NOINIT; /* its bytes the protocol has written (whole protocol pages) */
/* Overflows of timer 0 since reset, up to 255. */
static uint8_t uptime NOINIT;
/* Spans of IDLE_TICKS without a byte in the waits between commands; every byte clears it,
 * and those waits come only after the bytes of a connection. In a spare I/O register where
 * the chip has one (in and out are cheaper than RAM); put back to its reset value before the
 * application starts. */
#define IDLE_SPANS GPIOR1 /* GPIOR0 holds the stream's state */

static uint8_t eeprom_read(uint16_t address) {
    EEAR = address;
    EECR = _BV(EERE);
    return EEDR;
}

/* Erases and writes the byte unless it holds the value already, and waits until it has
 * landed. */
static void eeprom_update(uint16_t address, uint8_t value) {
    if (eeprom_read(address) == value)
        return;
    EEDR = value;
    EECR = _BV(EEMPE);
    EECR |= _BV(EEPE);
    while (EECR & _BV(EEPE)) {
    }
}

/* ------------------------------------------------------------------ the wire */

/* The times of the edges of one byte, counted in 8-cycle rounds from its start bit: a rise,
 * a fall, a rise and so on, until the wire has stayed high for eight times the first low
 * pulse (no byte the rounds carry stays high that long inside itself). Returns how many. */
#define MAX_EDGES 10
static __attribute__((noinline)) uint8_t wire_edges(uint16_t* edges) {
    uint8_t n;
    __asm__ __volatile__(
        "clr r26\n\t"
        "clr r27\n\t"
        "clr %[n]\n\t"
        "1:\n\t" /* low: 8 cycles a round */
        "adiw r26, 1\n\t"
        "breq 9f\n\t" /* a wire held low for ever */
        "nop\n\t"
        "nop\n\t"
        "sbis %[pin], %[bit]\n\t"
        "rjmp 1b\n\t"
        "st Z+, r26\n\t"
        "st Z+, r27\n\t"
        "inc %[n]\n\t"
        "cpi %[n], 1\n\t"
        "brne 2f\n\t"
        "movw r22, r26\n\t" /* eight times the first low pulse */
        "lsl r22\n\t"
        "rol r23\n\t"
        "lsl r22\n\t"
        "rol r23\n\t"
        "lsl r22\n\t"
        "rol r23\n\t"
        "2:\n\t"
        "movw r24, r22\n\t"
        "cpi %[n], %[max]\n\t"
        "brsh 9f\n\t"
        "adiw r26, 1\n\t"
        "3:\n\t" /* high: 8 cycles a round */
        "adiw r26, 1\n\t"
        "sbiw r24, 1\n\t"
        "breq 9f\n\t"
        "sbic %[pin], %[bit]\n\t"
        "rjmp 3b\n\t"
        "st Z+, r26\n\t"
        "st Z+, r27\n\t"
        "inc %[n]\n\t"
        "cpi %[n], %[max]\n\t"
        "brsh 9f\n\t"
        "adiw r26, 1\n\t"
        "rjmp 1b\n\t"
        "9:\n\t"
        : [n] "=&d"(n), "+z"(edges)
        : [pin] "I"(_SFR_IO_ADDR(WIRE_PIN)), [bit] "I"(BOOT_WIRE_BIT), [max] "M"(MAX_EDGES)
        : "r22", "r23", "r24", "r25", "r26", "r27", "memory");
    return n;
}

/* One byte at the measured rate, its start bit already seen: sampled in the middle of each
 * bit; returns in the middle of the last data bit, leaving a bit and a half to the protocol
 * before the next start bit of a host that streams. A bit takes 4 * whole + 9 cycles, plus
 * one more every time the fraction (in sixteenths, shifted up by four) carries. */
static __attribute__((noinline)) uint8_t wire_rx(uint16_t whole, uint8_t frac, uint16_t half) {
    uint8_t byte = 0, n = 8, sum = 0;
    __asm__ __volatile__(
        "movw r26, %[half]\n\t"
        "1:\n\t"
        "sbiw r26, 1\n\t"
        "brne 1b\n\t"
        "2:\n\t"
        "movw r26, %[whole]\n\t"
        "add %[sum], %[frac]\n\t"
        "adc r26, __zero_reg__\n\t"
        "adc r27, __zero_reg__\n\t"
        "3:\n\t"
        "sbiw r26, 1\n\t"
        "brne 3b\n\t"
        "lsr %[byte]\n\t"
        "sbic %[pin], %[bit]\n\t"
        "ori %[byte], 0x80\n\t"
        "dec %[n]\n\t"
        "brne 2b\n\t"
        : [byte] "+d"(byte), [n] "+r"(n), [sum] "+r"(sum)
        : [whole] "r"(whole), [frac] "r"(frac), [half] "r"(half), [pin] "I"(_SFR_IO_ADDR(WIRE_PIN)),
          [bit] "I"(BOOT_WIRE_BIT)
        : "r26", "r27");
    return byte;
}

/* Sends one byte: a bit's wait first (the host's last stop bit, or this chip's, may still be
 * on the wire), then the start and data bits with the pin driven; the stop bit is the pin let
 * go (input, pulled up), and the chip listens again at once, since a host that has read the
 * byte in the middle of its stop bit may start its next one before the stop bit ends. A bit takes 4
 * * whole + 13 cycles and the carries of the fraction. */
static __attribute__((noinline)) void wire_tx(uint8_t byte, uint16_t whole, uint8_t frac) {
    uint8_t n = 8, sum = 0;
    __asm__ __volatile__(
        "movw r26, %[whole]\n\t"
        "1:\n\t"
        "sbiw r26, 1\n\t"
        "brne 1b\n\t"
        "sbi %[ddr], %[bit]\n\t"
        "cbi %[port], %[bit]\n\t" /* the start bit */
        "rjmp .+0\n\t"
        "rjmp .+0\n\t"
        "nop\n\t"
        "2:\n\t"
        "movw r26, %[whole]\n\t"
        "add %[sum], %[frac]\n\t"
        "adc r26, __zero_reg__\n\t"
        "adc r27, __zero_reg__\n\t"
        "3:\n\t"
        "sbiw r26, 1\n\t"
        "brne 3b\n\t"
        "sbrc %[byte], 0\n\t"
        "sbi %[port], %[bit]\n\t"
        "sbrs %[byte], 0\n\t"
        "cbi %[port], %[bit]\n\t"
        "lsr %[byte]\n\t"
        "nop\n\t"
        "dec %[n]\n\t"
        "brne 2b\n\t"
        "movw r26, %[whole]\n\t"
        "add %[sum], %[frac]\n\t"
        "adc r26, __zero_reg__\n\t"
        "adc r27, __zero_reg__\n\t"
        "4:\n\t"
        "sbiw r26, 1\n\t"
        "brne 4b\n\t"
        "sbi %[port], %[bit]\n\t"
        "cbi %[ddr], %[bit]\n\t" /* the stop bit */
        : [byte] "+r"(byte), [n] "+r"(n), [sum] "+r"(sum)
        : [whole] "r"(whole), [frac] "r"(frac), [port] "I"(_SFR_IO_ADDR(WIRE_OUT)),
          [ddr] "I"(_SFR_IO_ADDR(WIRE_DDR)), [bit] "I"(BOOT_WIRE_BIT)
        : "r26", "r27");
}

/* t16: the bit time in sixteenths of an 8-cycle round, i.e. in cycles times two. */
static void set_bit_time(uint16_t t16) {
    const uint16_t rx = (uint16_t)(2 * t16 - 36), tx = (uint16_t)(2 * t16 - 52);
    rx_whole = rx >> 4;
    rx_frac = (uint8_t)(rx << 4);
    tx_whole = tx >> 4;
    tx_frac = (uint8_t)(tx << 4);
    /* Half a bit, less what passes between the start bit's edge and the first wait. */
    rx_half = (t16 >> 4) - 5;
}

/* The bit time is what a printable character (the password's) takes from its start bit to
 * its stop bit: nine bits, all printable characters having bit 7 clear. A byte of a single
 * low pulse is the rounds' 0xFF. Rates from F_CPU / 3600 (2200 baud at 8 MHz) to F_CPU / 200
 * (40000 baud) are measured; the chip's clock may be off by anything, since the host's own
 * bytes set it. */
static uint8_t receive_measuring(void) {
    uint16_t edges[MAX_EDGES];
    const uint8_t n = wire_edges(edges);
    if (n == 1) {
        if (sizeof password == 0)
            set_bit_time((uint16_t)(edges[0] << 4));
        return 0xFF;
    }
    /* Two rounds pass between the edge and the first count. */
    const uint16_t nine = edges[n - 1] + 2;
    if (nine < 225 || nine >= 4096)
        return 0; /* not one of the rounds' bytes, or outside the rates measured */
    /* Divided by nine by subtraction: no divider code, and the next round's byte is 60 ms
     * away. */
    uint16_t t16 = 0;
    for (uint16_t rest = (uint16_t)(nine << 4); rest >= 9; rest -= 9) {
        __asm__("" : "+r"(rest)); /* kept a loop: no multiplier either */
        ++t16;
    }
    uint16_t at = t16 + (t16 >> 1);
    uint8_t byte = 0, passed = 0;
    for (uint8_t bit = 0; bit < 8; ++bit) {
        while (passed < n && edges[passed] + 2 <= (at >> 4))
            ++passed;
        byte >>= 1;
        if (passed & 1)
            byte |= 0x80;
        at += t16;
    }
    set_bit_time(t16);
    return byte;
}

/* ------------------------------------------------------------------ the flash */

static void spm(uint16_t address, uint8_t command) {
    __asm__ __volatile__(
        "out %[spmcsr], %[cmd]\n\tspm\n\t" ::[spmcsr] "I"(_SFR_IO_ADDR(SPMCSR)), [cmd] "r"(command),
        "z"(address));
    while (SPMCSR & SPM_FILL) {
    }
}

static void page_buffer_word(uint16_t offset, uint16_t word) {
    __asm__ __volatile__(
        "movw r0, %[word]\n\t"
        "out %[spmcsr], %[cmd]\n\t"
        "spm\n\t"
        "clr __zero_reg__\n\t" ::[word] "r"(word),
        [spmcsr] "I"(_SFR_IO_ADDR(SPMCSR)), [cmd] "r"((uint8_t)SPM_FILL), "z"(offset)
        : "r0");
}

/* Page 0 carries the jump to the bootloader in place of the application's first word, which
 * goes to EEPROM. Erasing page 0 is the dangerous moment: a chip cut off then starts on an
 * erased word and runs through erased flash (0xFFFF does nothing harmful) to the first
 * programmed word. So every other page of the application is erased first, from the top:
 * until page 0 is erased the jump is there, and afterwards the run through erased flash
 * ends in the bootloader at the top. The later pages of the stream are then written
 * without an erase of their own. */
static void write_page(boot_addr_t address, uint8_t* data) {
    if (address == 0) {
        eeprom_update(APP_WORD_ADDRESS, data[0]);
        eeprom_update(APP_WORD_ADDRESS + 1, data[1]);
        data[0] = (uint8_t)BOOT_RESET_WORD;
        data[1] = (uint8_t)(BOOT_RESET_WORD >> 8);
        boot_addr_t a = BOOT_APP_SIZE;
        do {
            a -= FLASH_PAGE;
            spm(a, SPM_ERASE);
        } while (a);
    }
    for (uint8_t i = 0; i < FLASH_PAGE; i += 2)
        page_buffer_word(i, (uint16_t)(data[i] | (data[i + 1] << 8)));
    spm(address, SPM_WRITE);
}

static page_t* next_slot(page_t* p) {
    return ++p == pages + BOOT_PENDING_PAGES ? pages : p;
}

static void write_pending_page(void) {
    write_page(oldest->address, oldest->data);
    oldest = next_slot(oldest);
    --pending_pages;
}

/* The flash page the stream loads is complete (or the stream has ended in it: its rest stays
 * erased): it joins the pending ones. With no room for another, a host that has not waited
 * for that many buffer-fulls loses what it sends while the oldest is written (its CRC and
 * verification show it). */
static void page_done(void) {
    while (filled < FLASH_PAGE)
        filling->data[filled++] = 0xFF;
    filling = next_slot(filling);
    filled = 0;
    if (++pending_pages == BOOT_PENDING_PAGES)
        write_pending_page();
}

/* ------------------------------------------------------------------ the platform */

uint8_t plat_flash_read(boot_addr_t address) {
    if (address < 2)
        return eeprom_read(APP_WORD_ADDRESS + address);
    return pgm_read_byte(address);
}

/* Held until the chip listens again; then the pages received so far are written (the host
 * waits for this reply) and the reply goes out. An acknowledgement that the host goes on
 * without (see host_acks) is sent only if the line stays quiet; meanwhile the pages wait for
 * the host's next wait. */
void plat_send(uint8_t byte) {
    if (byte == BOOT_REPLY_BUFFER_DONE) {
        if (host_acks) {
            --host_acks;
            ack_after = ACK_LATE;
            return;
        }
    } else if (filled) {
        page_done();
    }
    out[out_length++] = byte;
}

static void write_pending_pages(void) {
    while (pending_pages)
        write_pending_page();
}

static void flush_output(void) {
    if (!out_length)
        return;
    write_pending_pages();
    for (uint8_t i = 0; i < out_length; ++i)
        wire_tx(out[i], tx_whole, tx_frac);
    out_length = 0;
}

/* Puts back what the bootloader changed (timer 0, the wire's pin, EEAR) as a reset leaves
 * it and jumps to the application's reset vector, when the mark says the application is
 * whole and its first word is an RJMP. */
void plat_start_application(void) {
    const uint16_t word =
        (uint16_t)(eeprom_read(APP_WORD_ADDRESS) | (eeprom_read(APP_WORD_ADDRESS + 1) << 8));
    if (eeprom_read(MARK_ADDRESS) != MARK_VALID || (word & 0xF000) != 0xC000)
        return;
    TCCR0B = 0;
    TCNT0 = 0;
    TIFR0_ = 0xFF;
    WIRE_OUT &= (uint8_t)~WIRE_MASK;
    EEAR = 0;
    GPIOR0 = 0;
    GPIOR1 = 0;
    /* RJMP k at 0 goes to k + 1, in words and round the flash. */
    const uint16_t target = (uint16_t)(word + 1) & (uint16_t)((FLASHEND + 1UL) / 2 - 1);
    __asm__ __volatile__("ijmp\n\t" ::"z"(target));
}

void plat_success(void) {
    flush_output();
    eeprom_update(MARK_ADDRESS, MARK_VALID);
    plat_start_application();
}

void plat_stream_begins(void) {
    eeprom_update(MARK_ADDRESS, MARK_UPDATING);
    pending_pages = 0;
    filled = 0;
    oldest = filling = pages;
    host_acks = 0;
    ack_after = 0;
}

void plat_page_word(uint16_t offset, uint8_t low, uint8_t high) {
    uint8_t* at = filling->data + filled + offset;
    at[0] = low;
    at[1] = high;
}

/* A protocol page (every word of it loaded) is in: the flash page it belongs to waits until
 * it is complete. Flash pages are assembled in RAM and written whole, so every page of a
 * good stream counts here (the protocol compares nothing, BOOT_ONE_WIRE). The CPU halts for
 * every page: the acknowledgement goes after. */
void plat_page_done(boot_addr_t address, uint8_t what) {
    if (address < BOOT_APP_SIZE && !(what & BOOT_PAGE_BAD)) {
        filling->address = address & (boot_addr_t) ~(FLASH_PAGE - 1);
        filled = (uint8_t)(filled + BOOT_PAGE_SIZE);
        if (filled == FLASH_PAGE)
            page_done();
    }
    if (what & BOOT_PAGE_ACK)
        plat_send(BOOT_REPLY_BUFFER_DONE);
}

uint16_t plat_crc_take(void) {
    const uint16_t value = crc;
    crc = 0;
    return value;
}

uint8_t plat_receive(uint8_t wait) {
    flush_output();
    /* Overflows since the call (timer 0 runs on from the reset: one more or less). */
    uint8_t ticks = 0, high = 0;
    for (;;) {
        /* A start bit is a fall: the last data bit of the byte before may still be low. */
        if (WIRE_PIN & WIRE_MASK) {
            high = 1;
        } else if (high) {
            const uint8_t byte = wait < BOOT_WAIT_COMMAND ? receive_measuring()
                                                          : wire_rx(rx_whole, rx_frac, rx_half);
            ack_after = 0; /* the host went on */
            IDLE_SPANS = 0;
            if (byte == BOOT_REPLY_BUFFER_DONE && host_acks != 0xFF)
                ++host_acks;
            crc = boot_crc_update(crc, byte);
            return byte;
        }
        if (ack_after && (uint16_t)((ticks << 8) | TCNT0) >= ack_after) {
            ack_after = 0;
            write_pending_pages();
            wire_tx(BOOT_REPLY_BUFFER_DONE, tx_whole, tx_frac);
            ticks = 0;
        }
        if (TIFR0_ & _BV(TOV0)) {
            TIFR0_ = _BV(TOV0);
            ++ticks;
            ++uptime; /* wraps after 8.4 s: a late start at worst */
            if (wait < BOOT_WAIT_COMMAND) {
                /* The window counts from the reset: bytes that are no round do not hold a
                 * whole application back; a round under way holds it while the host's
                 * bytes keep coming. */
                if (uptime >= LISTEN_TICKS && (wait == BOOT_WAIT_LISTEN || ticks >= ROUND_TICKS))
                    plat_start_application();
            } else if (ticks >= IDLE_TICKS) {
                /* The host is gone: in a stream or a check start again as after a reset
                 * (the mark keeps a cut-off programming stream from ever being started),
                 * between commands start an application the session left untouched. */
                if (wait == BOOT_WAIT_EXCHANGE)
                    __asm__ __volatile__("rjmp boot_entry\n\t");
                ticks = 0;
                if (++IDLE_SPANS >= IDLE_SPANS_BETWEEN_COMMANDS)
                    plat_start_application();
            }
        }
    }
}

/* Entered by a jump, never returns: nothing to save. */
void boot_main(void) __attribute__((OS_main, noreturn, used));
void boot_main(void) {
    /* A watchdog reset leaves the watchdog running; the flag must go before it can stop. */
    MCUSR &= (uint8_t)~_BV(WDRF);
    WDTCSR_ = _BV(WDCE) | _BV(WDE);
    WDTCSR_ = 0;
    /* The wire idles high, also without the host's pull-up. */
    WIRE_OUT |= WIRE_MASK;
    TCCR0B = _BV(CS02) | _BV(CS00);
    TCNT0 = 0;
    TIFR0_ = _BV(TOV0);
    uptime = 0;
    out_length = 0;
    host_acks = 0;
    ack_after = 0;
    pending_pages = 0;
    filled = 0;
    oldest = filling = pages;
    boot_run(password, sizeof password, eeprom_read(MARK_ADDRESS) == MARK_VALID);
}

/* Address 0 jumps here, and so does a restart after a vanished host: no start-up code, so
 * set the stack and the zero register first. It is the bootloader's lowest word, where a
 * run through erased flash arrives. */
void boot_entry(void) __attribute__((naked, used, section(".vectors")));
void boot_entry(void) {
    __asm__ __volatile__(
        "clr __zero_reg__\n\t"
        "ldi r28, %[lo]\n\t"
        "out __SP_L__, r28\n\t"
        "ldi r28, %[hi]\n\t"
        "out __SP_H__, r28\n\t"
        "rjmp boot_main\n\t" ::[lo] "M"(RAMEND & 0xFF),
        [hi] "M"(RAMEND >> 8));
}

/* The chip's side of the bootloader on AVRs with a hardware UART and a boot section:
 * start-up, the UART with its receive FIFO, the flash writer, the validity mark in EEPROM
 * and the start of the application. Runs with interrupts off, from its own
 * (no-read-while-write) section, polling the UART in every wait, so that pages of the
 * read-while-write section are erased and written while the next bytes arrive. The names
 * of the chips' registers are mapped here, and only here. */
#include <stdint.h>

/* Held in registers from start to end (no code here or in libgcc's helpers touches them
 * otherwise): the FIFO's indices and the time of the last byte on the line, touched in
 * every wait, and the CRC of the bytes handed out, updated for each. Declared before any
 * function of the unit (boot_unit_uart.c includes this file first). */
register uint16_t fifo_in __asm__("r2");
register uint16_t fifo_out __asm__("r4");
register uint16_t stamp __asm__("r6");
register uint16_t crc __asm__("r8");

#include <avr/io.h>
#include <avr/pgmspace.h>

#include "boot_crc.h"
#include "boot_platform.h"
#include "boot_protocol.h"

#if SPM_PAGESIZE != BOOT_PAGE_SIZE || FLASHEND + 1UL - BOOT_SECTION_SIZE != BOOT_APP_SIZE
#error "the build's page and section sizes do not fit this chip"
#endif
#if SIGNATURE_0 != BOOT_SIGNATURE_0 || SIGNATURE_1 != BOOT_SIGNATURE_1 || \
    SIGNATURE_2 != BOOT_SIGNATURE_2
#error "the build's signature is not this chip's"
#endif

#ifndef BOOT_BAUD
#define BOOT_BAUD 115200UL
#endif
/* Double speed (U2X): its finer steps put the usual rates closer to the crystal's. */
#define BOOT_UBRR ((F_CPU + 4UL * BOOT_BAUD) / (8UL * BOOT_BAUD) - 1UL)
#define BOOT_BAUD_REAL (F_CPU / (8UL * (BOOT_UBRR + 1UL)))
#if (BOOT_BAUD_REAL > BOOT_BAUD ? BOOT_BAUD_REAL - BOOT_BAUD : BOOT_BAUD - BOOT_BAUD_REAL) * \
        1000UL / BOOT_BAUD >                                                                 \
    25UL
#error "the baud rate is more than 2.5 % off at this clock"
#endif

#ifndef BOOT_PASSWORD_BYTES
#define BOOT_PASSWORD_BYTES 'K', 'i', 'w', 'u'
#endif

#if defined(UDR0)
#define UDR_ UDR0
#define UCSRA_ UCSR0A
#define UCSRB_ UCSR0B
#define UCSRC_ UCSR0C
#define UCSRC_8N1 (_BV(UCSZ01) | _BV(UCSZ00))
#define UBRRL_ UBRR0L
#define UBRRH_ UBRR0H
#define RXC_ RXC0
#define TXC_ TXC0
#define FE_ FE0
#define UDRE_ UDRE0
#define U2X_ U2X0
#define RXEN_ RXEN0
#define TXEN_ TXEN0
#else
#define UDR_ UDR
#define UCSRA_ UCSRA
#define UCSRB_ UCSRB
#define UCSRC_ UCSRC
#define UCSRC_8N1 (_BV(URSEL) | _BV(UCSZ1) | _BV(UCSZ0)) /* URSEL: UCSRC, not UBRRH */
#define UBRRL_ UBRRL
#define UBRRH_ UBRRH
#define RXC_ RXC
#define TXC_ TXC
#define FE_ FE
#define UDRE_ UDRE
#define U2X_ U2X
#define RXEN_ RXEN
#define TXEN_ TXEN
#endif
#if defined(EEPE)
#define EEPE_ EEPE
#define EEMPE_ EEMPE
#else
#define EEPE_ EEWE
#define EEMPE_ EEMWE
#endif
#if defined(WDTCSR)
#define WDTCSR_ WDTCSR
#else
#define WDTCSR_ WDTCR
#endif
#if defined(SPMCSR)
#define SPMCSR_ SPMCSR
#else
#define SPMCSR_ SPMCR
#endif
/* The ATmega16 and ATmega32: MCUCSR, and the watchdog's change enable is WDTOE. */
#if defined(MCUSR)
#define MCUSR_ MCUSR
#else
#define MCUSR_ MCUCSR
#endif
#if defined(WDCE)
#define WDCE_ WDCE
#else
#define WDCE_ WDTOE
#endif
#if defined(TIFR1)
#define TIFR1_ TIFR1
#else
#define TIFR1_ TIFR
#endif

/* Timer 1 runs at F_CPU / 1024 from reset on and is never set back (it overflows after
 * 4.2 s at 16 MHz); `stamp` is its value at the last byte on the line. */
#define TICKS(ms) ((uint16_t)(F_CPU / 1024UL * (ms) / 1000UL))
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
#if BOOT_LISTEN_MS < 1000 || BOOT_LISTEN_MS > 4000
#error "the listening window must cover the host's second before its rounds, and fit timer 1"
#endif
/* A host silent this long inside a stream or a check is gone (see host_gone): it never
 * pauses there (paced bytes come every 50 ms, a query's reply within 3 s). */
#define IDLE_TICKS TICKS(2000)
/* Between commands the host may wait for a person: in single-wire mode it shows a box right
 * after connecting that must be clicked away before the first check, and a person takes
 * seconds, even half a minute. An untouched application starts only after this many spans
 * of IDLE_TICKS in a row (a power of two: 16, 32 s). */
#define IDLE_SPANS_BETWEEN_COMMANDS 16
/* Longer than the last two bytes sent (in UDR and the shift register) take to leave, at
 * 9600 baud or faster. */
#define DRAIN_TICKS TICKS(3)

/* The top of the flash (the largest boot section) is not read-while-write: the CPU halts
 * while a page there is erased or written, and the UART keeps two bytes only. The part of
 * the application section that lies there is written only while the host waits. */
#if FLASHEND < 0x4000
#define NRWW_START (FLASHEND + 1UL - 2048UL)
#elif FLASHEND < 0x8000
#define NRWW_START (FLASHEND + 1UL - 4096UL)
#else
#define NRWW_START (FLASHEND + 1UL - 8192UL)
#endif

/* The last EEPROM byte belongs to the bootloader: erased (0xFF, also after a chip erase)
 * while the application is whole, 0x00 from the start of a programming stream until the
 * host reports the update successful. */
#define MARK_VALID 0xFF
#define MARK_UPDATING 0x00

/* Not inlined: three callers, and each copy would cost more than the call. An application
 * that jumped here may have left an EEPROM write going, which blocks reading. */
static __attribute__((noinline)) uint8_t mark_read(void) {
    while (EECR & _BV(EEPE_)) {
    }
    EEAR = E2END;
    EECR = _BV(EERE);
    return EEDR;
}

static const BOOT_ROM uint8_t password[] = {BOOT_PASSWORD_BYTES};

#ifndef BOOT_FIFO_SIZE
#define BOOT_FIFO_SIZE (2 * BOOT_BUFFER_SIZE)
#endif
/* Room for a whole buffer-full even if every byte came escaped, so that the host may send
 * it at line speed from the moment it is acknowledged, whatever the flash is doing. */
#if BOOT_FIFO_SIZE < 2 * BOOT_BUFFER_SIZE || (BOOT_FIFO_SIZE & (BOOT_FIFO_SIZE - 1)) || \
    BOOT_FIFO_SIZE > 32768
#error "the receive FIFO must be a power of two holding a buffer-full escaped"
#endif
#if BOOT_FIFO_SIZE + 256 > RAMEND + 1 - RAMSTART
#error "the receive FIFO leaves no room for the stack"
#endif
#define FIFO_MASK (BOOT_FIFO_SIZE - 1)

/* No start-up code runs: nothing here relies on being zeroed. The indices run freely and
 * pick their slot by the mask, so that every slot is usable. At the start of the RAM (the
 * bootloader's only other RAM is the stack at its end): a constant address, whose zero low
 * byte on most chips saves half of each index's addition. */
#define fifo ((uint8_t*)RAMSTART)

/* Spans of IDLE_TICKS without a byte, counted in a wait between commands (see
 * plat_receive): in a spare I/O register where the chip has one (in and out are cheaper
 * than RAM, and a register pinned for it costs the stream's loop more). Put back to its
 * reset value 0 before the application starts, as GPIOR0. */
#if defined(GPIOR0)
#define IDLE_SPANS GPIOR1
/* The stream's state byte (boot_platform.h) in the spare I/O register with single-bit
 * access: the CPU's registers run short in the stream's loop on the chips with the largest
 * addresses. */
#define BOOT_STREAM_STATE GPIOR0
#else
#define IDLE_SPANS (*(volatile uint8_t*)(RAMSTART + BOOT_FIFO_SIZE)) /* after the FIFO */
/* Without GPIOR0: the EEPROM's data register, also with single-bit access, and free while a
 * stream runs (the mark is written before it and read after it). */
#define BOOT_STREAM_STATE EEDR
#endif

/* One more in a 16-bit FIFO index held in a low register pair (which has no adiw): two
 * bytes smaller than the compiler's copy through an upper pair. */
#define FIFO_NEXT(index) \
    __asm__("sec\n\tadc %A0, __zero_reg__\n\tadc %B0, __zero_reg__" : "+r"(index))

/* Timer 1's count, read in one place (cheaper than at every use on most chips). */
static __attribute__((noinline)) uint16_t timer(void) {
    return TCNT1;
}

/* Ticks since the last byte on the line. */
static __attribute__((noinline)) uint16_t quiet(void) {
    return (uint16_t)(timer() - stamp);
}

/* Takes a received byte into the FIFO. Called in every wait, so that the UART's two-byte
 * buffer never overflows. A host that keeps to the acknowledgements never sends more than
 * the FIFO holds; one that does not overwrites its own unread bytes, which the CRC check
 * and the verification report. */
static void poll_uart(void) {
    while (UCSRA_ & _BV(RXC_)) {
        stamp = timer();
        fifo[fifo_in & FIFO_MASK] = UDR_;
        FIFO_NEXT(fifo_in);
    }
}

/* As after a reset, for a host that is gone. */
static __attribute__((noreturn)) void restart(void) {
    __asm__ __volatile__("rjmp boot_entry\n\t");
    __builtin_unreachable();
}

uint8_t plat_flash_read(boot_addr_t addr) {
#if BOOT_APP_SIZE > 65536UL
    /* The address's three bytes as they are (avr-libc's reader wants 32 bits first). */
    uint8_t byte;
    __asm__("out %[rampz], %[high]\n\telpm %[byte], Z"
            : [byte] "=r"(byte)
            : [rampz] "I"(_SFR_IO_ADDR(RAMPZ)), [high] "r"((uint8_t)(addr >> 16)),
              "z"((uint16_t)addr));
    return byte;
#else
    return pgm_read_byte(addr);
#endif
}

void plat_send(uint8_t byte) {
    while (!(UCSRA_ & _BV(UDRE_)))
        poll_uart();
    UDR_ = byte;
    stamp = timer();
}

/* Erases and writes the mark, unless it holds the value already, and waits until it has
 * landed. */
static void mark_write(uint8_t value) {
    if (mark_read() != value) {
        EEDR = value;
        EECR = _BV(EEMPE_);
        EECR |= _BV(EEPE_);
        while (EECR & _BV(EEPE_))
            poll_uart();
    }
}

/* One page operation (cmd into SPMCSR, then SPM with the address's low 16 bits in Z and
 * RAMPZ set by the caller), waited for while receiving: the bootloader runs from its own
 * section while the application section is erased or written. */
static void spm(uint16_t addr, uint8_t cmd) {
    __asm__ __volatile__(
        "out %[spmcsr], %[cmd]\n\tspm\n\t" ::[spmcsr] "I"(_SFR_IO_ADDR(SPMCSR_)), [cmd] "r"(cmd),
        "z"(addr));
    while (SPMCSR_ & _BV(SPMEN))
        poll_uart();
}

#define SPM_FILL _BV(SPMEN)
#define SPM_ERASE (_BV(PGERS) | _BV(SPMEN))
#define SPM_WRITE (_BV(PGWRT) | _BV(SPMEN))
#define SPM_RWW_ENABLE (_BV(RWWSRE) | _BV(SPMEN))

/* The mark lands before any page changes (and no page is loaded while it is written). */
void plat_stream_begins(void) {
    mark_write(MARK_UPDATING);
    spm(0, SPM_RWW_ENABLE); /* also empties the page buffer of an earlier, broken stream */
}

/* When the mark says the application is whole and its first word is programmed, puts back
 * what the bootloader changed (UART, timer 1, EEAR, RAMPZ) as a reset leaves it and jumps
 * to the application at address 0. */
void plat_start_application(void) {
    if (mark_read() != MARK_VALID || pgm_read_word(0) == 0xFFFF)
        return;
    while (quiet() < DRAIN_TICKS) { /* the last reply leaves the line first */
    }
    UCSRB_ = 0;
    UCSRA_ = _BV(TXC_);
#if BOOT_UBRR > 255
    UBRRH_ = 0;
#endif
    UBRRL_ = 0;
    TCCR1B = 0;
    TCNT1 = 0;
    TIFR1_ = _BV(TOV1) | _BV(OCF1A) | _BV(OCF1B) | _BV(ICF1);
    EEAR = 0;
#if defined(GPIOR0)
    GPIOR0 = 0;
    GPIOR1 = 0;
#endif
#ifdef RAMPZ
    RAMPZ = 0;
#endif
    __asm__ __volatile__("clr r30\n\tclr r31\n\tijmp\n\t");
}

void plat_success(void) {
    mark_write(MARK_VALID);
    plat_start_application();
}

/* Loading the page buffer takes no time: every erase and write before it was waited for. */
void plat_page_word(uint16_t offset, uint8_t low, uint8_t high) {
    __asm__ __volatile__(
        "mov r0, %[low]\n\t"
        "mov r1, %[high]\n\t"
        "out %[spmcsr], %[cmd]\n\t"
        "spm\n\t"
        "clr __zero_reg__\n\t" ::[low] "r"(low),
        [high] "r"(high), [spmcsr] "I"(_SFR_IO_ADDR(SPMCSR_)), [cmd] "r"((uint8_t)SPM_FILL),
        "z"(offset)
        : "r0");
}

/* Whether the host has been silent for a span of IDLE_TICKS. */
static uint8_t host_gone(void) {
    return quiet() >= IDLE_TICKS;
}

void plat_page_done(boot_addr_t addr, uint8_t what) {
    /* Compared by the bits from 8 up (both limits are multiples of 256): fewer bytes. */
    const uint16_t high = (uint16_t)(addr >> 8);
    if (high < NRWW_START >> 8 && (what & BOOT_PAGE_ACK)) {
        plat_send(BOOT_REPLY_BUFFER_DONE);
        what &= (uint8_t)~BOOT_PAGE_ACK;
    }
    if (high < BOOT_APP_SIZE >> 8) {
#ifdef RAMPZ
        RAMPZ = (uint8_t)(addr >> 16);
#endif
        if (what & BOOT_PAGE_ERASE)
            spm((uint16_t)addr, SPM_ERASE);
        if (what & BOOT_PAGE_WRITE)
            spm((uint16_t)addr, SPM_WRITE);
        /* Z does not matter here; also empties the page buffer of a page not written */
        spm((uint16_t)addr, SPM_RWW_ENABLE);
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
    IDLE_SPANS = 0;
    for (;;) {
        poll_uart();
        if (fifo_out != fifo_in) {
            const uint8_t byte = fifo[fifo_out & FIFO_MASK];
            FIFO_NEXT(fifo_out);
            crc = boot_crc_update(crc, byte);
            return byte;
        }
        if (wait < BOOT_WAIT_COMMAND) {
            /* Timer 1 counts from the reset: bytes that are no round (an application's
             * protocol, noise) do not hold a whole application back; a round under way
             * holds it while the host's bytes keep coming. */
            if (timer() >= LISTEN_TICKS && (wait == BOOT_WAIT_LISTEN || quiet() >= ROUND_TICKS))
                plat_start_application();
        } else if (host_gone()) {
            if (wait == BOOT_WAIT_EXCHANGE)
                restart();   /* the mark keeps a cut-off programming stream from running */
            stamp = timer(); /* the next span */
            if (++IDLE_SPANS & IDLE_SPANS_BETWEEN_COMMANDS)
                plat_start_application();
        }
    }
}

/* Entered by a jump, never returns: nothing to save. */
void boot_main(void) __attribute__((OS_main, noreturn, used));
void boot_main(void) {
    /* A watchdog reset leaves the watchdog running; the flag must go before it can stop. */
    MCUSR_ &= (uint8_t)~_BV(WDRF);
    /* The timed sequence without saving SREG: interrupts are off (boot_entry). */
    WDTCSR_ = _BV(WDCE_) | _BV(WDE);
    WDTCSR_ = 0;
    /* Every register set in full: an application that jumps here may have left the UART
     * at another rate, frame or with its interrupts enabled, and timer 1 in another mode. */
    UBRRH_ = (uint8_t)(BOOT_UBRR >> 8);
    UBRRL_ = (uint8_t)BOOT_UBRR;
    UCSRA_ = _BV(U2X_);
    UCSRB_ = _BV(RXEN_) | _BV(TXEN_);
    UCSRC_ = UCSRC_8N1;
    TCCR1A = 0;
    TCCR1B = _BV(CS12) | _BV(CS10);
    TCNT1 = 0;
    fifo_out = fifo_in; /* empty; the indices run freely */
    boot_run(password, sizeof password, mark_read() == MARK_VALID);
}

/* The reset vector points here (BOOTRST), an application may jump here, and a restart
 * after a vanished host: no start-up code, so turn interrupts off and set the stack (an
 * ATmega8 starts with it at 0) and the zero register first. */
void boot_entry(void) __attribute__((naked, used, section(".vectors")));
void boot_entry(void) {
    __asm__ __volatile__(
        "cli\n\t"
        "clr __zero_reg__\n\t"
        "ldi r28, %[lo]\n\t"
        "out __SP_L__, r28\n\t"
        "ldi r28, %[hi]\n\t"
        "out __SP_H__, r28\n\t"
        "rjmp boot_main\n\t" ::[lo] "M"(RAMEND & 0xFF),
        [hi] "M"(RAMEND >> 8));
}

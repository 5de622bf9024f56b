/* The chip's side of the bootloader: start-up, the UART with its receive FIFO, the flash
 * writer, the validity mark in EEPROM and the start of the application. Runs with
 * interrupts off, from its own (no-read-while-write) section, polling the UART in every
 * wait, so that pages are erased and written while the next bytes arrive.
 *
 * The whole bootloader is this one translation unit (the protocol's files are included
 * below): it must fit 1 KiB, and one unit lets the compiler inline across the files and
 * keep the state that every wait touches in registers for the whole run. */
#include <stdint.h>

/* Held in registers from start to end (no code here or in libgcc's helpers touches them
 * otherwise): the FIFO's indices, polled in every wait, and the protocol's CRC register,
 * updated for every byte. Declared before any function of the unit. */
register uint16_t fifo_in __asm__("r2");
register uint16_t fifo_out __asm__("r4");
register uint16_t crc __asm__("r6");
#define BOOT_CRC_REGISTER

#include <avr/io.h>
#include <avr/pgmspace.h>

#include "boot_crc.c"
#include "boot_password.c"
#include "boot_protocol.c"
#include "boot_stream.c"

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
#define UBRRL_ UBRR0L
#define UBRRH_ UBRR0H
#define RXC_ RXC0
#define TXC_ TXC0
#define UDRE_ UDRE0
#define U2X_ U2X0
#define RXEN_ RXEN0
#define TXEN_ TXEN0
#else
#define UDR_ UDR
#define UCSRA_ UCSRA
#define UCSRB_ UCSRB
#define UBRRL_ UBRRL
#define UBRRH_ UBRRH
#define RXC_ RXC
#define TXC_ TXC
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

/* Timer 1 runs at F_CPU / 1024 and measures the line's silence. */
#define TICKS(ms) ((uint16_t)(F_CPU / 1024UL * (ms) / 1000UL))
/* Without a host the application starts this long after reset (rounds come every 60 ms). */
#define START_TICKS TICKS(400)
/* A host silent this long in the middle of a stream or a check is gone. */
#define IDLE_TICKS TICKS(2000)
/* Longer than the last two bytes sent (in UDR and the shift register) take to leave, at
 * 9600 baud or faster. */
#define DRAIN_TICKS TICKS(3)
/* A line this long silent means the host waits for a reply (a paced host leaves 50 ms
 * between bytes, a streaming one none). */
#define QUIET_TICKS TICKS(5)

/* The top of the flash (the largest boot section) is not read-while-write: the CPU halts
 * while a page there is erased or written, and the UART keeps two bytes only. The part of
 * the application section that lies there is written only while the line is quiet. */
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

/* Not inlined: three callers, and each copy would cost more than the call. */
static __attribute__((noinline)) uint8_t mark_read(void) {
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
#if BOOT_FIFO_SIZE < 2 * BOOT_BUFFER_SIZE || (BOOT_FIFO_SIZE & (BOOT_FIFO_SIZE - 1))
#error "the receive FIFO must be a power of two holding a buffer-full escaped"
#endif
#define FIFO_MASK (BOOT_FIFO_SIZE - 1)

/* No start-up code runs: nothing here relies on being zeroed. */
static uint8_t fifo[BOOT_FIFO_SIZE] __attribute__((section(".noinit")));

/* Takes a received byte into the FIFO (a byte that finds it full is lost, as on a line
 * without flow control; only a host that ignores the acknowledgements sees that). Called
 * in every wait, so that the UART's two-byte buffer never overflows. */
static void poll_uart(void) {
    if (UCSRA_ & _BV(RXC_)) {
        const uint8_t byte = UDR_;
        TCNT1 = 0;
        const uint16_t next = (fifo_in + 1) & FIFO_MASK;
        if (next != fifo_out) {
            fifo[fifo_in] = byte;
            fifo_in = next;
        }
    }
}

uint8_t plat_flash_read(boot_addr_t addr) {
#if BOOT_APP_SIZE > 65536UL
    return pgm_read_byte_far(addr);
#else
    return pgm_read_byte(addr);
#endif
}

void plat_send(uint8_t byte) {
    while (!(UCSRA_ & _BV(UDRE_)))
        poll_uart();
    UDR_ = byte;
    TCNT1 = 0;
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

/* When the application may start, puts back what the bootloader changed (UART, timer 1,
 * EEAR, RAMPZ) as a reset leaves it and jumps to the application at address 0. It may
 * start when the mark says it is whole and its first word is programmed. */
static void start_application(void) {
    if (mark_read() != MARK_VALID || pgm_read_word(0) == 0xFFFF)
        return;
    while (TCNT1 < DRAIN_TICKS) { /* the last reply leaves the line first */
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
#ifdef RAMPZ
    RAMPZ = 0;
#endif
    __asm__ __volatile__("clr r30\n\tclr r31\n\tijmp\n\t");
}

void plat_success(void) {
    mark_write(MARK_VALID);
    start_application();
}

/* Loading the page buffer takes no time: every erase and write before it was waited for. */
void plat_page_word(uint16_t offset, uint16_t word) {
    __asm__ __volatile__(
        "movw r0, %[word]\n\t"
        "out %[spmcsr], %[cmd]\n\t"
        "spm\n\t"
        "clr __zero_reg__\n\t" ::[word] "r"(word),
        [spmcsr] "I"(_SFR_IO_ADDR(SPMCSR_)), [cmd] "r"((uint8_t)SPM_FILL), "z"(offset)
        : "r0");
}

void plat_page_write(boot_addr_t addr) {
    if (addr >= BOOT_APP_SIZE)
        return;
    if (addr >= NRWW_START) {
        TCNT1 = 0;
        while (TCNT1 < QUIET_TICKS) /* every byte received starts the count again */
            poll_uart();
    }
#ifdef RAMPZ
    RAMPZ = (uint8_t)(addr >> 16);
#endif
    spm((uint16_t)addr, SPM_ERASE);
    spm((uint16_t)addr, SPM_WRITE);
    spm((uint16_t)addr, SPM_RWW_ENABLE); /* Z does not matter here */
}

uint8_t plat_receive(uint8_t wait) {
    for (;;) {
        poll_uart();
        if (fifo_out != fifo_in) {
            const uint8_t byte = fifo[fifo_out];
            fifo_out = (fifo_out + 1) & FIFO_MASK;
            return byte;
        }
        const uint16_t ticks = TCNT1;
        if (wait == BOOT_WAIT_LISTEN) {
            /* Before any connection nothing has changed since the reset. */
            if (ticks >= START_TICKS)
                start_application();
        } else if (wait == BOOT_WAIT_EXCHANGE && ticks >= IDLE_TICKS) {
            /* The host is gone: start again as after a reset. The mark keeps a cut-off
             * programming stream from ever being started. */
            __asm__ __volatile__("rjmp boot_entry\n\t");
        }
    }
}

/* Entered by a jump, never returns: nothing to save. */
void boot_main(void) __attribute__((OS_main, noreturn, used));
void boot_main(void) {
    /* A watchdog reset leaves the watchdog running; the flag must go before it can stop. */
    MCUSR_ &= (uint8_t)~_BV(WDRF);
    /* The timed sequence without saving SREG: interrupts are off from the reset on. */
    WDTCSR_ = _BV(WDCE_) | _BV(WDE);
    WDTCSR_ = 0;
#if BOOT_UBRR > 255 /* else it is 0, as the reset left it */
    UBRRH_ = (uint8_t)(BOOT_UBRR >> 8);
#endif
    UBRRL_ = (uint8_t)BOOT_UBRR;
    UCSRA_ = _BV(U2X_);
    UCSRB_ = _BV(RXEN_) | _BV(TXEN_);
    TCCR1B = _BV(CS12) | _BV(CS10);
    TCNT1 = 0;
    fifo_in = 0;
    fifo_out = 0;
    boot_run(password, sizeof password, mark_read() == MARK_VALID);
}

/* The reset vector points here (BOOTRST), and a restart after a vanished host: no
 * start-up code, so set the stack (an ATmega8 starts with it at 0) and the zero register
 * first. */
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

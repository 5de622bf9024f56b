/* The chip's side of the bootloader: start-up, the UART with its receive FIFO, the flash
 * writer, the validity mark in EEPROM and the start of the application. Runs with
 * interrupts off, from its own (no-read-while-write) section, polling the UART in every
 * wait, so that pages are erased and written while the next bytes arrive. */
#include <avr/boot.h>
#include <avr/io.h>
#include <avr/pgmspace.h>
#include <avr/wdt.h>

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

/* The last EEPROM byte belongs to the bootloader: erased (0xFF, also after a chip erase)
 * while the application is whole, 0x00 from the start of a programming stream until the
 * host reports the update successful. */
#define MARK_VALID 0xFF
#define MARK_UPDATING 0x00

static uint8_t mark_read(void) {
    EEAR = E2END;
    EECR = _BV(EERE);
    return EEDR;
}

/* Starts writing the mark (erase and write in one); the flash writer waits for it. */
static void mark_write(uint8_t value) {
    while (EECR & _BV(EEPE_)) {
    }
    if (mark_read() == value)
        return;
    EEDR = value;
    EECR = _BV(EEMPE_);
    EECR |= _BV(EEPE_);
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
boot_t boot __attribute__((section(".noinit")));
static uint8_t fifo[BOOT_FIFO_SIZE] __attribute__((section(".noinit")));
static uint16_t fifo_in __attribute__((section(".noinit")));
static uint16_t fifo_out __attribute__((section(".noinit")));
static uint8_t start_app __attribute__((section(".noinit")));

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
    UCSRA_ = _BV(U2X_) | _BV(TXC_); /* TXC cleared: set again once this byte is out */
    UDR_ = byte;
    TCNT1 = 0;
}

static void eeprom_wait(void) {
    while (EECR & _BV(EEPE_))
        poll_uart();
}

/* The mark lands before any page changes (and no page is loaded while it is written). */
void plat_stream_begins(void) {
    mark_write(MARK_UPDATING);
    eeprom_wait();
    boot_rww_enable(); /* also empties the page buffer of an earlier, broken stream */
}

/* Puts back what the bootloader changed (UART, timer 1, EEAR, RAMPZ) as a reset leaves it
 * and jumps to the application at address 0. */
static void __attribute__((noreturn)) leave(uint8_t drain) {
    if (drain)
        while (!(UCSRA_ & _BV(TXC_))) {
        }
    UCSRB_ = 0;
    UCSRA_ = _BV(TXC_);
    UBRRH_ = 0;
    UBRRL_ = 0;
    TCCR1B = 0;
    TCNT1 = 0;
    TIFR1_ = _BV(TOV1) | _BV(OCF1A) | _BV(OCF1B) | _BV(ICF1);
    EEAR = 0;
#ifdef RAMPZ
    RAMPZ = 0;
#endif
    __asm__ __volatile__("clr r30\n\tclr r31\n\tijmp\n\t");
    __builtin_unreachable();
}

void plat_success(void) {
    mark_write(MARK_VALID);
    eeprom_wait();
    if (pgm_read_word(0) != 0xFFFF)
        leave(1);
}

__attribute__((noinline)) void plat_page_word(uint16_t offset, uint16_t word) {
    boot_page_fill(offset, word);
}

static void spm_wait(void) {
    while (boot_spm_busy())
        poll_uart();
}

/* The bootloader runs from its own section while the application section is erased and
 * written, so it goes on receiving. */
void plat_page_write(boot_addr_t addr) {
    if (addr >= BOOT_APP_SIZE)
        return;
    boot_page_erase(addr);
    spm_wait();
    boot_page_write(addr);
    spm_wait();
    boot_rww_enable();
}

void boot_main(void) __attribute__((noreturn, used));

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
            if (start_app && ticks >= START_TICKS)
                leave(0);
        } else if (wait == BOOT_WAIT_EXCHANGE && ticks >= IDLE_TICKS) {
            /* The host is gone: start again as after a reset. The mark keeps a cut-off
             * programming stream from ever being started. */
            __asm__ __volatile__("rjmp boot_entry\n\t");
        }
    }
}

void boot_main(void) {
    /* A watchdog reset leaves the watchdog running; the flag must go before it can stop. */
    MCUSR &= (uint8_t)~_BV(WDRF);
    wdt_disable();
    UBRRH_ = (uint8_t)(BOOT_UBRR >> 8);
    UBRRL_ = (uint8_t)BOOT_UBRR;
    UCSRA_ = _BV(U2X_);
    UCSRB_ = _BV(RXEN_) | _BV(TXEN_);
    TCCR1B = _BV(CS12) | _BV(CS10);
    TCNT1 = 0;
    const uint8_t clean = mark_read() == MARK_VALID;
    start_app = clean && pgm_read_word(0) != 0xFFFF;
    fifo_in = 0;
    fifo_out = 0;
    boot_run(password, sizeof password, clean);
    for (;;) {
    }
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

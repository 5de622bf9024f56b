/* Runs from the boot section. Once the host has sent a byte, it erases and writes one
 * application page with a pattern,
 * sends how long that took in Timer1 ticks (clock/64, low byte first), then tries to
 * erase and write the last page of its own section, sends 'E' and sleeps for ever. */
#include <avr/boot.h>
#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/pgmspace.h>
#include <avr/sleep.h>

#include "uart.h"

#ifndef APP_PAGE
#define APP_PAGE 0x1000UL
#endif

#if FLASHEND > 0xFFFF
#define read_flash(a) pgm_read_byte_far(a)
#else
#define read_flash(a) pgm_read_byte((uint16_t)(a))
#endif

static void program_page(uint32_t page, uint8_t seed) {
    boot_page_erase(page);
    boot_spm_busy_wait();
    for (uint16_t i = 0; i < SPM_PAGESIZE; i += 2)
        boot_page_fill(page + i, (uint8_t)(seed + i) | ((uint16_t)(uint8_t)(seed + i + 1) << 8));
    boot_page_write(page);
    boot_spm_busy_wait();
}

int main(void) {
    uart_init();
    uart_read();
    TCCR1B = _BV(CS11) | _BV(CS10);
    TCNT1 = 0;
    program_page(APP_PAGE, 0x10);
    const uint16_t ticks = TCNT1;
    const uint8_t hidden = read_flash(APP_PAGE);
    boot_rww_enable();
    const uint8_t shown = read_flash(APP_PAGE);
    uart_write((uint8_t)ticks);
    uart_write((uint8_t)(ticks >> 8));
    uart_write(hidden);
    uart_write(shown);
    program_page(FLASHEND + 1UL - SPM_PAGESIZE, 0x55);
    boot_rww_enable();
    uart_write('E');
    while (!(T_UCSRA & _BV(T_TXC))) {
    }
    cli();
    set_sleep_mode(SLEEP_MODE_PWR_DOWN);
    sleep_enable();
    sleep_cpu();
    return 0;
}

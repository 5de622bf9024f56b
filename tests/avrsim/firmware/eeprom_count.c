/* Counts its starts in EEPROM byte 0 (blank: 0xFF, so the first start counts 0) and
 * sends the new count once the host has sent a byte, then waits. */
#include <avr/eeprom.h>
#include <avr/io.h>

#include "uart.h"

int main(void) {
    uart_init();
    const uint8_t count = (uint8_t)(eeprom_read_byte((uint8_t*)0) + 1);
    eeprom_write_byte((uint8_t*)0, count);
    eeprom_busy_wait();
    uart_read();
    uart_write(count);
    for (;;) {
    }
}

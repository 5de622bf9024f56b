/* Echoes every byte it receives. After an 'S' it stops reading for 200 ms, so that a
 * test sees what the receiver keeps of the bytes sent meanwhile. PB0 goes high once the
 * UART is ready. */
#include <avr/io.h>
#include <util/delay.h>

#include "uart.h"

int main(void) {
    uart_init();
    DDRB = _BV(DDB0);
    PORTB = _BV(PORTB0);
    for (;;) {
        const uint8_t c = uart_read();
        uart_write(c);
        if (c == 'S')
            _delay_ms(200);
    }
}

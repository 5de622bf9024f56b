/* Blinks an LED on PB0 once a second: a small firmware to try Tarnwick with. */
#include <avr/io.h>
#include <util/delay.h>

int main(void) {
    DDRB |= _BV(DDB0);
    for (;;) {
        PORTB ^= _BV(PORTB0);
        _delay_ms(500);
    }
}

/* Shows why it was reset: PORTB = MCUSR | 0x80. After a power-on it lets the watchdog
 * reset it once (15 ms). */
#include <avr/io.h>
#include <avr/wdt.h>

int main(void) {
    const uint8_t flags = MCUSR;
    MCUSR = 0;
    wdt_disable();
    DDRB = 0xFF;
    PORTB = flags | 0x80;
    if (flags & _BV(PORF))
        wdt_enable(WDTO_15MS);
    for (;;) {
    }
}

/* A program with initialised data and an EEPROM variable: its flash image holds the code
   and, after it, the data's initial values; the EEPROM value is no part of it. */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <stdint.h>
#include <util/delay.h>

uint8_t EEMEM Calibration = 0x5A;
volatile uint8_t Pattern[8] = {0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};

int main(void) {
    DDRB = 0xFF;
    for (;;) {
        for (uint8_t i = 0; i < sizeof Pattern; ++i) {
            PORTB = Pattern[i];
            _delay_ms(100);
        }
    }
}

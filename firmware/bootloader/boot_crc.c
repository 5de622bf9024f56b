#include "boot_crc.h"

uint16_t boot_crc_update(uint16_t crc, uint8_t byte) {
    crc ^= byte;
#if defined(__AVR__)
    /* The same loop as below, in fewer bytes than avr-gcc makes of it (the bootloader
     * has to fit 1 KiB): the shift and the polynomial straight on the register pair. */
    uint8_t bit, poly_low, poly_high;
    __asm__(
        "ldi %[bit], 8\n\t"
        "ldi %[pl], 0x01\n\t"
        "ldi %[ph], 0xA0\n"
        "1:\n\t"
        "lsr %B[crc]\n\t"
        "ror %A[crc]\n\t"
        "brcc 2f\n\t"
        "eor %A[crc], %[pl]\n\t"
        "eor %B[crc], %[ph]\n"
        "2:\n\t"
        "dec %[bit]\n\t"
        "brne 1b\n\t"
        : [crc] "+r"(crc), [bit] "=&d"(bit), [pl] "=&d"(poly_low), [ph] "=&d"(poly_high));
#else
    for (uint8_t bit = 8; bit; --bit) {
        const uint8_t lsb = crc & 1;
        crc >>= 1;
        if (lsb)
            crc ^= 0xA001;
    }
#endif
    return crc;
}

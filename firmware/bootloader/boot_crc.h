/* CRC-16/ARC (reflected polynomial 0xA001, start 0, no final XOR) over the bytes the
 * bootloader receives. Folding the host's own register value into it, low byte first,
 * leaves 0 when both sides saw the same bytes. */
#ifndef TARNWICK_BOOT_CRC_H
#define TARNWICK_BOOT_CRC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

uint16_t boot_crc_update(uint16_t crc, uint8_t byte);

#ifdef __cplusplus
}
#endif

#endif

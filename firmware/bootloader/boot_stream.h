/* Escapes of the data streams of programming and verification: image bytes go as they
 * are, except 0x13 as 0xA5 0x93 and 0xA5 as 0xA5 0x25; 0xA5 0x80 ends the stream. Any
 * other byte after 0xA5 is a broken escape. */
#ifndef TARNWICK_BOOT_STREAM_H
#define TARNWICK_BOOT_STREAM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define BOOT_ESCAPE 0xA5
#define BOOT_END_CODE 0x80
#define BOOT_STREAM_END (-1)
#define BOOT_STREAM_BROKEN (-2)

/* The meaning of the byte after 0xA5: the image byte (0..255), BOOT_STREAM_END or
 * BOOT_STREAM_BROKEN. */
int16_t boot_unescape(uint8_t second);

#ifdef __cplusplus
}
#endif

#endif

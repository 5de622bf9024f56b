#include "boot_stream.h"

int16_t boot_unescape(uint8_t second) {
    if (second == BOOT_END_CODE)
        return BOOT_STREAM_END;
    if (second == 0x93 || second == 0x25)
        return (uint8_t)(second - 0x80);
    return BOOT_STREAM_BROKEN;
}

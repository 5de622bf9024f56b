#include "boot_password.h"

void boot_password_init(boot_password_t* pw, const BOOT_ROM uint8_t* text, uint8_t length) {
    pw->text = text;
    pw->length = length;
    pw->matched = 0;
}

uint8_t boot_password_feed(boot_password_t* pw, uint8_t byte) {
    if (byte == BOOT_PASSWORD_END) {
        const uint8_t done = pw->matched == pw->length;
        pw->matched = 0;
        return done;
    }
    if (pw->matched < pw->length && byte == pw->text[pw->matched])
        ++pw->matched;
    else
        pw->matched = (uint8_t)(pw->length + 1);
    return 0;
}

uint8_t boot_password_in_round(const boot_password_t* pw) {
    return (uint8_t)(pw->matched - 1) < pw->length;
}

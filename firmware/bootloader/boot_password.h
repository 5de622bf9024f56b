/* Recognises the connection rounds: the password's characters followed by 0xFF, sent over
 * and over. The chip may wake up anywhere in a round, so a match only counts from the
 * first byte heard or from the byte after a 0xFF; a round heard in part is thrown away at
 * its 0xFF and the next round matches. */
#ifndef TARNWICK_BOOT_PASSWORD_H
#define TARNWICK_BOOT_PASSWORD_H

#include <stdint.h>

#include "boot_config.h"

#ifdef __cplusplus
extern "C" {
#endif

#define BOOT_PASSWORD_MAX 32
#define BOOT_PASSWORD_END 0xFF

typedef struct {
    const BOOT_ROM uint8_t* text; /* the password, without the 0xFF */
    uint8_t length;               /* at most BOOT_PASSWORD_MAX */
    uint8_t matched;              /* characters matched so far; length + 1: this round is lost */
} boot_password_t;

void boot_password_init(boot_password_t* pw, const BOOT_ROM uint8_t* text, uint8_t length);
/* Takes one received byte; returns 1 when it completed a round (password and 0xFF). */
uint8_t boot_password_feed(boot_password_t* pw, uint8_t byte);
/* Whether a round is under way: its first characters heard in order, the rest to come. */
uint8_t boot_password_in_round(const boot_password_t* pw);

#ifdef __cplusplus
}
#endif

#endif

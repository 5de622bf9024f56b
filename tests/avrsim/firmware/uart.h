/* Polled UART at BAUD (a build option) for the test programs, on chips with and without
 * numbered UART registers. U2X is used, as bootloaders do for 115200 Baud at 16 MHz. */
#ifndef TEST_UART_H
#define TEST_UART_H

#include <avr/io.h>

#ifndef BAUD
#define BAUD 115200UL
#endif
#define UBRR_VALUE ((F_CPU + 4UL * BAUD) / (8UL * BAUD) - 1UL)

#ifdef UDR0
#define T_UDR UDR0
#define T_UCSRA UCSR0A
#define T_UCSRB UCSR0B
#define T_UBRRL UBRR0L
#define T_UBRRH UBRR0H
#define T_RXC RXC0
#define T_UDRE UDRE0
#define T_U2X U2X0
#define T_RXEN RXEN0
#define T_TXEN TXEN0
#define T_TXC TXC0
#else
#define T_UDR UDR
#define T_UCSRA UCSRA
#define T_UCSRB UCSRB
#define T_UBRRL UBRRL
#define T_UBRRH UBRRH
#define T_RXC RXC
#define T_UDRE UDRE
#define T_U2X U2X
#define T_RXEN RXEN
#define T_TXEN TXEN
#define T_TXC TXC
#endif

static inline void uart_init(void) {
    T_UBRRH = (uint8_t)(UBRR_VALUE >> 8);
    T_UBRRL = (uint8_t)UBRR_VALUE;
    T_UCSRA = _BV(T_U2X);
#ifdef URSEL
    /* 8N1; on the ATmega8 this address is UBRRH unless URSEL is set. */
    UCSRC = _BV(URSEL) | _BV(UCSZ1) | _BV(UCSZ0);
#endif
    T_UCSRB = _BV(T_RXEN) | _BV(T_TXEN);
}

static inline uint8_t uart_read(void) {
    while (!(T_UCSRA & _BV(T_RXC))) {
    }
    return T_UDR;
}

static inline void uart_write(uint8_t c) {
    while (!(T_UCSRA & _BV(T_UDRE))) {
    }
    T_UDR = c;
}

#endif

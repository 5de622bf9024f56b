// The chip's UART wired to the master side of a pseudo-terminal, as a line to silicon.
//
// The host's bytes start on the line no faster than ten bits a byte at the host's baud
// rate (read from the terminal's settings, which the host sets on its side); each enters
// the UART's receiver when its start bit begins, and the chip's UART makes it readable a
// frame later. Like silicon, the receiver holds two bytes for the firmware plus the one in
// its shift register: when the next start bit comes while all three are full, the byte in
// the shift register is lost (overrun). A receiver that is switched off loses every byte.
// The chip's bytes leave at the firmware's own baud rate (ten bits a byte, not simavr's
// eleven) and reach the host when their stop bit has passed, unless no host has the port
// open. When the firmware's and the host's baud rates differ by more than a receiver
// tolerates, no byte crosses in either direction, and the mismatch is reported.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

#include "line.h"

struct avr_t;
struct avr_irq_t;
struct avr_uart_t;

namespace avrsim {

class TUartLine : public TLine {
  public:
    TUartLine(avr_t* Avr, int MasterFd, bool CheckBaud);
    TUartLine(const TUartLine&) = delete;
    TUartLine& operator=(const TUartLine&) = delete;

    void PowerOn(std::uint64_t Cycle) override;
    // RXD held low (an unpowered adapter): from power-on the receiver takes a 0x00 with a
    // framing error every frame at the firmware's rate, and the host's bytes are lost.
    void HoldRxdLow() { RxdLow = true; }
    // After every Bytes of the host's bytes the line stays idle for Cycles; the bytes wait.
    void PauseEvery(int Bytes, std::uint64_t Cycles) {
        PauseBytes = Bytes;
        PauseCycles = Cycles;
    }
    bool WantsInput() const override { return Waiting.size() < WaitingLimit; }
    bool ReadHost() override;
    void DiscardHost() override;
    // The host's baud rate, the firmware's byte time, the chip's bytes whose stop bit has
    // passed.
    void Tick() override;
    void Flush() override;

    std::uint32_t FirmwareBaud() const;
    std::uint32_t HostBaud() const { return Host; }

  private:
    static std::uint64_t Arrive(avr_t* Avr, std::uint64_t When, void* Param);
    static std::uint64_t LowFrame(avr_t* Avr, std::uint64_t When, void* Param);
    // Hands a byte whose stop bit has come to the receiver, or counts why it is lost.
    void Receive(std::uint64_t End, std::uint8_t Byte, bool FramingError);
    static void Output(avr_irq_t* Irq, std::uint32_t Value, void* Param);
    static void SharedUbrrhWrite(avr_t* Avr, std::uint16_t Addr, std::uint8_t Value, void* Param);
    std::uint64_t FirmwareByteCycles() const;
    std::uint64_t HostByteCycles() const;
    bool BaudMismatch();
    void ScheduleArrival();
    void Report(const std::string& Text);

    static constexpr std::size_t WaitingLimit = 32;

    avr_t* Avr;
    avr_uart_t* Uart = nullptr;
    avr_irq_t* Input = nullptr;
    const int Fd;
    const bool CheckBaud;
    std::uint32_t Host = 0;
    // On the ATmega8, UBRRH and UCSRC share one address; URSEL tells the writes apart.
    bool SharedUbrrh = false;
    std::uint8_t Ubrrh = 0;

    std::deque<std::uint8_t> Waiting;  // taken from the terminal, not yet on the line
    bool ArrivalPending = false;
    std::uint64_t LastStart = 0;
    bool Started = false;
    bool RxdLow = false;
    int PauseBytes = 0;
    std::uint64_t PauseCycles = 0;
    long ArrivedBytes = 0;
    std::uint64_t IdleUntil = 0;  // a pause of the line: no start bit before

    struct TOutgoing {
        std::uint64_t Due;
        std::uint8_t Byte;
    };
    std::deque<TOutgoing> Outgoing;

    std::uint32_t ReportedFirmware = 0, ReportedHost = 0;
    double LastOverrunReport = -1e9;
};

}  // namespace avrsim

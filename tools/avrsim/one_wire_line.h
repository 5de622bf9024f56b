// One pin of the chip wired to the master side of a pseudo-terminal as a single-wire,
// half-duplex line, bridged bit by bit in chip time.
//
// The host's transmitter and receiver both sit on the wire, as in the usual circuit (the
// host's TXD through a diode, RXD on the wire, a pull-up): the host pulls the wire low for
// its zero bits, the chip drives it while its pin is an output, and the wire is low while
// either pulls it low. The chip reads the wire at its pin; a receiver at the host's baud
// rate decodes everything on the wire, so the host hears its own bytes as well as the
// chip's. A frame broken because the chip drove high while the host pulled low, or whose
// stop bit is low, never reaches the host and is counted. The host's baud rate comes from
// the terminal's settings; its bit times are real time, so a chip clock set off by
// --clock-error meets them as a mistuned RC oscillator would.
#pragma once

#include <cstdint>
#include <deque>

#include "line.h"

struct avr_t;
struct avr_irq_t;

namespace avrsim {

class TOneWireLine : public TLine {
  public:
    // Port: 'A', 'B', ...; Bit: 0 to 7. Throws std::runtime_error when the chip has no such pin.
    TOneWireLine(avr_t* Avr, int MasterFd, char Port, int Bit);
    TOneWireLine(const TOneWireLine&) = delete;
    TOneWireLine& operator=(const TOneWireLine&) = delete;

    void PowerOn(std::uint64_t Cycle) override;
    bool WantsInput() const override { return Waiting.size() < WaitingLimit; }
    bool ReadHost() override;
    void DiscardHost() override;
    void Tick() override;
    void Flush() override {}

  private:
    static void ChipDrive(avr_irq_t* Irq, std::uint32_t Value, void* Param);
    static std::uint64_t HostStep(avr_t* Avr, std::uint64_t When, void* Param);
    static std::uint64_t Sample(avr_t* Avr, std::uint64_t When, void* Param);
    double BitCycles() const;
    std::uint64_t BitTime(std::uint64_t Start, double Bits) const;
    // Cycles from now until At (a cycle timer's delay).
    std::uint64_t Delay(std::uint64_t At) const;
    void StartSending(std::uint64_t Now);
    // Works out the wire's level after a change on either side.
    void Update(std::uint64_t When);

    static constexpr std::size_t WaitingLimit = 32;

    avr_t* Avr;
    const int Fd;
    const std::uint8_t Mask;
    std::uint16_t PortAddress = 0, DdrAddress = 0;
    avr_irq_t* Pin = nullptr;
    std::uint32_t HostBaud = 38400;  // a terminal's default

    // The host's transmitter.
    std::deque<std::uint8_t> Waiting;
    bool Sending = false;
    std::uint64_t SendStart = 0, SendFree = 0;
    std::uint8_t SendByte = 0;
    int SendBit = 0;  // 0 the start bit, 1 to 8 the data, 9 the stop bit, 10 done
    bool HostLow = false;

    // The wire and the host's receiver on it.
    bool WireLow = false;
    bool Receiving = false;
    bool RxFromHost = false;
    bool RxClash = false;
    std::uint64_t RxStart = 0;
    int RxBit = 0;
    std::uint8_t RxByte = 0;
};

}  // namespace avrsim

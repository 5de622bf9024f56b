// What the main loop needs of the line between the chip and the pseudo-terminal: the
// chip's UART on two wires (uart_line.h), or one pin bridged bit by bit as a single wire
// (one_wire_line.h).
#pragma once

#include <cstdint>
#include <cstdio>

namespace avrsim {

class TLine {
  public:
    virtual ~TLine() = default;

    // One line per byte on the line into File: chip time in ms since power-on (when the
    // byte's stop bit passed), "<" from the host or ">" from the chip, the byte in hex, and
    // what became of it when it was lost.
    void TraceTo(std::FILE* File) { Trace = File; }
    virtual void PowerOn(std::uint64_t Cycle) { PowerOnCycle = Cycle; }
    // Whether a host holds the port open (bytes sent meanwhile are lost).
    void SetHostOpen(bool Open) { HostOpen = Open; }
    // Whether more of the host's bytes may be taken from the terminal now; the others
    // wait there, and the host's writes back up as they would in a serial driver.
    virtual bool WantsInput() const = 0;
    // Takes the host's bytes that wait in the terminal (false when it cannot be read).
    virtual bool ReadHost() = 0;
    // The chip is off: whatever the host sends is lost.
    virtual void DiscardHost() = 0;
    // Brings the line up to the chip's time.
    virtual void Tick() = 0;
    // The chip stops: what it has sent reaches the host.
    virtual void Flush() = 0;

    struct TCounters {
        long Received = 0;     // bytes the chip's receiver took (on one wire: the host's bytes)
        long Sent = 0;         // bytes that reached the host (on one wire: the chip's)
        long Overruns = 0;     // lost in the receiver: not read in time
        long ReceiverOff = 0;  // lost: the receiver was switched off
        long Mismatched = 0;   // lost: the baud rates did not match (both directions)
        long Unheard = 0;      // sent while no host had the port open
        long LineLow = 0;      // the host's, lost while RXD was held low
        long Garbled = 0;      // one wire: frames broken by both sides driving at once
    };
    const TCounters& Counters() const { return Count; }

  protected:
    void TraceByte(std::uint64_t Cycle, std::uint32_t Hz, char Direction, std::uint8_t Byte,
                   const char* Note) {
        if (Trace == nullptr)
            return;
        const double ms =
            static_cast<double>(Cycle > PowerOnCycle ? Cycle - PowerOnCycle : 0) * 1000.0 / Hz;
        std::fprintf(Trace, "%.3f %c %02X%s%s\n", ms, Direction, Byte, Note[0] ? " " : "", Note);
    }

    bool HostOpen = false;
    std::FILE* Trace = nullptr;
    std::uint64_t PowerOnCycle = 0;
    TCounters Count;
};

// The host's baud rate as the terminal's settings give it (0 when unknown).
std::uint32_t HostBaudOf(int Fd);

}  // namespace avrsim

// The line between host and device as the simulated device sees it: the master side of
// its pseudo-terminal.
//
// Without a rate, bytes are taken as fast as the host writes them and replies go out at
// once. With --line-rate BAUD (ten bits a byte), the device takes no byte before a real line
// at that rate could have delivered it, so the host's writes back up in the terminal's
// buffer as they would in a driver's; and each reply reaches the host only once its own
// bytes have crossed the line, after the byte that caused it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

namespace devsim {

using TClock = std::chrono::steady_clock;
using TBytes = std::vector<std::uint8_t>;

class TLine {
  public:
    TLine(int MasterFd, long Rate, TClock::time_point Start);

    // A byte taken from the line, with the time it had arrived (ms since start).
    struct TReceived {
        std::uint8_t Byte;
        double TimeMs;
    };

    // Whether a received byte may be taken now (else the wait below ends when one may).
    bool WantsInput() const;
    // How long to wait for input at most, Limit included: until the next reply is due or the
    // next byte may be taken.
    std::chrono::nanoseconds WaitTime(std::chrono::nanoseconds Limit) const;
    // The bytes that have arrived by now (false when the terminal could not be read).
    bool Receive(std::vector<TReceived>& Bytes);
    // At a stop: what waits in the terminal now, whatever the rate, as arrived now (false
    // when the terminal could not be read).
    bool ReceiveRest(std::vector<TReceived>& Bytes);
    // The terminal was found empty: the host has paused.
    void Quiet() { Idle = true; }
    // The arrival time (ms since start) of the byte being handled; replies count from it.
    void SetHandling(double TimeMs) { HandlingMs = TimeMs; }
    void Send(const TBytes& Bytes);
    // Writes the replies whose time has come.
    void SendDue();

  private:
    struct TReply {
        TClock::time_point Due;
        TBytes Bytes;
    };

    void Write(const TBytes& Bytes);
    TClock::time_point At(double TimeMs) const;
    double Ms(TClock::time_point Time) const;

    const int Fd;
    const long Rate;
    const TClock::time_point Start;
    const std::chrono::nanoseconds ByteTime;
    // While bytes wait in the terminal, the next one arrives at NextArrival; once it was found
    // empty the line idles, and the next byte starts when the host writes it.
    TClock::time_point NextArrival;
    TClock::time_point LastArrival;
    bool Idle = true;
    TClock::time_point ReplyLineFree;  // the device's own direction of the line
    std::deque<TReply> Replies;
    double HandlingMs = 0;
};

}  // namespace devsim

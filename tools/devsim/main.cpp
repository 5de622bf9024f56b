// tarnwick-devsim: a simulated AVR bootloader on the master side of a pseudo-terminal.
//
// It prints the slave's path as the first line of standard output; a host opens that path
// as its serial port. Everything here is written from the host's view of the protocol
// only, and shares no code with the host, so that it checks the host for real.
//
// Reply rules of the device:
//
//  * Off: during --power-on-delay MS after start every received byte is discarded (traced
//    as "off"), as a switched-off device would.
//  * Every byte the device takes in is folded into its CRC-16/ARC register (start 0,
//    polynomial 0xA001 reflected, no final XOR) and, with --echo, sent straight back
//    before any reply (a single-wire line).
//  * Password: the device waits for the password (--password, default "Kiwu") followed by
//    0xFF. Then it answers 0xA6 and waits for 0xA5, answered with 0xAA: connected. Any other
//    byte instead of 0xA5 starts the password search again (with that byte).
//  * Commands (connected): 0xA5 and a code byte.
//      0x00 version     0xA8 n major minor 0xAA         (n: number of value bytes; each part
//                       as two decimal digits in one byte, 2.10 is 0x02 0x10)
//      0x01 buffer size 0xA8 n hi lo 0xAA
//      0x02 signature   0xA8 n s1 s2 s3 0xAA
//      0x03 flash size  0xA8 n b3 b2 b1 b0 0xAA
//                       With --tarnwick-mark every such reply carries 0x54 instead of n:
//                       the mark of Tarnwick's own bootloader, which takes the streams at
//                       line speed.
//      0x04 program     stream (below); 0xA9 after every buffer-full, 0xAA after the end
//                       sequence (0xAB when the stream did not fit the flash or held a bad
//                       escape)
//      0x07 verify      0xA7 with --no-verify; else stream, 0xAA after the end sequence
//                       when the stream equals the flash from address 0, else 0xAB
//                       (--wrong-verdict swaps the two)
//      0x06 CRC check   0xA7 with --no-crc; else the next two bytes are the host's CRC,
//                       low byte first; 0xAA when the register is 0 after folding them,
//                       else 0xAB. The register restarts at 0 after every check.
//      0x80             end of session (no reply)
//      0xA5             no reply (closing)
//      0x05             success: the update is done (no reply); --exit-after-success ends
//                       the program here
//      other            0xA7
//    A byte other than 0xA5 where a command is expected means the host started over: the
//    device returns to the password search with that byte.
//  * Streams: data bytes as they are, 0xA5 0x93 for 0x13, 0xA5 0x25 for 0xA5, 0xA5 0x80 ends.
//    Programming writes into a flash array (erased to 0xFF) from address 0, buffer-full by
//    buffer-full; verification compares the stream with that array.
//  * --silent: the device takes in and traces bytes but never sends anything.
//  * Faults, counting bytes from the first one after the connection confirmation (that byte
//    is number 1): --drop-byte N discards byte N as if lost on the line, --corrupt-byte N
//    flips its lowest bit. --withhold-ack N sends no 0xA9 for the N-th buffer-full of a
//    programming stream (counted over the life of the program).
//  * Replies withheld, each as a device that hangs at that point: --withhold-confirm sends
//    0xA6 but never confirms (the 0xA5 starts the password search again);
//    --accept-from-byte N lets no byte before the N-th one it takes in (from 1) complete the
//    password; --withhold-crc-verdict N sends no verdict for the N-th CRC check (counted
//    over the life of the program); --withhold-program-end sends nothing after the end
//    sequence of a programming stream, --withhold-verdict nothing after that of a
//    verification stream.
//
// --line-rate BAUD: the device takes bytes no faster than a line at BAUD (ten bits a byte)
// delivers them, and each reply reaches the host only after its own line time (line.h).
//
// --trace FILE writes one line per received byte: milliseconds since start (at line rate:
// when it had arrived), the byte in hex, and a note for discarded ones ("off", "dropped") or
// changed ones ("corrupted XX").
// --flash-in FILE starts with that content instead of an erased flash.
// --flash-out FILE writes the flash array (flash size bytes) after every programming
// stream and at exit. SIGINT and SIGTERM end the program cleanly, after the device has taken
// what the host had written by then; so does --max-time S.

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "line.h"
#include "options.h"
#include "pty_line.h"

namespace {

using TBytes = std::vector<std::uint8_t>;
using devsim::TOptions;

// What Tarnwick's own bootloader sends after 0xA8 (--tarnwick-mark).
constexpr std::uint8_t MarkByte = 0x54;

std::uint16_t CrcStep(std::uint16_t crc, std::uint8_t b) {
    crc ^= b;
    for (int i = 0; i < 8; ++i)
        crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                        : static_cast<std::uint16_t>(crc >> 1);
    return crc;
}

class TDevice {
  public:
    TDevice(const TOptions& options, devsim::TLine& line)
        : Opt(options), Line(line), Flash(options.FlashSize, 0xFF) {}

    // Preloads the flash from a binary file (as much of it as fits).
    bool LoadFlash(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return false;
        in.read(reinterpret_cast<char*>(Flash.data()), static_cast<std::streamsize>(Flash.size()));
        return true;
    }

    // Takes one byte from the line (after the power-on and fault filters).
    void Receive(std::uint8_t b) {
        ++Taken;
        Crc = CrcStep(Crc, b);
        if (Opt.Echo)
            Send({b});
        switch (State) {
            case TState::Password:
                MatchPassword(b);
                break;
            case TState::Confirm:
                if (b == 0xA5 && Opt.WithholdConfirm) {
                    State = TState::Password;
                    Matched = 0;
                } else if (b == 0xA5) {
                    Send({0xAA});
                    Connected = true;
                    State = TState::Prefix;
                } else {
                    State = TState::Password;
                    Matched = 0;
                    MatchPassword(b);
                }
                break;
            case TState::Prefix:
                if (b == 0xA5) {
                    State = TState::Code;
                } else {
                    State = TState::Password;
                    Matched = 0;
                    MatchPassword(b);
                }
                break;
            case TState::Code:
                Command(b);
                break;
            case TState::CrcLow:
                State = TState::CrcHigh;
                break;
            case TState::CrcHigh:
                ++CrcChecks;
                if (CrcChecks != Opt.WithholdCrcVerdict)
                    Send({static_cast<std::uint8_t>(Crc == 0 ? 0xAA : 0xAB)});
                Crc = 0;
                State = TState::Prefix;
                break;
            case TState::Stream:
                StreamByte(b);
                break;
        }
    }

    bool IsConnected() const { return Connected; }
    bool SuccessSeen() const { return Success; }
    bool ClosingSeen() const { return Closed; }

    void WriteFlash() const {
        if (Opt.FlashOut.empty())
            return;
        std::ofstream out(Opt.FlashOut, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(Flash.data()),
                  static_cast<std::streamsize>(Flash.size()));
    }

  private:
    enum class TState { Password, Confirm, Prefix, Code, CrcLow, CrcHigh, Stream };

    void Send(const TBytes& bytes) {
        if (!Opt.Silent)
            Line.Send(bytes);
    }

    void MatchPassword(std::uint8_t b) {
        const std::string& pw = Opt.Password;
        if (Matched == pw.size()) {
            if (b == 0xFF && Taken >= Opt.AcceptFromByte) {
                Send({0xA6});
                State = TState::Confirm;
                Matched = 0;
                return;
            }
            Matched = 0;
        }
        if (Matched < pw.size() && b == static_cast<std::uint8_t>(pw[Matched])) {
            ++Matched;
        } else {
            Matched = (!pw.empty() && b == static_cast<std::uint8_t>(pw[0])) ? 1 : 0;
        }
    }

    void Value(const TBytes& value) {
        // Built byte by byte: GCC 12 warns falsely (-Warray-bounds) on an insert here.
        TBytes reply;
        reply.push_back(0xA8);
        reply.push_back(Opt.TarnwickMark ? MarkByte : static_cast<std::uint8_t>(value.size()));
        for (const std::uint8_t v : value)
            reply.push_back(v);
        reply.push_back(0xAA);
        Send(reply);
    }

    void Command(std::uint8_t code) {
        State = TState::Prefix;
        switch (code) {
            case 0x00:
                Value({Opt.VersionMajor, Opt.VersionMinor});
                break;
            case 0x01:
                Value({static_cast<std::uint8_t>(Opt.BufferSize >> 8),
                       static_cast<std::uint8_t>(Opt.BufferSize)});
                break;
            case 0x02:
                Value(Opt.Signature);
                break;
            case 0x03:
                Value({static_cast<std::uint8_t>(Opt.FlashSize >> 24),
                       static_cast<std::uint8_t>(Opt.FlashSize >> 16),
                       static_cast<std::uint8_t>(Opt.FlashSize >> 8),
                       static_cast<std::uint8_t>(Opt.FlashSize)});
                break;
            case 0x04:
                StartStream(false);
                break;
            case 0x07:
                if (Opt.NoVerify)
                    Send({0xA7});
                else
                    StartStream(true);
                break;
            case 0x06:
                if (Opt.NoCrc)
                    Send({0xA7});
                else
                    State = TState::CrcLow;
                break;
            case 0x80:
                break;
            case 0xA5:
                Closed = true;
                break;
            case 0x05:
                Success = true;
                WriteFlash();
                break;
            default:
                Send({0xA7});
                break;
        }
    }

    void StartStream(bool verify) {
        State = TState::Stream;
        Verifying = verify;
        Escaped = false;
        StreamBad = false;
        Address = 0;
        Pending.clear();
    }

    void StreamByte(std::uint8_t b) {
        if (Escaped) {
            Escaped = false;
            if (b == 0x80) {
                EndStream();
                return;
            }
            if (b == 0x93 || b == 0x25) {
                DataByte(static_cast<std::uint8_t>(b - 0x80));
            } else {
                StreamBad = true;  // not a sequence the host may send
            }
            return;
        }
        if (b == 0xA5) {
            Escaped = true;
            return;
        }
        DataByte(b);
    }

    void DataByte(std::uint8_t b) {
        if (Verifying) {
            if (Address >= Flash.size() || Flash[Address] != b)
                StreamBad = true;
            ++Address;
            return;
        }
        Pending.push_back(b);
        if (Opt.BufferSize > 0 && Pending.size() == Opt.BufferSize) {
            CommitBuffer();
            ++BuffersDone;
            if (BuffersDone != Opt.WithholdAck)
                Send({0xA9});
        }
    }

    void CommitBuffer() {
        for (const std::uint8_t v : Pending) {
            if (Address < Flash.size())
                Flash[Address] = v;
            else
                StreamBad = true;
            ++Address;
        }
        Pending.clear();
    }

    void EndStream() {
        State = TState::Prefix;
        if (Verifying) {
            const bool equal = !StreamBad;
            if (!Opt.WithholdVerdict)
                Send({static_cast<std::uint8_t>((equal != Opt.WrongVerdict) ? 0xAA : 0xAB)});
            return;
        }
        CommitBuffer();
        WriteFlash();
        if (!Opt.WithholdProgramEnd)
            Send({static_cast<std::uint8_t>(StreamBad ? 0xAB : 0xAA)});
    }

    const TOptions& Opt;
    devsim::TLine& Line;
    TBytes Flash;
    TState State = TState::Password;
    std::size_t Matched = 0;
    std::uint16_t Crc = 0;
    bool Connected = false;
    bool Success = false;
    bool Closed = false;
    bool Verifying = false;
    bool Escaped = false;
    bool StreamBad = false;
    std::size_t Address = 0;
    TBytes Pending;
    long BuffersDone = 0;
    long CrcChecks = 0;
    long Taken = 0;  // bytes taken in, after the power-on and fault filters
};

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = devsim::ParseOptions(argc, argv);
    if (!parsed)
        return 2;
    const TOptions& opt = *parsed;

    const int stopFd = toolcommon::StopSignalDescriptor("tarnwick-devsim");
    if (stopFd < 0)
        return 1;
    auto pty = toolcommon::OpenPtyLine("tarnwick-devsim");
    if (!pty)
        return 1;
    const int master = pty->Master;
    const std::string& slavePath = pty->SlavePath;

    std::FILE* trace = nullptr;
    if (!opt.TraceFile.empty()) {
        trace = std::fopen(opt.TraceFile.c_str(), "w");
        if (trace == nullptr) {
            std::perror(("tarnwick-devsim: Protokolldatei " + opt.TraceFile).c_str());
            return 1;
        }
    }

    const auto start = std::chrono::steady_clock::now();
    devsim::TLine line(master, opt.LineRate, start);
    TDevice device(opt, line);
    if (!opt.FlashIn.empty() && !device.LoadFlash(opt.FlashIn)) {
        std::cerr << "tarnwick-devsim: " << opt.FlashIn << " ist nicht lesbar\n";
        return 1;
    }

    std::cout << slavePath << std::endl;
    auto elapsedMs = [&] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    long afterConnect = 0;
    bool running = true;
    int exitCode = 0;
    std::vector<devsim::TLine::TReceived> received;
    // Traces the bytes taken from the line and hands the device those that reach it.
    auto handle = [&] {
        for (std::size_t i = 0; i < received.size() && running; ++i) {
            std::uint8_t b = received[i].Byte;
            const double t = opt.LineRate > 0 ? received[i].TimeMs : elapsedMs();
            const char* note = "";
            char noteBuf[32];
            if (t < opt.PowerOnDelayMs) {
                note = " off";
            } else if (device.IsConnected()) {
                ++afterConnect;
                if (afterConnect == opt.DropByte) {
                    note = " dropped";
                } else if (afterConnect == opt.CorruptByte) {
                    b ^= 0x01;
                    std::snprintf(noteBuf, sizeof noteBuf, " corrupted %02X", b);
                    note = noteBuf;
                }
            }
            if (trace != nullptr)
                std::fprintf(trace, "%.1f %02X%s\n", t, received[i].Byte, note);
            line.SetHandling(t);
            if (note[0] == '\0' || note[1] == 'c')
                device.Receive(b);
            if ((opt.ExitAfterSuccess && device.SuccessSeen()) ||
                (opt.ExitAfterClose && device.ClosingSeen()))
                running = false;
        }
        if (trace != nullptr)
            std::fflush(trace);
    };
    while (running) {
        auto wait = std::chrono::nanoseconds(std::chrono::seconds(1));
        if (opt.MaxTimeS > 0) {
            const double left = opt.MaxTimeS * 1000.0 - elapsedMs();
            if (left <= 0)
                break;
            wait = std::min(wait, std::chrono::nanoseconds(static_cast<long long>(left * 1e6)));
        }
        wait = line.WaitTime(wait);
        const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                               static_cast<long>(wait.count() % 1000000000)};
        // A fd of -1 is left out: at line rate the next byte may not be taken yet.
        pollfd fds[2] = {{line.WantsInput() ? master : -1, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int n = ppoll(fds, 2, &timeout, nullptr);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::perror("tarnwick-devsim: poll");
            exitCode = 1;
            break;
        }
        if (fds[1].revents & POLLIN) {
            // What the host wrote before the stop still reaches the device and the trace:
            // whoever stops the device after the host's last write reads a complete trace.
            while (running && line.ReceiveRest(received) && !received.empty())
                handle();
            break;
        }
        line.SendDue();
        if (fds[0].fd >= 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
            line.Quiet();
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!line.Receive(received)) {
                // EIO: no slave open. Cannot happen while we hold one; avoid spinning anyway.
                poll(nullptr, 0, 10);
                continue;
            }
            handle();
        }
    }
    device.WriteFlash();
    if (trace != nullptr)
        std::fclose(trace);
    toolcommon::ClosePtyLine(*pty);
    return exitCode;
}

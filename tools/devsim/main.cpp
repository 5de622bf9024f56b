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
//
// --trace FILE writes one line per received byte: milliseconds since start, the byte in
// hex, and a note for discarded ones ("off", "dropped") or changed ones ("corrupted XX").
// --flash-in FILE starts with that content instead of an erased flash.
// --flash-out FILE writes the flash array (flash size bytes) after every programming
// stream and at exit. SIGINT and SIGTERM end the program cleanly; so does --max-time S.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

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

namespace {

using TBytes = std::vector<std::uint8_t>;

int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char b = 1;
    // Nothing useful can be done if the pipe is full: one byte is enough to wake the loop.
    [[maybe_unused]] auto n = write(SignalPipe[1], &b, 1);
}

struct TOptions {
    std::string Password = "Kiwu";
    std::uint8_t VersionMajor = 2;
    std::uint8_t VersionMinor = 1;
    TBytes Signature = {0x1E, 0x93, 0x07};
    std::uint32_t BufferSize = 64;
    std::uint32_t FlashSize = 8192;
    bool Echo = false;
    bool NoCrc = false;
    bool NoVerify = false;
    bool WrongVerdict = false;
    bool Silent = false;
    int PowerOnDelayMs = 0;
    long DropByte = 0;
    long CorruptByte = 0;
    long WithholdAck = 0;
    std::string TraceFile;
    std::string FlashOut;
    std::string FlashIn;
    bool ExitAfterSuccess = false;
    double MaxTimeS = 0;
};

void Usage(std::ostream& out) {
    out << "Aufruf: tarnwick-devsim [OPTIONEN]\n"
           "\n"
           "Simulierter AVR-Bootloader an einem Pseudo-Terminal. Die erste Zeile der Ausgabe\n"
           "ist dessen Pfad, die Schnittstelle für den Host.\n"
           "\n"
           "Optionen:\n"
           "  --password TEXT        Bootloader-Passwort (Vorgabe Kiwu)\n"
           "  --boot-version X.Y     Bootloader-Version (Vorgabe 2.1)\n"
           "  --signature HEX        Signatur des Chips, 6 Hex-Ziffern (Vorgabe 1E9307)\n"
           "  --buffer N             Größe des Empfangspuffers (Vorgabe 64)\n"
           "  --flash N              Flash-Größe in Byte (Vorgabe 8192)\n"
           "  --echo                 jedes empfangene Byte zurücksenden (Eindrahtleitung)\n"
           "  --no-crc               CRC-Prüfung ablehnen\n"
           "  --no-verify            Überprüfung ablehnen\n"
           "  --wrong-verdict        das umgekehrte Ergebnis der Überprüfung melden\n"
           "  --silent               nie etwas senden\n"
           "  --power-on-delay MS    MS ms nach dem Start alles ignorieren\n"
           "  --drop-byte N          Byte N nach dem Verbinden verlieren\n"
           "  --corrupt-byte N       im Byte N nach dem Verbinden das unterste Bit kippen\n"
           "  --withhold-ack N       kein 0xA9 für den N-ten vollen Puffer senden\n"
           "  --trace DATEI          jedes empfangene Byte mit seiner Zeit schreiben\n"
           "  --flash-in DATEI       mit diesem Flash-Inhalt statt eines gelöschten beginnen\n"
           "  --flash-out DATEI      den Flash nach jedem Programmieren und am Ende schreiben\n"
           "  --exit-after-success   nach dem Erfolgsbefehl enden\n"
           "  --max-time S           spätestens nach S Sekunden enden\n"
           "  --help, -h             diese Hilfe anzeigen\n"
           "  --version              Version anzeigen\n";
}

bool ParseHexBytes(const std::string& text, TBytes& out) {
    if (text.empty() || text.size() % 2 != 0)
        return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        const std::string part = text.substr(i, 2);
        const long v = std::strtol(part.c_str(), &end, 16);
        if (end != part.c_str() + 2)
            return false;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

bool ParseLong(const std::string& text, long low, long high, long& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        return false;
    out = v;
    return true;
}

std::optional<TOptions> ParseOptions(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc)
                return std::nullopt;
            return std::string(argv[++i]);
        };
        long n = 0;
        bool ok = true;
        if (a == "--echo") {
            o.Echo = true;
        } else if (a == "--no-crc") {
            o.NoCrc = true;
        } else if (a == "--no-verify") {
            o.NoVerify = true;
        } else if (a == "--wrong-verdict") {
            o.WrongVerdict = true;
        } else if (a == "--silent") {
            o.Silent = true;
        } else if (a == "--exit-after-success") {
            o.ExitAfterSuccess = true;
        } else if (a == "--help" || a == "-h") {
            Usage(std::cout);
            std::exit(0);
        } else if (a == "--version") {
            std::cout << "tarnwick-devsim " TARNWICK_VERSION "\n";
            std::exit(0);
        } else {
            static const char* const valueOptions[] = {
                "--password",       "--boot-version", "--signature",    "--buffer",       "--flash",
                "--power-on-delay", "--drop-byte",    "--corrupt-byte", "--withhold-ack", "--trace",
                "--flash-out",      "--flash-in",     "--max-time"};
            if (std::find(std::begin(valueOptions), std::end(valueOptions), a) ==
                std::end(valueOptions)) {
                std::cerr << "tarnwick-devsim: unbekannte Option " << a << "\n\n";
                Usage(std::cerr);
                return std::nullopt;
            }
            const auto v = value();
            if (!v) {
                std::cerr << "tarnwick-devsim: " << a << " braucht einen Wert\n";
                return std::nullopt;
            }
            if (a == "--password") {
                o.Password = *v;
            } else if (a == "--boot-version") {
                const auto dot = v->find('.');
                long major = 0, minor = 0;
                ok = dot != std::string::npos && ParseLong(v->substr(0, dot), 0, 99, major) &&
                     ParseLong(v->substr(dot + 1), 0, 99, minor);
                // Each part goes out as two decimal digits in one byte: 2.10 is 0x02 0x10.
                o.VersionMajor = static_cast<std::uint8_t>(major / 10 * 16 + major % 10);
                o.VersionMinor = static_cast<std::uint8_t>(minor / 10 * 16 + minor % 10);
            } else if (a == "--signature") {
                ok = ParseHexBytes(*v, o.Signature);
            } else if (a == "--buffer") {
                ok = ParseLong(*v, 0, 65535, n);
                o.BufferSize = static_cast<std::uint32_t>(n);
            } else if (a == "--flash") {
                ok = ParseLong(*v, 1, 16 * 1024 * 1024, n);
                o.FlashSize = static_cast<std::uint32_t>(n);
            } else if (a == "--power-on-delay") {
                ok = ParseLong(*v, 0, 3600000, n);
                o.PowerOnDelayMs = static_cast<int>(n);
            } else if (a == "--drop-byte") {
                ok = ParseLong(*v, 1, 1L << 40, o.DropByte);
            } else if (a == "--corrupt-byte") {
                ok = ParseLong(*v, 1, 1L << 40, o.CorruptByte);
            } else if (a == "--withhold-ack") {
                ok = ParseLong(*v, 1, 1L << 40, o.WithholdAck);
            } else if (a == "--trace") {
                o.TraceFile = *v;
            } else if (a == "--flash-in") {
                o.FlashIn = *v;
            } else if (a == "--flash-out") {
                o.FlashOut = *v;
            } else if (a == "--max-time") {
                ok = ParseLong(*v, 1, 86400 * 7, n);
                o.MaxTimeS = static_cast<double>(n);
            } else {
                std::cerr << "tarnwick-devsim: unbekannte Option " << a << "\n\n";
                Usage(std::cerr);
                return std::nullopt;
            }
            if (!ok) {
                std::cerr << "tarnwick-devsim: ungültiger Wert für " << a << ": " << *v << "\n";
                return std::nullopt;
            }
        }
    }
    return o;
}

std::uint16_t CrcStep(std::uint16_t crc, std::uint8_t b) {
    crc ^= b;
    for (int i = 0; i < 8; ++i)
        crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                        : static_cast<std::uint16_t>(crc >> 1);
    return crc;
}

class TDevice {
  public:
    TDevice(const TOptions& options, int masterFd)
        : Opt(options), Fd(masterFd), Flash(options.FlashSize, 0xFF) {}

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
        Crc = CrcStep(Crc, b);
        if (Opt.Echo)
            Send({b});
        switch (State) {
            case TState::Password:
                MatchPassword(b);
                break;
            case TState::Confirm:
                if (b == 0xA5) {
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
        if (Opt.Silent)
            return;
        std::size_t done = 0;
        int stalls = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(Fd, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                // A host that stopped reading for a second loses the rest, as on a line.
                if (errno == EAGAIN && ++stalls <= 10) {
                    pollfd p{Fd, POLLOUT, 0};
                    poll(&p, 1, 100);
                    continue;
                }
                return;  // nobody listens: a real line loses the bytes as well
            }
            done += static_cast<std::size_t>(n);
        }
    }

    void MatchPassword(std::uint8_t b) {
        const std::string& pw = Opt.Password;
        if (Matched == pw.size()) {
            if (b == 0xFF) {
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
        TBytes reply{0xA8, static_cast<std::uint8_t>(value.size())};
        reply.insert(reply.end(), value.begin(), value.end());
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
            case 0xA5:
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
            Send({static_cast<std::uint8_t>((equal != Opt.WrongVerdict) ? 0xAA : 0xAB)});
            return;
        }
        CommitBuffer();
        WriteFlash();
        Send({static_cast<std::uint8_t>(StreamBad ? 0xAB : 0xAA)});
    }

    const TOptions& Opt;
    int Fd;
    TBytes Flash;
    TState State = TState::Password;
    std::size_t Matched = 0;
    std::uint16_t Crc = 0;
    bool Connected = false;
    bool Success = false;
    bool Verifying = false;
    bool Escaped = false;
    bool StreamBad = false;
    std::size_t Address = 0;
    TBytes Pending;
    long BuffersDone = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = ParseOptions(argc, argv);
    if (!parsed)
        return 2;
    const TOptions& opt = *parsed;

    if (pipe(SignalPipe) != 0) {
        std::perror("tarnwick-devsim: pipe");
        return 1;
    }
    fcntl(SignalPipe[0], F_SETFL, O_NONBLOCK);
    fcntl(SignalPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("tarnwick-devsim: pseudo-terminal");
        return 1;
    }
    const char* slaveName = ptsname(master);
    if (slaveName == nullptr) {
        std::perror("tarnwick-devsim: ptsname");
        return 1;
    }
    const std::string slavePath = slaveName;
    // Held open for the whole run: without it the line hangs up whenever the host closes
    // its port, and reads on the master fail until the next open.
    const int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0) {
        std::perror("tarnwick-devsim: open slave");
        return 1;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    std::FILE* trace = nullptr;
    if (!opt.TraceFile.empty()) {
        trace = std::fopen(opt.TraceFile.c_str(), "w");
        if (trace == nullptr) {
            std::perror("tarnwick-devsim: trace file");
            return 1;
        }
    }

    TDevice device(opt, master);
    if (!opt.FlashIn.empty() && !device.LoadFlash(opt.FlashIn)) {
        std::cerr << "tarnwick-devsim: cannot read " << opt.FlashIn << "\n";
        return 1;
    }

    std::cout << slavePath << std::endl;
    const auto start = std::chrono::steady_clock::now();
    auto elapsedMs = [&] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    long afterConnect = 0;
    bool running = true;
    int exitCode = 0;
    while (running) {
        int waitMs = 1000;
        if (opt.MaxTimeS > 0) {
            const double left = opt.MaxTimeS * 1000.0 - elapsedMs();
            if (left <= 0)
                break;
            waitMs = static_cast<int>(std::min(left + 1.0, 1000.0));
        }
        pollfd fds[2] = {{master, POLLIN, 0}, {SignalPipe[0], POLLIN, 0}};
        const int n = poll(fds, 2, waitMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::perror("tarnwick-devsim: poll");
            exitCode = 1;
            break;
        }
        if (fds[1].revents & POLLIN)
            break;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            std::uint8_t buf[256];
            const ssize_t got = read(master, buf, sizeof buf);
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                // EIO: no slave open. Cannot happen while we hold one; avoid spinning anyway.
                poll(nullptr, 0, 10);
                continue;
            }
            for (ssize_t i = 0; i < got && running; ++i) {
                std::uint8_t b = buf[i];
                const double t = elapsedMs();
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
                    std::fprintf(trace, "%.1f %02X%s\n", t, buf[i], note);
                if (note[0] == '\0' || note[1] == 'c')
                    device.Receive(b);
                if (opt.ExitAfterSuccess && device.SuccessSeen())
                    running = false;
            }
            if (trace != nullptr)
                std::fflush(trace);
        }
    }

    device.WriteFlash();
    if (trace != nullptr)
        std::fclose(trace);
    close(slave);
    close(master);
    return exitCode;
}

// tarnwick-avrsim: an emulated AVR chip (libsimavr) running real firmware, its UART (or one
// pin as a single wire, one_wire_line.h) on the master side of a pseudo-terminal.
//
// It prints the slave's path as the first line of standard output; a host opens that path
// as its serial port. The chip starts at its boot section as the BOOTRST fuse makes it
// (chip.h), its line behaves as one to silicon (uart_line.h), and its clock is held to the
// wall clock: the core runs a millisecond's cycles at a time and the program then sleeps
// until the next millisecond, or until the host sends, so the firmware's timeouts last
// what they last on hardware. Pin changes go to standard output after the path (or to
// --pins FILE), one line each: milliseconds since power-on, port, value.
//
// The chip is switched on at start, after --power-on-delay MS, or (--power-on-open) when a
// host opens the port, that many ms after its first open; with --reset-on-open every open pulls its
// RESET pin, as the DTR auto-reset circuit of many boards does. A pty shows no open or close to its
// master, so inotify watches the slave. SIGINT and SIGTERM end the program; the flash file is whole
// at any moment, so that a kill is a power cut. A firmware that crashes or sleeps for ever ends it
// too.

#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include <simavr/sim_avr.h>

#include "chip.h"
#include "one_wire_line.h"
#include "options.h"
#include "pty_line.h"
#include "uart_line.h"

namespace {

using TClock = std::chrono::steady_clock;

// The host's opens and closes of the slave, counted (ours came before the watch).
class TPortWatch {
  public:
    explicit TPortWatch(const std::string& path) {
        Fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (Fd < 0 || inotify_add_watch(Fd, path.c_str(), IN_OPEN | IN_CLOSE) < 0)
            throw std::runtime_error("inotify: " + path);
    }
    ~TPortWatch() { close(Fd); }
    int FileDescriptor() const { return Fd; }
    void Read() {
        alignas(inotify_event) char buf[4096];
        for (;;) {
            const ssize_t n = read(Fd, buf, sizeof buf);
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + i);
                if (e->mask & IN_OPEN) {
                    ++Opens;
                    ++NewOpens;
                    EverOpened = true;
                }
                if ((e->mask & IN_CLOSE) && Opens > 0)
                    --Opens;
                i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
    }
    bool Open() const { return Opens > 0; }
    // The opens since the last call.
    int TakeNewOpens() { return std::exchange(NewOpens, 0); }
    bool Opened() const { return EverOpened; }

  private:
    int Fd = -1;
    int Opens = 0;
    int NewOpens = 0;
    bool EverOpened = false;
};

void Summary(const avrsim::TChip& chip, const avrsim::TLine& line) {
    const auto& u = line.Counters();
    const auto& c = chip.Counters();
    std::cerr << "tarnwick-avrsim: " << u.Received << " Byte empfangen, " << u.Sent
              << " gesendet; verloren: " << u.Overruns << " durch Überlauf, " << u.ReceiverOff
              << " bei ausgeschaltetem Empfänger, " << u.Mismatched << " bei falscher Baudrate; "
              << c.PagesWritten << " Seiten gelöscht/geschrieben, " << c.BootWrites
              << " Zugriffe auf den Bootbereich abgewiesen";
    if (u.LineLow > 0)
        std::cerr << "; " << u.LineLow << " Byte des Hosts verloren (RXD auf Low)";
    if (u.Garbled > 0)
        std::cerr << "; " << u.Garbled << " Bytes auf der Eindrahtleitung gestört";
    if (c.PinLinesLost > 0)
        std::cerr << "; " << c.PinLinesLost << " Port-Zeilen nicht gemeldet (Ausgabe voll)";
    std::cerr << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = avrsim::ParseOptions(argc, argv);
    if (!parsed)
        return 2;
    const avrsim::TOptions& opt = *parsed;

    const int stopFd = toolcommon::StopSignalDescriptor("tarnwick-avrsim");
    if (stopFd < 0)
        return 1;

    std::unique_ptr<avrsim::TChip> chip;
    try {
        chip = std::make_unique<avrsim::TChip>(opt);
    } catch (const std::exception& e) {
        std::cerr << "tarnwick-avrsim: " << e.what() << "\n";
        return 1;
    }
    std::FILE* pins = nullptr;
    if (!opt.PinsFile.empty()) {
        pins = std::fopen(opt.PinsFile.c_str(), "w");
        if (pins == nullptr) {
            std::perror(("tarnwick-avrsim: " + opt.PinsFile).c_str());
            return 1;
        }
        chip->ReportPinsTo(pins);
    }

    auto pty = toolcommon::OpenPtyLine("tarnwick-avrsim");
    if (!pty)
        return 1;
    const int master = pty->Master;
    const int slave = pty->Slave;
    const std::string& slavePath = pty->SlavePath;

    std::unique_ptr<TPortWatch> watch;
    try {
        watch = std::make_unique<TPortWatch>(slavePath);
    } catch (const std::exception& e) {
        std::cerr << "tarnwick-avrsim: " << e.what() << "\n";
        return 1;
    }
    std::unique_ptr<avrsim::TLine> wire;
    try {
        if (opt.OneWirePort != 0) {
            wire = std::make_unique<avrsim::TOneWireLine>(chip->Avr(), master, opt.OneWirePort,
                                                          opt.OneWireBit);
            chip->HidePin(opt.OneWirePort, static_cast<std::uint8_t>(1u << opt.OneWireBit));
        } else {
            auto uart = std::make_unique<avrsim::TUartLine>(chip->Avr(), master, !opt.NoBaudCheck);
            if (opt.RxdLow)
                uart->HoldRxdLow();
            if (opt.PauseEvery > 0)
                uart->PauseEvery(opt.PauseEvery, static_cast<std::uint64_t>(opt.PauseMs) *
                                                     chip->Frequency() / 1000);
            wire = std::move(uart);
        }
    } catch (const std::exception& e) {
        std::cerr << "tarnwick-avrsim: " << e.what() << "\n";
        return 1;
    }
    avrsim::TLine& line = *wire;
    std::FILE* trace = nullptr;
    if (!opt.TraceFile.empty()) {
        trace = std::fopen(opt.TraceFile.c_str(), "w");
        if (trace == nullptr) {
            std::perror(("tarnwick-avrsim: " + opt.TraceFile).c_str());
            return 1;
        }
        line.TraceTo(trace);
    }

    std::cout << slavePath << std::endl;

    const std::uint32_t hz = chip->Frequency();
    const auto start = TClock::now();
    bool powered = false;
    bool everOpened = false;
    TClock::time_point firstOpen = start;
    TClock::time_point wallBase;
    std::uint64_t cycleBase = 0;
    auto powerOn = [&] {
        powered = true;
        wallBase = TClock::now();
        cycleBase = chip->Avr()->cycle;
        chip->PowerOn();
        line.PowerOn(cycleBase);
    };
    if (opt.PowerOnDelayMs == 0 && !opt.PowerOnOpen)
        powerOn();

    int exitCode = 0;
    for (;;) {
        const auto now = TClock::now();
        if (opt.MaxTimeS > 0 && now - start >= std::chrono::duration<double>(opt.MaxTimeS))
            break;
        if (!powered) {
            // With --power-on-open the delay counts from the host's first open.
            const auto from = opt.PowerOnOpen ? firstOpen : start;
            const bool delayOver = now - from >= std::chrono::milliseconds(opt.PowerOnDelayMs);
            if (delayOver && (!opt.PowerOnOpen || watch->Opened()))
                powerOn();
        }
        if (powered) {
            auto target =
                cycleBase + static_cast<std::uint64_t>(
                                std::chrono::duration<double>(now - wallBase).count() * hz);
            // A host too busy to keep up slows the chip down rather than racing it later.
            const std::uint64_t lagLimit = hz / 10;
            if (target > chip->Avr()->cycle + lagLimit) {
                cycleBase -= target - chip->Avr()->cycle - lagLimit;
                target = chip->Avr()->cycle + lagLimit;
            }
            line.Tick();
            if (!chip->RunUntil(target)) {
                if (chip->PowerCutHappened()) {
                    // What the chip had not yet sent is lost with the power.
                    std::cerr << "tarnwick-avrsim: " << chip->Stopped() << std::endl;
                    exitCode = 4;
                    break;
                }
                line.Flush();
                // The chip's last words reach a host that reads them: a closed master
                // would take them away. The terminal passes written bytes on to the slave
                // a moment later, so an empty slave counts only after 20 ms.
                for (int i = 0; i < 200 && watch->Open(); ++i) {
                    poll(nullptr, 0, 5);
                    int waiting = 0;
                    if (i >= 4 && (ioctl(slave, FIONREAD, &waiting) != 0 || waiting == 0))
                        break;
                    watch->Read();
                }
                std::cerr << "tarnwick-avrsim: " << chip->Stopped() << std::endl;
                exitCode = 3;
                break;
            }
            // Saved before the chip's bytes go out: a host that has its answer and kills
            // the emulator finds what the firmware wrote before answering.
            chip->SaveEeprom();
            line.Tick();
        }

        // Sleep until the next millisecond of chip time, or until the host writes.
        timespec timeout{0, 1000000};
        if (!powered)
            timeout.tv_nsec = 5000000;
        const bool takeInput = !powered || line.WantsInput();
        pollfd fds[3] = {{takeInput ? master : -1, POLLIN, 0},
                         {stopFd, POLLIN, 0},
                         {watch->FileDescriptor(), POLLIN, 0}};
        if (ppoll(fds, 3, &timeout, nullptr) < 0 && errno != EINTR) {
            std::perror("tarnwick-avrsim: poll");
            exitCode = 1;
            break;
        }
        if (fds[1].revents & POLLIN)
            break;
        if (fds[2].revents & POLLIN) {
            watch->Read();
            line.SetHostOpen(watch->Open());
            // What the host writes right after opening reaches a chip switched on by it.
            const bool opened = watch->TakeNewOpens() > 0;
            if (opened && !everOpened) {
                everOpened = true;
                firstOpen = TClock::now();
            }
            if (!powered && opt.PowerOnOpen && watch->Opened() && opt.PowerOnDelayMs == 0) {
                powerOn();
            } else if (powered && opened && opt.ResetOnOpen) {
                chip->ExternalReset();
            }
        }
        if (fds[0].fd >= 0 && (fds[0].revents & POLLIN)) {
            if (!powered)
                line.DiscardHost();
            else if (!line.ReadHost())
                poll(nullptr, 0, 1);  // EIO: no slave open; cannot happen while we hold one
        }
    }
    chip->SaveEeprom();
    Summary(*chip, line);
    if (pins != nullptr)
        std::fclose(pins);
    if (trace != nullptr)
        std::fclose(trace);
    toolcommon::ClosePtyLine(*pty);
    return exitCode;
}

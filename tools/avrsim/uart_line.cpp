#include "uart_line.h"

#include <simavr/avr_uart.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_io.h>
#include <simavr/sim_regbit.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>

namespace avrsim {

namespace {

// A receiver samples each bit in its middle: over ten bits the two clocks may drift
// apart by about 4.5 % before it reads a wrong bit.
constexpr double BaudTolerance = 0.045;

std::uint32_t SpeedValue(speed_t s) {
    static const struct {
        speed_t Code;
        std::uint32_t Baud;
    } speeds[] = {
        {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
        {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
        {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
        {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
        {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
        {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
        {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
        {B3500000, 3500000}, {B4000000, 4000000}};
    for (const auto& e : speeds)
        if (e.Code == s)
            return e.Baud;
    return 0;
}

int FifoSize(const uart_fifo_t& f) {
    return (f.write + uart_fifo_fifo_size - f.read) & (uart_fifo_fifo_size - 1);
}

}  // namespace

TUartLine::TUartLine(avr_t* avr, int fd, bool checkBaud) : Avr(avr), Fd(fd), CheckBaud(checkBaud) {
    // The first UART (USART0) is the one bootloaders talk on.
    for (avr_io_t* io = avr->io_port; io != nullptr; io = io->next) {
        if (io->kind == nullptr || std::strcmp(io->kind, "uart") != 0)
            continue;
        auto* uart = reinterpret_cast<avr_uart_t*>(io);
        if (Uart == nullptr || uart->name == '0')
            Uart = uart;
    }
    if (Uart == nullptr)
        return;
    // No console lines, and no usleep while the firmware polls: the main loop keeps time.
    std::uint32_t flags = 0;
    avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS(Uart->name), &flags);
    Input = avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ(Uart->name), UART_IRQ_INPUT);
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ(Uart->name), UART_IRQ_OUTPUT),
                            Output, this);
    if (Uart->r_ucsrc != 0 && Uart->r_ucsrc == Uart->ubrrh.reg) {
        SharedUbrrh = true;
        avr_register_io_write(avr, Uart->r_ucsrc, SharedUbrrhWrite, this);
    }
}

void TUartLine::SharedUbrrhWrite(avr_t* avr, std::uint16_t addr, std::uint8_t v, void* param) {
    auto* line = static_cast<TUartLine*>(param);
    // URSEL set: the write was meant for UCSRC, and UBRRH keeps its value.
    if ((v & 0x80) == 0)
        line->Ubrrh = v & 0x0F;
    avr->data[addr] = line->Ubrrh;
}

std::uint32_t TUartLine::FirmwareBaud() const {
    const std::uint64_t cycles = FirmwareByteCycles();
    return cycles == 0 ? 0 : static_cast<std::uint32_t>(10.0 * Avr->frequency / cycles + 0.5);
}

std::uint64_t TUartLine::FirmwareByteCycles() const {
    if (Uart == nullptr)
        return 0;
    const std::uint32_t high = SharedUbrrh ? Ubrrh : avr_regbit_get(Avr, Uart->ubrrh);
    const std::uint32_t ubrr = (high << 8) | avr_regbit_get(Avr, Uart->ubrrl);
    const std::uint32_t perBit = (avr_regbit_get(Avr, Uart->u2x) ? 8 : 16) * (ubrr + 1);
    return 10ull * perBit;
}

std::uint64_t TUartLine::HostByteCycles() const {
    if (Host == 0)
        return FirmwareByteCycles();
    return (10ull * Avr->frequency + Host / 2) / Host;
}

bool TUartLine::BaudMismatch() {
    if (!CheckBaud || Host == 0)
        return false;
    const std::uint32_t firmware = FirmwareBaud();
    const bool mismatch =
        std::fabs(static_cast<double>(firmware) - Host) > BaudTolerance * static_cast<double>(Host);
    if (mismatch && (firmware != ReportedFirmware || Host != ReportedHost)) {
        ReportedFirmware = firmware;
        ReportedHost = Host;
        Report("Baudrate passt nicht: Firmware " + std::to_string(firmware) + " Baud, Host " +
               std::to_string(Host) + " Baud; keine Bytes kommen durch");
    }
    return mismatch;
}

void TUartLine::Report(const std::string& text) {
    std::cerr << "tarnwick-avrsim: " << text << std::endl;
}

void TUartLine::Tick() {
    if (Uart == nullptr)
        return;
    if (const std::uint32_t baud = HostBaudOf(Fd); baud != 0)
        Host = baud;
    // simavr counts eleven bits a byte; a frame of 8N1 has ten.
    const std::uint64_t cycles = FirmwareByteCycles();
    if (cycles != 0)
        Uart->cycles_per_byte = cycles;
    while (!Outgoing.empty() && Outgoing.front().Due <= Avr->cycle) {
        const std::uint8_t b = Outgoing.front().Byte;
        const std::uint64_t due = Outgoing.front().Due;
        Outgoing.pop_front();
        const ssize_t n = write(Fd, &b, 1);
        if (n == 1) {
            ++Count.Sent;
            TraceByte(due, Avr->frequency, '>', b, "");
        } else {
            ++Count.Unheard;  // the host does not read: its buffer is full
            TraceByte(due, Avr->frequency, '>', b, "ungehört");
        }
    }
    if (Trace != nullptr)
        std::fflush(Trace);
}

void TUartLine::Flush() {
    for (const TOutgoing& o : Outgoing) {
        if (write(Fd, &o.Byte, 1) == 1) {
            ++Count.Sent;
            TraceByte(o.Due, Avr->frequency, '>', o.Byte, "");
        }
    }
    Outgoing.clear();
    if (Trace != nullptr)
        std::fflush(Trace);
}

void TUartLine::Output(avr_irq_t*, std::uint32_t value, void* param) {
    auto* line = static_cast<TUartLine*>(param);
    const std::uint64_t end = line->Avr->cycle + line->FirmwareByteCycles();
    const auto b = static_cast<std::uint8_t>(value);
    if (!line->HostOpen) {
        ++line->Count.Unheard;
        line->TraceByte(end, line->Avr->frequency, '>', b, "ungehört");
        return;
    }
    if (line->BaudMismatch()) {
        ++line->Count.Mismatched;
        line->TraceByte(end, line->Avr->frequency, '>', b, "Baudrate");
        return;
    }
    line->Outgoing.push_back({end, b});
}

void TUartLine::PowerOn(std::uint64_t cycle) {
    TLine::PowerOn(cycle);
    if (RxdLow && Uart != nullptr)
        avr_cycle_timer_register(Avr, FirmwareByteCycles(), LowFrame, this);
}

std::uint64_t TUartLine::LowFrame(avr_t* avr, std::uint64_t when, void* param) {
    auto* line = static_cast<TUartLine*>(param);
    // A frame of zeros without its stop bit, at the rate the firmware samples at; nothing
    // while the receiver is off (no byte of the host's is lost then).
    if (avr_regbit_get(avr, line->Uart->rxen))
        line->Receive(when, 0x00, true);
    return when + std::max<std::uint64_t>(line->FirmwareByteCycles(), 1);
}

bool TUartLine::ReadHost() {
    std::uint8_t buf[WaitingLimit];
    const std::size_t room = WaitingLimit - Waiting.size();
    const ssize_t n = read(Fd, buf, room);
    if (n < 0)
        return errno == EAGAIN || errno == EINTR;
    if (RxdLow) {
        Count.LineLow += n;
        return true;
    }
    for (ssize_t i = 0; i < n; ++i)
        Waiting.push_back(buf[i]);
    ScheduleArrival();
    return true;
}

void TUartLine::DiscardHost() {
    std::uint8_t buf[256];
    while (read(Fd, buf, sizeof buf) > 0) {
    }
    Waiting.clear();
}

void TUartLine::ScheduleArrival() {
    if (ArrivalPending || Waiting.empty() || Input == nullptr)
        return;
    // A byte starts when the host wrote it, but not before the one ahead of it is done.
    std::uint64_t start = std::max(Avr->cycle, IdleUntil);
    if (Started && LastStart + HostByteCycles() > start)
        start = LastStart + HostByteCycles();
    ArrivalPending = true;
    avr_cycle_timer_register(Avr, start - Avr->cycle, Arrive, this);
}

std::uint64_t TUartLine::Arrive(avr_t*, std::uint64_t when, void* param) {
    auto* line = static_cast<TUartLine*>(param);
    line->ArrivalPending = false;
    if (line->Waiting.empty())
        return 0;
    const std::uint8_t b = line->Waiting.front();
    line->Waiting.pop_front();
    line->LastStart = when;
    line->Started = true;
    line->Receive(when + line->HostByteCycles(), b, false);
    if (line->PauseBytes > 0 && ++line->ArrivedBytes % line->PauseBytes == 0)
        line->IdleUntil = when + line->HostByteCycles() + line->PauseCycles;
    if (line->Waiting.empty())
        return 0;
    line->ArrivalPending = true;
    return std::max(when + line->HostByteCycles(), line->IdleUntil);
}

void TUartLine::Receive(std::uint64_t end, std::uint8_t b, bool framingError) {
    avr_uart_t* u = Uart;
    if (!avr_regbit_get(Avr, u->rxen)) {
        ++Count.ReceiverOff;
        TraceByte(end, Avr->frequency, '<', b, "Empfänger aus");
    } else if (!framingError && BaudMismatch()) {
        ++Count.Mismatched;
        TraceByte(end, Avr->frequency, '<', b, "Baudrate");
    } else if (FifoSize(u->input) >= 3) {
        // Two bytes wait for the firmware and a third is done in the shift register: the
        // new start bit overwrites that one.
        auto& last =
            u->input.buffer[(u->input.write + uart_fifo_fifo_size - 1) & (uart_fifo_fifo_size - 1)];
        char note[40];
        std::snprintf(note, sizeof note, "Überlauf, %02X verloren", last & 0xFF);
        TraceByte(end, Avr->frequency, '<', b, note);
        last = static_cast<std::uint16_t>(b | (framingError ? UART_INPUT_FE : 0));
        ++Count.Overruns;
        const double ms = static_cast<double>(end) * 1000.0 / Avr->frequency;
        if (ms - LastOverrunReport >= 100.0) {
            LastOverrunReport = ms;
            Report("Überlauf: Byte nicht rechtzeitig gelesen, verloren (bisher " +
                   std::to_string(Count.Overruns) + ")");
        }
    } else {
        avr_raise_irq(Input, b | (framingError ? UART_INPUT_FE : 0));
        ++Count.Received;
        TraceByte(end, Avr->frequency, '<', b, framingError ? "Rahmenfehler" : "");
    }
}

std::uint32_t HostBaudOf(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return 0;
    return SpeedValue(cfgetospeed(&tio));
}

}  // namespace avrsim

#include "one_wire_line.h"

#include <simavr/avr_ioport.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_io.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace avrsim {

TOneWireLine::TOneWireLine(avr_t* avr, int fd, char port, int bit)
    : Avr(avr), Fd(fd), Mask(static_cast<std::uint8_t>(1u << bit)) {
    avr_ioport_t* io = nullptr;
    for (avr_io_t* i = avr->io_port; i != nullptr; i = i->next)
        if (i->kind != nullptr && std::strcmp(i->kind, "port") == 0 &&
            reinterpret_cast<avr_ioport_t*>(i)->name == port)
            io = reinterpret_cast<avr_ioport_t*>(i);
    if (io == nullptr || bit < 0 || bit > 7)
        throw std::runtime_error(std::string("der Chip hat keinen Pin P") + port +
                                 std::to_string(bit));
    PortAddress = io->r_port;
    DdrAddress = io->r_ddr;
    Pin = avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ(port), IOPORT_IRQ_PIN0 + bit);
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ(port), IOPORT_IRQ_REG_PORT),
                            ChipDrive, this);
    avr_irq_register_notify(
        avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ(port), IOPORT_IRQ_DIRECTION_ALL), ChipDrive,
        this);
}

void TOneWireLine::PowerOn(std::uint64_t cycle) {
    TLine::PowerOn(cycle);
    // The pull-up holds the idle wire high.
    avr_raise_irq(Pin, 1);
}

double TOneWireLine::BitCycles() const {
    return static_cast<double>(Avr->frequency) / HostBaud;
}

std::uint64_t TOneWireLine::BitTime(std::uint64_t start, double bits) const {
    return start + static_cast<std::uint64_t>(std::llround(bits * BitCycles()));
}

std::uint64_t TOneWireLine::Delay(std::uint64_t at) const {
    return at > Avr->cycle ? at - Avr->cycle : 0;
}

void TOneWireLine::ChipDrive(avr_irq_t*, std::uint32_t, void* param) {
    auto* line = static_cast<TOneWireLine*>(param);
    line->Update(line->Avr->cycle);
}

void TOneWireLine::Update(std::uint64_t when) {
    const bool output = (Avr->data[DdrAddress] & Mask) != 0;
    const bool chipHigh = (Avr->data[PortAddress] & Mask) != 0;
    if (output && chipHigh && HostLow && Receiving)
        RxClash = true;  // the chip drives against the host's zero bit
    const bool low = HostLow || (output && !chipHigh);
    if (low == WireLow)
        return;
    WireLow = low;
    avr_raise_irq(Pin, low ? 0 : 1);
    if (low && !Receiving) {
        Receiving = true;
        RxFromHost = HostLow;
        RxClash = false;
        RxStart = when;
        RxBit = 0;
        RxByte = 0;
        avr_cycle_timer_register(Avr, Delay(BitTime(when, 0.5)), Sample, this);
    }
}

std::uint64_t TOneWireLine::Sample(avr_t*, std::uint64_t when, void* param) {
    auto* line = static_cast<TOneWireLine*>(param);
    const bool high = !line->WireLow;
    const int bit = line->RxBit++;
    if (bit == 0 && high) {
        line->Receiving = false;  // a glitch, not a start bit
        return 0;
    }
    if (bit >= 1 && bit <= 8 && high)
        line->RxByte |= static_cast<std::uint8_t>(1u << (bit - 1));
    if (bit < 9)
        return line->BitTime(line->RxStart, bit + 1.5);
    line->Receiving = false;
    const std::uint32_t hz = line->Avr->frequency;
    const char direction = line->RxFromHost ? '<' : '>';
    if (!high || line->RxClash) {
        ++line->Count.Garbled;
        line->TraceByte(when, hz, direction, line->RxByte, "gestört");
    } else if (!line->HostOpen) {
        ++line->Count.Unheard;
        line->TraceByte(when, hz, direction, line->RxByte, "ungehört");
    } else {
        const std::uint8_t b = line->RxByte;
        if (write(line->Fd, &b, 1) == 1) {
            ++(line->RxFromHost ? line->Count.Received : line->Count.Sent);
            line->TraceByte(when, hz, direction, b, "");
        } else {
            ++line->Count.Unheard;  // the host does not read: its buffer is full
            line->TraceByte(when, hz, direction, b, "ungehört");
        }
    }
    // The wire may have gone low again within the stop bit's second half.
    if (line->WireLow)
        line->Update(when);
    return 0;
}

bool TOneWireLine::ReadHost() {
    std::uint8_t buf[WaitingLimit];
    const ssize_t n = read(Fd, buf, WaitingLimit - Waiting.size());
    if (n < 0)
        return errno == EAGAIN || errno == EINTR;
    Waiting.insert(Waiting.end(), buf, buf + n);
    StartSending(Avr->cycle);
    return true;
}

void TOneWireLine::DiscardHost() {
    std::uint8_t buf[256];
    while (read(Fd, buf, sizeof buf) > 0) {
    }
    Waiting.clear();
}

void TOneWireLine::StartSending(std::uint64_t now) {
    if (Sending || Waiting.empty())
        return;
    Sending = true;
    SendStart = std::max(now, SendFree);
    SendBit = 0;
    SendByte = Waiting.front();
    Waiting.pop_front();
    avr_cycle_timer_register(Avr, Delay(SendStart), HostStep, this);
}

std::uint64_t TOneWireLine::HostStep(avr_t*, std::uint64_t when, void* param) {
    auto* line = static_cast<TOneWireLine*>(param);
    int bit = line->SendBit++;
    if (bit == 10) {
        // The next byte starts right behind the stop bit.
        line->SendFree = when;
        if (line->Waiting.empty()) {
            line->Sending = false;
            return 0;
        }
        line->SendStart = when;
        line->SendByte = line->Waiting.front();
        line->Waiting.pop_front();
        line->SendBit = 1;
        bit = 0;
    }
    line->HostLow = bit == 0 || (bit <= 8 && ((line->SendByte >> (bit - 1)) & 1) == 0);
    line->Update(when);
    return line->BitTime(line->SendStart, bit + 1);
}

void TOneWireLine::Tick() {
    if (const std::uint32_t baud = HostBaudOf(Fd); baud != 0)
        HostBaud = baud;
    if (Trace != nullptr)
        std::fflush(Trace);
}

}  // namespace avrsim

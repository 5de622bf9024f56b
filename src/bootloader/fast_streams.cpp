// Line speed (BytePacing 0): the programming and verification streams go out in blocks
// instead of one byte per pacing window, and every other byte outside the connection rounds
// is held only until the port reports it sent. The bytes on the wire, and the link CRC
// folded over them, are those of a paced run; only their timing differs. A device that loses
// bytes at that speed is caught by the CRC check and the verification.
#include <algorithm>
#include <string>

#include "bootloader/bootloader.h"
#include "bootloader/link_time.h"

namespace tarnwick {

namespace {

using TClock = std::chrono::steady_clock;
using std::chrono::microseconds;

// The line time of one block of a stream without buffer-fulls: short enough for progress
// and cancelling to follow closely, long enough that a block costs a few wake-ups only.
constexpr microseconds BlockTime{20000};

}  // namespace

microseconds TBootloader::ByteLineTime() const {
    const std::int64_t baud = ComPort.BaudRate() == brCustom ? ComPort.CustomBaudRate()
                                                             : BaudRateValue(ComPort.BaudRate());
    // 8N1: ten bits a byte.
    return microseconds(10'000'000 / std::max<std::int64_t>(baud, 1));
}

int TBootloader::PacingWindow(int Timeout) const {
    // A window shorter than the byte takes on the line would queue bytes in the driver
    // faster than the line sends them, and the reply waits after a stream would begin
    // while seconds of it were still on their way.
    const auto line = std::chrono::ceil<std::chrono::milliseconds>(ByteLineTime()).count();
    return static_cast<int>(std::max<std::int64_t>(Timeout, line));
}

microseconds TBootloader::BlockLineTime() const {
    return std::max(BlockTime, ByteLineTime());
}

bool TBootloader::WaitForLine(microseconds Lead) {
    bool pumped = false;
    while (TClock::now() + Lead < LineFree) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(LineFree - Lead - TClock::now());
        Owner.ProcessMessagesFor(static_cast<int>(std::max<std::int64_t>(left.count(), 1)));
        pumped = true;
    }
    return pumped;
}

bool TBootloader::SendByteAtLineSpeed(std::uint8_t Value) {
    // Behind a stream still on the line the byte waits its turn here, so that the reply wait
    // after it starts when it has arrived.
    WaitForLine(microseconds(0));
    TxEmpty = false;
    ComPort.WriteStr(std::string(1, static_cast<char>(Value)));
    LineFree = std::max(LineFree, TClock::now()) + ByteLineTime();
    const std::int64_t start = TickCount();
    while (!TxEmpty && TickCount() - start <= ByteTimeout)
        Owner.ProcessMessagesFor(RemainingMs(start, ByteTimeout));
    UpdateLinkCrc(Value);
    return TxEmpty;
}

bool TBootloader::SendBlock(std::int32_t From, std::int32_t To) {
    std::string wire;
    wire.reserve(static_cast<std::size_t>(To - From + 1) * 2);
    for (std::int32_t address = From; address <= To; ++address) {
        const TDataWire bytes = DataByteOnWire(ImageByte(address));
        for (int i = 0; i < bytes.Count; ++i) {
            wire += static_cast<char>(bytes.Bytes[i]);
            UpdateLinkCrc(bytes.Bytes[i]);
        }
    }
    // At most about one block waits in the driver when the next one comes, however much it
    // could hold: the device takes the stream at line rate, and the waits after the stream
    // (end sequence, verdict) must begin when it has arrived, not when it was queued.
    const bool pumped = WaitForLine(BlockLineTime());
    ComPort.WriteStr(wire);
    LineFree =
        std::max(LineFree, TClock::now()) + ByteLineTime() * static_cast<std::int64_t>(wire.size());
    return pumped;
}

int TBootloader::ProgramBlocks() {
    // A device without buffer-fulls (size 0) never acknowledges: blocks as in verification.
    const std::int64_t perBlock =
        BufferSize > 0 ? BufferSize : std::max<std::int64_t>(BlockLineTime() / ByteLineTime(), 1);
    LineFree = TClock::now();
    for (std::int32_t from = 0; from <= HighestAddress;) {
        const auto to = static_cast<std::int32_t>(
            std::min<std::int64_t>(HighestAddress, std::int64_t{from} + perBlock - 1));
        const bool pumped = SendBlock(from, to);
        std::int64_t remaining = BufferSize > 0 ? BufferSize - (to - from + 1) : 0;
        if (BufferSize > 0 && remaining == 0) {
            // The usual wait for the acknowledgement, from when the buffer-full has left; it
            // ends as soon as the acknowledgement is in, without the pump after the reply
            // that WaitForFlag makes.
            const std::int64_t start = TickCount();
            const std::int64_t timeout =
                BufferTimeout +
                std::max<std::int64_t>(
                    std::chrono::ceil<std::chrono::milliseconds>(LineFree - TClock::now()).count(),
                    0);
            while (!BufferDone && TickCount() - start <= timeout)
                Owner.ProcessMessagesFor(RemainingMs(start, timeout));
            if (!BufferDone)
                return -1;
            BufferDone = false;
            remaining = BufferSize;
        } else if (!pumped) {
            Owner.ProcessMessages();
        }
        SetProgress(pbProgram, to);
        SetProgress(pbBuffer, ClampToInt(remaining));
        if (CancelRequested)
            break;
        from = to + 1;
    }
    // The end sequence goes out as in a paced stream, on an idle line: each of its bytes
    // must be reported sent within its window.
    WaitForLine(microseconds(0));
    return 1;
}

void TBootloader::VerifyBlocks() {
    const std::int64_t perBlock = std::max<std::int64_t>(BlockLineTime() / ByteLineTime(), 1);
    LineFree = TClock::now();
    for (std::int32_t from = 0; from <= HighestAddress;) {
        const auto to = static_cast<std::int32_t>(
            std::min<std::int64_t>(HighestAddress, std::int64_t{from} + perBlock - 1));
        if (!SendBlock(from, to))
            Owner.ProcessMessages();
        SetProgress(pbVerify, to);
        if (CancelRequested)
            break;
        from = to + 1;
    }
    WaitForLine(microseconds(0));
}

}  // namespace tarnwick

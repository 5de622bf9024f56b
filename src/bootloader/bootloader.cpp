#include "bootloader/bootloader.h"

#include <algorithm>
#include <chrono>
#include <span>

#include "bootloader/device_info.h"
#include "bootloader/link_time.h"
#include "bootloader/protocol_codes.h"

namespace tarnwick {

std::int64_t TickCount() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int RemainingMs(std::int64_t Start, std::int64_t Timeout) {
    return static_cast<int>(std::clamp<std::int64_t>(Start + Timeout + 1 - TickCount(), 1, 60000));
}

int ClampToInt(std::int64_t v) {
    if (v > 0x7FFFFFFF)
        return 0x7FFFFFFF;
    if (v < -0x7FFFFFFF)
        return -0x7FFFFFFF;
    return static_cast<int>(v);
}

TBootloader::TBootloader(TUpdateOwner& AOwner, TCustomComPort& Port, bool AttachRxLink)
    : Owner(AOwner), ComPort(Port), RxLinkAttached(AttachRxLink) {
    ComPort.SetEvents(TComEvents{evRxChar, evTxEmpty});
    ComPort.OnRxBuf = [this](TCustomComPort& Sender, const std::uint8_t* Buffer, int Count) {
        ComPortRxBuf(Sender, Buffer, Count);
    };
    ComPort.OnTxEmpty = [this](TCustomComPort& Sender) { ComPortTxEmpty(Sender); };
    // The port reads received bytes only while some link wants them; where no terminal is
    // linked, this one does.
    if (RxLinkAttached) {
        RxLink.LinkDataReceived = [](TCustomComPort&, const std::uint8_t*, int) {};
        ComPort.AttachLink(&RxLink);
    }
}

TBootloader::~TBootloader() {
    if (RxLinkAttached)
        ComPort.DetachLink(&RxLink);
    ComPort.OnRxBuf = nullptr;
    ComPort.OnTxEmpty = nullptr;
}

void TBootloader::SetImage(const TBuffer& AImage, std::int32_t AHighestAddress) {
    Image = &AImage;
    HighestAddress = AHighestAddress;
}

std::uint8_t TBootloader::ImageByte(std::int32_t Address) const {
    if (Image == nullptr || Address < 0 || static_cast<std::size_t>(Address) >= Image->size())
        return 0xFF;
    return (*Image)[static_cast<std::size_t>(Address)];
}

// ------------------------------------------------------------------------ link

bool TBootloader::SendByte(std::uint8_t Value, int Timeout) {
    if (Timeout <= 0)
        return SendByteAtLineSpeed(Value);
    TxEmpty = false;
    ComPort.WriteStr(std::string(1, static_cast<char>(Value)));
    const std::int64_t start = TickCount();
    const int window = PacingWindow(Timeout);
    bool success = false;
    std::int64_t elapsed = 0;
    // Every byte holds its whole window, whether or not the port reported it sent early.
    do {
        if (TxEmpty)
            success = true;
        Owner.ProcessMessagesFor(RemainingMs(start, window));
        elapsed = TickCount() - start;
    } while (elapsed <= window);
    UpdateLinkCrc(Value);
    return success;
}

bool TBootloader::SendCommand(std::string_view Code, int Timeout) {
    LastCommand = std::string(Code);
    if (!SendByte(CodeByte(PrefixByte), Timeout))
        return false;
    return SendByte(CodeByte(Code), Timeout);
}

bool TBootloader::SendBytes(const std::string& Bytes, int Timeout) {
    bool result = false;
    for (const char c : Bytes) {
        result = SendByte(static_cast<std::uint8_t>(c), Timeout);
        if (!result)
            break;
    }
    return result;
}

void TBootloader::SendDataByte(std::uint8_t Value, int Timeout) {
    const TDataWire wire = DataByteOnWire(Value);
    for (int i = 0; i < wire.Count; ++i)
        SendByte(wire.Bytes[i], Timeout);
}

void TBootloader::UpdateLinkCrc(std::uint8_t Value) {
    LinkCrc = tarnwick::UpdateLinkCrc(LinkCrc, Value);
}

void TBootloader::WaitForFlag(const std::function<bool()>& Condition, int Timeout) {
    const std::int64_t start = TickCount();
    while (true) {
        const bool done = Condition();
        if (done)
            Owner.ProcessMessages();
        else
            Owner.ProcessMessagesFor(RemainingMs(start, Timeout));
        if (done || TickCount() - start > Timeout)
            break;
    }
}

// ----------------------------------------------------------------- port handlers

void TBootloader::ComPortRxBuf(TCustomComPort&, const std::uint8_t* Buffer, int Count) {
    if (Count <= 0 || Buffer == nullptr)
        return;
    ReceiveReplyBytes(*this, std::span(Buffer, static_cast<std::size_t>(Count)),
                      Owner.PasswordText(), LastCommand, [this](const std::string& Text) {
                          Owner.ReportMessage(Text, false, false, true);
                      });
}

void TBootloader::ComPortTxEmpty(TCustomComPort&) {
    TxEmpty = true;
}

// --------------------------------------------------------------------- progress

void TBootloader::SetProgress(TProgressBar Bar, int Position) {
    Progress[Bar] = Position;
    Owner.SetProgressPosition(Bar, Position);
}

void TBootloader::SetProgressMax(TProgressBar Bar, int Max) {
    Owner.SetProgressMax(Bar, Max);
}

void TBootloader::Pause(int Milliseconds) {
    // Pumping while paused keeps the owner responsive; nothing is sent meanwhile.
    const std::int64_t start = TickCount();
    while (TickCount() - start < Milliseconds)
        Owner.ProcessMessagesFor(RemainingMs(start, Milliseconds - 1));
}

// --------------------------------------------------------------------- connecting

// 1: connected; -1: rounds used up; -2: a byte not sent, or accepted but not confirmed;
// -3: cancelled.
int TBootloader::Connect() {
    OneWireMode = false;
    PasswordAccepted = false;
    Confirmed = false;
    const std::string password = Owner.PasswordText();
    const std::int64_t length = static_cast<std::int64_t>(password.size());
    const std::int64_t rounds = static_cast<std::int64_t>(MaxConnectAttempts) * (length + 1);
    SetProgressMax(pbConnect, ClampToInt(rounds));
    std::int64_t position = 1;
    bool leftEarly = false;
    for (std::int64_t round = 0; round <= rounds; ++round) {
        ReplyState = rsPassword;
        bool sent = false;
        if (position <= length) {
            sent = SendByte(
                static_cast<std::uint8_t>(password[static_cast<std::size_t>(position - 1)]),
                ByteTimeout);
        } else {
            sent = SendByte(CodeByte(PasswordEnd), ByteTimeout);
            position = 0;
        }
        ++position;
        if (!sent)
            return -2;
        WaitForFlag([this] { return PasswordAccepted; }, PasswordAckTimeout);
        if (PasswordAccepted) {
            ReplyState = rsConfirm;
            if (!SendByte(CodeByte(PrefixByte), ByteTimeout))
                return -2;
            WaitForFlag([this] { return Confirmed; }, ReplyTimeout);
            leftEarly = true;
            break;
        }
        SetProgress(pbConnect, ClampToInt(round + 1));
        Owner.ProcessMessages();
        if (CancelRequested)
            return -3;
    }
    if (Confirmed && PasswordAccepted)
        return 1;
    return leftEarly ? -2 : -1;
}

// -------------------------------------------------------------- device information

// 1: value ended by ReplyOk; -2: ended by ReplyFailed; -1: no value within Timeout.
int TBootloader::QueryDevice(std::string_view Code, int Timeout) {
    ReplyState = rsQuery;
    ReplyActive = false;
    ReplyComplete = false;
    QueryResult = 0;
    ReplyMark = -1;
    ReplyText.clear();
    SendCommand(Code, CommandPacing());
    WaitForFlag([this] { return ReplyComplete; }, Timeout);
    return ReplyComplete ? QueryResult : -1;
}

bool TBootloader::ReadDeviceInfo() {
    bool result = true;
    int marked = 0;
    const auto marks = [&] { marked += ReplyMark == TarnwickMark ? 1 : 0; };

    int r = QueryDevice(CmdVersion, QueryTimeout);
    marks();
    const auto version = VersionText(ReplyText);
    DeviceVersion = version.value_or("");
    // A reply that holds no version at all (nothing came, or not four decimal digits)
    // fails the check without the "not supported" box, which would name a bogus version.
    Owner.ReportMessage("Bootloader-Version: " + version.value_or("?"), false, true, false);
    StepProgress(pbConnect);
    if (r != 1 || !version || *version != SupportedVersion)
        result = false;
    if (version && *version != SupportedVersion) {
        Owner.ReportMessage("Bootloder-Version \"" + *version +
                                "\" wird nicht unterstützt (unterstüzte Version: \"" +
                                std::string(SupportedVersion) + "\")",
                            true, false, true);
    }

    r = QueryDevice(CmdSignature, QueryTimeout);
    marks();
    const std::string device = DeviceName(ReplyText);
    DeviceSignature = r == 1 ? ReplyText : std::string();
    Owner.ReportMessage("Baustein: " + device, false, true, false);
    StepProgress(pbConnect);
    if (r != 1 || device == UnknownDevice)
        result = false;
    if (device == UnknownDevice) {
        Owner.ReportMessage("Baustein \"" + std::string(UnknownDevice) + "\" nicht beschreibbar",
                            true, false, true);
    }

    r = QueryDevice(CmdBufferSize, QueryTimeout);
    marks();
    const auto buffer = HexValue(ReplyText);
    BufferSize = buffer.value_or(0);
    Owner.ReportMessage("Buffergröße: " + std::to_string(BufferSize) + " Byte", false, true, false);
    StepProgress(pbConnect);
    if (r != 1 || !buffer)
        result = false;

    r = QueryDevice(CmdFlashSize, QueryTimeout);
    marks();
    const auto flash = HexValue(ReplyText);
    FlashSize = flash.value_or(0);
    Owner.ReportMessage("Flash: " + std::to_string(FlashSize) + " Byte", false, true, false);
    StepProgress(pbConnect);
    if (r != 1 || !flash || FlashSize > MaxFlashSize)
        result = false;
    if (FlashSize > MaxFlashSize) {
        Owner.ReportMessage("Flash-Größe vom Baustein (" + std::to_string(FlashSize) +
                                " Byte) überschreitet Obergrenze von diesem Tool (" +
                                std::to_string(MaxFlashSize) + " Byte)",
                            true, false, true);
    }
    TarnwickDevice = marked == 4;
    return result;
}

// -------------------------------------------------------------------- programming

// 1: confirmed; -1: a buffer-full not acknowledged; -2: end not confirmed; -3: cancelled.
int TBootloader::ProgramFlash() {
    ReplyState = rsProgram;
    Owner.ReportMessage("Programmiere " + std::to_string(HighestAddress) + " von " +
                            std::to_string(FlashSize) + " Bytes Flash",
                        false, true, true);
    SetProgressMax(pbProgram, HighestAddress);
    SetProgress(pbProgram, 0);
    SetProgressMax(pbBuffer, ClampToInt(BufferSize));
    SetProgress(pbBuffer, 0);
    BufferDone = false;
    SendCommand(CmdProgram, CommandPacing());
    if (StreamPacing() <= 0) {
        if (ProgramBlocks() == -1)
            return -1;
    } else {
        std::int64_t remaining = BufferSize;
        for (std::int32_t address = 0; address <= HighestAddress; ++address) {
            SendDataByte(ImageByte(address), StreamPacing());
            --remaining;
            if (remaining == 0) {
                remaining = BufferSize;
                WaitForFlag([this] { return BufferDone; }, BufferTimeout);
                if (!BufferDone)
                    return -1;
                // Cleared as soon as it is taken, so that an acknowledgement arriving during
                // the last byte of the next buffer-full counts for that one.
                BufferDone = false;
            }
            Owner.ProcessMessages();
            SetProgress(pbProgram, address);
            SetProgress(pbBuffer, ClampToInt(remaining));
            if (CancelRequested)
                break;
        }
    }
    ReplyState = rsProgramEnd;
    ProgramDone = false;
    SendBytes(
        std::string{static_cast<char>(CodeByte(EscapeByte)), static_cast<char>(CodeByte(EndCode))},
        CommandPacing());
    WaitForFlag([this] { return ProgramDone; }, BufferTimeout);
    if (CancelRequested)
        return -3;
    return ProgramDone ? 1 : -2;
}

// ------------------------------------------------------------------- verification

// 1: equal; -1: not supported; -2: different; -3: no verdict; -4: cancelled.
int TBootloader::VerifyFlash() {
    ReplyState = rsVerify;
    VerifySupported = true;
    ByteReceived = false;
    Owner.ReportMessage("Überprüfe " + std::to_string(HighestAddress) + " von " +
                            std::to_string(FlashSize) + " Bytes Flash",
                        false, true, true);
    SetProgressMax(pbVerify, HighestAddress);
    SetProgress(pbVerify, 0);
    SendCommand(CmdVerify, CommandPacing());
    WaitForFlag([this] { return ByteReceived; }, ReplyTimeout);
    if (!VerifySupported)
        return -1;
    if (StreamPacing() <= 0) {
        VerifyBlocks();
    } else {
        for (std::int32_t address = 0; address <= HighestAddress; ++address) {
            SendDataByte(ImageByte(address), StreamPacing());
            Owner.ProcessMessages();
            SetProgress(pbVerify, address);
            if (CancelRequested)
                break;
        }
    }
    ReplyState = rsVerifyEnd;
    VerifyResult = 0;
    SendBytes(
        std::string{static_cast<char>(CodeByte(EscapeByte)), static_cast<char>(CodeByte(EndCode))},
        CommandPacing());
    WaitForFlag([this] { return VerifyResult != 0; }, VerifyEndTimeout);
    if (CancelRequested)
        return -4;
    if (VerifyResult == 1)
        return 1;
    return VerifyResult == -1 ? -2 : -3;
}

// ---------------------------------------------------------------------- CRC check

// 1: equal; -1: different; -2: not supported; 0: no verdict.
int TBootloader::CheckLinkCrc() {
    ReplyState = rsCrc;
    CrcResult = 0;
    SendCommand(CmdCrc, CommandPacing());
    WaitForFlag([this] { return CrcResult != 0; }, ReplyTimeout);
    if (CrcResult == -2)
        return -2;
    CrcEnabled = true;
    CrcResult = 0;
    const std::uint16_t crc = LinkCrc;
    SendBytes(std::string{static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)},
              CommandPacing());
    WaitForFlag([this] { return CrcResult != 0; }, ReplyTimeout);
    return CrcResult;
}

}  // namespace tarnwick

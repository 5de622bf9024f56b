// The bootloader link and the update run, for the life of its owner.
//
// Everything runs on the main thread. Every wait is a loop around the owner's
// ProcessMessages, which is also where the port hands received bytes and the
// transmit-empty event over (ComPortRxBuf, ComPortTxEmpty); so the flags below are plain
// fields, set and read on one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "bootloader/protocol_codes.h"
#include "bootloader/reply_reception.h"
#include "bootloader/update_owner.h"
#include "comport/com_port.h"
#include "image/firmware_image.h"

namespace tarnwick {

// How an update run ended, for owners that turn it into an exit status.
struct TUpdateOutcome {
    bool Started = false;      // got past the check of the program/verify boxes
    bool Connected = false;    // Connect returned 1
    bool SuccessSent = false;  // CmdSuccess went out at the end
    bool Cancelled = false;    // a step ended because the user cancelled
    bool Error = false;        // an exception ended the run early
    std::string Message;       // the last message that went to the log
};

// The stretches of a run that a record of the attempt times.
enum class TUpdatePhase {
    Waiting,      // from the answer Yes until the device answers the password
    Connected,    // CRC exchanges and device information
    Programming,  // the programming pass
    Verifying,    // the verification pass
    Closing,      // the closing commands and steps
};

// The run's two questions, for an owner that answers them once for many runs.
const std::string& UpdateWarningQuestion();
const std::string& VerifyOfferQuestion();

class TBootloader : public TReplyFields {
  public:
    // Wires OnRxBuf and OnTxEmpty of Port. The port reads received bytes only while some
    // link wants them: with AttachRxLink the bootloader attaches a do-nothing link of
    // its own; an owner that links a terminal to Port passes false, and the terminal's
    // link keeps reception going. Both must outlive this object.
    TBootloader(TUpdateOwner& Owner, TCustomComPort& Port, bool AttachRxLink = true);
    ~TBootloader();
    TBootloader(const TBootloader&) = delete;
    TBootloader& operator=(const TBootloader&) = delete;

    // The image the passes send; it must stay alive while they run.
    void SetImage(const TBuffer& Image, std::int32_t HighestAddress);

    // ---- link
    bool SendByte(std::uint8_t Value, int Timeout);
    bool SendCommand(std::string_view Code, int Timeout);
    bool SendBytes(const std::string& Bytes, int Timeout);
    void SendDataByte(std::uint8_t Value, int Timeout);
    void UpdateLinkCrc(std::uint8_t Value);
    // Pumps until Condition holds (checked before each pump) or Timeout ms have passed.
    void WaitForFlag(const std::function<bool()>& Condition, int Timeout);

    // ---- port handlers
    void ComPortRxBuf(TCustomComPort& Sender, const std::uint8_t* Buffer, int Count);
    void ComPortTxEmpty(TCustomComPort& Sender);

    // ---- protocol steps (result codes as documented at each)
    int Connect();
    int QueryDevice(std::string_view Code, int Timeout);
    bool ReadDeviceInfo();
    int ProgramFlash();
    int VerifyFlash();
    int CheckLinkCrc();

    // ---- the update run ("Update starten!")
    TUpdateOutcome RunUpdate();
    void CancelButtonClick() { CancelRequested = true; }

    // "hh:mm:ss".
    static std::string DurationText(std::int64_t Milliseconds);

    // ---- link state
    bool TxEmpty = false;
    std::uint16_t LinkCrc = 0;
    std::string LastCommand;
    bool CancelRequested = false;
    bool CrcEnabled = false;
    bool UpdateRunning = false;
    std::int64_t BufferSize = 0;
    std::int64_t FlashSize = 0;
    // The window of each image byte in the programming and verification streams, in ms
    // (ByteTimeout unless the user asks for less); 0 sends them at line speed, in blocks.
    // At 0 the command, query, CRC and closing bytes go out at line speed too; the
    // connection rounds keep ByteTimeout at every setting. No window is shorter than the
    // byte's line time.
    int BytePacing = DefaultBytePacing;
    // With AutoLineSpeed the run keeps BytePacing up to the device queries; when every query
    // reply carried TarnwickMark, the CRC exchanges, streams and closing commands after them
    // go as BytePacing 0 sends them. A device without the mark gets the run BytePacing gives.
    bool AutoLineSpeed = false;
    // Every query of the last ReadDeviceInfo was answered with TarnwickMark.
    bool TarnwickDevice = false;
    // Whether the run asks for the device to be switched off and on again. Without, for a
    // device reset by other means, the connection rounds start as soon as the port is open.
    bool PowerCycle = true;
    // Connection rounds that found no device start again until one answers or the user
    // cancels: a station waiting for the next device.
    bool ConnectUntilAnswer = false;
    // Told as each phase of a run begins. At Connected a handler may hand over another
    // image (SetImage): the size check and the passes use that one.
    std::function<void(TUpdatePhase)> OnPhase;
    // What the device said of itself in the last run: its version as "2.1" and its
    // signature as six hex digits; empty when it did not say.
    std::string DeviceVersion;
    std::string DeviceSignature;

  private:
    void SetProgress(TProgressBar Bar, int Position);
    void SetProgressMax(TProgressBar Bar, int Max);
    void StepProgress(TProgressBar Bar) { SetProgress(Bar, Progress[Bar] + 1); }
    void Pause(int Milliseconds);
    void Phase(TUpdatePhase Value) {
        if (OnPhase)
            OnPhase(Value);
    }
    // Owner.ReportMessage, remembering what went to the log for the outcome.
    void Report(const std::string& Text, bool ShowBox, bool ToInfo, bool ToLog);
    void ConnectedSteps(TUpdateOutcome& Outcome, bool Program, bool Verify);
    std::uint8_t ImageByte(std::int32_t Address) const;

    // BytePacing, or 0 once the run took line speed for a Tarnwick bootloader.
    int StreamPacing() const { return LineSpeedTaken ? 0 : BytePacing; }
    // The window of the bytes outside the connection rounds and the data streams:
    // ByteTimeout, or 0 (line speed) with StreamPacing 0.
    int CommandPacing() const { return StreamPacing() <= 0 ? 0 : ByteTimeout; }
    // SendByte with Timeout 0: the byte goes out once the line is free and is held only
    // until the port reports it sent (at most ByteTimeout).
    bool SendByteAtLineSpeed(std::uint8_t Value);

    // ---- image bytes at line speed (BytePacing 0)
    // 1: every image byte sent, or the user cancelled; -1: a buffer-full not acknowledged.
    int ProgramBlocks();
    void VerifyBlocks();
    // Image bytes From to To as one write, folded into LinkCrc as they go on the wire;
    // true when it pumped while waiting for the line.
    bool SendBlock(std::int32_t From, std::int32_t To);
    // Pumps until the stream written so far has left the line, but for Lead of line time;
    // true when it pumped.
    bool WaitForLine(std::chrono::microseconds Lead);
    std::chrono::microseconds ByteLineTime() const;
    // Timeout, or the line time of one byte at the port's baud rate (rounded up) when that
    // is longer: the window SendByte holds a byte for.
    int PacingWindow(int Timeout) const;
    std::chrono::microseconds BlockLineTime() const;

    TUpdateOwner& Owner;
    TCustomComPort& ComPort;
    TComLink RxLink;
    bool RxLinkAttached;
    const TBuffer* Image = nullptr;
    std::int32_t HighestAddress = 0;
    std::string LastLogText;
    int Progress[4] = {0, 0, 0, 0};
    // This run found a Tarnwick bootloader with AutoLineSpeed set.
    bool LineSpeedTaken = false;
    // When the bytes written in blocks will have left the line, at the port's baud rate.
    std::chrono::steady_clock::time_point LineFree;
};

}  // namespace tarnwick

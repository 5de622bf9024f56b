// The record of one update attempt, one JSON object per line of the log (JSON Lines), and
// what fills it: the phases of the bootloader's run, the device's answers, the outcome and
// the serial number the device got. The CLI, the station and the window write the same.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "station/serial_number.h"
#include "station/serial_source.h"

namespace tarnwick {

enum class TAttemptStatus { Good, Bad, Cancelled };

// German word of a status as the record and the summary show it.
std::string StatusText(TAttemptStatus Status);
TAttemptStatus StatusOf(const TUpdateOutcome& Outcome);

struct TAttempt {
    std::string Time;  // ISO 8601 with offset, at the start of the attempt
    std::string Station;
    std::string Port;
    std::string ImageFile;
    std::string ImageSha256;
    std::optional<std::uint64_t> Serial;
    std::vector<std::uint8_t> SerialBytes;
    std::optional<TSerialLayout> SerialLayout;
    std::string BootloaderVersion;
    std::string Signature;
    std::string ChipName;
    std::int64_t BufferSize = 0;
    std::int64_t FlashSize = 0;
    bool OneWire = false;
    TAttemptStatus Status = TAttemptStatus::Bad;
    std::string Message;
    // Milliseconds of each phase; zero for a phase the run did not reach.
    std::int64_t WaitingMs = 0;
    std::int64_t ConnectingMs = 0;
    std::int64_t ProgrammingMs = 0;
    std::int64_t VerifyingMs = 0;
    std::int64_t TotalMs = 0;
};

// The record as one line of JSON (no line end).
std::string AttemptJson(const TAttempt& Attempt);

// What every attempt of one log shares.
struct TRecordPlan {
    std::filesystem::path LogFile;  // empty: nothing is written
    std::string Station;
    std::string ImageFile;
    std::string ImageSha256;
    // With a serial number: where and how it goes, and where numbers come from.
    std::optional<TSerialLayout> SerialLayout;
    TSerialSource* Serials = nullptr;
};

// Reads FileName whole and returns its SHA-256; throws EStation when it cannot be read.
std::string FileSha256(const std::filesystem::path& FileName);

// A German warning when the log's last line is torn (a crash while it was written) or
// holds no JSON object; empty when the log is whole or missing.
std::string LogTailProblem(const std::filesystem::path& LogFile);

// Appends the record to Plan's log and syncs it (throws EStation).
void AppendAttempt(const TRecordPlan& Plan, const TAttempt& Attempt);

// Records one run of Bootloader: created before RunUpdate, it times the phases through
// OnPhase and, with a serial number in the plan, takes a number as soon as a device answers
// and hands the bootloader a copy of the image with that number in it. Only then: a run
// that finds no device uses no number.
class TAttemptRecorder {
  public:
    TAttemptRecorder(TBootloader& Bootloader, const TRecordPlan& Plan, std::string Port,
                     const TBuffer& Image, std::int32_t HighestAddress);
    ~TAttemptRecorder();
    TAttemptRecorder(const TAttemptRecorder&) = delete;
    TAttemptRecorder& operator=(const TAttemptRecorder&) = delete;

    // The record of the run that ended with Outcome.
    TAttempt Finish(const TUpdateOutcome& Outcome);
    // Whether the run got past the warning question: one answered No is no attempt.
    bool Attempted() const { return Reached[0]; }
    // Why no number could be taken (the run then ended there); empty when it could.
    const std::string& SerialFault() const { return Fault; }

  private:
    using TClock = std::chrono::steady_clock;
    void Phase(TUpdatePhase Value);

    TBootloader& Bootloader;
    const TRecordPlan& Plan;
    const TBuffer& Image;
    const std::int32_t HighestAddress;
    TBuffer Copy;  // the image with this device's number
    TAttempt Attempt;
    std::string Fault;
    TClock::time_point Marks[5];
    bool Reached[5] = {};
};

}  // namespace tarnwick

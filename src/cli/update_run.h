// The parts of tarnwick-cli update: the options, the terminal side of one device's run
// (TUpdateConsole), that run itself, and the runner that updates several devices at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "command.h"
#include "image/firmware_image.h"
#include "station/attempt_record.h"

namespace tarnwick::cli {

inline constexpr int ExitCancelled = 3;

// Set by Ctrl-C and SIGTERM while an update runs.
extern std::atomic<bool> InterruptRequested;

struct TUpdateOptions {
    std::vector<std::string> Ports;
    std::string Baud;
    std::string Password;  // as the device compares it: Windows-1252 bytes
    bool Program = true;
    bool Verify = true;
    bool Yes = false;
    bool PowerCycle = true;          // ask for the device to be switched off and on again
    int Pacing = DefaultBytePacing;  // ms per image byte; 0: line speed
    // Line speed after the device queries when the device is a Tarnwick bootloader; off when
    // --paced, --pacing or --fast chose the speed.
    bool AutoLineSpeed = true;
    std::string File;
    // Every run's record goes to this plan's log (--log); none without.
    const TRecordPlan* Record = nullptr;
    // Whether a run in which no device answered is recorded too (a station that waits for
    // its next device records only devices).
    bool RecordUnanswered = true;
    // Connection rounds start again until a device answers (a station without power cycle).
    bool ConnectUntilAnswer = false;
    // Told of each phase of every run, on the run's thread.
    std::function<void(const std::string& Port, TUpdatePhase Phase)> OnPhase;
};

// What one device's run shows and asks.
class TUpdateConsole {
  public:
    virtual ~TUpdateConsole() = default;
    virtual void PrintLine(const std::string& Text) = 0;
    // A j/N question; true only for yes.
    virtual bool Ask(const std::string& Text) = 0;
    // A notice; returns once the user has read it.
    virtual void Notice(const std::string& Text) = 0;
    // The device's progress line, replacing the one shown; empty hides it.
    virtual void Progress(const std::string& Line) = 0;
};

struct TDeviceResult {
    TUpdateOutcome Outcome;
    std::string LastLogMessage;  // of a failed run: what went wrong
    std::int64_t DurationMs = 0;
    std::optional<TAttempt> Attempt;  // the record, when the plan wrote one
    std::string StationFault;         // why no record or serial number could be written
};

// One device's whole update on the calling thread. Interrupt is that device's Ctrl-C: it
// cancels at the next step that can be cancelled.
TDeviceResult RunDeviceUpdate(const TUpdateOptions& Options, const std::string& Port,
                              const TBuffer& Image, std::int32_t HighestAddress,
                              TUpdateConsole& Console, std::atomic<bool>& Interrupt);

// The options update and station share, parsed (without the file); throws EUsage.
TUpdateOptions ParseUpdateOptions(const TArguments& Arguments);
std::vector<TOption> UpdateRunOptions();
// --log and --station.
std::vector<TOption> RecordOptions();
// The record plan of --log and --station for File; says on Err when the log's last line is
// torn. Throws EStation when File cannot be read.
TRecordPlan MakeRecordPlan(const TArguments& Arguments, const std::string& File,
                           TCommandContext& Context);

// Every port of Options at once, each on a thread of its own; returns the exit status.
int RunMultiUpdate(const TUpdateOptions& Options, const TBuffer& Image, std::int32_t HighestAddress,
                   TCommandContext& Context);

}  // namespace tarnwick::cli

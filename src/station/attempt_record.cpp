#include "station/attempt_record.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "bootloader/device_info.h"
#include "station/station_files.h"

namespace tarnwick {

std::string StatusText(TAttemptStatus Status) {
    switch (Status) {
        case TAttemptStatus::Good:
            return "gut";
        case TAttemptStatus::Bad:
            return "schlecht";
        case TAttemptStatus::Cancelled:
            return "abgebrochen";
    }
    return {};
}

TAttemptStatus StatusOf(const TUpdateOutcome& Outcome) {
    if (Outcome.SuccessSent)
        return TAttemptStatus::Good;
    return Outcome.Cancelled ? TAttemptStatus::Cancelled : TAttemptStatus::Bad;
}

std::string AttemptJson(const TAttempt& A) {
    using nlohmann::ordered_json;
    ordered_json record;
    record["time"] = A.Time;
    record["station"] = A.Station;
    record["port"] = A.Port;
    record["image"] = {{"file", A.ImageFile}, {"sha256", A.ImageSha256}};
    if (A.Serial && A.SerialLayout) {
        record["serial"] = {{"number", *A.Serial},
                            {"address", A.SerialLayout->Address},
                            {"format", SerialFormatText(*A.SerialLayout)},
                            {"bytes", A.SerialBytes}};
    } else {
        record["serial"] = nullptr;
    }
    record["device"] = {{"bootloader_version", A.BootloaderVersion},
                        {"signature", A.Signature},
                        {"chip", A.ChipName},
                        {"buffer_size", A.BufferSize},
                        {"flash_size", A.FlashSize},
                        {"single_wire", A.OneWire}};
    record["result"] = {{"status", StatusText(A.Status)}, {"message", A.Message}};
    record["phases_ms"] = {{"waiting", A.WaitingMs},
                           {"connecting", A.ConnectingMs},
                           {"programming", A.ProgrammingMs},
                           {"verifying", A.VerifyingMs},
                           {"total", A.TotalMs}};
    record["tarnwick"] = TARNWICK_VERSION;
    // Text that is not UTF-8 (a device's odd reply, a file name) is replaced, not refused:
    // the record must be written whatever it holds.
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string FileSha256(const std::filesystem::path& FileName) {
    std::ifstream in(FileName, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail())
        throw EStation("Programmdatei " + QuotedName(FileName) + " nicht lesbar");
    return Sha256Hex(bytes);
}

std::string LogTailProblem(const std::filesystem::path& LogFile) {
    std::ifstream in(LogFile, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    const std::streamoff size = in.tellg();
    if (size <= 0)
        return {};
    // A record is far shorter than this; the last line lies within it.
    const std::streamoff from = size > 65536 ? size - 65536 : 0;
    in.seekg(from);
    std::string tail(static_cast<std::size_t>(size - from), '\0');
    in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    const std::string name = QuotedName(LogFile);
    if (tail.back() != '\n') {
        return "Protokoll " + name +
               ": die letzte Zeile ist unvollständig (Absturz beim Schreiben?). Sie bleibt "
               "stehen; der nächste Eintrag beginnt in einer neuen Zeile.";
    }
    tail.pop_back();
    const std::size_t start = tail.rfind('\n');
    const std::string last = start == std::string::npos ? tail : tail.substr(start + 1);
    const auto parsed = nlohmann::json::parse(last, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object())
        return "Protokoll " + name + ": die letzte Zeile ist kein gültiger Eintrag.";
    return {};
}

void AppendAttempt(const TRecordPlan& Plan, const TAttempt& Attempt) {
    if (!Plan.LogFile.empty())
        AppendLineDurably(Plan.LogFile, AttemptJson(Attempt));
}

TAttemptRecorder::TAttemptRecorder(TBootloader& ABootloader, const TRecordPlan& APlan,
                                   std::string Port, const TBuffer& AImage,
                                   std::int32_t AHighestAddress)
    : Bootloader(ABootloader), Plan(APlan), Image(AImage), HighestAddress(AHighestAddress) {
    Attempt.Station = Plan.Station;
    Attempt.Port = std::move(Port);
    Attempt.ImageFile = Plan.ImageFile;
    Attempt.ImageSha256 = Plan.ImageSha256;
    Bootloader.OnPhase = [this](TUpdatePhase Value) { Phase(Value); };
}

TAttemptRecorder::~TAttemptRecorder() {
    Bootloader.OnPhase = nullptr;
}

void TAttemptRecorder::Phase(TUpdatePhase Value) {
    const auto index = static_cast<std::size_t>(Value);
    Marks[index] = TClock::now();
    Reached[index] = true;
    if (Value == TUpdatePhase::Waiting)
        Attempt.Time = LocalTimeText(std::chrono::system_clock::now());
    if (Value != TUpdatePhase::Connected || !Plan.SerialLayout || Plan.Serials == nullptr)
        return;
    // The number is taken once a device has answered, and kept by it whatever follows.
    std::uint64_t number = 0;
    try {
        number = Plan.Serials->Take();
    } catch (const EStation& e) {
        Fault = e.what();
        throw;
    }
    const auto bytes = SerialBytes(*Plan.SerialLayout, number);
    if (!bytes) {
        Attempt.Serial = number;
        Fault = "Die Seriennummer " + std::to_string(number) + " passt nicht in das Format " +
                SerialFormatText(*Plan.SerialLayout);
        throw EStation(Fault);
    }
    Attempt.Serial = number;
    Attempt.SerialBytes = *bytes;
    Attempt.SerialLayout = Plan.SerialLayout;
    Copy = Image;
    std::int32_t highest = HighestAddress;
    PlaceSerial(Copy, highest, *Plan.SerialLayout, *bytes);
    Bootloader.SetImage(Copy, highest);
}

TAttempt TAttemptRecorder::Finish(const TUpdateOutcome& Outcome) {
    const auto end = TClock::now();
    // Each phase lasts until the next one that was reached, the last until the end.
    const auto span = [&](TUpdatePhase Phase) -> std::int64_t {
        auto index = static_cast<std::size_t>(Phase);
        if (!Reached[index])
            return 0;
        auto until = end;
        for (std::size_t next = index + 1; next < 5; ++next) {
            if (Reached[next]) {
                until = Marks[next];
                break;
            }
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(until - Marks[index]).count();
    };
    Attempt.WaitingMs = span(TUpdatePhase::Waiting);
    Attempt.ConnectingMs = span(TUpdatePhase::Connected);
    Attempt.ProgrammingMs = span(TUpdatePhase::Programming);
    Attempt.VerifyingMs = span(TUpdatePhase::Verifying);
    if (Reached[0])
        Attempt.TotalMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Marks[0]).count();
    Attempt.BootloaderVersion = Bootloader.DeviceVersion;
    Attempt.Signature = Bootloader.DeviceSignature;
    Attempt.ChipName = Attempt.Signature.empty() ? "" : DeviceName(Attempt.Signature);
    if (Outcome.Connected) {
        Attempt.BufferSize = Bootloader.BufferSize;
        Attempt.FlashSize = Bootloader.FlashSize;
        Attempt.OneWire = Bootloader.OneWireMode;
    }
    Attempt.Status = StatusOf(Outcome);
    Attempt.Message = Outcome.Message;
    return Attempt;
}

}  // namespace tarnwick

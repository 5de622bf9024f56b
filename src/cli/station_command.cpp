// tarnwick-cli station: a flashing station for the production line. One device after the
// other on each port (each port a lane on a thread of its own, as update runs several),
// every device with its own serial number, every attempt a record in the log, and at the
// end the counts.
//
// The main thread owns the terminal: it asks the update's questions once at the start,
// the operator's prompts between devices (with the power cycle), draws the progress lines
// and turns Ctrl-C into the end of the station after the running devices (a second one
// cancels them).

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "cli_platform.h"
#include "comport/main_thread_dispatcher.h"
#include "station/serial_source.h"
#include "station/station.h"
#include "station/station_files.h"
#include "station_port.h"
#include "update_console.h"
#include "update_run.h"

namespace tarnwick::cli {

namespace {

void OnStationInterrupt(int) {
    InterruptRequested = true;
}

struct TStationSetup {
    TUpdateOptions Options;
    TRecordPlan Plan;
    std::unique_ptr<TSerialSource> Serials;
    int DeviceLimit = 0;  // 0: no limit
    bool WarningYes = false;
    bool VerifyOfferYes = false;
};

class TStationRunner {
  public:
    TStationRunner(TStationSetup& ASetup, const TBuffer& AImage, std::int32_t AHighest,
                   std::ostream& Out)
        : Setup(ASetup), Image(AImage), Highest(AHighest), Terminal(Out, ASetup.Options.Yes) {
        const bool prefixed = Setup.Options.Ports.size() > 1;
        for (const std::string& port : Setup.Options.Ports)
            Lanes.push_back(
                std::make_unique<TLane>(*this, port, prefixed ? "[" + port + "] " : ""));
        Setup.Options.OnPhase = [this](const std::string& Port, TUpdatePhase Phase) {
            for (auto& lane : Lanes) {
                if (lane->Port == Port)
                    lane->Connected =
                        Phase != TUpdatePhase::Waiting && Phase != TUpdatePhase::Closing;
            }
        };
    }

    int Run();

  private:
    struct TLane;

    class TLaneConsole : public TUpdateConsole {
      public:
        TLaneConsole(TStationRunner& ARunner, TLane& ALane) : Runner(ARunner), Lane(ALane) {}
        void PrintLine(const std::string& Text) override { Runner.Print(Lane, Text); }
        // Asked once at the start; anything else counts as No.
        bool Ask(const std::string& Text) override {
            if (Text == OneLine(UpdateWarningQuestion()))
                return Runner.Setup.WarningYes;
            if (Text == OneLine(VerifyOfferQuestion()))
                return Runner.Setup.VerifyOfferYes;
            Runner.Print(Lane, Text + " n");
            return false;
        }
        // The operator has read them at the station's prompt.
        void Notice(const std::string& Text) override { Runner.Print(Lane, Text); }
        void Progress(const std::string& Line) override { Runner.SetProgress(Lane, Line); }

      private:
        TStationRunner& Runner;
        TLane& Lane;
    };

    struct TLane {
        TLane(TStationRunner& Runner, const std::string& APort, std::string APrefix)
            : Port(APort), Prefix(std::move(APrefix)), Console(Runner, *this) {}
        const std::string Port;
        const std::string Prefix;
        TLaneConsole Console;
        std::atomic<bool> Interrupt{false};
        std::atomic<bool> Connected{false};
        // A USB adapter that stayed when its device was taken away: the fixture's own.
        bool FixtureAdapter = false;
        std::string ProgressLine;
        std::thread Thread;
    };

    void RunLane(TLane& Lane);
    void Device(TLane& Lane, const TDeviceResult& Result, int Number);
    bool WaitFor(const std::function<bool()>& Condition);
    bool WaitForUnplug(TLane& Lane);
    bool Prompt(TLane& Lane);
    void Print(TLane& Lane, const std::string& Text);
    void SetProgress(TLane& Lane, const std::string& Line);
    void DrawProgress();
    void AskPending(std::unique_lock<std::mutex>& Lock);
    void StopAll() {
        std::lock_guard<std::mutex> lock(Mutex);
        Stop = true;
        Changed.notify_all();
    }

    TStationSetup& Setup;
    const TBuffer& Image;
    const std::int32_t Highest;
    std::vector<std::unique_ptr<TLane>> Lanes;
    TStationTally Tally;

    // Below, and the terminal, only under Mutex; the main thread reads the operator's
    // answer without it while PromptOpen keeps the lanes off the terminal.
    std::mutex Mutex;
    std::condition_variable Changed;
    TTerminalConsole Terminal;
    struct TPrompt {
        TLane* Lane;
        bool Answered = false;
        bool Go = false;
    };
    std::deque<TPrompt*> Prompts;
    bool PromptOpen = false;
    std::vector<std::string> HeldLines;
    std::size_t Running = 0;
    int Started = 0;  // devices counted so far
    bool Stop = false;
    bool Failed = false;  // a fault of the station itself (log, serial numbers)
};

int TStationRunner::Run() {
    {
        const TSignalsToMainThread signalsToMain;
        for (auto& lane : Lanes) {
            ++Running;
            TLane* l = lane.get();
            lane->Thread = std::thread([this, l] { RunLane(*l); });
        }
    }
    int interrupts = 0;
    {
        std::unique_lock<std::mutex> lock(Mutex);
        while (Running > 0) {
            Changed.wait_for(lock, std::chrono::milliseconds(50),
                             [&] { return Running == 0 || !Prompts.empty(); });
            if (InterruptRequested.exchange(false)) {
                ++interrupts;
                Stop = true;
                if (interrupts == 1) {
                    Terminal.PrintLine(
                        "Station endet nach den laufenden Geräten (noch einmal Strg+C bricht "
                        "sie ab)");
                }
                Changed.notify_all();
            }
            // Once the station ends (Ctrl-C, q, the last of --devices on another lane), a
            // lane still waiting for its device stops at once; a second Ctrl-C stops all.
            // Asked again at every turn: a lane may just be starting its next rounds.
            if (Stop) {
                for (auto& lane : Lanes) {
                    if (interrupts > 1 || !lane->Connected)
                        lane->Interrupt = true;
                }
            }
            AskPending(lock);
        }
        Terminal.ClearProgress();
    }
    for (auto& lane : Lanes)
        lane->Thread.join();
    const TStationCounts counts = Tally.Counts();
    Terminal.PrintLine(SummaryText(counts));
    if (Failed || counts.Bad > 0)
        return ExitFailure;
    return counts.Cancelled > 0 ? ExitCancelled : ExitSuccess;
}

// Waits (pumping nothing: the lane holds no port meanwhile) until Condition holds or the
// station stops; false when it stopped.
bool TStationRunner::WaitFor(const std::function<bool()>& Condition) {
    std::unique_lock<std::mutex> lock(Mutex);
    while (!Stop) {
        lock.unlock();
        const bool holds = Condition();
        lock.lock();
        if (holds)
            return !Stop;
        Changed.wait_for(lock, std::chrono::milliseconds(200), [&] { return Stop; });
    }
    return false;
}

void TStationRunner::RunLane(TLane& Lane) {
    // The port's events come to this thread, not to the main thread.
    const TMainThreadDispatcher::TThreadScope dispatcher;
    const bool powerCycle = Setup.Options.PowerCycle;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            if (Stop || (Setup.DeviceLimit > 0 && Started >= Setup.DeviceLimit))
                break;
        }
        if (powerCycle ? !Prompt(Lane) : !WaitFor([&] { return PortPresent(Lane.Port); }))
            break;
        Lane.Interrupt = false;
        TDeviceResult result;
        try {
            result = RunDeviceUpdate(Setup.Options, Lane.Port, Image, Highest, Lane.Console,
                                     Lane.Interrupt);
        } catch (const std::exception& e) {
            result.Outcome.Error = true;
            result.StationFault = std::string("Fehler: ") + e.what();
            Print(Lane, result.StationFault);
        }
        Lane.Connected = false;
        // The run has said what went wrong; the station cannot go on without its log or
        // its numbers.
        if (!result.StationFault.empty()) {
            {
                std::lock_guard<std::mutex> lock(Mutex);
                Failed = true;
            }
            StopAll();
        }
        if (!result.Attempt) {
            // No device answered (it went away, or the port did): the rounds start again
            // after a breath, unless the station ends.
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
            if (!WaitFor([&] { return std::chrono::steady_clock::now() >= until; }))
                break;
            continue;
        }
        int number = 0;
        {
            std::lock_guard<std::mutex> lock(Mutex);
            number = ++Started;
            if (Setup.DeviceLimit > 0 && Started >= Setup.DeviceLimit)
                Stop = true;
        }
        Device(Lane, result, number);
        if (!powerCycle && !Lane.FixtureAdapter && PortIsUsbAdapter(Lane.Port) &&
            !WaitForUnplug(Lane))
            break;
    }
    std::lock_guard<std::mutex> lock(Mutex);
    --Running;
    Changed.notify_all();
}

void TStationRunner::Device(TLane& Lane, const TDeviceResult& Result, int Number) {
    const TAttempt& attempt = *Result.Attempt;
    Tally.Add(attempt.Status, attempt.TotalMs);
    std::string line = "Gerät " + std::to_string(Number) + ": " + StatusText(attempt.Status);
    if (attempt.Status != TAttemptStatus::Good && !attempt.Message.empty())
        line += " (" + attempt.Message + ")";
    if (attempt.Serial)
        line += ", Seriennummer " + std::to_string(*attempt.Serial);
    line += ", " + TBootloader::DurationText(attempt.TotalMs);
    Print(Lane, line);
}

// A USB adapter that belongs to the device goes with it, and the next device brings it back:
// waiting for it to go keeps a device that stays in its bootloader (a bad one) from being
// taken for the next. One that stays for a while belongs to the fixture; from then on the
// lane waits only for the next device's answer. False when the station ends.
bool TStationRunner::WaitForUnplug(TLane& Lane) {
    Print(Lane, "Warten, bis das Gerät mit seinem USB-Adapter abgezogen ist");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    if (!WaitFor(
            [&] { return !PortPresent(Lane.Port) || std::chrono::steady_clock::now() >= until; }))
        return false;
    if (PortPresent(Lane.Port)) {
        Lane.FixtureAdapter = true;
        Print(Lane,
              "Der USB-Adapter bleibt: er gehört zur Prüfvorrichtung; die Station wartet "
              "auf die Antwort des nächsten Geräts");
    }
    return true;
}

// With the power cycle: the operator connects the next device and says so; false for q,
// the end of the input or the end of the station.
bool TStationRunner::Prompt(TLane& Lane) {
    TPrompt prompt{&Lane};
    std::unique_lock<std::mutex> lock(Mutex);
    if (Stop)
        return false;
    Prompts.push_back(&prompt);
    Changed.notify_all();
    Changed.wait(lock, [&] { return prompt.Answered; });
    return prompt.Go && !Stop;
}

void TStationRunner::AskPending(std::unique_lock<std::mutex>& Lock) {
    while (!Prompts.empty()) {
        TPrompt* prompt = Prompts.front();
        Prompts.pop_front();
        bool go = false;
        if (!Stop) {
            PromptOpen = true;
            Terminal.PrintLine(prompt->Lane->Prefix +
                               "Nächstes Gerät anschließen (ausgeschaltet), dann Eingabetaste; q "
                               "beendet die Station");
            Lock.unlock();
            std::string answer;
            const bool read = static_cast<bool>(std::getline(std::cin, answer));
            std::cin.clear();
            Lock.lock();
            PromptOpen = false;
            go = read && !InterruptRequested && answer != "q" && answer != "Q";
            if (!go)
                Stop = true;
            for (const std::string& line : HeldLines)
                Terminal.PrintLine(line);
            HeldLines.clear();
        }
        prompt->Answered = true;
        prompt->Go = go;
        Changed.notify_all();
    }
}

void TStationRunner::Print(TLane& Lane, const std::string& Text) {
    std::lock_guard<std::mutex> lock(Mutex);
    if (PromptOpen) {
        HeldLines.push_back(Lane.Prefix + Text);
        return;
    }
    Terminal.PrintLine(Lane.Prefix + Text);
    DrawProgress();
}

void TStationRunner::SetProgress(TLane& Lane, const std::string& Line) {
    std::lock_guard<std::mutex> lock(Mutex);
    Lane.ProgressLine = Line;
    if (!PromptOpen)
        DrawProgress();
}

void TStationRunner::DrawProgress() {
    std::vector<std::string> lines;
    for (const auto& lane : Lanes) {
        if (!lane->ProgressLine.empty())
            lines.push_back(lane->Prefix + lane->ProgressLine);
    }
    if (lines.empty())
        Terminal.ClearProgress();
    else
        Terminal.ShowProgress(lines);
}

std::uint64_t SerialOption(const TArguments& Arguments, std::string_view Name,
                           std::uint64_t Default) {
    if (!Arguments.Has(Name))
        return Default;
    const std::string text = Arguments.Value(Name);
    const auto value = ParseSerialNumber(text);
    if (!value)
        throw EUsage("--" + std::string(Name) +
                     " erwartet eine ganze Zahl ohne Vorzeichen, nicht " + text);
    return *value;
}

// The serial number options into Setup; throws EUsage for a wrong combination.
void SerialSetup(const TArguments& Arguments, TStationSetup& Setup) {
    const bool any = Arguments.Has("serial-format") || Arguments.Has("serial-start") ||
                     Arguments.Has("serial-step") || Arguments.Has("serial-list") ||
                     Arguments.Has("serial-state") || Arguments.Has("serial-overwrite");
    if (!Arguments.Has("serial-at")) {
        if (any)
            throw EUsage("die Seriennummer-Optionen brauchen --serial-at ADRESSE");
        return;
    }
    // Decimal, or hexadecimal after 0x as addresses are usually written.
    const std::string addressText = Arguments.Value("serial-at");
    std::int64_t address = -1;
    try {
        std::size_t used = 0;
        const bool hex = addressText.size() > 2 && (addressText.compare(0, 2, "0x") == 0 ||
                                                    addressText.compare(0, 2, "0X") == 0);
        const std::string digits = hex ? addressText.substr(2) : addressText;
        address = std::stoll(digits, &used, hex ? 16 : 10);
        if (used != digits.size() || digits.front() == '-' || digits.front() == '+')
            address = -1;
    } catch (const std::exception&) {
        address = -1;
    }
    if (address < 0 || address >= MaxFlashSize)
        throw EUsage("ungültige Adresse für --serial-at: " + addressText);
    const auto layout = ParseSerialFormat(Arguments.Value("serial-format", "u32le"), address);
    if (!layout) {
        throw EUsage("ungültiges Format für --serial-format: " + Arguments.Value("serial-format") +
                     " (u16le, u16be, u32le, u32be, dec:N, bcd:N)");
    }
    const bool list = Arguments.Has("serial-list");
    if (list == Arguments.Has("serial-start"))
        throw EUsage("entweder --serial-start N oder --serial-list DATEI angeben");
    if (list && Arguments.Has("serial-step"))
        throw EUsage("--serial-step gilt nur mit --serial-start");
    std::filesystem::path state = Arguments.Value("serial-state");
    if (state.empty()) {
        if (Setup.Plan.LogFile.empty())
            throw EUsage("ohne --log braucht die Seriennummer --serial-state DATEI");
        state = Setup.Plan.LogFile;
        state += ".serial";
    }
    if (list) {
        Setup.Serials =
            std::make_unique<TSerialSource>(state, ReadSerialList(Arguments.Value("serial-list")));
    } else {
        const std::uint64_t step = SerialOption(Arguments, "serial-step", 1);
        if (step == 0)
            throw EUsage("--serial-step muss mindestens 1 sein");
        Setup.Serials = std::make_unique<TSerialSource>(
            state, SerialOption(Arguments, "serial-start", 0), step);
    }
    Setup.Plan.SerialLayout = layout;
    Setup.Plan.Serials = Setup.Serials.get();
}

// Exit status: 0 when every device was good, 1 when one was bad or the station failed, 3
// when devices were cancelled, 2 for a usage error.
int RunStation(const TArguments& Arguments, TCommandContext& Context) {
    if (Arguments.Operands.size() != 1)
        throw EUsage(Arguments.Operands.empty() ? "keine Datei angegeben"
                                                : "nur eine Datei erlaubt");
    TStationSetup setup;
    setup.Options = ParseUpdateOptions(Arguments);
    setup.Options.File = Arguments.Operands.front();
    setup.DeviceLimit = Arguments.NumberOption("devices", 0, 1, 1000000);
    TBuffer image;
    std::int32_t highest = 0;
    if (!LoadFirmwareFile(setup.Options.File, image, highest, Context))
        return ExitFailure;
    try {
        if (Arguments.Has("log")) {
            setup.Plan = MakeRecordPlan(Arguments, setup.Options.File, Context);
        } else {
            setup.Plan.Station = Arguments.Value("station", HostName());
            setup.Plan.ImageFile = setup.Options.File;
            setup.Plan.ImageSha256 = FileSha256(setup.Options.File);
        }
        SerialSetup(Arguments, setup);
        if (setup.Plan.SerialLayout) {
            // Refused before anything is sent.
            const std::string problem = SerialPlaceProblem(image, *setup.Plan.SerialLayout,
                                                           Arguments.Has("serial-overwrite"));
            if (!problem.empty()) {
                Context.Err << problem << "\n";
                return ExitFailure;
            }
            const auto next = setup.Serials->Peek();
            if (!next)
                throw EStation("Die Seriennummernliste ist aufgebraucht");
            if (!SerialBytes(*setup.Plan.SerialLayout, *next)) {
                throw EStation("Die Seriennummer " + std::to_string(*next) +
                               " passt nicht in das Format " +
                               SerialFormatText(*setup.Plan.SerialLayout));
            }
            Context.Err << "Nächste Seriennummer: " << *next << "\n";
        }
    } catch (const EStation& e) {
        Context.Err << ProgramName << " station: " << e.what() << "\n";
        return ExitFailure;
    }
    setup.Options.Record = &setup.Plan;
    setup.Options.RecordUnanswered = setup.Options.PowerCycle;
    setup.Options.ConnectUntilAnswer = !setup.Options.PowerCycle;

    TMainThreadDispatcher::Instance().SetMainThread();
    const TInterruptGuard interruptGuard(OnStationInterrupt);
    InterruptRequested = false;
    {
        // The update's questions, once for every device.
        TTerminalConsole terminal(Context.Out, setup.Options.Yes);
        setup.WarningYes = terminal.Ask(OneLine(UpdateWarningQuestion()));
        if (!setup.WarningYes)
            return terminal.QuestionInterrupted ? ExitCancelled : ExitFailure;
        if (setup.Options.Program && !setup.Options.Verify)
            setup.VerifyOfferYes = terminal.Ask(OneLine(VerifyOfferQuestion()));
    }
    TStationRunner runner(setup, image, highest, Context.Out);
    return runner.Run();
}

std::vector<TOption> StationOptions() {
    std::vector<TOption> options = UpdateRunOptions();
    for (const TOption& option : RecordOptions())
        options.push_back(option);
    const std::vector<TOption> more = {
        {"serial-at", "ADRESSE",
         "jedes Gerät bekommt eine eigene Seriennummer an dieser Flash-Adresse (dezimal oder "
         "0x...); die Datei selbst bleibt unverändert"},
        {"serial-format", "FORMAT",
         "u16le, u16be, u32le (Vorgabe), u32be, dec:N (N ASCII-Ziffern) oder bcd:N (N Byte BCD)"},
        {"serial-start", "N", "Seriennummern ab N zählen"},
        {"serial-step", "K", "Schrittweite der Seriennummern (Vorgabe 1)"},
        {"serial-list", "DATEI", "Seriennummern aus DATEI (eine je Zeile), der Reihe nach"},
        {"serial-state", "DATEI",
         "hält die nächste Nummer (Vorgabe: Protokollname mit .serial); jede Nummer wird nur "
         "einmal vergeben, auch über Neustarts und mehrere Stationen hinweg"},
        {"serial-overwrite", "", "die Seriennummer darf Programmbytes überschreiben"},
        {"devices", "N", "nach N Geräten enden"},
    };
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

}  // namespace

const TCommand StationCommand{
    "station",
    "DATEI",
    "Fertigung: ein Gerät nach dem anderen programmieren, mit Seriennummern und Protokoll",
    StationOptions(),
    RunStation,
};

}  // namespace tarnwick::cli

// tarnwick-cli update with several ports: every device at once, each on a thread of its
// own with its own port, protocol state and event dispatch, so that a fault, a pulled cable
// or a hang on one line neither stops nor slows the others.
//
// The main thread owns the terminal: it asks each question once for all devices (the first
// device to reach it asks, the others take the same answer), draws one progress line per
// device, prefixes every message with its port, passes Ctrl-C on to every device and prints
// a table of the results at the end.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "cli_platform.h"
#include "comport/main_thread_dispatcher.h"
#include "update_console.h"
#include "update_run.h"

namespace tarnwick::cli {

namespace {

class TMultiRunner {
  public:
    TMultiRunner(const TUpdateOptions& AOptions, const TBuffer& AImage,
                 std::int32_t AHighestAddress, std::ostream& Out)
        : Options(AOptions),
          Image(AImage),
          HighestAddress(AHighestAddress),
          Terminal(Out, AOptions.Yes) {
        for (const std::string& port : Options.Ports)
            Devices.push_back(std::make_unique<TDevice>(*this, port));
    }

    int Run();

  private:
    struct TDevice;

    // One device's console: its lines go to the shared terminal with the port in front.
    class TDeviceConsole : public TUpdateConsole {
      public:
        TDeviceConsole(TMultiRunner& ARunner, TDevice& ADevice)
            : Runner(ARunner), Device(ADevice) {}
        void PrintLine(const std::string& Text) override { Runner.Print(Device, Text); }
        bool Ask(const std::string& Text) override { return Runner.Answer(Text, true); }
        void Notice(const std::string& Text) override { Runner.Answer(Text, false); }
        void Progress(const std::string& Line) override { Runner.SetProgress(Device, Line); }

      private:
        TMultiRunner& Runner;
        TDevice& Device;
    };

    struct TDevice {
        TDevice(TMultiRunner& Runner, const std::string& APort)
            : Port(APort), Prefix("[" + APort + "] "), Console(Runner, *this) {}
        const std::string Port;
        const std::string Prefix;
        TDeviceConsole Console;
        std::atomic<bool> Interrupt{false};
        std::string ProgressLine;
        TDeviceResult Result;
        std::thread Thread;
    };

    struct TAnswer {
        bool Given = false;
        bool Yes = false;
    };

    struct TQuestion {
        std::string Text;
        bool IsQuestion;  // else a notice
    };

    void RunDevice(TDevice& Device);
    void Print(TDevice& Device, const std::string& Text);
    bool Answer(const std::string& Text, bool IsQuestion);
    void SetProgress(TDevice& Device, const std::string& Line);
    void DrawProgress();
    void AskPending(std::unique_lock<std::mutex>& Lock);
    int Summary();

    const TUpdateOptions& Options;
    const TBuffer& Image;
    const std::int32_t HighestAddress;
    std::vector<std::unique_ptr<TDevice>> Devices;

    // Everything below, and the terminal, only under Mutex (the main thread asks its
    // questions without it, while QuestionOpen keeps the devices off the terminal).
    std::mutex Mutex;
    std::condition_variable Changed;
    TTerminalConsole Terminal;
    std::map<std::string, TAnswer> Answers;  // by text: each is asked once
    std::deque<TQuestion> Questions;         // waiting for the main thread to ask
    bool QuestionOpen = false;
    std::vector<std::string> HeldLines;  // printed while a question was open
    std::size_t Running = 0;
    bool Interrupted = false;  // Ctrl-C during the run
};

int TMultiRunner::Run() {
    {
        const TSignalsToMainThread signalsToMain;
        for (auto& device : Devices) {
            ++Running;
            TDevice* d = device.get();
            device->Thread = std::thread([this, d] { RunDevice(*d); });
        }
    }
    {
        std::unique_lock<std::mutex> lock(Mutex);
        while (Running > 0) {
            Changed.wait_for(lock, std::chrono::milliseconds(50),
                             [&] { return Running == 0 || !Questions.empty(); });
            if (InterruptRequested.exchange(false)) {
                Interrupted = true;
                for (auto& device : Devices)
                    device->Interrupt = true;
            }
            AskPending(lock);
        }
        Terminal.ClearProgress();
    }
    for (auto& device : Devices)
        device->Thread.join();
    return Summary();
}

void TMultiRunner::RunDevice(TDevice& Device) {
    TDeviceResult result;
    try {
        // The port's events come to this thread, not to the main thread.
        const TMainThreadDispatcher::TThreadScope dispatcher;
        result = RunDeviceUpdate(Options, Device.Port, Image, HighestAddress, Device.Console,
                                 Device.Interrupt);
    } catch (const std::exception& e) {
        result.Outcome.Error = true;
        result.LastLogMessage = std::string("Fehler: ") + e.what();
    }
    std::lock_guard<std::mutex> lock(Mutex);
    Device.Result = result;
    --Running;
    Changed.notify_all();
}

void TMultiRunner::Print(TDevice& Device, const std::string& Text) {
    std::lock_guard<std::mutex> lock(Mutex);
    if (QuestionOpen) {
        HeldLines.push_back(Device.Prefix + Text);
        return;
    }
    Terminal.PrintLine(Device.Prefix + Text);
    DrawProgress();
}

bool TMultiRunner::Answer(const std::string& Text, bool IsQuestion) {
    std::unique_lock<std::mutex> lock(Mutex);
    const auto inserted = Answers.try_emplace(Text);
    const auto answer = inserted.first;
    if (inserted.second) {
        Questions.push_back({Text, IsQuestion});
        Changed.notify_all();
    }
    Changed.wait(lock, [&] { return answer->second.Given; });
    return answer->second.Yes;
}

void TMultiRunner::SetProgress(TDevice& Device, const std::string& Line) {
    std::lock_guard<std::mutex> lock(Mutex);
    Device.ProgressLine = Line;
    if (!QuestionOpen)
        DrawProgress();
}

void TMultiRunner::DrawProgress() {
    std::vector<std::string> lines;
    for (const auto& device : Devices)
        lines.push_back(device->Prefix + device->ProgressLine);
    Terminal.ShowProgress(lines);
}

// On the main thread: the terminal is read without the lock, while the devices' lines wait.
void TMultiRunner::AskPending(std::unique_lock<std::mutex>& Lock) {
    while (!Questions.empty()) {
        const TQuestion question = Questions.front();
        Questions.pop_front();
        QuestionOpen = true;
        Terminal.ClearProgress();
        Lock.unlock();
        bool yes = true;
        if (question.IsQuestion)
            yes = Terminal.Ask(question.Text);
        else
            Terminal.Notice(question.Text);
        Lock.lock();
        QuestionOpen = false;
        Answers[question.Text] = {true, yes};
        for (const std::string& line : HeldLines)
            Terminal.PrintLine(line);
        HeldLines.clear();
        DrawProgress();
        Changed.notify_all();
    }
}

// The table of port, result and duration; the exit status over all devices.
int TMultiRunner::Summary() {
    std::vector<std::vector<std::string>> rows = {{"Port", "Ergebnis", "Dauer", ""}};
    bool allSucceeded = true;
    bool cancelled = false;
    for (const auto& device : Devices) {
        const TDeviceResult& r = device->Result;
        const bool deviceCancelled =
            r.Outcome.Cancelled || (Terminal.QuestionInterrupted && !r.Outcome.Connected);
        std::string result = "erfolgreich";
        std::string detail;
        if (!r.Outcome.SuccessSent) {
            allSucceeded = false;
            cancelled |= deviceCancelled;
            result = deviceCancelled ? "abgebrochen" : "fehlgeschlagen";
            detail = deviceCancelled ? "" : r.LastLogMessage;
        }
        rows.push_back({device->Port, result, TBootloader::DurationText(r.DurationMs), detail});
    }
    std::vector<std::size_t> widths(3, 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < widths.size(); ++i)
            widths[i] = std::max(widths[i], TextColumns(row[i]));
    }
    std::lock_guard<std::mutex> lock(Mutex);
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < widths.size(); ++i)
            line += PadColumns(row[i], widths[i] + 2);
        line += row[3];
        line.erase(line.find_last_not_of(' ') + 1);
        Terminal.PrintLine(line);
    }
    if (allSucceeded)
        return ExitSuccess;
    return cancelled || Interrupted ? ExitCancelled : ExitFailure;
}

}  // namespace

int RunMultiUpdate(const TUpdateOptions& Options, const TBuffer& Image, std::int32_t HighestAddress,
                   TCommandContext& Context) {
    TMultiRunner runner(Options, Image, HighestAddress, Context.Out);
    return runner.Run();
}

}  // namespace tarnwick::cli

#include "device_owner.h"

#include <algorithm>

#include "comport/main_thread_dispatcher.h"
#include "update_console.h"

namespace tarnwick::cli {

TCliOwner::TCliOwner(const TUpdateOptions& AOptions, const std::string& APort,
                     TUpdateConsole& AConsole, std::atomic<bool>& AInterrupt)
    : Options(AOptions),
      Port(APort),
      Console(AConsole),
      Interrupt(AInterrupt),
      Start(std::chrono::steady_clock::now()) {}

void TCliOwner::ReportMessage(const std::string& Text, bool ShowBox, bool ToInfo, bool ToLog) {
    if (ToLog)
        LastLog = Text;
    if (ShowBox || ToInfo || ToLog)
        PrintLine(Text);
}

void TCliOwner::FlashHint(bool Show, const std::string& Text, int) {
    if (Show && Text != LastHint)
        PrintLine(Text);
    LastHint = Show ? Text : std::string();
}

void TCliOwner::ShowNotice(const std::string& Text) {
    ProgressShown = false;
    Console.Notice(OneLine(Text));
}

bool TCliOwner::AskYesNo(const std::string& Text) {
    ProgressShown = false;
    return Console.Ask(OneLine(Text));
}

void TCliOwner::SetProgressMax(TProgressBar Bar, int Max) {
    Bars[Bar].Max = Max;
    DrawProgress(Bar);
}

void TCliOwner::SetProgressPosition(TProgressBar Bar, int Position) {
    Bars[Bar].Position = Position;
    DrawProgress(Bar);
}

// A Ctrl-C outside the stretches that can be cancelled waits for the next one, so that
// pressing it during the start-up waits still stops the connection.
void TCliOwner::TakeInterrupt() {
    if (Interrupt && CancelEnabled && Bootloader != nullptr) {
        Interrupt = false;
        Bootloader->CancelButtonClick();
    }
}

void TCliOwner::ProcessMessages() {
    TakeInterrupt();
    TMainThreadDispatcher::Instance().WaitAndRunPending(std::chrono::milliseconds(1));
}

void TCliOwner::ProcessMessagesFor(int MaxWaitMs) {
    // Hand-overs wake the wait at once; Ctrl-C only sets a flag, looked at every 10 ms.
    TakeInterrupt();
    TMainThreadDispatcher::Instance().WaitAndRunPending(
        std::chrono::milliseconds(std::clamp(MaxWaitMs, 1, 10)));
}

void TCliOwner::Finish() {
    Console.Progress({});
    ProgressShown = false;
}

void TCliOwner::PrintLine(const std::string& Text) {
    ProgressShown = false;
    Console.PrintLine(Text);
}

void TCliOwner::DrawProgress(TProgressBar Bar) {
    if (Bar == pbBuffer)
        return;
    const TBarState& s = Bars[Bar];
    if (s.Max <= 0 || s.Position <= 0)
        return;
    const int percent = static_cast<int>(std::min<long long>(100, 100LL * s.Position / s.Max));
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - Start)
            .count();
    // Redraw only when something visible changed; the passes move a bar per byte.
    if (Bar == LastBar && percent == LastPercent && seconds == LastSeconds && ProgressShown)
        return;
    LastBar = Bar;
    LastPercent = percent;
    LastSeconds = seconds;
    Console.Progress(ProgressText(Bar, percent, seconds));
    ProgressShown = true;
}

}  // namespace tarnwick::cli

// The terminal of tarnwick-cli update.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "bootloader/update_owner.h"
#include "update_run.h"

namespace tarnwick::cli {

// Messages go to standard output, one line each. Questions and notices go to the terminal,
// or are answered by --yes, or count as No without a terminal on standard input. Progress
// goes to standard error when that is a terminal, redrawn in place. Not thread-safe: with
// several devices the runner serialises the calls.
class TTerminalConsole : public TUpdateConsole {
  public:
    TTerminalConsole(std::ostream& Out, bool Yes);

    void PrintLine(const std::string& Text) override;
    bool Ask(const std::string& Text) override;
    void Notice(const std::string& Text) override;
    void Progress(const std::string& Line) override;
    // Several progress lines (one per device), replacing the ones shown.
    void ShowProgress(const std::vector<std::string>& Lines);
    void ClearProgress();

    // Whether a question was ended by Ctrl-C (the answer was No).
    bool QuestionInterrupted = false;

  private:
    std::string ReadAnswer();

    std::ostream& Out;
    const bool Yes;
    const bool InputIsTerminal;
    const bool ProgressIsTerminal;
    std::size_t ProgressLines = 0;  // shown on standard error now
};

// Columns a UTF-8 text takes on the terminal, one per character.
std::size_t TextColumns(const std::string& Text);
// Text followed by blanks up to Columns columns.
std::string PadColumns(std::string Text, std::size_t Columns);

// Questions and notices may hold line breaks; the tool prints them as one line.
std::string OneLine(const std::string& Text);

// One progress line: the bar's name, a bar of 30 characters, percent and the time since the
// start of the run.
std::string ProgressText(TProgressBar Bar, int Percent, long long Seconds);

}  // namespace tarnwick::cli

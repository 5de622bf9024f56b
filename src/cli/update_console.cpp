#include "update_console.h"

#include "cli_platform.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace tarnwick::cli {

namespace {

// Moves from the end of the progress lines shown back to the start of the first one and
// clears from there.
std::string ClearSequence(std::size_t Lines) {
    if (Lines <= 1)
        return "\r\033[K";
    return "\r\033[" + std::to_string(Lines - 1) + "A\033[J";
}

}  // namespace

TTerminalConsole::TTerminalConsole(std::ostream& AOut, bool AYes)
    : Out(AOut),
      Yes(AYes),
      InputIsTerminal(StandardInputIsTerminal()),
      ProgressIsTerminal(StandardErrorIsTerminal()) {}

void TTerminalConsole::PrintLine(const std::string& Text) {
    ClearProgress();
    Out << Text << '\n' << std::flush;
}

bool TTerminalConsole::Ask(const std::string& Text) {
    if (Yes) {
        PrintLine(Text + " j");
        return true;
    }
    if (!InputIsTerminal) {
        PrintLine(Text + " n");
        return false;
    }
    ClearProgress();
    Out << Text << " (j/N) " << std::flush;
    const std::string line = ReadAnswer();
    // Ctrl-C at a question interrupts the read: the answer is No, and the user cancelled.
    if (InterruptRequested) {
        InterruptRequested = false;
        QuestionInterrupted = true;
        return false;
    }
    return line == "j" || line == "J" || line == "ja" || line == "Ja" || line == "y";
}

void TTerminalConsole::Notice(const std::string& Text) {
    PrintLine(Text);
    if (Yes || !InputIsTerminal)
        return;
    Out << "Weiter mit Eingabetaste ... " << std::flush;
    ReadAnswer();
}

void TTerminalConsole::Progress(const std::string& Line) {
    if (Line.empty())
        ClearProgress();
    else
        ShowProgress({Line});
}

void TTerminalConsole::ShowProgress(const std::vector<std::string>& Lines) {
    if (!ProgressIsTerminal)
        return;
    std::string text = ClearSequence(std::max<std::size_t>(ProgressLines, 1));
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        if (i > 0)
            text += '\n';
        text += Lines[i];
    }
    std::cerr << text << std::flush;
    ProgressLines = Lines.size();
}

void TTerminalConsole::ClearProgress() {
    if (ProgressLines == 0)
        return;
    std::cerr << ClearSequence(ProgressLines) << std::flush;
    ProgressLines = 0;
}

// One line from the terminal. Input that ends without a line (Ctrl-D, or a Ctrl-C that
// interrupts the read) leaves the prompt's line open, so it is ended here: the next message
// gets a line of its own.
std::string TTerminalConsole::ReadAnswer() {
    std::string line;
    if (!std::getline(std::cin, line) || std::cin.eof())
        Out << '\n' << std::flush;
    std::cin.clear();
    return line;
}

std::size_t TextColumns(const std::string& Text) {
    return static_cast<std::size_t>(
        std::count_if(Text.begin(), Text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string PadColumns(std::string Text, std::size_t Columns) {
    const std::size_t used = TextColumns(Text);
    if (used < Columns)
        Text.append(Columns - used, ' ');
    return Text;
}

std::string ProgressText(TProgressBar Bar, int Percent, long long Seconds) {
    static const char* const names[] = {"Verbinden", "Programmieren", "Überprüfen", ""};
    const int width = 30;
    const int filled = Percent * width / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '-');
    char tail[16];
    std::snprintf(tail, sizeof tail, "%3d%%  ", Percent);
    // Padded by characters, not bytes: the umlauts of "Überprüfen" take two bytes each.
    return PadColumns(names[Bar], 14) + " [" + bar + "] " + tail +
           TBootloader::DurationText(Seconds * 1000);
}

std::string OneLine(const std::string& Text) {
    std::string out;
    bool gap = false;
    for (const char c : Text) {
        if (c == '\n' || c == '\r') {
            gap = true;
            continue;
        }
        if (gap && !out.empty())
            out += ' ';
        gap = false;
        out += c;
    }
    return out;
}

}  // namespace tarnwick::cli

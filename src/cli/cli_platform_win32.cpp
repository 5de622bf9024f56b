#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>

#include "cli_platform.h"
#include "comport/port_list.h"

namespace tarnwick::cli {

struct TInterruptGuard::TSaved {
    void (*Int)(int) = SIG_DFL;
    void (*Term)(int) = SIG_DFL;
};

TInterruptGuard::TInterruptGuard(void (*Handler)(int)) : Saved(std::make_unique<TSaved>()) {
    Saved->Int = std::signal(SIGINT, Handler);
    Saved->Term = std::signal(SIGTERM, Handler);
}

TInterruptGuard::~TInterruptGuard() {
    std::signal(SIGINT, Saved->Int);
    std::signal(SIGTERM, Saved->Term);
}

struct TSignalsToMainThread::TSaved {};

TSignalsToMainThread::TSignalsToMainThread() = default;
TSignalsToMainThread::~TSignalsToMainThread() = default;

bool ArgumentToCp1252(const std::string& Argument, std::string& Bytes) {
    Bytes = Argument;
    return true;
}

std::vector<std::string> ListPorts() {
    return ListSerialPorts();
}

namespace {

// Whether the console of standard error draws terminal sequences (set by TConsoleSetup).
bool ErrorConsoleTakesSequences = false;

// A stream buffer that writes the program's UTF-8 to a console as UTF-16, so that the
// console's code page (and the C runtime's conversion to it) plays no part.
class TConsoleBuf final : public std::streambuf {
  public:
    explicit TConsoleBuf(HANDLE AConsole) : Console(AConsole) {}
    ~TConsoleBuf() override { sync(); }

  protected:
    int_type overflow(int_type Ch) override {
        if (Ch != traits_type::eof()) {
            Pending += traits_type::to_char_type(Ch);
            if (Ch == '\n' || Pending.size() >= 4096)
                sync();
        }
        return traits_type::not_eof(Ch);
    }
    std::streamsize xsputn(const char* Text, std::streamsize Count) override {
        Pending.append(Text, static_cast<std::size_t>(Count));
        if (Pending.find('\n') != std::string::npos || Pending.size() >= 4096)
            sync();
        return Count;
    }
    int sync() override {
        // An incomplete UTF-8 sequence at the end waits for its remaining bytes.
        std::size_t complete = Pending.size();
        for (std::size_t back = 1; back <= 3 && back <= Pending.size(); ++back) {
            const auto byte = static_cast<unsigned char>(Pending[Pending.size() - back]);
            if ((byte & 0xC0) == 0x80)
                continue;  // a continuation byte: look further back
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            if (length > back)
                complete = Pending.size() - back;
            break;
        }
        if (complete == 0)
            return 0;
        const int size = static_cast<int>(complete);
        const int wide = MultiByteToWideChar(CP_UTF8, 0, Pending.data(), size, nullptr, 0);
        std::wstring text(static_cast<std::size_t>(wide), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, Pending.data(), size, text.data(), wide);
        DWORD written = 0;
        const BOOL ok =
            WriteConsoleW(Console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        Pending.erase(0, complete);
        return ok ? 0 : -1;
    }

  private:
    HANDLE Console;
    std::string Pending;
};

// Puts a console buffer under Stream when Handle is a console; the old buffer is kept.
struct TConsoleStream {
    std::ostream* Stream = nullptr;
    std::streambuf* Old = nullptr;
    std::unique_ptr<TConsoleBuf> Buf;

    void Attach(std::ostream& AStream, DWORD Which) {
        const HANDLE handle = GetStdHandle(Which);
        DWORD mode = 0;
        if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
            return;  // a file or a pipe: the bytes go as they are
        AStream.flush();
        Stream = &AStream;
        Buf = std::make_unique<TConsoleBuf>(handle);
        Old = AStream.rdbuf(Buf.get());
    }
    void Detach() {
        if (Stream == nullptr)
            return;
        Stream->flush();
        Stream->rdbuf(Old);
        Stream = nullptr;
    }
};

}  // namespace

struct TConsoleSetup::TSaved {
    HANDLE Error = INVALID_HANDLE_VALUE;
    DWORD ErrorMode = 0;
    bool ErrorModeSet = false;
    TConsoleStream Out, Err;
};

TConsoleSetup::TConsoleSetup() : Saved(std::make_unique<TSaved>()) {
    Saved->Out.Attach(std::cout, STD_OUTPUT_HANDLE);
    Saved->Err.Attach(std::cerr, STD_ERROR_HANDLE);
    Saved->Error = GetStdHandle(STD_ERROR_HANDLE);
    if (GetConsoleMode(Saved->Error, &Saved->ErrorMode)) {
        Saved->ErrorModeSet =
            SetConsoleMode(Saved->Error, Saved->ErrorMode | ENABLE_PROCESSED_OUTPUT |
                                             ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
        ErrorConsoleTakesSequences = Saved->ErrorModeSet;
    }
}

TConsoleSetup::~TConsoleSetup() {
    ErrorConsoleTakesSequences = false;
    Saved->Out.Detach();
    Saved->Err.Detach();
    if (Saved->ErrorModeSet)
        SetConsoleMode(Saved->Error, Saved->ErrorMode);
}

bool StandardInputIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

bool StandardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0 && ErrorConsoleTakesSequences;
}

}  // namespace tarnwick::cli

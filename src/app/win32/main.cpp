// tarnwick.exe: the firmware-update program with its single window, native on Windows.
// "tarnwick.exe FILE" opens FILE instead of the firmware file used last.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "comport/main_thread_dispatcher.h"
#include "wide_text.h"
#include "win32_window.h"
#include "window_behaviour.h"
#include "window_command_line.h"

namespace {

// --help and --version of a program without a console: to the standard output the
// caller gave (a pipe or a file), else to the console it was started from, else in a box.
void ShowCommandOutput(const std::string& Text) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE && !GetConsoleMode(out, &mode) &&
        WriteFile(out, Text.data(), static_cast<DWORD>(Text.size()), &written, nullptr)) {
        return;
    }
    std::wstring wide;
    for (const wchar_t c : tarnwick::Utf8ToWide(Text)) {
        if (c == L'\n')
            wide += L'\r';
        wide += c;
    }
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
        if (console != INVALID_HANDLE_VALUE) {
            WriteConsoleW(console, wide.c_str(), static_cast<DWORD>(wide.size()), &written,
                          nullptr);
            CloseHandle(console);
            return;
        }
    }
    MessageBoxW(nullptr, wide.c_str(), L"Tarnwick", MB_OK);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE Instance, HINSTANCE, PWSTR, int ShowCommand) {
    using namespace tarnwick;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> arguments;
    for (int i = 1; argv != nullptr && i < argc; ++i)
        arguments.push_back(WideToUtf8(argv[i]));
    LocalFree(argv);
    const TWindowCommand command = ParseWindowArguments(arguments);
    if (command.Action != TWindowCommand::Open) {
        ShowCommandOutput(command.Output);
        return 0;
    }
    TWin32MainWindow window(Instance);
    int result = 0;
    {
        TWindowBehaviour behaviour(window);
        behaviour.StartupFileName = command.FileName;
        window.SetBehaviour(&behaviour);
        behaviour.FormCreate();
        window.Show(ShowCommand);
        result = window.Run();
        window.SetBehaviour(nullptr);
    }
    // A port's event thread still waiting for a hand-over gets a failure, not silence.
    TMainThreadDispatcher::Instance().Shutdown();
    return result;
}

// tarnwick.exe: the firmware-update program with its single window, native on Windows.
// "tarnwick.exe FILE" opens FILE instead of the firmware file used last.
#include <windows.h>

#include <shellapi.h>

#include <filesystem>
#include <system_error>

#include "comport/main_thread_dispatcher.h"
#include "comport/port_list.h"
#include "wide_text.h"
#include "win32_window.h"
#include "window_behaviour.h"

int WINAPI wWinMain(HINSTANCE Instance, HINSTANCE, PWSTR, int ShowCommand) {
    using namespace tarnwick;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    TWin32MainWindow window(Instance);
    int result = 0;
    {
        TWindowBehaviour behaviour(window);
        behaviour.PortList = [] { return ListSerialPorts(); };
        if (argv != nullptr && argc > 1) {
            std::error_code error;
            const std::filesystem::path file = std::filesystem::absolute(argv[1], error);
            behaviour.StartupFileName = WideToUtf8(error ? std::wstring(argv[1]) : file.wstring());
        }
        window.SetBehaviour(&behaviour);
        behaviour.FormCreate();
        window.Show(ShowCommand);
        result = window.Run();
        window.SetBehaviour(nullptr);
    }
    LocalFree(argv);
    // A port's event thread still waiting for a hand-over gets a failure, not silence.
    TMainThreadDispatcher::Instance().Shutdown();
    return result;
}

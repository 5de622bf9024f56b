// Looks at Tarnwick's windows from outside, as the Wine window test needs it: every
// visible top-level window whose title begins with "Tarnwick" (the main window and its
// message boxes), then each one's child controls. One JSON object a line:
//   {"window":H,"title":T,"rect":[l,t,r,b],"topmost":B}
//   {"parent":H,"id":N,"class":C,"rect":[l,t,r,b],"visible":B,"enabled":B,"checked":B,
//    "text":T,"selection":T,"position":N}
// Rectangles are in screen coordinates (under Wine, X's root window), so a test can
// click a control where the window put it. Texts come by WM_GETTEXT; "selection" is a
// combo box's selected item, "position" a progress bar's. Run with no arguments; exit
// code 0.
//
// "endsession" plays a logoff to the main window instead: WM_QUERYENDSESSION, then
// WM_ENDSESSION with its answer, as Windows sends them; prints {"endsession":B} with
// the answer. "close" posts WM_CLOSE to the main window, as a close from the taskbar
// does while a box of the window is open. Exit code 1 when there is no main window.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& Wide) {
    if (Wide.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, Wide.data(), static_cast<int>(Wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Wide.data(), static_cast<int>(Wide.size()), text.data(), length,
                        nullptr, nullptr);
    return text;
}

std::string Json(const std::wstring& Wide) {
    std::string out = "\"";
    for (const char c : Utf8(Wide)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Another process's text: WM_GETTEXT with a time-out, so a busy window cannot hang us.
std::wstring TextOf(HWND Window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(Window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(Window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 2000, &copied);
    text.resize(copied);
    return text;
}

std::wstring ClassOf(HWND Window) {
    wchar_t name[256] = {};
    GetClassNameW(Window, name, 256);
    return name;
}

std::string RectOf(HWND Window) {
    RECT rect{};
    GetWindowRect(Window, &rect);
    char text[96];
    std::snprintf(text, sizeof text, "[%ld,%ld,%ld,%ld]", rect.left, rect.top, rect.right,
                  rect.bottom);
    return text;
}

const char* Bool(bool Value) {
    return Value ? "true" : "false";
}

BOOL CALLBACK PrintChild(HWND Child, LPARAM Parent) {
    const std::wstring className = ClassOf(Child);
    DWORD_PTR check = 0;
    DWORD_PTR position = 0;
    std::wstring selection;
    if (_wcsicmp(className.c_str(), L"Button") == 0) {
        SendMessageTimeoutW(Child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &check);
    } else if (_wcsicmp(className.c_str(), L"ComboBox") == 0) {
        DWORD_PTR index = 0;
        SendMessageTimeoutW(Child, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &index);
        if (static_cast<LRESULT>(index) != CB_ERR) {
            DWORD_PTR length = 0;
            SendMessageTimeoutW(Child, CB_GETLBTEXTLEN, index, 0, SMTO_ABORTIFHUNG, 2000, &length);
            std::wstring item(length + 1, L'\0');
            SendMessageTimeoutW(Child, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(item.data()),
                                SMTO_ABORTIFHUNG, 2000, &length);
            item.resize(length);
            selection = item;
        }
    }
    if (_wcsicmp(className.c_str(), PROGRESS_CLASSW) == 0)
        SendMessageTimeoutW(Child, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
    std::printf(
        "{\"parent\":%lld,\"id\":%d,\"class\":%s,\"rect\":%s,\"visible\":%s,"
        "\"enabled\":%s,\"checked\":%s,\"text\":%s,\"selection\":%s,"
        "\"position\":%lld}\n",
        static_cast<long long>(Parent), GetDlgCtrlID(Child), Json(className).c_str(),
        RectOf(Child).c_str(), Bool(IsWindowVisible(Child) != 0), Bool(IsWindowEnabled(Child) != 0),
        Bool(check == BST_CHECKED), Json(TextOf(Child)).c_str(), Json(selection).c_str(),
        static_cast<long long>(position));
    return TRUE;
}

BOOL CALLBACK CollectWindow(HWND Window, LPARAM Found) {
    if (IsWindowVisible(Window) && TextOf(Window).rfind(L"Tarnwick", 0) == 0)
        reinterpret_cast<std::vector<HWND>*>(Found)->push_back(Window);
    return TRUE;
}

}  // namespace

HWND MainWindow(const std::vector<HWND>& Windows) {
    for (const HWND window : Windows) {
        const std::wstring title = TextOf(window);
        if (wcsncmp(title.c_str(), L"Tarnwick v. ", 12) == 0)
            return window;
    }
    return nullptr;
}

int EndSession(const std::vector<HWND>& Windows) {
    if (const HWND window = MainWindow(Windows)) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                            30000, &answer);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_ENDSESSION, answer != 0 ? TRUE : FALSE, ENDSESSION_LOGOFF,
                            SMTO_ABORTIFHUNG, 30000, &ignored);
        std::printf("{\"endsession\":%s}\n", Bool(answer != 0));
        std::fflush(stdout);
        return 0;
    }
    return 1;
}

int main(int argc, char** argv) {
    std::vector<HWND> windows;
    EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&windows));
    if (argc > 1 && std::string(argv[1]) == "endsession")
        return EndSession(windows);
    if (argc > 1 && std::string(argv[1]) == "close") {
        const HWND window = MainWindow(windows);
        return window != nullptr && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    for (const HWND window : windows) {
        const auto handle = reinterpret_cast<LONG_PTR>(window);
        const bool topmost = (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        std::printf("{\"window\":%lld,\"title\":%s,\"rect\":%s,\"topmost\":%s}\n",
                    static_cast<long long>(handle), Json(TextOf(window)).c_str(),
                    RectOf(window).c_str(), Bool(topmost));
        EnumChildWindows(window, &PrintChild, handle);
    }
    std::fflush(stdout);
    return 0;
}

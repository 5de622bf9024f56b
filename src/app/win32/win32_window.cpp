#include "win32_window.h"

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <string_view>

#include "bootloader/line_rates.h"
#include "window_behaviour.h"

namespace tarnwick {

namespace {

const wchar_t* const ClassName = L"TarnwickMainWindow";
const wchar_t* const Caption = L"Tarnwick v. " TARNWICK_FULL_VERSION;
// Fixed size, no minimise or maximise box: a dialog-style form. Not WS_CLIPCHILDREN:
// group boxes draw no background of their own, the form's shows through them.
constexpr DWORD WindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD WindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

HFONT Tahoma(int PixelHeight, int Weight) {
    return CreateFontW(-PixelHeight, 0, 0, 0, Weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       VARIABLE_PITCH | FF_SWISS, L"Tahoma");
}

struct TWindowClass {
    const wchar_t* Name;
    DWORD Style;
    DWORD ExStyle;
};

TWindowClass ClassOf(TControlKind Kind) {
    using K = TControlKind;
    switch (Kind) {
        case K::GroupBox:
            return {L"BUTTON", BS_GROUPBOX, 0};
        case K::Label:
            return {L"STATIC", SS_LEFT | SS_NOPREFIX, 0};
        case K::HintLabel:
            return {L"STATIC", SS_LEFT | SS_NOPREFIX, 0};
        case K::Edit:
            return {L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
        case K::DropDownList:
            return {L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0};
        case K::EditableCombo:
            return {L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0};
        case K::Button:
            return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
        case K::CheckBox:
            return {L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0};
        case K::ProgressBar:
            return {PROGRESS_CLASSW, PBS_SMOOTH, 0};
        case K::InfoMemo:
            return {L"EDIT", WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                    WS_EX_CLIENTEDGE};
        case K::LogMemo:
            return {L"EDIT",
                    WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                    WS_EX_CLIENTEDGE};
        case K::ProgramView:
            break;
    }
    return {L"STATIC", 0, 0};
}

}  // namespace

SIZE TextSize(HWND Control, HFONT Font, const std::wstring& Text) {
    const HDC dc = GetDC(Control);
    const HGDIOBJ old = SelectObject(dc, Font);
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, Text.c_str(), static_cast<int>(Text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(Control, dc);
    return size;
}

void FitToText(HWND Label, HFONT Font) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(Label)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(Label, text.data(), static_cast<int>(text.size()))));
    const SIZE size = TextSize(Label, Font, text);
    SetWindowPos(Label, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

TWin32MainWindow::TWin32MainWindow(HINSTANCE AInstance) : Instance(AInstance) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    ControlFont = Tahoma(11, FW_NORMAL);  // Tahoma 8 pt at 96 dpi
    HintFont = Tahoma(19, FW_BOLD);
    FaceBrush = GetSysColorBrush(COLOR_BTNFACE);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = Instance;
    windowClass.hIcon = LoadIconW(Instance, MAKEINTRESOURCEW(1));
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = FaceBrush;
    windowClass.lpszClassName = ClassName;
    RegisterClassExW(&windowClass);

    RECT outer{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&outer, WindowStyle, FALSE, WindowExStyle);
    Window = CreateWindowExW(WindowExStyle, ClassName, Caption, WindowStyle, CW_USEDEFAULT,
                             CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top,
                             nullptr, nullptr, Instance, this);
    CreateControls();
    Pump = std::make_unique<TMessagePump>(Window);
}

TWin32MainWindow::~TWin32MainWindow() {
    Pump.reset();
    ProgramGrid.reset();
    if (Window != nullptr) {
        SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
        DestroyWindow(Window);
    }
    DeleteObject(ControlFont);
    DeleteObject(HintFont);
}

void TWin32MainWindow::SetBehaviour(TWindowBehaviour* ABehaviour) {
    Behaviour = ABehaviour;
}

void TWin32MainWindow::CreateControls() {
    for (int i = 0; i < ControlPlaceCount; ++i) {
        const TControlPlace& place = ControlPlaces[i];
        const RECT rect = ClientRectOf(place);
        HWND control = nullptr;
        if (place.Kind == TControlKind::ProgramView) {
            ProgramGrid = std::make_unique<TProgramView>(Window, place.Id, rect, Instance);
            control = ProgramGrid->Handle();
        } else {
            const TWindowClass windowClass = ClassOf(place.Kind);
            int height = place.Height;
            // A combo box's height includes its dropped-down list.
            if (place.Kind == TControlKind::DropDownList ||
                place.Kind == TControlKind::EditableCombo)
                height = 200;
            DWORD style = WS_CHILD | windowClass.Style;
            if (place.Kind != TControlKind::HintLabel)
                style |= WS_VISIBLE;
            control = CreateWindowExW(windowClass.ExStyle, windowClass.Name, place.Caption, style,
                                      rect.left, rect.top, place.Width, height, Window,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(place.Id)),
                                      Instance, nullptr);
        }
        SendMessageW(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(place.Kind == TControlKind::HintLabel ? HintFont
                                                                                    : ControlFont),
                     FALSE);
        if (place.Kind == TControlKind::Label)
            FitToText(control, ControlFont);
    }
    for (const std::string_view rate : LineRates) {
        const std::wstring text(rate.begin(), rate.end());
        SendMessageW(Item(idBaudComboBox), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    SendMessageW(Item(idProgramChkBox), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(Item(idVerifyChkBox), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(Item(idShowProgramChkBox), BM_SETCHECK, BST_CHECKED, 0);
    EnableWindow(Item(idStartBtn), FALSE);
    EnableWindow(Item(idCancelButton), FALSE);
    // The boxes' texts have no length limit of their own.
    SendMessageW(Item(idInfoMemo), EM_SETLIMITTEXT, 0, 0);
    SendMessageW(Item(idLogMemo), EM_SETLIMITTEXT, 0, 0);
}

void TWin32MainWindow::Show(int ShowCommand) {
    if (Behaviour != nullptr)
        Behaviour->FormShow();
    ShowWindow(Window, ShowCommand);
    UpdateWindow(Window);
}

void TWin32MainWindow::OnCommand(int Id, int Code) {
    if (Behaviour == nullptr || Quiet > 0)
        return;
    if (Id == idFilenameInEdit) {
        if (Code == EN_CHANGE)
            Behaviour->FilenameInEditChange();
        return;
    }
    if (Id == idTransferComboBox) {
        if (Code == CBN_SELCHANGE)
            Behaviour->TransferComboBoxChange();
        return;
    }
    if (Code != BN_CLICKED)
        return;
    switch (Id) {
        case idSelectInBtn:
            Behaviour->SelectInBtnClick();
            break;
        case idStartBtn:
            Behaviour->StartBtnClick();
            break;
        case idCancelButton:
            Behaviour->CancelButtonClick();
            break;
        case idProgramChkBox:
            Behaviour->ProgramChkBoxClick();
            break;
        case idVerifyChkBox:
            Behaviour->VerifyChkBoxClick();
            break;
        case idShowProgramChkBox:
            Behaviour->ShowProgramChkBoxClick();
            break;
        case idShowCompleteMemoryChkBox:
            Behaviour->ShowCompleteMemoryChkBoxClick();
            break;
        case idNoPowerCycleChkBox:
            Behaviour->NoPowerCycleChkBoxClick();
            break;
        default:
            break;
    }
}

LRESULT CALLBACK TWin32MainWindow::Procedure(HWND Window, UINT Message, WPARAM W, LPARAM L) {
    if (Message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(L);
        auto* self = static_cast<TWin32MainWindow*>(create->lpCreateParams);
        self->Window = Window;
        SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TWin32MainWindow*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(Window, Message, W, L);
    return self->HandleMessage(Message, W, L);
}

LRESULT TWin32MainWindow::HandleMessage(UINT Message, WPARAM W, LPARAM L) {
    switch (Message) {
        case WM_COMMAND:
            OnCommand(LOWORD(W), HIWORD(W));
            return 0;
        case WM_TIMER:
            if (Behaviour != nullptr && W == HintFlashTimerId)
                Behaviour->HintFlashTimerTimer();
            else if (Behaviour != nullptr && W == StartupTimerId)
                Behaviour->StartupTimerTimer();
            return 0;
        case WM_APP_DISPATCH:
            if (Pump != nullptr)
                Pump->OnDispatchMessage();
            return 0;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(L) == Item(idHintLabel)) {
                const HDC dc = reinterpret_cast<HDC>(W);
                SetTextColor(dc, RGB(255, 0, 0));
                SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
                return reinterpret_cast<LRESULT>(FaceBrush);
            }
            break;
        case WM_SETCURSOR:
            if (WaitCursor) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        case WM_ACTIVATE:
            if (LOWORD(W) == WA_INACTIVE) {
                SaveFocus();
            } else {
                RestoreFocus();
                return 0;
            }
            break;
        case WM_SETFOCUS:
            RestoreFocus();
            return 0;
        case WM_QUERYENDSESSION:
            // No logoff or shutdown in the middle of an update (the reason is registered
            // while it runs: SetSessionEndBlock).
            return Behaviour == nullptr || Behaviour->QueryEndSession() ? TRUE : FALSE;
        case WM_ENDSESSION:
            if (Behaviour != nullptr)
                Behaviour->EndSession(W != FALSE);
            return 0;
        case WM_CLOSE:
            if (Behaviour != nullptr) {
                if (!Behaviour->FormCloseQuery())
                    return 0;
                Behaviour->FormClose();
            }
            DestroyWindow(Window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY: {
            // The last message: the handle is still valid for DefWindowProcW.
            const HWND window = Window;
            Window = nullptr;
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            return DefWindowProcW(window, Message, W, L);
        }
        default:
            break;
    }
    return DefWindowProcW(Window, Message, W, L);
}

void TWin32MainWindow::SaveFocus() {
    const HWND focus = GetFocus();
    if (focus != nullptr && IsChild(Window, focus))
        FocusedControl = focus;
}

void TWin32MainWindow::RestoreFocus() {
    HWND target = FocusedControl;
    if (target == nullptr || !IsWindow(target) || !IsWindowEnabled(target) ||
        !IsWindowVisible(target)) {
        target = GetNextDlgTabItem(Window, nullptr, FALSE);
        // Reached as by the tab key: an edit's text selected, so typing replaces it.
        wchar_t className[8] = {};
        if (target != nullptr && GetClassNameW(target, className, 8) > 0 &&
            lstrcmpiW(className, L"Edit") == 0)
            SendMessageW(target, EM_SETSEL, 0, -1);
    }
    if (target != nullptr)
        SetFocus(target);
}

}  // namespace tarnwick

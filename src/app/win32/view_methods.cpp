// The window's side of TWindowView: each call changes one control and nothing else.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <string>
#include <utility>

#include "wide_text.h"
#include "win32_window.h"
#include "window_behaviour.h"

namespace tarnwick {

namespace {

TControlId IdOf(TControl Control) {
    switch (Control) {
        case TControl::PasswordEdit:
            return idPasswordEdit;
        case TControl::BaudComboBox:
            return idBaudComboBox;
        case TControl::ComComboBox:
            return idComComboBox;
        case TControl::SelectInBtn:
            return idSelectInBtn;
        case TControl::FilenameInEdit:
            return idFilenameInEdit;
        case TControl::StartBtn:
            return idStartBtn;
        case TControl::ProgramChkBox:
            return idProgramChkBox;
        case TControl::VerifyChkBox:
            return idVerifyChkBox;
        case TControl::ShowProgramChkBox:
            return idShowProgramChkBox;
        case TControl::ShowCompleteMemoryChkBox:
            return idShowCompleteMemoryChkBox;
        case TControl::CancelButton:
            return idCancelButton;
        case TControl::ConnectProgressBar:
            return idConnectProgressBar;
        case TControl::ProgramProgressBar:
            return idProgramProgressBar;
        case TControl::VerifyProgressBar:
            return idVerifyProgressBar;
        case TControl::BufferProgressBar:
            return idBufferProgressBar;
        case TControl::ShowProgramProgressBar:
            return idShowProgramProgressBar;
        case TControl::TransferComboBox:
            return idTransferComboBox;
        case TControl::NoPowerCycleChkBox:
            return idNoPowerCycleChkBox;
    }
    return idPasswordEdit;
}

std::wstring WindowText(HWND Window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(Window)) + 1, L'\0');
    const int length = GetWindowTextW(Window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(length, 0)));
    return text;
}

std::wstring ComboItem(HWND Box, int Index) {
    const LRESULT length = SendMessageW(Box, CB_GETLBTEXTLEN, static_cast<WPARAM>(Index), 0);
    if (length == CB_ERR)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(Box, CB_GETLBTEXT, static_cast<WPARAM>(Index),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// The system's line break in a text is "\r\n".
std::wstring BoxText(const std::string& Text) {
    std::wstring shown;
    for (const wchar_t c : Utf8ToWide(Text)) {
        if (c == L'\n')
            shown += L'\r';
        shown += c;
    }
    return shown;
}

UINT_PTR TimerId(TViewTimer Timer) {
    return Timer == TViewTimer::HintFlashTimer ? HintFlashTimerId : StartupTimerId;
}

bool IsDropDownList(TControl Control) {
    return Control == TControl::BaudComboBox || Control == TControl::TransferComboBox;
}

}  // namespace

HWND TWin32MainWindow::ControlWindow(TControl Control) const {
    return Item(IdOf(Control));
}

std::string TWin32MainWindow::Text(TControl Control) const {
    const HWND control = ControlWindow(Control);
    if (IsDropDownList(Control)) {
        const LRESULT index = SendMessageW(control, CB_GETCURSEL, 0, 0);
        return index == CB_ERR ? std::string()
                               : WideToUtf8(ComboItem(control, static_cast<int>(index)));
    }
    return WideToUtf8(WindowText(control));
}

void TWin32MainWindow::SetText(TControl Control, const std::string& Text) {
    const HWND control = ControlWindow(Control);
    const std::wstring text = Utf8ToWide(Text);
    if (WindowText(control) == text)
        return;
    ++Quiet;
    SetWindowTextW(control, text.c_str());
    --Quiet;
}

bool TWin32MainWindow::Checked(TControl Control) const {
    return SendMessageW(ControlWindow(Control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TWin32MainWindow::SetChecked(TControl Control, bool AChecked) {
    ++Quiet;
    SendMessageW(ControlWindow(Control), BM_SETCHECK, AChecked ? BST_CHECKED : BST_UNCHECKED, 0);
    --Quiet;
}

void TWin32MainWindow::SetEnabled(TControl Control, bool Enabled) {
    const HWND control = ControlWindow(Control);
    const bool hadFocus = GetFocus() == control;
    EnableWindow(control, Enabled ? TRUE : FALSE);
    // A disabled control keeps the focus, and typing would go nowhere: on to the next
    // control that takes it, as a dialog does.
    if (!Enabled && hadFocus) {
        const HWND next = GetNextDlgTabItem(Window, control, FALSE);
        SetFocus(next != nullptr && next != control ? next : Window);
    }
}

int TWin32MainWindow::ItemCount(TControl Control) const {
    const LRESULT count = SendMessageW(ControlWindow(Control), CB_GETCOUNT, 0, 0);
    return count == CB_ERR ? 0 : static_cast<int>(count);
}

std::string TWin32MainWindow::ItemText(TControl Control, int Index) const {
    return WideToUtf8(ComboItem(ControlWindow(Control), Index));
}

void TWin32MainWindow::SetItems(TControl Control, const std::vector<std::string>& Items) {
    const HWND box = ControlWindow(Control);
    const std::wstring editText = WindowText(box);
    ++Quiet;
    SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : Items) {
        const std::wstring text = Utf8ToWide(item);
        SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    if (!IsDropDownList(Control))
        SetWindowTextW(box, editText.c_str());
    --Quiet;
}

void TWin32MainWindow::SetItemIndex(TControl Control, int Index) {
    const HWND box = ControlWindow(Control);
    const std::wstring editText = WindowText(box);
    ++Quiet;
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(Index), 0);
    // No selection leaves an editable box's text as it was.
    if (Index < 0 && !IsDropDownList(Control))
        SetWindowTextW(box, editText.c_str());
    --Quiet;
}

void TWin32MainWindow::SetBar(TControl Bar, int Position, int Max) {
    const HWND bar = ControlWindow(Bar);
    SendMessageW(bar, PBM_SETRANGE32, 0, Max);
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(Position), 0);
}

void TWin32MainWindow::AppendLine(HWND Memo, const std::string& Line) {
    const int length = GetWindowTextLengthW(Memo);
    const std::wstring text = (length > 0 ? L"\r\n" : L"") + Utf8ToWide(Line);
    ++Quiet;
    SendMessageW(Memo, EM_SETSEL, static_cast<WPARAM>(length), length);
    SendMessageW(Memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    --Quiet;
}

void TWin32MainWindow::AppendLog(const std::string& Line) {
    const HWND memo = Item(idLogMemo);
    AppendLine(memo, Line);
    // The newest line in view: the caret is at the end.
    SendMessageW(memo, EM_SCROLLCARET, 0, 0);
}

void TWin32MainWindow::AppendInfo(const std::string& Line) {
    const HWND memo = Item(idInfoMemo);
    AppendLine(memo, Line);
    // The information box always shows its beginning.
    SendMessageW(memo, EM_SETSEL, 0, 0);
    SendMessageW(memo, EM_SCROLLCARET, 0, 0);
}

void TWin32MainWindow::ClearInfo() {
    ++Quiet;
    SetWindowTextW(Item(idInfoMemo), L"");
    --Quiet;
}

int TWin32MainWindow::SetHintText(const std::string& Text) {
    const HWND label = Item(idHintLabel);
    const std::wstring text = Utf8ToWide(Text);
    SetWindowTextW(label, text.c_str());
    // The label takes the size of its text.
    const SIZE size = TextSize(label, HintFont, text);
    SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(label, nullptr, TRUE);
    return size.cx;
}

int TWin32MainWindow::InfoGroupWidth() const {
    return PlaceOf(idInfoGroupBox).Width;
}

void TWin32MainWindow::SetHintLeft(int Left) {
    const TControlPlace& group = PlaceOf(idInfoGroupBox);
    const TControlPlace& place = PlaceOf(idHintLabel);
    SetWindowPos(Item(idHintLabel), nullptr, group.Left + Left, group.Top + place.Top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32MainWindow::SetHintVisible(bool Visible) {
    ShowWindow(Item(idHintLabel), Visible ? SW_SHOWNA : SW_HIDE);
}

int TWin32MainWindow::RunMessageBox(const std::string& Text, const wchar_t* Title, UINT Style) {
    return MessageBoxW(Window, BoxText(Text).c_str(), Title, Style);
}

void TWin32MainWindow::ShowBox(TBoxKind Kind, const std::string& Text) {
    if (Kind == TBoxKind::Hint)
        RunMessageBox(Text, L"Tarnwick - Hinweis", MB_OK | MB_ICONEXCLAMATION);
    else
        RunMessageBox(Text, L"Tarnwick", MB_OK);
}

bool TWin32MainWindow::AskYesNo(const std::string& Text) {
    return RunMessageBox(Text, L"Tarnwick", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool TWin32MainWindow::ChooseFile(const std::string& Current, std::string& Chosen) {
    std::wstring buffer = Utf8ToWide(Current);
    buffer.resize(std::max<std::size_t>(buffer.size() + 1, 32768), L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = Window;
    dialog.lpstrFilter = L"Intel-HEX Programmdatei\0*.hex\0";
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(buffer.size());
    dialog.lpstrDefExt = L"hex";
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    BOOL confirmed = GetOpenFileNameW(&dialog);
    // A preset the dialog cannot take makes it fail without opening: open it empty.
    if (!confirmed && CommDlgExtendedError() == FNERR_INVALIDFILENAME) {
        buffer.assign(buffer.size(), L'\0');
        confirmed = GetOpenFileNameW(&dialog);
    }
    if (!confirmed)
        return false;
    Chosen = WideToUtf8(std::wstring(buffer.c_str()));
    return true;
}

void TWin32MainWindow::CentreOnScreen() {
    RECT outer;
    GetWindowRect(Window, &outer);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    SetWindowPos(Window, nullptr, CentredOffset(GetSystemMetrics(SM_CXSCREEN), width),
                 CentredOffset(GetSystemMetrics(SM_CYSCREEN), height), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32MainWindow::SetClientHeight(int Height) {
    RECT outer{0, 0, ClientWidth, Height};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrW(Window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(Window, GWL_EXSTYLE)));
    SetWindowPos(Window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32MainWindow::SetProgramViewShown(bool Shown) {
    const int show = Shown ? SW_SHOWNA : SW_HIDE;
    for (const TControlId id : {idProgramGroupBox, idProgramGrid, idShowProgramProgressBar})
        ShowWindow(Item(id), show);
    SetClientHeight(Shown ? ClientHeight : ClientHeight - ProgramGroupHeight);
}

void TWin32MainWindow::SetStayOnTop(bool OnTop) {
    SetWindowPos(Window, OnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TWin32MainWindow::SetWaitCursor(bool Wait) {
    WaitCursor = Wait;
    SetCursor(LoadCursorW(nullptr, Wait ? IDC_WAIT : IDC_ARROW));
}

void TWin32MainWindow::RequestClose() {
    PostMessageW(Window, WM_CLOSE, 0, 0);
}

void TWin32MainWindow::SetSessionEndBlock(const std::string& Reason) {
    if (SessionEndBlocked) {
        ShutdownBlockReasonDestroy(Window);
        SessionEndBlocked = false;
    }
    if (!Reason.empty())
        SessionEndBlocked = ShutdownBlockReasonCreate(Window, Utf8ToWide(Reason).c_str()) != FALSE;
}

void TWin32MainWindow::SetProgramGridVisible(bool Visible) {
    ShowWindow(ProgramGrid->Handle(), Visible ? SW_SHOWNA : SW_HIDE);
}

void TWin32MainWindow::SetProgramRows(std::vector<TProgramRow> Rows) {
    ProgramGrid->SetRows(std::move(Rows));
}

void TWin32MainWindow::StartTimer(TViewTimer Timer, int IntervalMs) {
    SetTimer(Window, TimerId(Timer), static_cast<UINT>(std::max(IntervalMs, 1)), nullptr);
}

void TWin32MainWindow::StopTimer(TViewTimer Timer) {
    KillTimer(Window, TimerId(Timer));
}

void TWin32MainWindow::ProcessPendingMessages() {
    Pump->PumpOnce(0);
}

void TWin32MainWindow::WaitForMessages(int MaxWaitMs) {
    Pump->PumpOnce(static_cast<DWORD>(std::max(MaxWaitMs, 0)));
}

std::filesystem::path TWin32MainWindow::ProgramFolder() const {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return std::filesystem::path(path).parent_path();
}

}  // namespace tarnwick

#include "program_view.h"

#include <windowsx.h>
#include <algorithm>
#include <utility>

#include "text/cp1252.h"
#include "wide_text.h"

namespace tarnwick {

namespace {

const wchar_t* const ClassName = L"TarnwickProgramView";

// Address maroon, bytes navy, characters purple; the text keeps its colour when selected.
COLORREF ColumnColour(int Column) {
    if (Column == 0)
        return RGB(128, 0, 0);
    if (Column == 4)
        return RGB(128, 0, 128);
    return RGB(0, 0, 128);
}

int ColumnLeft(int Column) {
    int left = 0;
    for (int c = 0; c < Column; ++c)
        left += ProgramColumnWidths[c];
    return left;
}

void RegisterClassOnce(HINSTANCE Instance) {
    static const bool registered = [Instance] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = Instance;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = nullptr;  // the rows paint every pixel
        windowClass.lpszClassName = ClassName;
        return RegisterClassExW(&windowClass) != 0;
    }();
    static_cast<void>(registered);
}

}  // namespace

TProgramView::TProgramView(HWND Parent, int Id, const RECT& Place, HINSTANCE Instance) : Rows(1) {
    RegisterClassOnce(Instance);
    Window = CreateWindowExW(WS_EX_CLIENTEDGE, ClassName, L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL, Place.left, Place.top,
                             Place.right - Place.left, Place.bottom - Place.top, Parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), Instance, nullptr);
    SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(Window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure));
    // Lucida Console bold, 12 pixels high; a fixed-pitch face where it is missing.
    Font = CreateFontW(-12, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       FIXED_PITCH | FF_MODERN, L"Lucida Console");
    UpdateScrollBar();
}

TProgramView::~TProgramView() {
    if (Window != nullptr) {
        SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
        DestroyWindow(Window);
    }
    DeleteObject(Font);
}

void TProgramView::SetRows(std::vector<TProgramRow> ARows) {
    Rows = std::move(ARows);
    if (Rows.empty())
        Rows.resize(1);
    // The first row at the top, its cell in the column selected before.
    TopRow = 0;
    SelectedRow = 0;
    UpdateScrollBar();
    InvalidateRect(Window, nullptr, FALSE);
}

int TProgramView::VisibleRows() const {
    RECT client;
    GetClientRect(Window, &client);
    return std::max(1, static_cast<int>(client.bottom / ProgramRowHeight));
}

void TProgramView::UpdateScrollBar() {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = RowCount() - 1;
    info.nPage = static_cast<UINT>(VisibleRows());
    info.nPos = TopRow;
    SetScrollInfo(Window, SB_VERT, &info, TRUE);
}

void TProgramView::ScrollTo(int FirstRow) {
    const int top = std::clamp(FirstRow, 0, std::max(0, RowCount() - VisibleRows()));
    if (top == TopRow)
        return;
    TopRow = top;
    UpdateScrollBar();
    InvalidateRect(Window, nullptr, FALSE);
}

void TProgramView::Select(int Row, int Column) {
    SelectedRow = std::clamp(Row, 0, RowCount() - 1);
    SelectedColumn = std::clamp(Column, 0, 4);
    if (SelectedRow < TopRow)
        ScrollTo(SelectedRow);
    else if (SelectedRow >= TopRow + VisibleRows())
        ScrollTo(SelectedRow - VisibleRows() + 1);
    InvalidateRect(Window, nullptr, FALSE);
}

std::wstring TProgramView::CellText(int Row, int Column) const {
    const TProgramRow& row = Rows[static_cast<std::size_t>(Row)];
    switch (Column) {
        case 0:
            return Utf8ToWide(row.Address);
        case 1:
            return Utf8ToWide(row.Hex1);
        case 2:
            return Utf8ToWide(row.Dash);
        case 3:
            return Utf8ToWide(row.Hex2);
        default: {
            // One character per byte, unfiltered, as the code page of the device's world
            // gives it (UTF-16 holds every Windows-1252 character in one unit).
            std::wstring text;
            text.reserve(row.Bytes.size());
            for (const char byte : row.Bytes)
                text.push_back(
                    static_cast<wchar_t>(Cp1252ToUnicode(static_cast<std::uint8_t>(byte))));
            return text;
        }
    }
}

void TProgramView::Paint() {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(Window, &paint);
    RECT client;
    GetClientRect(Window, &client);
    const HGDIOBJ oldFont = SelectObject(dc, Font);
    const bool focused = GetFocus() == Window;
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    for (int y = 0, row = TopRow; y < client.bottom; y += ProgramRowHeight, ++row) {
        for (int column = 0; column < 5; ++column) {
            RECT cell{ColumnLeft(column), y, ColumnLeft(column) + ProgramColumnWidths[column],
                      y + ProgramRowHeight};
            if (column == 4)
                cell.right = std::max(cell.right, client.right);
            const bool selected = row == SelectedRow && column == SelectedColumn &&
                                  row < RowCount() && IsWindowEnabled(Window);
            COLORREF background = window;
            if (selected)
                background = GetSysColor(focused ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
            SetBkColor(dc, background);
            SetTextColor(dc, ColumnColour(column));
            const std::wstring text = row < RowCount() ? CellText(row, column) : std::wstring();
            ExtTextOutW(dc, cell.left + 2, cell.top + 2, ETO_CLIPPED | ETO_OPAQUE, &cell,
                        text.c_str(), static_cast<UINT>(text.size()), nullptr);
        }
    }
    SelectObject(dc, oldFont);
    EndPaint(Window, &paint);
}

LRESULT CALLBACK TProgramView::Procedure(HWND Window, UINT Message, WPARAM W, LPARAM L) {
    auto* view = reinterpret_cast<TProgramView*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (view == nullptr)
        return DefWindowProcW(Window, Message, W, L);
    return view->Handle(Message, W, L);
}

LRESULT TProgramView::Handle(UINT Message, WPARAM W, LPARAM L) {
    switch (Message) {
        case WM_PAINT:
            Paint();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_NCDESTROY: {
            // Gone with its parent: the destructor has nothing left to destroy.
            const HWND gone = Window;
            Window = nullptr;
            SetWindowLongPtrW(gone, GWLP_USERDATA, 0);
            return DefWindowProcW(gone, Message, W, L);
        }
        case WM_SIZE:
            UpdateScrollBar();
            ScrollTo(TopRow);
            return 0;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_ENABLE:
            InvalidateRect(Window, nullptr, FALSE);
            return 0;
        case WM_GETDLGCODE:
            return DLGC_WANTARROWS;
        case WM_LBUTTONDOWN: {
            SetFocus(Window);
            const int x = GET_X_LPARAM(L);
            int column = 4;
            for (int c = 0; c < 4; ++c) {
                if (x < ColumnLeft(c + 1)) {
                    column = c;
                    break;
                }
            }
            const int row = TopRow + GET_Y_LPARAM(L) / ProgramRowHeight;
            if (row < RowCount())
                Select(row, column);
            return 0;
        }
        case WM_VSCROLL: {
            SCROLLINFO info{};
            info.cbSize = sizeof info;
            info.fMask = SIF_TRACKPOS;
            GetScrollInfo(Window, SB_VERT, &info);
            switch (LOWORD(W)) {
                case SB_LINEUP:
                    ScrollTo(TopRow - 1);
                    break;
                case SB_LINEDOWN:
                    ScrollTo(TopRow + 1);
                    break;
                case SB_PAGEUP:
                    ScrollTo(TopRow - VisibleRows());
                    break;
                case SB_PAGEDOWN:
                    ScrollTo(TopRow + VisibleRows());
                    break;
                case SB_THUMBTRACK:
                case SB_THUMBPOSITION:
                    ScrollTo(info.nTrackPos);
                    break;
                case SB_TOP:
                    ScrollTo(0);
                    break;
                case SB_BOTTOM:
                    ScrollTo(RowCount());
                    break;
                default:
                    break;
            }
            return 0;
        }
        case WM_MOUSEWHEEL: {
            WheelRemainder += GET_WHEEL_DELTA_WPARAM(W);
            const int steps = WheelRemainder / WHEEL_DELTA;
            WheelRemainder -= steps * WHEEL_DELTA;
            ScrollTo(TopRow - 3 * steps);
            return 0;
        }
        case WM_KEYDOWN:
            switch (W) {
                case VK_UP:
                    Select(SelectedRow - 1, SelectedColumn);
                    return 0;
                case VK_DOWN:
                    Select(SelectedRow + 1, SelectedColumn);
                    return 0;
                case VK_LEFT:
                    Select(SelectedRow, SelectedColumn - 1);
                    return 0;
                case VK_RIGHT:
                    Select(SelectedRow, SelectedColumn + 1);
                    return 0;
                case VK_PRIOR:
                    Select(SelectedRow - VisibleRows(), SelectedColumn);
                    return 0;
                case VK_NEXT:
                    Select(SelectedRow + VisibleRows(), SelectedColumn);
                    return 0;
                case VK_HOME:
                    Select(0, SelectedColumn);
                    return 0;
                case VK_END:
                    Select(RowCount() - 1, SelectedColumn);
                    return 0;
                default:
                    break;
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(Window, Message, W, L);
}

}  // namespace tarnwick

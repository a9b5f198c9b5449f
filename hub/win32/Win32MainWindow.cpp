#include "hub/win32/Win32MainWindow.h"

#include <commctrl.h>

namespace tavro::win32 {
namespace {

// The main window's only timer.
constexpr UINT_PTR tickTimerId = 0;

// The device list's one column; its header is never shown.
constexpr int deviceColumnWidth = 320;
char deviceColumnText[] = "x";

// State images of a list view with check boxes: 1 unticked, 2 ticked.
constexpr UINT tickedImage = 2;

} // namespace

Win32MainWindow* Win32MainWindow::keyboardWindow_ = nullptr;

Win32MainWindow::~Win32MainWindow() {
    if (keyboardHook_ != nullptr) {
        UnhookWindowsHookEx(keyboardHook_);
    }
    if (keyboardWindow_ == this) {
        keyboardWindow_ = nullptr;
    }
}

void Win32MainWindow::Attach(HubEngine& engine, HubReporter& reporter,
                             platform::SerialPortMap& serialPortMap, platform::Notifier& notifier) {
    // The rows come from the set the power handling uses, so ticked devices can be restarted.
    devices_ = UsbDeviceList(engine.UsbDeviceSet());
    controller_.emplace(MainWindowServices{engine, reporter, *this, lampPainter_, devices_,
                                           serialPortMap, notifier});
}

// ---- MainWindow -------------------------------------------------------------------------------

void Win32MainWindow::Create() {
    if (window_ != nullptr || !controller_) {
        return;
    }
    // WM_INITDIALOG keeps the handle, so it is there before CreateDialogParamA returns.
    CreateDialogParamA(instance_, MAKEINTRESOURCEA(mainWindowDialog), owner_.Handle(), Procedure,
                       reinterpret_cast<LPARAM>(this));
    if (window_ != nullptr && keyboardHook_ == nullptr) {
        // The hub's message loop hands only the message window's keys to the dialog manager;
        // this filter, which the loop calls as a modal loop would, hands it the main
        // window's, so that Tab and Escape work there too.
        keyboardWindow_ = this;
        keyboardHook_ =
            SetWindowsHookExA(WH_MSGFILTER, KeyboardFilter, nullptr, GetCurrentThreadId());
    }
}

void Win32MainWindow::Destroy() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
}

void Win32MainWindow::PostBaudChanged() {
    if (window_ != nullptr) {
        PostMessageA(window_, mainWindowBaudChanged, 0, 0);
    }
}

// ---- The dialog procedure ---------------------------------------------------------------------

INT_PTR CALLBACK Win32MainWindow::Procedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr) {
        return FALSE; // WM_SETFONT and the like, before WM_INITDIALOG
    }
    return self->Handle(window, message, wParam, lParam);
}

INT_PTR Win32MainWindow::Handle(HWND window, UINT message, WPARAM wParam, LPARAM) {
    MainWindowController& controller = *controller_;
    switch (message) {
    case WM_INITDIALOG:
        window_ = window;
        controller.InitDialog();
        return TRUE;
    case WM_TIMER:
        if (wParam == tickTimerId) {
            controller.Tick();
        }
        return TRUE;
    case WM_COMMAND:
        controller.Command(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_PAINT: {
        // The controls paint themselves; the lamps are drawn on the timer.
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return TRUE;
    }
    case mainWindowBaudChanged:
        controller.BaudChanged();
        return TRUE;
    case WM_DESTROY:
        // The device list still exists here: its rows are read before the controls go.
        controller.Destroyed();
        window_ = nullptr;
        if (keyboardHook_ != nullptr) {
            UnhookWindowsHookEx(keyboardHook_);
            keyboardHook_ = nullptr;
        }
        return TRUE;
    default:
        return FALSE;
    }
}

LRESULT CALLBACK Win32MainWindow::KeyboardFilter(int code, WPARAM wParam, LPARAM lParam) {
    Win32MainWindow* self = keyboardWindow_;
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == MSGF_DIALOGBOX && self != nullptr && self->window_ != nullptr &&
        message != nullptr && IsDialogMessageA(self->window_, message)) {
        return TRUE; // handled: the message loop does not dispatch it again
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---- MainWindowView ---------------------------------------------------------------------------

LRESULT Win32MainWindow::Item(uint32_t id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendDlgItemMessageA(window_, static_cast<int>(id), message, wParam, lParam);
}

void Win32MainWindow::ClearList(uint32_t id) {
    Item(id, CB_RESETCONTENT, 0, 0);
}

void Win32MainWindow::AddListEntry(uint32_t id, const char* text) {
    Item(id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void Win32MainWindow::SelectListEntry(uint32_t id, int32_t index) {
    Item(id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int32_t Win32MainWindow::SelectedListEntry(uint32_t id) {
    return static_cast<int32_t>(Item(id, CB_GETCURSEL, 0, 0)); // CB_ERR (-1): none
}

void Win32MainWindow::EnableControl(uint32_t id, bool enabled) {
    EnableWindow(GetDlgItem(window_, static_cast<int>(id)), enabled ? TRUE : FALSE);
}

void Win32MainWindow::ShowControl(uint32_t id) {
    const HWND item = GetDlgItem(window_, static_cast<int>(id));
    RECT line;
    RECT frame;
    GetWindowRect(item, &line);
    GetWindowRect(window_, &frame);
    // Such a control lies at the window's lower edge and is 12 dialog units high: the window
    // grows by those and one more below, the gap the status line has above the control.
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left,
                 frame.bottom - frame.top + (line.bottom - line.top) * 13 / 12,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(item, SW_SHOWNA);
}

void Win32MainWindow::SetChecked(uint32_t id, bool checked) {
    CheckDlgButton(window_, static_cast<int>(id), checked ? BST_CHECKED : BST_UNCHECKED);
}

void Win32MainWindow::SetText(uint32_t id, const char* text) {
    SetDlgItemTextA(window_, static_cast<int>(id), text);
}

void Win32MainWindow::GetText(uint32_t id, char* text, uint32_t size) {
    if (size == 0) {
        return;
    }
    text[0] = '\0';
    GetDlgItemTextA(window_, static_cast<int>(id), text, static_cast<int>(size));
}

void Win32MainWindow::PrepareDeviceList() {
    Item(control::deviceList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
         LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    LVCOLUMNA column{};
    column.mask = LVCF_WIDTH | LVCF_TEXT;
    column.cx = deviceColumnWidth;
    column.pszText = deviceColumnText;
    Item(control::deviceList, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
}

void Win32MainWindow::InsertDeviceRow(const char* text, bool ticked) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = 0;
    item.pszText = const_cast<char*>(text); // only read by the insertion
    const LRESULT row =
        Item(control::deviceList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    if (row < 0 || !ticked) {
        return;
    }
    LVITEMA state{};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(tickedImage);
    Item(control::deviceList, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
         reinterpret_cast<LPARAM>(&state));
}

bool Win32MainWindow::DeviceRowTicked(uint32_t row) {
    const LRESULT state =
        Item(control::deviceList, LVM_GETITEMSTATE, row, static_cast<LPARAM>(LVIS_STATEIMAGEMASK));
    return (static_cast<UINT>(state) & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(tickedImage);
}

void Win32MainWindow::PostCommand(uint32_t id) {
    PostMessageA(window_, WM_COMMAND, MAKEWPARAM(id, notification::clicked), 0);
}

void Win32MainWindow::StartTimer(uint32_t periodMs) {
    SetTimer(window_, tickTimerId, periodMs, nullptr);
}

void Win32MainWindow::Close() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
}

void Win32MainWindow::EndHub() {
    PostQuitMessage(0);
}

} // namespace tavro::win32

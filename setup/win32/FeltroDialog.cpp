#include "setup/win32/FeltroDialog.h"

#include "setup/SetupTables.h"
#include "setup/win32/FeltroResource.h"
#include "setup/win32/GdiSignalGraph.h"

#include <stdio.h>

namespace tavro::win32 {
namespace {

using namespace setup;

constexpr UINT_PTR timerId = 1;

static_assert(sentenceSlots[0].control == IDC_GLL_LIST &&
              sentenceSlots[7].control == IDC_GST_LIST &&
              sentenceSlots[17].control == IDC_ZDA_LIST &&
              sentenceSlots[18].control == IDC_CHN_LIST);

int SlotOfControl(int control) {
    for (const size_t slot : listedSlots) {
        if (sentenceSlots[slot].control == control) {
            return static_cast<int>(slot);
        }
    }
    return -1;
}

void AddNumber(HWND list, unsigned long value) {
    char text[16];
    snprintf(text, sizeof text, "%lu", value);
    SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

} // namespace

INT_PTR FeltroDialog::Run(HINSTANCE instance) {
    const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_FELTRO), nullptr,
                                           Procedure, reinterpret_cast<LPARAM>(this));
    tool_.Finish();
    return result;
}

INT_PTR CALLBACK FeltroDialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        reinterpret_cast<FeltroDialog*>(lParam)->window_ = window;
    }
    auto* dialog = reinterpret_cast<FeltroDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    // Messages before WM_INITDIALOG (WM_SETFONT and the like) go to the default handling.
    return dialog != nullptr ? dialog->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR FeltroDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        FillLists();
        tool_.Start();
        SetTimer(window_, timerId, setupTickMs, nullptr);
        return TRUE;
    case WM_TIMER:
        if (wParam == timerId) {
            tool_.Tick();
        }
        return TRUE;
    case WM_COMMAND:
        Command(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (wParam != IDC_SIGNAL_GRAPH || item == nullptr) {
            return FALSE;
        }
        win32::DrawSignalGraph(item->hDC, item->rcItem, tool_.Block());
        return TRUE;
    }
    default:
        return FALSE;
    }
}

void FeltroDialog::FillLists() {
    HWND speeds = GetDlgItem(window_, IDC_SPEED_LIST);
    for (const uint32_t speed : lineSpeeds) {
        AddNumber(speeds, speed);
    }
    HWND rates = GetDlgItem(window_, IDC_FIX_RATE_LIST);
    for (size_t index = 0; index < fixRateCount; ++index) {
        char label[fixRateLabelCapacity];
        FixRateLabel(index, label);
        SendMessageA(rates, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
    }
    for (const size_t slot : listedSlots) {
        HWND list = GetDlgItem(window_, sentenceSlots[slot].control);
        for (int rate = 0; rate <= maxListedRate; ++rate) {
            AddNumber(list, static_cast<unsigned long>(rate));
        }
    }
}

void FeltroDialog::Command(int control, int notification) {
    if (notification == CBN_SELCHANGE) {
        const int index = Selection(control);
        if (control == IDC_SPEED_LIST) {
            tool_.SpeedChanged(index);
        } else if (control == IDC_FIX_RATE_LIST) {
            tool_.FixRateChanged(index);
        } else if (const int slot = SlotOfControl(control); slot >= 0) {
            tool_.SentenceRateChanged(static_cast<size_t>(slot), index);
        }
        return;
    }
    if (notification != BN_CLICKED) {
        return;
    }
    switch (control) {
    case IDC_SET_BAUD_RATE:
        tool_.SetBaudRate();
        break;
    case IDC_SET_UPDATE_RATE:
        tool_.SetUpdateRate();
        break;
    case IDC_SET_NMEA:
        tool_.SetNmea();
        break;
    case IDC_RESET_NMEA:
        tool_.ResetNmea();
        break;
    case IDCANCEL:
        KillTimer(window_, timerId);
        EndDialog(window_, IDCANCEL);
        break;
    default:
        break;
    }
}

int FeltroDialog::Selection(int control) const {
    const LRESULT index = SendDlgItemMessageA(window_, control, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void FeltroDialog::ShowFixStatus(const char* text) {
    SetDlgItemTextA(window_, IDC_FIX_STATUS, text);
}

void FeltroDialog::ShowLineLoad(const char* text) {
    SetDlgItemTextA(window_, IDC_LINE_LOAD, text);
}

void FeltroDialog::SelectSpeed(int index) {
    SendDlgItemMessageA(window_, IDC_SPEED_LIST, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void FeltroDialog::SelectFixRate(int index) {
    SendDlgItemMessageA(window_, IDC_FIX_RATE_LIST, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void FeltroDialog::SelectSentenceRate(size_t slot, int index) {
    if (SlotHasList(slot)) {
        SendDlgItemMessageA(window_, sentenceSlots[slot].control, CB_SETCURSEL,
                            static_cast<WPARAM>(index), 0);
    }
}

void FeltroDialog::DrawSignalGraph(const GpsSharedStatus& block) {
    HWND graph = GetDlgItem(window_, IDC_SIGNAL_GRAPH);
    RECT client;
    if (graph == nullptr || !GetClientRect(graph, &client)) {
        return;
    }
    HDC dc = GetDC(graph);
    if (dc != nullptr) {
        win32::DrawSignalGraph(dc, client, block);
        ReleaseDC(graph, dc);
    }
}

} // namespace tavro::win32

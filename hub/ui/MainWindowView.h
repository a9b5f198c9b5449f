// The main window (dialog 105) as its behaviour sees it: the controls by their IDs, and the
// few things only the window itself can do. Windows implements it on the dialog's controls;
// tests on a record in memory. The behaviour lives in MainWindowController.
#pragma once

#include <stdint.h>

namespace tavro {

// Control IDs of dialog 105.
namespace control {
inline constexpr uint32_t close = 2; // IDCANCEL: the close box and Escape
inline constexpr uint32_t enablePorts = 1000;
inline constexpr uint32_t inputPort = 1001;
inline constexpr uint32_t firstVirtualPort = 1002; // virtual port k + 1 is 1002 + k, to 1009
inline constexpr uint32_t lastVirtualPort = 1009;
inline constexpr uint32_t speed = 1019;
inline constexpr uint32_t statusLine = 1020;
inline constexpr uint32_t deviceList = 1022;
inline constexpr uint32_t findGps = 1023;
inline constexpr uint32_t logging = 1024;
inline constexpr uint32_t logPath = 1025;
inline constexpr uint32_t videoReset = 1026;
inline constexpr uint32_t autoTimeSync = 1027;
inline constexpr uint32_t nmeaFilter = 1028;
inline constexpr uint32_t batterySaver = 1029;
inline constexpr uint32_t readOnly = 1031;
inline constexpr uint32_t inputLamp = 1032;        // lamp i is 1032 + i
inline constexpr uint32_t firstVirtualLamp = 1033; // virtual port k + 1's lamp is 1033 + k
inline constexpr uint32_t droppedLine = 1041;      // hidden until the hub has dropped bytes
} // namespace control

// The notification code of a command (HIWORD of WM_COMMAND's wParam).
namespace notification {
inline constexpr uint32_t clicked = 0;   // BN_CLICKED; also a command the window posts itself
inline constexpr uint32_t selChange = 1; // CBN_SELCHANGE
} // namespace notification

// Message 1027 (WM_USER + 3): the engine made a requested speed the "Baud" setting.
inline constexpr uint32_t mainWindowBaudChanged = 1027;

// The main window's timer 0.
inline constexpr uint32_t mainWindowTickMs = 200;

class MainWindowView {
public:
    virtual ~MainWindowView() = default;

    // Drop-down lists (1001, 1002 … 1009, 1019): entries in the order added, index from 0.
    virtual void ClearList(uint32_t id) = 0;
    virtual void AddListEntry(uint32_t id, const char* text) = 0;
    // Selects entry `index`; -1 selects nothing.
    virtual void SelectListEntry(uint32_t id, int32_t index) = 0;
    // The selected entry, -1 when none is.
    virtual int32_t SelectedListEntry(uint32_t id) = 0;

    virtual void EnableControl(uint32_t id, bool enabled) = 0;
    // Shows a control the dialog keeps hidden at its lower edge, the window growing to hold
    // it.
    virtual void ShowControl(uint32_t id) = 0;
    // Check boxes.
    virtual void SetChecked(uint32_t id, bool checked) = 0;
    // Edit boxes: the whole text; GetText copies at most size - 1 characters, terminated.
    virtual void SetText(uint32_t id, const char* text) = 0;
    virtual void GetText(uint32_t id, char* text, uint32_t size) = 0;

    // The device list 1022: check boxes and full-row selection, one column 320 pixels wide.
    virtual void PrepareDeviceList() = 0;
    // A row inserted above all others, its box ticked or not.
    virtual void InsertDeviceRow(const char* text, bool ticked) = 0;
    // Whether the box of row `row` (from the top) is ticked.
    virtual bool DeviceRowTicked(uint32_t row) = 0;

    // Posts WM_COMMAND `id` (notification::clicked) to the window itself: it arrives after
    // the handler that posted it has returned.
    virtual void PostCommand(uint32_t id) = 0;
    // Timer 0, calling MainWindowController::Tick every `periodMs` milliseconds.
    virtual void StartTimer(uint32_t periodMs) = 0;
    // Destroys the window (its WM_DESTROY runs MainWindowController::Destroyed).
    virtual void Close() = 0;
    // Posts the quit message that ends the hub's message loop.
    virtual void EndHub() = 0;
};

} // namespace tavro

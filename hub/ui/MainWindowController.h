// The behaviour of the hub's main window (dialog 105), written against MainWindowView: the
// input port and its speed, the eight virtual port numbers, "Enable Ports", "Find GPS", the
// options, the log path, the USB devices to restart after standby, and every 200 ms the status
// line, the bytes the hub dropped (a line of their own, once there are any) and the nine
// activity lamps.
//
// The front end forwards the dialog's messages: WM_INITDIALOG to InitDialog, WM_TIMER (timer
// 0) to Tick, WM_COMMAND to Command, message 1027 to BaudChanged, WM_DESTROY to Destroyed.
// One controller serves every opening of the window during the hub's run (the lamps keep their
// angles across openings). Everything runs on the hub's user-interface thread.
#pragma once

#include "hub/engine/HubEngine.h"
#include "hub/engine/SearchProgress.h"
#include "hub/ui/ActivityLamps.h"
#include "hub/ui/DeviceList.h"
#include "hub/ui/HubReporter.h"
#include "hub/ui/MainWindowView.h"
#include "hub/ui/PortLists.h"
#include "hub/ui/StatusText.h"
#include "platform/Notifier.h"
#include "platform/SerialPortMap.h"

#include <stdint.h>

namespace tavro {

struct MainWindowServices {
    HubEngine& engine;
    // What the window shows of the input port, the drops and the network clients is what the
    // hub's report says (the reporter's DescribeHub), taken afresh at each tick.
    HubReporter& reporter;
    MainWindowView& view;
    LampPainter& lampPainter;
    DeviceListSource& devices;              // the USB devices offered in the device list
    platform::SerialPortMap& serialPortMap; // COM numbers the system has taken
    platform::Notifier& notifier;           // "Port in use…"
};

class MainWindowController {
public:
    explicit MainWindowController(const MainWindowServices& services);

    MainWindowController(const MainWindowController&) = delete;
    MainWindowController& operator=(const MainWindowController&) = delete;

    // WM_INITDIALOG. On a first run it starts a GPS search and, with the ports disabled,
    // posts "Enable Ports" to the window, so that the ports come up with the default number.
    void InitDialog();

    // WM_COMMAND of control `id` with its notification code.
    void Command(uint32_t id, uint32_t notification);

    // Timer 0, every 200 ms: search progress, a finished search's result, or the lists, the
    // lamps and the status line.
    void Tick();

    // Message 1027: "Baud" changed for a client; the lists show it.
    void BaudChanged();

    // WM_DESTROY: the ticked devices and every setting are saved.
    void Destroyed();

    const ActivityLamps& Lamps() const { return lamps_; }

private:
    void EnablePortsCommand();
    void InputPortCommand();
    void LoggingCommand();
    void LogPathCommand();
    void CloseCommand();
    void FinishLog();
    void ShowStatus(const HubReportBlock& report);
    void ShowDropped(const HubReportBlock& report);
    void ShowText(const char* text);

    HubContext& Hub() { return engine_.Context(); }

    HubEngine& engine_;
    HubReporter& reporter_;
    MainWindowView& view_;
    LampPainter& lampPainter_;
    DeviceListSource& devices_;
    platform::SerialPortMap& serialPortMap_;
    PortLists lists_;
    ActivityLamps lamps_;
    DeviceRows deviceRows_;
    // What the status line shows (the longest text is the search progress).
    char statusShown_[searchProgressSize] = {};
    // The drops the line under it shows (none: the line is hidden).
    DropCounts droppedShown_;
};

} // namespace tavro

// Tavro.exe: the hub as a Windows tray program. The process entry, with the engine on the
// Windows adapters; the hidden message window (dialog 107) runs the hub until it ends.
#include "hub/engine/HubEngine.h"
#include "hub/win32/Win32MessageLoop.h"
#include "hub/win32/Win32MessageWindow.h"
#include "platform/ControlDevice.h"
#include "platform/Notifier.h"
#include "platform/Registry.h"
#include "platform/SerialPort.h"
#include "platform/SerialPortMap.h"
#include "platform/SharedMemory.h"
#include "platform/Sound.h"
#include "platform/SystemClock.h"
#include "platform/Timing.h"
#include "platform/win32/Win32RunningHub.h"
#include "platform/win32/Win32Tray.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    using namespace tavro;

    platform::Win32Tray tray;
    win32::Win32MessageWindow window;
    // The main window (dialog 105) arrives with the user interface. Until then the hub runs in
    // the tray only: message 1025 and message 1027 reach this stand-in and do nothing, and
    // with no window to close the hub runs until the session ends.
    NoMainWindow mainWindow;

    HubEngine engine(HubServices{{platform::SystemSerialPorts(), platform::SystemControlDevice(),
                                  platform::SystemSharedMemory(), platform::RealSystemClock(),
                                  platform::SystemTiming()},
                                 platform::SystemRegistry(),
                                 platform::SystemSerialPortMap(),
                                 tray,
                                 platform::SystemSound(),
                                 platform::SystemNotifier(),
                                 window,
                                 mainWindow});

    // The single-instance test comes before the static start-up (inside HubMain): a second
    // start must not try the driver, whose one handle the running hub holds. Starting an
    // installed but stopped driver service when the device is missing arrives with driver
    // installation.
    platform::Win32RunningHub runningHub;
    win32::Win32MessageLoop loop(instance, window, tray);
    return HubMain(commandLine, engine, runningHub, loop);
}

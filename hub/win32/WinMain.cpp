// Tavro.exe: the hub as a Windows tray program. The process entry, with the engine on the
// Windows adapters; the hidden message window (dialog 107) runs the hub until it ends.
#include "hub/engine/FileTrackLog.h"
#include "hub/engine/HubEngine.h"
#include "hub/ui/HubReporter.h"
#include "hub/win32/Win32MainWindow.h"
#include "hub/win32/Win32MessageLoop.h"
#include "hub/win32/Win32MessageWindow.h"
#include "platform/ControlDevice.h"
#include "platform/DisplayPower.h"
#include "platform/FileSystem.h"
#include "platform/Network.h"
#include "platform/Notifier.h"
#include "platform/Registry.h"
#include "platform/SerialPort.h"
#include "platform/SerialPortMap.h"
#include "platform/ServiceControl.h"
#include "platform/SharedMemory.h"
#include "platform/Sound.h"
#include "platform/SystemClock.h"
#include "platform/Threads.h"
#include "platform/Timing.h"
#include "platform/UsbDevices.h"
#include "platform/win32/Win32RunningHub.h"
#include "platform/win32/Win32Tray.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    using namespace tavro;

    platform::Win32Tray tray;
    win32::Win32MessageWindow window;
    // The main window (dialog 105): closing it while the ports are disabled ends the hub.
    win32::Win32MainWindow mainWindow(instance, window);
    // The input port's dated log files, while "Logging" is on.
    FileTrackLog trackLog(platform::SystemFileSystem());
    // The driver image in this program file and its kernel service.
    const DriverSetup driverSetup{platform::SystemFileSystem(), platform::SystemServiceControl()};

    HubEngine engine(HubServices{{platform::SystemSerialPorts(), platform::SystemControlDevice(),
                                  platform::SystemSharedMemory(), platform::RealSystemClock(),
                                  platform::SystemTiming()},
                                 platform::SystemRegistry(),
                                 platform::SystemSerialPortMap(),
                                 tray,
                                 platform::SystemSound(),
                                 platform::SystemNotifier(),
                                 window,
                                 mainWindow,
                                 &trackLog,
                                 &platform::SystemThreads(),
                                 &driverSetup,
                                 &platform::SystemUsbDevices(),
                                 &platform::SystemDisplayPower(),
                                 platform::SystemNetwork(),
                                 &platform::SystemTimeService()});

    // The hub as its main window and its report to other programs (the dashboard) show it.
    HubReporter reporter(engine, platform::SystemSharedMemory(), GetCurrentProcessId(),
                         TAVRO_VERSION);
    mainWindow.Attach(engine, reporter, platform::SystemSerialPortMap(),
                      platform::SystemNotifier());

    // The single-instance test comes before the static start-up (inside HubMain): a second
    // start must not try the driver, whose one handle the running hub holds. The static
    // start-up starts a driver service left installed by an earlier run when the device is
    // missing, and never touches a device that exists but refuses the open. The present-USB
    // device set is made after the single-instance test too, and destroyed when the hub ends.
    platform::Win32RunningHub runningHub;
    win32::Win32MessageLoop loop(instance, window, tray, reporter);
    return HubMain(commandLine, engine, runningHub, loop);
}

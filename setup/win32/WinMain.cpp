// Feltro.exe: configures an MTK receiver through the running hub. One modal dialog; the
// program ends when it closes.
#include "hub/decode/StatusBlock.h"
#include "platform/SharedMemory.h"
#include "setup/win32/FeltroDialog.h"
#include "setup/win32/WindowHubLink.h"

#include <windows.h>

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace tavro;
    // The manifest asks for common controls 6 (the themed dialog): they must be loaded first.
    InitCommonControls();
    StatusBlock status(platform::SystemSharedMemory());
    win32::WindowHubLink hub;
    win32::FeltroDialog dialog(status, hub);
    return dialog.Run(instance) == -1 ? 1 : 0;
}

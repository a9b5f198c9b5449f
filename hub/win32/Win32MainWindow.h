// The hub's main window: dialog 105, modeless, owned by the message window. It is the engine's
// MainWindow (opened at start when the driver is missing, toggled by the tray icon and by a
// second start) and the view of the MainWindowController, which holds its behaviour. One
// object serves the whole run; the dialog comes and goes.
#pragma once

#include "hub/engine/HubEngine.h"
#include "hub/engine/MainWindow.h"
#include "hub/ui/DeviceList.h"
#include "hub/ui/MainWindowController.h"
#include "hub/ui/MainWindowView.h"
#include "hub/win32/GdiplusLamps.h"
#include "hub/win32/Win32MessageWindow.h"

#include <optional>
#include <windows.h>

namespace tavro::win32 {

inline constexpr int mainWindowDialog = 105;

class Win32MainWindow final : public MainWindow, public MainWindowView {
public:
    Win32MainWindow(HINSTANCE instance, Win32MessageWindow& owner)
        : instance_(instance), owner_(owner) {}
    ~Win32MainWindow() override;

    // The engine and the system services the window's behaviour uses; before the first Create.
    void Attach(HubEngine& engine, HubReporter& reporter, platform::SerialPortMap& serialPortMap,
                platform::Notifier& notifier);

    // ---- MainWindow ----
    bool Exists() const override { return window_ != nullptr; }
    void Create() override;
    void Destroy() override;
    void PostBaudChanged() override;

    // ---- MainWindowView ----
    void ClearList(uint32_t id) override;
    void AddListEntry(uint32_t id, const char* text) override;
    void SelectListEntry(uint32_t id, int32_t index) override;
    int32_t SelectedListEntry(uint32_t id) override;
    void EnableControl(uint32_t id, bool enabled) override;
    void ShowControl(uint32_t id) override;
    void SetChecked(uint32_t id, bool checked) override;
    void SetText(uint32_t id, const char* text) override;
    void GetText(uint32_t id, char* text, uint32_t size) override;
    void PrepareDeviceList() override;
    void InsertDeviceRow(const char* text, bool ticked) override;
    bool DeviceRowTicked(uint32_t row) override;
    void PostCommand(uint32_t id) override;
    void StartTimer(uint32_t periodMs) override;
    void Close() override;
    void EndHub() override;

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK KeyboardFilter(int code, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(HWND window, UINT message, WPARAM wParam, LPARAM);
    LRESULT Item(uint32_t id, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    Win32MessageWindow& owner_;
    HWND window_ = nullptr; // the dialog while it exists
    HHOOK keyboardHook_ = nullptr;
    GdiplusLampPainter lampPainter_{window_};
    UsbDeviceList devices_{nullptr};
    std::optional<MainWindowController> controller_;

    // The window whose keys the message filter hands to the dialog manager.
    static Win32MainWindow* keyboardWindow_;
};

} // namespace tavro::win32

// Dialog 101: the setup tool's window. It fills the lists, turns control notifications into
// the tool's operations and shows what the tool tells it.
#pragma once

#include "setup/SetupTool.h"
#include "setup/SetupView.h"

#include <windows.h>

namespace tavro::win32 {

class FeltroDialog final : public setup::SetupView {
public:
    FeltroDialog(StatusBlock& status, setup::HubLink& hub) : tool_(status, hub, *this) {}

    // Runs the dialog until it is closed; the tool detaches from the block afterwards.
    INT_PTR Run(HINSTANCE instance);

    void ShowFixStatus(const char* text) override;
    void ShowLineLoad(const char* text) override;
    void SelectSpeed(int index) override;
    void SelectFixRate(int index) override;
    void SelectSentenceRate(size_t slot, int index) override;
    void DrawSignalGraph(const GpsSharedStatus& block) override;

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void FillLists();
    void Command(int control, int notification);
    int Selection(int control) const;

    setup::SetupTool tool_;
    HWND window_ = nullptr;
};

} // namespace tavro::win32

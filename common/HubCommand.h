// Request codes other programs send to the hub's message window "TavroMsgWnd".
#pragma once

#include <stdint.h>

namespace tavro {

inline constexpr char hubWindowTitle[] = "TavroMsgWnd";

enum class HubCommand : uint32_t {
    ReleaseRelay = 0,
    HoldRelay = 1,
    InjectFrame = 2,
    WriteToReceiver = 3,
    ChangeBaud = 4,
    // The hub fills the requester's report mapping (common/HubReportBlock.h).
    ReportStatus = 5,
};

// The largest WriteToReceiver payload the hub takes. Receiver commands are sentences of a few
// dozen bytes; a larger payload would hold the line (at 4800 baud, for seconds) and is refused
// whole.
inline constexpr uint32_t writeToReceiverMax = 4096;

// WM_USER + 1: the tray icon's callback, also sent by a second start of the hub.
inline constexpr uint32_t toggleMainWindowMessage = 1025;
// WM_USER + 3: posted to the main window when a requested speed became the "Baud" setting.
inline constexpr uint32_t baudChangedMessage = 1027;

} // namespace tavro

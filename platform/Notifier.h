// Messages to the user about problems that need a person: driver and installation failures,
// port-number conflicts. Windows: a modal message box with the caption "Tavro", an OK button
// and no owner window; the call returns when the user has closed it.
#pragma once

namespace tavro::platform {

inline constexpr char notifierCaption[] = "Tavro";

class Notifier {
public:
    virtual ~Notifier() = default;

    // Shows `text` (8-bit, may contain line breaks) and waits for the user to dismiss it.
    virtual void ShowMessage(const char* text) = 0;
};

// The adapter of the edition this program was built for (POSIX: one line on standard error,
// "Tavro: " and the text).
Notifier& SystemNotifier();

} // namespace tavro::platform

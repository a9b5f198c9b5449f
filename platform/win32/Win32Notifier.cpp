// Message boxes with the caption "Tavro", an OK button and no owner window.
#include "platform/Notifier.h"

#include <windows.h>

namespace tavro::platform {
namespace {

class Win32Notifier final : public Notifier {
public:
    void ShowMessage(const char* text) override {
        MessageBoxA(nullptr, text != nullptr ? text : "", notifierCaption, MB_OK);
    }
};

} // namespace

Notifier& SystemNotifier() {
    static Win32Notifier notifier;
    return notifier;
}

} // namespace tavro::platform

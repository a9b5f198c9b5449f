// Messages for the user go to standard error, one line each: "Tavro: " and the text with its
// line breaks turned into blanks, so a log keeps one message per line.
#include "platform/Notifier.h"

#include <stdio.h>

namespace tavro::platform {
namespace {

class PosixNotifier final : public Notifier {
public:
    void ShowMessage(const char* text) override {
        fputs(notifierCaption, stderr);
        fputs(": ", stderr);
        for (const char* c = text != nullptr ? text : ""; *c != 0; ++c) {
            fputc(*c == '\r' || *c == '\n' ? ' ' : *c, stderr);
        }
        fputc('\n', stderr);
        fflush(stderr);
    }
};

} // namespace

Notifier& SystemNotifier() {
    static PosixNotifier notifier;
    return notifier;
}

} // namespace tavro::platform

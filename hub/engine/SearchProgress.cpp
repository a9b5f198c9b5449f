#include "hub/engine/SearchProgress.h"

#include "common/SpeedTable.h"

#include <stdio.h>
#include <string.h>

namespace tavro {
namespace {

// Entries stop once the text is this long.
constexpr size_t fullLength = 98;
constexpr size_t maxLength = searchProgressSize - 1;

} // namespace

void FormatSearchProgress(const SearchValues& values, char (&text)[searchProgressSize]) {
    size_t length = 0;
    text[0] = '\0';
    const uint32_t foundPort = values.FoundPort();
    for (uint32_t n = 1; n < SearchValues::comSlots && length < fullLength; ++n) {
        const uint32_t state = values.portScanState[n].load();
        if (state == 0) {
            continue;
        }
        char entry[32];
        const unsigned port = static_cast<unsigned>(n);
        if (state == 1 || state - 2 >= speedTableCount) {
            snprintf(entry, sizeof entry, "%u ?, ", port);
        } else {
            const unsigned speed = static_cast<unsigned>(speedTable[state - 2]);
            snprintf(entry, sizeof entry, n == foundPort ? "[%u %u], " : "%u %u, ", port, speed);
        }
        size_t entryLength = strlen(entry);
        if (entryLength > maxLength - length) {
            entryLength = maxLength - length;
        }
        memcpy(text + length, entry, entryLength);
        length += entryLength;
        text[length] = '\0';
    }
}

} // namespace tavro

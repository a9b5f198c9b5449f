#include "hub/engine/SearchProgress.h"

#include "common/SpeedTable.h"
#include "platform/TextBuilder.h"

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
        // Built without printf, whose code would outweigh much of the Windows hub.
        char entry[32];
        platform::TextBuilder built(entry, sizeof entry);
        if (state == 1 || state - 2 >= speedTableCount) {
            built.AppendUnsigned(n).Append(" ?, ");
        } else {
            const bool found = n == foundPort;
            built.Append(found ? "[" : "").AppendUnsigned(n).Append(" ");
            built.AppendUnsigned(speedTable[state - 2]).Append(found ? "], " : ", ");
        }
        size_t entryLength = built.Length();
        if (entryLength > maxLength - length) {
            entryLength = maxLength - length;
        }
        memcpy(text + length, entry, entryLength);
        length += entryLength;
        text[length] = '\0';
    }
}

} // namespace tavro

// The MTK command sentences the setup tool sends, and their way to the receiver through the
// hub (WriteToReceiver, then ChangeBaud after a speed change).
#pragma once

#include "setup/HubLink.h"
#include "setup/SetupTables.h"

#include <stddef.h>
#include <stdint.h>

namespace tavro::setup {

enum class ReceiverCommandKind {
    Speed,                // "$PMTK251,<speed>"
    FixRate,              // "$PMTK300,<interval ms>,0,0,0,0"
    QueryFixRate,         // "$PMTK400", answered by $PMTK500
    QuerySentenceRates,   // "$PMTK414", answered by $PMTK514
    SetSentenceRates,     // "$PMTK314" and the 19 rates
    DefaultSentenceRates, // "$PMTK314,-1"
};

// "$PMTK314" with 19 values of up to three digits, the checksum, CR LF and the NUL fit well.
inline constexpr size_t receiverSentenceCapacity = 128;

struct ReceiverSentence {
    char text[receiverSentenceCapacity] = {};
    // Bytes handed to the hub: the sentence through its CR LF and the terminating NUL, which
    // the receiver ignores after the line end.
    uint32_t length = 0;
};

// XOR of every character after the leading "$".
uint8_t SentenceChecksum(const char* text);

// The complete sentence "<text>*<XX>\r\n" for `kind`. `value` is the speed or the interval;
// `rates` are the slots' rates for SetSentenceRates (the reserved slots 8-16 always go as 0).
// False when the kind is unknown.
bool BuildReceiverSentence(ReceiverCommandKind kind, uint32_t value, const SentenceRates& rates,
                           ReceiverSentence& sentence);

// Finds the hub, sends the sentence as WriteToReceiver and, for Speed, the new speed as
// ChangeBaud so that the hub follows the receiver to it. error::fileNotFound when no hub runs
// (nothing is sent), else the first failure of the link or error::success.
uint32_t SendReceiverCommand(HubLink& hub, ReceiverCommandKind kind, uint32_t value,
                             const SentenceRates& rates);

} // namespace tavro::setup

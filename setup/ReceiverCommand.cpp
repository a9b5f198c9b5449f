#include "setup/ReceiverCommand.h"

#include "platform/ErrorCodes.h"

#include <stdio.h>

namespace tavro::setup {
namespace {

// Appends with snprintf's rules; false once the text no longer fits.
template <typename... Values>
bool Append(char (&text)[receiverSentenceCapacity], size_t& used, const char* format,
            Values... values) {
    const int written = snprintf(text + used, sizeof text - used, format, values...);
    if (written < 0 || static_cast<size_t>(written) >= sizeof text - used) {
        return false;
    }
    used += static_cast<size_t>(written);
    return true;
}

bool BuildText(ReceiverCommandKind kind, uint32_t value, const SentenceRates& rates,
               char (&text)[receiverSentenceCapacity], size_t& used) {
    switch (kind) {
    case ReceiverCommandKind::Speed:
        return Append(text, used, "$PMTK251,%lu", static_cast<unsigned long>(value));
    case ReceiverCommandKind::FixRate:
        return Append(text, used, "$PMTK300,%lu,0,0,0,0", static_cast<unsigned long>(value));
    case ReceiverCommandKind::QueryFixRate:
        return Append(text, used, "$PMTK400");
    case ReceiverCommandKind::QuerySentenceRates:
        return Append(text, used, "$PMTK414");
    case ReceiverCommandKind::SetSentenceRates:
        if (!Append(text, used, "$PMTK314")) {
            return false;
        }
        for (size_t slot = 0; slot < sentenceSlotCount; ++slot) {
            const unsigned rate = SlotHasList(slot) ? rates[slot] : 0;
            if (!Append(text, used, ",%u", rate)) {
                return false;
            }
        }
        return true;
    case ReceiverCommandKind::DefaultSentenceRates:
        return Append(text, used, "$PMTK314,-1");
    }
    return false;
}

} // namespace

uint8_t SentenceChecksum(const char* text) {
    uint8_t sum = 0;
    if (text == nullptr || text[0] == '\0') {
        return sum;
    }
    for (const char* c = text + 1; *c != '\0'; ++c) {
        sum ^= static_cast<uint8_t>(*c);
    }
    return sum;
}

bool BuildReceiverSentence(ReceiverCommandKind kind, uint32_t value, const SentenceRates& rates,
                           ReceiverSentence& sentence) {
    sentence = ReceiverSentence{};
    size_t used = 0;
    if (!BuildText(kind, value, rates, sentence.text, used)) {
        sentence = ReceiverSentence{};
        return false;
    }
    const unsigned checksum = SentenceChecksum(sentence.text);
    if (!Append(sentence.text, used, "*%02X\r\n", checksum)) {
        sentence = ReceiverSentence{};
        return false;
    }
    sentence.length = static_cast<uint32_t>(used + 1);
    return true;
}

uint32_t SendReceiverCommand(HubLink& hub, ReceiverCommandKind kind, uint32_t value,
                             const SentenceRates& rates) {
    ReceiverSentence sentence;
    if (!BuildReceiverSentence(kind, value, rates, sentence)) {
        return error::invalidParameter;
    }
    const uint32_t found = hub.FindHub();
    if (found != error::success) {
        return found;
    }
    uint32_t result = hub.Send(HubCommand::WriteToReceiver, sentence.text, sentence.length);
    if (kind == ReceiverCommandKind::Speed) {
        // Sent whatever the first answer was: a sentence whose answer timed out may well have
        // switched the receiver, and a hub that does not follow it loses the receiver.
        const uint8_t speed[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                  static_cast<uint8_t>(value >> 16),
                                  static_cast<uint8_t>(value >> 24)};
        const uint32_t baud = hub.Send(HubCommand::ChangeBaud, speed, sizeof speed);
        if (result == error::success) {
            result = baud;
        }
    }
    return result;
}

} // namespace tavro::setup

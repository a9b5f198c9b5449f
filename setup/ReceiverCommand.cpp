#include "setup/ReceiverCommand.h"

#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

namespace tavro::setup {
namespace {

// Two upper-case hexadecimal digits, as "%02X" writes a byte.
void AppendHexByte(platform::TextBuilder& text, uint8_t value) {
    static constexpr char digits[] = "0123456789ABCDEF";
    const char pair[2] = {digits[value >> 4], digits[value & 0x0F]};
    text.Append(pair, 2);
}

void BuildText(ReceiverCommandKind kind, uint32_t value, const SentenceRates& rates,
               platform::TextBuilder& text) {
    switch (kind) {
    case ReceiverCommandKind::Speed:
        text.Append("$PMTK251,").AppendUnsigned(value);
        return;
    case ReceiverCommandKind::FixRate:
        text.Append("$PMTK300,").AppendUnsigned(value).Append(",0,0,0,0");
        return;
    case ReceiverCommandKind::QueryFixRate:
        text.Append("$PMTK400");
        return;
    case ReceiverCommandKind::QuerySentenceRates:
        text.Append("$PMTK414");
        return;
    case ReceiverCommandKind::SetSentenceRates:
        text.Append("$PMTK314");
        for (size_t slot = 0; slot < sentenceSlotCount; ++slot) {
            text.Append(",").AppendUnsigned(SlotHasList(slot) ? rates[slot] : 0);
        }
        return;
    case ReceiverCommandKind::DefaultSentenceRates:
        text.Append("$PMTK314,-1");
        return;
    }
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
    platform::TextBuilder text(sentence.text, sizeof sentence.text);
    BuildText(kind, value, rates, text);
    if (text.Length() == 0) {
        sentence = ReceiverSentence{};
        return false;
    }
    const uint8_t checksum = SentenceChecksum(text.Text());
    text.Append("*");
    AppendHexByte(text, checksum);
    text.Append("\r\n");
    if (!text.Fits()) {
        sentence = ReceiverSentence{};
        return false;
    }
    sentence.length = static_cast<uint32_t>(text.Length() + 1);
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

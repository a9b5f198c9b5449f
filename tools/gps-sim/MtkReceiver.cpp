#include "tools/gps-sim/MtkReceiver.h"

#include "tools/gps-sim/NmeaSentence.h"

#include <charconv>

namespace tavro::gpssim {
namespace {

constexpr uint32_t supportedBauds[] = {4800, 9600, 14400, 19200, 38400, 57600, 115200};

// A whole field of decimal digits with an optional minus sign; nothing else.
bool ParseInteger(std::string_view field, long& value) {
    if (field.empty()) {
        return false;
    }
    const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
    return result.ec == std::errc() && result.ptr == field.data() + field.size();
}

// "$PMTK001,<command>,<flag>", the command as a plain number (000 acknowledges as 0). Flags:
// 1 unsupported, 2 valid but refused, 3 done.
std::string Ack(long command, int flag) {
    return FrameSentence(Format("PMTK001,%ld,%d", command, flag));
}

} // namespace

MtkReceiver::MtkReceiver(uint32_t startBaud, uint32_t fixIntervalMs, const SentenceRates& defaults)
    : startBaud_(startBaud), fixIntervalMs_(fixIntervalMs), defaults_(defaults), rates_(defaults) {}

bool MtkReceiver::IsSupportedBaud(uint32_t baud) {
    for (const uint32_t supported : supportedBauds) {
        if (supported == baud) {
            return true;
        }
    }
    return false;
}

void MtkReceiver::Feed(std::string_view bytes, std::vector<MtkReply>& replies) {
    for (const char c : bytes) {
        if (c == '$') {
            // A new sentence starts; whatever came before it was noise or a cut sentence.
            line_.assign(1, c);
            discarding_ = false;
            continue;
        }
        if (c == '\n' || c == '\r') {
            if (!discarding_ && !line_.empty()) {
                MtkReply reply;
                if (Handle(line_, reply)) {
                    replies.push_back(std::move(reply));
                }
            }
            line_.clear();
            discarding_ = false;
            continue;
        }
        if (discarding_ || line_.empty()) {
            continue;
        }
        if (line_.size() >= maxLine) {
            line_.clear();
            discarding_ = true;
            continue;
        }
        line_ += c;
    }
}

bool MtkReceiver::Handle(std::string_view line, MtkReply& reply) {
    std::string_view body;
    if (!VerifySentence(line, body) || body.size() < 7 || body.substr(0, 4) != "PMTK") {
        return false;
    }
    const std::vector<std::string_view> fields = SplitFields(body);
    const std::string_view command = fields[0].substr(4);
    long number = 0;
    if (command.size() != 3 || !ParseInteger(command, number) || number < 0) {
        return false;
    }
    reply.command = std::string(body);
    reply.sentences.clear();
    reply.switchBaud = 0;
    switch (number) {
    case 0:
        reply.sentences.push_back(Ack(number, 3));
        return true;
    case 220:
    case 300: {
        long interval = 0;
        const bool valid = fields.size() >= 2 && ParseInteger(fields[1], interval) &&
                           interval >= 100 && interval <= 10000;
        if (valid) {
            fixIntervalMs_ = static_cast<uint32_t>(interval);
        }
        reply.sentences.push_back(Ack(number, valid ? 3 : 2));
        return true;
    }
    case 251: {
        long baud = 0;
        const bool valid = fields.size() >= 2 && ParseInteger(fields[1], baud) &&
                           (baud == 0 || IsSupportedBaud(static_cast<uint32_t>(baud)));
        reply.sentences.push_back(Ack(number, valid ? 3 : 2));
        if (valid) {
            reply.switchBaud = baud == 0 ? startBaud_ : static_cast<uint32_t>(baud);
        }
        return true;
    }
    case 314: {
        SentenceRates rates = {};
        bool valid = fields.size() >= 2 && fields.size() <= 1 + sentenceSlotCount + 1;
        if (valid && fields.size() == 2 && fields[1] == "-1") {
            rates = defaults_;
        } else {
            // A value per slot; a twentieth one (some firmware has it) is accepted and unused.
            for (size_t i = 1; valid && i < fields.size(); ++i) {
                long rate = 0;
                valid = ParseInteger(fields[i], rate) && rate >= 0 && rate <= maxSentenceRate;
                if (valid && i - 1 < sentenceSlotCount) {
                    rates[i - 1] = static_cast<uint8_t>(rate);
                }
            }
            for (size_t reserved = 8; reserved <= 16; ++reserved) {
                rates[reserved] = 0;
            }
        }
        if (valid) {
            rates_ = rates;
        }
        reply.sentences.push_back(Ack(number, valid ? 3 : 2));
        return true;
    }
    case 400:
        reply.sentences.push_back(
            FrameSentence(Format("PMTK500,%u,0,0,0,0", static_cast<unsigned>(fixIntervalMs_))));
        return true;
    case 414: {
        std::string answer = "PMTK514";
        for (const uint8_t rate : rates_) {
            answer += Format(",%u", static_cast<unsigned>(rate));
        }
        reply.sentences.push_back(FrameSentence(answer));
        return true;
    }
    case 607:
        reply.sentences.push_back(FrameSentence("PMTK707,0,0,0,0,0,0,0,0,0"));
        return true;
    default:
        reply.sentences.push_back(Ack(number, 1));
        return true;
    }
}

} // namespace tavro::gpssim

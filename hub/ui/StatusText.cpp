#include "hub/ui/StatusText.h"

#include "hub/engine/HubContext.h"
#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

namespace tavro {

const char* StreamText(uint8_t streamState) {
    switch (static_cast<StreamState>(streamState)) {
    case StreamState::PortClosed:
        return "Port Closed";
    case StreamState::PortOpen:
        return "Unknown Data";
    case StreamState::NmeaStream:
        return "NMEA Stream";
    case StreamState::SirfStream:
        return "SiRF Stream";
    default:
        return "";
    }
}

const char* FixText(uint8_t fixState) {
    switch (static_cast<FixState>(fixState)) {
    case FixState::NoData:
        return "No Fix";
    case FixState::NoFix:
        return "Low Signal";
    case FixState::Fix2D:
        return "2D Fix";
    case FixState::Fix3D:
        return "3D Fix";
    case FixState::Invalid:
        return "Invalid";
    default:
        return "";
    }
}

void FormatStreamStatus(const GpsSharedStatus& block, char (&text)[statusTextSize]) {
    platform::TextBuilder line(text, sizeof text);
    line.Append(StreamText(block.streamState)).Append(" | ");
    // Fix and satellites mean something only once the port delivers data.
    const bool receiving = block.streamState >= static_cast<uint8_t>(StreamState::PortOpen);
    if (receiving) {
        line.Append(FixText(block.fixState));
    }
    line.Append(" | ");
    if (receiving) {
        line.AppendUnsigned(block.satsUsed).Append(" SVs");
    }
    line.Append(" :");
    const uint16_t second = block.utcTime.wSecond;
    if (second < 10) {
        line.Append("0");
    }
    line.AppendUnsigned(second);
}

void FormatClosedReason(uint32_t lastOpenError, char (&text)[statusTextSize]) {
    platform::TextBuilder line(text, sizeof text);
    switch (lastOpenError) {
    case error::success:
        line.Append("Port Closed");
        break;
    case error::fileNotFound:
    case error::notFound:
        line.Append("Port Doesn't Exist");
        break;
    case error::accessDenied:
        line.Append("Port Access Denied");
        break;
    case error::semTimeout:
        line.Append("Port Open Timeout");
        break;
    default:
        line.Append("Port Open Failed: ").AppendDecimal(static_cast<int32_t>(lastOpenError));
        break;
    }
}

void AppendDropped(const DropCounts& drops, platform::TextBuilder& text) {
    // In the order of DropCause.
    static constexpr const char* causes[dropCauseCount] = {
        "received, emptied by a re-open for a speed change",
        "received, emptied by a re-open",
        "received, emptied by closing the port",
        "for the receiver, not taken by it",
    };
    const char* separator = "";
    for (uint32_t cause = 0; cause < dropCauseCount; ++cause) {
        if (drops.bytes[cause] != 0) {
            text.Append(separator).AppendUnsigned(drops.bytes[cause]).Append(" bytes ");
            text.Append(causes[cause]);
            separator = "; ";
        }
    }
}

} // namespace tavro

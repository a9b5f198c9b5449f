#include "hub/posix/status/StatusGather.h"

#include "common/GpsSharedStatus.h"
#include "hub/decode/StatusBlock.h"
#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/instance/InstanceLock.h"
#include "platform/ErrorCodes.h"

namespace tavro {

StatusFacts GatherStatus(const platform::posix::ComDirectory& directory, int timeoutMs) {
    StatusFacts facts;
    facts.directory = directory.Path();
    facts.blockTorn = PeekStatusBlock(platform::SystemSharedMemory(), platform::SystemTiming(),
                                      facts.block) == PeekResult::Torn;
    // A hub that was killed leaves its block behind as it was; only a hub that answers, listens
    // on its command socket or holds its lock is running (the lock stays when a cleaner removes
    // the COM directory with the socket in it).
    static uint8_t reply[platform::posix::queryReplyMax];
    uint32_t answer = 0;
    uint32_t length = 0;
    const uint32_t result =
        platform::posix::QueryHub(directory, platform::posix::statusQueryCode, nullptr, 0, answer,
                                  reply, sizeof reply, length, timeoutMs);
    // A torn block was left by a hub that may still hold it: its lock tells.
    const bool blockLive =
        facts.block.streamState != static_cast<uint8_t>(StreamState::Detached) || facts.blockTorn;
    // A hub that listens but did not answer is stopped or hung: its block is stale then.
    const bool listens =
        result != error::success && platform::posix::HubListens(directory, &facts.pid);
    facts.responding = result == error::success || !listens;
    facts.running =
        result == error::success || listens ||
        (blockLive && platform::posix::InstanceLock::HubHoldsBlockName(statusBlockName));
    facts.hasReport =
        result == error::success && answer == error::success &&
        DecodeHubReport(std::string_view(reinterpret_cast<const char*>(reply), length),
                        facts.report);
    return facts;
}

} // namespace tavro

#include "hub/posix/StatusGather.h"

#include "common/GpsSharedStatus.h"
#include "common/StatusSequence.h"
#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/instance/InstanceLock.h"
#include "platform/ErrorCodes.h"
#include "platform/SharedMemory.h"

#include <unistd.h>

namespace tavro {

StatusFacts GatherStatus(const platform::posix::ComDirectory& directory, int timeoutMs) {
    StatusFacts facts;
    facts.directory = directory.Path();
    // Mapped without counting itself among the block's readers: looking must not count as
    // using the receiver (Battery Saver would open the port for it).
    platform::SharedMemory& memory = platform::SystemSharedMemory();
    platform::SharedView view;
    if (memory.Open(statusBlockName, view) == error::success) {
        if (view.size >= sizeof facts.block) {
            // A hub kept off the processor in the middle of a write is waited for a while; one
            // that died there leaves the last copy, which may be torn.
            const auto& shared = *static_cast<const GpsSharedStatus*>(view.data);
            for (int tries = 0; !ReadStatusBlock(shared, facts.block) && tries < 100; ++tries) {
                usleep(1000);
            }
        }
        memory.Close(view);
    }
    // A hub that was killed leaves its block behind as it was; only a hub that answers, listens
    // on its command socket or holds its lock is running (the lock stays when a cleaner removes
    // the COM directory with the socket in it).
    static uint8_t reply[platform::posix::queryReplyMax];
    uint32_t answer = 0;
    uint32_t length = 0;
    const uint32_t result =
        platform::posix::QueryHub(directory, platform::posix::statusQueryCode, nullptr, 0, answer,
                                  reply, sizeof reply, length, timeoutMs);
    const bool blockLive = facts.block.streamState != static_cast<uint8_t>(StreamState::Detached);
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

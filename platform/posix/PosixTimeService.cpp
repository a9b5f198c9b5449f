// The time services' System V segments (key 0x4E545030 + unit), made with the mode the
// daemons themselves use: units 0 and 1 for their owner only (0600), 2 and 3 for everyone
// (0666), so that a hub of an ordinary user can feed a daemon that runs as root.
//
// On exit the segment is left in place, whoever made it: the daemon attaches once and keeps
// its attachment, so a segment removed under it would leave it reading a dead copy after the
// hub's restart. Only the last sample is withdrawn (valid cleared), so nothing stale is read.
#include "platform/TimeService.h"

#include "platform/ErrorCodes.h"
#include "platform/NtpShmLayout.h"
#include "platform/posix/PosixErrors.h"

#include <cerrno>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>

namespace tavro::platform {
namespace {

static_assert(sizeof(time_t) == 8, "the segment's seconds are this system's time_t");

class PosixTimeSegment final : public TimeSegment {
public:
    explicit PosixTimeSegment(NtpShmTime* shm) : shm_(shm) {}
    ~PosixTimeSegment() override {
        shm_->valid = 0;
        shmdt(shm_);
    }
    void Write(const TimeSample& sample) override { WriteNtpSample(*shm_, sample); }

private:
    NtpShmTime* shm_;
};

class PosixTimeService final : public TimeService {
public:
    std::unique_ptr<TimeSegment> Attach(uint32_t unit, uint32_t& error) override {
        if (unit >= timeUnitCount) {
            error = error::invalidParameter;
            return nullptr;
        }
        const key_t key = static_cast<key_t>(ntpShmKeyBase + unit);
        const int mode = unit < 2 ? 0600 : 0666;
        // A daemon that made it first made it at least this large; one made smaller is refused.
        const int id = shmget(key, sizeof(NtpShmTime), IPC_CREAT | mode);
        if (id < 0) {
            error = posix::ErrorFromErrno(errno);
            return nullptr;
        }
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            error = posix::ErrorFromErrno(errno);
            return nullptr;
        }
        error = error::success;
        return std::make_unique<PosixTimeSegment>(static_cast<NtpShmTime*>(address));
    }

    UnixTime Now() override {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return {static_cast<int64_t>(now.tv_sec), static_cast<uint32_t>(now.tv_nsec)};
    }
};

} // namespace

TimeService& SystemTimeService() {
    static PosixTimeService service;
    return service;
}

} // namespace tavro::platform

// The time services' named mappings as the Windows build of ntpd opens them for its
// shared-memory driver: "Local\NTP0" and "Local\NTP1" in the session's own namespace (so only a
// daemon in the hub's session meets them), "Global\NTP2" and up for every session, where the
// daemon runs as a service. ntpd's documentation gives no names; these are its driver's, as
// described where others write to it (a writer's change "Write NTP SHM samples to the ntpd named
// file mapping on Windows"). The daemon usually made the mapping first; then it is only opened.
// Made here (a global one needs the create-global privilege), it gets the default security
// (this user, SYSTEM and the administrators), which lets the daemon in as SYSTEM: the null DACL
// the daemon gives units 2 and up would let anyone feed the clock. The mapping goes with its
// last handle, as every mapping does.
#include "platform/TimeService.h"

#include "platform/ErrorCodes.h"
#include "platform/NtpShmLayout.h"
#include "platform/SharedMemory.h"

#include <windows.h>

#include <string.h>

namespace tavro::platform {
namespace {

class Win32TimeSegment final : public TimeSegment {
public:
    explicit Win32TimeSegment(const SharedView& view) : view_(view) {}
    ~Win32TimeSegment() override {
        Shm().valid = 0;
        SystemSharedMemory().Close(view_);
    }
    void Write(const TimeSample& sample) override { WriteNtpSample(Shm(), sample); }

private:
    NtpShmTime& Shm() { return *static_cast<NtpShmTime*>(view_.data); }
    SharedView view_;
};

class Win32TimeService final : public TimeService {
public:
    std::unique_ptr<TimeSegment> Attach(uint32_t unit, uint32_t& error) override {
        char name[] = "Global\\NTP0";
        name[sizeof name - 2] = static_cast<char>('0' + unit);
        const char* mappingName = name;
        if (unit < 2) {
            memcpy(name + 1, "Local", 5); // "Local\NTPn", one shorter, in the same buffer
            mappingName = name + 1;
        }
        SharedView view;
        error = unit < timeUnitCount
                    ? SystemSharedMemory().CreateOrOpen(mappingName, sizeof(NtpShmTime), view)
                    : error::invalidParameter;
        if (error != error::success && error != error::alreadyExists) {
            return nullptr;
        }
        error = error::success;
        return std::unique_ptr<TimeSegment>(new Win32TimeSegment(view));
    }

    UnixTime Now() override {
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        // 100 ns units since 1601; 11644473600 s lie between 1601 and 1970.
        const uint64_t ticks =
            (uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime) - uint64_t{116444736000000000};
        return {static_cast<int64_t>(ticks / 10000000),
                static_cast<uint32_t>(ticks % 10000000) * 100};
    }
};

// Made when the program is loaded and never destroyed: no guard, nothing at exit.
constinit Win32TimeService service;

} // namespace

TimeService& SystemTimeService() {
    return service;
}

} // namespace tavro::platform

// The time services' named mappings, "Global\NTP0" to "Global\NTP3", as the Windows build of
// ntpd opens them for its shared-memory driver. Units 2 and 3 get a null DACL (anyone may
// open them, as the daemon's documentation says of those units); 0 and 1 the default
// security. The daemon, a service, usually made the mapping first; then it is only opened.
// The mapping goes with its last handle, as every mapping does.
#include "platform/TimeService.h"

#include "platform/ErrorCodes.h"
#include "platform/NtpShmLayout.h"

#include <windows.h>

namespace tavro::platform {
namespace {

class Win32TimeSegment final : public TimeSegment {
public:
    Win32TimeSegment(HANDLE mapping, NtpShmTime* shm) : mapping_(mapping), shm_(shm) {}
    ~Win32TimeSegment() override {
        shm_->valid = 0;
        UnmapViewOfFile(shm_);
        CloseHandle(mapping_);
    }
    void Write(const TimeSample& sample) override { WriteNtpSample(*shm_, sample); }

private:
    HANDLE mapping_;
    NtpShmTime* shm_;
};

class Win32TimeService final : public TimeService {
public:
    std::unique_ptr<TimeSegment> Attach(uint32_t unit, uint32_t& error) override {
        if (unit >= timeUnitCount) {
            error = error::invalidParameter;
            return nullptr;
        }
        char name[] = "Global\\NTP0";
        name[sizeof name - 2] = static_cast<char>('0' + unit);
        SECURITY_DESCRIPTOR open{};
        SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
        if (unit >= 2 && InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE)) {
            attributes.lpSecurityDescriptor = &open;
        }
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                            sizeof(NtpShmTime), name);
        void* view = mapping != nullptr
                         ? MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(NtpShmTime))
                         : nullptr;
        if (view == nullptr) {
            error = GetLastError();
            if (mapping != nullptr) {
                CloseHandle(mapping);
            }
            return nullptr;
        }
        error = error::success;
        return std::unique_ptr<TimeSegment>(
            new Win32TimeSegment(mapping, static_cast<NtpShmTime*>(view)));
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

} // namespace

TimeService& SystemTimeService() {
    static Win32TimeService service;
    return service;
}

} // namespace tavro::platform

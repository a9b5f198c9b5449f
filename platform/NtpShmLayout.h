// The shared-memory segment of the NTP daemons' reference clock as they lay it out (driver 28's
// `shmTime`, with 64-bit seconds: Linux on 64-bit machines, and the Windows builds, whose
// time_t is 64 bits), and how a writer publishes a sample into it. Used by the adapters of both
// editions and by the tests that read a segment back.
#pragma once

#include "platform/TimeService.h"

#include <atomic>
#include <stddef.h>
#include <stdint.h>

namespace tavro::platform {

// POSIX: the System V key of unit u is ntpShmKeyBase + u. Windows: the mapping "Global\NTPu".
inline constexpr uint32_t ntpShmKeyBase = 0x4E545030; // "NTP0"

struct NtpShmTime {
    int32_t mode; // 1: the reader checks count around its read
    volatile int32_t count;
    int64_t clockTimeStampSec;
    int32_t clockTimeStampUSec;
    int64_t receiveTimeStampSec;
    int32_t receiveTimeStampUSec;
    int32_t leap;
    int32_t precision;
    int32_t nsamples;
    volatile int32_t valid;
    uint32_t clockTimeStampNSec;
    uint32_t receiveTimeStampNSec;
    int32_t dummy[8];
};
static_assert(offsetof(NtpShmTime, count) == 4);
static_assert(offsetof(NtpShmTime, clockTimeStampSec) == 8);
static_assert(offsetof(NtpShmTime, clockTimeStampUSec) == 16);
static_assert(offsetof(NtpShmTime, receiveTimeStampSec) == 24);
static_assert(offsetof(NtpShmTime, receiveTimeStampUSec) == 32);
static_assert(offsetof(NtpShmTime, leap) == 36);
static_assert(offsetof(NtpShmTime, valid) == 48);
static_assert(offsetof(NtpShmTime, clockTimeStampNSec) == 52);
static_assert(offsetof(NtpShmTime, receiveTimeStampNSec) == 56);
static_assert(sizeof(NtpShmTime) == 96);

// Mode 1: valid is cleared and count moved before the fields change, and count moved again
// and valid set after, with fences between, so that a reader that sees the same count before
// and after its read (and valid set) has read one whole sample.
inline void WriteNtpSample(NtpShmTime& shm, const TimeSample& sample) {
    shm.valid = 0;
    shm.count = shm.count + 1;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    shm.mode = 1;
    shm.clockTimeStampSec = sample.clock.seconds;
    shm.clockTimeStampUSec = static_cast<int32_t>(sample.clock.nanoseconds / 1000);
    shm.clockTimeStampNSec = sample.clock.nanoseconds;
    shm.receiveTimeStampSec = sample.receive.seconds;
    shm.receiveTimeStampUSec = static_cast<int32_t>(sample.receive.nanoseconds / 1000);
    shm.receiveTimeStampNSec = sample.receive.nanoseconds;
    shm.leap = sample.leap;
    shm.precision = sample.precision;
    shm.nsamples = sample.samples;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    shm.count = shm.count + 1;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    shm.valid = 1;
}

// A reader's view (the tests'): false unless valid was set and count did not move.
inline bool ReadNtpSample(const NtpShmTime& shm, TimeSample& sample) {
    const int32_t before = shm.count;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (shm.valid == 0) {
        return false;
    }
    sample.clock = {shm.clockTimeStampSec, shm.clockTimeStampNSec};
    sample.receive = {shm.receiveTimeStampSec, shm.receiveTimeStampNSec};
    sample.leap = shm.leap;
    sample.precision = shm.precision;
    sample.samples = shm.nsamples;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return shm.count == before;
}

} // namespace tavro::platform

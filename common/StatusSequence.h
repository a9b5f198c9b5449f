// The status block's consistency rule, for the hub that writes it and every program that reads
// it, without a lock and without moving any field an old reader knows.
//
// A 32-bit count at byte 204 (formerly reserved, so 0 for old hubs) is odd while the hub
// writes the block and even otherwise; every write makes it larger. A reader takes the count,
// copies the block, takes the count again, and keeps its copy only when both counts are the
// same and even; otherwise it copies again.
//
// Two bytes are written by readers and stay outside the rule: refCount (byte 4, the readers'
// count) and the bits a setup tool clears in replyFlags (byte 5).
#pragma once

#include "common/GpsSharedStatus.h"

#include <atomic>
#include <stddef.h>
#include <stdint.h>

namespace tavro {

inline constexpr size_t statusSequenceOffset = 204;
static_assert(offsetof(GpsSharedStatus, reserved204) == statusSequenceOffset);

namespace statussequence {

inline constexpr size_t wordCount = statusBlockSize / 4;
inline constexpr size_t sequenceWord = statusSequenceOffset / 4;
inline constexpr size_t readerWord = offsetof(GpsSharedStatus, refCount) / 4; // bytes 4-7
static_assert(statusBlockSize % 4 == 0 && alignof(GpsSharedStatus) >= 4);

inline uint32_t* Words(GpsSharedStatus& block) {
    return reinterpret_cast<uint32_t*>(&block);
}

inline std::atomic_ref<uint32_t> Sequence(GpsSharedStatus& block) {
    return std::atomic_ref<uint32_t>(Words(block)[sequenceWord]);
}

} // namespace statussequence

// A write of the block: the count made odd before the first field is stored (returned, for
// EndStatusWrite), made even again after the last. Fields are stored with relaxed atomics.
// Only one thread may write a block.
inline uint32_t BeginStatusWrite(GpsSharedStatus& block) {
    using namespace statussequence;
    // Odd also when a writer stopped half way left it odd.
    const uint32_t begin = Sequence(block).load(std::memory_order_relaxed) | 1;
    Sequence(block).store(begin, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release); // odd before any field
    return begin;
}

inline void EndStatusWrite(GpsSharedStatus& block, uint32_t begin) {
    statussequence::Sequence(block).store(begin + 1, std::memory_order_release); // even, after
}

// The hub: copies its own record `from` into the shared `to` under the rule. refCount is left
// to the readers (and read back into `from`); the replyFlags bits raised in `from` since the
// last call are added to the shared ones and cleared in `from`, so that a reader's clearing
// holds until the next reply.
inline void PublishStatus(GpsSharedStatus& from, GpsSharedStatus& to) {
    using namespace statussequence;
    const uint32_t begin = BeginStatusWrite(to);
    const uint32_t* source = Words(from);
    uint32_t* target = Words(to);
    for (size_t i = 0; i < wordCount; ++i) {
        if (i != sequenceWord && i != readerWord) {
            std::atomic_ref<uint32_t>(target[i]).store(source[i], std::memory_order_relaxed);
        }
    }
    std::atomic_ref<int16_t>(to.fixInterval).store(from.fixInterval, std::memory_order_relaxed);
    if (from.replyFlags != 0) {
        std::atomic_ref<uint8_t>(to.replyFlags)
            .fetch_or(from.replyFlags, std::memory_order_relaxed);
        from.replyFlags = 0;
    }
    from.refCount = std::atomic_ref<uint8_t>(to.refCount).load(std::memory_order_relaxed);
    EndStatusWrite(to, begin);
}

// A reader: copies `block` into `copy` under the rule, trying at most `attempts` times.
// False when no attempt saw the same even count before and after (a hub stopped in the middle
// of a write leaves the count odd): `copy` then holds the last attempt, which may be torn.
inline bool ReadStatusBlock(const GpsSharedStatus& block, GpsSharedStatus& copy,
                            uint32_t attempts = 100000) {
    using namespace statussequence;
    auto& shared = const_cast<GpsSharedStatus&>(block); // read only, through atomics
    uint32_t* source = Words(shared);
    uint32_t* target = Words(copy);
    for (uint32_t attempt = 0; attempt < attempts; ++attempt) {
        const uint32_t before = Sequence(shared).load(std::memory_order_acquire);
        for (size_t i = 0; i < wordCount; ++i) {
            target[i] = std::atomic_ref<uint32_t>(source[i]).load(std::memory_order_relaxed);
        }
        std::atomic_thread_fence(std::memory_order_acquire); // the fields before the count
        const uint32_t after = Sequence(shared).load(std::memory_order_relaxed);
        if (before == after && (before & 1) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace tavro

// The status block's consistency rule: a reader hammering the block while a deliberately slow
// writer makes 10,000 updates a second keeps only whole updates, and a reader without the
// rule, on the same writer, does see torn ones (so the test can tell).
#include "common/StatusSequence.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tavro {
namespace {

using statussequence::readerWord;
using statussequence::sequenceWord;
using statussequence::wordCount;
using Clock = std::chrono::steady_clock;

constexpr int updatesPerSecond = 10000;
// The reader runs while the writer makes this many updates (about 0.2 s on an idle machine);
// a busy machine that keeps the writer off its processor only makes the run longer, up to the
// limit.
constexpr uint32_t updatesWanted = 2000;
constexpr auto runLimit = std::chrono::seconds(30);

// Each update stores n into every word the writer owns, one word at a time with a pause
// between, so that an update takes about half of its 100 µs slot.
void SlowWriter(GpsSharedStatus& block, std::atomic<bool>& stop, std::atomic<uint32_t>& updates) {
    uint32_t* words = reinterpret_cast<uint32_t*>(&block);
    auto slot = Clock::now();
    for (uint32_t n = 1; !stop.load(); ++n) {
        const uint32_t begin = BeginStatusWrite(block);
        for (size_t i = 0; i < wordCount; ++i) {
            if (i == sequenceWord || i == readerWord) {
                continue;
            }
            std::atomic_ref<uint32_t>(words[i]).store(n, std::memory_order_relaxed);
            for (const auto until = Clock::now() + std::chrono::nanoseconds(700);
                 Clock::now() < until;) {
            }
        }
        EndStatusWrite(block, begin);
        updates.store(n);
        slot += std::chrono::microseconds(1000000 / updatesPerSecond);
        while (Clock::now() < slot) {
        }
    }
}

// Whole: every word the writer owns holds the same update.
bool Whole(const GpsSharedStatus& copy) {
    const uint32_t* words = reinterpret_cast<const uint32_t*>(&copy);
    for (size_t i = 1; i < wordCount; ++i) {
        if (i != sequenceWord && i != readerWord && words[i] != words[0]) {
            return false;
        }
    }
    return true;
}

struct Counts {
    uint64_t copies = 0;
    uint64_t torn = 0;
    uint32_t updates = 0;
};

// Runs the writer against a reader that copies with `read` as fast as it can, until the writer
// has made updatesWanted updates and, with `untilTorn`, the reader has seen a torn copy.
template <typename Read>
Counts Hammer(Read read, bool untilTorn) {
    alignas(8) GpsSharedStatus block{};
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> updates{0};
    std::thread writer(SlowWriter, std::ref(block), std::ref(stop), std::ref(updates));
    Counts counts;
    for (const auto end = Clock::now() + runLimit;
         Clock::now() < end &&
         (updates.load() < updatesWanted || (untilTorn && counts.torn == 0));) {
        GpsSharedStatus copy;
        read(block, copy);
        ++counts.copies;
        counts.torn += Whole(copy) ? 0 : 1;
    }
    stop.store(true);
    writer.join();
    counts.updates = updates.load();
    return counts;
}

TEST(StatusSequence, ReadersKeepingTheRuleNeverSeeATornUpdate) {
    // Until a copy is whole: a busy machine may keep the writer off its processor, count
    // odd, longer than one call's attempts.
    const Counts ruled = Hammer(
        [](const GpsSharedStatus& block, GpsSharedStatus& copy) {
            while (!ReadStatusBlock(block, copy)) {
            }
        },
        false);
    const Counts plain = Hammer(
        [](const GpsSharedStatus& block, GpsSharedStatus& copy) {
            auto& shared = const_cast<GpsSharedStatus&>(block);
            for (size_t i = 0; i < wordCount; ++i) {
                reinterpret_cast<uint32_t*>(&copy)[i] =
                    std::atomic_ref<uint32_t>(reinterpret_cast<uint32_t*>(&shared)[i])
                        .load(std::memory_order_relaxed);
            }
        },
        true);
    printf("  with the rule: %llu copies, %llu torn, %u updates; without: %llu copies, %llu "
           "torn, %u updates\n",
           static_cast<unsigned long long>(ruled.copies),
           static_cast<unsigned long long>(ruled.torn), ruled.updates,
           static_cast<unsigned long long>(plain.copies),
           static_cast<unsigned long long>(plain.torn), plain.updates);
    EXPECT_EQ(ruled.torn, 0u);
    EXPECT_GE(ruled.updates, updatesWanted) << "the writer was held up for the whole run";
    EXPECT_GT(plain.torn, 0u) << "without the rule the slow writer must show: the test sees "
                                 "nothing otherwise";
}

TEST(StatusSequence, PublishLeavesTheReadersBytesAndAddsReplyBits) {
    GpsSharedStatus shared{};
    GpsSharedStatus record{};
    shared.refCount = 3;
    shared.replyFlags = replyEpoStatus;
    record.rmcCount = 9;
    record.replyFlags = replyNmeaRates;
    PublishStatus(record, shared);
    EXPECT_EQ(shared.rmcCount, 9);
    EXPECT_EQ(shared.refCount, 3);
    EXPECT_EQ(record.refCount, 3) << "read back for the hub";
    EXPECT_EQ(shared.replyFlags, replyEpoStatus | replyNmeaRates);
    EXPECT_EQ(record.replyFlags, 0) << "raised once";
    shared.replyFlags = 0; // a setup tool clears them
    PublishStatus(record, shared);
    EXPECT_EQ(shared.replyFlags, 0);
    EXPECT_EQ(shared.reserved204[0] & 1, 0) << "even after a write";
    GpsSharedStatus copy;
    EXPECT_TRUE(ReadStatusBlock(shared, copy));
    shared.reserved204[0] = 5; // a writer stopped half way
    EXPECT_FALSE(ReadStatusBlock(shared, copy, 10));
}

} // namespace
} // namespace tavro

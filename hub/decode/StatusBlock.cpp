#include "hub/decode/StatusBlock.h"

#include "common/StatusSequence.h"
#include "platform/ErrorCodes.h"

#include <string.h>

namespace tavro {
namespace {

// refCount is one plain byte shared by every process; a 256th attach must not wrap it to 0,
// which would make the hub believe nobody uses the receiver.
void CountIn(GpsSharedStatus& block) {
    if (block.refCount < 0xFF) {
        ++block.refCount;
    }
}

void CountOut(GpsSharedStatus& block) {
    if (block.refCount != 0) {
        --block.refCount;
    }
}

void InitialiseFresh(GpsSharedStatus& block) {
    memset(&block, 0, sizeof block);
    block.refCount = 1;
    memcpy(reinterpret_cast<uint8_t*>(&block) + signatureOffset, statusSignature,
           sizeof statusSignature);
}

} // namespace

StatusBlock::~StatusBlock() {
    if (hubAttached_) {
        DetachHub();
    } else if (readerAttached_) {
        DetachReader();
    }
    Release();
}

uint32_t StatusBlock::AttachHub(const char* name) {
    Release();
    const uint32_t result = memory_.CreateOrOpen(name, statusBlockSize, view_);
    if (result == error::success || result == error::alreadyExists) {
        block_ = static_cast<GpsSharedStatus*>(view_.data);
    } else {
        UsePrivateBlock();
    }
    if (result == error::alreadyExists) {
        CountIn(*block_);
    } else {
        InitialiseFresh(*block_);
    }
    // A block left by an earlier hub keeps its content: the record starts from it (no hub
    // writes it now).
    memcpy(&record_, block_, sizeof record_);
    record_.replyFlags = 0; // bits raised from now on
    record_.streamState = static_cast<uint8_t>(StreamState::PortClosed);
    hubAttached_ = true;
    Publish();
    return result;
}

void StatusBlock::DetachHub() {
    if (!hubAttached_) {
        return;
    }
    record_.speedKnots = 0.0f;
    record_.streamState = static_cast<uint8_t>(StreamState::Detached);
    Publish();
    CountOut(*block_);
    hubAttached_ = false;
    Release();
}

uint32_t StatusBlock::RestoreName(bool& restored) {
    restored = false;
    if (!hubAttached_ || view_.data == nullptr) {
        return 0;
    }
    const uint32_t result = memory_.Restore(view_, restored);
    if (restored) {
        // Readers of the removed block count themselves out there: here only the hub counts.
        std::atomic_ref<uint8_t>(block_->refCount).store(1, std::memory_order_relaxed);
    }
    return result;
}

void StatusBlock::Publish() {
    if (hubAttached_) {
        PublishStatus(record_, *block_);
    }
}

PeekResult PeekStatusBlock(platform::SharedMemory& memory, platform::Timing& timing,
                           GpsSharedStatus& copy, const char* name) {
    // A write takes microseconds: a thousand copies outlast one that is under way, and the
    // sleeps between the tries let a hub that was preempted mid-write finish it.
    constexpr int tries = 500;
    constexpr uint32_t copiesPerTry = 1000;
    constexpr uint32_t pauseMs = 2;
    platform::SharedView view;
    if (memory.Open(name, view) != error::success) {
        return PeekResult::NoBlock;
    }
    PeekResult result = PeekResult::NoBlock;
    if (view.size >= sizeof copy) {
        const auto& shared = *static_cast<const GpsSharedStatus*>(view.data);
        GpsSharedStatus taken;
        result = PeekResult::Torn;
        for (int attempt = 0; attempt < tries; ++attempt) {
            if (ReadStatusBlock(shared, taken, copiesPerTry)) {
                copy = taken;
                result = PeekResult::Read;
                break;
            }
            timing.Sleep(pauseMs);
        }
    }
    memory.Close(view);
    return result;
}

bool StatusBlock::Snapshot(GpsSharedStatus& copy) const {
    return ReadStatusBlock(*block_, copy);
}

uint32_t StatusBlock::AttachReader(const char* name) {
    Release();
    const uint32_t result = memory_.Open(name, view_);
    if (result == error::success && view_.size >= statusBlockSize) {
        block_ = static_cast<GpsSharedStatus*>(view_.data);
    } else {
        memory_.Close(view_);
        UsePrivateBlock();
    }
    CountIn(*block_);
    readerAttached_ = true;
    return result == error::success && IsShared() ? error::success
           : result == error::success             ? error::invalidData
                                                  : result;
}

void StatusBlock::DetachReader() {
    if (!readerAttached_) {
        return;
    }
    if (IsShared()) {
        CountOut(*block_);
    }
    readerAttached_ = false;
    Release();
}

void StatusBlock::UsePrivateBlock() {
    memset(&privateBlock_, 0, sizeof privateBlock_);
    block_ = &privateBlock_;
}

void StatusBlock::Release() {
    if (view_.handle != 0 || view_.data != nullptr) {
        memory_.Close(view_);
        // The view is gone; later reads see a zero block rather than unmapped memory.
        UsePrivateBlock();
    }
}

} // namespace tavro

// Attach to and detach from the shared status block "TavroGPS", for the hub and for readers.
#pragma once

#include "common/GpsSharedStatus.h"
#include "platform/SharedMemory.h"
#include "platform/Timing.h"

#include <atomic>
#include <stdint.h>

namespace tavro {

// Holds one process's view of the status block. Block() is never null: when the mapping
// cannot be made (hub) or does not exist (reader), a private zero-filled block stands in, so
// decoders and the timer loop can write without testing a pointer and the hub keeps serving
// its virtual ports; only other programs then do not see the status.
//
// The hub writes its own record (Block()) and copies it into the shared block with Publish,
// under the rule of StatusSequence.h, so that readers never see half of an update however
// long the hub takes between its writes. Readers take consistent copies with Snapshot.
class StatusBlock {
public:
    explicit StatusBlock(platform::SharedMemory& memory) : memory_(memory) {}
    ~StatusBlock();

    StatusBlock(const StatusBlock&) = delete;
    StatusBlock& operator=(const StatusBlock&) = delete;

    // Creates a fresh block (zeroed, signed, refCount 1) or joins an existing one (refCount
    // + 1, content kept); in both cases streamState becomes PortClosed. Returns the mapping
    // result: error::success (created), error::alreadyExists (joined), or the failure code,
    // in which case a private block was prepared the same way as a fresh one.
    uint32_t AttachHub(const char* name = statusBlockName);

    // speedKnots 0, streamState Detached, refCount - 1 unless already 0, then unmap.
    void DetachHub();

    // Opens an existing block and counts itself in refCount. Without a mapping the reader works
    // on a private zero block (streamState Detached) and counts itself there. Returns the
    // mapping result (error::success or the failure code).
    uint32_t AttachReader(const char* name = statusBlockName);

    // refCount - 1 unless already 0, then unmap; the private zero block stays in use.
    void DetachReader();

    // The hub's own record while it is attached; otherwise the shared block (or the private
    // stand-in) itself.
    GpsSharedStatus& Block() { return hubAttached_ ? record_ : *block_; }
    const GpsSharedStatus& Block() const { return hubAttached_ ? record_ : *block_; }
    bool IsShared() const { return view_.data != nullptr; }

    // The hub: the shared block follows its record now (see PublishStatus).
    void Publish();
    // The hub: gives the block its name back if another process removed it (see
    // SharedMemory::Restore); `restored` tells whether it had to.
    uint32_t RestoreName(bool& restored);
    // The readers counted in the shared block (refCount), as it is now.
    uint8_t Readers() const {
        return std::atomic_ref<uint8_t>(block_->refCount).load(std::memory_order_relaxed);
    }
    // A consistent copy of the shared block (see ReadStatusBlock); false when none could be
    // taken, `copy` then holding the last try.
    bool Snapshot(GpsSharedStatus& copy) const;

private:
    void UsePrivateBlock();
    void Release();

    platform::SharedMemory& memory_;
    platform::SharedView view_{};
    GpsSharedStatus privateBlock_{};
    GpsSharedStatus* block_ = &privateBlock_;
    GpsSharedStatus record_{}; // the hub's own, published into *block_
    bool hubAttached_ = false;
    bool readerAttached_ = false;
};

// What PeekStatusBlock found.
enum class PeekResult : uint8_t {
    Read,    // `copy` holds the block, whole
    NoBlock, // there is no block (or one too small to be ours): `copy` left as it was
    Torn,    // the block exists, but every try saw a write under way: `copy` left as it was
};

// A look at the block for programs that only show it (tavro status, the dashboard): mapped
// without counting itself among the readers, since looking is not using the receiver (Battery
// Saver would keep the port open for it). A hub kept off the processor in the middle of a
// write is waited for about a second; one that died there (or stays stopped there) gives Torn:
// a copy that mixes two writes would show a position that was never the receiver's.
PeekResult PeekStatusBlock(platform::SharedMemory& memory, platform::Timing& timing,
                           GpsSharedStatus& copy, const char* name = statusBlockName);

// What the readers that show the block say of a Torn one.
inline constexpr char blockTornWarning[] =
    "the status block could not be read whole (its hub stopped in the middle of a write): the "
    "fix and satellites are not shown";

} // namespace tavro

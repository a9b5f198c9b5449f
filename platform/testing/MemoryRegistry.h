// A registry held in memory, for tests: the same rules as the file store, nothing on disk.
#pragma once

#include "platform/TreeRegistry.h"

#include <stdint.h>

namespace tavro::platform {

class MemoryRegistry final : public TreeRegistry {
public:
    // The tree of a root, to prepare or inspect contents directly.
    RegistryTree& Tree(RegistryKey root);

    // From now on every operation that reaches a root fails with `code` (0 ends that), as a
    // registry does that the user may not use.
    void FailWith(uint32_t code) { failure_ = code; }

    // Changes kept so far (operations that altered a tree).
    uint32_t ChangeCount() const { return changes_; }

protected:
    RegistryTree* ReadRoot(size_t root, uint32_t& result) override;
    RegistryTree* BeginChange(size_t root, uint32_t& result) override;
    uint32_t FinishChange(size_t root, bool changed) override;

private:
    RegistryTree trees_[registryRootCount];
    uint32_t failure_ = 0;
    uint32_t changes_ = 0;
};

} // namespace tavro::platform

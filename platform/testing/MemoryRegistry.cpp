#include "platform/testing/MemoryRegistry.h"

#include "platform/ErrorCodes.h"

namespace tavro::platform {

RegistryTree& MemoryRegistry::Tree(RegistryKey root) {
    return trees_[root == RegistryKey::localMachine ? 1 : 0];
}

RegistryTree* MemoryRegistry::ReadRoot(size_t root, uint32_t& result) {
    if (failure_ != error::success) {
        result = failure_;
        return nullptr;
    }
    result = error::success;
    return &trees_[root];
}

RegistryTree* MemoryRegistry::BeginChange(size_t root, uint32_t& result) {
    return ReadRoot(root, result);
}

uint32_t MemoryRegistry::FinishChange(size_t, bool changed) {
    changes_ += changed ? 1 : 0;
    return error::success;
}

} // namespace tavro::platform

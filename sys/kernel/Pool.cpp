#include "sys/kernel/Pool.h"

#include "sys/kernel/KernelHeaders.h"

namespace tavro::kernel {

void* PoolAllocate(size_t size, PoolKind kind) {
    if (size == 0) {
        return nullptr;
    }
    return ExAllocatePoolWithTag(static_cast<POOL_TYPE>(kind), size, poolTag);
}

void* PoolAllocateZeroed(size_t size, PoolKind kind) {
    void* block = PoolAllocate(size, kind);
    if (block != nullptr) {
        RtlZeroMemory(block, size);
    }
    return block;
}

void PoolFree(void* block) {
    if (block != nullptr) {
        ExFreePoolWithTag(block, 0);
    }
}

} // namespace tavro::kernel

void* operator new(size_t size, tavro::kernel::PoolKind kind) noexcept {
    return tavro::kernel::PoolAllocate(size, kind);
}

void operator delete(void* block, tavro::kernel::PoolKind) noexcept {
    tavro::kernel::PoolFree(block);
}

// Deleting destructors of classes with virtual destructors refer to these.
void operator delete(void* block) noexcept {
    tavro::kernel::PoolFree(block);
}

void operator delete(void* block, size_t) noexcept {
    tavro::kernel::PoolFree(block);
}

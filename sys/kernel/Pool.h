// Pool memory of the driver. Every block carries the tag "Ddk " so that pool tools can tell
// the driver's memory apart; objects, records and rings come from non-paged pool, strings and
// registry buffers from paged pool.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro::kernel {

// The values are the kernel's POOL_TYPE numbers.
enum class PoolKind : int {
    NonPaged = 0,
    Paged = 1,
};

// 'D', 'd', 'k', ' ' in memory order.
inline constexpr uint32_t poolTag = 0x206B6444;

// Null for a size of 0 or when the pool is exhausted. The memory is not cleared.
void* PoolAllocate(size_t size, PoolKind kind);
// Same, with every byte set to zero.
void* PoolAllocateZeroed(size_t size, PoolKind kind);
// Nothing happens for null.
void PoolFree(void* block);

} // namespace tavro::kernel

// Object creation from the pool: `new (PoolKind::NonPaged) T(...)`. The allocation function is
// non-throwing, so the new-expression yields null (and runs no constructor) when the pool is
// exhausted. There is deliberately no plain global operator new: every allocation names its
// pool.
void* operator new(size_t size, tavro::kernel::PoolKind kind) noexcept;
void operator delete(void* block, tavro::kernel::PoolKind kind) noexcept;

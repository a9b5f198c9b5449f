#include "sys/kernel/StaticObjects.h"

#include "sys/kernel/Pool.h"
#include "sys/kernel/Sections.h"

// The linker lays the constructor list out as [-1 or count, constructors..., null].
extern "C" void (*__CTOR_LIST__[])();

namespace tavro::kernel {
namespace {

struct TeardownEntry {
    void (*function)();
    TeardownEntry* next;
};

TeardownEntry* teardownList = nullptr;
NTSTATUS staticStatus = STATUS_SUCCESS;

} // namespace

void ReportStaticFailure(NTSTATUS status) {
    if (NT_SUCCESS(staticStatus)) {
        staticStatus = status;
    }
}

TAVRO_INIT_CODE NTSTATUS ConstructStaticObjects() {
    staticStatus = STATUS_SUCCESS;
    size_t count = reinterpret_cast<size_t>(__CTOR_LIST__[0]);
    if (count == static_cast<size_t>(-1)) {
        count = 0;
        while (__CTOR_LIST__[count + 1] != nullptr) {
            ++count;
        }
    }
    // Last to first, as the runtime of this toolchain does: the linker appends each object
    // file's entries, and an object's own entries are in reverse order of definition.
    for (size_t i = count; i >= 1; --i) {
        __CTOR_LIST__[i]();
    }
    return staticStatus;
}

TAVRO_PAGED_CODE void TearDownStaticObjects() {
    while (teardownList != nullptr) {
        TeardownEntry* entry = teardownList;
        teardownList = entry->next;
        entry->function();
        PoolFree(entry);
    }
}

} // namespace tavro::kernel

// The compiler registers the destructor of every static object here.
extern "C" int atexit(void (*function)()) {
    using namespace tavro::kernel;
    auto* entry =
        static_cast<TeardownEntry*>(PoolAllocate(sizeof(TeardownEntry), PoolKind::NonPaged));
    if (entry == nullptr) {
        ReportStaticFailure(STATUS_INSUFFICIENT_RESOURCES);
        return -1;
    }
    entry->function = function;
    entry->next = teardownList;
    teardownList = entry;
    return 0;
}

// Compiled, never linked: the kernel glue includes the DDK and the core's headers
// in the same files, so none of the core's names may collide with a DDK macro.
#include <ntddk.h>

#include "sys/core/ControlDevice.h"
#include "sys/core/KernelServices.h"
#include "sys/core/PortDevice.h"
#include "sys/core/SerialDefinitions.h"

static_assert(sizeof(KSPIN_LOCK) + sizeof(KIRQL) <= tavro::driver::spinLockStorageSize);
static_assert(static_cast<int>(tavro::driver::MajorFunction::DeviceControl) ==
              IRP_MJ_DEVICE_CONTROL);
static_assert(static_cast<int>(tavro::driver::MajorFunction::Cleanup) == IRP_MJ_CLEANUP);
static_assert(tavro::driver::status::cancelled == STATUS_CANCELLED);
static_assert(tavro::driver::status::pending == STATUS_PENDING);
static_assert(tavro::driver::fileStandardInformation == FileStandardInformation);
static_assert(tavro::driver::filePositionInformation == FilePositionInformation);
static_assert(tavro::driver::fileEndOfFileInformation == FileEndOfFileInformation);
static_assert(tavro::driver::fileAllocationInformation == FileAllocationInformation);

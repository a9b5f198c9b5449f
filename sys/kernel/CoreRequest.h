// An IRP as the driver core sees it: the core's request type is opaque and stands for the IRP
// itself (see sys/core/KernelServices.h).
#pragma once

#include "sys/core/KernelServices.h"
#include "sys/kernel/KernelHeaders.h"

namespace tavro::kernel {

inline driver::Request& AsRequest(PIRP irp) {
    return *reinterpret_cast<driver::Request*>(irp);
}

} // namespace tavro::kernel

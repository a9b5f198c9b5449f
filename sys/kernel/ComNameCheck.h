// Whether a COM name is already taken in the DOS device namespace.
#pragma once

#include "sys/kernel/KernelHeaders.h"

#include <stdint.h>

namespace tavro::kernel {

// STATUS_SUCCESS when "COM<n>" is free; STATUS_INVALID_PARAMETER when it exists (a real port,
// another driver's port or a leftover link) or cannot be looked up; STATUS_UNSUCCESSFUL when
// the name cannot be built.
NTSTATUS CheckComNameFree(uint32_t comNumber);

} // namespace tavro::kernel

#include "sys/kernel/ComNameCheck.h"

#include "sys/kernel/CountedString.h"
#include "sys/kernel/Sections.h"

namespace tavro::kernel {

// A COM name is a symbolic link in the DOS device namespace, so the check opens that link
// object itself. It never reaches the device behind it: opening the device instead (for
// example through IoGetDeviceObjectPointer) would send a create request to a real serial
// port, which may refuse a second opener, toggle its modem lines, or, on systems whose
// emulation answers that lookup for every name, report a port that does not exist.
TAVRO_INIT_CODE NTSTATUS CheckComNameFree(uint32_t comNumber) {
    NumberedName name(L"\\DosDevices\\COM", comNumber);
    if (name.IsEmpty()) {
        return STATUS_UNSUCCESSFUL;
    }
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, name.Mutable(), kernelObjectAttributes, nullptr,
                               nullptr);
    HANDLE link = nullptr;
    const NTSTATUS status = ZwOpenSymbolicLinkObject(&link, SYMBOLIC_LINK_QUERY, &attributes);
    if (NT_SUCCESS(status)) {
        ZwClose(link);
        return STATUS_INVALID_PARAMETER;
    }
    // Anything but "no such name" (another object type under the name, a denied lookup)
    // means the name cannot be ours.
    return status == STATUS_OBJECT_NAME_NOT_FOUND ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

} // namespace tavro::kernel

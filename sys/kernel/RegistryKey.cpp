#include "sys/kernel/RegistryKey.h"

#include "sys/kernel/CountedString.h"
#include "sys/kernel/NameText.h"
#include "sys/kernel/Pool.h"
#include "sys/kernel/Sections.h"

namespace tavro::kernel {
namespace {

const wchar_t* const rootPaths[] = {
    L"",
    L"\\Registry\\Machine\\System\\CurrentControlSet\\Services",
    L"\\Registry\\Machine\\System\\CurrentControlSet\\Control",
    L"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion",
    L"\\REGISTRY\\Machine\\HARDWARE\\DEVICEMAP",
    L"\\Registry\\User",
};

// KEY_VALUE_PARTIAL_INFORMATION of a 4-byte value fits exactly.
constexpr ULONG dwordQuerySize = 16;

} // namespace

TAVRO_PAGED_CODE RegistryKey::RegistryKey(RegistryRoot root, const wchar_t* relative,
                                          ACCESS_MASK access, KeyDisposition disposition,
                                          ULONG createOptions) {
    const auto index = static_cast<uint32_t>(root);
    if (index >= sizeof(rootPaths) / sizeof(rootPaths[0])) {
        openStatus = STATUS_INVALID_PARAMETER;
        return;
    }
    Open(TextView(rootPaths[index]), relative, access, disposition, createOptions);
}

TAVRO_PAGED_CODE RegistryKey::RegistryKey(const UNICODE_STRING& absolute, const wchar_t* relative,
                                          ACCESS_MASK access, KeyDisposition disposition,
                                          ULONG createOptions) {
    Open(absolute, relative, access, disposition, createOptions);
}

TAVRO_PAGED_CODE RegistryKey::~RegistryKey() {
    Close();
}

TAVRO_PAGED_CODE void RegistryKey::Open(const UNICODE_STRING& base, const wchar_t* relative,
                                        ACCESS_MASK access, KeyDisposition disposition,
                                        ULONG createOptions) {
    const UNICODE_STRING relativeView = TextView(relative);
    const bool separate =
        NeedsSeparator(base.Buffer, base.Length / sizeof(wchar_t), relativeView.Buffer,
                       relativeView.Length / sizeof(wchar_t));
    CountedString path;
    if (!path.Assign(base, separate ? L"\\" : nullptr, &relativeView)) {
        openStatus = STATUS_INSUFFICIENT_RESOURCES;
        return;
    }
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, path.Mutable(), kernelObjectAttributes, nullptr,
                               nullptr);
    if (disposition == KeyDisposition::CreateIfMissing) {
        ULONG created = 0;
        openStatus = ZwCreateKey(&handle, access, &attributes, 0, nullptr, createOptions, &created);
    } else {
        openStatus = ZwOpenKey(&handle, access, &attributes);
    }
    if (!NT_SUCCESS(openStatus)) {
        handle = nullptr;
    }
}

TAVRO_PAGED_CODE NTSTATUS RegistryKey::ReadUInt32(const wchar_t* name, uint32_t& value) {
    if (handle == nullptr) {
        return NT_SUCCESS(openStatus) ? STATUS_INVALID_HANDLE : openStatus;
    }
    auto* info =
        static_cast<KEY_VALUE_PARTIAL_INFORMATION*>(PoolAllocate(dwordQuerySize, PoolKind::Paged));
    if (info == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UNICODE_STRING valueName = TextView(name);
    ULONG resultLength = 0;
    NTSTATUS status = ZwQueryValueKey(handle, &valueName, KeyValuePartialInformation, info,
                                      dwordQuerySize, &resultLength);
    if (status == STATUS_BUFFER_OVERFLOW || status == STATUS_BUFFER_TOO_SMALL) {
        // Larger than a 4-byte value, so certainly not a usable one.
        status = STATUS_OBJECT_TYPE_MISMATCH;
    } else if (NT_SUCCESS(status)) {
        if (info->Type != REG_DWORD || info->DataLength != sizeof(uint32_t)) {
            status = STATUS_OBJECT_TYPE_MISMATCH;
        } else {
            RtlCopyMemory(&value, info->Data, sizeof(uint32_t));
        }
    }
    PoolFree(info);
    return status;
}

TAVRO_PAGED_CODE NTSTATUS RegistryKey::WriteString(const wchar_t* name,
                                                   const UNICODE_STRING& text) {
    if (handle == nullptr) {
        return NT_SUCCESS(openStatus) ? STATUS_INVALID_HANDLE : openStatus;
    }
    CountedString terminated; // guarantees the zero that REG_SZ data carries
    if (!terminated.Assign(text)) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UNICODE_STRING valueName = TextView(name);
    return ZwSetValueKey(handle, &valueName, 0, REG_SZ, terminated.Get().Buffer,
                         terminated.Get().Length + sizeof(wchar_t));
}

TAVRO_PAGED_CODE NTSTATUS RegistryKey::DeleteValue(const wchar_t* name) {
    if (handle == nullptr) {
        return NT_SUCCESS(openStatus) ? STATUS_INVALID_HANDLE : openStatus;
    }
    UNICODE_STRING valueName = TextView(name);
    return ZwDeleteValueKey(handle, &valueName);
}

TAVRO_PAGED_CODE void RegistryKey::Close() {
    if (handle != nullptr) {
        ZwClose(handle);
        handle = nullptr;
    }
}

} // namespace tavro::kernel

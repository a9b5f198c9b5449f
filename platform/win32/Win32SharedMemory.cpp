// Named file mappings backed by the paging file.
#include "platform/SharedMemory.h"

#include "platform/ErrorCodes.h"

#include <windows.h>

namespace tavro::platform {
namespace {

class Win32SharedMemory final : public SharedMemory {
public:
    uint32_t CreateOrOpen(const char* name, uint32_t size, SharedView& view) override {
        view = SharedView{};
        if (name == nullptr || size == 0) {
            return error::invalidParameter;
        }
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = nullptr;
        attributes.bInheritHandle = FALSE;
        HANDLE mapping =
            CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, size, name);
        if (mapping == nullptr) {
            return GetLastError();
        }
        const uint32_t created =
            GetLastError() == ERROR_ALREADY_EXISTS ? error::alreadyExists : error::success;
        void* data = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
        if (data == nullptr) {
            const uint32_t failure = GetLastError();
            CloseHandle(mapping);
            return failure;
        }
        view.data = data;
        view.size = size;
        view.handle = reinterpret_cast<intptr_t>(mapping);
        return created;
    }

    uint32_t Open(const char* name, SharedView& view) override {
        view = SharedView{};
        if (name == nullptr) {
            return error::invalidParameter;
        }
        HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
        if (mapping == nullptr) {
            return GetLastError();
        }
        void* data = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
        if (data == nullptr) {
            const uint32_t failure = GetLastError();
            CloseHandle(mapping);
            return failure;
        }
        MEMORY_BASIC_INFORMATION region{};
        VirtualQuery(data, &region, sizeof region);
        view.data = data;
        view.size = static_cast<uint32_t>(region.RegionSize);
        view.handle = reinterpret_cast<intptr_t>(mapping);
        return error::success;
    }

    void Close(SharedView& view) override {
        if (view.data != nullptr) {
            UnmapViewOfFile(view.data);
        }
        if (view.handle != 0) {
            CloseHandle(reinterpret_cast<HANDLE>(view.handle));
        }
        view = SharedView{};
    }
};

} // namespace

SharedMemory& SystemSharedMemory() {
    static Win32SharedMemory instance;
    return instance;
}

} // namespace tavro::platform

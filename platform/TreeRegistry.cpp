#include "platform/TreeRegistry.h"

#include "platform/ErrorCodes.h"

namespace tavro::platform {
namespace {

// Handles are slot numbers + 1; far below the values of the roots.
constexpr size_t openKeyLimit = 65536;

std::string_view NameOf(const char* name) {
    return name == nullptr ? std::string_view() : std::string_view(name);
}

} // namespace

bool TreeRegistry::Resolve(RegistryKey key, size_t& root, std::string& path) const {
    switch (key) {
    case RegistryKey::currentUser:
        root = 0;
        path.clear();
        return true;
    case RegistryKey::localMachine:
        root = 1;
        path.clear();
        return true;
    default:
        break;
    }
    const auto slot = static_cast<uintptr_t>(key) - 1;
    if (slot >= keys_.size() || !keys_[slot].open) {
        return false;
    }
    root = keys_[slot].root;
    path = keys_[slot].path;
    return true;
}

uint32_t TreeRegistry::Allocate(size_t root, std::string path, RegistryKey& key) {
    size_t slot = 0;
    while (slot < keys_.size() && keys_[slot].open) {
        ++slot;
    }
    if (slot == keys_.size()) {
        if (slot == openKeyLimit) {
            return error::notEnoughMemory;
        }
        keys_.emplace_back();
    }
    keys_[slot].open = true;
    keys_[slot].root = root;
    keys_[slot].path = std::move(path);
    key = static_cast<RegistryKey>(slot + 1);
    return error::success;
}

RegistryKeyNode* TreeRegistry::Node(RegistryTree& tree, const std::string& path, uint32_t& result) {
    RegistryKeyNode* node = tree.Find(path);
    result = node == nullptr ? error::keyDeleted : error::success;
    return node;
}

uint32_t TreeRegistry::SubKeyPath(RegistryKey parent, const char* subKey, size_t& root,
                                  std::string& path) const {
    if (!Resolve(parent, root, path)) {
        return error::invalidHandle;
    }
    return AppendRegistryPath(path, NameOf(subKey));
}

uint32_t TreeRegistry::CreateKey(RegistryKey parent, const char* subKey, RegistryKey& key) {
    key = RegistryKey::none;
    size_t root = 0;
    std::string path;
    uint32_t result = SubKeyPath(parent, subKey, root, path);
    if (result != error::success) {
        return result;
    }
    RegistryTree* tree = BeginChange(root, result);
    if (tree == nullptr) {
        return result;
    }
    bool created = false;
    tree->Create(path, created);
    result = FinishChange(root, created);
    if (result != error::success) {
        return result;
    }
    return Allocate(root, std::move(path), key);
}

uint32_t TreeRegistry::OpenKey(RegistryKey parent, const char* subKey, RegistryKey& key) {
    key = RegistryKey::none;
    size_t root = 0;
    std::string path;
    uint32_t result = SubKeyPath(parent, subKey, root, path);
    if (result != error::success) {
        return result;
    }
    RegistryTree* tree = ReadRoot(root, result);
    if (tree == nullptr) {
        return result;
    }
    if (tree->Find(path) == nullptr) {
        return error::fileNotFound;
    }
    return Allocate(root, std::move(path), key);
}

uint32_t TreeRegistry::QueryValue(RegistryKey key, const char* name, uint32_t* type, void* data,
                                  uint32_t* size) {
    size_t root = 0;
    std::string path;
    if (!Resolve(key, root, path)) {
        return error::invalidHandle;
    }
    uint32_t result = error::success;
    RegistryTree* tree = ReadRoot(root, result);
    if (tree == nullptr) {
        return result;
    }
    const RegistryKeyNode* node = Node(*tree, path, result);
    return node == nullptr ? result : node->Query(NameOf(name), type, data, size);
}

uint32_t TreeRegistry::SetValue(RegistryKey key, const char* name, uint32_t type, const void* data,
                                uint32_t size) {
    size_t root = 0;
    std::string path;
    if (!Resolve(key, root, path)) {
        return error::invalidHandle;
    }
    uint32_t result = error::success;
    RegistryTree* tree = BeginChange(root, result);
    if (tree == nullptr) {
        return result;
    }
    bool changed = false;
    if (RegistryKeyNode* node = Node(*tree, path, result)) {
        result = node->Set(NameOf(name), type, data, size, changed);
    }
    const uint32_t finished = FinishChange(root, changed);
    return result != error::success ? result : finished;
}

uint32_t TreeRegistry::DeleteValue(RegistryKey key, const char* name) {
    size_t root = 0;
    std::string path;
    if (!Resolve(key, root, path)) {
        return error::invalidHandle;
    }
    uint32_t result = error::success;
    RegistryTree* tree = BeginChange(root, result);
    if (tree == nullptr) {
        return result;
    }
    if (RegistryKeyNode* node = Node(*tree, path, result)) {
        result = node->Delete(NameOf(name));
    }
    const uint32_t finished = FinishChange(root, result == error::success);
    return result != error::success ? result : finished;
}

uint32_t TreeRegistry::EnumValue(RegistryKey key, uint32_t index, char* name, uint32_t* nameSize,
                                 uint32_t* type, void* data, uint32_t* dataSize) {
    size_t root = 0;
    std::string path;
    if (!Resolve(key, root, path)) {
        return error::invalidHandle;
    }
    uint32_t result = error::success;
    RegistryTree* tree = ReadRoot(root, result);
    if (tree == nullptr) {
        return result;
    }
    const RegistryKeyNode* node = Node(*tree, path, result);
    return node == nullptr ? result : node->Enum(index, name, nameSize, type, data, dataSize);
}

uint32_t TreeRegistry::CloseKey(RegistryKey key) {
    if (key == RegistryKey::currentUser || key == RegistryKey::localMachine) {
        return error::success;
    }
    const auto slot = static_cast<uintptr_t>(key) - 1;
    if (slot >= keys_.size() || !keys_[slot].open) {
        return error::invalidHandle;
    }
    keys_[slot].open = false;
    keys_[slot].path.clear();
    return error::success;
}

size_t TreeRegistry::OpenKeyCount() const {
    size_t count = 0;
    for (const OpenKeyRecord& record : keys_) {
        count += record.open ? 1 : 0;
    }
    return count;
}

} // namespace tavro::platform

#include "platform/RegistryTree.h"

#include "platform/ErrorCodes.h"

#include <stddef.h>
#include <string.h>

namespace tavro::platform {
namespace {

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// A Win32 call with a buffer but no size to tell its length is rejected before anything is
// touched; the same holds for every copy below.
uint32_t CopyData(const RegistryValueEntry& value, uint32_t* type, void* data, uint32_t* size) {
    const auto length = static_cast<uint32_t>(value.data.size());
    if (type != nullptr) {
        *type = value.type;
    }
    if (data != nullptr) {
        if (*size < length) {
            *size = length;
            return error::moreData;
        }
        if (length != 0) {
            memcpy(data, value.data.data(), length);
        }
    }
    if (size != nullptr) {
        *size = length;
    }
    return error::success;
}

} // namespace

std::string FoldRegistryName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

uint32_t AppendRegistryPath(std::string& path, std::string_view subKey) {
    if (!subKey.empty() && subKey.back() == '\\') {
        subKey.remove_suffix(1);
        if (subKey.empty()) {
            return error::badPathName;
        }
    }
    if (subKey.empty()) {
        return error::success;
    }
    std::string joined = path;
    size_t start = 0;
    for (;;) {
        size_t end = subKey.find('\\', start);
        if (end == std::string_view::npos) {
            end = subKey.size();
        }
        const std::string_view name = subKey.substr(start, end - start);
        if (name.empty()) {
            return error::badPathName;
        }
        if (name.size() > registryKeyNameMax) {
            return error::invalidParameter;
        }
        for (char c : name) {
            if (IsControl(c)) {
                return error::invalidParameter;
            }
        }
        if (!joined.empty()) {
            joined += '\\';
        }
        joined += name;
        if (end == subKey.size()) {
            break;
        }
        start = end + 1;
    }
    path = std::move(joined);
    return error::success;
}

bool IsValidRegistryValueName(std::string_view name) {
    if (name.size() > registryValueNameMax) {
        return false;
    }
    for (char c : name) {
        if (IsControl(c)) {
            return false;
        }
    }
    return true;
}

const RegistryValueEntry* RegistryKeyNode::Find(std::string_view name) const {
    const auto found = index_.find(FoldRegistryName(name));
    return found == index_.end() ? nullptr : &values_[found->second];
}

uint32_t RegistryKeyNode::Query(std::string_view name, uint32_t* type, void* data,
                                uint32_t* size) const {
    if (data != nullptr && size == nullptr) {
        return error::invalidParameter;
    }
    const RegistryValueEntry* value = Find(name);
    if (value == nullptr) {
        return error::fileNotFound;
    }
    return CopyData(*value, type, data, size);
}

uint32_t RegistryKeyNode::Enum(uint32_t index, char* name, uint32_t* nameSize, uint32_t* type,
                               void* data, uint32_t* dataSize) const {
    if (name == nullptr || nameSize == nullptr || (data != nullptr && dataSize == nullptr)) {
        return error::invalidParameter;
    }
    if (index >= values_.size()) {
        return error::noMoreItems;
    }
    const RegistryValueEntry& value = values_[index];
    const auto length = static_cast<uint32_t>(value.name.size());
    if (*nameSize <= length) {
        return error::moreData;
    }
    memcpy(name, value.name.c_str(), length + 1);
    *nameSize = length;
    return CopyData(value, type, data, dataSize);
}

uint32_t RegistryKeyNode::Set(std::string_view name, uint32_t type, const void* data, uint32_t size,
                              bool& changed) {
    changed = false;
    if (!IsValidRegistryValueName(name) || (data == nullptr && size != 0) ||
        size > registryValueDataMax) {
        return error::invalidParameter;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::string folded = FoldRegistryName(name);
    const auto found = index_.find(folded);
    if (found != index_.end()) {
        RegistryValueEntry& value = values_[found->second];
        const bool same = value.type == type && value.data.size() == size &&
                          (size == 0 || memcmp(value.data.data(), bytes, size) == 0);
        if (!same) {
            value.type = type;
            value.data.assign(bytes, bytes + size);
            changed = true;
        }
        return error::success;
    }
    RegistryValueEntry value;
    value.name = std::string(name);
    value.type = type;
    value.data.assign(bytes, bytes + size);
    values_.push_back(std::move(value));
    index_.emplace(std::move(folded), values_.size() - 1);
    changed = true;
    return error::success;
}

uint32_t RegistryKeyNode::Delete(std::string_view name) {
    const auto found = index_.find(FoldRegistryName(name));
    if (found == index_.end()) {
        return error::fileNotFound;
    }
    const size_t position = found->second;
    values_.erase(values_.begin() + static_cast<ptrdiff_t>(position));
    index_.erase(found);
    for (auto& entry : index_) {
        if (entry.second > position) {
            --entry.second;
        }
    }
    return error::success;
}

void RegistryTree::Clear() {
    keys_.clear();
    index_.clear();
    keys_.emplace_back(std::string());
    index_.emplace(std::string(), 0);
}

RegistryKeyNode* RegistryTree::Find(std::string_view path) {
    const auto found = index_.find(FoldRegistryName(path));
    return found == index_.end() ? nullptr : &keys_[found->second];
}

const RegistryKeyNode* RegistryTree::Find(std::string_view path) const {
    const auto found = index_.find(FoldRegistryName(path));
    return found == index_.end() ? nullptr : &keys_[found->second];
}

RegistryKeyNode& RegistryTree::Create(std::string_view path, bool& created) {
    created = false;
    if (RegistryKeyNode* existing = Find(path)) {
        return *existing;
    }
    // Make the keys above first, so that every key follows its parent in Keys(); a key's
    // path spells the keys above it as they were first made, so each name has one spelling.
    std::string spelled;
    const size_t separator = path.rfind('\\');
    if (separator != std::string_view::npos) {
        bool parentCreated = false;
        spelled = Create(path.substr(0, separator), parentCreated).Path() + '\\';
    }
    spelled += path.substr(separator == std::string_view::npos ? 0 : separator + 1);
    keys_.emplace_back(std::move(spelled));
    index_.emplace(FoldRegistryName(path), keys_.size() - 1);
    created = true;
    return keys_.back();
}

} // namespace tavro::platform

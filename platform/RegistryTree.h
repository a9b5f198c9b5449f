// One registry root held in memory: its keys, their values in order, and the Win32 rules for
// naming, querying and enumerating them. The POSIX file store and the in-memory registry of
// the tests both keep their data in this form, so they behave the same to the byte.
#pragma once

#include "platform/Registry.h"

#include <deque>
#include <stdint.h>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tavro::platform {

// The largest value these stores accept; Windows advises files for anything beyond 2 KB.
inline constexpr uint32_t registryValueDataMax = 1024 * 1024;

struct RegistryValueEntry {
    std::string name; // as first stored; "" is the key's default value
    uint32_t type = regNone;
    std::vector<uint8_t> data;
};

// ASCII lower case, the form in which names are compared.
std::string FoldRegistryName(std::string_view name);

// Appends `subKey` to the key path `path` ("" is the root). A path is a sequence of names of
// 1 to 255 characters without control characters, joined by single backslashes; one trailing
// backslash is ignored. A leading backslash or an empty name gives error::badPathName, an
// overlong name or a control character error::invalidParameter.
uint32_t AppendRegistryPath(std::string& path, std::string_view subKey);

// Whether `name` can name a value: at most 16383 characters, none of them a control
// character (the text form of the file store has no escape for them).
bool IsValidRegistryValueName(std::string_view name);

class RegistryKeyNode {
public:
    explicit RegistryKeyNode(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    const std::vector<RegistryValueEntry>& Values() const { return values_; }
    const RegistryValueEntry* Find(std::string_view name) const;

    // The Registry operations on this key, with their contracts (see Registry.h).
    uint32_t Query(std::string_view name, uint32_t* type, void* data, uint32_t* size) const;
    uint32_t Enum(uint32_t index, char* name, uint32_t* nameSize, uint32_t* type, void* data,
                  uint32_t* dataSize) const;
    // Stores the value (in place when it exists, else at the end); `changed` tells whether
    // anything differs from before.
    uint32_t Set(std::string_view name, uint32_t type, const void* data, uint32_t size,
                 bool& changed);
    uint32_t Delete(std::string_view name);

private:
    std::string path_;
    std::vector<RegistryValueEntry> values_;
    std::unordered_map<std::string, size_t> index_; // folded name -> position in values_
};

class RegistryTree {
public:
    RegistryTree() { Clear(); }

    // Back to a root key without values or subkeys.
    void Clear();

    // `path` as made by AppendRegistryPath. Null when there is no such key.
    RegistryKeyNode* Find(std::string_view path);
    const RegistryKeyNode* Find(std::string_view path) const;

    // The key, made together with any missing key above it; `created` tells whether anything
    // was new. `path` must be valid.
    RegistryKeyNode& Create(std::string_view path, bool& created);

    // Every key, each after the keys above it, in the order they were made; the root first.
    const std::deque<RegistryKeyNode>& Keys() const { return keys_; }

private:
    std::deque<RegistryKeyNode> keys_;              // references stay valid as keys are added
    std::unordered_map<std::string, size_t> index_; // folded path -> position in keys_
};

} // namespace tavro::platform

// The Registry operations over one RegistryTree per root. What a store does with its trees
// (keep them in memory, or read and write them as files) lives in the three hooks.
#pragma once

#include "platform/Registry.h"
#include "platform/RegistryTree.h"

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

namespace tavro::platform {

inline constexpr size_t registryRootCount = 2; // 0 current user, 1 local machine

class TreeRegistry : public Registry {
public:
    uint32_t CreateKey(RegistryKey parent, const char* subKey, RegistryKey& key) override;
    uint32_t OpenKey(RegistryKey parent, const char* subKey, RegistryKey& key) override;
    uint32_t QueryValue(RegistryKey key, const char* name, uint32_t* type, void* data,
                        uint32_t* size) override;
    uint32_t SetValue(RegistryKey key, const char* name, uint32_t type, const void* data,
                      uint32_t size) override;
    uint32_t DeleteValue(RegistryKey key, const char* name) override;
    uint32_t EnumValue(RegistryKey key, uint32_t index, char* name, uint32_t* nameSize,
                       uint32_t* type, void* data, uint32_t* dataSize) override;
    uint32_t CloseKey(RegistryKey key) override;

    // Open handles other than the roots, so tests can see that every key was closed.
    size_t OpenKeyCount() const;

protected:
    // The current tree of `root` to read, or null with the reason in `result`.
    virtual RegistryTree* ReadRoot(size_t root, uint32_t& result) = 0;
    // The current tree of `root` to change; every successful call is followed by exactly one
    // FinishChange, which keeps the change (`changed`) or has nothing to keep.
    virtual RegistryTree* BeginChange(size_t root, uint32_t& result) = 0;
    virtual uint32_t FinishChange(size_t root, bool changed) = 0;

private:
    struct OpenKeyRecord {
        bool open = false;
        size_t root = 0;
        std::string path;
    };

    // The root and path a handle stands for; false for a handle that is not open.
    bool Resolve(RegistryKey key, size_t& root, std::string& path) const;
    // The root and full path of `subKey` below `parent`.
    uint32_t SubKeyPath(RegistryKey parent, const char* subKey, size_t& root,
                        std::string& path) const;
    uint32_t Allocate(size_t root, std::string path, RegistryKey& key);
    // The key a handle stands for in a tree just read; error::keyDeleted when it has gone
    // (the file was edited by someone else).
    RegistryKeyNode* Node(RegistryTree& tree, const std::string& path, uint32_t& result);

    std::vector<OpenKeyRecord> keys_;
};

} // namespace tavro::platform

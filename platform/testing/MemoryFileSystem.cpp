#include "platform/testing/MemoryFileSystem.h"

#include "platform/ErrorCodes.h"

#include <string.h>

namespace tavro::platform::testing {

class MemoryFile final : public File {
public:
    MemoryFile(MemoryFileSystem& owner, std::string path,
               std::shared_ptr<MemoryFileSystem::FileNode> node, bool readable)
        : owner_(owner), path_(std::move(path)), node_(std::move(node)), readable_(readable) {
        ++node_->openCount;
        if (readable_) {
            ++node_->readers;
        }
    }
    ~MemoryFile() override { Close(); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    uint32_t Read(void* bytes, uint32_t length, uint32_t& read) override {
        read = 0;
        if (node_ == nullptr) {
            return error::invalidHandle;
        }
        if (!readable_) {
            return error::accessDenied;
        }
        owner_.calls_.push_back("Read " + path_ + " " + std::to_string(length));
        const std::string& contents = node_->contents;
        const size_t left = position_ < contents.size() ? contents.size() - position_ : 0;
        size_t take = length < left ? length : left;
        if (take > owner_.readLimit_) {
            take = owner_.readLimit_;
        }
        memcpy(bytes, contents.data() + position_, take);
        position_ += take;
        read = static_cast<uint32_t>(take);
        return error::success;
    }

    uint32_t Write(const void* bytes, uint32_t length, uint32_t& written) override {
        written = 0;
        if (node_ == nullptr) {
            return error::invalidHandle;
        }
        if (readable_) {
            return error::accessDenied;
        }
        owner_.calls_.push_back("Write " + path_ + " " + std::to_string(length));
        const uint32_t take = length < owner_.writeLimit_ ? length : owner_.writeLimit_;
        node_->contents.append(static_cast<const char*>(bytes), take);
        written = take;
        return take < length ? owner_.writeLimitError_ : error::success;
    }

    uint32_t Close() override {
        if (node_ == nullptr) {
            return error::success;
        }
        owner_.calls_.push_back("Close " + path_);
        --node_->openCount;
        if (readable_) {
            --node_->readers;
        }
        node_.reset();
        return error::success;
    }

private:
    MemoryFileSystem& owner_;
    std::string path_;
    std::shared_ptr<MemoryFileSystem::FileNode> node_;
    bool readable_;
    size_t position_ = 0;
};

MemoryFileSystem::MemoryFileSystem(PathStyle style) : style_(style) {}

MemoryFileSystem::~MemoryFileSystem() = default;

void MemoryFileSystem::AddDirectory(const std::string& path) {
    directories_.insert(path);
}

void MemoryFileSystem::AddFile(const std::string& path, const std::string& contents) {
    auto node = std::make_shared<FileNode>();
    node->contents = contents;
    files_[path] = std::move(node);
}

bool MemoryFileSystem::HasDirectory(const std::string& path) const {
    return directories_.count(path) != 0;
}

bool MemoryFileSystem::HasFile(const std::string& path) const {
    return files_.count(path) != 0;
}

std::string MemoryFileSystem::Contents(const std::string& path) const {
    const auto found = files_.find(path);
    return found != files_.end() ? found->second->contents : std::string();
}

std::vector<std::string> MemoryFileSystem::Files() const {
    std::vector<std::string> names;
    for (const auto& file : files_) {
        names.push_back(file.first);
    }
    return names;
}

std::vector<std::string> MemoryFileSystem::Directories() const {
    return std::vector<std::string>(directories_.begin(), directories_.end());
}

uint32_t MemoryFileSystem::OpenFiles() const {
    uint32_t open = 0;
    for (const auto& file : files_) {
        open += file.second->openCount;
    }
    return open;
}

void MemoryFileSystem::FailOpens(uint32_t count, uint32_t error) {
    openFailures_ = count;
    openFailure_ = error;
}

void MemoryFileSystem::FailReadOpens(uint32_t count, uint32_t error) {
    readOpenFailures_ = count;
    readOpenFailure_ = error;
}

bool MemoryFileSystem::InProtectedDirectory(const std::string& path) const {
    return protected_.count(Parent(path)) != 0;
}

void MemoryFileSystem::LimitWrites(uint32_t bytesPerCall, uint32_t error) {
    writeLimit_ = bytesPerCall;
    writeLimitError_ = error;
}

std::string MemoryFileSystem::Parent(const std::string& path) const {
    const char* separators = style_ == PathStyle::Windows ? "\\/" : "/";
    const size_t last = path.find_last_of(separators);
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

bool MemoryFileSystem::ParentExists(const std::string& path) const {
    const std::string parent = Parent(path);
    return parent.empty() || HasDirectory(parent);
}

uint32_t MemoryFileSystem::MakeDirectory(const char* path) {
    const std::string name = path != nullptr ? path : "";
    calls_.push_back("MakeDirectory " + name);
    if (directoryFailure_ != error::success) {
        return directoryFailure_;
    }
    if (name.empty()) {
        return error::pathNotFound;
    }
    if (HasDirectory(name) || HasFile(name)) {
        return error::alreadyExists;
    }
    if (!ParentExists(name)) {
        return error::pathNotFound;
    }
    directories_.insert(name);
    return error::success;
}

std::unique_ptr<File>
MemoryFileSystem::OpenForWriting(const char* path, FileDisposition disposition, uint32_t& error) {
    const std::string name = path != nullptr ? path : "";
    calls_.push_back("OpenForWriting " + name +
                     (disposition == FileDisposition::CreateNew ? " CreateNew" : " CreateAlways"));
    error = error::success;
    if (openFailures_ != 0) {
        --openFailures_;
        error = openFailure_;
    } else if (name.empty() || !ParentExists(name)) {
        error = error::pathNotFound;
    } else if (HasDirectory(name) || InProtectedDirectory(name)) {
        error = error::accessDenied;
    }
    if (error != error::success) {
        return nullptr;
    }
    auto found = files_.find(name);
    if (found != files_.end()) {
        if (disposition == FileDisposition::CreateNew) {
            error = error::fileExists;
            return nullptr;
        }
        if (found->second->readers != 0) {
            error = error::sharingViolation; // readers share reading only
            return nullptr;
        }
        // Both opens share reading and writing, so an open file may be emptied too.
        found->second->contents.clear();
        return std::make_unique<MemoryFile>(*this, name, found->second, false);
    }
    auto node = std::make_shared<FileNode>();
    files_[name] = node;
    return std::make_unique<MemoryFile>(*this, name, std::move(node), false);
}

std::unique_ptr<File> MemoryFileSystem::OpenForReading(const char* path, uint32_t& error) {
    const std::string name = path != nullptr ? path : "";
    calls_.push_back("OpenForReading " + name);
    if (readOpenFailures_ != 0) {
        --readOpenFailures_;
        error = readOpenFailure_;
        return nullptr;
    }
    const auto found = files_.find(name);
    if (found == files_.end()) {
        error = HasDirectory(name)   ? error::accessDenied
                : ParentExists(name) ? error::fileNotFound
                                     : error::pathNotFound;
        return nullptr;
    }
    // A file open for writing shares reading with everyone, so it can be read meanwhile.
    error = error::success;
    return std::make_unique<MemoryFile>(*this, name, found->second, true);
}

uint32_t MemoryFileSystem::RemoveFile(const char* path) {
    const std::string name = path != nullptr ? path : "";
    calls_.push_back("RemoveFile " + name);
    const auto found = files_.find(name);
    if (found == files_.end()) {
        return HasDirectory(name) ? error::accessDenied : error::fileNotFound;
    }
    if (InProtectedDirectory(name)) {
        return error::accessDenied;
    }
    if (found->second->openCount != 0) {
        return error::sharingViolation; // opened without delete sharing
    }
    files_.erase(found);
    return error::success;
}

uint32_t MemoryFileSystem::ModulePath(char* buffer, uint32_t size, uint32_t& length) {
    length = 0;
    if (buffer == nullptr || size == 0) {
        return error::insufficientBuffer;
    }
    if (modulePath_.size() >= size) {
        buffer[0] = '\0';
        return error::insufficientBuffer;
    }
    memcpy(buffer, modulePath_.c_str(), modulePath_.size() + 1);
    length = static_cast<uint32_t>(modulePath_.size());
    return error::success;
}

uint32_t MemoryFileSystem::SystemDirectory(char* buffer, uint32_t size, uint32_t& length) {
    length = 0;
    if (buffer == nullptr || size == 0) {
        return error::insufficientBuffer;
    }
    buffer[0] = '\0';
    if (systemDirectory_.empty()) {
        return error::fileNotFound;
    }
    if (systemDirectory_.size() >= size) {
        return error::insufficientBuffer;
    }
    memcpy(buffer, systemDirectory_.c_str(), systemDirectory_.size() + 1);
    length = static_cast<uint32_t>(systemDirectory_.size());
    return error::success;
}

} // namespace tavro::platform::testing

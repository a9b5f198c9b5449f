// The registries the parametrised tests run against: in memory, and the file store in a
// temporary folder of its own.
#pragma once

#include "platform/ErrorCodes.h"
#include "platform/posix/FileRegistry.h"
#include "platform/testing/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace tavro::testing {

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavro-reg-XXXXXX");
        path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

enum class RegistryKind { memory, file };

inline std::string KindName(const ::testing::TestParamInfo<RegistryKind>& info) {
    return info.param == RegistryKind::memory ? "Memory" : "FileStore";
}

// A fixture base: `registry()` is a fresh registry of the test's kind; Reopen() stands for the
// next run of the program (a new file store over the same folder; memory stays as it is).
class RegistryTest : public ::testing::TestWithParam<RegistryKind> {
protected:
    void SetUp() override {
        if (GetParam() == RegistryKind::memory) {
            registry_ = std::make_unique<platform::MemoryRegistry>();
        } else {
            ASSERT_FALSE(folder_.Path().empty());
            registry_ = std::make_unique<platform::FileRegistry>(folder_.Path() + "/tavro");
        }
    }
    void Reopen() {
        if (GetParam() == RegistryKind::file) {
            registry_ = std::make_unique<platform::FileRegistry>(folder_.Path() + "/tavro");
        }
    }
    platform::TreeRegistry& registry() { return *registry_; }

    TemporaryFolder folder_;
    std::unique_ptr<platform::TreeRegistry> registry_;
};

} // namespace tavro::testing

// Where the receiver recordings are, and what a test that reads them does when they are missing:
// it is skipped with the reason, or fails where they are required (TAVRO_REQUIRE_CORPUS=1, as CI
// sets it, so that a missing corpus never passes for a green run).
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace tavro::testing {

// $TAVRO_CORPUS_DIR, else the folder the build was configured with (../shared/corpus).
inline std::string CorpusRoot() {
    if (const char* dir = std::getenv("TAVRO_CORPUS_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    return TAVRO_CORPUS_DIR;
}

// Empty when the recordings are there; else why a test that needs them cannot run.
inline std::string CorpusMissingReason() {
    const std::string root = CorpusRoot();
    struct stat info {};
    if (stat((root + "/gpsd").c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return "";
    }
    return "the receiver recordings are not in " + root +
           " (set TAVRO_CORPUS_DIR to the corpus folder)";
}

inline bool CorpusRequired() {
    const char* value = std::getenv("TAVRO_REQUIRE_CORPUS");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

} // namespace tavro::testing

// First statement of a test (or of a fixture's SetUp) that reads the recordings (GoogleTest
// included before).
#define TAVRO_NEEDS_CORPUS()                                                                       \
    do {                                                                                           \
        const std::string corpusMissing = ::tavro::testing::CorpusMissingReason();                 \
        if (!corpusMissing.empty()) {                                                              \
            if (::tavro::testing::CorpusRequired()) {                                              \
                FAIL() << corpusMissing << "; TAVRO_REQUIRE_CORPUS is set";                        \
            }                                                                                      \
            GTEST_SKIP() << corpusMissing;                                                         \
        }                                                                                          \
    } while (0)

// Receiving a chunk in bulk (skipping bytes that cannot complete anything) must be
// indistinguishable from running both checks after every byte: the same completions, data,
// exchange blocks and debug lines, for many random request sequences.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/driver/RequestScript.h"

namespace tavro::driver::testing {
namespace {

TEST(BulkReceiveTest, MatchesByteByByteReceiving) {
    std::mt19937 random(20261207);
    size_t totalRequests = 0;
    size_t withData = 0;
    for (int script = 0; script < 600; ++script) {
        std::vector<uint8_t> bytes(200 + random() % 3000);
        for (auto& byte : bytes) {
            byte = static_cast<uint8_t>(random());
        }
        ScriptResult bulk = RunRequestScript(bytes.data(), bytes.size(), true);
        ScriptResult single = RunRequestScript(bytes.data(), bytes.size(), false);
        ASSERT_EQ(bulk.trace, single.trace) << "script " << script;
        EXPECT_EQ(bulk.completed, bulk.requests) << "script " << script;
        totalRequests += bulk.requests;
        withData += bulk.trace.find("completeRead C0") != std::string::npos ? 1 : 0;
    }
    // The scripts must really exercise the queues, or the comparison proves little.
    EXPECT_GT(totalRequests, 10'000u);
    EXPECT_GT(withData, 100u);
}

} // namespace
} // namespace tavro::driver::testing

// Random sequences of requests (random codes, lengths and buffers) at the virtual ports and
// the control device. Besides the sanitizers' findings, a run fails when a completion rule is
// broken, when a request never ends, when a port's counters do not return to zero, when memory
// is not given back, or when bulk receiving and byte-by-byte receiving disagree.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "sys/usermode/UserServices.h"
#include "tests/driver/RequestScript.h"

using namespace tavro::driver;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto before = usermode::Allocations();
    testing::ScriptResult bulk = testing::RunRequestScript(data, size, true);
    testing::ScriptResult single = testing::RunRequestScript(data, size, false);
    auto after = usermode::Allocations();

    if (bulk.completed != bulk.requests) {
        fprintf(stderr, "%zu of %zu requests never ended\n", bulk.requests - bulk.completed,
                bulk.requests);
        abort();
    }
    if (bulk.trace != single.trace) {
        fprintf(stderr, "bulk receiving differs from byte-by-byte receiving\n");
        abort();
    }
    if (after.allocations - before.allocations != after.releases - before.releases) {
        fprintf(stderr, "driver memory not released\n");
        abort();
    }
    return 0;
}

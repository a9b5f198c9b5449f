// Runs a sequence of requests, decoded from arbitrary bytes, against a user-mode driver and
// records everything observable: each completion (status, bytes returned, data), each exchange
// block and every debug line. Used by the fuzz target and by the test that compares bulk
// receiving with byte-by-byte receiving.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace tavro::driver::testing {

struct ScriptResult {
    std::string trace;    // one line per observable event
    size_t requests = 0;  // requests dispatched
    size_t completed = 0; // of those, completed (must equal requests at the end)
};

// Runs the script on a fresh driver with ports 0, 1 and 5 configured. With `bulkReceive` off
// the ports run both checks after every received byte. Faults of the completion rules abort.
ScriptResult RunRequestScript(const uint8_t* data, size_t size, bool bulkReceive);

} // namespace tavro::driver::testing

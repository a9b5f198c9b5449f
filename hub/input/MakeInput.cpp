// SPDX-License-Identifier: Apache-2.0
#include "hub/input/MakeInput.h"

#include "hub/input/NetworkSource.h"
#include "hub/input/SerialInput.h"

#include <new>

namespace tavro {

std::unique_ptr<Input> MakeInput(const InputDescription& description, const InputSystem& system,
                                 SourceRecord& record, uint32_t& error) {
    std::unique_ptr<Input> input;
    error = error::success;
    if (description.address.kind == SourceKind::Serial) {
        input.reset(new (std::nothrow) SerialInput(system.serialPorts, description.comNumber,
                                                   description.arrival));
    } else if (system.network == nullptr || system.threads == nullptr) {
        error = error::notSupported;
        return nullptr;
    } else {
        input.reset(new (std::nothrow) NetworkSource(*system.network, *system.threads,
                                                     system.timing, description.address, record));
    }
    if (input == nullptr) {
        error = error::notEnoughMemory;
    }
    return input;
}

} // namespace tavro

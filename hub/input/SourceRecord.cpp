// SPDX-License-Identifier: Apache-2.0
#include "hub/input/SourceRecord.h"

namespace tavro {

const char* SourceStateName(SourceState state) {
    switch (state) {
    case SourceState::Resolving:
        return "resolving";
    case SourceState::Connecting:
        return "connecting";
    case SourceState::Connected:
        return "connected";
    case SourceState::Listening:
        return "listening";
    case SourceState::Waiting:
        return "reconnecting";
    case SourceState::Closed:
        break;
    }
    return "closed";
}

} // namespace tavro

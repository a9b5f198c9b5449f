#include "platform/testing/FakeTiming.h"

namespace tavro::platform::testing {

void FakeTiming::Sleep(uint32_t milliseconds) {
    sleeps_.push_back(milliseconds);
    now_ += milliseconds;
}

} // namespace tavro::platform::testing

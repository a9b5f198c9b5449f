// How many bytes a UART at a given speed puts on the line in the time that passed: one start
// bit, eight data bits and one stop bit per byte, so baud / 10 bytes per second.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro::gpssim {

class BytePacer {
public:
    BytePacer(uint32_t baud, uint64_t nowMs);

    // Changes the speed from `nowMs` on; time before it counts at the old speed.
    void SetBaud(uint32_t baud, uint64_t nowMs);
    uint32_t Baud() const { return baud_; }

    // Bytes the line can carry now. Credit saved while idle is capped at 100 ms worth: a
    // UART with nothing to send does not get to send faster later.
    size_t Allowance(uint64_t nowMs);

    // Records that `bytes` (no more than the allowance) were sent.
    void Consume(size_t bytes);

private:
    void Accrue(uint64_t nowMs);

    uint32_t baud_;
    uint64_t lastMs_;
    double credit_ = 0; // bytes
};

} // namespace tavro::gpssim

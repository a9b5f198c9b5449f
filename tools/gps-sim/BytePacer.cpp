#include "tools/gps-sim/BytePacer.h"

#include <algorithm>

namespace tavro::gpssim {
namespace {

double BytesPerMs(uint32_t baud) {
    return baud / 10.0 / 1000.0;
}

} // namespace

BytePacer::BytePacer(uint32_t baud, uint64_t nowMs) : baud_(baud), lastMs_(nowMs) {}

void BytePacer::Accrue(uint64_t nowMs) {
    if (nowMs > lastMs_) {
        const double cap = std::max(16.0, BytesPerMs(baud_) * 100.0);
        credit_ = std::min(cap, credit_ + BytesPerMs(baud_) * static_cast<double>(nowMs - lastMs_));
    }
    lastMs_ = std::max(lastMs_, nowMs);
}

void BytePacer::SetBaud(uint32_t baud, uint64_t nowMs) {
    Accrue(nowMs);
    baud_ = baud;
}

size_t BytePacer::Allowance(uint64_t nowMs) {
    Accrue(nowMs);
    return credit_ >= 1.0 ? static_cast<size_t>(credit_) : 0;
}

void BytePacer::Consume(size_t bytes) {
    credit_ = std::max(0.0, credit_ - static_cast<double>(bytes));
}

} // namespace tavro::gpssim

#include "hub/install/DriverPackage.h"

namespace tavro {

uint32_t PackageSum(const uint8_t* bytes, uint32_t length) {
    uint32_t sum = 0;
    for (uint32_t at = 0; at < length; at += 4) {
        uint32_t word = 0;
        for (uint32_t i = 0; i < 4 && at + i < length; ++i) {
            word |= uint32_t{bytes[at + i]} << (8 * i);
        }
        sum += word; // unsigned: wraps around
    }
    return sum;
}

uint32_t FindDriverSignature(const uint8_t* bytes, uint32_t length) {
    if (length < sizeof driverSignature) {
        return length;
    }
    for (uint32_t at = 0; at <= length - sizeof driverSignature; ++at) {
        if (bytes[at] == driverSignature[0] && bytes[at + 1] == driverSignature[1] &&
            bytes[at + 2] == driverSignature[2] && bytes[at + 3] == driverSignature[3]) {
            return at;
        }
    }
    return length;
}

} // namespace tavro

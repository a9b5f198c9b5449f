// The serial port map of the POSIX edition: the COM links of the COM directory whose device
// is present.
#include "platform/SerialPortMap.h"

#include "platform/posix/ComDirectory.h"

namespace tavro::platform {
namespace {

class PosixSerialPortMap final : public SerialPortMap {
public:
    uint32_t List(SerialPortList& list) override {
        return posix::ComDirectory::FromEnvironment().List(list);
    }
};

} // namespace

SerialPortMap& SystemSerialPortMap() {
    static PosixSerialPortMap instance;
    return instance;
}

} // namespace tavro::platform

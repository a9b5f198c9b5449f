// No display power switch on POSIX: a terminal program or service owns no display, and the
// display servers have no common call for it. Every request fails.
#include "platform/DisplayPower.h"

namespace tavro::platform {
namespace {

class PosixDisplayPower final : public DisplayPower {
public:
    bool SetDisplayPower(DisplayState) override { return false; }
};

} // namespace

DisplayPower& SystemDisplayPower() {
    static PosixDisplayPower display;
    return display;
}

} // namespace tavro::platform

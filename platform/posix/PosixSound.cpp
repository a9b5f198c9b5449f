// No notification sounds on POSIX: a terminal program or service has no audio of its own.
#include "platform/Sound.h"

namespace tavro::platform {
namespace {

class PosixSound final : public Sound {
public:
    bool PlayFile(const char*) override { return false; }
};

} // namespace

Sound& SystemSound() {
    static PosixSound sound;
    return sound;
}

} // namespace tavro::platform

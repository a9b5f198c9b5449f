// Notification sounds through PlaySoundA, synchronously, never the system's default sound.
#include "platform/Sound.h"

#include <windows.h>

#include <mmsystem.h>

namespace tavro::platform {
namespace {

class Win32Sound final : public Sound {
public:
    bool PlayFile(const char* fileName) override {
        // SND_FILENAME | SND_NOWAIT | SND_NODEFAULT (0x22002), played to the end.
        return PlaySoundA(fileName, nullptr, SND_FILENAME | SND_NOWAIT | SND_NODEFAULT) != FALSE;
    }
};

} // namespace

Sound& SystemSound() {
    static Win32Sound sound;
    return sound;
}

} // namespace tavro::platform

// Short notification sounds from wave files, played to the end before the call returns.
// Windows: PlaySoundA with SND_FILENAME | SND_NOWAIT | SND_NODEFAULT.
#pragma once

namespace tavro::platform {

class Sound {
public:
    virtual ~Sound() = default;

    // Plays the wave file `fileName` (a name without a path is looked up the system's way)
    // synchronously. Returns false when it could not be played (no file, no audio device);
    // nothing else happens then, in particular no default sound is played.
    virtual bool PlayFile(const char* fileName) = 0;
};

// The adapter of the edition this program was built for (POSIX: plays nothing, returns
// false).
Sound& SystemSound();

} // namespace tavro::platform

// Display power: switches every monitor off or on, as the hub's video reset after start and
// resume does. Windows: BroadcastSystemMessageA to all components with BSF_FORCEIFHUNG,
// WM_SYSCOMMAND and SC_MONITORPOWER (lParam 2 off, -1 on); the call waits for the windows
// that answer. POSIX: not supported. Tests: a recording fake.
#pragma once

#include <stdint.h>

namespace tavro::platform {

// The SC_MONITORPOWER argument.
enum class DisplayState : int32_t {
    Off = 2,
    On = -1,
};

class DisplayPower {
public:
    // False when the broadcast failed or the system cannot do it; nothing else happens then.
    virtual bool SetDisplayPower(DisplayState state) = 0;

protected:
    // Never destroyed through this interface: the edition's switch lives as long as the program.
    ~DisplayPower() = default;
};

// The adapter of the edition this program was built for.
DisplayPower& SystemDisplayPower();

} // namespace tavro::platform

// How the setup tool reaches the hub: find its command window, then hand it one command at a
// time. Windows: FindWindowA("TavroMsgWnd") and WM_COPYDATA; POSIX: the command socket.
#pragma once

#include "common/HubCommand.h"

#include <stdint.h>

namespace tavro::setup {

class HubLink {
public:
    virtual ~HubLink() = default;

    // Looks for the running hub before a command. error::success when it is there,
    // error::fileNotFound when it is not.
    virtual uint32_t FindHub() = 0;

    // Hands one command to the hub found last and waits until it has been handled.
    // error::success, or why it did not arrive.
    virtual uint32_t Send(HubCommand code, const void* payload, uint32_t length) = 0;
};

} // namespace tavro::setup

// The DCB record keeps the Win32 layout and bit order.
#include "platform/SerialPort.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace tavro::platform {
namespace {

TEST(Dcb, LayoutMatchesWin32) {
    EXPECT_EQ(sizeof(Dcb), 28u);
    EXPECT_EQ(offsetof(Dcb, BaudRate), 4u);
    EXPECT_EQ(offsetof(Dcb, XonLim), 14u);
    EXPECT_EQ(offsetof(Dcb, XoffLim), 16u);
    EXPECT_EQ(offsetof(Dcb, ByteSize), 18u);
    EXPECT_EQ(offsetof(Dcb, Parity), 19u);
    EXPECT_EQ(offsetof(Dcb, StopBits), 20u);
    EXPECT_EQ(offsetof(Dcb, XonChar), 21u);
    EXPECT_EQ(offsetof(Dcb, EvtChar), 25u);
}

TEST(Dcb, NamedBitsAndTheFlagsWordAgree) {
    Dcb state;
    SetDcbFlags(state, 0);
    state.fBinary = 1;
    state.fParity = 1;
    state.fDtrControl = dcb::dtrControlEnable;
    state.fRtsControl = dcb::rtsControlEnable;
    // The hub's line set-up written as a mask: clear 0x232C, then set 0x1013.
    EXPECT_EQ(DcbFlags(state), 0x1013u);

    state.fOutxCtsFlow = 1;
    state.fOutxDsrFlow = 1;
    state.fDtrControl = dcb::dtrControlHandshake;
    state.fOutX = 1;
    state.fInX = 1;
    state.fRtsControl = dcb::rtsControlToggle;
    state.fDsrSensitivity = 1;
    state.fAbortOnError = 1;
    const uint32_t all = DcbFlags(state);
    EXPECT_EQ(all & 0x232Cu, 0x232Cu);
    EXPECT_EQ(((all & ~0x232Cu) | 0x1013u) & ~(dcb::flagDsrSensitivity | dcb::flagAbortOnError),
              0x1013u)
        << "the mask leaves only the bits the hub keeps from the system";

    for (uint32_t flags : {0x00000000u, 0x00007FFFu, 0xFFFFFFFFu, 0x12345678u, 0x80000000u}) {
        Dcb copy;
        SetDcbFlags(copy, flags);
        EXPECT_EQ(DcbFlags(copy), flags);
    }
    Dcb each;
    SetDcbFlags(each, dcb::flagTXContinueOnXoff | dcb::flagErrorChar | dcb::flagNull);
    EXPECT_EQ(each.fTXContinueOnXoff, 1u);
    EXPECT_EQ(each.fErrorChar, 1u);
    EXPECT_EQ(each.fNull, 1u);
    EXPECT_EQ(each.fBinary, 0u);
}

} // namespace
} // namespace tavro::platform

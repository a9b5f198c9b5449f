// How DCB fields map onto termios, for the formats a pseudo-terminal cannot show.
#include "platform/posix/DcbTermios.h"

#include "platform/ErrorCodes.h"

#include <gtest/gtest.h>

namespace tavro::platform::posix {
namespace {

termios Cooked() {
    termios settings{};
    settings.c_iflag = ICRNL | IXON | ISTRIP;
    settings.c_oflag = OPOST | ONLCR;
    settings.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    settings.c_cflag = CS8 | CREAD;
    return settings;
}

TEST(DcbTermios, EveryParityAndSizeSurvivesTheRoundTrip) {
    for (uint8_t byteSize = 5; byteSize <= 8; ++byteSize) {
        for (uint8_t parity = dcb::noParity; parity <= dcb::spaceParity; ++parity) {
            SCOPED_TRACE(testing::Message() << int{byteSize} << " bits, parity " << int{parity});
            Dcb wanted;
            wanted.BaudRate = 4800;
            wanted.ByteSize = byteSize;
            wanted.Parity = parity;
            wanted.fParity = 1;
            wanted.StopBits = byteSize == 5 ? dcb::one5StopBits : dcb::twoStopBits;
            ASSERT_EQ(ValidateDcb(wanted), error::success);
            termios settings = Cooked();
            ApplyDcb(wanted, settings);
            Dcb back;
            ReadDcb(settings, back);
            EXPECT_EQ(back.ByteSize, byteSize);
            EXPECT_EQ(back.Parity, parity);
            EXPECT_EQ(back.StopBits, wanted.StopBits);
            EXPECT_EQ(back.fParity, parity == dcb::noParity ? Dcb{}.fParity : 1u);
            EXPECT_EQ((settings.c_iflag & INPCK) != 0, parity != dcb::noParity);
        }
    }
}

TEST(DcbTermios, ParityBitsAreTheOnesLinuxUses) {
    Dcb state;
    state.BaudRate = 9600;
    termios settings = Cooked();
    state.Parity = dcb::oddParity;
    ApplyDcb(state, settings);
    EXPECT_EQ(settings.c_cflag & (PARENB | PARODD | CMSPAR),
              static_cast<tcflag_t>(PARENB | PARODD));
    state.Parity = dcb::markParity;
    ApplyDcb(state, settings);
    EXPECT_EQ(settings.c_cflag & (PARENB | PARODD | CMSPAR),
              static_cast<tcflag_t>(PARENB | PARODD | CMSPAR));
    state.Parity = dcb::spaceParity;
    ApplyDcb(state, settings);
    EXPECT_EQ(settings.c_cflag & (PARENB | PARODD | CMSPAR),
              static_cast<tcflag_t>(PARENB | CMSPAR));
}

TEST(DcbTermios, ApplyingMakesTheLineRawAndLeavesNoFlowControlBehind) {
    termios settings = Cooked();
    settings.c_cflag |= CRTSCTS;
    Dcb state;
    state.BaudRate = 4800;
    ApplyDcb(state, settings);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_iflag & (ICRNL | ISTRIP | IXON | IXOFF), 0u);
    EXPECT_EQ(settings.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(settings.c_cflag & CLOCAL, 0u) << "modem status lines must not block the port";

    // Flow control set elsewhere shows up as the DCB fields Windows would report.
    settings.c_cflag |= CRTSCTS;
    Dcb back;
    ReadDcb(settings, back);
    EXPECT_EQ(back.fOutxCtsFlow, 1u);
    EXPECT_EQ(back.fRtsControl, dcb::rtsControlHandshake);
}

TEST(DcbTermios, ImpossibleValuesAreInvalid) {
    Dcb good;
    good.BaudRate = 4800;
    ASSERT_EQ(ValidateDcb(good), error::success);
    Dcb bad = good;
    bad.ByteSize = 4;
    EXPECT_EQ(ValidateDcb(bad), error::invalidParameter);
    bad = good;
    bad.StopBits = 3;
    EXPECT_EQ(ValidateDcb(bad), error::invalidParameter);
    bad = good;
    bad.fInX = 1;
    bad.XonChar = bad.XoffChar = 0x11;
    EXPECT_EQ(ValidateDcb(bad), error::invalidParameter);
    bad.fInX = 0; // equal characters are harmless without XON/XOFF
    EXPECT_EQ(ValidateDcb(bad), error::success);
}

} // namespace
} // namespace tavro::platform::posix

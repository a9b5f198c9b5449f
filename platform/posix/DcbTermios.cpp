#include "platform/posix/DcbTermios.h"

#include "platform/ErrorCodes.h"

namespace tavro::platform::posix {
namespace {

tcflag_t DataBitsFlag(uint8_t byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

uint8_t DataBitsFromFlag(tcflag_t flags) {
    switch (flags & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

bool WantsCtsHandshake(const Dcb& state) {
    return state.fOutxCtsFlow || state.fRtsControl == dcb::rtsControlHandshake;
}

constexpr tcflag_t formatFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t inputFlags = IXON | IXOFF | INPCK;

} // namespace

uint32_t ValidateDcb(const Dcb& state) {
    if (state.BaudRate == 0 || state.ByteSize < 5 || state.ByteSize > 8 ||
        state.Parity > dcb::spaceParity || state.StopBits > dcb::twoStopBits) {
        return error::invalidParameter;
    }
    if ((state.StopBits == dcb::one5StopBits && state.ByteSize != 5) ||
        (state.StopBits == dcb::twoStopBits && state.ByteSize == 5)) {
        return error::invalidParameter;
    }
    if ((state.fOutX || state.fInX) && state.XonChar == state.XoffChar) {
        return error::invalidParameter;
    }
    return error::success;
}

void MakeRaw(termios& settings) {
    settings.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IMAXBEL | IUCLC);
    settings.c_oflag &= ~OPOST;
    settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
}

void ApplyDcb(const Dcb& state, termios& settings) {
    MakeRaw(settings);
    settings.c_cflag &= ~formatFlags;
    settings.c_cflag |= DataBitsFlag(state.ByteSize);
    switch (state.Parity) {
    case dcb::oddParity:
        settings.c_cflag |= PARENB | PARODD;
        break;
    case dcb::evenParity:
        settings.c_cflag |= PARENB;
        break;
    case dcb::markParity:
        settings.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case dcb::spaceParity:
        settings.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (state.StopBits != dcb::oneStopBit) {
        settings.c_cflag |= CSTOPB; // 1.5 stop bits with 5 data bits, 2 otherwise
    }
    if (WantsCtsHandshake(state)) {
        settings.c_cflag |= CRTSCTS;
    }
    settings.c_iflag &= ~inputFlags;
    if (state.fOutX) {
        settings.c_iflag |= IXON;
    }
    if (state.fInX) {
        settings.c_iflag |= IXOFF;
    }
    if (state.fParity && state.Parity != dcb::noParity) {
        settings.c_iflag |= INPCK;
    }
    settings.c_cc[VSTART] = static_cast<cc_t>(state.XonChar);
    settings.c_cc[VSTOP] = static_cast<cc_t>(state.XoffChar);
}

void ReadDcb(const termios& settings, Dcb& state) {
    state.ByteSize = DataBitsFromFlag(settings.c_cflag);
    if (!(settings.c_cflag & PARENB)) {
        state.Parity = dcb::noParity;
    } else if (settings.c_cflag & CMSPAR) {
        state.Parity = settings.c_cflag & PARODD ? dcb::markParity : dcb::spaceParity;
    } else {
        state.Parity = settings.c_cflag & PARODD ? dcb::oddParity : dcb::evenParity;
    }
    if (!(settings.c_cflag & CSTOPB)) {
        state.StopBits = dcb::oneStopBit;
    } else {
        state.StopBits = state.ByteSize == 5 ? dcb::one5StopBits : dcb::twoStopBits;
    }
    if (state.Parity != dcb::noParity) {
        state.fParity = (settings.c_iflag & INPCK) != 0;
    }
    // fParity without a parity has no termios trace; it keeps the value that was set.
    const bool handshake = (settings.c_cflag & CRTSCTS) != 0;
    if (handshake && !WantsCtsHandshake(state)) {
        state.fOutxCtsFlow = 1;
        state.fRtsControl = dcb::rtsControlHandshake;
    } else if (!handshake && WantsCtsHandshake(state)) {
        state.fOutxCtsFlow = 0;
        if (state.fRtsControl == dcb::rtsControlHandshake) {
            state.fRtsControl = dcb::rtsControlEnable;
        }
    }
    state.fOutX = (settings.c_iflag & IXON) != 0;
    state.fInX = (settings.c_iflag & IXOFF) != 0;
    state.XonChar = static_cast<char>(settings.c_cc[VSTART]);
    state.XoffChar = static_cast<char>(settings.c_cc[VSTOP]);
}

bool SameLineFormat(const termios& wanted, const termios& actual) {
    return (wanted.c_cflag & formatFlags) == (actual.c_cflag & formatFlags) &&
           (wanted.c_iflag & inputFlags) == (actual.c_iflag & inputFlags);
}

} // namespace tavro::platform::posix

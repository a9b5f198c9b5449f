#include "hub/input/InputLine.h"

#include "platform/ErrorCodes.h"

namespace tavro {

void SetInputLine(platform::Dcb& state, uint32_t speed, uint8_t dataBits, uint8_t parity,
                  uint8_t stopBits) {
    state.DCBlength = sizeof(platform::Dcb);
    state.BaudRate = speed;
    state.ByteSize = dataBits;
    state.Parity = parity;
    state.StopBits = stopBits;
    platform::SetDcbFlags(state,
                          (platform::DcbFlags(state) & ~inputLineFlagsClear) | inputLineFlagsSet);
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    state.XonLim = 0;
    state.XoffLim = 384;
}

bool ConfigureSerialLine(platform::SerialPort& port, uint32_t speed, uint8_t dataBits,
                         uint8_t parity, uint8_t stopBits) {
    platform::Dcb state;
    port.GetCommState(state);
    SetInputLine(state, speed, dataBits, parity, stopBits);
    return port.SetCommState(state) == error::success;
}

void PrepareInputPort(platform::SerialPort& port) {
    port.SetupComm(inputQueueSize, outputQueueSize);
    port.SetCommTimeouts(inputPortTimeouts);
}

} // namespace tavro

// The ABI's codes for the line settings, turned into names once, here at the boundary: nothing
// behind the exports sees a bare code. A code outside its documented range keeps the port's
// current setting, as hosts of this interface have always had it.
#ifndef TIDEWIRE_EXPORTS_LINECODES_H
#define TIDEWIRE_EXPORTS_LINECODES_H

#include <cstddef>
#include <cstdint>

#include "platform/SerialDevice.h"

namespace tidewire {

// The name of code in table, where the code is the index; Unchanged outside it.
template <class Setting, size_t N>
Setting SettingOfCode(const Setting (&table)[N], int32_t code) {
    return code >= 0 && static_cast<size_t>(code) < N ? table[code] : Setting::Unchanged;
}

inline LineSettings LineSettingsFromCodes(uint32_t baud, int32_t parity, uint8_t dataBits,
                                          int32_t stopBits, int32_t flowControl) {
    // Parity 0 even, 1 mark, 2 none, 3 odd, 4 space; stop bits 0 one, 1 one and a half, 2 two;
    // flow control 0 none, 1 CTS/RTS, 2 CTS/DTR, 3 DSR/RTS, 4 DSR/DTR, 5 XON/XOFF.
    static constexpr Parity kParities[] = {Parity::Even, Parity::Mark, Parity::None, Parity::Odd,
                                           Parity::Space};
    static constexpr StopBits kStopBits[] = {StopBits::One, StopBits::OneAndHalf, StopBits::Two};
    static constexpr FlowControl kFlowControls[] = {FlowControl::None,   FlowControl::CtsRts,
                                                    FlowControl::CtsDtr, FlowControl::DsrRts,
                                                    FlowControl::DsrDtr, FlowControl::XonXoff};
    LineSettings settings;
    settings.baud = baud;
    settings.parity = SettingOfCode(kParities, parity);
    settings.dataBits = dataBits;
    settings.stopBits = SettingOfCode(kStopBits, stopBits);
    settings.flowControl = SettingOfCode(kFlowControls, flowControl);
    return settings;
}

}  // namespace tidewire

#endif

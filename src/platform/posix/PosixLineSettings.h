// How the host's line settings become termios flags, and how to tell whether a driver really
// took them. Kept apart from the device so that the mapping can be checked on a termios record
// alone, whatever a given driver would make of it.
#ifndef TIDEWIRE_PLATFORM_POSIX_POSIXLINESETTINGS_H
#define TIDEWIRE_PLATFORM_POSIX_POSIXLINESETTINGS_H

#include <termios.h>

#include "platform/SerialDevice.h"

namespace tidewire {

// Makes line raw (bytes pass unchanged, reads never wait) and applies the settings on top of
// it. A parity, stop-bits or flow-control setting of Unchanged keeps what line had. Throws
// CSerialException(EINVAL) with a text of its own for a setting termios cannot express.
void ApplyLineSettings(const LineSettings& settings, termios& line);

// Compares the settings read back from the driver with the ones asked for. Returns a text
// naming what the driver did not take, or nullptr when it took everything. A pseudo-terminal
// has no character size or parity of its own (Linux reports 8 bits, no parity, whatever was
// asked) and passes every byte whole, so those two are not held against it.
const char* SettingNotTaken(const termios& wanted, const termios& actual, bool pseudoTerminal);

}  // namespace tidewire

#endif

// The platform's side of CSerialException: which error the failed call left behind, and how the
// system words it. posix/ and win32/ each implement these once; nothing else in the serial port
// knows where error texts come from.
#ifndef TIDEWIRE_SERIAL_SYSTEMERRORTEXT_H
#define TIDEWIRE_SERIAL_SYSTEMERRORTEXT_H

#include <cstdint>

namespace tidewire {

// The calling thread's last system error (errno, GetLastError). Never 0: a call that failed
// without leaving a reason is reported as a general I/O error rather than as "success".
uint32_t LastSystemErrorCode() noexcept;

// Writes the system's message for code into buffer, cut to capacity - 1 bytes and always
// NUL-terminated; an empty text when the system has none. Nothing is written for a null buffer
// or zero capacity.
void SystemErrorText(uint32_t code, char* buffer, uint32_t capacity) noexcept;

}  // namespace tidewire

#endif

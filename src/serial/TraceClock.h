// The wall-clock time of day a trace line is stamped with. posix/ and win32/ each implement it
// once, in the machine's local time, so a trace reads against the host's own log files.
#ifndef TIDEWIRE_SERIAL_TRACECLOCK_H
#define TIDEWIRE_SERIAL_TRACECLOCK_H

#include <cstddef>

namespace tidewire {

// Writes "HH:MM:SS.mmm" and a NUL into buffer, which must hold at least 13 bytes; a smaller
// buffer gets the empty text (or nothing at capacity 0).
void FormatTraceTime(char* buffer, size_t capacity) noexcept;

}  // namespace tidewire

#endif

// Trace time stamps from the system clock, in the local time zone.
#include "platform/Platform.h"

#include <windows.h>

#include <cstdio>

namespace tidewire {

void FormatTraceTime(char* buffer, size_t capacity) noexcept {
    if (capacity == 0) {
        return;
    }
    buffer[0] = '\0';
    if (capacity < 13) {
        return;
    }
    SYSTEMTIME local = {};
    GetLocalTime(&local);
    snprintf(buffer, capacity, "%02u:%02u:%02u.%03u", static_cast<unsigned>(local.wHour),
             static_cast<unsigned>(local.wMinute), static_cast<unsigned>(local.wSecond),
             static_cast<unsigned>(local.wMilliseconds));
}

}  // namespace tidewire

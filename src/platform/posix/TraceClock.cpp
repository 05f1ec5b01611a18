// Trace time stamps from the realtime clock, in the local time zone.
#include "platform/Platform.h"

#include <time.h>

#include <cstdio>

namespace tidewire {

void FormatTraceTime(char* buffer, size_t capacity) noexcept {
    if (capacity == 0) {
        return;
    }
    buffer[0] = '\0';
    timespec now = {};
    tm local = {};
    if (capacity < 13 || clock_gettime(CLOCK_REALTIME, &now) != 0 ||
        localtime_r(&now.tv_sec, &local) == nullptr) {
        return;
    }
    snprintf(buffer, capacity, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec,
             now.tv_nsec / 1000000L);
}

}  // namespace tidewire

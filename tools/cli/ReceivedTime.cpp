#include "ReceivedTime.h"

#include <cstdio>

namespace tidewire::cli {

std::optional<std::string> IsoTime(const std::string& timestamp) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char dateMark = 0, secondMark = 0, between = 0;
    int consumed = 0;
    // "%d" stops at the first non-digit; the marks must be the same date separator twice.
    if (std::sscanf(timestamp.c_str(), "%d%c%d%c%d%c%d:%d:%d%n", &year, &dateMark, &month,
                    &secondMark, &day, &between, &hour, &minute, &second, &consumed) != 9 ||
        static_cast<size_t>(consumed) != timestamp.size() || dateMark != secondMark ||
        (dateMark != '-' && dateMark != '/') || (between != ' ' && between != ',')) {
        return std::nullopt;
    }
    if (year < 100) {
        year += 2000;
    }
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || second > 60 || hour < 0 || minute < 0 || second < 0) {
        return std::nullopt;
    }
    char iso[64];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute,
                  second);
    return std::string(iso);
}

}  // namespace tidewire::cli

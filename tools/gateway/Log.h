// The gateway's log: one line a message on standard error. Under systemd, whose journal reads
// standard error line by line, each line starts with the "<N>" priority prefix the journal
// turns into the entry's priority, so that `journalctl -p warning` finds the gateway's warnings.
#ifndef TIDEWIRE_TOOLS_GATEWAY_LOG_H
#define TIDEWIRE_TOOLS_GATEWAY_LOG_H

#include <string>

namespace tidewire::gateway {

// The syslog priorities the journal knows, by their numbers.
enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

// Decides once whether standard error is the journal's stream (systemd names it in
// JOURNAL_STREAM) and whether debug lines are written.
void ConfigureLog(bool verbose);

void Log(Priority priority, const std::string& line);

inline void LogError(const std::string& line) {
    Log(Priority::Error, line);
}
inline void LogWarning(const std::string& line) {
    Log(Priority::Warning, line);
}
inline void LogInfo(const std::string& line) {
    Log(Priority::Info, line);
}
inline void LogDebug(const std::string& line) {
    Log(Priority::Debug, line);
}

}  // namespace tidewire::gateway

#endif

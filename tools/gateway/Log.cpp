#include "Log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace tidewire::gateway {

namespace {

bool toJournal = false;
bool debugWanted = false;
std::mutex logLock;

// systemd sets JOURNAL_STREAM to "<device>:<inode>" of the stream it connected; standard error
// may have been redirected since (a shell wrapper, a test), so it counts only when it is still
// that stream.
bool StandardErrorIsJournal() {
    const char* const stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) {
        return false;
    }
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) {
        return false;
    }
    struct stat status = {};
    return fstat(STDERR_FILENO, &status) == 0 &&
           static_cast<unsigned long long>(status.st_dev) == device &&
           static_cast<unsigned long long>(status.st_ino) == inode;
}

const char* Word(Priority priority) {
    switch (priority) {
        case Priority::Error:
            return "error";
        case Priority::Warning:
            return "warning";
        case Priority::Notice:
            return "notice";
        case Priority::Info:
            return "info";
        default:
            return "debug";
    }
}

}  // namespace

void ConfigureLog(bool verbose) {
    toJournal = StandardErrorIsJournal();
    debugWanted = verbose;
}

void Log(Priority priority, const std::string& line) {
    if (priority == Priority::Debug && !debugWanted) {
        return;
    }
    std::lock_guard<std::mutex> hold(logLock);
    if (toJournal) {
        // The journal stamps the time and the unit itself.
        std::fprintf(stderr, "<%d>%s\n", static_cast<int>(priority), line.c_str());
        return;
    }
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    struct tm local = {};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(stderr, "%s.%03d tidewire-gateway %s: %s\n", stamp, static_cast<int>(millis),
                 Word(priority), line.c_str());
}

}  // namespace tidewire::gateway

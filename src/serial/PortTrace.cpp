#include "serial/PortTrace.h"

#include <utility>

#include "platform/Platform.h"

namespace tidewire {

namespace {

// Room for the widest escape of one byte ("\xNN") and its NUL.
constexpr size_t kEscapeCapacity = 5;

// The readable form of one byte: itself when printable ASCII, an escape otherwise.
void EscapeByte(uint8_t byte, char (&escaped)[kEscapeCapacity]) {
    static constexpr struct {
        uint8_t byte;
        const char* escape;
    } kNamed[] = {{'\r', "\\r"}, {'\n', "\\n"}, {'\t', "\\t"}, {'\\', "\\\\"}};
    for (const auto& named : kNamed) {
        if (byte == named.byte) {
            snprintf(escaped, sizeof escaped, "%s", named.escape);
            return;
        }
    }
    if (byte < 0x20 || byte >= 0x7F) {
        snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(byte));
    } else {
        escaped[0] = static_cast<char>(byte);
        escaped[1] = '\0';
    }
}

}  // namespace

bool PortTrace::SetFile(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        std::lock_guard<std::mutex> hold(lock_);
        on_.store(false, std::memory_order_relaxed);
        file_.reset();
        return true;
    }
    // Opened before the lock is taken, so the worker never waits on a slow file system.
    File opened(std::fopen(path, "ab"));
    if (opened == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> hold(lock_);
    file_ = std::move(opened);
    on_.store(true, std::memory_order_relaxed);
    return true;
}

void PortTrace::Append(Direction direction, const uint8_t* bytes, uint32_t count) noexcept {
    char stamp[16] = {};
    FormatTraceTime(stamp, sizeof stamp);
    std::lock_guard<std::mutex> hold(lock_);
    if (file_ == nullptr) {
        // Turned off between the flag's load and the lock.
        return;
    }
    std::FILE* const file = file_.get();
    std::fprintf(file, "%s %c ", stamp, static_cast<char>(direction));
    for (uint32_t i = 0; i < count; ++i) {
        char escaped[kEscapeCapacity] = {};
        EscapeByte(bytes[i], escaped);
        std::fputs(escaped, file);
    }
    std::fputc('\n', file);
    // Each line reaches the file at once, so the trace of a host that then crashes or hangs
    // ends with the last thing the module said.
    std::fflush(file);
}

}  // namespace tidewire

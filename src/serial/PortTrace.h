// A copy of the modem dialogue for whoever has to find out why a module misbehaves: every byte
// written to the port and every byte read from it, one line per write or read, appended to a
// file. Off, it costs one relaxed atomic load per read or write; on, the file is guarded by a
// lock, so it may be turned on, moved or off by a host thread while the worker talks.
#ifndef TIDEWIRE_SERIAL_PORTTRACE_H
#define TIDEWIRE_SERIAL_PORTTRACE_H

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

namespace tidewire {

class PortTrace {
  public:
    enum class Direction : char { Written = '>', Read = '<' };

    PortTrace() = default;
    ~PortTrace() = default;
    PortTrace(const PortTrace&) = delete;
    PortTrace& operator=(const PortTrace&) = delete;

    // Opens path for appending and traces to it from then on, in place of any file before.
    // A null or empty path turns the trace off. Returns false when the file cannot be opened:
    // the trace then goes on as it was, so a mistyped name does not lose a running trace.
    bool SetFile(const char* path);
    bool IsOn() const noexcept { return on_.load(std::memory_order_relaxed); }

    // One line: "HH:MM:SS.mmm > bytes" with \r, \n, \t, \\ and \xNN for the other control
    // and non-ASCII bytes. Does nothing when off or for no bytes; a failing file is ignored,
    // because the trace must never change what the modem dialogue does.
    void Record(Direction direction, const uint8_t* bytes, uint32_t count) noexcept {
        if (count == 0 || !on_.load(std::memory_order_relaxed)) {
            return;
        }
        Append(direction, bytes, count);
    }

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const noexcept { std::fclose(file); }
    };
    using File = std::unique_ptr<std::FILE, FileCloser>;

    void Append(Direction direction, const uint8_t* bytes, uint32_t count) noexcept;

    std::atomic<bool> on_{false};
    // Guards file_; on_ only spares the off path the lock.
    std::mutex lock_;
    File file_;
};

}  // namespace tidewire

#endif

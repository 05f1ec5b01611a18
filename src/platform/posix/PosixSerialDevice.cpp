// The serial line on POSIX systems: a termios device held for exclusive use and read without
// ever blocking, so that the modem dialogues do all the waiting themselves.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/CSerialException.h"
#include "platform/Platform.h"
#include "platform/SerialDevice.h"
#include "platform/posix/PosixLineSettings.h"

namespace tidewire {

namespace {

// How long a write waits for the line to take more bytes before it gives up. The commands are
// short and the driver buffers several kilobytes, so only a line held by flow control (or a
// driver that has stopped) ever waits this long; the clock restarts whenever bytes move, so a
// slow line that keeps moving is never cut off.
constexpr std::chrono::milliseconds kWriteStallLimit{2000};
constexpr std::chrono::milliseconds kRecheckPause{10};

// One read or write call moves at most this much, well inside ssize_t even on 32-bit systems.
constexpr uint32_t kLargestTransfer = uint32_t{1} << 30;

[[noreturn]] void ThrowSystemError(int code) {
    ThrowSerialException(static_cast<uint32_t>(code));
}

// Simulated modems and network bridges sit on pseudo-terminals, which Linux and the BSDs name
// under /dev/pts/ (asked of the descriptor, so a symbolic link to one is recognised too).
bool IsPseudoTerminal(int fd) {
    char name[128] = {};
    if (ttyname_r(fd, name, sizeof name) != 0) {
        return false;
    }
    static const char kPrefix[] = "/dev/pts/";
    return strncmp(name, kPrefix, sizeof kPrefix - 1) == 0;
}

// The driver may take only part of what tcsetattr asked for; a line that only seems to run as
// asked would garble every byte, so the open fails instead.
void CheckLineTaken(int fd, const termios& wanted) {
    termios actual{};
    if (tcgetattr(fd, &actual) != 0) {
        ThrowSystemError(errno);
    }
    const char* const notTaken = SettingNotTaken(wanted, actual, IsPseudoTerminal(fd));
    if (notTaken != nullptr) {
        throw CSerialException(EINVAL, notTaken);
    }
}

// Holds a freshly opened descriptor until the open has fully succeeded, so that every failure
// on the way gives the port back (its lock and exclusive mode included) before the exception
// leaves.
class OpeningDescriptor {
  public:
    explicit OpeningDescriptor(int fd) : fd_(fd) {}
    ~OpeningDescriptor() {
        if (fd_ >= 0) {
            if (exclusive_) {
                ioctl(fd_, TIOCNXCL);
            }
            close(fd_);
        }
    }
    OpeningDescriptor(const OpeningDescriptor&) = delete;
    OpeningDescriptor& operator=(const OpeningDescriptor&) = delete;

    int Get() const { return fd_; }
    void MarkExclusive() { exclusive_ = true; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
    bool exclusive_ = false;
};

class PosixSerialDevice final : public SerialDevice {
  public:
    PosixSerialDevice() = default;
    ~PosixSerialDevice() override { Close(); }
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    void Open(const char* path, const LineSettings& settings) override {
        Close();
        // O_NONBLOCK also keeps the open itself from waiting for carrier on a line without
        // CLOCAL; O_NOCTTY keeps the modem from becoming the host's controlling terminal.
        const int fd =
            open(path != nullptr ? path : "", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            ThrowSystemError(errno);
        }
        OpeningDescriptor opening(fd);
        TakeExclusiveUse(opening);

        termios line{};
        if (tcgetattr(fd, &line) != 0) {
            ThrowSystemError(errno);
        }
        ApplyLineSettings(settings, line);
        // glibc reads the line back after setting it and answers EINVAL when the driver dropped
        // the parity or character size, which a pty always does; the read-back check below
        // knows which drops matter and names them.
        if (tcsetattr(fd, TCSANOW, &line) != 0 && errno != EINVAL) {
            ThrowSystemError(errno);
        }
        CheckLineTaken(fd, line);
        fd_ = opening.Release();
    }

    void Close() noexcept override {
        if (fd_ < 0) {
            return;
        }
        // The exclusive mode belongs to the terminal, not to this descriptor: it would outlast
        // the close while anyone else keeps the terminal open. The lock goes with the close.
        ioctl(fd_, TIOCNXCL);
        close(fd_);
        fd_ = -1;
    }

    bool IsOpen() const noexcept override { return fd_ >= 0; }

    void SetImmediateReadTimeouts() override {
        termios line{};
        if (tcgetattr(fd_, &line) != 0) {
            ThrowSystemError(errno);
        }
        line.c_cc[VMIN] = 0;
        line.c_cc[VTIME] = 0;
        if (tcsetattr(fd_, TCSANOW, &line) != 0) {
            ThrowSystemError(errno);
        }
    }

    void CheckConfiguration() override {
        termios line{};
        if (tcgetattr(fd_, &line) != 0) {
            ThrowSystemError(errno);
        }
    }

    // A modem that hangs up or is unplugged (a pty whose other side closed, a USB adapter
    // pulled out: end of file or EIO, depending on the kernel and driver) reads as "nothing
    // arrived": the dialogue in progress then runs into its poll limit and fails like a silent
    // modem, and the next command's purge or write reports the lost line with its own error,
    // upon which the worker reopens the port. A read that returns at once cannot tell end of
    // file from a line that is merely quiet, so the purge or write is left to tell.
    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        if (fd_ < 0 || buffer == nullptr || count == 0) {
            return 0;
        }
        const ssize_t got = read(fd_, buffer, count < kLargestTransfer ? count : kLargestTransfer);
        if (got >= 0) {
            return static_cast<uint32_t>(got);
        }
        const int code = errno;
        if (code == EAGAIN || code == EWOULDBLOCK || code == EINTR || code == EIO) {
            return 0;
        }
        ThrowSystemError(code);
    }

    uint32_t Write(const uint8_t* buffer, uint32_t count) override {
        if (fd_ < 0 || buffer == nullptr || count == 0) {
            return 0;
        }
        auto stallDeadline = std::chrono::steady_clock::now() + kWriteStallLimit;
        bool toldWritable = false;
        uint32_t written = 0;
        while (written < count) {
            const uint32_t left = count - written;
            const ssize_t put =
                write(fd_, buffer + written, left < kLargestTransfer ? left : kLargestTransfer);
            if (put > 0) {
                written += static_cast<uint32_t>(put);
                stallDeadline = std::chrono::steady_clock::now() + kWriteStallLimit;
                toldWritable = false;
                continue;
            }
            const int code = put < 0 ? errno : EAGAIN;
            if (code == EINTR) {
                continue;
            }
            if (code != EAGAIN && code != EWOULDBLOCK) {
                ThrowSystemError(code);
            }
            if (toldWritable) {
                // poll said there was room and the write still took nothing: a short pause
                // keeps a driver whose poll and write disagree from turning this into a spin.
                std::this_thread::sleep_for(kRecheckPause);
            }
            WaitUntilWritable(stallDeadline);
            toldWritable = true;
        }
        return count;
    }

    void PurgeInput() override {
        if (tcflush(fd_, TCIFLUSH) != 0) {
            ThrowSystemError(errno);
        }
    }

    void PurgeOutput() override {
        if (tcflush(fd_, TCOFLUSH) != 0) {
            ThrowSystemError(errno);
        }
    }

  private:
    // Two mechanisms, because each misses something: TIOCEXCL makes the kernel refuse further
    // opens of the terminal but does not hold against a privileged process (root opens it
    // anyway), while flock holds against everyone who asks for it, including a second open in
    // this process, but only against them. The lock is taken first so that a refused open never
    // touches the exclusive mode of the process that holds the port.
    static void TakeExclusiveUse(OpeningDescriptor& opening) {
        const int fd = opening.Get();
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            // EWOULDBLOCK reads as "Resource temporarily unavailable"; "busy" is what the host's
            // user needs to hear, and what a refused TIOCEXCL open says too.
            ThrowSystemError(code == EWOULDBLOCK ? EBUSY : code);
        }
#ifdef TIOCGEXCL
        // A program that uses only TIOCEXCL holds the port as well, even against root.
        int heldExclusively = 0;
        if (ioctl(fd, TIOCGEXCL, &heldExclusively) == 0 && heldExclusively != 0) {
            ThrowSystemError(EBUSY);
        }
#endif
        if (ioctl(fd, TIOCEXCL) != 0) {
            ThrowSystemError(errno);
        }
        opening.MarkExclusive();
    }

    // Waits for room in the driver's output buffer, at most until deadline.
    void WaitUntilWritable(std::chrono::steady_clock::time_point deadline) const {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                throw CSerialException(
                    ETIMEDOUT,
                    "the serial line took no data for 2 seconds (held by flow control?)");
            }
            pollfd watch{fd_, POLLOUT, 0};
            const int ready = poll(&watch, 1, static_cast<int>(left.count()));
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                ThrowSystemError(errno);
            }
            if (ready == 0) {
                continue;  // the deadline test above ends the wait
            }
            if ((watch.revents & POLLOUT) != 0) {
                return;
            }
            if ((watch.revents & POLLNVAL) != 0) {
                ThrowSystemError(EBADF);
            }
            // Hung up or failed and not writable: waiting longer would not help.
            ThrowSystemError(EIO);
        }
    }

    int fd_ = -1;
};

}  // namespace

std::unique_ptr<SerialDevice> MakePlatformSerialDevice() {
    return std::make_unique<PosixSerialDevice>();
}

// COMn is /dev/ttyS<n-1>, as Wine maps it. A number below 1 names no port at all, and a path
// that does not fit is not cut short (that could name another port): both give the empty path,
// which the open refuses with ENOENT.
void PortNumberToDevicePath(int32_t portNumber, char* path, uint32_t capacity) {
    if (path == nullptr || capacity == 0) {
        return;
    }
    path[0] = '\0';
    if (portNumber < 1) {
        return;
    }
    const int length = snprintf(path, capacity, "/dev/ttyS%ld", static_cast<long>(portNumber) - 1);
    if (length < 0 || static_cast<uint32_t>(length) >= capacity) {
        path[0] = '\0';
    }
}

}  // namespace tidewire

#include "PtyModem.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <system_error>

namespace tidewire::sim {

namespace {

// Output the host does not take within this time is lost, as bytes sent down a serial line
// nobody reads are.
constexpr int kStalledWriteMs = 2000;
// How often a slowed line hands bytes to the pty.
constexpr int kSpeedSlicesPerSecond = 100;

std::system_error SystemError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

void SetCloseOnExec(int fd) {
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

// A self-pipe that wakes the line thread: for a stop, or for an indication waiting to go out.
// Shared with the engine's notifier, so a late notification never writes to a closed pipe.
class WakePipe {
  public:
    WakePipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw SystemError("pipe2");
        }
        read_ = fds[0];
        write_ = fds[1];
    }
    ~WakePipe() {
        close(read_);
        close(write_);
    }
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    int ReadFd() const { return read_; }
    void Wake() const {
        const char byte = 1;
        // A full pipe already holds a wake-up; nothing is lost when this write fails.
        [[maybe_unused]] const ssize_t written = write(write_, &byte, 1);
    }
    void Drain() const {
        char buffer[64];
        while (read(read_, buffer, sizeof buffer) > 0) {
        }
    }

  private:
    int read_ = -1;
    int write_ = -1;
};

PtyModem::PtyModem(ModemEngine& engine, std::string linkPath)
    : engine_(engine), linkPath_(std::move(linkPath)), wake_(std::make_shared<WakePipe>()) {}

PtyModem::~PtyModem() {
    Stop();
}

void PtyModem::Start() {
    const std::lock_guard<std::mutex> lock(controlMutex_);
    if (running_) {
        return;
    }
    OpenPty();
    std::weak_ptr<WakePipe> weakWake = wake_;
    engine_.SetUnsolicitedNotifier([weakWake] {
        if (const auto wake = weakWake.lock()) {
            wake->Wake();
        }
    });
    StartThread();
    running_ = true;
    hungUp_ = false;
}

void PtyModem::Stop() {
    const std::lock_guard<std::mutex> lock(controlMutex_);
    if (!running_) {
        return;
    }
    engine_.SetUnsolicitedNotifier(nullptr);
    StopThread();
    ClosePty();
    RemoveLink();
    running_ = false;
    hungUp_ = false;
}

bool PtyModem::Running() const {
    const std::lock_guard<std::mutex> lock(controlMutex_);
    return running_;
}

std::string PtyModem::DevicePath() const {
    const std::lock_guard<std::mutex> lock(controlMutex_);
    return devicePath_;
}

void PtyModem::HangUp() {
    const std::lock_guard<std::mutex> lock(controlMutex_);
    if (!running_ || hungUp_) {
        return;
    }
    StopThread();
    ClosePty();
    // The device path goes with the device, as /dev/ttyUSB0 does with a USB modem. A link left
    // dangling would name the pty's number, which the next pty anyone opens may take: a host
    // looking for its module there would find another program's.
    RemoveLink();
    hungUp_ = true;
}

void PtyModem::RemoveLink() {
    if (linkPath_.empty()) {
        return;
    }
    struct stat info {};
    if (lstat(linkPath_.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        unlink(linkPath_.c_str());
    }
}

void PtyModem::Restore() {
    const std::lock_guard<std::mutex> lock(controlMutex_);
    if (!running_ || !hungUp_) {
        return;
    }
    engine_.PowerOn();
    OpenPty();
    StartThread();
    hungUp_ = false;
}

bool PtyModem::HungUp() const {
    const std::lock_guard<std::mutex> lock(controlMutex_);
    return hungUp_;
}

void PtyModem::OpenPty() {
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
        throw SystemError("openpty");
    }
    SetCloseOnExec(master);
    SetCloseOnExec(slave);
    // The master side is raw too, so nothing we write is translated on its way to the host.
    tcsetattr(master, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    char name[128] = {};
    if (ptsname_r(master, name, sizeof name) != 0) {
        const std::system_error error = SystemError("ptsname_r");
        close(master);
        close(slave);
        throw error;
    }
    if (!linkPath_.empty()) {
        struct stat info {};
        if (lstat(linkPath_.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
            close(master);
            close(slave);
            throw std::system_error(EEXIST, std::generic_category(),
                                    "refusing to replace " + linkPath_ + ", which is not a link");
        }
        // A new link under a temporary name renamed over the old one: the path never vanishes
        // for a host that opens it during a restore.
        const std::string temporary = linkPath_ + ".new" + std::to_string(getpid());
        unlink(temporary.c_str());
        if (symlink(name, temporary.c_str()) != 0 ||
            rename(temporary.c_str(), linkPath_.c_str()) != 0) {
            const std::system_error error = SystemError("linking " + linkPath_);
            unlink(temporary.c_str());
            close(master);
            close(slave);
            throw error;
        }
    }
    // The slave stays open here, without any lock: with no slave open the master reports a
    // hang-up on every poll. A host's close is seen through inotify instead.
    master_ = master;
    slave_ = slave;
    devicePath_ = name;
    hostCloses_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (hostCloses_ >= 0 &&
        inotify_add_watch(hostCloses_, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        close(hostCloses_);
        hostCloses_ = -1;
    }
}

void PtyModem::OnHostClosed() {
    char events[4096];
    while (read(hostCloses_, events, sizeof events) > 0) {
    }
    // A real serial port forgets its exclusive mode and its unread input at the last close. A
    // pty keeps both while its master is open, so a host that took TIOCEXCL would lock every
    // later host (not running as root) out of the device, and the next host would read answers
    // meant for the previous one.
    ioctl(slave_, TIOCNXCL);
    tcflush(slave_, TCIFLUSH);
}

void PtyModem::ClosePty() {
    if (hostCloses_ >= 0) {
        close(hostCloses_);
        hostCloses_ = -1;
    }
    if (master_ >= 0) {
        close(master_);
    }
    if (slave_ >= 0) {
        close(slave_);
    }
    master_ = -1;
    slave_ = -1;
    devicePath_.clear();
}

void PtyModem::StartThread() {
    stopRequested_ = false;
    wake_->Drain();
    thread_ = std::thread([this] { Run(); });
}

void PtyModem::StopThread() {
    stopRequested_ = true;
    wake_->Wake();
    if (thread_.joinable()) {
        thread_.join();
    }
    stopRequested_ = false;
}

void PtyModem::Run() {
    char buffer[4096];
    while (!stopRequested_) {
        pollfd fds[3] = {
            {master_, POLLIN, 0}, {wake_->ReadFd(), POLLIN, 0}, {hostCloses_, POLLIN, 0}};
        // A status report falls due with nobody writing: wake for it, as the network would.
        const auto untilReport = engine_.TimeToNextStatusReport();
        const int timeout = untilReport
                                ? static_cast<int>(std::min<std::chrono::milliseconds::rep>(
                                      untilReport->count(), std::numeric_limits<int>::max()))
                                : -1;
        if (poll(fds, 3, timeout) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents & POLLIN) {
            wake_->Drain();
        }
        if (stopRequested_) {
            break;
        }
        // Before the input: a new host may already have written its first command, and its
        // answer must not go out with the old host's unread bytes.
        if (fds[2].revents & POLLIN) {
            OnHostClosed();
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t count = read(master_, buffer, sizeof buffer);
            if (count > 0) {
                WriteReply(engine_.Feed(std::string_view(buffer, static_cast<std::size_t>(count))));
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Should not happen while the slave is held open; never spin on it.
            Wait(50);
        }
        // Until none is left: an indication stored while one was being written woke nobody.
        for (std::string pending = engine_.TakeUnsolicited(); !pending.empty();
             pending = engine_.TakeUnsolicited()) {
            WriteReply(pending);
        }
    }
}

void PtyModem::WriteReply(const std::string& bytes) {
    if (bytes.empty()) {
        return;
    }
    const FaultSettings faults = engine_.Faults();
    if (faults.replyDelay.count() > 0 && !Wait(static_cast<int>(faults.replyDelay.count()))) {
        return;
    }
    const std::size_t chunk = faults.chunkBytes > 0 ? faults.chunkBytes : bytes.size();
    for (std::size_t start = 0; start < bytes.size(); start += chunk) {
        if (start > 0 && !Wait(static_cast<int>(faults.chunkDelay.count()))) {
            return;
        }
        const std::size_t end = std::min(bytes.size(), start + chunk);
        if (faults.bytesPerSecond <= 0) {
            if (!WriteAll(bytes.data() + start, end - start)) {
                return;
            }
            continue;
        }
        const std::size_t slice = std::max<std::size_t>(
            1, static_cast<std::size_t>(faults.bytesPerSecond) / kSpeedSlicesPerSecond);
        for (std::size_t at = start; at < end; at += slice) {
            const std::size_t size = std::min(slice, end - at);
            if (!WriteAll(bytes.data() + at, size) ||
                !Wait(static_cast<int>(size * 1000 /
                                       static_cast<std::size_t>(faults.bytesPerSecond)))) {
                return;
            }
        }
    }
}

bool PtyModem::WriteAll(const char* data, std::size_t size) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStalledWriteMs);
    while (size > 0) {
        const ssize_t written = write(master_, data, size);
        if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) {
            return true;  // the line is gone; the reply with it
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;  // nobody reads: the rest is lost on the line
        }
        pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_->ReadFd(), POLLIN, 0}};
        poll(fds, 2, static_cast<int>(left.count()));
        if (stopRequested_) {
            return false;
        }
        if (fds[1].revents & POLLIN) {
            wake_->Drain();
        }
    }
    return true;
}

bool PtyModem::Wait(int milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopRequested_) {
        // Rounded up: a pause is never shorter than asked.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        pollfd fd = {wake_->ReadFd(), POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) > 0) {
            // An indication's wake-up; it is picked up after this reply.
            wake_->Drain();
        }
    }
    return false;
}

}  // namespace tidewire::sim

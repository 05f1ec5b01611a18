// The simulator behind a real pseudo-terminal, opened the way the library opens a serial port.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "ModemEngine.h"
#include "PtyModem.h"

namespace tidewire::sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const milliseconds kGenerous(10000);

int CountOpenFds() {
    int count = 0;
    DIR* const dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    while (readdir(dir) != nullptr) {
        ++count;
    }
    closedir(dir);
    return count;
}

// The host side: opened with O_NOCTTY, raw, and locked, as the library does.
class HostPort {
  public:
    explicit HostPort(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            return;
        }
        termios raw{};
        tcgetattr(fd_, &raw);
        cfmakeraw(&raw);
        tcsetattr(fd_, TCSANOW, &raw);
    }
    ~HostPort() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    bool Write(const std::string& bytes) {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until the collected bytes end with `ending` or the deadline passes.
    std::string ReadUntil(const std::string& ending, milliseconds deadline = kGenerous) {
        std::string collected;
        const auto end = Clock::now() + deadline;
        while (Clock::now() < end) {
            if (collected.size() >= ending.size() &&
                collected.compare(collected.size() - ending.size(), ending.size(), ending) == 0) {
                break;
            }
            pollfd fd = {fd_, POLLIN, 0};
            if (poll(&fd, 1, 50) > 0 && (fd.revents & POLLIN)) {
                char buffer[512];
                const ssize_t count = read(fd_, buffer, sizeof buffer);
                if (count > 0) {
                    collected.append(buffer, static_cast<std::size_t>(count));
                }
            }
        }
        return collected;
    }

  private:
    int fd_ = -1;
};

class PtyModemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/ptymodem.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        link = folder + "/modem";
    }
    void TearDown() override {
        unlink(link.c_str());
        rmdir(folder.c_str());
    }

    ModemEngine engine;
    std::string folder;
    std::string link;
};

TEST_F(PtyModemTest, AnswersAtOverThePty) {
    PtyModem pty(engine);
    pty.Start();
    ASSERT_EQ(pty.DevicePath().rfind("/dev/pts/", 0), 0u) << pty.DevicePath();
    HostPort host(pty.DevicePath());
    ASSERT_TRUE(host.IsOpen());
    ASSERT_TRUE(host.Write("AT\r"));
    EXPECT_EQ(host.ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");
}

TEST_F(PtyModemTest, HostCanLockThePortExclusivelyAndOpenItAgain) {
    PtyModem pty(engine, link);
    pty.Start();
    {
        HostPort first(link);
        ASSERT_TRUE(first.IsOpen());
        // The simulator holds no lock of its own on the device.
        EXPECT_EQ(flock(first.Fd(), LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(ioctl(first.Fd(), TIOCEXCL), 0);
        ASSERT_TRUE(first.Write("ATE0\r"));
        EXPECT_EQ(first.ReadUntil("OK\r\n"), "ATE0\r\r\nOK\r\n");
    }
    // As with a real serial port, closing forgets the exclusive mode. The flag is read with
    // the same ioctl a host would use; even root's opens would otherwise hide a stale lock.
    HostPort second(link);
    ASSERT_TRUE(second.IsOpen());
    int exclusive = 1;
    for (int poll = 0; poll < 200 && exclusive != 0; ++poll) {
        ASSERT_EQ(ioctl(second.Fd(), TIOCGEXCL, &exclusive), 0);
        if (exclusive != 0) {
            usleep(10000);
        }
    }
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(flock(second.Fd(), LOCK_EX | LOCK_NB), 0);
    ASSERT_TRUE(second.Write("AT\r"));
    EXPECT_EQ(second.ReadUntil("OK\r\n"), "\r\nOK\r\n");
}

TEST_F(PtyModemTest, HangUpRemovesTheDeviceAndRestoreRelinksANewOne) {
    PtyModem pty(engine, link);
    pty.Start();
    HostPort before(link);
    ASSERT_TRUE(before.IsOpen());
    ASSERT_TRUE(before.Write("ATE0\r"));
    EXPECT_EQ(before.ReadUntil("OK\r\n"), "ATE0\r\r\nOK\r\n");

    pty.HangUp();
    EXPECT_TRUE(pty.HungUp());
    EXPECT_EQ(pty.DevicePath(), "");
    struct stat info {};
    EXPECT_EQ(lstat(link.c_str(), &info), -1) << "the link goes with the device";
    // The host's open port fails, and so does opening the path again.
    char byte = 0;
    EXPECT_LE(read(before.Fd(), &byte, 1), 0);
    HostPort during(link);
    EXPECT_FALSE(during.IsOpen());

    pty.Restore();
    EXPECT_FALSE(pty.HungUp());
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), pty.DevicePath());
    HostPort after(link);
    ASSERT_TRUE(after.IsOpen());
    ASSERT_TRUE(after.Write("AT\r"));
    // Plugged back in, the module starts from its power-on settings: its echo is on again.
    EXPECT_EQ(after.ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");
}

TEST_F(PtyModemTest, StopClosesEverythingAndRemovesTheLink) {
    const int fdsBefore = CountOpenFds();
    {
        PtyModem pty(engine, link);
        pty.Start();
        pty.Start();  // a second start changes nothing
        struct stat info {};
        ASSERT_EQ(lstat(link.c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode));
        pty.HangUp();
        pty.Restore();
        pty.Stop();
        EXPECT_FALSE(pty.Running());
        EXPECT_EQ(lstat(link.c_str(), &info), -1);
    }
    EXPECT_EQ(CountOpenFds(), fdsBefore);
}

TEST_F(PtyModemTest, RefusesToReplaceARegularFileWithItsLink) {
    const int fd = open(link.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    PtyModem pty(engine, link);
    EXPECT_THROW(pty.Start(), std::system_error);
    struct stat info {};
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
}

TEST_F(PtyModemTest, ChunkedAndSlowRepliesArriveWholeButNotBeforeTheirTime) {
    PtyModem pty(engine);
    pty.Start();
    HostPort host(pty.DevicePath());
    ASSERT_TRUE(host.IsOpen());

    // "AT\r\r\nOK\r\n" in chunks of 3 bytes: at least two pauses of 40 ms, however the
    // command's bytes were read.
    engine.SetChunking(3, milliseconds(40));
    auto start = Clock::now();
    ASSERT_TRUE(host.Write("AT\r"));
    EXPECT_EQ(host.ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");
    EXPECT_GE(Clock::now() - start, milliseconds(80));

    // 100 bytes a second: 10 ms after each of the eight bytes before the last.
    engine.SetChunking(0, milliseconds(0));
    engine.SetLineSpeed(100);
    start = Clock::now();
    ASSERT_TRUE(host.Write("AT\r"));
    EXPECT_EQ(host.ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");
    EXPECT_GE(Clock::now() - start, milliseconds(80));
}

TEST_F(PtyModemTest, StopReturnsPromptlyInTheMiddleOfASlowReply) {
    PtyModem pty(engine);
    pty.Start();
    HostPort host(pty.DevicePath());
    ASSERT_TRUE(host.IsOpen());
    engine.SetLineSpeed(1);
    ASSERT_TRUE(host.Write("AT+CGMM\r"));
    ASSERT_TRUE(engine.WaitForCommand("AT+CGMM", kGenerous));
    const auto start = Clock::now();
    pty.Stop();
    EXPECT_LT(Clock::now() - start, milliseconds(2000));
}

TEST_F(PtyModemTest, NewMessageIndicationReachesTheHostUnasked) {
    PtyModem pty(engine);
    pty.Start();
    HostPort host(pty.DevicePath());
    ASSERT_TRUE(host.IsOpen());
    ASSERT_TRUE(host.Write("AT+CNMI=2,1,0,0,0\r"));
    ASSERT_EQ(host.ReadUntil("OK\r\n"), "AT+CNMI=2,1,0,0,0\r\r\nOK\r\n");
    IncomingMessage message;
    message.sender = "10086";
    message.textUtf8 = "balance";
    ASSERT_TRUE(engine.Inject(message).stored);
    EXPECT_EQ(host.ReadUntil(",1\r\n"), "\r\n+CMTI: \"ME\",1\r\n");
}

TEST_F(PtyModemTest, StatusReportReachesTheHostAfterItsDelayWithNothingWritten) {
    PtyModem pty(engine);
    pty.Start();
    HostPort host(pty.DevicePath());
    ASSERT_TRUE(host.IsOpen());
    engine.SetStatusReportDelay(milliseconds(300));
    ASSERT_TRUE(host.Write("ATE0;+CMGF=1;+CSMP=49;+CNMI=2,1,0,1,0\r"));
    ASSERT_EQ(host.ReadUntil("OK\r\n"), "ATE0;+CMGF=1;+CSMP=49;+CNMI=2,1,0,1,0\r\r\nOK\r\n");
    ASSERT_TRUE(host.Write("AT+CMGS=\"10086\"\r"));
    ASSERT_EQ(host.ReadUntil("> "), "\r\n> ");
    const auto sent = Clock::now();
    ASSERT_TRUE(host.Write("balance?\x1A"));
    ASSERT_EQ(host.ReadUntil("OK\r\n"), "\r\n+CMGS: 1\r\n\r\nOK\r\n");
    const std::string report = host.ReadUntil(",0\r\n");
    const std::string head = "\r\n+CDS: 6,1,\"10086\",129,\"";
    EXPECT_EQ(report.substr(0, head.size()), head) << report;
    EXPECT_GE(Clock::now() - sent, milliseconds(300));
}

}  // namespace
}  // namespace tidewire::sim

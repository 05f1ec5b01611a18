// The POSIX serial device over real pseudo-terminals: the test holds the pty's master as the
// modem's end and the slave descriptor to look at the line settings the device applied.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/CSerialException.h"
#include "platform/Platform.h"
#include "platform/SerialDevice.h"
#include "serial/CSerialPort.h"

namespace tidewire {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kDeadline{5000};

std::string ErrorTextOf(const CSerialException& error) {
    char text[512] = {};
    error.GetErrorText(text, sizeof text);
    return text;
}

class PosixSerialDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[256] = {};
        ASSERT_EQ(openpty(&modem_, &slave_, name, nullptr, nullptr), 0) << strerror(errno);
        path_ = name;
        ASSERT_EQ(fcntl(modem_, F_SETFL, fcntl(modem_, F_GETFL) | O_NONBLOCK), 0);
    }

    void TearDown() override {
        if (modem_ >= 0) {
            close(modem_);
        }
        if (slave_ >= 0) {
            close(slave_);
        }
    }

    void HangUp() {
        close(modem_);
        modem_ = -1;
    }

    void ModemSends(const std::string& bytes) {
        ASSERT_EQ(write(modem_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Bytes travel from the master to the slave's input queue asynchronously in the kernel;
    // this waits until they are all there.
    bool WaitForPendingInput(int bytes) const {
        const auto deadline = steady_clock::now() + kDeadline;
        while (steady_clock::now() < deadline) {
            int pending = 0;
            if (ioctl(slave_, FIONREAD, &pending) == 0 && pending >= bytes) {
                return true;
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
        return false;
    }

    std::string ModemReceives(size_t bytes) const {
        std::string received;
        const auto deadline = steady_clock::now() + kDeadline;
        while (received.size() < bytes && steady_clock::now() < deadline) {
            pollfd watch{modem_, POLLIN, 0};
            if (poll(&watch, 1, 100) <= 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t got = read(modem_, chunk, sizeof chunk);
            if (got > 0) {
                received.append(chunk, static_cast<size_t>(got));
            }
        }
        return received;
    }

    static std::string DeviceReceives(SerialDevice& device, size_t bytes) {
        std::string received;
        const auto deadline = steady_clock::now() + kDeadline;
        while (received.size() < bytes && steady_clock::now() < deadline) {
            uint8_t chunk[64];
            const uint32_t got = device.Read(chunk, sizeof chunk);
            received.append(reinterpret_cast<const char*>(chunk), got);
            if (got == 0) {
                std::this_thread::sleep_for(milliseconds(1));
            }
        }
        return received;
    }

    termios LineAsSet() const {
        termios line{};
        EXPECT_EQ(tcgetattr(slave_, &line), 0);
        return line;
    }

    bool HeldExclusively() const {
        int exclusive = -1;
        EXPECT_EQ(ioctl(slave_, TIOCGEXCL, &exclusive), 0);
        return exclusive != 0;
    }

    // Opens with these settings and returns the error code, 0 when the open succeeded.
    uint32_t OpenCode(const LineSettings& settings, std::string* text = nullptr) {
        const auto device = MakePlatformSerialDevice();
        try {
            device->Open(path_.c_str(), settings);
        } catch (const CSerialException& error) {
            if (text != nullptr) {
                *text = ErrorTextOf(error);
            }
            EXPECT_FALSE(device->IsOpen());
            return error.ErrorCode();
        }
        return 0;
    }

    static uint32_t Send(SerialDevice& device, const std::string& bytes) {
        return device.Write(reinterpret_cast<const uint8_t*>(bytes.data()),
                            static_cast<uint32_t>(bytes.size()));
    }

    int modem_ = -1;
    int slave_ = -1;
    std::string path_;
};

TEST_F(PosixSerialDeviceTest, OpensClosesAndReopensWithoutLeavingTheLineExclusive) {
    const auto device = MakePlatformSerialDevice();
    EXPECT_FALSE(device->IsOpen());
    device->Open(path_.c_str(), LineSettings{});
    EXPECT_TRUE(HeldExclusively());
    device->Open(path_.c_str(), LineSettings{});  // an open port is closed and opened again
    EXPECT_TRUE(device->IsOpen());

    device->Close();
    device->Close();
    EXPECT_FALSE(device->IsOpen());
    EXPECT_FALSE(HeldExclusively()) << "the terminal must not stay exclusive after the close";
    device->Open(path_.c_str(), LineSettings{});
    EXPECT_TRUE(device->IsOpen());
}

TEST_F(PosixSerialDeviceTest, MovesBytesUnchangedBothWaysAndReadsNothingAtOnceWhenSilent) {
    const auto device = MakePlatformSerialDevice();
    device->Open(path_.c_str(), LineSettings{});
    uint8_t buffer[16];
    EXPECT_EQ(device->Read(buffer, sizeof buffer), 0u);

    // Raw mode: CR stays CR, LF is not turned into CR LF, Ctrl-Z and ^C pass as data.
    const std::string sent = std::string("AT+CMGS=\"10086\"\r") + std::string("hi\x1A\x03\n", 5);
    ASSERT_EQ(Send(*device, sent), sent.size());
    EXPECT_EQ(ModemReceives(sent.size()), sent);

    const std::string reply = "\r\n+CMGS: 12\r\n\r\nOK\r\n";
    ModemSends(reply);
    EXPECT_EQ(DeviceReceives(*device, reply.size()), reply);
    EXPECT_EQ(device->Read(buffer, sizeof buffer), 0u) << "nothing was echoed back";
}

TEST_F(PosixSerialDeviceTest, LongWriteIsDeliveredWholeWhileTheModemDrainsIt) {
    const auto device = MakePlatformSerialDevice();
    device->Open(path_.c_str(), LineSettings{});
    // Far more than the terminal buffers, so the write has to wait for room several times.
    std::string block(512 * 1024, '\0');
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>('A' + i % 26);
    }
    std::string received;
    std::thread modem([&] { received = ModemReceives(block.size()); });
    const uint32_t written = Send(*device, block);
    modem.join();
    EXPECT_EQ(written, block.size());
    EXPECT_TRUE(received == block) << "received " << received.size() << " bytes";
}

TEST_F(PosixSerialDeviceTest, WriteGivesUpWhenTheLineTakesNothingMore) {
    const auto device = MakePlatformSerialDevice();
    device->Open(path_.c_str(), LineSettings{});
    try {
        Send(*device, std::string(4 * 1024 * 1024, 'x'));  // the modem side never reads
        FAIL() << "a write that cannot finish must not report success";
    } catch (const CSerialException& error) {
        EXPECT_EQ(error.ErrorCode(), static_cast<uint32_t>(ETIMEDOUT));
        EXPECT_NE(ErrorTextOf(error).find("took no data"), std::string::npos);
    }
}

TEST_F(PosixSerialDeviceTest, PurgeInputDiscardsWhatTheModemSentBefore) {
    const auto device = MakePlatformSerialDevice();
    device->Open(path_.c_str(), LineSettings{});
    ModemSends("+CMTI: \"SM\",3\r\n");
    ASSERT_TRUE(WaitForPendingInput(15));
    device->PurgeInput();
    uint8_t buffer[32];
    EXPECT_EQ(device->Read(buffer, sizeof buffer), 0u);

    ModemSends("OK\r\n");
    EXPECT_EQ(DeviceReceives(*device, 4), "OK\r\n");
}

TEST_F(PosixSerialDeviceTest, ClosedPortMovesNothingAndRefusesPortOperations) {
    const auto device = MakePlatformSerialDevice();
    device->Open(path_.c_str(), LineSettings{});
    EXPECT_NO_THROW(device->PurgeOutput());
    EXPECT_NO_THROW(device->SetImmediateReadTimeouts());
    EXPECT_NO_THROW(device->CheckConfiguration());
    device->Close();

    uint8_t buffer[8] = {'A', 'T', '\r'};
    EXPECT_EQ(device->Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(device->Write(buffer, 3), 0u);
    EXPECT_THROW(device->PurgeInput(), CSerialException);
    EXPECT_THROW(device->CheckConfiguration(), CSerialException);
}

TEST_F(PosixSerialDeviceTest, HangUpReadsAsSilenceAndFailsTheNextWrite) {
    const auto device = MakePlatformSerialDevice();
    device->Open(path_.c_str(), LineSettings{});
    HangUp();
    uint8_t buffer[16];
    for (int poll = 0; poll < 3; ++poll) {
        EXPECT_EQ(device->Read(buffer, sizeof buffer), 0u);
    }
    try {
        Send(*device, "AT\r");
        FAIL() << "a write to a hung-up line must not report success";
    } catch (const CSerialException& error) {
        EXPECT_EQ(error.ErrorCode(), static_cast<uint32_t>(EIO));
    }
}

TEST_F(PosixSerialDeviceTest, MissingDeviceAndComZeroFailWithTheSystemText) {
    const auto device = MakePlatformSerialDevice();
    try {
        device->Open("/dev/tidewire-no-such-port", LineSettings{});
        FAIL() << "opening a missing device must fail";
    } catch (const CSerialException& error) {
        EXPECT_EQ(error.ErrorCode(), static_cast<uint32_t>(ENOENT));
        EXPECT_EQ(ErrorTextOf(error), strerror(ENOENT));
    }
    CSerialPort port;
    try {
        port.Open(0, LineSettings{});
        FAIL() << "COM0 does not exist";
    } catch (const CSerialException& error) {
        EXPECT_EQ(error.ErrorCode(), static_cast<uint32_t>(ENOENT));
    }
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(PosixSerialDeviceTest, SecondOpenerInThisProcessIsRefusedUntilTheFirstCloses) {
    const auto first = MakePlatformSerialDevice();
    first->Open(path_.c_str(), LineSettings{});
    std::string text;
    EXPECT_EQ(OpenCode(LineSettings{}, &text), static_cast<uint32_t>(EBUSY));
    EXPECT_EQ(text, strerror(EBUSY));
    EXPECT_TRUE(HeldExclusively()) << "a refused opener must leave the holder's lock alone";

    first->Close();
    EXPECT_EQ(OpenCode(LineSettings{}), 0u);
}

TEST_F(PosixSerialDeviceTest, SecondOpenerInAnotherProcessIsRefused) {
    const auto first = MakePlatformSerialDevice();
    first->Open(path_.c_str(), LineSettings{});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(static_cast<int>(OpenCode(LineSettings{}) & 0x7F));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), EBUSY);
}

TEST_F(PosixSerialDeviceTest, PortHeldExclusivelyByAnotherProgramIsRefusedEvenToRoot) {
    // Terminal programs take the line with TIOCEXCL alone, which root could otherwise ignore.
    ASSERT_EQ(ioctl(slave_, TIOCEXCL), 0);
    EXPECT_EQ(OpenCode(LineSettings{}), static_cast<uint32_t>(EBUSY));
    EXPECT_TRUE(HeldExclusively()) << "the other program's exclusive mode must stay";
    ASSERT_EQ(ioctl(slave_, TIOCNXCL), 0);
    EXPECT_EQ(OpenCode(LineSettings{}), 0u);
}

LineSettings With(uint32_t baud, uint8_t dataBits, StopBits stopBits, FlowControl flowControl) {
    LineSettings settings;
    settings.baud = baud;
    settings.dataBits = dataBits;
    settings.stopBits = stopBits;
    settings.flowControl = flowControl;
    return settings;
}

TEST_F(PosixSerialDeviceTest, UnsupportedSettingsAreRefusedWithOwnTextsAndLeaveThePortFree) {
    const struct {
        LineSettings settings;
        const char* text;
    } cases[] = {
        {With(12345, 8, StopBits::One, FlowControl::None), "unsupported baud rate 12345"},
        {With(0, 8, StopBits::One, FlowControl::None), "unsupported baud rate 0"},
        {With(9600, 9, StopBits::One, FlowControl::None),
         "unsupported number of data bits 9 (5 to 8 are possible)"},
        {With(9600, 4, StopBits::One, FlowControl::None),
         "unsupported number of data bits 4 (5 to 8 are possible)"},
        {With(9600, 8, StopBits::OneAndHalf, FlowControl::None),
         "one and a half stop bits cannot be set on a POSIX serial port (only one or two)"},
        {With(9600, 8, StopBits::One, FlowControl::CtsDtr),
         "CTS/DTR flow control cannot be set on a POSIX serial port"},
        {With(9600, 8, StopBits::One, FlowControl::DsrRts),
         "DSR/RTS flow control cannot be set on a POSIX serial port"},
        {With(9600, 8, StopBits::One, FlowControl::DsrDtr),
         "DSR/DTR flow control cannot be set on a POSIX serial port"},
    };
    for (const auto& unsupported : cases) {
        SCOPED_TRACE(unsupported.text);
        std::string text;
        EXPECT_EQ(OpenCode(unsupported.settings, &text), static_cast<uint32_t>(EINVAL));
        EXPECT_EQ(text.rfind(unsupported.text, 0), 0u) << text;
        EXPECT_FALSE(HeldExclusively());
        EXPECT_EQ(OpenCode(LineSettings{}), 0u) << "the failed open must not keep the port";
    }
}

TEST_F(PosixSerialDeviceTest, AppliesBaudStopBitsAndFlowControlToTheLine) {
    const auto device = MakePlatformSerialDevice();
    for (const auto& rate : {std::make_pair(50u, B50), std::make_pair(9600u, B9600),
                             std::make_pair(4000000u, B4000000)}) {
        device->Open(path_.c_str(), With(rate.first, 8, StopBits::Two, FlowControl::CtsRts));
        const termios line = LineAsSet();
        EXPECT_EQ(cfgetospeed(&line), rate.second);
        EXPECT_EQ(cfgetispeed(&line), rate.second);
        EXPECT_NE(line.c_cflag & CSTOPB, 0u);
        EXPECT_NE(line.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    }
    // Unchanged keeps what the line had, which was set by the open before.
    device->Open(path_.c_str(), With(9600, 8, StopBits::Unchanged, FlowControl::Unchanged));
    EXPECT_NE(LineAsSet().c_cflag & CSTOPB, 0u);
    EXPECT_NE(LineAsSet().c_cflag & CRTSCTS, 0u);

    device->Open(path_.c_str(), With(9600, 8, StopBits::One, FlowControl::XonXoff));
    termios line = LineAsSet();
    EXPECT_EQ(line.c_cflag & (CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(line.c_cc[VSTART], 0x11);
    EXPECT_EQ(line.c_cc[VSTOP], 0x13);

    device->Open(path_.c_str(), With(9600, 8, StopBits::One, FlowControl::None));
    line = LineAsSet();
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY), 0u);
}

TEST_F(PosixSerialDeviceTest, PseudoTerminalOpensWithAnyParityAndDataBits) {
    // A pty has no parity or character size (Linux reports 8N whatever is asked), so a
    // simulated modem must not be refused for settings that only a real line can carry.
    for (const Parity parity :
         {Parity::Even, Parity::Mark, Parity::None, Parity::Odd, Parity::Space}) {
        for (uint8_t dataBits = 5; dataBits <= 8; ++dataBits) {
            LineSettings settings = With(9600, dataBits, StopBits::One, FlowControl::None);
            settings.parity = parity;
            EXPECT_EQ(OpenCode(settings), 0u) << "parity " << static_cast<int>(parity) << ", "
                                              << static_cast<int>(dataBits) << " data bits";
        }
    }
}

}  // namespace
}  // namespace tidewire

// CSerialPort in front of its device, the port-number naming of POSIX devices, and the texts
// that CSerialException carries to the host's last-error message.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/CSerialException.h"
#include "platform/Platform.h"
#include "serial/CSerialPort.h"
#include "support/ScriptedSerialDevice.h"

namespace tidewire {
namespace {

TEST(CSerialException, CarriesTheSystemTextOfItsCodeOrOfTheLastError) {
    EXPECT_STREQ(CSerialException(ENOENT).what(), strerror(ENOENT));
    errno = EACCES;
    try {
        ThrowSerialException();
    } catch (const CSerialException& error) {
        EXPECT_EQ(error.ErrorCode(), static_cast<uint32_t>(EACCES));
        EXPECT_STREQ(error.what(), strerror(EACCES));
    }
    errno = 0;  // a failure that left no reason must not read as "Success"
    try {
        ThrowSerialException(0);
    } catch (const CSerialException& error) {
        EXPECT_EQ(error.ErrorCode(), static_cast<uint32_t>(EIO));
    }
}

TEST(CSerialException, GetErrorTextCutsToTheCapacityAndTerminates) {
    const CSerialException error(EINVAL, "unsupported baud rate 12345");
    char text[8];
    memset(text, '#', sizeof text);
    uint32_t helpContext = 77;
    EXPECT_TRUE(error.GetErrorText(text, 6, &helpContext));
    EXPECT_STREQ(text, "unsup");
    EXPECT_EQ(text[6], '#') << "nothing may be written past the capacity";
    EXPECT_EQ(helpContext, 0u);

    const std::string longText(2000, 'a');
    EXPECT_EQ(strlen(CSerialException(EINVAL, longText.c_str()).what()), 511u);
}

TEST(CSerialException, GetErrorTextRefusesANullBufferOrZeroCapacityTouchingNothing) {
    const CSerialException error(EIO);
    uint32_t helpContext = 77;
    EXPECT_FALSE(error.GetErrorText(nullptr, 100, &helpContext));
    char text[4] = "xyz";
    EXPECT_FALSE(error.GetErrorText(text, 0, &helpContext));
    EXPECT_STREQ(text, "xyz");
    EXPECT_EQ(helpContext, 77u);

    EXPECT_FALSE(CSerialException(EINVAL, nullptr).GetErrorText(text, sizeof text));
    EXPECT_STREQ(text, "") << "no text is reported as an empty one";
}

std::string PathOf(int32_t portNumber, uint32_t capacity = 64) {
    char path[64];
    memset(path, '#', sizeof path);
    PortNumberToDevicePath(portNumber, path, capacity);
    return path;
}

TEST(PortNumberToDevicePath, NamesComPortsAsTheirTtySDevices) {
    EXPECT_EQ(PathOf(1), "/dev/ttyS0");
    EXPECT_EQ(PathOf(12), "/dev/ttyS11");
    EXPECT_EQ(PathOf(INT32_MAX), "/dev/ttyS2147483646");
}

TEST(PortNumberToDevicePath, GivesAnEmptyPathForNoPortOrNoRoom) {
    EXPECT_EQ(PathOf(0), "");
    EXPECT_EQ(PathOf(INT32_MIN), "");
    // "/dev/ttyS10" cut to ten characters would be "/dev/ttyS1", a different port.
    EXPECT_EQ(PathOf(11, 11), "");
    EXPECT_EQ(PathOf(11, 12), "/dev/ttyS10");
    char untouched[4] = "abc";
    PortNumberToDevicePath(1, untouched, 0);
    EXPECT_STREQ(untouched, "abc");
}

TEST(CSerialPort, OpensComPortsByPathAndKeepsClosedPortsAwayFromTheDevice) {
    auto made = ScriptedSerialDevice::Make();
    CSerialPort port(std::move(made.first));
    uint8_t buffer[8] = {'A', 'T', '\r'};
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(port.Write(buffer, 3), 0u);
    EXPECT_TRUE(made.second->Events().empty());

    LineSettings settings;
    settings.baud = 9600;
    port.Open(3, settings);
    EXPECT_EQ(made.second->OpenedPath(), "/dev/ttyS2");
    EXPECT_EQ(made.second->OpenedSettings().baud, 9600u);
    EXPECT_EQ(port.WriteText("AT+CMGF=0\r"), 10u);
    EXPECT_EQ(made.second->Writes(), std::vector<std::string>{"AT+CMGF=0\r"});
}

// Records when it is closed and when it is destroyed, so the order of the two can be seen.
class LoggingDevice final : public SerialDevice {
  public:
    explicit LoggingDevice(std::vector<std::string>& log) : log_(log) {}
    ~LoggingDevice() override { log_.push_back("destroyed"); }
    void Open(const char*, const LineSettings&) override { open_ = true; }
    void Close() noexcept override {
        if (open_) {
            log_.push_back("closed");
        }
        open_ = false;
    }
    bool IsOpen() const noexcept override { return open_; }
    void SetImmediateReadTimeouts() override {}
    void CheckConfiguration() override {}
    uint32_t Read(uint8_t*, uint32_t) override { return 0; }
    uint32_t Write(const uint8_t*, uint32_t count) override { return count; }
    void PurgeInput() override {}
    void PurgeOutput() override {}

  private:
    std::vector<std::string>& log_;
    bool open_ = false;
};

TEST(CSerialPort, ClosesItsDeviceWhenReplacingItAndWhenDestroyed) {
    std::vector<std::string> log;
    {
        CSerialPort port(std::make_unique<LoggingDevice>(log));
        port.OpenPath("modem", LineSettings{});
        port.SetDevice(ScriptedSerialDevice::Make().first);
        EXPECT_EQ(log, (std::vector<std::string>{"closed", "destroyed"}));

        log.clear();
        port.SetDevice(std::make_unique<LoggingDevice>(log));
        port.OpenPath("modem", LineSettings{});
    }
    EXPECT_EQ(log, (std::vector<std::string>{"closed", "destroyed"}));
}

TEST(CSerialPort, WithoutAGivenDeviceUsesThePlatformsOwn) {
    CSerialPort port(nullptr);
    port.SetDevice(nullptr);
    EXPECT_THROW(port.OpenPath("/dev/tidewire-no-such-port", LineSettings{}), CSerialException);
    EXPECT_FALSE(port.IsOpen());
}

}  // namespace
}  // namespace tidewire

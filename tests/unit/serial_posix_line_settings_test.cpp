// The termios form of the host's line settings, from the codes a host passes, checked on termios
// records so that settings a pty cannot carry (parity, character size) are covered too.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>

#include "exports/LineCodes.h"
#include "platform/posix/PosixLineSettings.h"

namespace tidewire {
namespace {

constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
constexpr tcflag_t kSoftwareFlow = IXON | IXOFF | IXANY;

// A line with every flag set, the way a cooked terminal with every option on would look: what
// the settings do not mention must survive, and what raw mode forbids must go.
termios EverythingOn() {
    termios line;
    memset(&line, 0, sizeof line);
    line.c_iflag = ~tcflag_t{0};
    line.c_oflag = ~tcflag_t{0};
    line.c_cflag = ~tcflag_t{0} & ~CBAUD;
    line.c_lflag = ~tcflag_t{0};
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 5;
    cfsetspeed(&line, B9600);
    return line;
}

termios Applied(const LineSettings& settings, termios line = EverythingOn()) {
    ApplyLineSettings(settings, line);
    return line;
}

// The settings of a host's codes for parity, stop bits and flow control, at 115200 8 bits.
LineSettings FromCodes(int32_t parity, int32_t stopBits, int32_t flowControl) {
    return LineSettingsFromCodes(115200, parity, 8, stopBits, flowControl);
}

TEST(PosixLineSettings, MakesTheLineRawAndReadsImmediate) {
    const termios line = Applied(LineSettings{});
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_iflag & (IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(line.c_cc[VMIN], 0);
    EXPECT_EQ(line.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B115200));
}

TEST(PosixLineSettings, MapsEveryParityWhateverTheLineHad) {
    const struct {
        int32_t code;
        tcflag_t bits;
    } parities[] = {{0, PARENB},
                    {1, PARENB | PARODD | CMSPAR},
                    {2, 0},
                    {3, PARENB | PARODD},
                    {4, PARENB | CMSPAR}};
    termios none = EverythingOn();
    none.c_cflag &= ~kParityBits;
    for (const auto& parity : parities) {
        const LineSettings settings = FromCodes(parity.code, 0, 0);
        EXPECT_EQ(Applied(settings).c_cflag & kParityBits, parity.bits) << parity.code;
        EXPECT_EQ(Applied(settings, none).c_cflag & kParityBits, parity.bits) << parity.code;
    }
}

TEST(PosixLineSettings, MapsDataBits) {
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (uint8_t dataBits = 5; dataBits <= 8; ++dataBits) {
        LineSettings settings;
        settings.dataBits = dataBits;
        EXPECT_EQ(Applied(settings).c_cflag & CSIZE, sizes[dataBits - 5]);
    }
}

TEST(PosixLineSettings, CodesOutsideTheTablesKeepWhatTheLineHad) {
    // Unlike cfmakeraw, raw mode itself must not clear the software flow control or parity.
    termios line = Applied(FromCodes(5, 3, 6));
    EXPECT_EQ(line.c_cflag & kParityBits, kParityBits);
    EXPECT_NE(line.c_cflag & CSTOPB, 0u);
    EXPECT_NE(line.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(line.c_iflag & kSoftwareFlow, kSoftwareFlow);

    termios quiet = EverythingOn();
    quiet.c_cflag &= ~(kParityBits | CSTOPB | CRTSCTS);
    quiet.c_iflag &= ~kSoftwareFlow;
    line = Applied(FromCodes(-1, -1, -1), quiet);
    EXPECT_EQ(line.c_cflag & (kParityBits | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_iflag & kSoftwareFlow, 0u);
}

TEST(PosixLineSettings, DriverThatDroppedASettingIsCaught) {
    const termios wanted = Applied(FromCodes(1, 2, 1));
    EXPECT_EQ(SettingNotTaken(wanted, wanted, false), nullptr);

    termios noMark = wanted;  // what a USB adapter without mark parity reports back
    noMark.c_cflag &= ~CMSPAR;
    EXPECT_STREQ(SettingNotTaken(wanted, noMark, false),
                 "the serial driver did not accept the parity");
    termios eightBitsNoParity = wanted;  // what a Linux pty reports back
    eightBitsNoParity.c_cflag = (eightBitsNoParity.c_cflag & ~(CSIZE | kParityBits)) | CS8;
    EXPECT_EQ(SettingNotTaken(wanted, eightBitsNoParity, true), nullptr);

    termios slower = wanted;
    cfsetspeed(&slower, B9600);
    EXPECT_STREQ(SettingNotTaken(wanted, slower, true),
                 "the serial driver did not accept the baud rate");
    termios oneStopBit = wanted;
    oneStopBit.c_cflag &= ~CSTOPB;
    EXPECT_STREQ(SettingNotTaken(wanted, oneStopBit, true),
                 "the serial driver did not accept the number of stop bits");
    termios noHandshake = wanted;
    noHandshake.c_cflag &= ~CRTSCTS;
    EXPECT_STREQ(SettingNotTaken(wanted, noHandshake, true),
                 "the serial driver did not accept the flow control");
}

}  // namespace
}  // namespace tidewire

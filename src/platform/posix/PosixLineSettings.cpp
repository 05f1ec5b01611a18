#include "platform/posix/PosixLineSettings.h"

#include <cerrno>
#include <cstdio>

#include "platform/CSerialException.h"

namespace tidewire {

namespace {

// A line setting that the termios interface cannot express.
[[noreturn]] void ThrowUnsupported(const char* text) {
    throw CSerialException(EINVAL, text);
}

struct BaudRate {
    uint32_t rate;
    speed_t constant;
};

// The rates the termios interface can name; the higher ones exist only where the C library
// defines them.
constexpr BaudRate kBaudRates[] = {
    {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

speed_t BaudConstant(uint32_t rate) {
    for (const BaudRate& entry : kBaudRates) {
        if (entry.rate == rate) {
            return entry.constant;
        }
    }
    char text[64] = {};
    snprintf(text, sizeof text, "unsupported baud rate %lu", static_cast<unsigned long>(rate));
    ThrowUnsupported(text);
}

tcflag_t CharacterSize(uint8_t dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        case 8:
            return CS8;
        default:
            break;
    }
    char text[64] = {};
    snprintf(text, sizeof text, "unsupported number of data bits %u (5 to 8 are possible)",
             static_cast<unsigned>(dataBits));
    ThrowUnsupported(text);
}

#ifdef CMSPAR
constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
#else
constexpr tcflag_t kParityBits = PARENB | PARODD;
#endif

void ApplyParity(Parity parity, termios& line) {
    tcflag_t bits = 0;
    switch (parity) {
        case Parity::Even:
            bits = PARENB;
            break;
        case Parity::Mark:  // the parity bit is always 1
#ifdef CMSPAR
            bits = PARENB | PARODD | CMSPAR;
            break;
#else
            ThrowUnsupported("mark parity cannot be set on this system's serial driver");
#endif
        case Parity::None:
            bits = 0;
            break;
        case Parity::Odd:
            bits = PARENB | PARODD;
            break;
        case Parity::Space:  // the parity bit is always 0
#ifdef CMSPAR
            bits = PARENB | CMSPAR;
            break;
#else
            ThrowUnsupported("space parity cannot be set on this system's serial driver");
#endif
        case Parity::Unchanged:
            return;
    }
    line.c_cflag = (line.c_cflag & ~kParityBits) | bits;
}

void ApplyStopBits(StopBits stopBits, termios& line) {
    switch (stopBits) {
        case StopBits::One:
            line.c_cflag &= ~CSTOPB;
            return;
        case StopBits::OneAndHalf:
            ThrowUnsupported(
                "one and a half stop bits cannot be set on a POSIX serial port (only one or two)");
        case StopBits::Two:
            line.c_cflag |= CSTOPB;
            return;
        case StopBits::Unchanged:
            return;
    }
}

#ifdef CRTSCTS
constexpr tcflag_t kHardwareFlow = CRTSCTS;
#else
constexpr tcflag_t kHardwareFlow = 0;
#endif
constexpr tcflag_t kSoftwareFlow = IXON | IXOFF | IXANY;

void ApplyFlowControl(FlowControl flowControl, termios& line) {
    switch (flowControl) {
        case FlowControl::None:
            line.c_cflag &= ~kHardwareFlow;
            line.c_iflag &= ~kSoftwareFlow;
            return;
        case FlowControl::CtsRts:  // CTS stops our output, RTS stops the modem's
#ifdef CRTSCTS
            line.c_cflag |= CRTSCTS;
            line.c_iflag &= ~kSoftwareFlow;
            return;
#else
            ThrowUnsupported("CTS/RTS flow control cannot be set on this system's serial driver");
#endif
        case FlowControl::CtsDtr:
            ThrowUnsupported(
                "CTS/DTR flow control cannot be set on a POSIX serial port (CTS/RTS, XON/XOFF or "
                "none are possible)");
        case FlowControl::DsrRts:
            ThrowUnsupported(
                "DSR/RTS flow control cannot be set on a POSIX serial port (CTS/RTS, XON/XOFF or "
                "none are possible)");
        case FlowControl::DsrDtr:
            ThrowUnsupported(
                "DSR/DTR flow control cannot be set on a POSIX serial port (CTS/RTS, XON/XOFF or "
                "none are possible)");
        case FlowControl::XonXoff:  // both directions; no other byte restarts a stopped output
            line.c_cflag &= ~kHardwareFlow;
            line.c_iflag = (line.c_iflag & ~IXANY) | IXON | IXOFF;
            line.c_cc[VSTART] = 0x11;
            line.c_cc[VSTOP] = 0x13;
            return;
        case FlowControl::Unchanged:
            return;
    }
}

// Raw bytes both ways: no line editing, echo, signals or character translation, since modem
// replies and PDUs must reach the dialogues exactly as sent. Unlike cfmakeraw this leaves the
// parity, stop-bit and flow-control bits alone, so a code outside their tables keeps the
// line's own setting.
void MakeRaw(termios& line) {
    line.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK);
    line.c_oflag &= ~OPOST;
    line.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
}

}  // namespace

void ApplyLineSettings(const LineSettings& settings, termios& line) {
    MakeRaw(line);
    const speed_t speed = BaudConstant(settings.baud);
    if (cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0) {
        ThrowSerialException(static_cast<uint32_t>(errno));
    }
    line.c_cflag = (line.c_cflag & ~CSIZE) | CharacterSize(settings.dataBits);
    ApplyParity(settings.parity, line);
    ApplyStopBits(settings.stopBits, line);
    ApplyFlowControl(settings.flowControl, line);
}

// tcsetattr succeeds when the driver took any part of the request, and drivers quietly drop
// what their hardware lacks (mark and space parity on many USB adapters, for one). Reading the
// settings back tells a line that really runs as asked from one that only seems to.
const char* SettingNotTaken(const termios& wanted, const termios& actual, bool pseudoTerminal) {
    if (cfgetospeed(&actual) != cfgetospeed(&wanted) ||
        cfgetispeed(&actual) != cfgetispeed(&wanted)) {
        return "the serial driver did not accept the baud rate";
    }
    if (!pseudoTerminal && (actual.c_cflag & CSIZE) != (wanted.c_cflag & CSIZE)) {
        return "the serial driver did not accept the number of data bits";
    }
    if (!pseudoTerminal && (actual.c_cflag & kParityBits) != (wanted.c_cflag & kParityBits)) {
        return "the serial driver did not accept the parity";
    }
    if ((actual.c_cflag & CSTOPB) != (wanted.c_cflag & CSTOPB)) {
        return "the serial driver did not accept the number of stop bits";
    }
    if ((actual.c_cflag & kHardwareFlow) != (wanted.c_cflag & kHardwareFlow) ||
        (actual.c_iflag & kSoftwareFlow) != (wanted.c_iflag & kSoftwareFlow)) {
        return "the serial driver did not accept the flow control";
    }
    return nullptr;
}

}  // namespace tidewire

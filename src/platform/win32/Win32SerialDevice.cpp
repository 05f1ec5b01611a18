// The serial line on Windows: a COM device held for exclusive use through the communications
// API, written and read synchronously, with reads that return at once with whatever the modem
// has sent so far. The modem dialogues do all the waiting themselves.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/CSerialException.h"
#include "platform/Platform.h"
#include "platform/SerialDevice.h"

namespace tidewire {

namespace {

// Room for "\\.\COM2147483647", for "\\.\" in front of the longest path a host may pass, and
// some to spare.
constexpr size_t kDevicePathCapacity = 272;
constexpr size_t kDevicePrefixLength = 4;  // "\\.\"

// The system's own name for COM1 to COM9 also works without the device prefix, but COM10 and
// above are reachable only as "\\.\COM10". A host that passes "COM12" means that port, so a
// bare COMn gets the prefix; anything else (a path with the prefix already, another driver's
// device name) goes to CreateFileA as the host wrote it.
bool IsBareComName(const char* path) {
    if (path == nullptr || _strnicmp(path, "COM", 3) != 0 || path[3] == '\0') {
        return false;
    }
    for (const char* p = path + 3; *p != '\0'; ++p) {
        if (!isdigit(static_cast<unsigned char>(*p))) {
            return false;
        }
    }
    return true;
}

// Forms the name CreateFileA is given. A path too long for the buffer is not cut short (that
// could name another device) but replaced by the empty name, which the open refuses.
void DeviceNameFor(const char* path, char* name, size_t capacity) {
    const char* const given = path != nullptr ? path : "";
    const bool addPrefix = IsBareComName(given);
    const size_t needed = strlen(given) + (addPrefix ? kDevicePrefixLength : 0);
    if (needed >= capacity) {
        name[0] = '\0';
        return;
    }
    snprintf(name, capacity, "%s%s", addPrefix ? "\\\\.\\" : "", given);
}

// The value table gives key, or null when it gives none (Unchanged: the driver's value stays).
template <class Key, class Value, size_t N>
const Value* ValueOf(const std::pair<Key, Value> (&table)[N], Key key) {
    for (const auto& row : table) {
        if (row.first == key) {
            return &row.second;
        }
    }
    return nullptr;
}

// Each hardware handshake watches one line for output (CTS or DSR) and drives one for input
// (RTS or DTR); the line it does not drive keeps the mode the driver had (-1 below).
struct Handshake {
    BOOL ctsFlow;
    BOOL dsrFlow;
    int rtsControl;
    int dtrControl;
    BOOL xonXoff;
};

// The host's settings onto the state the driver reported. Unchanged leaves the driver's value;
// the DSR line never gates reception, whatever the flow control.
void ApplyLineSettings(const LineSettings& settings, DCB& dcb) {
    static constexpr std::pair<Parity, BYTE> kParities[] = {{Parity::Even, EVENPARITY},
                                                            {Parity::Mark, MARKPARITY},
                                                            {Parity::None, NOPARITY},
                                                            {Parity::Odd, ODDPARITY},
                                                            {Parity::Space, SPACEPARITY}};
    static constexpr std::pair<StopBits, BYTE> kStopBits[] = {{StopBits::One, ONESTOPBIT},
                                                              {StopBits::OneAndHalf, ONE5STOPBITS},
                                                              {StopBits::Two, TWOSTOPBITS}};
    static constexpr std::pair<FlowControl, Handshake> kHandshakes[] = {
        {FlowControl::None, {FALSE, FALSE, -1, -1, FALSE}},
        {FlowControl::CtsRts, {TRUE, FALSE, RTS_CONTROL_HANDSHAKE, -1, FALSE}},
        {FlowControl::CtsDtr, {TRUE, FALSE, -1, DTR_CONTROL_HANDSHAKE, FALSE}},
        {FlowControl::DsrRts, {FALSE, TRUE, RTS_CONTROL_HANDSHAKE, -1, FALSE}},
        {FlowControl::DsrDtr, {FALSE, TRUE, -1, DTR_CONTROL_HANDSHAKE, FALSE}},
        {FlowControl::XonXoff, {FALSE, FALSE, -1, -1, TRUE}},
    };
    dcb.BaudRate = settings.baud;
    if (const BYTE* parity = ValueOf(kParities, settings.parity)) {
        dcb.Parity = *parity;
    }
    dcb.ByteSize = settings.dataBits;
    if (const BYTE* stopBits = ValueOf(kStopBits, settings.stopBits)) {
        dcb.StopBits = *stopBits;
    }
    dcb.fDsrSensitivity = FALSE;
    const Handshake* found = ValueOf(kHandshakes, settings.flowControl);
    if (found == nullptr) {
        return;
    }
    const Handshake& handshake = *found;
    dcb.fOutxCtsFlow = handshake.ctsFlow;
    dcb.fOutxDsrFlow = handshake.dsrFlow;
    if (handshake.rtsControl >= 0) {
        dcb.fRtsControl = static_cast<DWORD>(handshake.rtsControl);
    }
    if (handshake.dtrControl >= 0) {
        dcb.fDtrControl = static_cast<DWORD>(handshake.dtrControl);
    }
    dcb.fOutX = handshake.xonXoff;
    dcb.fInX = handshake.xonXoff;
    if (handshake.xonXoff) {
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.XonLim = 100;
        dcb.XoffLim = 100;
    }
}

// Holds a freshly opened device until the open has fully succeeded, so that a failure on the
// way gives the port back before the exception leaves. The error code is taken before the
// handle is closed, since closing may overwrite it.
class OpeningHandle {
  public:
    explicit OpeningHandle(HANDLE handle) : handle_(handle) {}
    ~OpeningHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    OpeningHandle(const OpeningHandle&) = delete;
    OpeningHandle& operator=(const OpeningHandle&) = delete;

    HANDLE Get() const { return handle_; }
    HANDLE Release() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }
    [[noreturn]] void Fail() const { throw CSerialException(LastError()); }

  private:
    static uint32_t LastError() {
        const DWORD code = GetLastError();
        return code != 0 ? code : ERROR_IO_DEVICE;
    }
    HANDLE handle_;
};

class Win32SerialDevice final : public SerialDevice {
  public:
    Win32SerialDevice() = default;
    ~Win32SerialDevice() override { Close(); }
    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    void Open(const char* path, const LineSettings& settings) override {
        Close();
        char name[kDevicePathCapacity];
        DeviceNameFor(path, name, sizeof name);
        // Share mode 0: nobody else may open the port while the service holds it, and an open
        // of a port another program holds fails here with the system's "access denied".
        OpeningHandle opening(
            CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (opening.Get() == INVALID_HANDLE_VALUE) {
            ThrowSerialException();
        }
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(opening.Get(), &dcb)) {
            opening.Fail();
        }
        ApplyLineSettings(settings, dcb);
        if (!SetCommState(opening.Get(), &dcb)) {
            opening.Fail();
        }
        handle_ = opening.Release();
    }

    void Close() noexcept override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return;
        }
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    bool IsOpen() const noexcept override { return handle_ != INVALID_HANDLE_VALUE; }

    void SetImmediateReadTimeouts() override {
        // An interval time-out of MAXDWORD with both read totals 0 is the one combination that
        // makes ReadFile return at once with what has arrived, also when nothing has; the
        // write totals of 0 let a write take as long as the line needs.
        COMMTIMEOUTS timeouts;
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = 0;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = 0;
        if (!SetCommTimeouts(handle_, &timeouts)) {
            ThrowSerialException();
        }
    }

    void CheckConfiguration() override {
        COMMCONFIG config;
        std::memset(&config, 0, sizeof config);
        DWORD size = sizeof config;
        if (!GetCommConfig(handle_, &config, &size)) {
            ThrowSerialException();
        }
    }

    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        if (handle_ == INVALID_HANDLE_VALUE || buffer == nullptr || count == 0) {
            return 0;
        }
        DWORD got = 0;
        if (!ReadFile(handle_, buffer, count, &got, nullptr)) {
            ThrowSerialException();
        }
        return got;
    }

    uint32_t Write(const uint8_t* buffer, uint32_t count) override {
        if (handle_ == INVALID_HANDLE_VALUE || buffer == nullptr || count == 0) {
            return 0;
        }
        // Without write time-outs one call takes everything; the loop only guards against a
        // driver that takes part of it. One that takes nothing and calls that success would
        // otherwise leave a command half written without anyone knowing.
        uint32_t written = 0;
        while (written < count) {
            DWORD put = 0;
            if (!WriteFile(handle_, buffer + written, count - written, &put, nullptr)) {
                ThrowSerialException();
            }
            if (put == 0) {
                ThrowSerialException(ERROR_WRITE_FAULT);
            }
            written += put;
        }
        return written;
    }

    void PurgeInput() override { Purge(PURGE_RXCLEAR); }
    void PurgeOutput() override { Purge(PURGE_TXCLEAR); }

  private:
    void Purge(DWORD flags) {
        if (!PurgeComm(handle_, flags)) {
            ThrowSerialException();
        }
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<SerialDevice> MakePlatformSerialDevice() {
    return std::make_unique<Win32SerialDevice>();
}

// Every port number is formed as the system names it; one that does not exist (0, a negative
// number, a port the machine lacks) is refused by the open with the system's own error.
void PortNumberToDevicePath(int32_t portNumber, char* path, uint32_t capacity) {
    if (path == nullptr || capacity == 0) {
        return;
    }
    const int length = snprintf(path, capacity, "\\\\.\\COM%ld", static_cast<long>(portNumber));
    if (length < 0 || static_cast<uint32_t>(length) >= capacity) {
        path[0] = '\0';
    }
}

}  // namespace tidewire

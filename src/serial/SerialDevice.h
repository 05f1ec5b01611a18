// The platform side of the serial port: one implementation per platform (posix/, win32/) and
// an in-memory scripted one for tests. CSerialPort talks to the line only through this.
#ifndef TIDEWIRE_SERIAL_SERIALDEVICE_H
#define TIDEWIRE_SERIAL_SERIALDEVICE_H

#include <cstdint>
#include <memory>

namespace tidewire {

// Line settings as the host passes them to SMSStartService. Codes outside the documented ranges
// keep the port's current setting.
struct LineSettings {
    uint32_t baud = 115200;
    int32_t parity = 2;  // 0 even, 1 mark, 2 none, 3 odd, 4 space
    uint8_t dataBits = 8;
    int32_t stopBits = 0;     // 0 one, 1 one and a half, 2 two
    int32_t flowControl = 0;  // 0 none, 1 CTS/RTS, 2 CTS/DTR, 3 DSR/RTS, 4 DSR/DTR, 5 XON/XOFF
};

// Every operation that fails in the system throws CSerialException. Close, IsOpen never throw.
class SerialDevice {
  public:
    virtual ~SerialDevice() = default;

    // Opens the device for exclusive use and applies the settings. A device that is already
    // open is closed first.
    virtual void Open(const char* path, const LineSettings& settings) = 0;
    virtual void Close() noexcept = 0;
    virtual bool IsOpen() const noexcept = 0;

    // Makes reads return at once with whatever has arrived, possibly nothing.
    virtual void SetImmediateReadTimeouts() = 0;
    // Reads the port's configuration back once; fails when the device cannot report it.
    virtual void CheckConfiguration() = 0;

    // Returns at once with at most count bytes that have arrived; 0 when none (or closed).
    virtual uint32_t Read(uint8_t* buffer, uint32_t count) = 0;
    // Writes all count bytes; returns count (0 when closed).
    virtual uint32_t Write(const uint8_t* buffer, uint32_t count) = 0;

    // Discards bytes received and not yet read.
    virtual void PurgeInput() = 0;
    // Discards bytes written and not yet transmitted.
    virtual void PurgeOutput() = 0;
};

// The device of the platform this library was built for.
std::unique_ptr<SerialDevice> MakePlatformSerialDevice();

// The device path of COM<portNumber> on this platform ("\\.\COMn" on Windows,
// "/dev/ttyS<n-1>" on POSIX). Writes at most capacity bytes, always NUL-terminated.
void PortNumberToDevicePath(int32_t portNumber, char* path, uint32_t capacity);

}  // namespace tidewire

#endif

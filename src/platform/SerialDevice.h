// The device behind the serial port: one implementation per platform (posix/, win32/, made by
// MakePlatformSerialDevice in Platform.h) and an in-memory scripted one for tests. CSerialPort
// talks to the line only through this.
#ifndef TIDEWIRE_PLATFORM_SERIALDEVICE_H
#define TIDEWIRE_PLATFORM_SERIALDEVICE_H

#include <cstdint>

namespace tidewire {

// The line settings a host asks for. Unchanged keeps the port's current setting: what a host
// gets that passes a code outside the documented ones.
enum class Parity { Unchanged, Even, Mark, None, Odd, Space };
enum class StopBits { Unchanged, One, OneAndHalf, Two };
// The hardware handshakes name the line that holds our output first (CTS or DSR) and the line
// we drive to hold the module's (RTS or DTR).
enum class FlowControl { Unchanged, None, CtsRts, CtsDtr, DsrRts, DsrDtr, XonXoff };

struct LineSettings {
    uint32_t baud = 115200;
    Parity parity = Parity::None;
    uint8_t dataBits = 8;
    StopBits stopBits = StopBits::One;
    FlowControl flowControl = FlowControl::None;
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

}  // namespace tidewire

#endif

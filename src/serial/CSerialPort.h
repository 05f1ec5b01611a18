// The serial port the service talks to its modem through. It moves bytes and nothing else:
// no protocol knowledge lives here. The device behind it is the platform's unless a test puts
// a scripted one in its place.
#ifndef TIDEWIRE_SERIAL_CSERIALPORT_H
#define TIDEWIRE_SERIAL_CSERIALPORT_H

#include <cstdint>
#include <memory>

#include "platform/CSerialException.h"
#include "platform/SerialDevice.h"
#include "serial/PortTrace.h"

namespace tidewire {

class CSerialPort {
  public:
    CSerialPort();
    explicit CSerialPort(std::unique_ptr<SerialDevice> device);
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Replaces the device (closing the old one). For tests and tools.
    void SetDevice(std::unique_ptr<SerialDevice> device);
    SerialDevice& Device() { return *device_; }

    // Opens COM<portNumber>; closes first. Throws CSerialException.
    void Open(int32_t portNumber, const LineSettings& settings);
    // Opens a device by path; closes first. Throws CSerialException.
    void OpenPath(const char* path, const LineSettings& settings);
    void Close() noexcept;
    bool IsOpen() const noexcept;

    // Non-blocking: whatever has arrived, at most count bytes. 0 on a closed port.
    uint32_t Read(uint8_t* buffer, uint32_t count);
    // Writes all bytes. 0 on a closed port.
    uint32_t Write(const uint8_t* buffer, uint32_t count);
    // Writes a NUL-terminated text without its terminator.
    uint32_t WriteText(const char* text);

    void PurgeInput();
    void PurgeOutput();
    void SetImmediateReadTimeouts();
    void GetConfig();

    // The copy of every byte that Read and Write move; off until a host turns it on. It
    // outlives device changes, so a trace started before the service keeps running across them.
    PortTrace& Trace() { return trace_; }

  private:
    std::unique_ptr<SerialDevice> device_;
    PortTrace trace_;
};

}  // namespace tidewire

#endif

#include "serial/CSerialPort.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/Platform.h"

namespace tidewire {

namespace {

// Room for "/dev/ttyS2147483646" and for "\\.\COM2147483647" with plenty to spare.
constexpr uint32_t kDevicePathCapacity = 64;

// The port always has a device to talk through, so no operation has to test for a missing one:
// asking for none gets the platform's own.
std::unique_ptr<SerialDevice> OrPlatformDevice(std::unique_ptr<SerialDevice> device) {
    return device != nullptr ? std::move(device) : MakePlatformSerialDevice();
}

}  // namespace

CSerialPort::CSerialPort() : device_(MakePlatformSerialDevice()) {}

CSerialPort::CSerialPort(std::unique_ptr<SerialDevice> device)
    : device_(OrPlatformDevice(std::move(device))) {}

CSerialPort::~CSerialPort() {
    Close();
}

void CSerialPort::SetDevice(std::unique_ptr<SerialDevice> device) {
    Close();
    device_ = OrPlatformDevice(std::move(device));
}

void CSerialPort::Open(int32_t portNumber, const LineSettings& settings) {
    char path[kDevicePathCapacity] = {};
    PortNumberToDevicePath(portNumber, path, sizeof path);
    OpenPath(path, settings);
}

void CSerialPort::OpenPath(const char* path, const LineSettings& settings) {
    // A missing path names no device: the system's open then fails with its own "not found".
    device_->Open(path != nullptr ? path : "", settings);
}

void CSerialPort::Close() noexcept {
    device_->Close();
}

bool CSerialPort::IsOpen() const noexcept {
    return device_->IsOpen();
}

uint32_t CSerialPort::Read(uint8_t* buffer, uint32_t count) {
    if (buffer == nullptr || count == 0 || !device_->IsOpen()) {
        return 0;
    }
    const uint32_t arrived = device_->Read(buffer, count);
    trace_.Record(PortTrace::Direction::Read, buffer, arrived);
    return arrived;
}

uint32_t CSerialPort::Write(const uint8_t* buffer, uint32_t count) {
    if (buffer == nullptr || count == 0 || !device_->IsOpen()) {
        return 0;
    }
    const uint32_t written = device_->Write(buffer, count);
    trace_.Record(PortTrace::Direction::Written, buffer, written);
    return written;
}

uint32_t CSerialPort::WriteText(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    const size_t length = strlen(text);
    const uint32_t count = static_cast<uint32_t>(length);
    if (count != length) {
        // No command line comes near 4 GiB; refuse rather than send a silently shortened one.
        throw std::length_error("text too long for one serial write");
    }
    return Write(reinterpret_cast<const uint8_t*>(text), count);
}

void CSerialPort::PurgeInput() {
    device_->PurgeInput();
}

void CSerialPort::PurgeOutput() {
    device_->PurgeOutput();
}

void CSerialPort::SetImmediateReadTimeouts() {
    device_->SetImmediateReadTimeouts();
}

void CSerialPort::GetConfig() {
    device_->CheckConfiguration();
}

}  // namespace tidewire

// The one exception of the serial port: the system error code of the failed call and the
// system's message text for it (or a text of the port's own where the platform has no code,
// such as a line setting that the driver cannot express). Thrown by value; it never leaves
// the library.
#ifndef TIDEWIRE_PLATFORM_CSERIALEXCEPTION_H
#define TIDEWIRE_PLATFORM_CSERIALEXCEPTION_H

#include <cstdint>
#include <exception>

namespace tidewire {

class CSerialException : public std::exception {
  public:
    // Takes the platform's message text for errorCode (strerror, FormatMessageA) at once.
    explicit CSerialException(uint32_t errorCode);
    // A failure with a text of the library's own (ASCII), and the error code that goes with it.
    CSerialException(uint32_t errorCode, const char* ownText);

    uint32_t ErrorCode() const noexcept { return errorCode_; }

    // Copies the message text into buffer, cut to capacity - 1 bytes and NUL-terminated.
    // Returns false, touching nothing, for a null buffer or zero capacity; false with an empty
    // text when there is no message for the code. helpContext, when given, is set to 0.
    bool GetErrorText(char* buffer, uint32_t capacity, uint32_t* helpContext = nullptr) const;

    const char* what() const noexcept override { return text_; }

  private:
    uint32_t errorCode_;
    char text_[512];
};

// Throws CSerialException for code; 0 means the calling thread's last system error (errno,
// GetLastError).
[[noreturn]] void ThrowSerialException(uint32_t code = 0);

}  // namespace tidewire

#endif

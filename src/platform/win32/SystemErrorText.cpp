// GetLastError codes and the system's message texts for the serial port's exceptions.
#include "platform/Platform.h"

#include <windows.h>

#include "base/BoundedCopy.h"

namespace tidewire {

namespace {

// The system's default language: the message comes in the language the machine was set up
// with, in its ANSI code page, as every other program on it shows it.
constexpr DWORD kSystemDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT);

// Frees the text FormatMessageA allocated, however the copy ends.
class SystemText {
  public:
    SystemText() = default;
    ~SystemText() {
        if (text_ != nullptr) {
            LocalFree(text_);
        }
    }
    SystemText(const SystemText&) = delete;
    SystemText& operator=(const SystemText&) = delete;

    char** Receiver() { return &text_; }
    const char* Get() const { return text_; }

  private:
    char* text_ = nullptr;
};

}  // namespace

uint32_t LastSystemErrorCode() noexcept {
    const DWORD code = GetLastError();
    return code != 0 ? code : ERROR_IO_DEVICE;
}

void SystemErrorText(uint32_t code, char* buffer, uint32_t capacity) noexcept {
    if (buffer == nullptr || capacity == 0) {
        return;
    }
    buffer[0] = '\0';
    // Some messages hold inserts ("Insert %2 into drive %1"); there are no arguments to put in
    // them, so they are left as they stand instead of being read from nowhere. The text keeps
    // the CR LF the system ends it with.
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    SystemText text;
    const DWORD length = FormatMessageA(flags, nullptr, code, kSystemDefaultLanguage,
                                        reinterpret_cast<char*>(text.Receiver()), 0, nullptr);
    if (length == 0 || text.Get() == nullptr) {
        return;
    }
    BoundedCopy(buffer, capacity, text.Get(), length);
}

}  // namespace tidewire

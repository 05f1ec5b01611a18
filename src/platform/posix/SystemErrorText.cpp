// errno and strerror_r texts for the serial port's exceptions.
#include "platform/Platform.h"

#include <cerrno>
#include <cstring>

#include "base/BoundedCopy.h"

namespace tidewire {

namespace {

// glibc with _GNU_SOURCE declares the GNU strerror_r, which returns the text (possibly a static
// one, leaving the buffer untouched); other C libraries declare the XSI one, which returns 0 and
// fills the buffer. Overloading on the result type accepts whichever the headers declared.
[[maybe_unused]] const char* PickText(const char* gnuResult, const char* /*buffer*/) {
    return gnuResult;
}
[[maybe_unused]] const char* PickText(int xsiResult, const char* buffer) {
    return xsiResult == 0 ? buffer : nullptr;
}

}  // namespace

uint32_t LastSystemErrorCode() noexcept {
    const int code = errno;
    return code != 0 ? static_cast<uint32_t>(code) : static_cast<uint32_t>(EIO);
}

void SystemErrorText(uint32_t code, char* buffer, uint32_t capacity) noexcept {
    if (buffer == nullptr || capacity == 0) {
        return;
    }
    char scratch[256] = {};
    const int savedErrno = errno;
    const char* const text =
        PickText(strerror_r(static_cast<int>(code), scratch, sizeof scratch), scratch);
    errno = savedErrno;
    BoundedCopy(buffer, capacity, text);
}

}  // namespace tidewire

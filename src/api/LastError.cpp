#include "api/LastError.h"

#include <cstring>

#include "base/BoundedCopy.h"
#include "platform/Platform.h"

namespace tidewire {

void LastError::Set(ErrorText error, const char* hostDetail) {
    char text[sizeof text_];
    const size_t length = LibraryTextToHost(ErrorTextUtf8(error), text, sizeof text);
    if (hostDetail != nullptr) {
        BoundedCopy(text + length, sizeof text - length, hostDetail);
    }
    std::lock_guard<std::mutex> hold(lock_);
    std::memcpy(text_, text, sizeof text_);
    code_ = ErrorCode(error);
}

void LastError::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    std::memset(text_, 0, sizeof text_);
    code_ = TIDEWIRE_ERROR_NONE;
}

int32_t LastError::Get(char* buffer, int32_t length) {
    std::lock_guard<std::mutex> hold(lock_);
    const size_t textLength = CopyText();
    if (buffer == nullptr || length <= 0) {
        return 0;
    }
    const size_t wanted = static_cast<size_t>(length);
    const size_t copied = textLength < wanted ? textLength : wanted;
    std::memcpy(buffer, copy_, copied);
    if (copied < wanted) {
        std::memset(buffer + copied, 0, wanted - copied);
    }
    return static_cast<int32_t>(copied);
}

int32_t LastError::GetWhole(char* buffer) {
    std::lock_guard<std::mutex> hold(lock_);
    const size_t textLength = CopyText();
    if (buffer == nullptr) {
        return 0;
    }
    std::memcpy(buffer, copy_, textLength + 1);
    return static_cast<int32_t>(textLength);
}

int32_t LastError::GetCode() {
    std::lock_guard<std::mutex> hold(lock_);
    return code_;
}

size_t LastError::CopyText() {
    std::memset(copy_, 0, sizeof copy_);
    BoundedCopy(copy_, sizeof copy_, text_);
    return std::strlen(copy_);
}

}  // namespace tidewire

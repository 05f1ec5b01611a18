#include "platform/CSerialException.h"

#include "base/BoundedCopy.h"
#include "platform/Platform.h"

namespace tidewire {

CSerialException::CSerialException(uint32_t errorCode) : errorCode_(errorCode), text_{} {
    SystemErrorText(errorCode, text_, sizeof text_);
}

CSerialException::CSerialException(uint32_t errorCode, const char* ownText)
    : errorCode_(errorCode), text_{} {
    BoundedCopy(text_, ownText);
}

bool CSerialException::GetErrorText(char* buffer, uint32_t capacity, uint32_t* helpContext) const {
    if (buffer == nullptr || capacity == 0) {
        return false;
    }
    if (helpContext != nullptr) {
        *helpContext = 0;
    }
    BoundedCopy(buffer, capacity, text_, sizeof text_);
    return text_[0] != '\0';
}

void ThrowSerialException(uint32_t code) {
    throw CSerialException(code != 0 ? code : LastSystemErrorCode());
}

}  // namespace tidewire

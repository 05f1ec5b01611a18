#include <cstring>

#include "modem/ReplyBuffer.h"

namespace tidewire {

void ReplyBuffer::Clear() {
    std::memset(data_, 0, sizeof data_);
    length_ = 0;
    full_ = false;
}

bool ReplyBuffer::Append(const uint8_t* bytes, size_t count) {
    const size_t room = kCapacity - 1 - length_;
    const size_t taken = count < room ? count : room;
    std::memcpy(data_ + length_, bytes, taken);
    length_ += taken;
    data_[length_] = '\0';
    if (taken < count) {
        full_ = true;
    }
    return taken == count;
}

void ReplyBuffer::UpperCaseFrom(size_t from) {
    for (size_t i = from; i < length_; ++i) {
        if (data_[i] >= 'a' && data_[i] <= 'z') {
            data_[i] = static_cast<char>(data_[i] - 'a' + 'A');
        }
    }
}

size_t ReplyBuffer::Find(const char* token, size_t from) const {
    const size_t tokenLength = std::strlen(token);
    if (tokenLength == 0 || tokenLength > length_) {
        return npos;
    }
    for (size_t i = from; i + tokenLength <= length_; ++i) {
        if (std::memcmp(data_ + i, token, tokenLength) == 0) {
            return i;
        }
    }
    return npos;
}

}  // namespace tidewire

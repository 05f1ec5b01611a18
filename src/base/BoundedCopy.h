// The one way text is copied into a fixed field: never past the destination, always
// NUL-terminated, the rest of the field left as it was (callers zero-fill records first).
#ifndef TIDEWIRE_BASE_BOUNDEDCOPY_H
#define TIDEWIRE_BASE_BOUNDEDCOPY_H

#include <cstddef>
#include <cstring>

namespace tidewire {

// Copies at most sourceLength bytes of source, and at most capacity - 1 bytes, then a NUL.
// Stops early at a NUL in source. Returns the number of bytes copied. capacity 0 writes nothing.
inline size_t BoundedCopy(char* destination, size_t capacity, const char* source,
                          size_t sourceLength) {
    if (capacity == 0) {
        return 0;
    }
    size_t n = 0;
    if (source != nullptr) {
        while (n < sourceLength && n + 1 < capacity && source[n] != '\0') {
            destination[n] = source[n];
            ++n;
        }
    }
    destination[n] = '\0';
    return n;
}

inline size_t BoundedCopy(char* destination, size_t capacity, const char* source) {
    return BoundedCopy(destination, capacity, source, static_cast<size_t>(-1));
}

template <size_t N>
size_t BoundedCopy(char (&destination)[N], const char* source) {
    return BoundedCopy(destination, N, source);
}

// strnlen that accepts a null pointer as the empty text.
inline size_t BoundedLength(const char* text, size_t limit) {
    return text == nullptr ? 0 : strnlen(text, limit);
}

}  // namespace tidewire

#endif

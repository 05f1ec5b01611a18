// Host text on Windows: the process's ANSI code page (CP_ACP), converted by the system without
// flags, so that every host sees its texts treated exactly as the rest of Windows treats them:
// invalid bytes become U+FFFD, characters the code page lacks become its default character.
// The library's own texts are always handed out as GBK (code page 936), the bytes hosts written
// for Chinese Windows compare against, whatever code page the machine runs with.
#include "platform/Platform.h"

#include <windows.h>

#include <climits>
#include <cstring>

namespace tidewire {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows UTF-16 units are 16 bits");

constexpr UINT kGbkCodePage = 936;

// The library's texts are a few dozen characters; this holds any of them many times over.
constexpr size_t kLibraryTextUnits = 1024;

// No code page takes more bytes than this for one character (a surrogate pair in UTF-8).
constexpr size_t kLongestCharacter = 8;

int ClampToInt(size_t value) {
    return value > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Converts character by character, so that a text longer than the buffer is cut after the
// last character that fits whole, never inside a double-byte one (the system's conversion
// would refuse the whole text instead). Every ANSI code page is stateless, so converting one
// character at a time gives the same bytes as converting the text at once.
size_t Utf16ToCodePage(UINT codePage, const char16_t* units, size_t count, char* out,
                       size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    size_t written = 0;
    size_t next = 0;
    while (units != nullptr && next < count && units[next] != 0) {
        const size_t width =
            IsHighSurrogate(units[next]) && next + 1 < count && IsLowSurrogate(units[next + 1]) ? 2
                                                                                                : 1;
        char bytes[kLongestCharacter];
        const int length =
            WideCharToMultiByte(codePage, 0, reinterpret_cast<const wchar_t*>(units + next),
                                static_cast<int>(width), bytes, sizeof bytes, nullptr, nullptr);
        if (length <= 0) {
            break;  // a code page the system does not have: the text ends here
        }
        const size_t size = static_cast<size_t>(length);
        if (size > outCapacity - 1 - written) {
            break;
        }
        std::memcpy(out + written, bytes, size);
        written += size;
        next += width;
    }
    out[written] = '\0';
    return written;
}

}  // namespace

size_t HostToUtf16(const char* bytes, size_t byteCount, char16_t* out, size_t outCapacity) {
    // A capacity of 0 would make the system report the size it needs instead of converting.
    if (bytes == nullptr || out == nullptr || byteCount == 0 || outCapacity == 0 ||
        byteCount > static_cast<size_t>(INT_MAX)) {
        return 0;
    }
    const int units = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(byteCount),
                                          reinterpret_cast<wchar_t*>(out), ClampToInt(outCapacity));
    return units > 0 ? static_cast<size_t>(units) : 0;
}

bool HostTextIsValid(const char* bytes, size_t byteCount) {
    if (byteCount == 0) {
        return true;
    }
    if (bytes == nullptr || byteCount > static_cast<size_t>(INT_MAX)) {
        return false;
    }
    // With MB_ERR_INVALID_CHARS the system refuses, instead of replacing, a byte of no character
    // and a lead byte without its trail; asked only for the size, it writes nothing.
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(byteCount),
                               nullptr, 0) > 0;
}

size_t Utf16ToHost(const char16_t* units, size_t count, char* out, size_t outCapacity) {
    return Utf16ToCodePage(CP_ACP, units, count, out, outCapacity);
}

size_t LibraryTextToHost(const char* utf8, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    out[0] = '\0';
    const size_t length = utf8 == nullptr ? 0 : strnlen(utf8, 4 * kLibraryTextUnits);
    if (length == 0) {
        return 0;
    }
    char16_t units[kLibraryTextUnits];
    const int unitCount =
        MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(length),
                            reinterpret_cast<wchar_t*>(units), static_cast<int>(kLibraryTextUnits));
    if (unitCount <= 0) {
        return 0;
    }
    return Utf16ToCodePage(kGbkCodePage, units, static_cast<size_t>(unitCount), out, outCapacity);
}

// The Windows conversions keep no state of their own.
void PrepareCodePageForThisThread() {}

}  // namespace tidewire

#include "codec/TextHex.h"

#include <cstring>

#include "base/BoundedCopy.h"
#include "platform/Platform.h"

namespace tidewire {
namespace {

const char kHexDigits[] = "0123456789ABCDEF";

// Host texts are measured in at most this many UTF-16 units; the longest text the library
// handles (a record's 255 bytes) needs far fewer.
constexpr size_t kMaxTextUnits = 1024;

// No character of any codeset takes more than four bytes per UTF-16 unit, so a longer text
// can never fit the units above; measuring stops there instead of running on.
constexpr size_t kMaxTextBytes = 4 * kMaxTextUnits;

}  // namespace

TextKind KindOfText(const char* hostText) {
    // Every character is at least one byte, so a text of kMaxTextUnits bytes or more is either
    // too long to convert or holds fewer characters than bytes: multi-byte in both cases.
    const size_t length = BoundedLength(hostText, kMaxTextUnits);
    if (length == 0) {
        return TextKind::SingleByte;
    }
    if (length >= kMaxTextUnits) {
        return TextKind::MultiByte;
    }
    char16_t units[kMaxTextUnits];
    const size_t unitCount = HostToUtf16(hostText, length, units, kMaxTextUnits);
    return unitCount != length ? TextKind::MultiByte : TextKind::SingleByte;
}

bool HostTextConverts(const char* hostText) {
    const size_t length = BoundedLength(hostText, kMaxTextBytes + 1);
    return length <= kMaxTextBytes && HostTextIsValid(hostText, length);
}

size_t CountHostCharacters(const char* text) {
    const size_t length = BoundedLength(text, kMaxTextBytes + 1);
    if (length == 0 || length > kMaxTextBytes) {
        return 0;
    }
    char16_t units[kMaxTextUnits];
    return HostToUtf16(text, length, units, kMaxTextUnits);
}

size_t HostToUcs2(const char* bytes, size_t byteCount, uint8_t* out, size_t outCapacity) {
    if (bytes == nullptr || out == nullptr || byteCount == 0) {
        return 0;
    }
    const size_t unitCapacity = outCapacity / 2 < kMaxTextUnits ? outCapacity / 2 : kMaxTextUnits;
    char16_t units[kMaxTextUnits];
    const size_t unitCount = HostToUtf16(bytes, byteCount, units, unitCapacity);
    for (size_t i = 0; i < unitCount; ++i) {
        out[2 * i] = static_cast<uint8_t>(units[i] >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(units[i] & 0xFF);
    }
    return 2 * unitCount;
}

size_t Ucs2ToHost(const uint8_t* ucs2, size_t byteCount, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    if (ucs2 == nullptr) {
        byteCount = 0;
    }
    size_t unitCount = byteCount / 2;
    if (unitCount > kMaxTextUnits) {
        unitCount = kMaxTextUnits;
    }
    char16_t units[kMaxTextUnits];
    for (size_t i = 0; i < unitCount; ++i) {
        units[i] = static_cast<char16_t>((ucs2[2 * i] << 8) | ucs2[2 * i + 1]);
    }
    return Utf16ToHost(units, unitCount, out, outCapacity);
}

size_t Utf16UnitsFittingHost(const char16_t* units, size_t count, size_t maxBytes) {
    if (units == nullptr) {
        return 0;
    }
    if (count > kMaxTextUnits) {
        count = kMaxTextUnits;
    }
    // Room for the whole text in any codeset (at most four bytes a unit), so that a measure is
    // never cut short; the host length of a prefix only grows with it, so the longest prefix
    // that fits is found by halving.
    char host[4 * kMaxTextUnits + 1];
    size_t fits = 0;
    size_t beyond = count + 1;
    while (beyond - fits > 1) {
        const size_t middle = fits + (beyond - fits) / 2;
        if (Utf16ToHost(units, middle, host, sizeof host) <= maxBytes) {
            fits = middle;
        } else {
            beyond = middle;
        }
    }
    if (fits > 0 && fits < count && units[fits - 1] >= 0xD800 && units[fits - 1] <= 0xDBFF) {
        --fits;
    }
    return fits;
}

size_t BytesToHex(const uint8_t* bytes, size_t count, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    if (bytes == nullptr || count > (outCapacity - 1) / 2) {
        out[0] = '\0';
        return 0;
    }
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = kHexDigits[bytes[i] >> 4];
        out[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
    }
    out[2 * count] = '\0';
    return 2 * count;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

size_t HexToBytes(const char* hex, size_t charCount, uint8_t* out, size_t outCapacity) {
    if (hex == nullptr || out == nullptr) {
        return 0;
    }
    size_t written = 0;
    for (size_t i = 0; i + 1 < charCount && written < outCapacity; i += 2) {
        const int high = HexDigitValue(hex[i]);
        const int low = HexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0) {
            break;
        }
        out[written++] = static_cast<uint8_t>((high << 4) | low);
    }
    return written;
}

size_t HexToText(const char* hex, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    size_t written = 0;
    if (hex != nullptr) {
        // The second character is looked at only when the first is not the terminator.
        for (size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0' && written + 1 < outCapacity;
             i += 2) {
            const int high = HexDigitValue(hex[i]);
            const int low = HexDigitValue(hex[i + 1]);
            if (high < 0 || low < 0) {
                break;
            }
            out[written++] = static_cast<char>((high << 4) | low);
        }
    }
    out[written] = '\0';
    return written;
}

size_t SemiOctetsToDigits(const char* in, size_t charCount, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    if (in == nullptr) {
        charCount = 0;
    }
    // The swapped order of all characters; a lone last character stays where it is.
    size_t digitCount = charCount;
    const char last = charCount % 2 == 0 && charCount > 0 ? in[charCount - 2] : '\0';
    if (last == 'F' || last == 'f') {
        --digitCount;
    }
    size_t written = 0;
    for (size_t i = 0; i < digitCount && written + 1 < outCapacity; ++i) {
        const size_t source = (i % 2 == 0) ? (i + 1 < charCount ? i + 1 : i) : i - 1;
        out[written++] = in[source];
    }
    out[written] = '\0';
    return written;
}

size_t DigitsToSemiOctets(const char* digits, size_t count, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    const size_t charCount = count + count % 2;
    if (digits == nullptr || charCount >= outCapacity) {
        out[0] = '\0';
        return 0;
    }
    for (size_t i = 0; i < count; i += 2) {
        out[i] = i + 1 < count ? digits[i + 1] : 'F';
        out[i + 1] = digits[i];
    }
    out[charCount] = '\0';
    return charCount;
}

size_t HostToUcs2Hex(const char* text, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    out[0] = '\0';
    const size_t length = BoundedLength(text, kMaxTextBytes + 1);
    if (length > kMaxTextBytes) {
        return 0;
    }
    uint8_t ucs2[2 * kMaxTextUnits];
    const size_t ucs2Bytes = HostToUcs2(text, length, ucs2, sizeof(ucs2));
    return BytesToHex(ucs2, ucs2Bytes, out, outCapacity);
}

size_t HostToHex(const char* text, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    // Two digits and the terminator: a longer text cannot fit and need not be measured.
    const size_t limit = outCapacity / 2 + 1;
    const size_t length = BoundedLength(text, limit);
    return BytesToHex(reinterpret_cast<const uint8_t*>(text), length, out, outCapacity);
}

}  // namespace tidewire

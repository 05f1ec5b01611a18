// Host text on POSIX: the codeset of the calling thread's LC_CTYPE locale, converted with iconv.
// The library never calls setlocale; it follows whatever locale the host chose. A host that
// never chose one runs in the "C" locale, whose codeset is plain ASCII: such a host gets UTF-8,
// so that received Chinese or Cyrillic text still arrives instead of turning into '?'.
//
// iconv_open allocates, so each thread keeps its descriptors for the few codesets it has met
// and reuses them: after the first conversion on a thread nothing here allocates.
#include "platform/Platform.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace tidewire {
namespace {

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
const char* const kNativeUtf16 = "UTF-16BE";
#else
const char* const kNativeUtf16 = "UTF-16LE";
#endif

const char16_t kReplacementCharacter = 0xFFFD;

// The codeset host texts are in, with plain ASCII replaced by UTF-8.
const char* HostCodeset() {
    const char* const codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || codeset[0] == '\0' || strcmp(codeset, "ANSI_X3.4-1968") == 0 ||
        strcmp(codeset, "ASCII") == 0 || strcmp(codeset, "US-ASCII") == 0 ||
        strcmp(codeset, "646") == 0) {
        return "UTF-8";
    }
    return codeset;
}

enum Direction { kHostToUtf16, kUtf16ToHost, kUtf8ToHost, kDirectionCount };

void OpenDescriptor(const char* codeset, Direction direction, iconv_t& descriptor) {
    switch (direction) {
        case kHostToUtf16:
            descriptor = iconv_open(kNativeUtf16, codeset);
            break;
        case kUtf16ToHost:
            descriptor = iconv_open(codeset, kNativeUtf16);
            break;
        default:
            descriptor = iconv_open(codeset, "UTF-8");
            break;
    }
}

// The descriptors of one codeset, opened on first use in each direction.
struct CodesetDescriptors {
    char codeset[64] = {};
    iconv_t descriptors[kDirectionCount] = {kNoDescriptor, kNoDescriptor, kNoDescriptor};

    void Close() {
        for (iconv_t& descriptor : descriptors) {
            if (descriptor != kNoDescriptor) {
                iconv_close(descriptor);
                descriptor = kNoDescriptor;
            }
        }
        codeset[0] = '\0';
    }
};

// A thread's descriptors for the last few codesets it converted. Hosts rarely change locale,
// so four entries are plenty; when a fifth codeset appears the oldest entry is reopened.
class ThreadDescriptorCache {
  public:
    ThreadDescriptorCache() = default;
    ThreadDescriptorCache(const ThreadDescriptorCache&) = delete;
    ThreadDescriptorCache& operator=(const ThreadDescriptorCache&) = delete;
    ~ThreadDescriptorCache() {
        for (CodesetDescriptors& entry : entries_) {
            entry.Close();
        }
    }

    // The descriptor for the codeset and direction, reset to its initial shift state, or
    // kNoDescriptor when iconv does not know the codeset.
    iconv_t Get(const char* codeset, Direction direction) {
        const size_t nameLength = strlen(codeset);
        if (nameLength >= sizeof(entries_[0].codeset)) {
            return kNoDescriptor;
        }
        CodesetDescriptors* entry = nullptr;
        for (CodesetDescriptors& candidate : entries_) {
            if (candidate.codeset[0] != '\0' && strcmp(candidate.codeset, codeset) == 0) {
                entry = &candidate;
                break;
            }
        }
        if (entry == nullptr) {
            entry = &entries_[nextVictim_];
            nextVictim_ = (nextVictim_ + 1) % kEntryCount;
            entry->Close();
            memcpy(entry->codeset, codeset, nameLength + 1);
        }
        iconv_t& descriptor = entry->descriptors[direction];
        if (descriptor == kNoDescriptor) {
            OpenDescriptor(codeset, direction, descriptor);
        }
        if (descriptor != kNoDescriptor) {
            iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
        }
        return descriptor;
    }

  private:
    static constexpr size_t kEntryCount = 4;
    CodesetDescriptors entries_[kEntryCount];
    size_t nextVictim_ = 0;
};

iconv_t DescriptorFor(Direction direction) {
    thread_local ThreadDescriptorCache cache;
    return cache.Get(HostCodeset(), direction);
}

// iconv takes a non-const input pointer for historical reasons; it never writes through it.
char* IconvInput(const void* bytes) {
    return const_cast<char*>(static_cast<const char*>(bytes));
}

// Length in bytes of the input character that iconv refused, so that it can be replaced as a
// whole by one '?'.
size_t RefusedUtf16Length(const char16_t* unit, size_t unitsLeft) {
    const bool highSurrogate = *unit >= 0xD800 && *unit <= 0xDBFF;
    if (highSurrogate && unitsLeft >= 2 && unit[1] >= 0xDC00 && unit[1] <= 0xDFFF) {
        return 2 * sizeof(char16_t);
    }
    return sizeof(char16_t);
}

size_t RefusedUtf8Length(const char* bytes, size_t bytesLeft) {
    size_t length = 1;
    while (length < bytesLeft && length < 4 &&
           (static_cast<unsigned char>(bytes[length]) & 0xC0) == 0x80) {
        ++length;
    }
    return length;
}

// Converts into host text, whole characters only, keeping one byte for the NUL. A character
// that the codeset lacks (or that is not valid in the input) becomes '?'.
size_t ConvertToHost(iconv_t descriptor, const char* input, size_t inputBytes, bool inputIsUtf16,
                     char* out, size_t outCapacity) {
    if (outCapacity == 0) {
        return 0;
    }
    out[0] = '\0';
    if (descriptor == kNoDescriptor) {
        return 0;
    }
    char* inPointer = IconvInput(input);
    size_t inLeft = inputBytes;
    char* outPointer = out;
    size_t outLeft = outCapacity - 1;
    while (inLeft > 0) {
        if (iconv(descriptor, &inPointer, &inLeft, &outPointer, &outLeft) !=
            static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG || outLeft == 0) {
            break;
        }
        // EILSEQ: a character the codeset lacks or an invalid input sequence; EINVAL: a
        // character cut off at the end of the input. Either way one '?' takes its place.
        const size_t refused =
            inputIsUtf16 ? RefusedUtf16Length(reinterpret_cast<const char16_t*>(inPointer),
                                              inLeft / sizeof(char16_t))
                         : RefusedUtf8Length(inPointer, inLeft);
        *outPointer++ = '?';
        --outLeft;
        const size_t skipped = refused < inLeft ? refused : inLeft;
        inPointer += skipped;
        inLeft -= skipped;
        // A stateful codeset must return to its initial state before the next character.
        iconv(descriptor, nullptr, nullptr, &outPointer, &outLeft);
    }
    // Close a stateful codeset's shift sequence; if it does not fit, the text ends before it.
    iconv(descriptor, nullptr, nullptr, &outPointer, &outLeft);
    const size_t written = static_cast<size_t>(outPointer - out);
    out[written] = '\0';
    return written;
}

}  // namespace

size_t HostToUtf16(const char* bytes, size_t byteCount, char16_t* out, size_t outCapacity) {
    if (byteCount == 0 || bytes == nullptr || out == nullptr) {
        return 0;
    }
    const iconv_t descriptor = DescriptorFor(kHostToUtf16);
    if (descriptor == kNoDescriptor) {
        return 0;
    }
    char* inPointer = IconvInput(bytes);
    size_t inLeft = byteCount;
    char* const outStart = reinterpret_cast<char*>(out);
    char* outPointer = outStart;
    size_t outLeft = outCapacity * sizeof(char16_t);
    while (inLeft > 0) {
        if (iconv(descriptor, &inPointer, &inLeft, &outPointer, &outLeft) !=
            static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG || outLeft < sizeof(char16_t)) {
            return 0;
        }
        // An invalid byte, or a multi-byte character cut off at the end: one U+FFFD for the
        // byte, and the conversion resynchronises on the next one.
        memcpy(outPointer, &kReplacementCharacter, sizeof(char16_t));
        outPointer += sizeof(char16_t);
        outLeft -= sizeof(char16_t);
        ++inPointer;
        --inLeft;
        iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    }
    return static_cast<size_t>(outPointer - outStart) / sizeof(char16_t);
}

bool HostTextIsValid(const char* bytes, size_t byteCount) {
    if (byteCount == 0) {
        return true;
    }
    const iconv_t descriptor = bytes == nullptr ? kNoDescriptor : DescriptorFor(kHostToUtf16);
    if (descriptor == kNoDescriptor) {
        return false;
    }
    char* inPointer = IconvInput(bytes);
    size_t inLeft = byteCount;
    // The units themselves are not wanted: the conversion runs through a small buffer, again
    // and again, until the input is used up or refused.
    char scratch[256];
    while (inLeft > 0) {
        char* outPointer = scratch;
        size_t outLeft = sizeof scratch;
        if (iconv(descriptor, &inPointer, &inLeft, &outPointer, &outLeft) !=
            static_cast<size_t>(-1)) {
            break;
        }
        if (errno != E2BIG) {
            return false;  // EILSEQ: no character of the codeset; EINVAL: one cut off at the end
        }
    }
    return true;
}

size_t Utf16ToHost(const char16_t* units, size_t count, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    if (units == nullptr) {
        count = 0;
    }
    // A U+0000 would end the host text early while the count ran on; the text ends there.
    for (size_t i = 0; i < count; ++i) {
        if (units[i] == 0) {
            count = i;
            break;
        }
    }
    return ConvertToHost(DescriptorFor(kUtf16ToHost), reinterpret_cast<const char*>(units),
                         count * sizeof(char16_t), true, out, outCapacity);
}

size_t LibraryTextToHost(const char* utf8, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    const size_t length = utf8 == nullptr ? 0 : strlen(utf8);
    return ConvertToHost(DescriptorFor(kUtf8ToHost), utf8, length, false, out, outCapacity);
}

void PrepareCodePageForThisThread() {
    for (int direction = 0; direction < kDirectionCount; ++direction) {
        DescriptorFor(static_cast<Direction>(direction));
    }
}

}  // namespace tidewire

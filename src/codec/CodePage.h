// The host's "ANSI" code page. On Windows that is CP_ACP; on POSIX the codeset of the host's
// LC_CTYPE locale, with UTF-8 standing in for plain ASCII (a host that never called setlocale).
// One implementation per platform: posix/CodePage.cpp, win32/CodePage.cpp.
//
// No function here allocates per call on the hot path, and none throws.
#ifndef TIDEWIRE_CODEC_CODEPAGE_H
#define TIDEWIRE_CODEC_CODEPAGE_H

#include <cstddef>

namespace tidewire {

// Host text (byteCount bytes, NULs included as characters) to UTF-16 units. Bytes that are not
// valid in the code page become U+FFFD, as the Windows conversion without flags does. Returns
// the number of units, or 0 when they do not all fit into outCapacity units.
size_t HostToUtf16(const char* bytes, size_t byteCount, char16_t* out, size_t outCapacity);

// UTF-16 units to host text. Converts whole characters while they fit into outCapacity - 1
// bytes, so a text that is too long is cut at a character boundary, never inside a multi-byte
// character. A character the code page lacks becomes '?'. A U+0000 ends the text. Always
// NUL-terminates (when outCapacity > 0). Returns the number of bytes before the NUL.
size_t Utf16ToHost(const char16_t* units, size_t count, char* out, size_t outCapacity);

// One of the library's own texts (UTF-8 in the source) in the form SMSGetLastError hands out:
// GBK bytes on Windows, the host's codeset on POSIX. Same cutting and NUL rules as
// Utf16ToHost. Returns the number of bytes before the NUL.
size_t LibraryTextToHost(const char* utf8, char* out, size_t outCapacity);

// Readies the conversions on the calling thread (the POSIX build opens and caches its iconv
// descriptors for the host's codeset), so that the worker's modem dialogues never allocate for
// their first conversion.
void PrepareCodePageForThisThread();

}  // namespace tidewire

#endif

// Everything a platform provides, in one list. Each platform implements all of it in its own
// folder (posix/, win32/), and CMake lists each platform's sources by name; the rest of the
// library reaches the system only through these functions and the SerialDevice they make.
#ifndef TIDEWIRE_PLATFORM_PLATFORM_H
#define TIDEWIRE_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

namespace tidewire {

class SerialDevice;

// --- The serial device (SerialDevice.h) ------------------------------------------------------

// The device of the platform this library was built for.
std::unique_ptr<SerialDevice> MakePlatformSerialDevice();

// The device path of COM<portNumber> on this platform ("\\.\COMn" on Windows, "/dev/ttyS<n-1>"
// on POSIX). Writes at most capacity bytes, always NUL-terminated.
void PortNumberToDevicePath(int32_t portNumber, char* path, uint32_t capacity);

// --- System error texts, for CSerialException ------------------------------------------------

// The calling thread's last system error (errno, GetLastError). Never 0: a call that failed
// without leaving a reason is reported as a general I/O error rather than as "success".
uint32_t LastSystemErrorCode() noexcept;

// Writes the system's message for code into buffer, cut to capacity - 1 bytes and always
// NUL-terminated; an empty text when the system has none. Nothing is written for a null buffer
// or zero capacity.
void SystemErrorText(uint32_t code, char* buffer, uint32_t capacity) noexcept;

// --- The trace clock ---------------------------------------------------------------------------

// Writes the local time of day, "HH:MM:SS.mmm", and a NUL into buffer, which must hold at least
// 13 bytes; a smaller buffer gets the empty text (or nothing at capacity 0). Local time, so a
// trace reads against the host's own log files.
void FormatTraceTime(char* buffer, size_t capacity) noexcept;

// --- Host text ---------------------------------------------------------------------------------
// The host's "ANSI" code page. On Windows that is CP_ACP; on POSIX the codeset of the host's
// LC_CTYPE locale, with UTF-8 standing in for plain ASCII (a host that never called
// setlocale). None of these allocates per call on the hot path, and none throws.

// Host text (byteCount bytes, NULs included as characters) to UTF-16 units. Bytes that are not
// valid in the code page become U+FFFD, as the Windows conversion without flags does. Returns
// the number of units, or 0 when they do not all fit into outCapacity units.
size_t HostToUtf16(const char* bytes, size_t byteCount, char16_t* out, size_t outCapacity);

// True when the host text (byteCount bytes) is whole characters of the code page: no byte that
// belongs to none, no character cut off at the end. The conversion above would turn such bytes
// into U+FFFD; this says whether it had to.
bool HostTextIsValid(const char* bytes, size_t byteCount);

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

// --- The worker at unload ----------------------------------------------------------------------

// What becomes of the worker thread when the library's service object is destroyed, that is
// when the library is unloaded. A host is meant to stop the service first; one that does not
// must not hang, and each platform knows what waiting for a thread may cost at that moment.
// Called after `running` was cleared, so a live worker is already on its way out. Leaves
// worker not joinable.
void ReleaseWorkerAtUnload(std::thread& worker);

}  // namespace tidewire

#endif

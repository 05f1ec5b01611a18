// Conversions between host text, big-endian UCS-2, hex text and semi-octet digit strings, and
// the test that decides whether a text goes out as single-byte text. Pure functions over
// caller buffers: no allocation, no state, every output bounded by its capacity.
#ifndef TIDEWIRE_CODEC_TEXTHEX_H
#define TIDEWIRE_CODEC_TEXTHEX_H

#include <cstddef>
#include <cstdint>

namespace tidewire {

// The two kinds of text a message goes out as. A single-byte text is plain text of one byte per
// character in the host code page, sent as its bytes; a multi-byte text holds a character of
// more than one byte, or does not convert (1024 units at most), and goes out as UCS-2.
enum class TextKind { SingleByte, MultiByte };

TextKind KindOfText(const char* hostText);

// True when the host text converts from the host code page as it stands: every byte part of a
// whole character (a text too long to measure counts as not converting).
bool HostTextConverts(const char* hostText);

// Number of characters (UTF-16 units) of a host text; 0 when it does not convert within 1024
// units.
size_t CountHostCharacters(const char* text);

// Host text to UCS-2, high byte first. Returns the number of output bytes (2 per unit), or 0
// when the text does not convert or does not fit outCapacity (or 1024 units). No terminator.
size_t HostToUcs2(const char* bytes, size_t byteCount, uint8_t* out, size_t outCapacity);

// UCS-2 (high byte first) to host text; an odd last byte is ignored, and so is anything past
// 1024 units or a U+0000. Whole characters only, cut at a character boundary to fit
// outCapacity - 1; NUL-terminated. Returns the bytes written.
size_t Ucs2ToHost(const uint8_t* ucs2, size_t byteCount, char* out, size_t outCapacity);

// How many of the first units (at most 1024) make host text of at most maxBytes bytes, never
// ending between the halves of a surrogate pair: where a text longer than a record is cut.
size_t Utf16UnitsFittingHost(const char16_t* units, size_t count, size_t maxBytes);

// Each byte as two upper-case hex digits, NUL-terminated. Returns 2n, or 0 (empty text) when
// 2n + 1 does not fit outCapacity.
size_t BytesToHex(const uint8_t* bytes, size_t count, char* out, size_t outCapacity);

// Value of one hex digit in either letter case, or -1.
int HexDigitValue(char c);

// Pairs of hex digits (either case) to bytes, for charCount / 2 pairs (an odd last character is
// ignored) and at most outCapacity bytes. Stops at the first pair that is not two hex digits.
// Returns the number of bytes written. No terminator.
size_t HexToBytes(const char* hex, size_t charCount, uint8_t* out, size_t outCapacity);

// Pairs of hex digits of a NUL-terminated text (either case; a single trailing character is
// ignored; stops at a pair that is not hex) to bytes, at most outCapacity - 1 of them, then a
// NUL. Returns the number of bytes written.
size_t HexToText(const char* hex, char* out, size_t outCapacity);

// Undoes the pair swap of semi-octets (214365F7 -> 1234567) over charCount characters and drops
// one trailing filler 'F' (either case). NUL-terminated within outCapacity. Returns the digits
// kept.
size_t SemiOctetsToDigits(const char* in, size_t charCount, char* out, size_t outCapacity);

// Swaps each pair of digits, padding an odd count with 'F' (1234567 -> 214365F7).
// NUL-terminated. Returns the characters written (count, or count + 1 when odd), or 0 when they
// do not fit outCapacity.
size_t DigitsToSemiOctets(const char* digits, size_t count, char* out, size_t outCapacity);

// HostToUcs2 then BytesToHex: four upper-case hex digits per character. Returns the digits, 0
// when the text does not convert or does not fit.
size_t HostToUcs2Hex(const char* text, char* out, size_t outCapacity);

// BytesToHex over the text's bytes: two digits per byte. Returns the digits, 0 when they do
// not fit.
size_t HostToHex(const char* text, char* out, size_t outCapacity);

}  // namespace tidewire

#endif

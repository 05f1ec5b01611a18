// The GSM 7-bit default alphabet and its extension table (3GPP TS 23.038), and the packing of
// septets into octets.
#ifndef TIDEWIRE_CODEC_GSMALPHABET_H
#define TIDEWIRE_CODEC_GSMALPHABET_H

#include <cstddef>
#include <cstdint>

namespace tidewire {

// Unpacks septetCount septets from octets (octetCount available), starting fillBits bits into
// the first octet (the fill bits after a user-data header). Returns the septets unpacked, fewer
// when the octets run out or outCapacity is reached.
size_t Unpack7Bit(const uint8_t* octets, size_t octetCount, unsigned fillBits, uint8_t* septets,
                  size_t septetCount, size_t outCapacity);

// Translates septets of the default alphabet, with 0x1B escaping into the extension table, to
// UTF-16 units. An unknown extension code becomes the character of the default table that it
// escapes (as the standard asks); a trailing lone escape becomes a space. Returns the units
// written, at most outCapacity.
size_t GsmSeptetsToUtf16(const uint8_t* septets, size_t count, char16_t* out, size_t outCapacity);

// Translates UTF-16 units into septets of the default alphabet, a character of the extension
// table becoming the escape and its code. False when a unit is in neither table (the text then
// needs UCS-2) or the septets do not fit capacity; septetCount is then meaningless.
bool Utf16ToGsmSeptets(const char16_t* units, size_t count, uint8_t* septets, size_t capacity,
                       size_t& septetCount);

// Packs septets into octets, the first one starting fillBits bits into the first octet (the fill
// bits after a user-data header, left zero). Returns the octets written, 0 when they do not fit.
size_t Pack7Bit(const uint8_t* septets, size_t count, unsigned fillBits, uint8_t* octets,
                size_t capacity);

}  // namespace tidewire

#endif

// The GSM 7-bit default alphabet and its extension table, and septet packing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tidewire::sim {

inline constexpr std::uint8_t kGsmEscape = 0x1B;

// Septet codes for the text; an extension-table character takes two (escape and code).
// Nothing when a character is in neither table.
std::optional<std::vector<std::uint8_t>> EncodeGsm7(std::u32string_view text);

// Code points for septet codes. An escape followed by a code the extension table lacks shows
// that code from the default table, which is what handsets do.
std::u32string DecodeGsm7(const std::vector<std::uint8_t>& septets);

// Packs septets into octets, the first septet starting fillBits bits into the first octet (the
// fill that aligns text after a user-data header).
std::vector<std::uint8_t> PackSeptets(const std::vector<std::uint8_t>& septets, int fillBits);

// Reverses PackSeptets; nothing when the octets hold fewer than septetCount septets.
std::optional<std::vector<std::uint8_t>> UnpackSeptets(const std::uint8_t* octets,
                                                       std::size_t octetCount,
                                                       std::size_t septetCount, int fillBits);

}  // namespace tidewire::sim

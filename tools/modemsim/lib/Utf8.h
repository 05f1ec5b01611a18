// UTF-8 and UTF-16 conversions for the simulated modem's texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tidewire::sim {

// Decodes UTF-8 into code points; a malformed sequence becomes U+FFFD so that a bad byte
// never hides the rest of a message.
std::u32string DecodeUtf8(std::string_view text);

void AppendUtf8(std::string& out, char32_t codePoint);
std::string EncodeUtf8(std::u32string_view codePoints);

// UTF-16 code units; characters beyond the basic plane become surrogate pairs, which is what
// phones put into UCS-2 messages for them.
std::vector<std::uint16_t> ToUtf16(std::u32string_view codePoints);
// Unpaired surrogates become U+FFFD.
std::u32string FromUtf16(const std::vector<std::uint16_t>& units);

// Latin-1 bytes (every byte is its own code point) as UTF-8.
std::string Latin1ToUtf8(std::string_view bytes);

}  // namespace tidewire::sim

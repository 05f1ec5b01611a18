// Hex text and ASCII letter-case helpers shared by the simulator's PDU code and replies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tidewire::sim {

using Bytes = std::vector<std::uint8_t>;

// Upper-case hex digits, as modules print PDUs.
std::string BytesToHex(const Bytes& bytes);
// Accepts either letter case; nothing for an odd length or a non-hex character.
std::optional<Bytes> HexToBytes(std::string_view hex);

std::string ToUpperAscii(std::string_view text);
std::string ToLowerAscii(std::string_view text);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
std::string_view TrimBlanks(std::string_view text);

// Parses a whole decimal number (optional sign); nothing for anything else or overflow.
std::optional<int> ParseInt(std::string_view text);

}  // namespace tidewire::sim

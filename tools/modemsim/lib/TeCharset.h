// The character sets the module offers for strings in commands and replies (AT+CSCS).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tidewire::sim {

enum class TeCharset { Ira, Gsm, Ucs2 };

std::optional<TeCharset> TeCharsetByName(std::string_view name);
std::string TeCharsetName(TeCharset charset);
std::vector<TeCharset> SupportedTeCharsets();

// UTF-8 to the host's character set. IRA and GSM show characters they lack as '?', as modules
// do; UCS2 is hex text of UTF-16 units.
std::string EncodeTeText(std::string_view utf8, TeCharset charset);
// The host's bytes to UTF-8; nothing for UCS2 text that is not whole hex units. IRA bytes above
// 0x7F are taken as Latin-1.
std::optional<std::string> DecodeTeText(std::string_view raw, TeCharset charset);

}  // namespace tidewire::sim

// Fields shared by SMS-DELIVER and SMS-SUBMIT PDUs: addresses, the service-centre time stamp,
// the data coding scheme and the user data with its header.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "HexText.h"
#include "ModemTypes.h"

namespace tidewire::sim {

inline constexpr std::uint8_t kTypeInternational = 0x91;
inline constexpr std::uint8_t kTypeUnknown = 0x81;
inline constexpr std::uint8_t kTypeAlphanumeric = 0xD0;

// TP-UDHI in the first octet of every kind of TPDU: the user data starts with a header.
inline constexpr std::uint8_t kUserDataHeader = 0x40;

// Walks a PDU's octets; every read is checked against the end, so a short PDU fails cleanly.
class ByteReader {
  public:
    explicit ByteReader(const Bytes& bytes) : bytes_(bytes) {}
    bool Next(std::uint8_t& out);
    bool Take(std::size_t count, Bytes& out);
    bool Skip(std::size_t count);
    std::size_t Position() const { return position_; }
    std::size_t Remaining() const { return bytes_.size() - position_; }

  private:
    const Bytes& bytes_;
    std::size_t position_ = 0;
};

struct Address {
    std::string number;  // "+" and digits for an international number; a name for alphanumeric
    std::uint8_t type = kTypeUnknown;
};

// A transfer-layer address (originator or destination): digit count, type, semi-octets.
// Throws std::invalid_argument for characters a number cannot hold.
Bytes EncodeAddress(const std::string& number, bool alphanumeric);
// The same for an address read from a PDU: its type octet is kept as it came, so that a number
// of a national or unusual type travels back unchanged. An empty number is allowed.
Bytes EncodeAddress(const Address& address);
std::optional<Address> DecodeAddress(ByteReader& reader);

// The service-centre part in front of the TPDU: octet count, type, semi-octets; "00" for none.
Bytes EncodeServiceCentre(const std::string& number);
std::optional<Address> DecodeServiceCentre(ByteReader& reader);

Bytes EncodeTimestamp(const Timestamp& timestamp);
std::optional<Timestamp> DecodeTimestamp(ByteReader& reader);
// "yy/MM/dd,hh:mm:ss+zz", the text-mode form.
std::string FormatTextModeTimestamp(const Timestamp& timestamp);
Timestamp CurrentLocalTimestamp();

enum class Alphabet { Gsm7, EightBit, Ucs2 };
// Nothing for compressed text and reserved coding groups, which no decoder can show.
std::optional<Alphabet> AlphabetOfDcs(std::uint8_t dcs);

struct UserData {
    Bytes header;  // the information elements, without the header-length octet
    Bytes octets;  // the whole user data as it travels (header included)
    std::string textUtf8;
    std::optional<ConcatInfo> concat;
};

// Reads TP-UDL and TP-UD. Fails when the length runs past the PDU or the header is malformed.
std::optional<UserData> DecodeUserData(ByteReader& reader, Alphabet alphabet, bool hasHeader);

}  // namespace tidewire::sim

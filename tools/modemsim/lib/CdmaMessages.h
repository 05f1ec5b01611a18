// How the CDMA families see a message: a sender number, a time stamp, a message encoding of
// the CDMA short-message standard and the body in that encoding. The store keeps every
// delivered message as an SMS-DELIVER PDU whatever the family; these helpers decide what a CDMA
// network can deliver in one message and turn a stored PDU back into the CDMA fields.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeliverPdu.h"
#include "ModemTypes.h"

namespace tidewire::sim {

// Message encodings as the CDMA families print and take them.
inline constexpr char kCdmaOctets = '0';
inline constexpr char kCdmaAscii = '2';
inline constexpr char kCdmaUnicode = '4';

// The cellular messaging teleservice, which every message of these families carries.
inline constexpr int kCdmaTeleservice = 4098;

inline constexpr std::size_t kCdmaLongestAscii = 160;
inline constexpr std::size_t kCdmaLongestUnicode = 70;  // UTF-16 units

struct CdmaMessage {
    std::string sender;
    Timestamp time;
    char encoding = kCdmaAscii;
    // ASCII: the characters; Unicode: UTF-16 units, high byte first; octets: as delivered.
    std::string body;
    // Characters (ASCII, UTF-16 units) or octets.
    std::size_t length = 0;
};

// One PDU for a message a CDMA network can deliver whole: ASCII text as 7-bit text (at most
// 160 characters), anything else as UCS-2 (at most 70 units); a forced 8-bit coding gives
// octets. Throws std::invalid_argument for an alphanumeric sender, for a forced 7-bit text
// that is not ASCII, and for a text that one message cannot carry.
std::vector<std::string> BuildCdmaDelivery(const IncomingMessage& message,
                                           const DeliverOptions& options);

// Nothing when the stored PDU does not decode.
std::optional<CdmaMessage> ReadCdmaMessage(const StoredMessage& stored);

// "2010/05/12 10:23:45" and "20100512102345".
std::string SlashedTime(const Timestamp& time);
std::string DigitTime(const Timestamp& time);

// UCS-2 bytes (high byte first) to UTF-8; nothing for an odd count.
std::optional<std::string> Ucs2BytesToUtf8(std::string_view bytes);

}  // namespace tidewire::sim

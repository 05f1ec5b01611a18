// SMS-DELIVER PDUs: built for messages put into the module's store, and read back for the
// text-mode listings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ModemTypes.h"
#include "PduFields.h"

namespace tidewire::sim {

struct DeliverOptions {
    // Used only when the text needs several parts: 0 to 255, or to 65535 with a 16-bit
    // reference (information element 08 instead of 00, one octet more in every part's header).
    std::uint16_t concatReference = 0;
    bool sixteenBitReference = false;
    bool moreMessagesWaiting = false;  // TP-MMS clear: the service centre holds more
};

// One PDU per part, as hex with the service-centre part in front. Throws std::invalid_argument
// for a sender that is not a number (or a name of at most 11 GSM characters), a text that the
// forced coding cannot carry, a text that would need more than 255 parts, or a reference
// wider than its element.
std::vector<std::string> BuildDeliverPdus(const IncomingMessage& message,
                                          const DeliverOptions& options = {});

struct DeliverFields {
    std::string serviceCentre;
    Address sender;
    std::uint8_t firstOctet = 0;
    std::uint8_t pid = 0;
    std::uint8_t dcs = 0;
    Alphabet alphabet = Alphabet::Gsm7;
    Timestamp timestamp;
    UserData userData;
    int tpduLength = 0;  // octets after the service-centre part
};

// Nothing when the hex is not a whole, well-formed SMS-DELIVER.
std::optional<DeliverFields> DecodeDeliverPdu(std::string_view hex);

}  // namespace tidewire::sim

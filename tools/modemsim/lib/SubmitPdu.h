// Reads the SMS-SUBMIT PDUs a host writes after AT+CMGS=<length> in PDU mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "PduFields.h"

namespace tidewire::sim {

struct SubmitFields {
    std::string serviceCentre;  // empty when the PDU leaves it to the module ("00")
    std::uint8_t firstOctet = 0;
    int messageReference = 0;
    Address destination;
    std::uint8_t pid = 0;
    std::uint8_t dcs = 0;
    Alphabet alphabet = Alphabet::Gsm7;
    UserData userData;
    int tpduLength = 0;  // octets after the service-centre part: what AT+CMGS must announce
};

struct SubmitParse {
    std::optional<SubmitFields> fields;
    std::string error;  // why the PDU was refused
};

// Refuses anything but one whole, well-formed SMS-SUBMIT (service-centre part in front).
SubmitParse ParseSubmitPdu(std::string_view hex);

}  // namespace tidewire::sim

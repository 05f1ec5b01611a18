// SMS-STATUS-REPORT PDUs: what the service centre sends back about a message the host sent
// with a status-report request, and what a controller may put into the store by hand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ModemTypes.h"
#include "PduFields.h"

namespace tidewire::sim {

// TP-Status values a controller names; any other octet may be given as it is.
inline constexpr std::uint8_t kReportDelivered = 0x00;                // received by the recipient
inline constexpr std::uint8_t kReportIncompatibleDestination = 0x41;  // permanent failure
inline constexpr std::uint8_t kReportValidityExpired = 0x46;          // never reached it in time

struct StatusReportFields {
    std::string serviceCentre;  // "" writes an empty service-centre part
    // Status report, no more messages waiting, the report of an SMS-SUBMIT.
    std::uint8_t firstOctet = 0x06;
    int messageReference = 0;
    Address recipient;
    Timestamp serviceCentreTime;  // when the service centre took the message
    Timestamp dischargeTime;      // when it was delivered, or given up
    std::uint8_t status = kReportDelivered;
    int tpduLength = 0;  // decoding only: octets after the service-centre part
};

// The PDU as hex with the service-centre part in front, ending with TP-ST. Throws
// std::invalid_argument for an address a PDU cannot hold.
std::string BuildStatusReportPdu(const StatusReportFields& fields);

// Nothing when the hex is not a whole, well-formed SMS-STATUS-REPORT (service-centre part in
// front). The optional parameters behind TP-ST (TP-PI and what it announces) are checked and
// skipped.
std::optional<StatusReportFields> DecodeStatusReportPdu(std::string_view hex);

}  // namespace tidewire::sim

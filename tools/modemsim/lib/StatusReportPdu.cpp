#include "StatusReportPdu.h"

namespace tidewire::sim {

namespace {

constexpr std::uint8_t kMessageTypeStatusReport = 0x02;

// TP-PI: which optional fields follow; bit 7 announces one more TP-PI octet.
constexpr std::uint8_t kHasPid = 0x01;
constexpr std::uint8_t kHasDcs = 0x02;
constexpr std::uint8_t kHasUserData = 0x04;
constexpr std::uint8_t kMoreIndicators = 0x80;

// Reads TP-PI and the fields it announces; true when they fill the rest of the PDU exactly.
bool SkipOptionalParameters(ByteReader& reader, std::uint8_t firstOctet) {
    if (reader.Remaining() == 0) {
        return true;
    }
    std::uint8_t indicator = 0;
    if (!reader.Next(indicator)) {
        return false;
    }
    // Only the first TP-PI octet has meaning; extension octets are reserved and skipped.
    for (std::uint8_t more = indicator; more & kMoreIndicators;) {
        if (!reader.Next(more)) {
            return false;
        }
    }
    std::uint8_t pid = 0;
    std::uint8_t dcs = 0;
    if ((indicator & kHasPid) && !reader.Next(pid)) {
        return false;
    }
    if ((indicator & kHasDcs) && !reader.Next(dcs)) {
        return false;
    }
    if (indicator & kHasUserData) {
        const auto alphabet = AlphabetOfDcs(dcs);
        if (!alphabet || !DecodeUserData(reader, *alphabet, (firstOctet & kUserDataHeader) != 0)) {
            return false;
        }
    }
    return reader.Remaining() == 0;
}

}  // namespace

std::string BuildStatusReportPdu(const StatusReportFields& fields) {
    Bytes pdu = EncodeServiceCentre(fields.serviceCentre);
    pdu.push_back(fields.firstOctet);
    pdu.push_back(static_cast<std::uint8_t>(fields.messageReference & 0xFF));
    const Bytes recipient = EncodeAddress(fields.recipient);
    pdu.insert(pdu.end(), recipient.begin(), recipient.end());
    const Bytes received = EncodeTimestamp(fields.serviceCentreTime);
    pdu.insert(pdu.end(), received.begin(), received.end());
    const Bytes discharged = EncodeTimestamp(fields.dischargeTime);
    pdu.insert(pdu.end(), discharged.begin(), discharged.end());
    pdu.push_back(fields.status);
    return BytesToHex(pdu);
}

std::optional<StatusReportFields> DecodeStatusReportPdu(std::string_view hex) {
    const auto bytes = HexToBytes(hex);
    if (!bytes) {
        return std::nullopt;
    }
    ByteReader reader(*bytes);
    const auto serviceCentre = DecodeServiceCentre(reader);
    if (!serviceCentre) {
        return std::nullopt;
    }
    StatusReportFields fields;
    fields.serviceCentre = serviceCentre->number;
    const std::size_t tpduStart = reader.Position();
    std::uint8_t reference = 0;
    if (!reader.Next(fields.firstOctet) || (fields.firstOctet & 0x03) != kMessageTypeStatusReport ||
        !reader.Next(reference)) {
        return std::nullopt;
    }
    fields.messageReference = reference;
    const auto recipient = DecodeAddress(reader);
    if (!recipient) {
        return std::nullopt;
    }
    fields.recipient = *recipient;
    const auto received = DecodeTimestamp(reader);
    const auto discharged = DecodeTimestamp(reader);
    if (!received || !discharged || !reader.Next(fields.status) ||
        !SkipOptionalParameters(reader, fields.firstOctet)) {
        return std::nullopt;
    }
    fields.serviceCentreTime = *received;
    fields.dischargeTime = *discharged;
    fields.tpduLength = static_cast<int>(bytes->size() - tpduStart);
    return fields;
}

}  // namespace tidewire::sim

#include "SubmitPdu.h"

namespace tidewire::sim {

namespace {

constexpr std::uint8_t kMessageTypeSubmit = 0x01;

SubmitParse Refuse(std::string reason) {
    return SubmitParse{std::nullopt, std::move(reason)};
}

// Octets of TP-VP for the validity-period format bits of the first octet.
std::size_t ValidityLength(std::uint8_t firstOctet) {
    switch ((firstOctet >> 3) & 0x03) {
        case 0:
            return 0;
        case 2:
            return 1;  // relative
        default:
            return 7;  // enhanced or absolute
    }
}

}  // namespace

SubmitParse ParseSubmitPdu(std::string_view hex) {
    const auto bytes = HexToBytes(hex);
    if (!bytes) {
        return Refuse("not hex text of whole octets");
    }
    ByteReader reader(*bytes);
    const auto serviceCentre = DecodeServiceCentre(reader);
    if (!serviceCentre) {
        return Refuse("bad service-centre address");
    }
    SubmitFields fields;
    fields.serviceCentre = serviceCentre->number;
    const std::size_t tpduStart = reader.Position();
    std::uint8_t reference = 0;
    if (!reader.Next(fields.firstOctet) || !reader.Next(reference)) {
        return Refuse("PDU ends inside its header");
    }
    if ((fields.firstOctet & 0x03) != kMessageTypeSubmit) {
        return Refuse("not an SMS-SUBMIT");
    }
    fields.messageReference = reference;
    const auto destination = DecodeAddress(reader);
    if (!destination) {
        return Refuse("bad destination address");
    }
    fields.destination = *destination;
    if (!reader.Next(fields.pid) || !reader.Next(fields.dcs)) {
        return Refuse("PDU ends before its coding scheme");
    }
    const auto alphabet = AlphabetOfDcs(fields.dcs);
    if (!alphabet) {
        return Refuse("unsupported data coding scheme");
    }
    fields.alphabet = *alphabet;
    if (!reader.Skip(ValidityLength(fields.firstOctet))) {
        return Refuse("PDU ends inside its validity period");
    }
    const auto userData =
        DecodeUserData(reader, fields.alphabet, (fields.firstOctet & kUserDataHeader) != 0);
    if (!userData) {
        return Refuse("user data does not match its length");
    }
    if (reader.Remaining() != 0) {
        return Refuse("octets left after the user data");
    }
    fields.userData = *userData;
    fields.tpduLength = static_cast<int>(bytes->size() - tpduStart);
    return SubmitParse{fields, ""};
}

}  // namespace tidewire::sim

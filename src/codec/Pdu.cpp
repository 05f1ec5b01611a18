#include "codec/Pdu.h"

#include <climits>
#include <cstring>

#include "codec/GsmAlphabet.h"
#include "codec/TextHex.h"
#include "platform/Platform.h"

namespace tidewire {
namespace {

// Limits of 3GPP TS 23.040: user data of at most 140 octets (160 septets), an address value of
// at most 10 octets (20 semi-octets). A service-centre number must also fit its 15-digit field.
constexpr size_t kMaxUserDataOctets = 140;
constexpr size_t kMaxUserDataSeptets = 160;
constexpr size_t kMaxAddressSemiOctets = 20;
constexpr size_t kMaxAddressOctets = (kMaxAddressDigits + 1) / 2;

// Service-centre length and type, its digits; first octet, reference, destination length and
// type, its digits; PID, DCS, validity, user-data length and the user data.
constexpr size_t kMaxSubmitOctets =
    2 + kMaxAddressOctets + 4 + kMaxAddressOctets + 4 + kMaxUserDataOctets;

constexpr uint8_t kTypeOfAddressInternational = 0x91;
constexpr uint8_t kSubmitFirstOctet = 0x11;     // SMS-SUBMIT, relative validity period present
constexpr uint8_t kStatusReportRequest = 0x20;  // TP-SRR of a SUBMIT
constexpr uint8_t kValidityLongest = 0xFF;      // 63 weeks
constexpr uint8_t kMessageTypeMask = 0x03;
constexpr uint8_t kMessageTypeDeliver = 0x00;
constexpr uint8_t kUserDataHeaderIndicator = 0x40;
constexpr uint8_t kDcsGsm7 = 0x00;
constexpr uint8_t kDcsUcs2 = 0x08;

// Concatenation elements of a user-data header: 8-bit reference (00) and 16-bit reference (08).
constexpr uint8_t kConcatenation8 = 0x00;
constexpr uint8_t kConcatenation16 = 0x08;
// The header this library writes: its length octet and element 00 of three octets.
constexpr size_t kConcatenationHeaderOctets = 6;

// One part's room behind the concatenation header: 160 septets less the 7 the header and its
// fill bits take, and 140 octets less the header's 6.
constexpr size_t kSeptetsPerPart = kMaxUserDataSeptets - 7;
constexpr size_t kOctetsPerPart = kMaxUserDataOctets - kConcatenationHeaderOctets;
constexpr uint8_t kGsmEscape = 0x1B;
constexpr uint8_t kTypeOfNumberMask = 0x70;
constexpr uint8_t kTypeOfNumberAlphanumeric = 0x50;

// Semi-octet values 10 to 14 are the keypad and extra characters of a number; 15 is filler.
const char kSemiOctetCharacters[] = "0123456789*#abc";
constexpr uint8_t kFiller = 0x0F;

// Reads octets from the hex text one field at a time, refusing to step past the text's length
// or over anything that is not a hex pair.
class HexReader {
  public:
    HexReader(const char* text, size_t length) : text_(text), length_(length) {}

    bool ReadOctet(uint8_t& value) { return ReadOctets(&value, 1); }

    bool ReadOctets(uint8_t* out, size_t count) {
        if (length_ - position_ < 2 * count) {
            return false;
        }
        if (HexToBytes(text_ + position_, 2 * count, out, count) != count) {
            return false;
        }
        position_ += 2 * count;
        return true;
    }

  private:
    const char* text_;
    size_t length_;
    size_t position_ = 0;
};

// Writes semiOctetCount semi-octets of an address (low nibble first) as text, dropping filler.
// Returns false when the address does not fit: a number cut short would reach the wrong person.
bool SemiOctetsToAddress(const uint8_t* octets, size_t semiOctetCount, char* out,
                         size_t outCapacity) {
    size_t written = 0;
    for (size_t i = 0; i < semiOctetCount; ++i) {
        const uint8_t nibble = (i % 2 == 0) ? (octets[i / 2] & 0x0F) : (octets[i / 2] >> 4);
        if (nibble == kFiller) {
            continue;
        }
        if (written + 1 >= outCapacity) {
            out[written] = '\0';
            return false;
        }
        out[written++] = kSemiOctetCharacters[nibble];
    }
    out[written] = '\0';
    return true;
}

// An alphanumeric sender (a bank's or operator's name) is GSM 7-bit text packed into the
// address value; its length octet counts the semi-octets used.
void AlphanumericToAddress(const uint8_t* octets, size_t octetCount, size_t semiOctetCount,
                           char* out, size_t outCapacity) {
    uint8_t septets[kMaxAddressSemiOctets];
    const size_t septetCount =
        Unpack7Bit(octets, octetCount, 0, septets, semiOctetCount * 4 / 7, sizeof(septets));
    char16_t units[kMaxAddressSemiOctets];
    const size_t unitCount = GsmSeptetsToUtf16(septets, septetCount, units, kMaxAddressSemiOctets);
    Utf16ToHost(units, unitCount, out, outCapacity);
}

// Time-stamp semi-octets are written as they come; a broken one shows as its hex digit rather
// than vanishing, so the text keeps its shape.
char TimestampDigit(uint8_t octet, bool highNibble) {
    const uint8_t nibble = highNibble ? (octet >> 4) : (octet & 0x0F);
    return "0123456789ABCDEF"[nibble];
}

void FormatTimestamp(const uint8_t (&octets)[7], char (&out)[32]) {
    // Year, month, day, hour, minute, second; the zone octet is dropped and the century is
    // always 20, which is what hosts of this library expect.
    const char pattern[] = "20yy-mm-dd hh:mm:ss";
    static_assert(sizeof(pattern) <= sizeof(out), "time stamp must fit its field");
    size_t octet = 0;
    bool high = false;
    for (size_t i = 0; i < sizeof(pattern); ++i) {
        const char c = pattern[i];
        if (i >= 2 && c >= 'a' && c <= 'z') {
            out[i] = TimestampDigit(octets[octet], high);
            if (high) {
                ++octet;
            }
            high = !high;
        } else {
            out[i] = c;
        }
    }
}

bool AllDigits(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

// Packs decimal digits as semi-octets, low nibble first, padding an odd count with filler.
size_t DigitsToOctets(const char* digits, size_t count, uint8_t* out) {
    size_t written = 0;
    for (size_t i = 0; i < count; i += 2) {
        const uint8_t low = static_cast<uint8_t>(digits[i] - '0');
        const uint8_t high = i + 1 < count ? static_cast<uint8_t>(digits[i + 1] - '0') : kFiller;
        out[written++] = static_cast<uint8_t>((high << 4) | low);
    }
    return written;
}

int Fail(PduMessage& message) {
    message = PduMessage{};
    return 0;
}

bool Refuse(PduMessage& message) {
    message = PduMessage{};
    return false;
}

// Writes an SMS-SUBMIT as hex: service centre, first octet, TP-MR 0 (the module assigns its
// own), destination, PID, DCS, validity, the user-data length and the user data. Both numbers
// are digits of international type, checked by the caller.
size_t WriteSubmit(const char* smsc, size_t smscLength, const char* number, size_t numberLength,
                   uint8_t firstOctet, uint8_t pid, uint8_t dcs, uint8_t userDataLength,
                   const uint8_t* userData, size_t userDataOctets, char* out, size_t outCapacity) {
    uint8_t pdu[kMaxSubmitOctets];
    size_t length = 0;
    const size_t smscOctets = (smscLength + 1) / 2;
    pdu[length++] = static_cast<uint8_t>(smscOctets + 1);
    pdu[length++] = kTypeOfAddressInternational;
    length += DigitsToOctets(smsc, smscLength, pdu + length);
    pdu[length++] = firstOctet;
    pdu[length++] = 0x00;
    pdu[length++] = static_cast<uint8_t>(numberLength);
    pdu[length++] = kTypeOfAddressInternational;
    length += DigitsToOctets(number, numberLength, pdu + length);
    pdu[length++] = pid;
    pdu[length++] = dcs;
    pdu[length++] = kValidityLongest;
    pdu[length++] = userDataLength;
    memcpy(pdu + length, userData, userDataOctets);
    length += userDataOctets;
    return BytesToHex(pdu, length, out, outCapacity);
}

// Everything of an SMS-DELIVER up to its user data, which is kept as octets.
struct DeliverBody {
    uint8_t firstOctet = 0;
    SmsAlphabet alphabet = SmsAlphabet::Gsm7Bit;
    uint8_t userDataLength = 0;  // TP-UDL: septets or octets
    uint8_t userData[kMaxUserDataOctets];
    size_t userDataOctets = 0;
    size_t headerOctets = 0;  // the user-data header with its length octet, 0 without one
};

// Reads a DELIVER into message (every field but the text) and body. False, with message
// cleared, for a PDU that is cut short, malformed or not an SMS-DELIVER.
bool ReadDeliver(const char* pdu, size_t length, PduMessage& message, DeliverBody& body);

// The septets of a 7-bit body's text: after the header and the fill bits that align the text to
// a septet boundary. Returns how many were unpacked; false when the header is longer than the
// user data says.
bool TextSeptets(const DeliverBody& body, uint8_t (&septets)[kMaxUserDataSeptets], size_t& count) {
    const size_t headerSeptets = (8 * body.headerOctets + 6) / 7;
    if (headerSeptets > body.userDataLength) {
        return false;
    }
    const unsigned fillBits = static_cast<unsigned>(7 * headerSeptets - 8 * body.headerOctets);
    count = Unpack7Bit(body.userData + body.headerOctets, body.userDataOctets - body.headerOctets,
                       fillBits, septets, body.userDataLength - headerSeptets, sizeof(septets));
    return true;
}

// The concatenation element of a user-data header, when it has a well-formed one: a part number
// of 0 or beyond the count makes the element void, as a receiver is asked to treat it.
Concatenation ReadConcatenation(const DeliverBody& body) {
    Concatenation found;
    size_t at = 1;
    while (at + 2 <= body.headerOctets) {
        const uint8_t element = body.userData[at];
        const uint8_t elementLength = body.userData[at + 1];
        const uint8_t* value = body.userData + at + 2;
        if (at + 2 + elementLength > body.headerOctets) {
            break;
        }
        if (element == kConcatenation8 && elementLength == 3) {
            found = {true, false, value[0], value[1], value[2]};
        } else if (element == kConcatenation16 && elementLength == 4) {
            found = {true, true, static_cast<uint16_t>((value[0] << 8) | value[1]), value[2],
                     value[3]};
        }
        at += 2u + elementLength;
    }
    if (found.present &&
        (found.total == 0 || found.sequence == 0 || found.sequence > found.total)) {
        return Concatenation{};
    }
    return found;
}

// Splits plan's data into parts of at most `single` (one part) or `perPart` units of data, a part
// never ending after a unit for which splitsPair says the next belongs with it.
template <class SplitsPair>
bool SplitIntoParts(SubmitText& plan, size_t single, size_t perPart, size_t step, size_t mostParts,
                    SplitsPair splitsPair) {
    if (plan.length <= single) {
        plan.partCount = 1;
        plan.partEnd[0] = plan.length;
        return true;
    }
    size_t start = 0;
    while (start < plan.length) {
        if (plan.partCount == mostParts) {
            return false;
        }
        size_t end = start + perPart < plan.length ? start + perPart : plan.length;
        if (end < plan.length && splitsPair(end)) {
            end -= step;
        }
        plan.partEnd[plan.partCount++] = end;
        start = end;
    }
    return true;
}

}  // namespace

SmsAlphabet AlphabetOfDcs(uint8_t dcs) {
    const uint8_t group = dcs >> 4;
    if (group <= 0x07) {
        // General data coding, with or without automatic deletion. Compressed text cannot be
        // read as characters, so it is carried as data.
        if ((dcs & 0x20) != 0) {
            return SmsAlphabet::EightBit;
        }
        switch ((dcs >> 2) & 0x03) {
            case 1:
                return SmsAlphabet::EightBit;
            case 2:
                return SmsAlphabet::Ucs2;
            default:
                return SmsAlphabet::Gsm7Bit;
        }
    }
    if (group == 0x0E) {
        return SmsAlphabet::Ucs2;  // Message waiting indication, store message, UCS-2.
    }
    if (group == 0x0F) {
        return (dcs & 0x04) != 0 ? SmsAlphabet::EightBit : SmsAlphabet::Gsm7Bit;
    }
    // Message waiting groups 0x0C and 0x0D are 7-bit; the reserved groups 0x08 to 0x0B are
    // read as 7-bit, as a receiving entity is asked to.
    return SmsAlphabet::Gsm7Bit;
}

size_t EncodeSubmitPdu(const PduMessage& message, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    out[0] = '\0';
    const size_t smscLength = strnlen(message.smsc, sizeof(message.smsc));
    const size_t numberLength = strnlen(message.number, sizeof(message.number));
    const size_t textLength = strnlen(message.text, sizeof(message.text));
    // A field without its terminator, a number that is not plain digits, or user data that
    // declares another alphabet than the UCS-2 written here would make a PDU that the
    // network rejects or that arrives garbled: refuse it instead.
    if (smscLength > kMaxAddressDigits || numberLength > kMaxAddressDigits || numberLength == 0 ||
        textLength == sizeof(message.text) || !AllDigits(message.smsc, smscLength) ||
        !AllDigits(message.number, numberLength) ||
        AlphabetOfDcs(message.dcs) != SmsAlphabet::Ucs2) {
        return 0;
    }

    uint8_t userData[kMaxUserDataOctets];
    size_t userDataLength = 0;
    if (textLength > 0) {
        userDataLength = HostToUcs2(message.text, textLength, userData, sizeof(userData));
        if (userDataLength == 0) {
            return 0;
        }
    }

    return WriteSubmit(message.smsc, smscLength, message.number, numberLength, kSubmitFirstOctet,
                       message.pid, message.dcs, static_cast<uint8_t>(userDataLength), userData,
                       userDataLength, out, outCapacity);
}

int SubmitTpduLength(const char* pduText, size_t pduLength) {
    uint8_t smscLength = 0;
    if (pduText == nullptr || pduLength < 2 || pduLength % 2 != 0 || pduLength > INT_MAX ||
        HexToBytes(pduText, 2, &smscLength, 1) != 1) {
        return 0;
    }
    const size_t octets = pduLength / 2;
    const size_t smscPart = static_cast<size_t>(smscLength) + 1;
    if (octets <= smscPart) {
        return 0;
    }
    return static_cast<int>(octets - smscPart);
}

namespace {

bool ReadDeliver(const char* pdu, size_t length, PduMessage& message, DeliverBody& body) {
    message = PduMessage{};
    if (pdu == nullptr) {
        return false;
    }
    HexReader reader(pdu, length);

    // Service centre: a length octet of 0 means the module stored no service-centre address.
    uint8_t smscLength = 0;
    if (!reader.ReadOctet(smscLength)) {
        return Refuse(message);
    }
    if (smscLength > 0) {
        uint8_t smsc[1 + kMaxAddressOctets];
        if (smscLength > sizeof(smsc) || !reader.ReadOctets(smsc, smscLength)) {
            return Refuse(message);
        }
        // smsc[0] is the type of address; the digits follow.
        if (!SemiOctetsToAddress(smsc + 1, 2 * (smscLength - 1u), message.smsc,
                                 sizeof(message.smsc))) {
            return Refuse(message);
        }
    }

    // Only an SMS-DELIVER is a received message; a SUBMIT or STATUS-REPORT stored in the
    // module is left to the caller.
    if (!reader.ReadOctet(body.firstOctet) ||
        (body.firstOctet & kMessageTypeMask) != kMessageTypeDeliver) {
        return Refuse(message);
    }

    uint8_t senderLength = 0;
    uint8_t senderType = 0;
    uint8_t sender[kMaxAddressSemiOctets / 2];
    if (!reader.ReadOctet(senderLength) || senderLength > kMaxAddressSemiOctets ||
        !reader.ReadOctet(senderType) || !reader.ReadOctets(sender, (senderLength + 1u) / 2)) {
        return Refuse(message);
    }
    if ((senderType & kTypeOfNumberMask) == kTypeOfNumberAlphanumeric) {
        AlphanumericToAddress(sender, (senderLength + 1u) / 2, senderLength, message.number,
                              sizeof(message.number));
    } else if (!SemiOctetsToAddress(sender, senderLength, message.number, sizeof(message.number))) {
        return Refuse(message);
    }

    uint8_t timestamp[7];
    if (!reader.ReadOctet(message.pid) || !reader.ReadOctet(message.dcs) ||
        !reader.ReadOctets(timestamp, sizeof(timestamp)) ||
        !reader.ReadOctet(body.userDataLength)) {
        return Refuse(message);
    }
    FormatTimestamp(timestamp, message.timestamp);

    body.alphabet = AlphabetOfDcs(message.dcs);
    const bool septets = body.alphabet == SmsAlphabet::Gsm7Bit;
    if (body.userDataLength > (septets ? kMaxUserDataSeptets : kMaxUserDataOctets)) {
        return Refuse(message);
    }
    body.userDataOctets = septets ? (7u * body.userDataLength + 7) / 8 : body.userDataLength;
    if (!reader.ReadOctets(body.userData, body.userDataOctets)) {
        return Refuse(message);
    }

    // A user-data header (concatenation, ports) comes first; the text starts after it.
    body.headerOctets = 0;
    if ((body.firstOctet & kUserDataHeaderIndicator) != 0) {
        if (body.userDataOctets == 0) {
            return Refuse(message);
        }
        body.headerOctets = 1u + body.userData[0];
        if (body.headerOctets > body.userDataOctets) {
            return Refuse(message);
        }
    }
    return true;
}

}  // namespace

int DecodeDeliverPdu(const char* pdu, size_t length, PduMessage& message) {
    DeliverBody body;
    if (!ReadDeliver(pdu, length, message, body)) {
        return 0;
    }
    if (body.alphabet == SmsAlphabet::Gsm7Bit) {
        uint8_t text[kMaxUserDataSeptets];
        size_t septetCount = 0;
        if (!TextSeptets(body, text, septetCount)) {
            return Fail(message);
        }
        char16_t units[kMaxUserDataSeptets];
        const size_t unitCount = GsmSeptetsToUtf16(text, septetCount, units, kMaxUserDataSeptets);
        Utf16ToHost(units, unitCount, message.text, sizeof(message.text));
        return static_cast<int>(septetCount);
    }

    const uint8_t* const text = body.userData + body.headerOctets;
    const size_t textOctets = body.userDataOctets - body.headerOctets;
    if (body.alphabet == SmsAlphabet::Ucs2) {
        return static_cast<int>(Ucs2ToHost(text, textOctets, message.text, sizeof(message.text)));
    }
    // 8-bit data goes to the host as it came; 140 octets always fit the text field.
    memcpy(message.text, text, textOctets);
    message.text[textOctets] = '\0';
    return static_cast<int>(textOctets);
}

bool DecodeDeliverText(const char* pdu, size_t length, PduMessage& message, DeliverText& text) {
    text = DeliverText{};
    DeliverBody body;
    if (!ReadDeliver(pdu, length, message, body)) {
        return false;
    }
    text.alphabet = body.alphabet;
    text.concatenation = ReadConcatenation(body);
    if (body.alphabet == SmsAlphabet::Gsm7Bit) {
        uint8_t septets[kMaxUserDataSeptets];
        size_t septetCount = 0;
        if (!TextSeptets(body, septets, septetCount)) {
            return Refuse(message);
        }
        text.unitCount = GsmSeptetsToUtf16(septets, septetCount, text.units,
                                           sizeof(text.units) / sizeof(text.units[0]));
    } else if (body.alphabet == SmsAlphabet::Ucs2) {
        const uint8_t* const octets = body.userData + body.headerOctets;
        text.unitCount = (body.userDataOctets - body.headerOctets) / 2;
        for (size_t i = 0; i < text.unitCount; ++i) {
            text.units[i] = static_cast<char16_t>((octets[2 * i] << 8) | octets[2 * i + 1]);
        }
    }
    return true;
}

bool DecodeStatusReportPdu(const char* pdu, size_t length, StatusReport& report) {
    report = StatusReport{};
    if (pdu == nullptr) {
        return false;
    }
    HexReader reader(pdu, length);
    uint8_t smscLength = 0;
    uint8_t smsc[1 + kMaxAddressOctets];
    uint8_t firstOctet = 0;
    if (!reader.ReadOctet(smscLength) || smscLength > sizeof(smsc) ||
        !reader.ReadOctets(smsc, smscLength) || !reader.ReadOctet(firstOctet) ||
        (firstOctet & kMessageTypeMask) != kMessageTypeStatusReport) {
        return false;
    }
    uint8_t recipientLength = 0;
    uint8_t recipientType = 0;
    uint8_t recipient[kMaxAddressSemiOctets / 2];
    uint8_t timestamps[14];  // when the centre took the message, and when it was discharged
    if (!reader.ReadOctet(report.reference) || !reader.ReadOctet(recipientLength) ||
        recipientLength > kMaxAddressSemiOctets || !reader.ReadOctet(recipientType) ||
        !reader.ReadOctets(recipient, (recipientLength + 1u) / 2) ||
        !reader.ReadOctets(timestamps, sizeof(timestamps)) || !reader.ReadOctet(report.status)) {
        report = StatusReport{};
        return false;
    }
    if ((recipientType & kTypeOfNumberMask) == kTypeOfNumberAlphanumeric) {
        AlphanumericToAddress(recipient, (recipientLength + 1u) / 2, recipientLength,
                              report.recipient, sizeof(report.recipient));
    } else if (!SemiOctetsToAddress(recipient, recipientLength, report.recipient,
                                    sizeof(report.recipient))) {
        report = StatusReport{};
        return false;
    }
    return true;
}

int MessageTypeOfPdu(const char* pdu, size_t length) {
    if (pdu == nullptr) {
        return -1;
    }
    HexReader reader(pdu, length);
    uint8_t smscLength = 0;
    uint8_t smsc[1 + kMaxAddressOctets];
    uint8_t firstOctet = 0;
    if (!reader.ReadOctet(smscLength) || smscLength > sizeof(smsc) ||
        !reader.ReadOctets(smsc, smscLength) || !reader.ReadOctet(firstOctet)) {
        return -1;
    }
    return firstOctet & kMessageTypeMask;
}

bool PlanSubmitText(const char16_t* units, size_t count, SubmitCoding coding, size_t mostParts,
                    SubmitText& plan) {
    plan.gsm7 = false;
    plan.length = 0;
    plan.partCount = 0;
    if (units == nullptr || count == 0 || count > sizeof(plan.data) / 2 || mostParts == 0 ||
        mostParts > kMostSubmitParts) {
        return false;
    }
    size_t septets = 0;
    if (coding == SubmitCoding::Gsm7WhereItFits &&
        Utf16ToGsmSeptets(units, count, plan.data, sizeof(plan.data), septets)) {
        plan.gsm7 = true;
        plan.length = septets;
        // An escape is always followed by its code: a part never ends after the escape.
        return SplitIntoParts(plan, kMaxUserDataSeptets, kSeptetsPerPart, 1, mostParts,
                              [&](size_t end) { return plan.data[end - 1] == kGsmEscape; });
    }
    for (size_t i = 0; i < count; ++i) {
        plan.data[2 * i] = static_cast<uint8_t>(units[i] >> 8);
        plan.data[2 * i + 1] = static_cast<uint8_t>(units[i] & 0xFF);
    }
    plan.length = 2 * count;
    // A part never ends after the high half of a surrogate pair.
    return SplitIntoParts(plan, kMaxUserDataOctets, kOctetsPerPart, 2, mostParts, [&](size_t end) {
        return plan.data[end - 2] >= 0xD8 && plan.data[end - 2] <= 0xDB;
    });
}

size_t EncodeSubmitPart(const SubmitPart& part, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) {
        return 0;
    }
    out[0] = '\0';
    if (part.smsc == nullptr || part.number == nullptr || part.data == nullptr) {
        return 0;
    }
    const size_t smscLength = strnlen(part.smsc, kMaxAddressDigits + 1);
    const size_t numberLength = strnlen(part.number, kMaxAddressDigits + 1);
    if (smscLength > kMaxAddressDigits || numberLength > kMaxAddressDigits || numberLength == 0 ||
        !AllDigits(part.smsc, smscLength) || !AllDigits(part.number, numberLength)) {
        return 0;
    }
    const bool concatenated = part.concatenation.present;
    const size_t headerOctets = concatenated ? kConcatenationHeaderOctets : 0;
    uint8_t userData[kMaxUserDataOctets];
    if (concatenated) {
        const uint8_t header[kConcatenationHeaderOctets] = {
            5,
            kConcatenation8,
            3,
            static_cast<uint8_t>(part.concatenation.reference & 0xFF),
            part.concatenation.total,
            part.concatenation.sequence};
        memcpy(userData, header, sizeof(header));
    }
    size_t userDataOctets = 0;
    size_t userDataLength = 0;
    if (part.gsm7) {
        // The header takes whole septets: the text begins at the next septet boundary.
        const size_t headerSeptets = (8 * headerOctets + 6) / 7;
        if (part.length > kMaxUserDataSeptets - headerSeptets) {
            return 0;
        }
        const unsigned fillBits = static_cast<unsigned>(7 * headerSeptets - 8 * headerOctets);
        const size_t packed = Pack7Bit(part.data, part.length, fillBits, userData + headerOctets,
                                       sizeof(userData) - headerOctets);
        if (packed == 0 && part.length > 0) {
            return 0;
        }
        userDataOctets = headerOctets + packed;
        userDataLength = headerSeptets + part.length;
    } else {
        if (part.length > kMaxUserDataOctets - headerOctets) {
            return 0;
        }
        memcpy(userData + headerOctets, part.data, part.length);
        userDataOctets = headerOctets + part.length;
        userDataLength = userDataOctets;
    }
    const uint8_t firstOctet =
        static_cast<uint8_t>(kSubmitFirstOctet | (concatenated ? kUserDataHeaderIndicator : 0) |
                             (part.statusReport ? kStatusReportRequest : 0));
    return WriteSubmit(part.smsc, smscLength, part.number, numberLength, firstOctet, 0,
                       part.gsm7 ? kDcsGsm7 : kDcsUcs2, static_cast<uint8_t>(userDataLength),
                       userData, userDataOctets, out, outCapacity);
}

}  // namespace tidewire

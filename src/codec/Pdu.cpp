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
constexpr uint8_t kSubmitFirstOctet = 0x11;  // SMS-SUBMIT, relative validity period present
constexpr uint8_t kValidityLongest = 0xFF;   // 63 weeks
constexpr uint8_t kMessageTypeMask = 0x03;
constexpr uint8_t kMessageTypeDeliver = 0x00;
constexpr uint8_t kUserDataHeaderIndicator = 0x40;
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

    // Service centre, header, destination, then PID, DCS, validity and the user data.
    uint8_t pdu[kMaxSubmitOctets];
    size_t length = 0;
    const size_t smscOctets = (smscLength + 1) / 2;
    pdu[length++] = static_cast<uint8_t>(smscOctets + 1);
    pdu[length++] = kTypeOfAddressInternational;
    length += DigitsToOctets(message.smsc, smscLength, pdu + length);
    pdu[length++] = kSubmitFirstOctet;
    pdu[length++] = 0x00;  // Message reference: the module assigns its own.
    pdu[length++] = static_cast<uint8_t>(numberLength);
    pdu[length++] = kTypeOfAddressInternational;
    length += DigitsToOctets(message.number, numberLength, pdu + length);
    pdu[length++] = message.pid;
    pdu[length++] = message.dcs;
    pdu[length++] = kValidityLongest;
    pdu[length++] = static_cast<uint8_t>(userDataLength);
    memcpy(pdu + length, userData, userDataLength);
    length += userDataLength;
    return BytesToHex(pdu, length, out, outCapacity);
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

int DecodeDeliverPdu(const char* pdu, size_t length, PduMessage& message) {
    message = PduMessage{};
    if (pdu == nullptr) {
        return 0;
    }
    HexReader reader(pdu, length);

    // Service centre: a length octet of 0 means the module stored no service-centre address.
    uint8_t smscLength = 0;
    if (!reader.ReadOctet(smscLength)) {
        return Fail(message);
    }
    if (smscLength > 0) {
        uint8_t smsc[1 + kMaxAddressOctets];
        if (smscLength > sizeof(smsc) || !reader.ReadOctets(smsc, smscLength)) {
            return Fail(message);
        }
        // smsc[0] is the type of address; the digits follow.
        if (!SemiOctetsToAddress(smsc + 1, 2 * (smscLength - 1u), message.smsc,
                                 sizeof(message.smsc))) {
            return Fail(message);
        }
    }

    // Only an SMS-DELIVER is a received message; a SUBMIT or STATUS-REPORT stored in the
    // module is left to the caller.
    uint8_t firstOctet = 0;
    if (!reader.ReadOctet(firstOctet) || (firstOctet & kMessageTypeMask) != kMessageTypeDeliver) {
        return Fail(message);
    }

    uint8_t senderLength = 0;
    uint8_t senderType = 0;
    uint8_t sender[kMaxAddressSemiOctets / 2];
    if (!reader.ReadOctet(senderLength) || senderLength > kMaxAddressSemiOctets ||
        !reader.ReadOctet(senderType) || !reader.ReadOctets(sender, (senderLength + 1u) / 2)) {
        return Fail(message);
    }
    if ((senderType & kTypeOfNumberMask) == kTypeOfNumberAlphanumeric) {
        AlphanumericToAddress(sender, (senderLength + 1u) / 2, senderLength, message.number,
                              sizeof(message.number));
    } else if (!SemiOctetsToAddress(sender, senderLength, message.number, sizeof(message.number))) {
        return Fail(message);
    }

    uint8_t timestamp[7];
    uint8_t userDataLength = 0;
    if (!reader.ReadOctet(message.pid) || !reader.ReadOctet(message.dcs) ||
        !reader.ReadOctets(timestamp, sizeof(timestamp)) || !reader.ReadOctet(userDataLength)) {
        return Fail(message);
    }
    FormatTimestamp(timestamp, message.timestamp);

    const SmsAlphabet alphabet = AlphabetOfDcs(message.dcs);
    const bool septets = alphabet == SmsAlphabet::Gsm7Bit;
    if (userDataLength > (septets ? kMaxUserDataSeptets : kMaxUserDataOctets)) {
        return Fail(message);
    }
    const size_t userDataOctets = septets ? (7u * userDataLength + 7) / 8 : userDataLength;
    uint8_t userData[kMaxUserDataOctets];
    if (!reader.ReadOctets(userData, userDataOctets)) {
        return Fail(message);
    }

    // A user-data header (concatenation, ports) comes first; the text starts after it, and in
    // 7-bit coding after the fill bits that align the text to a septet boundary.
    size_t headerOctets = 0;
    if ((firstOctet & kUserDataHeaderIndicator) != 0) {
        if (userDataOctets == 0) {
            return Fail(message);
        }
        headerOctets = 1u + userData[0];
        if (headerOctets > userDataOctets) {
            return Fail(message);
        }
    }

    if (septets) {
        const size_t headerSeptets = (8 * headerOctets + 6) / 7;
        if (headerSeptets > userDataLength) {
            return Fail(message);
        }
        const unsigned fillBits = static_cast<unsigned>(7 * headerSeptets - 8 * headerOctets);
        uint8_t text[kMaxUserDataSeptets];
        const size_t septetCount =
            Unpack7Bit(userData + headerOctets, userDataOctets - headerOctets, fillBits, text,
                       userDataLength - headerSeptets, sizeof(text));
        char16_t units[kMaxUserDataSeptets];
        const size_t unitCount = GsmSeptetsToUtf16(text, septetCount, units, kMaxUserDataSeptets);
        Utf16ToHost(units, unitCount, message.text, sizeof(message.text));
        return static_cast<int>(septetCount);
    }

    const uint8_t* const text = userData + headerOctets;
    const size_t textOctets = userDataOctets - headerOctets;
    if (alphabet == SmsAlphabet::Ucs2) {
        return static_cast<int>(Ucs2ToHost(text, textOctets, message.text, sizeof(message.text)));
    }
    // 8-bit data goes to the host as it came; 140 octets always fit the text field.
    memcpy(message.text, text, textOctets);
    message.text[textOctets] = '\0';
    return static_cast<int>(textOctets);
}

}  // namespace tidewire

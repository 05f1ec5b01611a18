#include "PduFields.h"

#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "GsmAlphabet.h"
#include "Utf8.h"

namespace tidewire::sim {

namespace {

int SemiOctetOf(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    switch (c) {
        case '*':
            return 0xA;
        case '#':
            return 0xB;
        case 'a':
        case 'A':
            return 0xC;
        case 'b':
        case 'B':
            return 0xD;
        case 'c':
        case 'C':
            return 0xE;
        default:
            return -1;
    }
}

char CharOfSemiOctet(int value) {
    static constexpr char kChars[] = "0123456789*#abc";
    return value < 15 ? kChars[value] : '\0';
}

Bytes DigitsToSemiOctets(const std::string& digits) {
    Bytes out;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int low = SemiOctetOf(digits[i]);
        const int high = i + 1 < digits.size() ? SemiOctetOf(digits[i + 1]) : 0xF;
        if (low < 0 || high < 0) {
            throw std::invalid_argument("not a telephone number: " + digits);
        }
        out.push_back(static_cast<std::uint8_t>((high << 4) | low));
    }
    return out;
}

std::string SemiOctetsToDigits(const Bytes& octets, std::size_t digitCount) {
    std::string digits;
    for (std::size_t i = 0; i < digitCount; ++i) {
        const std::uint8_t octet = octets[i / 2];
        const int value = i % 2 == 0 ? (octet & 0x0F) : (octet >> 4);
        const char c = CharOfSemiOctet(value);
        if (c == '\0') {
            break;
        }
        digits.push_back(c);
    }
    return digits;
}

// Splits "+123" into type and digits; a number without "+" is of unknown type, which is how
// networks deliver national numbers and short codes.
std::uint8_t SplitNumber(const std::string& number, std::string& digits) {
    if (!number.empty() && number.front() == '+') {
        digits = number.substr(1);
        return kTypeInternational;
    }
    digits = number;
    return kTypeUnknown;
}

std::string JoinNumber(std::uint8_t type, const std::string& digits) {
    return (type & 0x70) == 0x10 ? "+" + digits : digits;
}

int BcdOctet(int value) {
    return ((value % 10) << 4) | ((value / 10) % 10);
}

bool ReadBcd(std::uint8_t octet, int& value) {
    const int tens = octet & 0x0F;
    const int units = octet >> 4;
    if (tens > 9 || units > 9) {
        return false;
    }
    value = tens * 10 + units;
    return true;
}

std::optional<ConcatInfo> FindConcatInfo(const Bytes& header) {
    std::size_t i = 0;
    std::optional<ConcatInfo> found;
    while (i + 2 <= header.size()) {
        const std::uint8_t id = header[i];
        const std::size_t length = header[i + 1];
        if (i + 2 + length > header.size()) {
            return std::nullopt;
        }
        const std::uint8_t* element = header.data() + i + 2;
        if (id == 0x00 && length == 3) {
            found = ConcatInfo{element[0], element[1], element[2]};
        } else if (id == 0x08 && length == 4) {
            found = ConcatInfo{(element[0] << 8) | element[1], element[2], element[3]};
        }
        i += 2 + length;
    }
    return found;
}

}  // namespace

bool ByteReader::Next(std::uint8_t& out) {
    if (position_ >= bytes_.size()) {
        return false;
    }
    out = bytes_[position_++];
    return true;
}

bool ByteReader::Take(std::size_t count, Bytes& out) {
    if (count > Remaining()) {
        return false;
    }
    out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(position_),
               bytes_.begin() + static_cast<std::ptrdiff_t>(position_ + count));
    position_ += count;
    return true;
}

bool ByteReader::Skip(std::size_t count) {
    if (count > Remaining()) {
        return false;
    }
    position_ += count;
    return true;
}

Bytes EncodeAddress(const std::string& number, bool alphanumeric) {
    Bytes out;
    if (alphanumeric) {
        const auto septets = EncodeGsm7(DecodeUtf8(number));
        if (!septets || septets->size() > 11) {
            throw std::invalid_argument("an alphanumeric sender needs at most 11 GSM characters: " +
                                        number);
        }
        const Bytes packed = PackSeptets(*septets, 0);
        // The length counts the semi-octets the packed name really uses.
        out.push_back(static_cast<std::uint8_t>((septets->size() * 7 + 3) / 4));
        out.push_back(kTypeAlphanumeric);
        out.insert(out.end(), packed.begin(), packed.end());
        return out;
    }
    std::string digits;
    const std::uint8_t type = SplitNumber(number, digits);
    if (digits.empty() || digits.size() > 20) {
        throw std::invalid_argument("a telephone number needs 1 to 20 digits: " + number);
    }
    const Bytes semiOctets = DigitsToSemiOctets(digits);
    out.push_back(static_cast<std::uint8_t>(digits.size()));
    out.push_back(type);
    out.insert(out.end(), semiOctets.begin(), semiOctets.end());
    return out;
}

Bytes EncodeAddress(const Address& address) {
    if ((address.type & 0x70) == 0x50) {
        Bytes out = EncodeAddress(address.number, true);
        out[1] = address.type;
        return out;
    }
    std::string digits;
    SplitNumber(address.number, digits);
    if (digits.size() > 20) {
        throw std::invalid_argument("a telephone number has at most 20 digits: " + address.number);
    }
    const Bytes semiOctets = DigitsToSemiOctets(digits);
    Bytes out{static_cast<std::uint8_t>(digits.size()), address.type};
    out.insert(out.end(), semiOctets.begin(), semiOctets.end());
    return out;
}

std::optional<Address> DecodeAddress(ByteReader& reader) {
    std::uint8_t length = 0;
    std::uint8_t type = 0;
    if (!reader.Next(length) || !reader.Next(type) || length > 20) {
        return std::nullopt;
    }
    Bytes octets;
    if (!reader.Take((length + 1u) / 2, octets)) {
        return std::nullopt;
    }
    if ((type & 0x70) == 0x50) {
        const auto septets = UnpackSeptets(octets.data(), octets.size(), length * 4u / 7, 0);
        if (!septets) {
            return std::nullopt;
        }
        return Address{EncodeUtf8(DecodeGsm7(*septets)), type};
    }
    return Address{JoinNumber(type, SemiOctetsToDigits(octets, length)), type};
}

Bytes EncodeServiceCentre(const std::string& number) {
    if (number.empty()) {
        return Bytes{0x00};
    }
    std::string digits;
    const std::uint8_t type = SplitNumber(number, digits);
    if (digits.empty() || digits.size() > 20) {
        throw std::invalid_argument("a service-centre number needs 1 to 20 digits: " + number);
    }
    const Bytes semiOctets = DigitsToSemiOctets(digits);
    Bytes out;
    out.push_back(static_cast<std::uint8_t>(semiOctets.size() + 1));
    out.push_back(type);
    out.insert(out.end(), semiOctets.begin(), semiOctets.end());
    return out;
}

std::optional<Address> DecodeServiceCentre(ByteReader& reader) {
    std::uint8_t length = 0;
    if (!reader.Next(length) || length > 12) {
        return std::nullopt;
    }
    if (length == 0) {
        return Address{"", kTypeUnknown};
    }
    std::uint8_t type = 0;
    Bytes octets;
    if (!reader.Next(type) || !reader.Take(length - 1u, octets)) {
        return std::nullopt;
    }
    return Address{JoinNumber(type, SemiOctetsToDigits(octets, octets.size() * 2)), type};
}

Bytes EncodeTimestamp(const Timestamp& t) {
    const int quarters = t.quarterHoursFromUtc < 0 ? -t.quarterHoursFromUtc : t.quarterHoursFromUtc;
    const int zone = BcdOctet(quarters % 80) | (t.quarterHoursFromUtc < 0 ? 0x08 : 0x00);
    return Bytes{static_cast<std::uint8_t>(BcdOctet(t.year % 100)),
                 static_cast<std::uint8_t>(BcdOctet(t.month)),
                 static_cast<std::uint8_t>(BcdOctet(t.day)),
                 static_cast<std::uint8_t>(BcdOctet(t.hour)),
                 static_cast<std::uint8_t>(BcdOctet(t.minute)),
                 static_cast<std::uint8_t>(BcdOctet(t.second)),
                 static_cast<std::uint8_t>(zone)};
}

std::optional<Timestamp> DecodeTimestamp(ByteReader& reader) {
    Bytes octets;
    if (!reader.Take(7, octets)) {
        return std::nullopt;
    }
    Timestamp t;
    int year = 0;
    if (!ReadBcd(octets[0], year) || !ReadBcd(octets[1], t.month) || !ReadBcd(octets[2], t.day) ||
        !ReadBcd(octets[3], t.hour) || !ReadBcd(octets[4], t.minute) ||
        !ReadBcd(octets[5], t.second)) {
        return std::nullopt;
    }
    t.year = 2000 + year;
    int quarters = 0;
    if (!ReadBcd(static_cast<std::uint8_t>(octets[6] & 0xF7), quarters)) {
        return std::nullopt;
    }
    t.quarterHoursFromUtc = (octets[6] & 0x08) ? -quarters : quarters;
    return t;
}

std::string FormatTextModeTimestamp(const Timestamp& t) {
    char text[32];
    const int quarters = t.quarterHoursFromUtc < 0 ? -t.quarterHoursFromUtc : t.quarterHoursFromUtc;
    std::snprintf(text, sizeof text, "%02d/%02d/%02d,%02d:%02d:%02d%c%02d", t.year % 100,
                  t.month % 100, t.day % 100, t.hour % 100, t.minute % 100, t.second % 100,
                  t.quarterHoursFromUtc < 0 ? '-' : '+', quarters % 100);
    return text;
}

Timestamp CurrentLocalTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    Timestamp t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.quarterHoursFromUtc = static_cast<int>(local.tm_gmtoff / 900);
    return t;
}

std::optional<Alphabet> AlphabetOfDcs(std::uint8_t dcs) {
    const int group = dcs >> 4;
    if (group <= 0x3) {
        if (dcs & 0x20) {
            return std::nullopt;  // compressed
        }
        switch ((dcs >> 2) & 0x03) {
            case 0:
                return Alphabet::Gsm7;
            case 1:
                return Alphabet::EightBit;
            case 2:
                return Alphabet::Ucs2;
            default:
                return std::nullopt;
        }
    }
    if (group >= 0x4 && group <= 0x7) {
        // Automatic-deletion group: same layout as the general group.
        return AlphabetOfDcs(static_cast<std::uint8_t>(dcs & 0x0F));
    }
    if (group == 0xC || group == 0xD) {
        return Alphabet::Gsm7;
    }
    if (group == 0xE) {
        return Alphabet::Ucs2;
    }
    if (group == 0xF) {
        return (dcs & 0x04) ? Alphabet::EightBit : Alphabet::Gsm7;
    }
    return std::nullopt;
}

std::optional<UserData> DecodeUserData(ByteReader& reader, Alphabet alphabet, bool hasHeader) {
    std::uint8_t udl = 0;
    if (!reader.Next(udl)) {
        return std::nullopt;
    }
    const std::size_t octetCount = alphabet == Alphabet::Gsm7 ? (udl * 7u + 7) / 8 : udl;
    UserData data;
    if (alphabet != Alphabet::Gsm7 && udl > 140) {
        return std::nullopt;
    }
    if (!reader.Take(octetCount, data.octets)) {
        return std::nullopt;
    }
    std::size_t headerOctets = 0;
    if (hasHeader) {
        if (data.octets.empty() || data.octets[0] + 1u > data.octets.size()) {
            return std::nullopt;
        }
        headerOctets = data.octets[0] + 1u;
        data.header.assign(data.octets.begin() + 1,
                           data.octets.begin() + static_cast<std::ptrdiff_t>(headerOctets));
        data.concat = FindConcatInfo(data.header);
    }
    if (alphabet == Alphabet::Gsm7) {
        const std::size_t headerSeptets = (headerOctets * 8 + 6) / 7;
        if (headerSeptets > udl) {
            return std::nullopt;
        }
        const int fillBits = static_cast<int>(headerSeptets * 7 - headerOctets * 8);
        const auto septets =
            UnpackSeptets(data.octets.data() + headerOctets, data.octets.size() - headerOctets,
                          udl - headerSeptets, fillBits);
        if (!septets) {
            return std::nullopt;
        }
        data.textUtf8 = EncodeUtf8(DecodeGsm7(*septets));
    } else if (alphabet == Alphabet::Ucs2) {
        std::vector<std::uint16_t> units;
        for (std::size_t i = headerOctets; i + 1 < data.octets.size(); i += 2) {
            units.push_back(static_cast<std::uint16_t>((data.octets[i] << 8) | data.octets[i + 1]));
        }
        data.textUtf8 = EncodeUtf8(FromUtf16(units));
    } else {
        data.textUtf8.assign(data.octets.begin() + static_cast<std::ptrdiff_t>(headerOctets),
                             data.octets.end());
    }
    return data;
}

}  // namespace tidewire::sim

// The hex, semi-octet, UCS-2 and GSM-alphabet helpers that every received field passes through:
// nothing is written past the capacity given (each output is a heap block of exactly that
// size), every text output is terminated, what a helper returns matches what it wrote, a text
// cut to fit is a prefix of the whole one, and encodings that have an inverse come back whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzHarness.h"
#include "codec/GsmAlphabet.h"
#include "codec/TextHex.h"

namespace {

using namespace tidewire;
using tidewire::fuzz::Require;

void CheckHexToBytes(const std::string& hex, size_t capacity) {
    std::vector<uint8_t> out(capacity);
    const size_t written = HexToBytes(hex.data(), hex.size(), out.data(), capacity);
    const size_t most = hex.size() / 2 < capacity ? hex.size() / 2 : capacity;
    Require(written <= most, "HexToBytes wrote more than its pairs or capacity");
    for (size_t i = 0; i < written; ++i) {
        const int high = HexDigitValue(hex[2 * i]);
        const int low = HexDigitValue(hex[2 * i + 1]);
        Require(high >= 0 && low >= 0, "HexToBytes took a pair that is not hex");
        Require(out[i] == static_cast<uint8_t>(high * 16 + low), "HexToBytes changed a byte");
    }
    if (written < most) {
        Require(HexDigitValue(hex[2 * written]) < 0 || HexDigitValue(hex[2 * written + 1]) < 0,
                "HexToBytes stopped before a bad pair");
    }
}

void CheckHexToText(const std::string& hex, size_t capacity) {
    std::vector<char> out(capacity);
    const size_t written = HexToText(hex.c_str(), out.data(), capacity);
    if (capacity == 0) {
        Require(written == 0, "HexToText wrote into no room");
        return;
    }
    Require(written < capacity, "HexToText filled its terminator's place");
    Require(out[written] == '\0', "HexToText result not terminated where it says");
}

void CheckSemiOctets(const std::string& in, size_t capacity) {
    std::vector<char> out(capacity);
    const size_t kept = SemiOctetsToDigits(in.data(), in.size(), out.data(), capacity);
    if (capacity == 0) {
        Require(kept == 0, "SemiOctetsToDigits wrote into no room");
        return;
    }
    Require(kept < capacity && out[kept] == '\0', "SemiOctetsToDigits not terminated");

    // A number swapped into semi-octets swaps back unchanged.
    std::string digits;
    for (const char c : in) {
        if (c >= '0' && c <= '9' && digits.size() < 40) {
            digits.push_back(c);
        }
    }
    char swapped[64];
    const size_t swappedLength =
        DigitsToSemiOctets(digits.data(), digits.size(), swapped, sizeof swapped);
    Require(swappedLength == digits.size() + digits.size() % 2, "DigitsToSemiOctets length");
    char back[64];
    const size_t backLength = SemiOctetsToDigits(swapped, swappedLength, back, sizeof back);
    Require(backLength == digits.size() && digits.compare(0, digits.size(), back) == 0,
            "semi-octet round trip changed the number");
}

void CheckUcs2(const std::string& bytes, size_t capacity) {
    const auto* ucs2 = reinterpret_cast<const uint8_t*>(bytes.data());
    std::vector<char> whole(4096);
    const size_t wholeLength = Ucs2ToHost(ucs2, bytes.size(), whole.data(), whole.size());
    Require(wholeLength < whole.size() && std::strlen(whole.data()) == wholeLength,
            "Ucs2ToHost length differs from its text");
    std::vector<char> cut(capacity);
    const size_t cutLength = Ucs2ToHost(ucs2, bytes.size(), cut.data(), capacity);
    if (capacity == 0) {
        Require(cutLength == 0, "Ucs2ToHost wrote into no room");
        return;
    }
    Require(cutLength < capacity && std::strlen(cut.data()) == cutLength,
            "Ucs2ToHost cut text not terminated where it says");
    Require(cutLength <= wholeLength && std::memcmp(cut.data(), whole.data(), cutLength) == 0,
            "Ucs2ToHost cut text is not a prefix of the whole text");
}

void CheckBytesToHex(const std::string& bytes, size_t capacity) {
    const auto* raw = reinterpret_cast<const uint8_t*>(bytes.data());
    std::vector<char> hex(capacity);
    const size_t digits = BytesToHex(raw, bytes.size(), hex.data(), capacity);
    if (digits == 0) {
        Require(bytes.empty() || 2 * bytes.size() + 1 > capacity, "BytesToHex refused a fit");
        return;
    }
    Require(digits == 2 * bytes.size() && digits < capacity && hex[digits] == '\0',
            "BytesToHex length or terminator");
    std::vector<uint8_t> back(bytes.size());
    Require(HexToBytes(hex.data(), digits, back.data(), back.size()) == bytes.size() &&
                std::memcmp(back.data(), raw, bytes.size()) == 0,
            "hex round trip changed the bytes");
}

void CheckSeptets(const std::string& bytes, unsigned fillBits, size_t capacity) {
    const auto* octets = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t asked = bytes.size() * 8 / 7 + 2;
    std::vector<uint8_t> septets(capacity);
    const size_t unpacked =
        Unpack7Bit(octets, bytes.size(), fillBits, septets.data(), asked, capacity);
    Require(unpacked <= capacity && unpacked <= asked, "Unpack7Bit past its limits");
    Require((unpacked * 7 + fillBits + 7) / 8 <= bytes.size() || unpacked == 0,
            "Unpack7Bit made septets from octets it does not have");
    for (size_t i = 0; i < unpacked; ++i) {
        Require(septets[i] < 0x80, "Unpack7Bit made a septet over 7 bits");
    }
    std::vector<char16_t> units(capacity);
    const size_t unitCount = GsmSeptetsToUtf16(septets.data(), unpacked, units.data(), capacity);
    Require(unitCount <= capacity && unitCount <= unpacked, "GsmSeptetsToUtf16 past its limits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const size_t capacity = data[0];
    const unsigned fillBits = data[1] % 7;
    const std::string payload(reinterpret_cast<const char*>(data + 2), size - 2);
    for (const char c : payload) {
        const int value = HexDigitValue(c);
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        Require(hex ? value >= 0 && value < 16 : value == -1, "HexDigitValue");
    }
    CheckHexToBytes(payload, capacity);
    CheckHexToText(payload, capacity);
    CheckSemiOctets(payload, capacity);
    CheckUcs2(payload, capacity);
    CheckBytesToHex(payload, capacity);
    CheckSeptets(payload, fillBits, capacity);
    return 0;
}

// The SMS-DELIVER decoder on any hex a module may list: it reads nothing past the length it is
// given, terminates every field within its width, gives the same answer for either letter case
// and whatever the block held before, and a message it delivers carries a whole time stamp.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzHarness.h"
#include "codec/Pdu.h"

namespace {

using tidewire::DecodeDeliverPdu;
using tidewire::PduMessage;
using tidewire::fuzz::Require;

void CheckTerminated(const char* field, size_t width, const char* what) {
    Require(std::memchr(field, '\0', width) != nullptr, what);
}

bool SameMessage(const PduMessage& a, const PduMessage& b) {
    return std::strcmp(a.smsc, b.smsc) == 0 && std::strcmp(a.number, b.number) == 0 &&
           std::strcmp(a.timestamp, b.timestamp) == 0 && std::strcmp(a.text, b.text) == 0 &&
           a.pid == b.pid && a.dcs == b.dcs;
}

// Decodes from a copy of exactly `length` bytes, so a read past the end is caught by the
// address checker, into a block that held `fill` in every byte.
int Decode(const std::vector<char>& text, uint8_t fill, PduMessage& message) {
    const std::vector<char> exact(text);
    std::memset(&message, fill, sizeof message);
    const int count = DecodeDeliverPdu(exact.data(), exact.size(), message);
    CheckTerminated(message.smsc, sizeof message.smsc, "smsc not terminated");
    CheckTerminated(message.number, sizeof message.number, "sender not terminated");
    CheckTerminated(message.timestamp, sizeof message.timestamp, "timestamp not terminated");
    CheckTerminated(message.text, sizeof message.text, "text not terminated");
    return count;
}

bool TimestampShaped(const char* stamp) {
    const char pattern[] = "20xx-xx-xx xx:xx:xx";
    if (std::strlen(stamp) != sizeof pattern - 1) {
        return false;
    }
    for (size_t i = 0; i < sizeof pattern - 1; ++i) {
        if (pattern[i] == 'x' ? !std::isxdigit(static_cast<unsigned char>(stamp[i]))
                              : stamp[i] != pattern[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<char> text(data, data + size);
    PduMessage first;
    const int count = Decode(text, 0x00, first);
    Require(count >= 0, "negative count");
    Require(std::strlen(first.smsc) <= tidewire::kMaxAddressDigits, "smsc over 15 digits");
    if (count > 0) {
        Require(TimestampShaped(first.timestamp), "delivered message without a whole timestamp");
    }

    // Nothing of what the block held before may show through.
    PduMessage second;
    Require(Decode(text, 0xFF, second) == count, "count depends on the block's old contents");
    Require(SameMessage(first, second), "fields depend on the block's old contents");

    // Hex is read in either letter case.
    std::vector<char> lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::vector<char> upper(text);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    PduMessage fromLower;
    PduMessage fromUpper;
    const int lowerCount = Decode(lower, 0x5A, fromLower);
    Require(lowerCount == Decode(upper, 0x5A, fromUpper), "count depends on hex letter case");
    Require(SameMessage(fromLower, fromUpper), "fields depend on hex letter case");
    return 0;
}

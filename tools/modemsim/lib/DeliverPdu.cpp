#include "DeliverPdu.h"

#include <stdexcept>

#include "GsmAlphabet.h"
#include "Utf8.h"

namespace tidewire::sim {

namespace {

constexpr std::uint8_t kMessageTypeDeliver = 0x00;
constexpr std::uint8_t kNoMoreMessages = 0x04;

// One message carries 140 octets of user data: 160 septets or 140 octets. A concatenated part
// gives up room for its header: six octets with an 8-bit reference, seven with a 16-bit one.
constexpr std::size_t kSingleSeptets = 160;
constexpr std::size_t kSingleOctets = 140;
constexpr std::size_t kMaxParts = 255;

struct Part {
    Bytes userData;                  // header included
    std::size_t userDataLength = 0;  // TP-UDL: septets for 7-bit, octets otherwise
};

// The user-data header of one part (its length octet first) and what it leaves for the text.
class ConcatLayout {
  public:
    explicit ConcatLayout(const DeliverOptions& options)
        : reference_(options.concatReference), sixteenBit_(options.sixteenBitReference) {
        if (!sixteenBit_ && reference_ > 0xFF) {
            throw std::invalid_argument("an 8-bit concatenation reference is at most 255");
        }
    }

    Bytes Header(std::size_t total, std::size_t sequence) const {
        Bytes header = sixteenBit_
                           ? Bytes{0x06, 0x08, 0x04, static_cast<std::uint8_t>(reference_ >> 8)}
                           : Bytes{0x05, 0x00, 0x03};
        header.push_back(static_cast<std::uint8_t>(reference_ & 0xFF));
        header.push_back(static_cast<std::uint8_t>(total));
        header.push_back(static_cast<std::uint8_t>(sequence));
        return header;
    }
    std::size_t HeaderOctets() const { return sixteenBit_ ? 7 : 6; }
    // The header is followed by fill bits up to the next septet boundary, so that a phone that
    // ignores the header still finds the text on septet boundaries.
    std::size_t HeaderSeptets() const { return (HeaderOctets() * 8 + 6) / 7; }
    int FillBits() const { return static_cast<int>(HeaderSeptets() * 7 - HeaderOctets() * 8); }
    std::size_t PartSeptets() const { return kSingleSeptets - HeaderSeptets(); }
    std::size_t PartOctets() const { return kSingleOctets - HeaderOctets(); }

  private:
    std::uint16_t reference_;
    bool sixteenBit_;
};

// Cuts a sequence into chunks of at most `limit` units; `mayEndAt` says whether a chunk may end
// before a given position (an escape and its code, or a surrogate pair, stay together).
template <typename Unit, typename Predicate>
std::vector<std::vector<Unit>> Cut(const std::vector<Unit>& units, std::size_t limit,
                                   Predicate mayEndBefore) {
    std::vector<std::vector<Unit>> chunks;
    std::size_t start = 0;
    while (start < units.size()) {
        std::size_t end = start + limit < units.size() ? start + limit : units.size();
        if (end < units.size() && end > start + 1 && !mayEndBefore(units, end)) {
            --end;
        }
        chunks.emplace_back(units.begin() + static_cast<std::ptrdiff_t>(start),
                            units.begin() + static_cast<std::ptrdiff_t>(end));
        start = end;
    }
    return chunks;
}

std::vector<Part> Gsm7Parts(const std::vector<std::uint8_t>& septets, const ConcatLayout& layout) {
    if (septets.size() <= kSingleSeptets) {
        return {Part{PackSeptets(septets, 0), septets.size()}};
    }
    const auto chunks = Cut(septets, layout.PartSeptets(), [](const auto& all, std::size_t end) {
        return all[end - 1] != kGsmEscape;
    });
    std::vector<Part> parts;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        Part part;
        part.userData = layout.Header(chunks.size(), i + 1);
        const Bytes packed = PackSeptets(chunks[i], layout.FillBits());
        part.userData.insert(part.userData.end(), packed.begin(), packed.end());
        part.userDataLength = layout.HeaderSeptets() + chunks[i].size();
        parts.push_back(std::move(part));
    }
    return parts;
}

Bytes Utf16Octets(const std::vector<std::uint16_t>& units) {
    Bytes octets;
    for (const std::uint16_t unit : units) {
        octets.push_back(static_cast<std::uint8_t>(unit >> 8));
        octets.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    return octets;
}

std::vector<Part> PartsWithHeaders(const std::vector<Bytes>& chunks, const ConcatLayout& layout) {
    std::vector<Part> parts;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        Part part;
        part.userData = layout.Header(chunks.size(), i + 1);
        part.userData.insert(part.userData.end(), chunks[i].begin(), chunks[i].end());
        part.userDataLength = part.userData.size();
        parts.push_back(std::move(part));
    }
    return parts;
}

std::vector<Part> Ucs2Parts(const std::vector<std::uint16_t>& units, const ConcatLayout& layout) {
    if (units.size() * 2 <= kSingleOctets) {
        return {Part{Utf16Octets(units), units.size() * 2}};
    }
    // A part never ends on a high surrogate: it stays with its low half.
    const auto chunks = Cut(units, layout.PartOctets() / 2, [](const auto& all, std::size_t end) {
        return (all[end - 1] & 0xFC00) != 0xD800;
    });
    std::vector<Bytes> octetChunks;
    for (const auto& chunk : chunks) {
        octetChunks.push_back(Utf16Octets(chunk));
    }
    return PartsWithHeaders(octetChunks, layout);
}

std::vector<Part> EightBitParts(const Bytes& octets, const ConcatLayout& layout) {
    if (octets.size() <= kSingleOctets) {
        return {Part{octets, octets.size()}};
    }
    const auto chunks =
        Cut(octets, layout.PartOctets(), [](const Bytes&, std::size_t) { return true; });
    return PartsWithHeaders(chunks, layout);
}

}  // namespace

std::vector<std::string> BuildDeliverPdus(const IncomingMessage& message,
                                          const DeliverOptions& options) {
    const std::u32string text = DecodeUtf8(message.textUtf8);
    TextCoding coding = message.coding;
    std::optional<std::vector<std::uint8_t>> septets;
    if (coding == TextCoding::Auto || coding == TextCoding::Gsm7) {
        septets = EncodeGsm7(text);
        if (!septets && coding == TextCoding::Gsm7) {
            throw std::invalid_argument("the text has characters outside the GSM 7-bit alphabet");
        }
        coding = septets ? TextCoding::Gsm7 : TextCoding::Ucs2;
    }

    const ConcatLayout layout(options);
    std::vector<Part> parts;
    std::uint8_t dcs = 0x00;
    if (coding == TextCoding::Gsm7) {
        parts = Gsm7Parts(*septets, layout);
    } else if (coding == TextCoding::Ucs2) {
        dcs = 0x08;
        parts = Ucs2Parts(ToUtf16(text), layout);
    } else {
        dcs = 0x04;
        parts = EightBitParts(Bytes(message.textUtf8.begin(), message.textUtf8.end()), layout);
    }
    if (parts.empty()) {
        parts.push_back(Part{});  // an empty message is still one message
    }
    if (parts.size() > kMaxParts) {
        throw std::invalid_argument("the text needs more than 255 parts");
    }

    const Bytes serviceCentre = EncodeServiceCentre(message.serviceCentre);
    const Bytes sender = EncodeAddress(message.sender, message.alphanumericSender);
    const Bytes timestamp = EncodeTimestamp(message.timestamp.value_or(CurrentLocalTimestamp()));

    std::vector<std::string> pdus;
    for (const Part& part : parts) {
        Bytes pdu = serviceCentre;
        std::uint8_t firstOctet = kMessageTypeDeliver;
        if (!options.moreMessagesWaiting) {
            firstOctet |= kNoMoreMessages;
        }
        if (parts.size() > 1) {
            firstOctet |= kUserDataHeader;
        }
        pdu.push_back(firstOctet);
        pdu.insert(pdu.end(), sender.begin(), sender.end());
        pdu.push_back(0x00);  // TP-PID: plain short message
        pdu.push_back(dcs);
        pdu.insert(pdu.end(), timestamp.begin(), timestamp.end());
        pdu.push_back(static_cast<std::uint8_t>(part.userDataLength));
        pdu.insert(pdu.end(), part.userData.begin(), part.userData.end());
        pdus.push_back(BytesToHex(pdu));
    }
    return pdus;
}

std::optional<DeliverFields> DecodeDeliverPdu(std::string_view hex) {
    const auto bytes = HexToBytes(hex);
    if (!bytes) {
        return std::nullopt;
    }
    ByteReader reader(*bytes);
    DeliverFields fields;
    const auto serviceCentre = DecodeServiceCentre(reader);
    if (!serviceCentre) {
        return std::nullopt;
    }
    fields.serviceCentre = serviceCentre->number;
    const std::size_t tpduStart = reader.Position();
    if (!reader.Next(fields.firstOctet) || (fields.firstOctet & 0x03) != kMessageTypeDeliver) {
        return std::nullopt;
    }
    const auto sender = DecodeAddress(reader);
    if (!sender || !reader.Next(fields.pid) || !reader.Next(fields.dcs)) {
        return std::nullopt;
    }
    fields.sender = *sender;
    const auto alphabet = AlphabetOfDcs(fields.dcs);
    const auto timestamp = DecodeTimestamp(reader);
    if (!alphabet || !timestamp) {
        return std::nullopt;
    }
    fields.alphabet = *alphabet;
    fields.timestamp = *timestamp;
    const auto userData =
        DecodeUserData(reader, fields.alphabet, (fields.firstOctet & kUserDataHeader) != 0);
    if (!userData || reader.Remaining() != 0) {
        return std::nullopt;
    }
    fields.userData = *userData;
    fields.tpduLength = static_cast<int>(bytes->size() - tpduStart);
    return fields;
}

}  // namespace tidewire::sim

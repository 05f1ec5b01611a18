#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/GsmAlphabet.h"

namespace tidewire {
namespace {

std::u16string Translate(const std::vector<uint8_t>& septets, size_t capacity = 64) {
    std::vector<char16_t> out(capacity);
    const size_t count = GsmSeptetsToUtf16(septets.data(), septets.size(), out.data(), capacity);
    return std::u16string(out.data(), count);
}

TEST(GsmAlphabetTest, UnpacksSeptetsAcrossOctetBoundaries) {
    const uint8_t hello[] = {0xE8, 0x32, 0x9B, 0xFD, 0x06};
    uint8_t septets[16] = {};
    ASSERT_EQ(Unpack7Bit(hello, sizeof(hello), 0, septets, 5, sizeof(septets)), 5u);
    EXPECT_EQ(std::string(septets, septets + 5), "hello");

    // Seven octets carry eight septets; the eighth sits in the top bits of the last one.
    const uint8_t eight[] = {0xC1, 0x60, 0x30, 0x18, 0x0C, 0x06, 0x83};
    ASSERT_EQ(Unpack7Bit(eight, sizeof(eight), 0, septets, 8, sizeof(septets)), 8u);
    EXPECT_EQ(std::vector<uint8_t>(septets, septets + 8),
              std::vector<uint8_t>({0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41}));
}

TEST(GsmAlphabetTest, UnpackStartsAfterFillBits) {
    // "hi" shifted one bit up, as it follows a six-octet user-data header.
    const uint8_t shifted[] = {0xD0, 0x69};
    uint8_t septets[4] = {};
    ASSERT_EQ(Unpack7Bit(shifted, sizeof(shifted), 1, septets, 2, sizeof(septets)), 2u);
    EXPECT_EQ(std::string(septets, septets + 2), "hi");
}

TEST(GsmAlphabetTest, UnpackStopsWhenOctetsOrRoomRunOut) {
    const uint8_t hello[] = {0xE8, 0x32, 0x9B, 0xFD, 0x06};
    uint8_t septets[8] = {};
    // Two octets hold two whole septets only.
    EXPECT_EQ(Unpack7Bit(hello, 2, 0, septets, 5, sizeof(septets)), 2u);
    EXPECT_EQ(Unpack7Bit(hello, sizeof(hello), 0, septets, 5, 3), 3u);
    EXPECT_EQ(Unpack7Bit(hello, sizeof(hello), 6, septets, 8, sizeof(septets)), 4u);
}

TEST(GsmAlphabetTest, TranslatesDefaultAlphabetAndExtensionTable) {
    EXPECT_EQ(Translate({0x00, 0x01, 0x02, 0x10, 0x5F, 0x7F, 0x0A}), u"@£$Δ§à\n");
    EXPECT_EQ(Translate({0x1B, 0x65, 0x1B, 0x28, 0x1B, 0x29, 0x1B, 0x3C, 0x1B, 0x3E, 0x1B, 0x2F,
                         0x1B, 0x40, 0x1B, 0x3D, 0x1B, 0x14}),
              u"€{}[]\\|~^");
}

TEST(GsmAlphabetTest, UnknownEscapeFallsBackAndLoneEscapeIsSpace) {
    EXPECT_EQ(Translate({0x1B, 0x41, 0x62}), u"Ab");
    EXPECT_EQ(Translate({0x61, 0x1B}), u"a ");
}

TEST(GsmAlphabetTest, TranslationStopsAtCapacity) {
    EXPECT_EQ(Translate({0x61, 0x62, 0x1B, 0x65, 0x63}, 3), u"ab€");
    EXPECT_EQ(Translate({0x61, 0x62, 0x63}, 0), u"");
}

}  // namespace
}  // namespace tidewire

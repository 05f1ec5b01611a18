#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/TextHex.h"
#include "support/TestData.h"

namespace tidewire {
namespace {

using testdata::kGbkLocale;
using testdata::kUtf8Locale;
using testdata::ScopedCtypeLocale;

std::string Bytes(const uint8_t* bytes, size_t count) {
    return std::string(reinterpret_cast<const char*>(bytes), count);
}

TEST(TextHexTest, KindOfTextSeparatesSingleByteFromWiderText) {
    ScopedCtypeLocale utf8(kUtf8Locale);
    ASSERT_TRUE(utf8.Active());
    EXPECT_EQ(KindOfText(""), TextKind::SingleByte);
    EXPECT_EQ(KindOfText("abc"), TextKind::SingleByte);
    EXPECT_EQ(KindOfText("\xE4\xB8\xAD"), TextKind::MultiByte);  // U+4E2D
    // A text too long to measure goes the way that copes with anything.
    EXPECT_EQ(KindOfText(std::string(1024, 'a').c_str()), TextKind::MultiByte);
    EXPECT_EQ(KindOfText(std::string(1023, 'a').c_str()), TextKind::SingleByte);
}

TEST(TextHexTest, KindOfTextSeesOneGbkCharacterOfTwoBytes) {
    ScopedCtypeLocale gbk(kGbkLocale);
    if (!gbk.Active()) {
        GTEST_SKIP() << "locale " << kGbkLocale << " is not installed";
    }
    EXPECT_EQ(KindOfText("\xD6\xD0"), TextKind::MultiByte);
    EXPECT_EQ(CountHostCharacters("a\xD6\xD0"), 2u);
}

TEST(TextHexTest, BytesToHexWritesUpperCaseDigitsWithinCapacity) {
    const uint8_t bytes[] = {0x0A, 0xFF};
    char out[5] = "zzzz";
    EXPECT_EQ(BytesToHex(bytes, 2, out, sizeof(out)), 4u);
    EXPECT_STREQ(out, "0AFF");
    EXPECT_EQ(BytesToHex(bytes, 0, out, sizeof(out)), 0u);
    EXPECT_STREQ(out, "");
    // Four digits and the terminator do not fit four bytes: nothing but an empty text.
    char small[4] = "zzz";
    EXPECT_EQ(BytesToHex(bytes, 2, small, sizeof(small)), 0u);
    EXPECT_STREQ(small, "");
}

TEST(TextHexTest, HexToBytesTakesEitherCaseAndStopsAtCountCapacityOrNonHex) {
    uint8_t out[4] = {};
    EXPECT_EQ(HexToBytes("4E2D", 4, out, sizeof(out)), 2u);
    EXPECT_EQ(Bytes(out, 2), "\x4E\x2D");
    EXPECT_EQ(HexToBytes("4e2d", 4, out, sizeof(out)), 2u);
    EXPECT_EQ(Bytes(out, 2), "\x4E\x2D");
    EXPECT_EQ(HexToBytes("4EZZ41", 6, out, sizeof(out)), 1u);
    EXPECT_EQ(HexToBytes("414243", 6, out, 2), 2u);
    // An odd count leaves the last digit alone; the exact-size buffer lets the address
    // sanitizer catch a look at the character after it.
    const std::vector<char> odd = {'4', '1', '4'};
    EXPECT_EQ(HexToBytes(odd.data(), odd.size(), out, sizeof(out)), 1u);
    EXPECT_EQ(out[0], 0x41);
}

TEST(TextHexTest, HexToTextIgnoresTrailingDigitAndTerminatesWithinCapacity) {
    char out[8];
    EXPECT_EQ(HexToText("414", out, sizeof(out)), 1u);
    EXPECT_STREQ(out, "A");
    EXPECT_EQ(HexToText("4e2D", out, sizeof(out)), 2u);
    EXPECT_STREQ(out, "\x4E\x2D");
    EXPECT_EQ(HexToText("41424344", out, 3), 2u);
    EXPECT_STREQ(out, "AB");
    EXPECT_EQ(HexToText("41G2", out, sizeof(out)), 1u);
    EXPECT_EQ(HexToText("", out, sizeof(out)), 0u);
    EXPECT_STREQ(out, "");
}

TEST(TextHexTest, SemiOctetsUnswapAndDropTheFiller) {
    char out[16];
    EXPECT_EQ(SemiOctetsToDigits("214365F7", 8, out, sizeof(out)), 7u);
    EXPECT_STREQ(out, "1234567");
    EXPECT_EQ(SemiOctetsToDigits("214365", 6, out, sizeof(out)), 6u);
    EXPECT_STREQ(out, "123456");
    EXPECT_EQ(SemiOctetsToDigits("214365", 0, out, sizeof(out)), 0u);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(SemiOctetsToDigits("214365", 6, out, 4), 3u);
    EXPECT_STREQ(out, "123");
}

TEST(TextHexTest, DigitsToSemiOctetsSwapsPairsAndPadsOddCount) {
    char out[16];
    EXPECT_EQ(DigitsToSemiOctets("1234567", 7, out, sizeof(out)), 8u);
    EXPECT_STREQ(out, "214365F7");
    EXPECT_EQ(DigitsToSemiOctets("123456", 6, out, sizeof(out)), 6u);
    EXPECT_STREQ(out, "214365");
    EXPECT_EQ(DigitsToSemiOctets("1234567", 7, out, 8), 0u);
    EXPECT_STREQ(out, "");
}

TEST(TextHexTest, Ucs2ToHostConvertsWholeCharactersAndIgnoresOddByte) {
    ScopedCtypeLocale utf8(kUtf8Locale);
    ASSERT_TRUE(utf8.Active());
    const uint8_t ucs2[] = {0x00, 0x61, 0x4E, 0x2D, 0x41};
    char out[16];
    EXPECT_EQ(Ucs2ToHost(ucs2, 4, out, sizeof(out)), 4u);
    EXPECT_STREQ(out, "a\xE4\xB8\xAD");
    EXPECT_EQ(Ucs2ToHost(ucs2, 5, out, sizeof(out)), 4u);
    EXPECT_STREQ(out, "a\xE4\xB8\xAD");
    // Three bytes of room: the Chinese character would not fit whole, so it is left out.
    EXPECT_EQ(Ucs2ToHost(ucs2, 4, out, 4), 1u);
    EXPECT_STREQ(out, "a");
}

TEST(TextHexTest, Ucs2ToHostGivesGbkBytesOnGbkHost) {
    ScopedCtypeLocale gbk(kGbkLocale);
    if (!gbk.Active()) {
        GTEST_SKIP() << "locale " << kGbkLocale << " is not installed";
    }
    const uint8_t ucs2[] = {0x00, 0x61, 0x4E, 0x2D};
    char out[8];
    EXPECT_EQ(Ucs2ToHost(ucs2, 4, out, sizeof(out)), 3u);
    EXPECT_STREQ(out, "a\xD6\xD0");

    uint8_t back[8];
    EXPECT_EQ(HostToUcs2("\xD6\xD0\xCE\xC4", 4, back, sizeof(back)), 4u);
    EXPECT_EQ(Bytes(back, 4), "\x4E\x2D\x65\x87");
    EXPECT_EQ(HostToUcs2("\xD6\xD0\xCE\xC4", 4, back, 2), 0u);
}

TEST(TextHexTest, HostToUcs2HexAndHostToHexSpellTheText) {
    ScopedCtypeLocale utf8(kUtf8Locale);
    ASSERT_TRUE(utf8.Active());
    char out[32];
    EXPECT_EQ(HostToUcs2Hex("abc", out, sizeof(out)), 12u);
    EXPECT_STREQ(out, "006100620063");
    EXPECT_EQ(HostToUcs2Hex("\xE4\xB8\xAD", out, sizeof(out)), 4u);
    EXPECT_STREQ(out, "4E2D");
    EXPECT_EQ(HostToUcs2Hex("abc", out, 12), 0u);
    EXPECT_EQ(HostToHex("abc", out, sizeof(out)), 6u);
    EXPECT_STREQ(out, "616263");
    EXPECT_EQ(HostToHex("abc", out, 6), 0u);
    EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace tidewire

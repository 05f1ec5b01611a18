#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/Pdu.h"
#include "support/TestData.h"

namespace tidewire {
namespace {

using testdata::kGbkLocale;
using testdata::kUtf8Locale;
using testdata::ScopedCtypeLocale;

// An SMS-DELIVER as a module lists it, built from its fields so that each test changes one.
struct Deliver {
    std::string smsc = "0891683108200005F0";  // 8613800200500
    std::string firstOctet = "04";
    std::string sender = "0B813111325476F8";  // 13112345678, national
    std::string pid = "00";
    std::string dcs = "00";
    std::string timestamp = "01502101325423";
    std::string userData = "05E8329BFD06";  // length, then "hello" in 7-bit

    std::string Hex() const {
        return smsc + firstOctet + sender + pid + dcs + timestamp + userData;
    }
};

// Packs septets as they travel, after fillBits zero bits, and prefixes the length octet.
std::string SevenBitUserData(const std::vector<uint8_t>& septets, size_t lengthInSeptets) {
    std::vector<uint8_t> octets((7 * septets.size() + 7) / 8, 0);
    for (size_t i = 0; i < septets.size(); ++i) {
        for (size_t bit = 0; bit < 7; ++bit) {
            if ((septets[i] >> bit) & 1) {
                octets[(7 * i + bit) / 8] |= static_cast<uint8_t>(1u << ((7 * i + bit) % 8));
            }
        }
    }
    static const char digits[] = "0123456789ABCDEF";
    std::string hex = {digits[lengthInSeptets >> 4], digits[lengthInSeptets & 0x0F]};
    for (const uint8_t octet : octets) {
        hex += digits[octet >> 4];
        hex += digits[octet & 0x0F];
    }
    return hex;
}

// Decodes from a buffer of exactly the PDU's size, so that the address sanitizer sees any
// read past the length.
int Decode(const std::string& hex, PduMessage& message) {
    const std::vector<char> exact(hex.begin(), hex.end());
    return DecodeDeliverPdu(exact.data(), exact.size(), message);
}

class PduDecodeTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(utf8_.Active()); }
    ScopedCtypeLocale utf8_{kUtf8Locale};
    PduMessage message_{};
};

TEST_F(PduDecodeTest, DecodesServiceCentreSenderTimestampAndSevenBitText) {
    EXPECT_EQ(Decode(Deliver().Hex(), message_), 5);
    EXPECT_STREQ(message_.smsc, "8613800200500");
    EXPECT_STREQ(message_.number, "13112345678");
    EXPECT_STREQ(message_.timestamp, "2010-05-12 10:23:45");
    EXPECT_STREQ(message_.text, "hello");
    EXPECT_EQ(message_.pid, 0);
    EXPECT_EQ(message_.dcs, 0);
}

TEST_F(PduDecodeTest, LowerCaseHexAndTrailingCharactersAreAccepted) {
    std::string hex = Deliver().Hex();
    for (char& c : hex) {
        c = static_cast<char>(tolower(c));
    }
    EXPECT_EQ(Decode(hex + "\r\nOK\r\n", message_), 5);
    EXPECT_STREQ(message_.text, "hello");
}

TEST_F(PduDecodeTest, CenturyIsAlwaysTwentyAndZoneIsDropped) {
    Deliver deliver;
    deliver.timestamp = "99211332958580";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 5);
    EXPECT_STREQ(message_.timestamp, "2099-12-31 23:59:58");
}

TEST_F(PduDecodeTest, TranslatesGsmAlphabetSoAtSignNoLongerEndsText) {
    Deliver deliver;
    // @ € { [ a: the escapes count as septets of their own.
    deliver.userData = SevenBitUserData({0x00, 0x1B, 0x65, 0x1B, 0x28, 0x1B, 0x3C, 0x61}, 8);
    EXPECT_EQ(Decode(deliver.Hex(), message_), 8);
    EXPECT_STREQ(message_.text, "@\xE2\x82\xAC{[a");
}

TEST_F(PduDecodeTest, DecodeSkipsUserDataHeaderAndFillBits) {
    Deliver deliver;
    deliver.firstOctet = "44";
    // Concatenation header (six octets, seven septets with one fill bit), then "hello".
    deliver.userData = "0C050003CC0201D06536FB0D";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 5);
    EXPECT_STREQ(message_.text, "hello");

    deliver.dcs = "08";
    deliver.userData = "08050003CC02014E2D";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 3);
    EXPECT_STREQ(message_.text, "\xE4\xB8\xAD");

    deliver.dcs = "04";
    deliver.userData = "09060504158200004142";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 2);
    EXPECT_STREQ(message_.text, "AB");
}

TEST_F(PduDecodeTest, CodingGroupsChooseTheAlphabet) {
    struct Case {
        uint8_t dcs;
        SmsAlphabet alphabet;
    };
    const Case cases[] = {
        {0x00, SmsAlphabet::Gsm7Bit},  {0x04, SmsAlphabet::EightBit}, {0x08, SmsAlphabet::Ucs2},
        {0x10, SmsAlphabet::Gsm7Bit},  {0x15, SmsAlphabet::EightBit}, {0x18, SmsAlphabet::Ucs2},
        {0x24, SmsAlphabet::EightBit}, {0x48, SmsAlphabet::Ucs2},     {0x51, SmsAlphabet::Gsm7Bit},
        {0x80, SmsAlphabet::Gsm7Bit},  {0xC0, SmsAlphabet::Gsm7Bit},  {0xD8, SmsAlphabet::Gsm7Bit},
        {0xE8, SmsAlphabet::Ucs2},     {0xF0, SmsAlphabet::Gsm7Bit},  {0xF4, SmsAlphabet::EightBit},
        {0xFB, SmsAlphabet::Gsm7Bit},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AlphabetOfDcs(c.dcs), c.alphabet) << "dcs " << static_cast<int>(c.dcs);
    }
    // A flash message in UCS-2 arrives as text, not as its raw octets.
    Deliver deliver;
    deliver.dcs = "18";
    deliver.userData = "0400410042";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 2);
    EXPECT_STREQ(message_.text, "AB");
}

TEST_F(PduDecodeTest, EightBitDataIsCarriedAsItsOctets) {
    Deliver deliver;
    deliver.dcs = "04";
    deliver.userData = "03414243";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 3);
    EXPECT_STREQ(message_.text, "ABC");
}

TEST_F(PduDecodeTest, WholeChineseMessageArrivesInUtf8Host) {
    Deliver deliver;
    deliver.dcs = "08";
    deliver.userData = "8C";
    std::string expected;
    for (int i = 0; i < 70; ++i) {
        deliver.userData += "4E2D";
        expected += "\xE4\xB8\xAD";
    }
    EXPECT_EQ(Decode(deliver.Hex(), message_), 210);
    EXPECT_EQ(std::string(message_.text), expected);
}

TEST_F(PduDecodeTest, TooLongTextIsCutAtCharacterBoundary) {
    // 160 times Greek capital delta: 320 bytes of UTF-8 for a 255-byte field.
    Deliver deliver;
    deliver.userData = SevenBitUserData(std::vector<uint8_t>(160, 0x10), 160);
    EXPECT_EQ(Decode(deliver.Hex(), message_), 160);
    std::string expected;
    for (int i = 0; i < 127; ++i) {
        expected += "\xCE\x94";
    }
    EXPECT_EQ(std::string(message_.text), expected);
}

TEST_F(PduDecodeTest, GbkHostGetsGbkText) {
    ScopedCtypeLocale gbk(kGbkLocale);
    if (!gbk.Active()) {
        GTEST_SKIP() << "locale " << kGbkLocale << " is not installed";
    }
    Deliver deliver;
    deliver.dcs = "08";
    deliver.userData = "044E2D6587";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 4);
    EXPECT_STREQ(message_.text, "\xD6\xD0\xCE\xC4");
}

TEST_F(PduDecodeTest, AlphanumericSenderIsDecodedAsText) {
    Deliver deliver;
    deliver.sender = "0ED0D434B97C4FCBCB";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 5);
    EXPECT_STREQ(message_.number, "Tidewire");
}

TEST_F(PduDecodeTest, SenderKeepsCountryCodeAndKeypadCharacters) {
    Deliver deliver;
    deliver.sender = "0D91683119325476F8";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 5);
    EXPECT_STREQ(message_.number, "8613912345678");
    deliver.sender = "0781A1B2C3F4";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 5);
    EXPECT_STREQ(message_.number, "1*2#3a4");
}

TEST_F(PduDecodeTest, MissingServiceCentreDecodesTheRest) {
    Deliver deliver;
    deliver.smsc = "00";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 5);
    EXPECT_STREQ(message_.smsc, "");
    EXPECT_STREQ(message_.number, "13112345678");
    EXPECT_STREQ(message_.text, "hello");
}

TEST_F(PduDecodeTest, EmptyMessageCountsZeroButKeepsSender) {
    Deliver deliver;
    deliver.userData = "00";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 0);
    EXPECT_STREQ(message_.text, "");
    EXPECT_STREQ(message_.number, "13112345678");
}

TEST_F(PduDecodeTest, RefusesMessagesThatAreNotDeliveries) {
    for (const char* firstOctet : {"01", "11", "02", "06", "03"}) {
        Deliver deliver;
        deliver.firstOctet = firstOctet;
        EXPECT_EQ(Decode(deliver.Hex(), message_), 0) << "first octet " << firstOctet;
    }
}

TEST_F(PduDecodeTest, RefusesFieldsBeyondTheirLimits) {
    Deliver longSmsc;
    longSmsc.smsc = "0A91" + std::string(18, '1');
    EXPECT_EQ(Decode(longSmsc.Hex(), message_), 0);
    Deliver sixteenDigitSmsc;
    sixteenDigitSmsc.smsc = "09911111111111111111";
    EXPECT_EQ(Decode(sixteenDigitSmsc.Hex(), message_), 0);
    Deliver longSender;
    longSender.sender = "1591" + std::string(22, '1');
    EXPECT_EQ(Decode(longSender.Hex(), message_), 0);
    Deliver tooManySeptets;
    tooManySeptets.userData = "A1" + std::string(2 * 141, '0');
    EXPECT_EQ(Decode(tooManySeptets.Hex(), message_), 0);
    Deliver tooManyOctets;
    tooManyOctets.dcs = "08";
    tooManyOctets.userData = "8D" + std::string(2 * 141, '0');
    EXPECT_EQ(Decode(tooManyOctets.Hex(), message_), 0);
    Deliver headerPastData;
    headerPastData.firstOctet = "44";
    headerPastData.dcs = "04";
    headerPastData.userData = "03104142";
    EXPECT_EQ(Decode(headerPastData.Hex(), message_), 0);
    // Twenty digits are the most an address holds, and they fit the record.
    Deliver twentyDigits;
    twentyDigits.sender = "1491" + std::string(20, '2');
    EXPECT_EQ(Decode(twentyDigits.Hex(), message_), 5);
    EXPECT_STREQ(message_.number, std::string(20, '2').c_str());
}

TEST_F(PduDecodeTest, RefusesNonHexWhereItIsRead) {
    Deliver deliver;
    deliver.userData = "05E8329BFG06";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 0);
    deliver = Deliver();
    deliver.sender = "0B81311132547 F8";
    EXPECT_EQ(Decode(deliver.Hex(), message_), 0);
    EXPECT_EQ(DecodeDeliverPdu(nullptr, 10, message_), 0);
}

TEST_F(PduDecodeTest, EveryShortenedPduIsRefused) {
    const std::string hex = Deliver().Hex();
    for (size_t length = 0; length < hex.size(); ++length) {
        EXPECT_EQ(Decode(hex.substr(0, length), message_), 0) << "length " << length;
    }
}

TEST_F(PduDecodeTest, ReusedBlockKeepsNothingOfThePreviousMessage) {
    Deliver longer;
    longer.sender = "1491" + std::string(20, '2');
    longer.userData = SevenBitUserData(std::vector<uint8_t>(40, 'x'), 40);
    ASSERT_EQ(Decode(longer.Hex(), message_), 40);
    ASSERT_EQ(Decode(Deliver().Hex(), message_), 5);
    EXPECT_STREQ(message_.text, "hello");
    EXPECT_STREQ(message_.number, "13112345678");
    EXPECT_EQ(message_.text[6], '\0');
    EXPECT_EQ(message_.number[12], '\0');
}

TEST_F(PduDecodeTest, ConcatenationHeadersAndStatusReportsAreRead) {
    // Part 2 of 2 under the 8-bit reference 0x4C (python-gsmmodem's test data), and part 1 of 2
    // under the 16-bit reference 0x0010 (element 08).
    const std::string eightBit =
        "07912160130320F6440B916171056429F5000021405291651569320500034C0202E9E8301D44479741F0B09C"
        "3E0785E56590BCCC0ED3CB6410FD0D7ABBCBA0B0FB4D4797E52E10";
    DeliverText text;
    ASSERT_TRUE(DecodeDeliverText(eightBit.c_str(), eightBit.size(), message_, text));
    EXPECT_TRUE(text.concatenation.present && !text.concatenation.wideReference);
    EXPECT_EQ(text.concatenation.reference, 0x4C);
    EXPECT_EQ(text.concatenation.total, 2);
    EXPECT_EQ(text.concatenation.sequence, 2);
    EXPECT_EQ(std::u16string(text.units, text.unitCount),
              u"that the parts are related to one another. ");
    EXPECT_STREQ(message_.number, "16175046925");

    const std::string wide =
        "07911356131313F64004850120390011609232239180A006080400100201D7327BFD6EB340E2321BF46E83EA77"
        "90F5"
        "9D1E97DBE1341B442F83C465763D3DA797E56537C81D0ECB41AB59CC1693C16031D96C064241E5656838AF03A9"
        "6230982A269BCD462917C8FA4E8FCBED709A0D7ABBE9F6B0FB5C7683D27350984D4FABC9A0B33C4C4FCF5D20EB"
        "FB2D079DCB62793DBD06D9C36E50FB2D4E97D9A0B49B5E96BBCB";
    ASSERT_TRUE(DecodeDeliverText(wide.c_str(), wide.size(), message_, text));
    EXPECT_TRUE(text.concatenation.present && text.concatenation.wideReference);
    EXPECT_EQ(text.concatenation.reference, 0x0010);
    EXPECT_EQ(text.concatenation.sequence, 1);
    EXPECT_EQ(std::u16string(text.units, 6), u"Welkom");

    // A status report (python-gsmmodem's): reference 183 to 0829200000, delivered.
    const std::string report = "07917248014000F506B70AA18092020000317071518590803170715185418000";
    StatusReport status;
    ASSERT_TRUE(DecodeStatusReportPdu(report.c_str(), report.size(), status));
    EXPECT_EQ(status.reference, 183);
    EXPECT_STREQ(status.recipient, "0829200000");
    EXPECT_EQ(status.status, 0x00);
    EXPECT_EQ(MessageTypeOfPdu(report.c_str(), report.size()), 2);
    EXPECT_FALSE(DecodeDeliverText(report.c_str(), report.size(), message_, text));
    EXPECT_FALSE(DecodeStatusReportPdu(eightBit.c_str(), eightBit.size(), status));
    EXPECT_FALSE(DecodeStatusReportPdu(report.c_str(), report.size() - 2, status));
}

}  // namespace
}  // namespace tidewire

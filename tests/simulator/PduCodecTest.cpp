// The simulator's own PDU code, checked against PDUs worked out by hand, octet by octet,
// and against PDUs that other SMS software produced.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeliverPdu.h"
#include "GsmAlphabet.h"
#include "HexText.h"
#include "StatusReportPdu.h"
#include "SubmitPdu.h"
#include "Utf8.h"

namespace tidewire::sim {
namespace {

IncomingMessage FromChinaMobile(std::string text) {
    IncomingMessage message;
    message.sender = "+8613912345678";
    message.serviceCentre = "+8613800100500";
    message.textUtf8 = std::move(text);
    message.timestamp = Timestamp{2024, 5, 12, 10, 23, 45, 32};
    return message;
}

// Service centre, first octet, sender, PID of a message from +8613912345678 through
// +8613800100500: 08 91 683108100005F0 | 04 | 0D 91 683119325476F8 | 00.
const std::string kHeaderToPid = "0891683108100005F0040D91683119325476F800";
// 2024-05-12 10:23:45, UTC+8 (32 quarter hours), each octet's digits swapped.
const std::string kTimestamp = "42502101325423";

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

TEST(GsmAlphabet, PacksHelloIntoFiveOctets) {
    const auto septets = EncodeGsm7(U"hello");
    ASSERT_TRUE(septets);
    EXPECT_EQ(BytesToHex(PackSeptets(*septets, 0)), "E8329BFD06");
}

TEST(GsmAlphabet, ExtensionCharactersTakeAnEscapeAndTheirCode) {
    const auto septets = EncodeGsm7(U"\u20AC[x]");
    ASSERT_TRUE(septets);
    EXPECT_EQ(*septets, (std::vector<std::uint8_t>{0x1B, 0x65, 0x1B, 0x3C, 0x78, 0x1B, 0x3E}));
    EXPECT_EQ(DecodeGsm7(*septets), U"\u20AC[x]");
}

TEST(GsmAlphabet, DefaultTableCharactersOutsideAsciiKeepTheirCodes) {
    const auto septets = EncodeGsm7(U"@\u00A3\u00E8\u00C5\u0394\u00DF\u00BF\u00E0");
    ASSERT_TRUE(septets);
    EXPECT_EQ(*septets,
              (std::vector<std::uint8_t>{0x00, 0x01, 0x04, 0x0E, 0x10, 0x1E, 0x60, 0x7F}));
}

TEST(GsmAlphabet, RefusesCharactersInNeitherTable) {
    EXPECT_FALSE(EncodeGsm7(U"\u4E2D"));
    EXPECT_FALSE(EncodeGsm7(U"Zkou\u0161ka"));
    EXPECT_FALSE(EncodeGsm7(U"`"));
}

TEST(GsmAlphabet, UnpackingReversesPackingForEveryFill) {
    std::vector<std::uint8_t> septets;
    for (int i = 0; i < 23; ++i) {
        septets.push_back(static_cast<std::uint8_t>((i * 37 + 5) & 0x7F));
    }
    for (int fill = 0; fill < 7; ++fill) {
        const auto packed = PackSeptets(septets, fill);
        EXPECT_EQ(packed.size(), (fill + 23 * 7 + 7) / 8u);
        const auto unpacked = UnpackSeptets(packed.data(), packed.size(), septets.size(), fill);
        ASSERT_TRUE(unpacked) << "fill " << fill;
        EXPECT_EQ(*unpacked, septets) << "fill " << fill;
    }
    const auto packed = PackSeptets(septets, 0);
    EXPECT_FALSE(UnpackSeptets(packed.data(), packed.size(), septets.size() + 2, 0));
}

TEST(DeliverBuilder, SevenBitMessageMatchesTheHandBuiltPdu) {
    const auto pdus = BuildDeliverPdus(FromChinaMobile("hello"));
    ASSERT_EQ(pdus.size(), 1u);
    EXPECT_EQ(pdus[0], kHeaderToPid + "00" + kTimestamp + "05" + "E8329BFD06");
}

TEST(DeliverBuilder, UcsTwoMessageCarriesBigEndianUnits) {
    const auto pdus = BuildDeliverPdus(FromChinaMobile("\xE4\xB8\xAD\xE6\x96\x87"));  // 中文
    ASSERT_EQ(pdus.size(), 1u);
    EXPECT_EQ(pdus[0], kHeaderToPid + "08" + kTimestamp + "04" + "4E2D6587");
}

TEST(DeliverBuilder, AutoStaysSevenBitWhenTheExtensionTableSuffices) {
    const auto pdus = BuildDeliverPdus(FromChinaMobile("{x}"));
    // Five septets: escape, {, x, escape, }.
    EXPECT_EQ(pdus[0].substr(kHeaderToPid.size(), 2), "00");
    EXPECT_EQ(pdus[0].substr(kHeaderToPid.size() + 2 + kTimestamp.size(), 2), "05");
}

TEST(DeliverBuilder, EightBitCarriesTheBytesUnchanged) {
    IncomingMessage message = FromChinaMobile(std::string("\x01\xFFgo", 4));
    message.coding = TextCoding::EightBit;
    EXPECT_EQ(BuildDeliverPdus(message)[0], kHeaderToPid + "04" + kTimestamp + "04" + "01FF676F");
}

TEST(DeliverBuilder, MatchesPdusOfAnotherEncoder) {
    // Gammu's DELIVER encoding of "123456" (7-bit) and "Zkouška sirén" (UCS-2) from 1234 via
    // service centre 1234, sent 2007-06-05 13:56:30 UTC; its first octet leaves TP-MMS clear.
    IncomingMessage message;
    message.sender = "1234";
    message.serviceCentre = "1234";
    message.textUtf8 = "123456";
    message.timestamp = Timestamp{2007, 6, 5, 13, 56, 30, 0};
    DeliverOptions options;
    options.moreMessagesWaiting = true;
    EXPECT_EQ(BuildDeliverPdus(message, options)[0],
              "0381214300048121430000706050316503000631D98C56B301");

    message.sender = "+41761234567";
    message.textUtf8 = "Zkou\xC5\xA1ka sir\xC3\xA9n";
    EXPECT_EQ(BuildDeliverPdus(message, options)[0],
              "03812143000B911467214365F70008706050316503001A005A006B006F00750161006B00610020007"
              "30069007200E9006E");
}

TEST(DeliverBuilder, AlphanumericSenderIsPackedSeptetsWithItsSemiOctetCount) {
    IncomingMessage message = FromChinaMobile("hello");
    message.sender = "Tidewire";
    message.alphanumericSender = true;
    const std::string pdu = BuildDeliverPdus(message)[0];
    // Eight septets use 56 bits: 14 semi-octets.
    EXPECT_EQ(pdu.substr(18, 20), "040ED0D434B97C4FCBCB");
    const auto decoded = DecodeDeliverPdu(pdu);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->sender.number, "Tidewire");
    EXPECT_EQ(decoded->sender.type, kTypeAlphanumeric);
}

TEST(DeliverBuilder, TimeZoneWestOfUtcSetsTheSignBit) {
    IncomingMessage message = FromChinaMobile("hello");
    message.timestamp->quarterHoursFromUtc = -20;
    const std::string pdu = BuildDeliverPdus(message)[0];
    EXPECT_EQ(pdu.substr(kHeaderToPid.size() + 2 + 12, 2), "0A");
    const auto decoded = DecodeDeliverPdu(pdu);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->timestamp.quarterHoursFromUtc, -20);
    EXPECT_EQ(FormatTextModeTimestamp(decoded->timestamp), "24/05/12,10:23:45-20");
}

TEST(DeliverBuilder, LongSevenBitTextIsSplitWithConcatenationHeaders) {
    const std::string text = Repeat("0123456789", 20);
    DeliverOptions options;
    options.concatReference = 0x2A;
    const auto pdus = BuildDeliverPdus(FromChinaMobile(text), options);
    ASSERT_EQ(pdus.size(), 2u);
    // TP-UDHI set; 160 septets: seven for the 6-octet header and its fill bit, 153 of text.
    EXPECT_EQ(pdus[0].substr(18, 2), "44");
    const std::size_t udl = kHeaderToPid.size() + 2 + kTimestamp.size();
    EXPECT_EQ(pdus[0].substr(udl, 14),
              "A0050003"
              "2A0201");
    EXPECT_EQ(pdus[1].substr(udl, 14),
              "36050003"
              "2A0202");  // 7 + 47 septets

    std::string joined;
    for (std::size_t i = 0; i < pdus.size(); ++i) {
        const auto decoded = DecodeDeliverPdu(pdus[i]);
        ASSERT_TRUE(decoded);
        ASSERT_TRUE(decoded->userData.concat);
        EXPECT_EQ(*decoded->userData.concat, (ConcatInfo{0x2A, 2, static_cast<int>(i + 1)}));
        joined += decoded->userData.textUtf8;
    }
    EXPECT_EQ(joined, text);
}

TEST(DeliverBuilder, SixteenBitReferenceTakesASevenOctetHeaderAnd152SeptetsAPart) {
    const std::string text = Repeat("0123456789", 20);
    DeliverOptions options;
    options.concatReference = 0x1234;
    options.sixteenBitReference = true;
    const auto pdus = BuildDeliverPdus(FromChinaMobile(text), options);
    ASSERT_EQ(pdus.size(), 2u);
    // 160 septets: eight for the 7-octet header (no fill bits needed), 152 of text.
    const std::size_t udl = kHeaderToPid.size() + 2 + kTimestamp.size();
    EXPECT_EQ(pdus[0].substr(udl, 16),
              "A0060804"
              "12340201");
    const auto first = DecodeDeliverPdu(pdus[0]);
    const auto second = DecodeDeliverPdu(pdus[1]);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(*first->userData.concat, (ConcatInfo{0x1234, 2, 1}));
    EXPECT_EQ(first->userData.textUtf8, text.substr(0, 152));
    EXPECT_EQ(second->userData.textUtf8, text.substr(152));

    options.sixteenBitReference = false;
    EXPECT_THROW(BuildDeliverPdus(FromChinaMobile(text), options), std::invalid_argument);
}

TEST(DeliverBuilder, TextOfExactlyOneMessageStaysWhole) {
    EXPECT_EQ(BuildDeliverPdus(FromChinaMobile(std::string(160, 'a'))).size(), 1u);
    EXPECT_EQ(BuildDeliverPdus(FromChinaMobile(std::string(161, 'a'))).size(), 2u);
    EXPECT_EQ(BuildDeliverPdus(FromChinaMobile(Repeat("\xE4\xB8\xAD", 70))).size(), 1u);
    EXPECT_EQ(BuildDeliverPdus(FromChinaMobile(Repeat("\xE4\xB8\xAD", 71))).size(), 2u);
    EXPECT_EQ(BuildDeliverPdus(FromChinaMobile("")).size(), 1u);
}

TEST(DeliverBuilder, PartNeverEndsBetweenAnEscapeAndItsCode) {
    const std::string text = std::string(152, 'a') + "\xE2\x82\xAC" + std::string(10, 'b');
    const auto pdus = BuildDeliverPdus(FromChinaMobile(text));
    ASSERT_EQ(pdus.size(), 2u);
    const auto first = DecodeDeliverPdu(pdus[0]);
    const auto second = DecodeDeliverPdu(pdus[1]);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->userData.textUtf8, std::string(152, 'a'));
    EXPECT_EQ(second->userData.textUtf8, "\xE2\x82\xAC" + std::string(10, 'b'));
}

TEST(DeliverBuilder, LongUcsTwoTextTakes67CharactersPerPartAndKeepsSurrogatesTogether) {
    const std::string han = "\xE4\xB8\xAD";        // U+4E2D
    const std::string smile = "\xF0\x9F\x98\x80";  // U+1F600, a surrogate pair in UTF-16
    const auto pdus = BuildDeliverPdus(FromChinaMobile(Repeat(han, 66) + smile + Repeat(han, 5)));
    ASSERT_EQ(pdus.size(), 2u);
    const auto first = DecodeDeliverPdu(pdus[0]);
    const auto second = DecodeDeliverPdu(pdus[1]);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->userData.textUtf8, Repeat(han, 66));
    EXPECT_EQ(second->userData.textUtf8, smile + Repeat(han, 5));

    const auto full = BuildDeliverPdus(FromChinaMobile(Repeat(han, 100)));
    ASSERT_EQ(full.size(), 2u);
    const std::size_t udl = kHeaderToPid.size() + 2 + kTimestamp.size();
    EXPECT_EQ(full[0].substr(udl, 2), "8C");  // 6 + 134 octets
    EXPECT_EQ(full[1].substr(udl, 2), "48");  // 6 + 66 octets
}

TEST(DeliverBuilder, RefusesWhatNoMessageCanCarry) {
    IncomingMessage forced = FromChinaMobile("\xE4\xB8\xAD");
    forced.coding = TextCoding::Gsm7;
    EXPECT_THROW(BuildDeliverPdus(forced), std::invalid_argument);

    IncomingMessage badSender = FromChinaMobile("hi");
    badSender.sender = "139-1234";
    EXPECT_THROW(BuildDeliverPdus(badSender), std::invalid_argument);
    badSender.sender = "";
    EXPECT_THROW(BuildDeliverPdus(badSender), std::invalid_argument);

    IncomingMessage longName = FromChinaMobile("hi");
    longName.sender = "TwelveLetter";
    longName.alphanumericSender = true;
    EXPECT_THROW(BuildDeliverPdus(longName), std::invalid_argument);

    EXPECT_THROW(BuildDeliverPdus(FromChinaMobile(std::string(153 * 256, 'a'))),
                 std::invalid_argument);
}

TEST(DeliverDecoder, ReadsARealListedPdu) {
    const auto decoded = DecodeDeliverPdu(
        "07917248014000F3240B917247587706F400003110824115248012C8329BFD06C9C373B8B82C97E741F034");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->serviceCentre, "+27841004003");
    EXPECT_EQ(decoded->sender.number, "+27748577604");
    EXPECT_EQ(decoded->userData.textUtf8, "Hello raspberry pi");
    EXPECT_EQ(FormatTextModeTimestamp(decoded->timestamp), "13/01/28,14:51:42+08");
    EXPECT_EQ(decoded->tpduLength, 35);
}

TEST(DeliverDecoder, RefusesTruncatedForeignAndMalformedPdus) {
    // The last entry of a listing that a module cut short.
    EXPECT_FALSE(DecodeDeliverPdu("079100F40D1101000F001000B917118336058F300"));
    EXPECT_FALSE(DecodeDeliverPdu("0001000B917228001011F100000CC8329BFD065DDF72363904"));  // SUBMIT
    EXPECT_FALSE(DecodeDeliverPdu("0891683108100005F0040D91683119325476F80000425021013254230"));
    EXPECT_FALSE(DecodeDeliverPdu("zz"));
    // A length that promises more user data than there is.
    EXPECT_FALSE(DecodeDeliverPdu(kHeaderToPid + "00" + kTimestamp + "06" + "E8329BFD06"));
    // Octets left over after the user data.
    EXPECT_FALSE(DecodeDeliverPdu(kHeaderToPid + "00" + kTimestamp + "05" + "E8329BFD0600"));
}

TEST(StatusReport, MatchesTheHandBuiltPduAndReadsItsOptionalTail) {
    StatusReportFields fields;
    fields.serviceCentre = "+8613800100500";
    fields.messageReference = 7;
    fields.recipient = Address{"+8613912345678", kTypeInternational};
    fields.serviceCentreTime = Timestamp{2024, 5, 12, 10, 23, 45, 32};
    fields.dischargeTime = Timestamp{2024, 5, 12, 10, 29, 50, 32};
    fields.status = kReportIncompatibleDestination;
    // Service centre | 06: status report of a SUBMIT, no more waiting | MR 07 | recipient |
    // TP-SCTS | TP-DT | TP-ST 41.
    EXPECT_EQ(BuildStatusReportPdu(fields),
              "0891683108100005F006070D91683119325476F8" + kTimestamp + "42502101920523" + "41");
    const auto decoded = DecodeStatusReportPdu(BuildStatusReportPdu(fields));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->messageReference, 7);
    EXPECT_EQ(decoded->recipient.number, "+8613912345678");
    EXPECT_EQ(decoded->dischargeTime, fields.dischargeTime);
    EXPECT_EQ(decoded->status, 0x41);
    EXPECT_EQ(decoded->tpduLength, 26);

    // A national recipient keeps its type of number.
    fields.recipient = Address{"0126541234", 0xA1};
    EXPECT_EQ(DecodeStatusReportPdu(BuildStatusReportPdu(fields))->recipient.type, 0xA1);

    // TP-PI and the fields it announces may follow TP-ST: here "hi" in 7-bit with no TP-DCS.
    const std::string whole = BuildStatusReportPdu(fields);
    EXPECT_TRUE(DecodeStatusReportPdu(whole + "00"));
    EXPECT_TRUE(DecodeStatusReportPdu(whole + "0402E834"));
    EXPECT_FALSE(DecodeStatusReportPdu(whole + "0403E834"));  // promises more than there is
    EXPECT_FALSE(DecodeStatusReportPdu(whole + "00FF"));      // octets left over
    EXPECT_FALSE(DecodeStatusReportPdu(whole.substr(0, whole.size() - 2)));  // no TP-ST
    EXPECT_FALSE(DecodeStatusReportPdu(kHeaderToPid + "00" + kTimestamp + "05E8329BFD06"));
}

TEST(SubmitParser, ReadsSubmitPdusOfOtherSoftware) {
    const SubmitParse plain = ParseSubmitPdu("0001000B917228001011F100000CC8329BFD065DDF72363904");
    ASSERT_TRUE(plain.fields) << plain.error;
    EXPECT_EQ(plain.fields->serviceCentre, "");
    EXPECT_EQ(plain.fields->destination.number, "+27820001111");
    EXPECT_EQ(plain.fields->userData.textUtf8, "Hello World!");
    EXPECT_EQ(plain.fields->tpduLength, 24);

    // Relative validity period, UCS-2.
    const SubmitParse ucs2 =
        ParseSubmitPdu("07914400000000F01100099121436587F90008F40A4E16754C60A8597DFF01");
    ASSERT_TRUE(ucs2.fields) << ucs2.error;
    EXPECT_EQ(ucs2.fields->serviceCentre, "+44000000000");
    EXPECT_EQ(ucs2.fields->destination.number, "+123456789");
    EXPECT_EQ(ucs2.fields->userData.textUtf8,
              "\xE4\xB8\x96\xE7\x95\x8C\xE6\x82\xA8\xE5\xA5\xBD\xEF\xBC\x81");  // 世界您好！

    // A national number (type A1) keeps no "+".
    const SubmitParse national = ParseSubmitPdu(
        "04A12143F5310D0AA110624521430000A91BD4F29C0E6A97E7F3F0B9AC03B1DFE3301BE4AEB7C565F91C");
    ASSERT_TRUE(national.fields) << national.error;
    EXPECT_EQ(national.fields->destination.number, "0126541234");
    EXPECT_EQ(national.fields->userData.textUtf8, "Test message: local numbers");
}

TEST(SubmitParser, ReadsTheSecondPartOfAConcatenatedMessage) {
    const SubmitParse part =
        ParseSubmitPdu("00618F0A91103254769800001A0500038F020268B556CC066B21CB6C3602747FCB03E410");
    ASSERT_TRUE(part.fields) << part.error;
    ASSERT_TRUE(part.fields->userData.concat);
    EXPECT_EQ(*part.fields->userData.concat, (ConcatInfo{0x8F, 2, 2}));
    EXPECT_EQ(part.fields->userData.textUtf8,
              "45-160-Hell\xC3\xB2 wor\xC2\xA3"
              "d!");
    EXPECT_EQ(part.fields->tpduLength, 35);
}

TEST(SubmitParser, RefusesBrokenPdus) {
    EXPECT_FALSE(ParseSubmitPdu("0001000B917228001011F100000DC8329BFD065DDF72363904").fields);
    EXPECT_FALSE(ParseSubmitPdu("0001000B917228001011F100000CC8329BFD065DDF7236390400").fields);
    EXPECT_FALSE(ParseSubmitPdu("0001000B917228001011F1").fields);
    EXPECT_FALSE(ParseSubmitPdu(kHeaderToPid + "00" + kTimestamp + "05E8329BFD06").fields);
    EXPECT_FALSE(ParseSubmitPdu("0001000B917228001011F100000CC8329BFD065DDF7236390").fields);
    EXPECT_EQ(ParseSubmitPdu("GG").error, "not hex text of whole octets");
}

}  // namespace
}  // namespace tidewire::sim

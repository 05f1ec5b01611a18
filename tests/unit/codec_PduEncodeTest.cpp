#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/BoundedCopy.h"
#include "codec/Pdu.h"
#include "support/TestData.h"

namespace tidewire {
namespace {

using testdata::kGbkLocale;
using testdata::kUtf8Locale;
using testdata::ScopedCtypeLocale;

PduMessage Submit(const char* smsc, const char* number, const char* text) {
    PduMessage message{};
    BoundedCopy(message.smsc, smsc);
    BoundedCopy(message.number, number);
    BoundedCopy(message.text, text);
    message.dcs = 0x08;
    return message;
}

std::string Encode(const PduMessage& message, size_t capacity = 512) {
    std::string out(capacity, 'z');
    const size_t length = EncodeSubmitPdu(message, &out[0], capacity);
    if (capacity > 0) {
        EXPECT_EQ(out[length], '\0');
    }
    return out.substr(0, length);
}

class PduEncodeTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(utf8_.Active()); }
    ScopedCtypeLocale utf8_{kUtf8Locale};
};

TEST_F(PduEncodeTest, WorkedExampleComesOutToTheByte) {
    const std::string pdu = Encode(Submit("123456", "8612345", "\xE4\xB8\xAD"));
    EXPECT_EQ(pdu, "049121436511000791682143F50008FF024E2D");
    EXPECT_EQ(SubmitTpduLength(pdu.c_str(), pdu.size()), 14);
}

TEST_F(PduEncodeTest, AddressesArePaddedOnlyWhenOdd) {
    EXPECT_EQ(Encode(Submit("1234567", "8612", "a")),
              "0591214365F7110004916821"
              "0008FF020061");
    // Without a service centre only its length and type go out, and the TPDU is the rest.
    const std::string pdu = Encode(Submit("", "8612", "a"));
    EXPECT_EQ(pdu.substr(0, 4), "0191");
    EXPECT_EQ(SubmitTpduLength(pdu.c_str(), pdu.size()), static_cast<int>(pdu.size() / 2 - 2));
}

TEST_F(PduEncodeTest, SeventyCharactersFillTheUserDataAndNoMore) {
    std::string seventy;
    for (int i = 0; i < 70; ++i) {
        seventy += "\xE4\xB8\xAD";
    }
    const std::string pdu = Encode(Submit("8613800200500", "8613912345678", seventy.c_str()));
    ASSERT_EQ(pdu.size(), 2u * (9 + 4 + 7 + 4) + 280);
    EXPECT_EQ(pdu.substr(2 * (9 + 4 + 7 + 3), 2), "8C");
    EXPECT_EQ(Encode(Submit("8613800200500", "8613912345678", (seventy + "a").c_str())), "");
}

TEST_F(PduEncodeTest, EmptyTextGivesZeroUserDataLength) {
    EXPECT_EQ(Encode(Submit("123456", "8612345", "")), "049121436511000791682143F50008FF00");
}

TEST_F(PduEncodeTest, OutputNeverPassesItsCapacity) {
    const PduMessage message = Submit("123456", "8612345", "\xE4\xB8\xAD");
    EXPECT_EQ(Encode(message, 38), "");
    EXPECT_EQ(Encode(message, 39).size(), 38u);
    EXPECT_EQ(Encode(message, 0), "");
}

TEST_F(PduEncodeTest, RefusesNumbersAndCodingsThatWouldGarbleTheMessage) {
    EXPECT_EQ(Encode(Submit("123456", "+8612345", "a")), "");
    EXPECT_EQ(Encode(Submit("+123456", "8612345", "a")), "");
    EXPECT_EQ(Encode(Submit("123456", "1234567890123456", "a")), "");
    PduMessage unterminated = Submit("", "8612345", "a");
    memset(unterminated.smsc, '1', sizeof(unterminated.smsc));
    EXPECT_EQ(Encode(unterminated), "");
    EXPECT_EQ(Encode(Submit("123456", "", "a")), "");
    PduMessage sevenBit = Submit("123456", "8612345", "a");
    sevenBit.dcs = 0x00;
    EXPECT_EQ(Encode(sevenBit), "");
    // A flash message is still UCS-2, so it is accepted as it is.
    PduMessage flash = Submit("123456", "8612345", "a");
    flash.dcs = 0x18;
    EXPECT_EQ(Encode(flash), "049121436511000791682143F50018FF020061");
}

TEST_F(PduEncodeTest, GbkHostTextIsSentAsUcs2) {
    ScopedCtypeLocale gbk(kGbkLocale);
    if (!gbk.Active()) {
        GTEST_SKIP() << "locale " << kGbkLocale << " is not installed";
    }
    EXPECT_EQ(Encode(Submit("123456", "8612345", "\xD6\xD0\xCE\xC4")),
              "049121436511000791682143F50008FF044E2D6587");
}

// Lays out a text of UTF-8 host characters for sending.
SubmitText Plan(const std::u16string& text, SubmitCoding coding, size_t mostParts, bool* fits) {
    SubmitText plan;
    *fits = PlanSubmitText(text.data(), text.size(), coding, mostParts, plan);
    return plan;
}

std::vector<size_t> PartEnds(const SubmitText& plan) {
    return std::vector<size_t>(plan.partEnd, plan.partEnd + plan.partCount);
}

TEST(PlanSubmitTextTest, PartsHoldWhatTheyMayAndNeverSplitAPair) {
    bool fits = false;
    // One 7-bit message holds 160 septets, é and € among them (€ takes two: escape and code).
    SubmitText plan =
        Plan(std::u16string(158, u'\u00E9') + u"\u20AC", SubmitCoding::Gsm7WhereItFits, 4, &fits);
    EXPECT_TRUE(fits && plan.gsm7);
    EXPECT_EQ(PartEnds(plan), std::vector<size_t>{160});
    // Parts hold 153 septets, one less where an escape would be cut from its code.
    plan = Plan(std::u16string(152, u'a') + u"\u20AC" + std::u16string(10, u'b'),
                SubmitCoding::Gsm7WhereItFits, 4, &fits);
    EXPECT_TRUE(fits && plan.gsm7);
    EXPECT_EQ(PartEnds(plan), (std::vector<size_t>{152, 164}));
    // A character outside the alphabet makes the whole text UCS-2: 70 units in one message,
    // 67 a part, one less where a surrogate pair would be cut.
    plan = Plan(u"`" + std::u16string(69, u'a'), SubmitCoding::Gsm7WhereItFits, 4, &fits);
    EXPECT_TRUE(fits && !plan.gsm7);
    EXPECT_EQ(PartEnds(plan), std::vector<size_t>{140});
    plan = Plan(std::u16string(66, u'\u4E2D') + u"\U0001F600" + u"abcde", SubmitCoding::Ucs2, 4,
                &fits);
    EXPECT_TRUE(fits && !plan.gsm7);
    EXPECT_EQ(PartEnds(plan), (std::vector<size_t>{132, 146}));
    // What does not fit the parts allowed is refused.
    Plan(std::u16string(71, u'\u4E2D'), SubmitCoding::Ucs2, 1, &fits);
    EXPECT_FALSE(fits);
    Plan(std::u16string(), SubmitCoding::Ucs2, 1, &fits);
    EXPECT_FALSE(fits);
}

TEST(SubmitTpduLengthTest, RefusesTextsWithoutATpdu) {
    EXPECT_EQ(SubmitTpduLength("", 0), 0);
    EXPECT_EQ(SubmitTpduLength("0", 1), 0);
    EXPECT_EQ(SubmitTpduLength("ZZ11", 4), 0);
    EXPECT_EQ(SubmitTpduLength("049121", 6), 0);  // service centre longer than the text
    EXPECT_EQ(SubmitTpduLength("0011000", 7), 0);
    EXPECT_EQ(SubmitTpduLength("001100", 6), 2);
    EXPECT_EQ(SubmitTpduLength(nullptr, 10), 0);
}

}  // namespace
}  // namespace tidewire

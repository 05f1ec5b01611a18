// Sending on the CDMA families 860 and 865: the whole message as hex on one command line, and
// the acknowledgement words of each family, however the module's answer is split. Last, what
// every family does with a text that does not convert from the host's code page.
#include <gtest/gtest.h>

#include <string>

#include "dialogue/dialogue_fixture.h"
#include "support/TestData.h"

namespace tidewire {
namespace dialogue {
namespace {

constexpr const char* kChineseZhong = "\xE4\xB8\xAD";  // U+4E2D in the UTF-8 host

std::string Repeated(const std::string& piece, int count) {
    std::string all;
    for (int i = 0; i < count; ++i) {
        all += piece;
    }
    return all;
}

class CdmaSendTest : public FamilyTest {
  protected:
    bool SendOn(int32_t family, const std::string& text, TextKind kind, const Strings& answer,
                const char* number = "13912345678") {
        ReplaceModem();
        OpenPort(family);
        ClearLog();
        modem_->OnWrite("at$smsmo", answer);
        NumberBuffer buffer(number);
        const bool sent = Send(kind, text, buffer.digits);
        EXPECT_STREQ(buffer.digits, number) << "the number is only read";
        return sent;
    }

    std::string Command() const { return modem_->Writes().at(0); }
};

TEST_F(CdmaSendTest, Type865SendsOneCommandLineWithTheNumberTwiceAndHexText) {
    EXPECT_TRUE(
        SendOn(kModule865, "abc", TextKind::SingleByte, {"\r\n$006\r\n"}, "+8613912345678"));
    EXPECT_EQ(modem_->Events().at(0), "purge-in");
    EXPECT_EQ(modem_->Events().at(1), "purge-out");
    EXPECT_EQ(modem_->Writes(),
              Strings{"at$smsmo=+8613912345678,+8613912345678,4098,2,0,0,616263\r"});
    EXPECT_EQ(Sleeps(), Repeat(300, 1));
}

TEST_F(CdmaSendTest, Type860UsesItsOwnCommandAndWords) {
    EXPECT_TRUE(SendOn(kModule860, "abc", TextKind::SingleByte, {"\r\n$SMSMOACK\r\n"}));
    EXPECT_EQ(Command(), "at$smsmo0=13912345678,13912345678,4098,2,0,0,616263\r");
    EXPECT_TRUE(SendOn(kModule860, "abc", TextKind::SingleByte, {"\r\n$smsmoack\r\n"}))
        << "read in any letter case";
    EXPECT_FALSE(SendOn(kModule860, "abc", TextKind::SingleByte, {"\r\n$SMSMONAK\r\n"}));
    EXPECT_EQ(PollsAfter(Command()), 1u);
    EXPECT_TRUE(SendOn(kModule860, "abc", TextKind::SingleByte, {"\r\n$SMSMO", "", "ACK\r\n"}));
    EXPECT_EQ(PollsAfter(Command()), 3u);
}

TEST_F(CdmaSendTest, MultiByteTextGoesAsFourHexDigitsPerCharacter) {
    EXPECT_TRUE(SendOn(kModule865, kChineseZhong, TextKind::MultiByte, {"$006"}));
    EXPECT_EQ(Command(), "at$smsmo=13912345678,13912345678,4098,4,0,0,4E2D\r");
    EXPECT_TRUE(SendOn(kModule865, "ab", TextKind::MultiByte, {"$006"}));
    EXPECT_EQ(Command(), "at$smsmo=13912345678,13912345678,4098,4,0,0,00610062\r");
}

TEST_F(CdmaSendTest, Type865AcknowledgementSplitAfterItsFirstTwoCharactersIsAwaited) {
    EXPECT_TRUE(SendOn(kModule865, "abc", TextKind::SingleByte, {"\r\n$0", "06\r\n"}));
    EXPECT_EQ(PollsAfter(Command()), 2u);
    EXPECT_TRUE(SendOn(kModule865, "abc", TextKind::SingleByte, {"\r\n$0", "", "0", "6\r\n"}));
    EXPECT_EQ(PollsAfter(Command()), 4u);
}

TEST_F(CdmaSendTest, Type865RefusalIsTheShortWordThatCannotBecomeTheLongOne) {
    EXPECT_FALSE(SendOn(kModule865, "abc", TextKind::SingleByte, {"\r\n$0", "07\r\n"}));
    EXPECT_EQ(PollsAfter(Command()), 2u);
    EXPECT_FALSE(SendOn(kModule865, "abc", TextKind::SingleByte, {"\r\n$0\r\n"}));
    EXPECT_EQ(PollsAfter(Command()), 1u);
    EXPECT_TRUE(SendOn(kModule865, "abc", TextKind::SingleByte, {"\r\n$0\r\n$006\r\n"}))
        << "success is tested first";
}

TEST_F(CdmaSendTest, SilentModuleIsGivenFiftyTwoPolls) {
    MarkLastError();
    EXPECT_FALSE(SendOn(kModule865, "abc", TextKind::SingleByte, {}));
    EXPECT_EQ(PollsAfter(Command()), 52u);
    EXPECT_EQ(Sleeps(), Repeat(300, 52));
    EXPECT_EQ(LastError(), kMarker);
}

TEST_F(CdmaSendTest, TextsUpTo140BytesGoAndLongerOnesAreRefusedWhateverTheEncoding) {
    EXPECT_TRUE(SendOn(kModule865, std::string(140, 'a'), TextKind::SingleByte, {"$006"}));
    EXPECT_EQ(Command(),
              "at$smsmo=13912345678,13912345678,4098,2,0,0," + Repeated("61", 140) + "\r");

    const std::string chinese = Repeated(kChineseZhong, 47);  // 141 bytes
    for (const auto& [text, kind] :
         {std::pair<std::string, TextKind>{std::string(141, 'a'), TextKind::SingleByte},
          {chinese, TextKind::MultiByte}}) {
        EXPECT_FALSE(SendOn(kModule865, text, kind, {"$006"}));
        EXPECT_EQ(LastError(), "英文短信，长度不能大于140");
        EXPECT_TRUE(modem_->Events().empty());
    }
}

TEST_F(CdmaSendTest, MultiByteTextOfMoreThan70CharactersIsRefused) {
    const std::string seventy = std::string(kChineseZhong) + std::string(69, 'a');
    EXPECT_TRUE(SendOn(kModule860, seventy, TextKind::MultiByte, {"$SMSMOACK"}));
    EXPECT_EQ(Command(),
              "at$smsmo0=13912345678,13912345678,4098,4,0,0,4E2D" + Repeated("0061", 69) + "\r");

    EXPECT_FALSE(SendOn(kModule860, std::string(71, 'a'), TextKind::MultiByte, {"$SMSMOACK"}));
    EXPECT_EQ(LastError(), "中文短信长度不能大于70");
    EXPECT_TRUE(modem_->Writes().empty());
}

// Bytes that form no character of the host's code page (invalid UTF-8; a GBK lead byte without
// its trail) would go out raw, or as an empty message, and be reported sent. They fail the
// message on every family before anything is written.
TEST_F(FamilyTest, TextThatDoesNotConvertFailsOnEveryFamily) {
    const std::pair<const char*, const char*> cases[] = {{testdata::kUtf8Locale, "\xFF\xFE\x80"},
                                                         {testdata::kGbkLocale, "\x81"}};
    for (const auto& [locale, text] : cases) {
        testdata::ScopedCtypeLocale host(locale);
        if (!host.Active()) {
            GTEST_SKIP() << "locale " << locale << " is not installed";
        }
        for (const int32_t family : {kModuleGsm, kModule870, kModule865, kModule860}) {
            SCOPED_TRACE(std::string(locale) + " on " + std::to_string(family));
            ReplaceModem();
            OpenPort(family);
            ScriptGsmModule(*modem_);
            NumberBuffer number("13912345678");
            EXPECT_FALSE(Send(KindOfText(text), text, number.digits));
            EXPECT_EQ(LastError(), "中文短信长度不能大于70");
            EXPECT_TRUE(modem_->Writes().empty());
        }
    }
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

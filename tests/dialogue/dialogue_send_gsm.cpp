// Sending on GSM modules: single-byte text in text mode, everything else as a UCS-2 SMS-SUBMIT
// in PDU mode. The bytes the module receives, the waits of each phase and the verdicts.
#include <gtest/gtest.h>

#include <string>

#include "dialogue/dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

constexpr const char* kChineseZhong = "\xE4\xB8\xAD";  // U+4E2D in the UTF-8 host

// The module repeats whatever it was sent, then adds its answer.
ScriptedSerialDevice::Responder EchoThen(const Strings& answer) {
    return [answer](const std::string& written, ScriptedSerialDevice& line) {
        Strings polls = answer;
        if (polls.empty()) {
            polls.push_back(written);
        } else {
            polls.front() = written + polls.front();
        }
        line.Arrive(polls);
    };
}

class GsmSendTest : public FamilyTest {
  protected:
    GsmSendTest() {
        OpenPort(kModuleGsm);
        SetServiceCentre("123456");
    }

    // A module that takes the mode, prompts after echoing the command, and answers the body
    // with the given polls. Rules added before this one take precedence.
    void ScriptSend(const Strings& verdict = {"\r\n+CMGS: 9\r\n\r\nOK\r\n"}) {
        modem_->OnWrite("AT+CMGF=", Strings{"\r\nOK\r\n"});
        modem_->OnWrite("AT+CMGS=", EchoThen({"\r\n> "}));
        modem_->OnWrite("\x1A", verdict);
    }

    bool SendText(const std::string& text, const char* number = "13912345678") {
        NumberBuffer buffer(number);
        return Send(TextKind::SingleByte, text, buffer.digits);
    }

    bool SendPdu(const std::string& text, NumberBuffer& buffer) {
        return Send(TextKind::MultiByte, text, buffer.digits);
    }

    bool SendPdu(const std::string& text, const char* number = "8612345") {
        NumberBuffer buffer(number);
        return SendPdu(text, buffer);
    }

    // Before every command and body the module's leftovers are purged, input first.
    void ExpectPurgedBeforeEveryWrite() {
        const Strings events = modem_->Events();
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i].rfind("write:", 0) == 0) {
                ASSERT_GE(i, 2u);
                EXPECT_EQ(events[i - 2], "purge-in") << events[i];
                EXPECT_EQ(events[i - 1], "purge-out") << events[i];
            }
        }
    }

    // The PDU text of the last body written, without its Ctrl-Z and CR.
    std::string WrittenPdu() {
        const std::string body = modem_->Writes().back();
        return body.substr(0, body.find('\x1A'));
    }
};

// --- Text mode
// ------------------------------------------------------------------------------------

TEST_F(GsmSendTest, TextModeWritesModeNumberAndTextEndingInCtrlZWithoutCr) {
    ScriptSend();
    NumberBuffer number("13912345678");
    EXPECT_TRUE(Send(TextKind::SingleByte, "Hello", number.digits));
    EXPECT_EQ(modem_->Writes(), (Strings{"AT+CMGF=1\r", "AT+CMGS=\"13912345678\"\r", "Hello\x1A"}));
    ExpectPurgedBeforeEveryWrite();
    EXPECT_STREQ(number.digits, "13912345678") << "text mode sends the number as it is";
    EXPECT_EQ(Sleeps(), (Intervals{200, 200, 300}));
}

TEST_F(GsmSendTest, TextModeTakes140BytesAndRefuses141) {
    ScriptSend();
    EXPECT_TRUE(SendText(std::string(140, 'a')));
    EXPECT_EQ(modem_->Writes().back(), std::string(140, 'a') + "\x1A");

    ClearLog();
    MarkLastError();
    EXPECT_FALSE(SendText(std::string(141, 'a')));
    EXPECT_EQ(LastError(), "英文短信，长度不能大于140");
    EXPECT_TRUE(modem_->Events().empty());
}

TEST_F(GsmSendTest, TextModeRefusedByTheModule) {
    modem_->OnWrite("AT+CMGF=1\r", Strings{"\r\nERROR\r\n"});
    ScriptSend();
    EXPECT_FALSE(SendText("Hello"));
    EXPECT_EQ(LastError(), "以英文发送时，AT+CMGF=1设置失败");
    EXPECT_EQ(modem_->Writes(), Strings{"AT+CMGF=1\r"});
}

TEST_F(GsmSendTest, TextModePromptIsAwaitedSeventeenPollsOf200Ms) {
    modem_->OnWrite("AT+CMGS=", Strings{});
    ScriptSend();
    MarkLastError();
    EXPECT_FALSE(SendText("Hello"));
    EXPECT_EQ(PollsAfter("AT+CMGS=\"13912345678\"\r"), 17u);
    EXPECT_EQ(Sleeps(), Concat({Repeat(200, 1), Repeat(200, 17)}));
    EXPECT_EQ(modem_->Writes().size(), 2u) << "no body without a prompt";
    EXPECT_EQ(LastError(), kMarker);
}

TEST_F(GsmSendTest, TextModePromptInTheLastPollStillLetsTheBodyGo) {
    Strings late = Silence(16);
    late.push_back("\r\n> ");
    modem_->OnWrite("AT+CMGS=", late);
    ScriptSend();
    EXPECT_TRUE(SendText("Hello"));
    EXPECT_EQ(PollsAfter("AT+CMGS=\"13912345678\"\r"), 17u);
}

TEST_F(GsmSendTest, ErrorInsteadOfThePromptFailsWithoutBody) {
    modem_->OnWrite("AT+CMGS=", EchoThen({"\r\n+CMS ERROR: 330\r\n"}));
    ScriptSend();
    EXPECT_FALSE(SendText("Hello"));
    EXPECT_EQ(PollsAfter("AT+CMGS=\"13912345678\"\r"), 1u);
    EXPECT_EQ(modem_->Writes().size(), 2u);
}

TEST_F(GsmSendTest, TextModeVerdictNeedsCmgsAndOk) {
    ScriptSend({"\r\n+CMGS: 9\r\n", "", "\r\nOK\r\n"});
    EXPECT_TRUE(SendText("Hello"));
    EXPECT_EQ(PollsAfter("Hello\x1A"), 3u) << "+CMGS alone is not yet a verdict";
}

TEST_F(GsmSendTest, TextModeVerdictFailures) {
    const Strings verdicts[] = {
        {"\r\nOK\r\n"},               // a bare OK
        {"\r\nERROR\r\n"},            //
        {"\r\n+CMS ERROR: 500\r\n"},  //
    };
    for (const Strings& verdict : verdicts) {
        SCOPED_TRACE(verdict[0]);
        ReplaceModem();
        OpenPort(kModuleGsm);
        ScriptSend(verdict);
        MarkLastError();
        EXPECT_FALSE(SendText("Hello"));
        EXPECT_EQ(PollsAfter("Hello\x1A"), 1u);
        EXPECT_EQ(LastError(), kMarker);
    }
}

TEST_F(GsmSendTest, TextModeVerdictIsAwaitedFortyTwoPollsOf300Ms) {
    ScriptSend({});
    EXPECT_FALSE(SendText("Hello"));
    EXPECT_EQ(PollsAfter("Hello\x1A"), 42u);
    EXPECT_EQ(Sleeps(), Concat({Repeat(200, 2), Repeat(300, 42)}));
}

TEST_F(GsmSendTest, EchoedTextThatSpellsATokenDecidesNothing) {
    for (const std::string text : {"ok", "Book", "error", "OK\r\nERROR", "+CMGS: 1\r\nOK"}) {
        SCOPED_TRACE(text);
        ReplaceModem();
        OpenPort(kModuleGsm);
        modem_->OnWrite("\x1A", EchoThen({"\r\n+CMGS: 12\r\n\r\nOK\r\n"}));
        ScriptSend();
        EXPECT_TRUE(SendText(text));

        // The echo alone, then silence: no verdict until the limit.
        ReplaceModem();
        OpenPort(kModuleGsm);
        modem_->OnWrite("\x1A", EchoThen({}));
        ScriptSend();
        EXPECT_FALSE(SendText(text));
        EXPECT_EQ(PollsAfter(text + "\x1A"), 42u);
    }
}

TEST_F(GsmSendTest, EchoArrivingOverSeveralPollsIsStillSkipped) {
    ScriptSend({"bo", "ok\x1A\r\n", "+CMGS: 3\r\n\r\nOK\r\n"});
    EXPECT_TRUE(SendText("book"));
    EXPECT_EQ(PollsAfter("book\x1A"), 3u);
}

// The echo is recognised behind a new-message indication too. Were it hidden by a +CMTI just
// before it, an echoed text beginning with "Error" would be read as the module's refusal: a
// confirmed message reported failed, and delivered twice by a host that sends it again.
TEST_F(GsmSendTest, UnsolicitedLineBeforeTheEchoDoesNotLetTheEchoDecide) {
    ScriptSend({"\r\n+CMTI: \"SM\",3\r\nError 42\x1A", "\r\n+CMGS: 7\r\n\r\nOK\r\n"});
    EXPECT_TRUE(SendText("Error 42"));
    EXPECT_EQ(PollsAfter("Error 42\x1A"), 2u);
}

// --- PDU mode
// -------------------------------------------------------------------------------------

TEST_F(GsmSendTest, PduModeSendsTheWorkedExample) {
    ScriptSend({"\r\n+CMGS: 9\r\n"});
    EXPECT_TRUE(SendPdu(kChineseZhong));
    EXPECT_EQ(modem_->Writes(), (Strings{"AT+CMGF=0\r", "AT+CMGS=14\r",
                                         "049121436511000791682143F50008FF024E2D\x1A\r"}));
    ExpectPurgedBeforeEveryWrite();
    EXPECT_EQ(Sleeps(), (Intervals{200, 300, 300})) << "PDU mode ends at +CMGS without OK";
}

TEST_F(GsmSendTest, StatusLinesAroundThePromptAndTheVerdictAreIgnored) {
    // What a ZTE module sends around AT+CMGS while it reports its network state.
    modem_->OnWrite("AT+CMGS=", Strings{"+ZDONR: \"METEOR\",272,3,\"CS_ONLY\",\"ROAM_OFF\"\r\n"
                                        "+ZPASR: \"UMTS\"\r\n> \r\n"});
    ScriptSend(
        {"+ZDONR: \"METEOR\",272,3,\"CS_ONLY\",\"ROAM_OFF\"\r\n+ZPASR: \"UMTS\"\r\n"
         "+ZDONR: \"METEOR\",272,3,\"CS_PS\",\"ROAM_OFF\"\r\n+ZPASR: \"UMTS\"\r\n",
         "+CMGS: 12\r\nOK\r\n"});
    EXPECT_TRUE(SendPdu(kChineseZhong));
    EXPECT_EQ(PollsAfter("049121436511000791682143F50008FF024E2D\x1A\r"), 2u);
    EXPECT_TRUE(SendText("Hello"));
    EXPECT_EQ(PollsAfter("Hello\x1A"), 2u);
}

TEST_F(GsmSendTest, PduModePutsCountryCodeBeforeNationalNumbersOnly) {
    ScriptSend();
    struct Case {
        const char* given;
        const char* reported;     // the number buffer afterwards, for the worker's report
        const char* destination;  // the destination field of the SUBMIT
    };
    const Case numbers[] = {
        {"13912345678", "8613912345678", "0D91683119325476F8"},
        {"8613912345678", "8613912345678", "0D91683119325476F8"},
        {"+8613912345678", "+8613912345678", "0D91683119325476F8"},
        // A number written with "+" carries its own country code: no 86 goes in.
        {"+4915112345678", "+4915112345678", "0D91945111325476F8"},
    };
    for (const Case& number : numbers) {
        SCOPED_TRACE(number.given);
        NumberBuffer buffer(number.given);
        EXPECT_TRUE(SendPdu(kChineseZhong, buffer));
        EXPECT_STREQ(buffer.digits, number.reported);
        EXPECT_EQ(WrittenPdu(),
                  std::string("04912143651100") + number.destination + "0008FF024E2D");
    }
}

TEST_F(GsmSendTest, PduModeServiceCentreIsWrittenWithoutItsPlus) {
    ScriptSend();
    SetServiceCentre("+8613800100500");
    EXPECT_TRUE(SendPdu(kChineseZhong));
    EXPECT_EQ(WrittenPdu().substr(0, 18), "0891683108100005F0");
    EXPECT_EQ(modem_->Writes()[1], "AT+CMGS=14\r") << "the service centre is not counted";

    SetServiceCentre("+447785016005");
    EXPECT_TRUE(SendPdu(kChineseZhong));
    EXPECT_EQ(WrittenPdu().substr(0, 16), "0791447758100650");
}

TEST_F(GsmSendTest, PduModeRefusesAServiceCentreThatIsNoNumber) {
    ScriptSend();
    for (const char* centre : {"12a4", "card", "+86+138"}) {
        SCOPED_TRACE(centre);
        ClearLog();
        SetServiceCentre(centre);
        EXPECT_FALSE(SendPdu(kChineseZhong));
        EXPECT_EQ(LastError(), "短信中心号码格式错误");
        EXPECT_TRUE(WritesStartingWith("AT+CMGS").empty());
    }
}

TEST_F(GsmSendTest, PduModeRefusesDestinationsOverFifteenDigits) {
    ScriptSend();
    EXPECT_TRUE(SendPdu(kChineseZhong, "1391234567890")) << "86 and 13 digits make 15";
    for (const char* number : {"13912345678901", "8613912345678901", "+1391234567890123",
                               "123456789012345678901234567890"}) {
        SCOPED_TRACE(number);
        ClearLog();
        EXPECT_FALSE(SendPdu(kChineseZhong, number));
        EXPECT_EQ(LastError(), "发送的手机号码过长");
        EXPECT_TRUE(WritesStartingWith("AT+CMGS").empty());
    }
}

TEST_F(GsmSendTest, PduModeTakes70CharactersAndRefuses71) {
    ScriptSend();
    std::string seventy;
    for (int i = 0; i < 70; ++i) {
        seventy += kChineseZhong;
    }
    EXPECT_TRUE(SendPdu(seventy));
    EXPECT_EQ(modem_->Writes()[1], "AT+CMGS=152\r");
    EXPECT_EQ(WrittenPdu().substr(32, 2), "8C") << "140 octets of user data";

    ClearLog();
    EXPECT_TRUE(SendPdu(std::string(kChineseZhong) + std::string(69, 'a')))
        << "an ASCII letter is one character";

    ClearLog();
    EXPECT_FALSE(SendPdu(seventy + "a"));
    EXPECT_EQ(LastError(), "中文短信长度不能大于70");
    EXPECT_TRUE(modem_->Events().empty());
}

TEST_F(GsmSendTest, PduModeRefusedByTheModule) {
    modem_->OnWrite("AT+CMGF=0\r", Strings{"\r\nERROR\r\n"});
    ScriptSend();
    EXPECT_FALSE(SendPdu(kChineseZhong));
    EXPECT_EQ(LastError(), "以中文发送时，AT+CMGF=0设置失败");
    EXPECT_EQ(modem_->Writes(), Strings{"AT+CMGF=0\r"});
}

TEST_F(GsmSendTest, PduModePromptIsAwaitedTwelvePollsOf300Ms) {
    modem_->OnWrite("AT+CMGS=", Strings{});
    ScriptSend();
    EXPECT_FALSE(SendPdu(kChineseZhong));
    EXPECT_EQ(PollsAfter("AT+CMGS=14\r"), 12u);
    EXPECT_EQ(Sleeps(), Concat({Repeat(200, 1), Repeat(300, 12)}));
    EXPECT_EQ(modem_->Writes().size(), 2u);
}

TEST_F(GsmSendTest, PduModeVerdicts) {
    struct Case {
        Strings polls;
        bool sent;
        size_t pollsMade;
    };
    const Case cases[] = {
        {{"\r\n+CM", "GS: 4\r\n"}, true, 2},
        {{"\r\nOK\r\n"}, false, 1},
        {{"\r\nERROR\r\n"}, false, 1},
        {{"\r\n+CMS ERROR: 304\r\n"}, false, 1},
        {{}, false, 52},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pollsMade);
        ReplaceModem();
        OpenPort(kModuleGsm);
        ClearLog();
        ScriptSend(c.polls);
        MarkLastError();
        EXPECT_EQ(SendPdu(kChineseZhong), c.sent);
        EXPECT_EQ(PollsAfter("049121436511000791682143F50008FF024E2D\x1A\r"), c.pollsMade);
        EXPECT_EQ(LastError(), kMarker);
    }
    EXPECT_EQ(Sleeps(), Concat({Repeat(200, 1), Repeat(300, 1), Repeat(300, 52)}))
        << "the silent module of the last case";
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

// The simulated module as a host sees it: bytes written, bytes answered.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "ControlConsole.h"
#include "DeliverPdu.h"
#include "ModemEngine.h"
#include "StatusReportPdu.h"

namespace tidewire::sim {
namespace {

const std::string kOk = "\r\nOK\r\n";

// A message from +8613912345678 through +8613800100500, 2024-05-12 10:23:45 UTC+8.
IncomingMessage Incoming(std::string text) {
    IncomingMessage message;
    message.sender = "+8613912345678";
    message.textUtf8 = std::move(text);
    message.timestamp = Timestamp{2024, 5, 12, 10, 23, 45, 32};
    return message;
}

// UCS-2 SUBMIT of 中文 to +8613912345678 through +8613800100500, relative validity.
const std::string kSubmitPdu = "0891683108100005F011000D91683119325476F80008FF044E2D6587";
const int kSubmitTpduLength = 19;
// The same with TP-SRR set in the first octet (0x31): it asks for a status report.
const std::string kSubmitPduWithReport = "0891683108100005F031000D91683119325476F80008FF044E2D6587";

class GsmModule : public ::testing::Test {
  protected:
    explicit GsmModule(ModemConfig config = {}) : modem(config) {}

    std::string Send(const std::string& bytes) { return modem.Feed(bytes); }

    // A command with echo off: only the module's answer comes back.
    std::string Ask(const std::string& command) {
        modem.SetNoEcho(true);
        const std::string answer = modem.Feed(command + "\r");
        modem.SetNoEcho(false);
        return answer;
    }

    // One PDU-mode send, answered "+CMGS: <mr>" and OK.
    std::string SendPdu(const std::string& pdu) {
        Ask("AT+CMGS=" + std::to_string(kSubmitTpduLength));
        modem.SetNoEcho(true);
        const std::string answer = modem.Feed(pdu + "\x1A");
        modem.SetNoEcho(false);
        return answer;
    }

    ModemEngine modem;
};

TEST_F(GsmModule, EchoesTheCommandThenAnswersOk) {
    EXPECT_EQ(Send("AT\r"), "AT\r" + kOk);
}

TEST_F(GsmModule, AnswersTheSameWhetherBytesComeOneByOneOrTogether) {
    std::string answer;
    for (const char c : std::string("AT+CMGF?\r")) {
        answer += Send(std::string(1, c));
    }
    EXPECT_EQ(answer, "AT+CMGF?\r\r\n+CMGF: 0\r\n" + kOk);
}

TEST_F(GsmModule, EchoOffAfterAte0AndBackOnAfterAte1) {
    EXPECT_EQ(Send("ATE0\r"), "ATE0\r" + kOk);
    EXPECT_EQ(Send("AT\r"), kOk);
    EXPECT_EQ(Send("ATE1\r"), kOk);
    EXPECT_EQ(Send("AT\r"), "AT\r" + kOk);
}

TEST_F(GsmModule, AcceptsLowerCaseCommandsAndLineFeedEndings) {
    EXPECT_EQ(Ask("at+cmgf=1"), kOk);
    // CR LF gives one answer; a bare LF ends a line as CR does.
    EXPECT_EQ(Send("AT\r\n"), "AT\r" + kOk);
    EXPECT_EQ(Send("AT+CMGF?\n"), "AT+CMGF?\n\r\n+CMGF: 1\r\n" + kOk);
}

TEST_F(GsmModule, BackspaceRemovesTheLastCharacter) {
    EXPECT_EQ(Send("AT+CMGF=9\b0\r"), "AT+CMGF=9\b0\r" + kOk);
    EXPECT_EQ(Ask("AT+CMGF?"), "\r\n+CMGF: 0\r\n" + kOk);
}

TEST_F(GsmModule, UnknownCommandsAreErrorsAndNoiseIsIgnored) {
    EXPECT_EQ(Ask("AT+MODE=2"), "\r\nERROR\r\n");
    EXPECT_EQ(Ask("AT+CMGF"), kOk);  // execute form resets to PDU mode
    EXPECT_EQ(Ask("hello"), "");
    EXPECT_EQ(Send("\x1B\r"), "\r");  // hosts send ESC first; an empty line has no answer
    EXPECT_EQ(modem.CommandLog(), (std::vector<std::string>{"AT+MODE=2", "AT+CMGF", "hello"}));
}

TEST_F(GsmModule, ChainedCommandsShareOneResultCode) {
    EXPECT_EQ(Ask("AT+CMGF=1;+CMGF?;E0"), "\r\n+CMGF: 1\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CMGF=0;+CNOPE;+CMGF=1"), "\r\nERROR\r\n");
    EXPECT_EQ(Ask("AT+CMGF?"), "\r\n+CMGF: 0\r\n" + kOk);
}

TEST_F(GsmModule, IdentifiesItself) {
    EXPECT_EQ(Ask("AT+CGMI"), "\r\nTIDEWIRE\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CGSN"), "\r\n861234567890127\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CIMI"), "\r\n460001234567890\r\n" + kOk);
    EXPECT_EQ(Ask("AT+GMM"), Ask("AT+CGMM"));
}

TEST_F(GsmModule, ReportsTheSimAndFollowsTheErrorMode) {
    EXPECT_EQ(Ask("AT+CPIN?"), "\r\n+CPIN: READY\r\n" + kOk);
    modem.SetSimPresent(false);
    EXPECT_EQ(Ask("AT+CPIN?"), "\r\n+CME ERROR: 10\r\n");
    EXPECT_EQ(Ask("AT+CMEE=2"), kOk);
    EXPECT_EQ(Ask("AT+CPIN?"), "\r\n+CME ERROR: SIM not inserted\r\n");
    EXPECT_EQ(Ask("AT+CMEE=0"), kOk);
    EXPECT_EQ(Ask("AT+CPIN?"), "\r\nERROR\r\n");
    EXPECT_EQ(Ask("AT+CMGL=4"), "\r\n+CMS ERROR: 310\r\n");
    EXPECT_FALSE(modem.Inject(Incoming("lost")).stored);
}

// The family rule a host applies to the upper-cased answer to AT+GMM.
int FamilyOfModelAnswer(const std::string& answer) {
    if (answer.find("MODEL 100") != std::string::npos) {
        return 860;
    }
    if (answer.find("199") != std::string::npos) {
        return answer.find("MODEL 199") != std::string::npos ? 865 : 870;
    }
    return 666;
}

TEST(ModemFamilies, EachAnswersAtGmmSoThatItIsRecognised) {
    for (const int family : {666, 870, 860, 865}) {
        ModemConfig config;
        config.family = family;
        ModemEngine modem(config);
        const std::string answer = modem.Feed("AT+GMM\r");
        EXPECT_NE(answer.find(kOk), std::string::npos) << family;
        EXPECT_EQ(FamilyOfModelAnswer(answer), family) << answer;
        EXPECT_EQ(modem.Feed("AT\r"), "AT\r" + kOk);
    }
    EXPECT_THROW(ModemEngine(ModemConfig{123, 1, 30, true, true, ""}), std::invalid_argument);
}

TEST(ModemFamilies, CdmaFamiliesAcceptTheirInitialisation) {
    ModemConfig config;
    config.echo = false;
    config.family = 870;
    ModemEngine m870(config);
    EXPECT_EQ(m870.Feed("AT+CPIN?\r"), "\r\n+CPIN: READY\r\n" + kOk);
    EXPECT_EQ(m870.Feed("AT+CNMI=2,1,0,0,0\r"), kOk);
    EXPECT_EQ(m870.Feed("AT+CPMS=MT\r"), "\r\n+CPMS: 0,30,0,30,0,30\r\n" + kOk);

    config.family = 860;
    ModemEngine m860(config);
    EXPECT_EQ(m860.Feed("at$smstype=1\r"), kOk);
    EXPECT_EQ(m860.Feed("at$mtrpttype=0\r"), kOk);
    EXPECT_EQ(m860.Feed("at$smstype=7\r"), "\r\nERROR\r\n");

    config.family = 865;
    ModemEngine m865(config);
    EXPECT_EQ(m865.Feed("at$smstype=1\r"), "\r\nERROR\r\n");
    EXPECT_EQ(m865.Feed("AT+CMGF=0\r"), "\r\nERROR\r\n");
}

TEST_F(GsmModule, TextModeSendIsRecordedWithNumberAndText) {
    EXPECT_EQ(Send("AT+CMGF=1\r"), "AT+CMGF=1\r" + kOk);
    EXPECT_EQ(Send("AT+CMGS=\"13800138000\"\r"), "AT+CMGS=\"13800138000\"\r\r\n> ");
    // The body is echoed; no CR follows the Ctrl-Z.
    EXPECT_EQ(Send("Hello, ok?\x1A"), "Hello, ok?\r\n+CMGS: 1\r\n" + kOk);
    const auto sent = modem.SentMessages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].destination, "13800138000");
    EXPECT_EQ(sent[0].textUtf8, "Hello, ok?");
    EXPECT_FALSE(sent[0].pduMode);
    EXPECT_EQ(sent[0].messageReference, 1);
}

TEST_F(GsmModule, TextModeLineBreakAsksForTheNextLineAndEscCancels) {
    Ask("AT+CMGF=1");
    EXPECT_EQ(Ask("AT+CMGS=\"+8613912345678\""), "\r\n> ");
    EXPECT_EQ(Send("one\rtwo"), "one\r\n> two");
    EXPECT_EQ(Send("\x1B"), kOk);
    EXPECT_TRUE(modem.SentMessages().empty());

    Ask("AT+CMGS=\"+8613912345678\"");
    Send("one\rtwo\x1A");
    ASSERT_EQ(modem.SentMessages().size(), 1u);
    EXPECT_EQ(modem.SentMessages()[0].textUtf8, "one\rtwo");
}

TEST_F(GsmModule, TextModeRefusesBadNumbersAndOverlongTexts) {
    Ask("AT+CMGF=1");
    EXPECT_EQ(Ask("AT+CMGS=13800138000"), "\r\n+CMS ERROR: 305\r\n");  // not quoted
    EXPECT_EQ(Ask("AT+CMGS=\"138-0013\""), "\r\n+CMS ERROR: 305\r\n");
    Ask("AT+CMGS=\"13800138000\"");
    EXPECT_EQ(Send(std::string(160, 'x') + "\x1A"),
              std::string(160, 'x') + "\r\n+CMGS: 1\r\n" + kOk);
    Ask("AT+CMGS=\"13800138000\"");
    EXPECT_EQ(Send(std::string(161, 'x') + "\x1A"),
              std::string(161, 'x') + "\r\n+CMS ERROR: 305\r\n");
    EXPECT_EQ(modem.SentMessages().size(), 1u);
}

TEST_F(GsmModule, PduModeSendIsRecordedWithTheDecodedText) {
    EXPECT_EQ(Ask("AT+CMGS=" + std::to_string(kSubmitTpduLength)), "\r\n> ");
    // Hosts often write a CR after the Ctrl-Z; it is an empty line, answered by nothing.
    EXPECT_EQ(Send(kSubmitPdu + "\x1A\r"), kSubmitPdu + "\r\n+CMGS: 1\r\n" + kOk + "\r");
    const auto sent = modem.SentMessages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].destination, "+8613912345678");
    EXPECT_EQ(sent[0].textUtf8, "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(sent[0].rawPdu, kSubmitPdu);
    EXPECT_TRUE(sent[0].pduMode);
    EXPECT_FALSE(sent[0].concat);
}

TEST_F(GsmModule, PduModeRefusesALengthThatDoesNotMatchThePdu) {
    Ask("AT+CMGS=" + std::to_string(kSubmitTpduLength - 1));
    EXPECT_EQ(Send(kSubmitPdu + "\x1A"), kSubmitPdu + "\r\n+CMS ERROR: 304\r\n");
    Ask("AT+CMGS=" + std::to_string(kSubmitTpduLength));
    EXPECT_EQ(Send("0891683108100005F0110\x1A"), "0891683108100005F0110\r\n+CMS ERROR: 304\r\n");
    EXPECT_EQ(Ask("AT+CMGS=0"), "\r\n+CMS ERROR: 304\r\n");
    EXPECT_EQ(Ask("AT+CMGS=\"13800138000\""), "\r\n+CMS ERROR: 304\r\n");
    EXPECT_TRUE(modem.SentMessages().empty());
}

TEST_F(GsmModule, MessageReferencesCountUp) {
    for (int i = 1; i <= 3; ++i) {
        Ask("AT+CMGS=" + std::to_string(kSubmitTpduLength));
        EXPECT_EQ(Send(kSubmitPdu + "\x1A"),
                  kSubmitPdu + "\r\n+CMGS: " + std::to_string(i) + "\r\n" + kOk);
    }
}

TEST_F(GsmModule, SendingNeedsTheRadioOn) {
    EXPECT_EQ(Ask("AT+CFUN=0"), kOk);
    Ask("AT+CMGS=" + std::to_string(kSubmitTpduLength));
    EXPECT_EQ(Send(kSubmitPdu + "\x1A"), kSubmitPdu + "\r\n+CMS ERROR: 331\r\n");
    EXPECT_EQ(Ask("AT+CFUN?"), "\r\n+CFUN: 0\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CFUN=7"), "\r\n+CME ERROR: 4\r\n");
}

TEST_F(GsmModule, PduListingHasOneHeaderAndOnePduLinePerMessage) {
    ASSERT_TRUE(modem.Inject(Incoming("hello")).stored);
    ASSERT_TRUE(modem.Inject(Incoming("\xE4\xB8\xAD\xE6\x96\x87")).stored);
    const auto stored = modem.StoreContents();
    ASSERT_EQ(stored.size(), 2u);
    // The length counts the TPDU octets: all but the 9 of the service-centre part.
    EXPECT_EQ(Send("AT+CMGL=4\r"), "AT+CMGL=4\r\r\n+CMGL: 1,0,,25\r\n" + stored[0].pduHex +
                                       "\r\n+CMGL: 2,0,,24\r\n" + stored[1].pduHex + "\r\n" + kOk);
    // Listed messages are read now; nothing is unread any more.
    EXPECT_EQ(Ask("AT+CMGL=0"), kOk);
    EXPECT_EQ(Ask("AT+CMGL=1").substr(0, 18), "\r\n+CMGL: 1,1,,25\r\n");
    EXPECT_EQ(Ask("AT+CMGL=5"), "\r\n+CMS ERROR: 304\r\n");
}

TEST_F(GsmModule, EmptyStoreListsNothingButOk) {
    EXPECT_EQ(Send("AT+CMGL=4\r"), "AT+CMGL=4\r" + kOk);
}

TEST_F(GsmModule, TextListingShowsSenderTimeAndText) {
    modem.Inject(Incoming("Hello"));
    modem.Inject(Incoming("\xE4\xB8\xAD\xE6\x96\x87"));
    Ask("AT+CMGF=1");
    EXPECT_EQ(Ask("AT+CMGL=\"ALL\""),
              "\r\n+CMGL: 1,\"REC UNREAD\",\"+8613912345678\",,\"24/05/12,10:23:45+32\"\r\nHello"
              "\r\n+CMGL: 2,\"REC UNREAD\",\"+8613912345678\",,\"24/05/12,10:23:45+32\"\r\n4E2D6587"
              "\r\n" +
                  kOk);
    EXPECT_EQ(Ask("AT+CMGL=4"), "\r\n+CMS ERROR: 305\r\n");
    EXPECT_EQ(Ask("AT+CSDH=1"), kOk);
    EXPECT_EQ(Ask("AT+CMGR=1"),
              "\r\n+CMGR: \"REC READ\",\"+8613912345678\",,\"24/05/12,10:23:45+32\",145,4,0,0,"
              "\"+8613800100500\",145,5\r\nHello\r\n" +
                  kOk);
}

TEST_F(GsmModule, ReadAndDeleteBySlot) {
    modem.Inject(Incoming("hello"));
    const std::string pdu = modem.StoreContents()[0].pduHex;
    EXPECT_EQ(Ask("AT+CMGR=1"), "\r\n+CMGR: 0,,25\r\n" + pdu + "\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CMGR=1"), "\r\n+CMGR: 1,,25\r\n" + pdu + "\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CMGD=?"), "\r\n+CMGD: (1),(0-4)\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CMGD=1"), kOk);
    EXPECT_EQ(Ask("AT+CMGD=1"), "\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(Ask("AT+CMGR=1"), "\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(modem.StoreCount(), 0);
}

TEST_F(GsmModule, DeleteFlagsChooseByStatus) {
    for (int i = 0; i < 3; ++i) {
        modem.Inject(Incoming("m" + std::to_string(i)));
    }
    Ask("AT+CMGR=2");
    EXPECT_EQ(Ask("AT+CMGD=1,1"), kOk);  // read messages only
    EXPECT_EQ(Ask("AT+CMGD=?"), "\r\n+CMGD: (1,3),(0-4)\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CMGD=0,4"), kOk);
    EXPECT_EQ(modem.StoreCount(), 0);
}

class GsmModuleFromIndex100 : public GsmModule {
  protected:
    GsmModuleFromIndex100() : GsmModule(ModemConfig{666, 100, 4, false, true, "+8613800100500"}) {}
};

TEST_F(GsmModuleFromIndex100, UsesThreeDigitIndexesAndRefusesDeliveriesWhenFull) {
    ASSERT_EQ(modem.Inject(Incoming("a")).indexes, std::vector<int>{100});
    ASSERT_EQ(modem.Inject(Incoming(std::string(200, 'b'))).indexes, (std::vector<int>{101, 102}));
    EXPECT_EQ(Ask("AT+CMGL=4").substr(0, 18), "\r\n+CMGL: 100,0,,21");
    EXPECT_EQ(Ask("AT+CMGD=101"), kOk);
    // The freed slot is used first.
    EXPECT_EQ(modem.Inject(Incoming("c")).indexes, std::vector<int>{101});
    EXPECT_EQ(Ask("AT+CPMS?"), "\r\n+CPMS: \"ME\",3,4,\"ME\",3,4,\"ME\",3,4\r\n" + kOk);
    // A two-part message does not fit the one free slot: none of it is stored.
    const InjectResult refused = modem.Inject(Incoming(std::string(200, 'd')));
    EXPECT_FALSE(refused.stored);
    EXPECT_NE(refused.error.find("full"), std::string::npos);
    EXPECT_EQ(modem.StoreCount(), 3);
    EXPECT_TRUE(modem.Inject(Incoming("e")).stored);
    EXPECT_FALSE(modem.Inject(Incoming("f")).stored);
}

TEST(MessageStoreIndexes, FourDigitIndexesAreListedWhole) {
    ModemEngine modem(ModemConfig{666, 1000, 10, false, true, "+8613800100500"});
    modem.Inject(Incoming("x"));
    EXPECT_EQ(modem.Feed("AT+CMGL=4\r").substr(0, 19), "\r\n+CMGL: 1000,0,,21");
    EXPECT_EQ(modem.Feed("AT+CMGD=1000\r"), kOk);
}

TEST_F(GsmModule, InjectedPduIsListedAsGiven) {
    const std::string pdu =
        "07917248014000F3240B917247587706F400003110824115248012C8329BFD06C9C373B8B82C97E741F034";
    EXPECT_TRUE(modem.InjectPdu(pdu).stored);
    EXPECT_EQ(Ask("AT+CMGL=4"), "\r\n+CMGL: 1,0,,35\r\n" + pdu + "\r\n" + kOk);
    Ask("AT+CMGF=1");
    EXPECT_EQ(Ask("AT+CMGR=1"),
              "\r\n+CMGR: \"REC READ\",\"+27748577604\",,\"13/01/28,14:51:42+08\"\r\n"
              "Hello raspberry pi\r\n" +
                  kOk);
    // A damaged PDU is refused unless asked for; then it is listed as it is.
    const std::string cut = "079100F40D1101000F001000B917118336058F30";
    EXPECT_FALSE(modem.InjectPdu(cut).stored);
    EXPECT_TRUE(modem.InjectPdu(cut, false).stored);
    Ask("AT+CMGF=0");
    EXPECT_EQ(Ask("AT+CMGR=2"), "\r\n+CMGR: 0,,12\r\n" + cut + "\r\n" + kOk);
    EXPECT_FALSE(modem.InjectPdu("07917", false).stored);
}

TEST_F(GsmModule, ServiceCentreIsReadAndSetInTheCharacterSet) {
    EXPECT_EQ(Ask("AT+CSCA?"), "\r\n+CSCA: \"+8613800100500\",145\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CSCA=\"13800755500\""), kOk);
    EXPECT_EQ(Ask("AT+CSCA?"), "\r\n+CSCA: \"13800755500\",129\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CSCA=\"card\""), "\r\n+CMS ERROR: 304\r\n");
    EXPECT_EQ(Ask("AT+CSCS=\"UCS2\""), kOk);
    EXPECT_EQ(Ask("AT+CSCA?"),
              "\r\n+CSCA: \"00310033003800300030003700350035003500300030\",129\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CSCA=\"002B0038003600310033\",145"), kOk);
    EXPECT_EQ(Ask("AT+CSCS=\"IRA\";+CSCA?"), "\r\n+CSCA: \"+8613\",145\r\n" + kOk);
}

TEST_F(GsmModule, CharacterSetsAreListedAndChecked) {
    EXPECT_EQ(Ask("AT+CSCS?"), "\r\n+CSCS: \"IRA\"\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CSCS=?"), "\r\n+CSCS: (\"IRA\",\"GSM\",\"UCS2\")\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CSCS=\"KOI8\""), "\r\nERROR\r\n");
}

TEST_F(GsmModule, PreferredStorageReportsUsedAndTotal) {
    EXPECT_EQ(Ask("AT+CPMS=?"),
              "\r\n+CPMS: (\"ME\",\"MT\"),(\"ME\",\"MT\"),(\"ME\",\"MT\")\r\n" + kOk);
    modem.Inject(Incoming("x"));
    EXPECT_EQ(Ask("AT+CPMS=ME"), "\r\n+CPMS: 1,30,1,30,1,30\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CPMS=\"ME\",\"ME\",\"MT\""), "\r\n+CPMS: 1,30,1,30,1,30\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CPMS?"), "\r\n+CPMS: \"ME\",1,30,\"ME\",1,30,\"MT\",1,30\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CPMS=\"SM\""), "\r\n+CMS ERROR: 303\r\n");
}

TEST_F(GsmModule, NewMessageIndicationWaitsForAnIdleLine) {
    modem.Inject(Incoming("quiet"));
    EXPECT_EQ(modem.TakeUnsolicited(), "");  // CNMI mt 0: no indication
    EXPECT_EQ(Ask("AT+CNMI=2,1,0,0,0"), kOk);
    EXPECT_EQ(Ask("AT+CNMI?"), "\r\n+CNMI: 2,1,0,0,0\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CNMI=2,9"), "\r\n+CMS ERROR: 303\r\n");
    Send("AT+CM");
    modem.Inject(Incoming("loud"));
    EXPECT_EQ(modem.TakeUnsolicited(), "");
    Send("GF?\r");
    EXPECT_EQ(modem.TakeUnsolicited(), "\r\n+CMTI: \"ME\",2\r\n");
    EXPECT_EQ(modem.TakeUnsolicited(), "");
}

TEST_F(GsmModule, ChosenPartsOfALongTextArriveInTheirOrderAndAMissingOneLater) {
    std::string text;
    for (int i = 0; text.size() < 400; ++i) {
        text += "Sentence " + std::to_string(i) + " of a long message.";
    }
    ControlConsole console(modem, nullptr);
    // The third part first, then the first; the second is lost on the way.
    EXPECT_EQ(console.Execute("inject-parts --ref 42 +8613912345678 3,1 " + text).output,
              "stored at 1,2 ref=42 parts=3\n");
    EXPECT_EQ(console.Execute("inject-parts +8613912345678 4 " + text).output,
              "error: the text has 3 parts, not a part 4\n");
    EXPECT_EQ(console.Execute("inject-parts +8613912345678 1 short").output,
              "error: the text fits one message: it has no parts to choose from\n");
    // It turns up later, under the same reference.
    EXPECT_EQ(console.Execute("inject-parts --ref 42 +8613912345678 2 " + text).output,
              "stored at 3 ref=42 parts=3\n");

    std::map<int, std::string> partsBySequence;
    std::vector<int> sequenceByIndex;
    for (const StoredMessage& stored : modem.StoreContents()) {
        const auto fields = DecodeDeliverPdu(stored.pduHex);
        ASSERT_TRUE(fields && fields->userData.concat) << stored.pduHex;
        EXPECT_EQ(fields->userData.concat->reference, 42);
        EXPECT_EQ(fields->userData.concat->total, 3);
        sequenceByIndex.push_back(fields->userData.concat->sequence);
        partsBySequence[fields->userData.concat->sequence] = fields->userData.textUtf8;
    }
    EXPECT_EQ(sequenceByIndex, (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(partsBySequence[1] + partsBySequence[2] + partsBySequence[3], text);
}

TEST_F(GsmModule, StatusReportRequestInPduModeIsAnsweredByCdsWithTheMessageReference) {
    EXPECT_EQ(Ask("AT+CNMI=2,1,0,1,0"), kOk);
    // Without a request the network says nothing after the send.
    EXPECT_EQ(SendPdu(kSubmitPdu), "\r\n+CMGS: 1\r\n" + kOk);
    EXPECT_EQ(modem.TakeUnsolicited(), "");
    // A report due in an hour does not come now, nor hold back one due sooner.
    modem.SetStatusReportDelay(std::chrono::hours(1));
    EXPECT_EQ(SendPdu(kSubmitPduWithReport), "\r\n+CMGS: 2\r\n" + kOk);
    EXPECT_EQ(modem.TakeUnsolicited(), "");
    modem.SetStatusReportDelay(std::chrono::milliseconds(0));
    EXPECT_EQ(SendPdu(kSubmitPduWithReport), "\r\n+CMGS: 3\r\n" + kOk);

    const std::string indication = modem.TakeUnsolicited();
    const std::string head = "\r\n+CDS: 26\r\n";
    ASSERT_EQ(indication.substr(0, head.size()), head);
    const std::string pdu = indication.substr(head.size(), indication.size() - head.size() - 2);
    const auto report = DecodeStatusReportPdu(pdu);
    ASSERT_TRUE(report) << indication;
    EXPECT_EQ(report->tpduLength, 26);
    EXPECT_EQ(report->messageReference, 3);
    EXPECT_EQ(report->recipient.number, "+8613912345678");
    EXPECT_EQ(report->recipient.type, kTypeInternational);
    EXPECT_EQ(report->status, kReportDelivered);
    EXPECT_EQ(report->serviceCentre, "+8613800100500");
    EXPECT_EQ(modem.StoreCount(), 0);
    const auto sent = modem.SentMessages();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_FALSE(sent[0].statusReportRequested);
    EXPECT_TRUE(sent[2].statusReportRequested);
}

TEST_F(GsmModule, StatusReportIsStoredAnnouncedListedReadAndDeletedLikeAMessage) {
    modem.SetStatusReportOutcome(kReportValidityExpired);
    EXPECT_EQ(Ask("AT+CNMI=2,1,0,2,0"), kOk);
    EXPECT_EQ(SendPdu(kSubmitPduWithReport), "\r\n+CMGS: 1\r\n" + kOk);
    EXPECT_EQ(modem.TakeUnsolicited(), "\r\n+CDSI: \"ME\",1\r\n");
    // <ds> 0: stored without a word.
    EXPECT_EQ(Ask("AT+CNMI=2,1,0,0,0"), kOk);
    EXPECT_EQ(SendPdu(kSubmitPduWithReport), "\r\n+CMGS: 2\r\n" + kOk);
    EXPECT_EQ(modem.TakeUnsolicited(), "");

    const auto stored = modem.StoreContents();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(Ask("AT+CMGL=4"), "\r\n+CMGL: 1,0,,26\r\n" + stored[0].pduHex +
                                    "\r\n+CMGL: 2,0,,26\r\n" + stored[1].pduHex + "\r\n" + kOk);
    const auto report = DecodeStatusReportPdu(stored[1].pduHex);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->messageReference, 2);
    EXPECT_EQ(report->status, kReportValidityExpired);
    // Text mode shows the report's fields: <fo>,<mr>,<ra>,<tora>,<scts>,<dt>,<st>.
    Ask("AT+CMGF=1");
    EXPECT_TRUE(std::regex_match(
        Ask("AT+CMGR=1"),
        std::regex("\r\n\\+CMGR: \"REC READ\",6,1,\"\\+8613912345678\",145,\"[0-9/,:+-]{20}\","
                   "\"[0-9/,:+-]{20}\",70\r\n\r\nOK\r\n")));
    EXPECT_EQ(Ask("AT+CMGD=1"), kOk);
    EXPECT_EQ(Ask("AT+CMGD=2"), kOk);
    EXPECT_EQ(modem.StoreCount(), 0);
}

TEST_F(GsmModule, TextModeSendAsksForAStatusReportThroughCsmp) {
    Ask("AT+CMGF=1;+CNMI=2,1,0,1,0");
    EXPECT_EQ(Ask("AT+CSMP?"), "\r\n+CSMP: 17,167,0,0\r\n" + kOk);
    EXPECT_EQ(Ask("AT+CSMP=49,,0"), kOk);
    EXPECT_EQ(Ask("AT+CSMP?"), "\r\n+CSMP: 49,167,0,0\r\n" + kOk);
    Ask("AT+CMGS=\"13800138000\"");
    EXPECT_EQ(Send("report me\x1A"), "report me\r\n+CMGS: 1\r\n" + kOk);
    EXPECT_TRUE(std::regex_match(
        modem.TakeUnsolicited(),
        std::regex(
            "\r\n\\+CDS: 6,1,\"13800138000\",129,\"[0-9/,:+-]{20}\",\"[0-9/,:+-]{20}\",0\r\n")));
    // ATZ takes the request back.
    Send("ATZ\r");
    EXPECT_EQ(Ask("AT+CSMP?"), "\r\n+CSMP: 17,167,0,0\r\n" + kOk);
}

TEST_F(GsmModule, ResetRestoresSettingsButKeepsTheStore) {
    modem.Inject(Incoming("kept"));
    Ask("AT+CMGF=1;+CSCS=\"UCS2\"");
    Send("ATE0\r");
    EXPECT_EQ(Send("ATZ\r"), kOk);
    EXPECT_EQ(Send("AT+CMGF?;+CSCS?\r"),
              "AT+CMGF?;+CSCS?\r\r\n+CMGF: 0\r\n\r\n+CSCS: \"IRA\"\r\n" + kOk);
    EXPECT_EQ(modem.StoreCount(), 1);
}

}  // namespace
}  // namespace tidewire::sim

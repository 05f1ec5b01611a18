// How a module's answer is read: the reply buffer's bounds, where the echo ends, and which
// lines count as result codes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "modem/ReplyPoll.h"
#include "modem/ResultLines.h"

namespace tidewire {
namespace {

std::unique_ptr<ReplyBuffer> Reply(const std::string& bytes) {
    auto reply = std::make_unique<ReplyBuffer>();
    reply->Append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return reply;
}

TEST(ReplyBuffer, KeepsZeroBytesAndFindsTokensBehindThem) {
    const std::string bytes("\x4E\x2D\x00\x1A\r\n+CMGS: 7\r\n", 14);
    const auto reply = Reply(bytes);
    EXPECT_EQ(reply->Length(), bytes.size());
    EXPECT_EQ(reply->Find("+CMGS:"), 6u);
}

TEST(ReplyBuffer, StopsAppendingWhenFullAndNeverWritesPastItsEnd) {
    auto reply = std::make_unique<ReplyBuffer>();
    const std::string chunk(8191, 'A');
    bool allKept = true;
    for (int i = 0; i < 9; ++i) {
        allKept =
            reply->Append(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size()) && allKept;
    }
    EXPECT_FALSE(allKept);
    EXPECT_TRUE(reply->Full());
    EXPECT_EQ(reply->Length(), ReplyBuffer::kCapacity - 1);
    EXPECT_EQ(reply->Data()[ReplyBuffer::kCapacity - 1], '\0');
}

TEST(ReplyBuffer, UpperCasesOnlyAsciiLetters) {
    auto reply = Reply("ok \xE4\xB8\xAD z");
    reply->UpperCaseFrom(0);
    EXPECT_STREQ(reply->Data(), "OK \xE4\xB8\xAD Z");
}

TEST(ResultLines, EchoOfTheBodyIsSkippedWhateverItSays) {
    const char body[] = "look, an error\x1A";
    const auto reply = Reply("LOOK, AN ERROR\x1A\r\n+CMGS: 12\r\n\r\nOK\r\n");
    const size_t from = AnswerStart(*reply, body, std::strlen(body));
    EXPECT_EQ(from, std::strlen(body));
    EXPECT_FALSE(HasErrorLine(*reply, from));
    EXPECT_TRUE(HasLineStartingWith(*reply, from, "+CMGS:"));
    EXPECT_TRUE(HasOkLine(*reply, from));
}

TEST(ResultLines, EchoWithoutItsCtrlZIsSkippedToo) {
    const char body[] = "book\x1A";
    const auto reply = Reply("BOOK\r\n+CMGS: 3\r\n\r\nOK\r\n");
    EXPECT_EQ(AnswerStart(*reply, body, std::strlen(body)), 4u);
}

TEST(ResultLines, PartOfTheEchoMeansTheAnswerHasNotBegun) {
    const char body[] = "token list\x1A";
    const auto reply = Reply("TOKEN");
    EXPECT_EQ(AnswerStart(*reply, body, std::strlen(body)), ReplyBuffer::npos);
}

TEST(ResultLines, NoEchoMeansTheAnswerBeginsAtOnce) {
    const char body[] = "hello\x1A";
    const auto reply = Reply("\r\n+CMGS: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(AnswerStart(*reply, body, std::strlen(body)), 2u);
}

TEST(ResultLines, IndicationsBeforeTheEchoArePassedOver) {
    const char body[] = "Error 42\x1A";
    const auto reply = Reply("\r\n+CMTI: \"SM\",3\r\n^RSSI: 5\r\nERROR 42\x1A");
    EXPECT_EQ(AnswerStart(*reply, body, std::strlen(body)), reply->Length());
    const auto arriving = Reply("\r\n+CMTI: \"SM\",");
    EXPECT_EQ(AnswerStart(*arriving, body, std::strlen(body)), ReplyBuffer::npos);
}

TEST(ResultLines, AnEchoWithAPromptForEveryLineOfTheBodyIsStillTheEcho) {
    const char body[] = "Pump 3 status:\r\nERROR 42\x1A";
    const auto reply = Reply("PUMP 3 STATUS:\r\n> \nERROR 42\x1A");
    EXPECT_EQ(AnswerStart(*reply, body, std::strlen(body)), reply->Length());
    EXPECT_FALSE(HasErrorLine(*reply, reply->Length()));
    const auto arriving = Reply("PUMP 3 STATUS:\r\n");
    EXPECT_EQ(AnswerStart(*arriving, body, std::strlen(body)), ReplyBuffer::npos);
}

TEST(ResultLines, AFinalResultFollowedByAnIndicationStillEndsTheAnswer) {
    EXPECT_EQ(FinalResult(*Reply("+CMGL: 1,\"REC READ\"\r\nhi\r\n\r\nOK\r\n+CMTI: \"MT\",2\r\n")),
              Verdict::Accepted);
}

TEST(ResultLines, OkCountsOnlyAsALineOfItsOwn) {
    EXPECT_TRUE(HasOkLine(*Reply("\r\nOK\r\n"), 0));
    EXPECT_TRUE(HasOkLine(*Reply("\r\nOK"), 0));
    EXPECT_FALSE(HasOkLine(*Reply("\r\nBOOK\r\n"), 0));
    EXPECT_FALSE(HasOkLine(*Reply("\r\nOKAY\r\n"), 0));
}

TEST(ResultLines, ErrorLinesIncludeTheMessageServiceErrors) {
    EXPECT_TRUE(HasErrorLine(*Reply("\r\nERROR\r\n"), 0));
    EXPECT_TRUE(HasErrorLine(*Reply("\r\n+CMS ERROR: 500\r\n"), 0));
    EXPECT_TRUE(HasErrorLine(*Reply("\r\n+CME ERROR: 10\r\n"), 0));
    EXPECT_FALSE(HasErrorLine(*Reply("\r\nNO ERROR HERE\r\n"), 0));
}

TEST(ResultLines, FinalResultIsTheLastCompleteLine) {
    EXPECT_EQ(FinalResult(*Reply("+CMGL: 1,\"ALL\"\r\nOK\r\nmore\r\n")), Verdict::Pending);
    EXPECT_EQ(FinalResult(*Reply("+CMGL: 1\r\nERROR in body\r\nnext\r\n\r\nOK\r\n")),
              Verdict::Accepted);
    EXPECT_EQ(FinalResult(*Reply("AT+CMGR=1\r\r\n+CMS ERROR: 321\r\n")), Verdict::Refused);
    EXPECT_EQ(FinalResult(*Reply("\r\nOK")), Verdict::Pending);  // the line is not finished yet
}

}  // namespace
}  // namespace tidewire

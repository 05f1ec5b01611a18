// The trace of the modem dialogue: what a line looks like, that turning it off stops it at once,
// that a file which cannot be opened leaves a running trace alone, and that a host may turn it on
// and off while the worker talks to the module.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "dialogue/dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        lines.push_back(line);
    }
    return lines;
}

// The direction and bytes of a line, with the time stamp checked and cut off.
std::string WithoutStamp(const std::string& line) {
    static const std::regex stamp(R"(^\d\d:\d\d:\d\d\.\d\d\d [<>] )");
    EXPECT_TRUE(std::regex_search(line, stamp)) << line;
    return line.size() > 13 ? line.substr(13) : line;
}

// A trace file of the test's own, removed before and after.
class TraceFile {
  public:
    TraceFile() {
        const ::testing::TestInfo* const test =
            ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = ::testing::TempDir() + "tidewire-trace-" + test->name() + ".log";
        std::remove(path_.c_str());
    }
    ~TraceFile() { std::remove(path_.c_str()); }

    const char* Path() const { return path_.c_str(); }
    std::vector<std::string> Lines() const { return ReadLines(path_); }

  private:
    std::string path_;
};

// The trace of the port the channel talks through.
class TraceTest : public ChannelTest {
  protected:
    TraceTest() { OpenChannel(); }
    ~TraceTest() override { Trace().SetFile(nullptr); }

    PortTrace& Trace() { return channel_.Port().Trace(); }
    std::vector<std::string> Lines() const { return file_.Lines(); }

    TraceFile file_;
    const std::string path_ = file_.Path();
};

// The trace as a host turns it on and off while the service runs.
class ServiceTraceTest : public ScriptedServiceTest {
  protected:
    ~ServiceTraceTest() override { service_.SetTraceFile(nullptr); }

    TraceFile file_;
};

TEST_F(TraceTest, CommandAndAnswerAppearAsOneLineEachWithEscapedControlBytes) {
    modem_->OnWrite("AT+CMGF=0\r", Strings{"AT+CMGF=0\r", "\r\nOK\r\n"});
    ASSERT_TRUE(Trace().SetFile(path_.c_str()));

    ASSERT_TRUE(channel_.SendAtCommand("AT+CMGF=0\r", "OK", "ERROR"));

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(WithoutStamp(lines[0]), "> AT+CMGF=0\\r");
    EXPECT_EQ(WithoutStamp(lines[1]), "< AT+CMGF=0\\r");
    EXPECT_EQ(WithoutStamp(lines[2]), "< \\r\\nOK\\r\\n");
}

TEST_F(TraceTest, EveryByteThatIsNotPrintableAsciiIsEscapedSoALineStaysOneLine) {
    ASSERT_TRUE(Trace().SetFile(path_.c_str()));
    const uint8_t bytes[] = {'A', '"', 0x1A, 0x1B, '\t', '\\', 0x00, 0x7F, 0xE4, 0xB8, 0xAD, ' '};

    channel_.PurgeAndWrite(bytes, sizeof bytes);

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(WithoutStamp(lines[0]), "> A\"\\x1A\\x1B\\t\\\\\\x00\\x7F\\xE4\\xB8\\xAD ");
}

TEST_F(TraceTest, PollsThatReadNothingLeaveNoLines) {
    modem_->OnWrite("AT\r", Strings{"", "", "\r\nOK\r\n"});
    ASSERT_TRUE(Trace().SetFile(path_.c_str()));

    ASSERT_TRUE(channel_.SendAtCommand("AT\r", "OK", "ERROR"));

    EXPECT_GE(modem_->ReadCount(), 3u);
    EXPECT_EQ(Lines().size(), 2u);
}

TEST_F(TraceTest, AnExistingFileIsAppendedToNotReplaced) {
    {
        std::ofstream earlier(path_, std::ios::binary);
        earlier << "earlier session\n";
    }
    ASSERT_TRUE(Trace().SetFile(path_.c_str()));

    channel_.PurgeAndWrite("AT\r");

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "earlier session");
    EXPECT_EQ(WithoutStamp(lines[1]), "> AT\\r");
}

TEST_F(TraceTest, NullOrEmptyPathTurnsTheTraceOffAtOnce) {
    ASSERT_TRUE(Trace().SetFile(path_.c_str()));
    channel_.PurgeAndWrite("AT\r");
    ASSERT_TRUE(Trace().SetFile(nullptr));
    channel_.PurgeAndWrite("AT+GMM\r");
    ASSERT_TRUE(Trace().SetFile(path_.c_str()));
    channel_.PurgeAndWrite("AT+CPIN?\r");
    ASSERT_TRUE(Trace().SetFile(""));
    channel_.PurgeAndWrite("AT+CSCA?\r");

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(WithoutStamp(lines[0]), "> AT\\r");
    EXPECT_EQ(WithoutStamp(lines[1]), "> AT+CPIN?\\r");
    EXPECT_FALSE(Trace().IsOn());
}

TEST_F(TraceTest, AFileThatCannotBeOpenedFailsAndLeavesTheRunningTraceAlone) {
    ASSERT_TRUE(Trace().SetFile(path_.c_str()));

    EXPECT_FALSE(Trace().SetFile("/nonexistent-folder/trace.log"));
    channel_.PurgeAndWrite("AT\r");

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(WithoutStamp(lines[0]), "> AT\\r");
}

TEST_F(ServiceTraceTest, AFileThatCannotBeOpenedIsRefusedAndLeavesTheTraceAndLastErrorAlone) {
    ScriptGsmModule(*modem_);
    ASSERT_EQ(Start(), 1);
    ASSERT_EQ(service_.SetTraceFile(file_.Path()), 1);
    MarkLastError();

    EXPECT_EQ(service_.SetTraceFile("/nonexistent-folder/trace.log"), 0);
    const size_t traced = file_.Lines().size();

    EXPECT_TRUE(Eventually([&] { return file_.Lines().size() > traced; }))
        << "the worker's dialogue is still traced";
    EXPECT_EQ(LastError(), Marker());
}

TEST_F(TraceTest, AnotherPathMovesTheTraceToThatFile) {
    const std::string second = path_ + ".second";
    std::remove(second.c_str());
    ASSERT_TRUE(Trace().SetFile(path_.c_str()));
    channel_.PurgeAndWrite("AT\r");

    ASSERT_TRUE(Trace().SetFile(second.c_str()));
    channel_.PurgeAndWrite("AT+GMM\r");

    EXPECT_EQ(Lines().size(), 1u);
    const std::vector<std::string> moved = ReadLines(second);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(WithoutStamp(moved[0]), "> AT+GMM\\r");
    Trace().SetFile(nullptr);
    std::remove(second.c_str());
}

// The host's thread switches the trace while the worker writes and reads: no line may be torn,
// and once the trace is off the worker's further dialogue leaves the file as it was.
TEST_F(ServiceTraceTest, TurningTheTraceOnAndOffWhileTheWorkerRunsKeepsEveryLineWhole) {
    ScriptGsmModule(*modem_);
    ASSERT_EQ(Start(), 1);

    for (int round = 0; round < 50; ++round) {
        ASSERT_EQ(service_.SetTraceFile(file_.Path()), 1);
        const size_t writes = modem_->Count("write");
        ASSERT_TRUE(modem_->WaitUntil([&] { return modem_->Count("write") > writes; }, kDeadline));
        ASSERT_EQ(service_.SetTraceFile(nullptr), 1);
    }
    const std::vector<std::string> traced = file_.Lines();
    const size_t writes = modem_->Count("write");
    ASSERT_TRUE(modem_->WaitUntil([&] { return modem_->Count("write") > writes + 5; }, kDeadline));

    EXPECT_EQ(file_.Lines(), traced);
    ASSERT_GE(traced.size(), 50u);
    static const std::regex whole(R"(^\d\d:\d\d:\d\d\.\d\d\d [<>] [\x20-\x7E]+$)");
    for (const std::string& line : traced) {
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
    }
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

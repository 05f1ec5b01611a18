// The engine's fault switches and its controller's view: what the host sees when the module
// misbehaves, and how a controller waits for and watches the line.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ControlConsole.h"
#include "ModemEngine.h"
#include "PtyModem.h"

namespace tidewire::sim {
namespace {

using std::chrono::milliseconds;

const std::string kOk = "\r\nOK\r\n";
const std::string kSubmitPdu = "0891683108100005F011000D91683119325476F80008FF044E2D6587";

TEST(ModemFaults, SilentModuleAnswersNothingButStillHearsTheLine) {
    ModemEngine modem;
    modem.SetSilent(true);
    EXPECT_EQ(modem.Feed("AT\r"), "");
    // Not executed, so no prompt: the PDU that follows is a line of noise.
    EXPECT_EQ(modem.Feed("AT+CMGS=19\r" + kSubmitPdu + "\x1A\r"), "");
    EXPECT_TRUE(modem.SentMessages().empty());
    EXPECT_EQ(modem.CommandLog(), (std::vector<std::string>{"AT", "AT+CMGS=19", kSubmitPdu}));
    modem.SetSilent(false);
    EXPECT_EQ(modem.Feed("AT\r"), "AT\r" + kOk);
}

TEST(ModemFaults, ErrorForACommandPrefixIgnoresLetterCase) {
    ModemEngine modem;
    modem.AddErrorFor("AT+CMGF=1");
    EXPECT_EQ(modem.Feed("AT+CMGF=1\r"), "AT+CMGF=1\r\r\nERROR\r\n");
    EXPECT_EQ(modem.Feed("at+cmgf=1\r"), "at+cmgf=1\r\r\nERROR\r\n");
    EXPECT_EQ(modem.Feed("AT+CMGF=0\r"), "AT+CMGF=0\r" + kOk);
    EXPECT_EQ(modem.Feed("AT+CMGF?\r"), "AT+CMGF?\r\r\n+CMGF: 0\r\n" + kOk);
    modem.RemoveErrorFor("at+cmgf=1");
    EXPECT_EQ(modem.Feed("AT+CMGF=1\r"), "AT+CMGF=1\r" + kOk);
}

TEST(ModemFaults, NoEchoOverridesAte1) {
    ModemEngine modem;
    modem.SetNoEcho(true);
    EXPECT_EQ(modem.Feed("ATE1\r"), kOk);
    EXPECT_EQ(modem.Feed("AT\r"), kOk);
    modem.SetNoEcho(false);
    EXPECT_EQ(modem.Feed("AT\r"), "AT\r" + kOk);
}

TEST(ModemFaults, LowerCaseRepliesLeaveTheEchoAlone) {
    ModemEngine modem;
    modem.SetLowerCaseReplies(true);
    EXPECT_EQ(modem.Feed("AT+CPIN?\r"), "AT+CPIN?\r\r\n+cpin: ready\r\n\r\nok\r\n");
    IncomingMessage message;
    message.sender = "+8613912345678";
    message.textUtf8 = "\xE4\xB8\xAD";
    modem.Inject(message);
    const std::string pdu = modem.StoreContents()[0].pduHex;
    std::string lower = pdu;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_NE(modem.Feed("AT+CMGL=4\r").find(lower), std::string::npos);
}

TEST(ModemFaults, GarbageComesBeforeEveryReplyButNotBeforeTheEcho) {
    ModemEngine modem;
    modem.SetGarbage(std::string("\xFF\x00~", 3));
    EXPECT_EQ(modem.Feed("AT\r"), "AT\r" + std::string("\xFF\x00~", 3) + kOk);
    EXPECT_EQ(modem.Feed("AT+CMGS=19\r"), "AT+CMGS=19\r" + std::string("\xFF\x00~", 3) + "\r\n> ");
}

TEST(ModemFaults, SendFailureRefusesBothModesAndRecordsNothing) {
    ModemEngine modem(ModemConfig{666, 1, 30, false, true, "+8613800100500"});
    modem.SetSendFailure(true);
    EXPECT_EQ(modem.Feed("AT+CMGS=19\r"), "\r\n> ");
    EXPECT_EQ(modem.Feed(kSubmitPdu + "\x1A"), "\r\n+CMS ERROR: 500\r\n");
    modem.Feed("AT+CMGF=1\r");
    EXPECT_EQ(modem.Feed("AT+CMGS=\"10086\"\r"), "\r\n> ");
    EXPECT_EQ(modem.Feed("hi\x1A"), "\r\n+CMS ERROR: 500\r\n");
    EXPECT_TRUE(modem.SentMessages().empty());
    modem.SetSendFailure(false);
    modem.Feed("AT+CMGS=\"10086\"\r");
    EXPECT_EQ(modem.Feed("hi\x1A"), "\r\n+CMGS: 1\r\n" + kOk);
}

TEST(ModemFaults, ClearFaultsSwitchesEverythingOff) {
    ModemEngine modem;
    modem.SetSilent(true);
    modem.AddErrorFor("AT");
    modem.SetNoEcho(true);
    modem.SetLowerCaseReplies(true);
    modem.SetGarbage("xx");
    modem.SetSendFailure(true);
    modem.SetChunking(4, milliseconds(10));
    modem.SetLineSpeed(100);
    modem.ClearFaults();
    const FaultSettings faults = modem.Faults();
    EXPECT_FALSE(faults.silent || faults.noEcho || faults.lowerCaseReplies || faults.sendFailure);
    EXPECT_TRUE(faults.errorPrefixes.empty() && faults.garbage.empty());
    EXPECT_EQ(faults.chunkBytes, 0u);
    EXPECT_EQ(faults.bytesPerSecond, 0);
    EXPECT_EQ(modem.Feed("AT\r"), "AT\r" + kOk);
}

TEST(ModemController, WaitForSentReturnsOnceAnotherThreadHasSent) {
    ModemEngine modem(ModemConfig{666, 1, 30, false, true, "+8613800100500"});
    EXPECT_FALSE(modem.WaitForSent(1, milliseconds(20)));
    std::thread host([&] {
        modem.Feed("AT+CMGS=19\r");
        modem.Feed(kSubmitPdu + "\x1A");
    });
    EXPECT_TRUE(modem.WaitForSent(1, milliseconds(10000)));
    host.join();
    EXPECT_TRUE(modem.WaitForCommand("at+cmgs=", milliseconds(0)));
    EXPECT_FALSE(modem.WaitForCommand("AT+CMGL", milliseconds(20)));
    modem.ClearSentMessages();
    EXPECT_TRUE(modem.SentMessages().empty());
}

TEST(ModemController, TrafficObserverSeesBothDirectionsInOrder) {
    ModemEngine modem;
    std::mutex mutex;
    std::vector<std::pair<TrafficDirection, std::string>> seen;
    modem.SetTrafficObserver([&](TrafficDirection direction, std::string_view bytes) {
        const std::lock_guard<std::mutex> lock(mutex);
        seen.emplace_back(direction, std::string(bytes));
    });
    modem.Feed("AT\r");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(TrafficDirection::HostToModem, std::string("AT\r")));
    EXPECT_EQ(seen[1], std::make_pair(TrafficDirection::ModemToHost, "AT\r" + kOk));
    modem.SetTrafficObserver(nullptr);
    modem.Feed("AT\r");
    EXPECT_EQ(seen.size(), 2u);
}

TEST(ControlConsole, InjectsListsAndSwitchesFaults) {
    ModemEngine modem;
    ControlConsole console(modem, nullptr);
    EXPECT_EQ(console.Execute("inject 8613912345678 \xE4\xBD\xA0\xE5\xA5\xBD world").output,
              "stored at 1\n");
    EXPECT_EQ(console.Execute("inject-alpha Bank your code is 1234").output, "stored at 2\n");
    EXPECT_EQ(console.Execute("inject 10086 " + std::string(170, 'a')).output, "stored at 3,4\n");
    const std::string store = console.Execute("store").output;
    EXPECT_NE(store.find("store: 4 message(s)"), std::string::npos);
    EXPECT_NE(
        store.find("1: REC UNREAD from=8613912345678 text=\"\xE4\xBD\xA0\xE5\xA5\xBD world\""),
        std::string::npos);
    EXPECT_NE(store.find("from=Bank text=\"your code is 1234\""), std::string::npos);

    EXPECT_EQ(console.Execute("fault error AT+CMGF=1").output, "faults: error=AT+CMGF=1\n");
    EXPECT_EQ(modem.Feed("AT+CMGF=1\r"), "AT+CMGF=1\r\r\nERROR\r\n");
    EXPECT_EQ(console.Execute("fault chunk 3 25").output, "faults: error=AT+CMGF=1 chunk=3/25ms\n");
    EXPECT_EQ(console.Execute("fault garbage \\x00\\r\\n").output,
              "faults: error=AT+CMGF=1 garbage=\"\\x00\\r\\n\" chunk=3/25ms\n");
    EXPECT_EQ(modem.Faults().garbage, std::string("\0\r\n", 3));
    EXPECT_EQ(console.Execute("fault clear").output, "faults: none\n");
    EXPECT_EQ(console.Execute("fault no-sim on").output, "SIM removed\n");
    EXPECT_EQ(modem.Feed("ATE0;+CPIN?\r"), "ATE0;+CPIN?\r\r\n+CME ERROR: 10\r\n");

    EXPECT_EQ(console.Execute("fault hangup").output, "error: no pty to hang up\n");
    EXPECT_EQ(console.Execute("fault wobble on").output,
              "error: unknown fault 'wobble' (try help)\n");
    EXPECT_EQ(
        console.Execute("inject-pdu 0102").output,
        "error: not a well-formed SMS-DELIVER or SMS-STATUS-REPORT with its service-centre part\n");
    EXPECT_EQ(console.Execute("frobnicate").output,
              "error: unknown command 'frobnicate' (try help)\n");
    EXPECT_TRUE(console.Execute("quit").quit);
}

TEST(ControlConsole, ListsSentMessagesOnOneLineEach) {
    ModemEngine modem(ModemConfig{666, 1, 30, false, true, "+8613800100500"});
    ControlConsole console(modem, nullptr);
    modem.Feed("AT+CMGF=1\r");
    modem.Feed("AT+CMGS=\"5551234\"\r");
    modem.Feed("two\rlines \"quoted\"\x1A");
    EXPECT_EQ(console.Execute("sent").output,
              "sent: 1 message(s)\n"
              "  1: to=5551234 mode=text mr=1 text=\"two\\rlines \\\"quoted\\\"\"\n");
    EXPECT_EQ(console.Execute("log").output,
              "log: 2 line(s)\n  AT+CMGF=1\n  AT+CMGS=\"5551234\"\n");
    console.Execute("clear log");
    EXPECT_TRUE(modem.CommandLog().empty());
}

TEST(ModemFaults, InterjectionStandsBeforeThePromptBetweenEntriesAndBetweenVerdictLines) {
    ModemEngine modem(ModemConfig{666, 1, 30, false, true, "+8613800100500"});
    for (const char* text : {"one", "two"}) {
        IncomingMessage message;
        message.sender = "+8613912345678";
        message.textUtf8 = text;
        ASSERT_TRUE(modem.Inject(message).stored);
    }
    modem.SetInterjection("^RSSI:12");
    EXPECT_EQ(modem.Feed("AT+CMGS=19\r"), "\r\n^RSSI:12\r\n> ");
    EXPECT_EQ(modem.Feed(kSubmitPdu + "\x1A"),
              "\r\n^RSSI:12\r\n+CMGS: 1\r\n\r\n^RSSI:12\r\nOK\r\n");
    const std::string listing = modem.Feed("AT+CMGL=4\r");
    const std::string first = "+CMGL: 1,";
    const std::string second = "\r\n^RSSI:12\r\n+CMGL: 2,";
    ASSERT_NE(listing.find(first), std::string::npos) << listing;
    EXPECT_NE(listing.find(second), std::string::npos) << listing;
    EXPECT_EQ(listing.substr(listing.size() - 16), "\r\n^RSSI:12\r\nOK\r\n");
    modem.SetInterjection("");
    EXPECT_EQ(modem.Feed("AT\r"), kOk);

    ModemEngine cdma(ModemConfig{860, 1, 30, false, true, "+8613800100500"});
    cdma.SetInterjection("^BOOT:20952548,0,0,0,72");
    EXPECT_EQ(cdma.Feed("AT\r"), "\r\n^BOOT:20952548,0,0,0,72\r\nOK\r\n");
}

TEST(ModemFaults, ConsoleSwitchesInterjectionAndLateReplies) {
    ModemEngine modem;
    ControlConsole console(modem, nullptr);
    EXPECT_EQ(console.Execute("fault interject RING").output, "faults: interject=\"RING\"\n");
    EXPECT_EQ(console.Execute("fault late 250").output, "faults: interject=\"RING\" late=250ms\n");
    EXPECT_EQ(modem.Faults().replyDelay, milliseconds(250));
    EXPECT_EQ(console.Execute("fault late -1").output,
              "error: fault late needs milliseconds, 0 or more\n");
    EXPECT_EQ(console.Execute("fault interject off").output, "faults: late=250ms\n");
    EXPECT_EQ(console.Execute("fault clear").output, "faults: none\n");
}

// A late module holds each answer back, but keeps listening: two commands written at once are
// both answered, in order, and neither before the delay.
TEST(ModemFaults, LateRepliesComeNoSoonerThanTheDelayAndInOrder) {
    ModemEngine modem(ModemConfig{666, 1, 30, false, true, "+8613800100500"});
    PtyModem pty(modem);
    pty.Start();
    const int fd = open(pty.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    const milliseconds delay(300);
    modem.SetReplyDelay(delay);
    const auto start = std::chrono::steady_clock::now();
    const std::string commands = "AT\rAT+CPIN?\r";
    ASSERT_EQ(write(fd, commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
    const std::string expected = kOk + "\r\n+CPIN: READY\r\n" + kOk;
    std::string collected;
    auto firstByte = std::chrono::steady_clock::time_point::max();
    const auto deadline = start + std::chrono::seconds(20);
    while (collected.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
        pollfd watch = {fd, POLLIN, 0};
        if (poll(&watch, 1, 50) > 0) {
            char buffer[256];
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) {
                if (collected.empty()) {
                    firstByte = std::chrono::steady_clock::now();
                }
                collected.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    close(fd);
    pty.Stop();
    EXPECT_EQ(collected, expected);
    EXPECT_GE(firstByte - start, delay) << "an answer came before its delay";
    EXPECT_TRUE(modem.WaitForCommand("AT+CPIN?", milliseconds(0)));
}

}  // namespace
}  // namespace tidewire::sim

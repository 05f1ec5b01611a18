// The scripted modem line the dialogue tests stand on: arrivals per poll, responders, purges,
// injected faults and the event log.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/CSerialException.h"
#include "support/ScriptedSerialDevice.h"

namespace tidewire {
namespace {

using Strings = std::vector<std::string>;

class ScriptedSerialDeviceTest : public ::testing::Test {
  protected:
    ScriptedSerialDeviceTest() { device_.Open("modem", LineSettings{}); }

    // One poll of at most count bytes.
    std::string Poll(uint32_t count = 64) {
        uint8_t buffer[64] = {};
        const uint32_t got = device_.Read(buffer, count);
        return std::string(reinterpret_cast<const char*>(buffer), got);
    }

    void Send(const std::string& text) {
        device_.Write(reinterpret_cast<const uint8_t*>(text.data()),
                      static_cast<uint32_t>(text.size()));
    }

    // The error code of a call that must fail, 0 when it did not.
    template <typename Call>
    static uint32_t FailureOf(Call call) {
        try {
            call();
        } catch (const CSerialException& error) {
            return error.ErrorCode();
        }
        return 0;
    }

    ScriptedSerialDevice device_;
};

TEST_F(ScriptedSerialDeviceTest, EachReadTakesOneArrivalAndLeavesWhatDidNotFit) {
    device_.Arrive({"AT\r", "", "\r\nOK\r\n"});
    EXPECT_EQ(Poll(2), "AT");
    EXPECT_EQ(Poll(), "\r") << "the rest of a cut arrival comes in the next poll";
    EXPECT_EQ(Poll(), "") << "an empty arrival is a poll in which nothing came";
    EXPECT_EQ(device_.PendingArrivals(), 1u);
    EXPECT_EQ(Poll(), "\r\nOK\r\n");
    EXPECT_EQ(Poll(), "");
    EXPECT_EQ(device_.ReadCount(), 5u);
}

TEST_F(ScriptedSerialDeviceTest, PurgeInputDropsLeftoversIncludingACutArrival) {
    device_.Arrive({"+CMTI: \"SM\",1\r\n", "RING\r\n"});
    EXPECT_EQ(Poll(4), "+CMT");
    device_.PurgeInput();
    device_.PurgeOutput();
    EXPECT_EQ(device_.PendingArrivals(), 0u);
    EXPECT_EQ(Poll(), "");

    // Whatever a command provokes after the purge is kept.
    device_.OnWrite("AT\r", Strings{"OK\r\n"});
    device_.PurgeInput();
    Send("AT\r");
    device_.PurgeOutput();
    EXPECT_EQ(Poll(), "OK\r\n");
    EXPECT_EQ(device_.Count("purge-in"), 2u);
    EXPECT_EQ(device_.Count("purge-out"), 2u);
}

TEST_F(ScriptedSerialDeviceTest, FirstMatchingRuleAnswersAndOnceRulesAreSpent) {
    device_.OnWriteOnce("AT+CMGS", Strings{"\r\n+CMS ERROR: 500\r\n"});
    device_.OnWrite("AT+CMGS", Strings{"\r\n> "});
    device_.OnWrite("AT", Strings{"OK\r\n"});

    Send("AT+CMGS=\"10086\"\r");
    EXPECT_EQ(Poll(), "\r\n+CMS ERROR: 500\r\n");
    EXPECT_EQ(Poll(), "") << "only the first matching rule answers";
    Send("AT+CMGS=\"10086\"\r");
    EXPECT_EQ(Poll(), "\r\n> ");
    Send("AT+CMGS=\"10086\"\r");
    EXPECT_EQ(Poll(), "\r\n> ");
    Send("AT+CMGF=1\r");
    EXPECT_EQ(Poll(), "OK\r\n");
    Send("hello\x1A");
    EXPECT_EQ(Poll(), "") << "a block that no trigger matches gets no answer";
}

TEST_F(ScriptedSerialDeviceTest, GeneralRespondersSeeTheBlockAndMayScriptTheDevice) {
    device_.OnWrite("AT+CMGD=", [](const std::string& written, ScriptedSerialDevice& device) {
        device.Arrive({"deleted " + written.substr(8, 1) + "\r\n", "OK\r\n"});
    });
    // A responder that adds a rule while the rules are being tried.
    device_.OnWriteOnce("AT+CPIN?", [](const std::string&, ScriptedSerialDevice& device) {
        for (int i = 0; i < 100; ++i) {
            device.OnWrite("never sent", Strings{"x"});
        }
        device.Arrive({"+CPIN: READY\r\n"});
    });
    device_.OnWrite([](const std::string& written, ScriptedSerialDevice& device) {
        device.Arrive({"echo:" + written});
    });

    Send("AT+CMGD=7\r");
    EXPECT_EQ(Poll(), "deleted 7\r\n");
    EXPECT_EQ(Poll(), "OK\r\n");
    Send("AT+CPIN?\r");
    EXPECT_EQ(Poll(), "+CPIN: READY\r\n");
    Send("AT+CPIN?\r");
    EXPECT_EQ(Poll(), "echo:AT+CPIN?\r");
}

TEST_F(ScriptedSerialDeviceTest, LogsEveryUseOfTheLineInOrder) {
    device_.OnWrite("AT\r", Strings{"OK"});
    device_.PurgeInput();
    device_.PurgeOutput();
    Send("AT\r");
    Poll();
    Poll();
    device_.SetImmediateReadTimeouts();
    device_.CheckConfiguration();
    device_.Open("/dev/ttyS0", LineSettings{});
    device_.Close();
    device_.Close();
    EXPECT_EQ(device_.Events(),
              (Strings{"open:modem", "purge-in", "purge-out", "write:AT\r", "read:OK",
                       "read:", "timeouts", "config", "close", "open:/dev/ttyS0", "close"}));
    Send("AT+CMGF=0\r");
    EXPECT_EQ(device_.Writes(), Strings{"AT\r"}) << "a closed device takes no writes";
    EXPECT_EQ(device_.WrittenText(), "AT\r");
}

TEST_F(ScriptedSerialDeviceTest, ClosedDeviceReadsAndWritesNothingAndCountsNoCall) {
    device_.Arrive({"OK"});
    device_.FailReadAt(1);
    device_.Close();
    uint8_t buffer[4] = {'A', 'T'};
    EXPECT_EQ(device_.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(device_.Write(buffer, 2), 0u);
    EXPECT_EQ(FailureOf([&] { device_.PurgeInput(); }), static_cast<uint32_t>(EBADF));
    EXPECT_EQ(device_.PendingArrivals(), 1u);
    EXPECT_EQ(device_.ReadCount(), 0u);

    device_.Open("modem", LineSettings{});
    EXPECT_EQ(FailureOf([&] { Poll(); }), static_cast<uint32_t>(EIO))
        << "the first read on the open device is read number 1";
}

TEST_F(ScriptedSerialDeviceTest, FaultsHitTheNthCallOnceOrFromThenOnAndDoNothingElse) {
    device_.Arrive({"A", "B"});
    device_.FailReadAt(2, false, EPIPE);
    EXPECT_EQ(Poll(), "A");
    EXPECT_EQ(FailureOf([&] { Poll(); }), static_cast<uint32_t>(EPIPE));
    EXPECT_EQ(Poll(), "B") << "a failed read takes no arrival";

    device_.OnWrite("AT", Strings{"OK"});
    device_.FailWriteAt(2, true);
    Send("AT\r");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(FailureOf([&] { Send("AT+CMGF=0\r"); }), static_cast<uint32_t>(EIO));
    }
    EXPECT_EQ(device_.Writes(), Strings{"AT\r"}) << "a failed write is not recorded";
    EXPECT_EQ(device_.PendingArrivals(), 1u) << "a failed write provokes no answer";
    EXPECT_EQ(device_.Count("write-error"), 3u);
    EXPECT_EQ(device_.ReadCount(), 2u);

    // Purges are counted in both directions together; a failed one keeps the arrivals.
    device_.FailPurgeAt(3);
    device_.PurgeInput();
    device_.Arrive({"leftover"});
    device_.PurgeOutput();
    EXPECT_EQ(FailureOf([&] { device_.PurgeInput(); }), static_cast<uint32_t>(EIO));
    EXPECT_EQ(device_.PendingArrivals(), 1u);
    device_.PurgeOutput();
    EXPECT_EQ(device_.Count("purge-in-error"), 1u);
}

TEST_F(ScriptedSerialDeviceTest, FailOpenAndFailConfigurationLastUntilCleared) {
    device_.FailOpen(EBUSY);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(FailureOf([&] { device_.Open("modem", LineSettings{}); }),
                  static_cast<uint32_t>(EBUSY));
        EXPECT_FALSE(device_.IsOpen()) << "a failed open leaves the port closed";
    }
    device_.FailOpen(0);
    device_.Open("modem", LineSettings{});

    device_.FailConfiguration(ENOTTY);
    EXPECT_EQ(FailureOf([&] { device_.CheckConfiguration(); }), static_cast<uint32_t>(ENOTTY));
    EXPECT_EQ(FailureOf([&] { device_.CheckConfiguration(); }), static_cast<uint32_t>(ENOTTY));
    device_.FailConfiguration(0);
    EXPECT_EQ(FailureOf([&] { device_.CheckConfiguration(); }), 0u);
}

TEST_F(ScriptedSerialDeviceTest, WorkerThreadPollsWhileTheTestScriptsAndWaits) {
    std::string collected;
    std::thread worker([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (collected.find("OK") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            collected += Poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    ASSERT_TRUE(
        device_.WaitUntil([&] { return device_.ReadCount() >= 3; }, std::chrono::seconds(10)));
    device_.Arrive({"O", "", "K\r\n"});
    worker.join();
    EXPECT_EQ(collected, "OK\r\n");
    EXPECT_FALSE(device_.WaitUntil([&] { return device_.Count("write") > 0; },
                                   std::chrono::milliseconds(1)));
}

}  // namespace
}  // namespace tidewire

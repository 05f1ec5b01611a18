// Bad input at the exports and calls in every state of the service. The argument table goes
// through the shared libraries as a host loads them; the state table drives a service object
// whose clock can be held still, so a start-up or a stop can be caught half way.
#include <dlfcn.h>

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FlowFixture.h"
#include "LoadedLibraryFixture.h"
#include "base/ErrorTexts.h"
#include "tidewire.h"

namespace tidewire {
namespace {

std::string Text(ErrorText error) {
    return ErrorTextUtf8(error);
}

// A copy of a library under a path of its own, so a test gets a library object (and a service)
// of its own: the other tests of this program load the shared one, and a library that has seen
// a start keeps its last error and its results.
std::string PrivateCopyOf(const char* library) {
    char folder[] = "/tmp/tidewire-legacy-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        return "";
    }
    const std::string copy = std::string(folder) + "/libtidewire.so";
    std::ifstream from(library, std::ios::binary);
    std::ofstream to(copy, std::ios::binary);
    to << from.rdbuf();
    return to.good() ? copy : "";
}

// Loads a private copy of library; the copy's file is gone once it is loaded.
void* LoadPrivateCopy(const char* library) {
    const std::string path = PrivateCopyOf(library);
    if (path.empty()) {
        return nullptr;
    }
    void* const handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    std::remove(path.c_str());
    std::remove(path.substr(0, path.rfind('/')).c_str());
    return handle;
}

// --- Arguments, through the current edition's library ---------------------------------------

class BadArguments : public LoadedLibraryTest {
  protected:
    void* Load() override { return LoadPrivateCopy(TIDEWIRE_LIBRARY_PATH); }

    int32_t StartOnModem(const char* serviceCentre) {
        return start_(modem_.DevicePath().c_str(), 115200, 2, 8, 0, 0, serviceCentre);
    }
};

const std::string kMegabyte(1 << 20, 'a');
const std::string kMegabyteDigits(1 << 20, '1');

TEST_F(BadArguments, StartRefusesBadPortsAndServiceCentresAndStaysIdle) {
    const std::string portError = Text(ErrorText::PortOpenFailed);
    for (const int32_t port : {0, -1, INT_MIN, INT_MAX}) {
        EXPECT_EQ(startOnPort_(port, 115200, 2, 8, 0, 0, "card"), 0) << port;
        EXPECT_EQ(LastError().rfind(portError, 0), 0u) << port << ": " << LastError();
        EXPECT_EQ(started_(), 0);
    }
    for (const char* device : {static_cast<const char*>(nullptr), "", kMegabyte.c_str()}) {
        EXPECT_EQ(start_(device, 115200, 2, 8, 0, 0, "card"), 0);
        EXPECT_EQ(LastError().rfind(portError, 0), 0u) << LastError();
        EXPECT_EQ(started_(), 0);
    }
    // A centre field holds 19 bytes: 20, a megabyte, or bytes without any terminator within
    // reach are refused before the port is touched.
    const std::string twenty(20, '1');
    const std::vector<char> unterminated(24, '1');
    for (const char* centre : {twenty.c_str(), kMegabyteDigits.c_str(), unterminated.data()}) {
        EXPECT_EQ(StartOnModem(centre), 0);
        EXPECT_EQ(LastError(), Text(ErrorText::ServiceCentreTooLong));
        EXPECT_EQ(started_(), 0);
    }
    EXPECT_TRUE(engine_.CommandLog().empty());
    ASSERT_EQ(StartOnModem(std::string(19, '1').c_str()), 1) << LastError();
}

TEST_F(BadArguments, EveryRefusedMessageLeavesItsTextAndUsesNoId) {
    ASSERT_EQ(StartOnModem("+8613800100500"), 1) << LastError();
    const std::string text255(255, 't');
    const std::string text256(256, 't');
    const std::string number31(31, '5');
    const std::string number32(32, '5');
    // A text and a number with no terminator anywhere near their fields.
    std::vector<char> unterminatedText(300, 'u');
    std::vector<char> unterminatedNumber(40, '7');
    const char* const noText = nullptr;
    const char* const noNumber = nullptr;
    struct Row {
        const char* text;
        const char* number;
        ErrorText refusal;
    };
    const Row rows[] = {
        {noText, "5551234", ErrorText::TextLength},
        {"", "5551234", ErrorText::TextLength},
        {noText, noNumber, ErrorText::TextLength},
        {"", "", ErrorText::TextLength},
        {text256.c_str(), "5551234", ErrorText::TextLength},
        {kMegabyte.c_str(), "5551234", ErrorText::TextLength},
        {kMegabyte.c_str(), kMegabyteDigits.c_str(), ErrorText::TextLength},
        {unterminatedText.data(), "5551234", ErrorText::TextLength},
        {"hello", noNumber, ErrorText::NumberLength},
        {"hello", "", ErrorText::NumberLength},
        {"hello", number32.c_str(), ErrorText::NumberLength},
        {"hello", kMegabyteDigits.c_str(), ErrorText::NumberLength},
        {"hello", unterminatedNumber.data(), ErrorText::NumberLength},
        {"hello", "555\"\r\nAT+CMGD=1", ErrorText::NumberIllegal},
        {"body \x1A then commands", "5551234", ErrorText::TextIllegal},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(send_(row.text, row.number), -1)
            << (row.text ? std::strlen(row.text) : 0) << " / " << (row.number ? row.number : "");
        EXPECT_EQ(LastError(), Text(row.refusal));
    }

    // The limits themselves are accepted, numbered from 0 as if nothing had been refused, and
    // each ends with a result and a report: a text the module cannot take fails, it is not lost.
    const int32_t first = send_(text255.c_str(), "5551234");
    const int32_t second = send_("hello", number31.c_str());
    const std::string chinese255 = [] {
        std::string text;
        while (text.size() < 255) {
            text += "中";  // three bytes in UTF-8: 85 characters, more than one PDU holds
        }
        return text;
    }();
    const int32_t third = send_(chinese255.c_str(), "5551234");
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(third, 2);
    for (const int32_t id : {first, second, third}) {
        ASSERT_TRUE(Eventually([&] { return query_(id) != -1; })) << id;
    }
    EXPECT_EQ(query_(first), 0);  // longer than one single-byte message
    EXPECT_EQ(query_(third), 0);  // longer than one UCS-2 message
    OutgoingMessage report;
    for (const int32_t id : {first, second, third}) {
        ASSERT_EQ(report_(reinterpret_cast<char*>(&report)), 1);
        EXPECT_EQ(report.id, id);
    }
    EXPECT_EQ(std::string(report.text), chinese255);
    EXPECT_EQ(report_(reinterpret_cast<char*>(&report)), 0);
}

TEST_F(BadArguments, NullBuffersAndStrayIdsAreAnsweredWithoutTouchingAnything) {
    ASSERT_EQ(StartOnModem("+8613800100500"), 1) << LastError();
    sim::IncomingMessage incoming;
    incoming.sender = "+8613800138000";
    incoming.textUtf8 = "waiting";
    ASSERT_TRUE(engine_.Inject(incoming).stored);
    ASSERT_EQ(send_("hello", "5551234"), 0);
    ASSERT_TRUE(Eventually([&] { return query_(0) != -1; }));
    ASSERT_TRUE(Eventually([&] { return engine_.StoreCount() == 0; }));

    // A null buffer takes nothing: the record is still there for a real one.
    EXPECT_EQ(report_(nullptr), 0);
    EXPECT_EQ(next_(nullptr), 0);
    for (const int32_t id : {-1, INT_MIN, INT_MAX, 1, 12345}) {
        EXPECT_EQ(query_(id), -1) << id;
    }
    char buffer[400];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(lastError_(nullptr, 100), 0);
    for (const int32_t length : {0, -1, INT_MIN}) {
        EXPECT_EQ(lastError_(buffer, length), 0);
    }
    EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0x5A);
    EXPECT_EQ(report_(buffer), 1);
    EXPECT_EQ(reinterpret_cast<OutgoingMessage*>(buffer)->id, 0);
    EXPECT_EQ(static_cast<unsigned char>(buffer[sizeof(OutgoingMessage)]), 0x5A);
    EXPECT_EQ(next_(buffer), 1);
    EXPECT_STREQ(buffer, "waiting");
    EXPECT_EQ(static_cast<unsigned char>(buffer[sizeof(ReceivedMessage)]), 0x5A);
    EXPECT_EQ(report_(buffer), 0);
    EXPECT_EQ(next_(buffer), 0);
}

// --- The legacy edition's library, before any start ------------------------------------------

TEST(LegacyBadArguments, IdleLibraryRefusesEverythingQuietly) {
    void* handle = LoadPrivateCopy(TIDEWIRE_LEGACY_LIBRARY_PATH);
    ASSERT_NE(handle, nullptr) << dlerror();
    using LegacyLastError = int32_t (*)(char*);
    const auto start =
        reinterpret_cast<decltype(&SMSStartService)>(dlsym(handle, "SMSStartService"));
    const auto stop = reinterpret_cast<decltype(&SMSStopSerice)>(dlsym(handle, "SMSStopSerice"));
    const auto send = reinterpret_cast<decltype(&SMSSendMessage)>(dlsym(handle, "SMSSendMessage"));
    const auto report = reinterpret_cast<decltype(&SMSReport)>(dlsym(handle, "SMSReport"));
    const auto query = reinterpret_cast<decltype(&SMSQuery)>(dlsym(handle, "SMSQuery"));
    const auto next =
        reinterpret_cast<decltype(&SMSGetNextMessage)>(dlsym(handle, "SMSGetNextMessage"));
    const auto lastError = reinterpret_cast<LegacyLastError>(dlsym(handle, "SMSGetLastError"));
    ASSERT_TRUE(start && stop && send && report && query && next && lastError);

    char buffer[1024];
    EXPECT_EQ(stop(), 1);
    EXPECT_EQ(stop(), 1);
    // Not started: refused without a text, whatever the arguments.
    EXPECT_EQ(send(nullptr, nullptr), -1);
    EXPECT_EQ(send(kMegabyte.c_str(), kMegabyteDigits.c_str()), -1);
    EXPECT_EQ(send("hello", "5551234"), -1);
    EXPECT_EQ(lastError(buffer), 0);
    EXPECT_EQ(lastError(nullptr), 0);
    EXPECT_EQ(report(nullptr), 0);
    EXPECT_EQ(next(nullptr), 0);
    for (const int32_t id : {-1, INT_MIN, INT_MAX, 0}) {
        EXPECT_EQ(query(id), -1) << id;
    }
    const std::string portError = Text(ErrorText::PortOpenFailed);
    for (const int32_t port : {0, -1, INT_MIN, INT_MAX}) {
        EXPECT_EQ(start(port, 115200, 2, 8, 0, 0, nullptr), 0) << port;
        const int32_t length = lastError(buffer);
        EXPECT_EQ(std::string(buffer, static_cast<size_t>(length)).rfind(portError, 0), 0u);
    }
    EXPECT_EQ(start(1, 115200, 2, 8, 0, 0, kMegabyteDigits.c_str()), 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(lastError(buffer))),
              Text(ErrorText::ServiceCentreTooLong));
    dlclose(handle);
}

// --- Calls in every state, both editions -----------------------------------------------------

// Holds every wait of the service's dialogues while closed: whoever polls the module next (a
// start-up on the host's thread, or the worker) stays there until it opens.
class Gate {
  public:
    void Close() {
        std::lock_guard<std::mutex> hold(lock_);
        closed_ = true;
    }
    void Open() {
        std::lock_guard<std::mutex> hold(lock_);
        closed_ = false;
        changed_.notify_all();
    }
    bool SomeoneHeld() {
        std::lock_guard<std::mutex> hold(lock_);
        return held_ > 0;
    }
    void Pass() {
        std::unique_lock<std::mutex> hold(lock_);
        ++held_;
        changed_.wait(hold, [&] { return !closed_; });
        --held_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool closed_ = false;
    int held_ = 0;
};

class States : public FlowTest, public testing::WithParamInterface<Edition> {
  protected:
    States() : FlowTest(666, GetParam()) {}

    void SetUp() override {
        FlowTest::SetUp();
        Service().SetSleepFunction([this](uint32_t milliseconds) {
            gate_.Pass();
            std::this_thread::sleep_for(
                std::chrono::microseconds(milliseconds * 1000 / kTimeDivisor));
        });
    }

    void TearDown() override {
        gate_.Open();
        FlowTest::TearDown();
    }

    bool Current() const { return GetParam() == Edition::Current; }

    // A message refused because the service does not run: the current edition says so, the
    // legacy one leaves the previous text.
    void ExpectSendRefused(const char* state) {
        const std::string before = LastError();
        EXPECT_EQ(Service().SendMessage("hello", "5551234"), -1) << state;
        EXPECT_EQ(LastError(), Current() ? Text(ErrorText::NotStarted) : before) << state;
    }

    void ExpectStartRefused(const char* state) {
        EXPECT_EQ(Start(), 0) << state;
        EXPECT_EQ(LastError(), Text(ErrorText::AlreadyStarted)) << state;
    }

    // What takes and queries answer in any state: stray ids have no result, null buffers take
    // nothing.
    void ExpectQuietAnswers(const char* state) {
        for (const int32_t id : {-1, INT_MIN, INT_MAX, 777}) {
            EXPECT_EQ(Service().Query(id), -1) << state << " " << id;
        }
        EXPECT_EQ(Service().Report(nullptr), 0) << state;
        EXPECT_EQ(Service().GetNextMessage(nullptr), 0) << state;
    }

    Gate gate_;
};

TEST_P(States, IdleNeverStarted) {
    EXPECT_EQ(Service().ServiceStarted(), 0);
    ExpectSendRefused("idle");
    ExpectQuietAnswers("idle");
    char buffer[sizeof(ReceivedMessage)];
    EXPECT_EQ(Service().Report(buffer), 0);
    EXPECT_EQ(Service().GetNextMessage(buffer), 0);
    EXPECT_EQ(Service().StopService(), 1);
    EXPECT_EQ(Service().StopService(), 1);
    EXPECT_TRUE(Engine().CommandLog().empty());
    ASSERT_EQ(Start(), 1) << LastError();
}

TEST_P(States, WhileStartingNothingIsAcceptedAndASecondStartIsRefused) {
    gate_.Close();
    std::atomic<int32_t> started{-2};
    std::thread starter([&] { started.store(Start()); });
    ASSERT_TRUE(Eventually([&] { return gate_.SomeoneHeld(); }));  // probing the module

    ExpectSendRefused("starting");
    ExpectStartRefused("starting");
    ExpectQuietAnswers("starting");
    gate_.Open();
    starter.join();
    ASSERT_EQ(started.load(), 1) << LastError();
    // Nothing sent during the start-up was taken: the first message is id 0 and is sent.
    EXPECT_EQ(Service().SendMessage("after start", "5551234"), 0);
    EXPECT_EQ(Outcome(0), 1);
}

TEST_P(States, AStopDuringTheStartUpLeavesTheServiceIdleAndRestartable) {
    gate_.Close();
    std::atomic<int32_t> started{-2};
    std::thread starter([&] { started.store(Start()); });
    ASSERT_TRUE(Eventually([&] { return gate_.SomeoneHeld(); }));  // probing the module
    std::atomic<bool> stopReturned{false};
    std::thread stopper([&] {
        EXPECT_EQ(Service().StopService(), 1);
        stopReturned = true;
    });
    ASSERT_TRUE(Eventually([&] { return Service().ServiceStarted() == 0; }));
    // The current edition's stop waits for the start-up, which is held; the legacy stop never
    // waits.
    if (!Current()) {
        ASSERT_TRUE(Eventually([&] { return stopReturned.load(); }));
    }
    EXPECT_EQ(stopReturned.load(), !Current());
    gate_.Open();
    stopper.join();
    starter.join();
    // Both calls agree: the start-up saw the stop before its next dialogue and failed, made no
    // worker and closed the port, and the service can be started again.
    EXPECT_EQ(started.load(), 0);
    EXPECT_EQ(LastError(), Text(ErrorText::NotStarted));
    EXPECT_FALSE(Service().Started());
    EXPECT_EQ(Service().ServiceStarted(), 0);
    ExpectSendRefused("stopped during start-up");
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Service().SendMessage("second start", "5551234"), 0);
    EXPECT_EQ(Outcome(0), 1);
}

TEST_P(States, WhileRunningASecondStartChangesNothing) {
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Service().ServiceStarted(), 1);
    ExpectQuietAnswers("running");
    const int32_t id = Service().SendMessage("queued before", "5551234");
    ASSERT_EQ(id, 0);
    ExpectStartRefused("running");
    EXPECT_EQ(Service().ServiceStarted(), 1);
    EXPECT_EQ(Outcome(id), 1);
    EXPECT_EQ(Service().SendMessage("queued after", "5551234"), 1);
    EXPECT_EQ(Outcome(1), 1);
    OutgoingMessage report;
    ASSERT_TRUE(NextReport(report));
    EXPECT_STREQ(report.text, "queued before");
}

TEST_P(States, WhileStoppingEverythingIsRefusedAndASecondStopWaitsToo) {
    ASSERT_EQ(Start(), 1) << LastError();
    ASSERT_TRUE(Engine().WaitForCommand("AT+CMGL", std::chrono::seconds(60)));  // cycling
    gate_.Close();
    ASSERT_TRUE(Eventually([&] { return gate_.SomeoneHeld(); }));  // the worker is held
    std::thread firstStop([&] { Service().StopService(); });
    ASSERT_TRUE(Eventually([&] { return Service().ServiceStarted() == 0; }));

    ExpectSendRefused("stopping");
    ExpectStartRefused("stopping");
    ExpectQuietAnswers("stopping");
    // The worker cannot end while it is held, so a stop that has returned by the time the gate
    // opens returned too early.
    std::atomic<bool> secondReturned{false};
    std::atomic<bool> startedWhenReturned{false};
    std::thread secondStop([&] {
        EXPECT_EQ(Service().StopService(), 1);
        startedWhenReturned.store(Service().Started());
        secondReturned.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // give a wrong stop its chance
    if (Current()) {
        EXPECT_FALSE(secondReturned.load()) << "a second stop returned while the worker ran";
    } else {
        EXPECT_TRUE(Eventually([&] { return secondReturned.load(); }));  // never waits
    }
    gate_.Open();
    firstStop.join();
    secondStop.join();
    if (Current()) {
        EXPECT_FALSE(startedWhenReturned.load());
        EXPECT_FALSE(Service().Started());
    } else {
        EXPECT_TRUE(Eventually([&] { return !Service().Started(); }));
    }

    // After the stop: refused sends, a third stop that changes nothing, and a new start-up
    // that numbers from 0 again.
    ExpectSendRefused("stopped");
    EXPECT_EQ(Service().StopService(), 1);
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Service().SendMessage("next run", "5551234"), 0);
    EXPECT_EQ(Outcome(0), 1);
}

INSTANTIATE_TEST_SUITE_P(Editions, States, testing::Values(Edition::Current, Edition::Legacy),
                         [](const testing::TestParamInfo<Edition>& info) {
                             return info.param == Edition::Current ? "Current" : "Legacy";
                         });

}  // namespace
}  // namespace tidewire

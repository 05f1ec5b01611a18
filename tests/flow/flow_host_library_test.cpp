// The shared library as a host sees it: loaded by file name, its exports resolved by name and
// called from several host threads, at the modem's real pace. Everything else in the flow layer
// drives a service object directly with a faster clock; this is the one that does not.
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "FlowFixture.h"
#include "LoadedLibraryFixture.h"

namespace tidewire {
namespace {

using HostLibrary = LoadedLibraryTest;

TEST_F(HostLibrary, EveryExportAnswersSafelyBeforeAnyStart) {
    char buffer[1024];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(started_(), 0);
    EXPECT_EQ(query_(0), -1);
    EXPECT_EQ(report_(buffer), 0);
    EXPECT_EQ(next_(buffer), 0);
    EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0x5A);  // untouched
    EXPECT_EQ(report_(nullptr), 0);
    EXPECT_EQ(next_(nullptr), 0);
    EXPECT_EQ(send_(nullptr, nullptr), -1);
    EXPECT_EQ(LastError(), "服务器未启动");
    EXPECT_EQ(lastError_(nullptr, 10), 0);
    EXPECT_EQ(lastError_(buffer, 0), 0);
    EXPECT_EQ(lastError_(buffer, -5), 0);
    EXPECT_EQ(stop_(), 1);
    EXPECT_EQ(stop_(), 1);
    EXPECT_EQ(start_(nullptr, 115200, 2, 8, 0, 0, "card"), 0);
    EXPECT_EQ(LastError(), std::string("串口打开错误") + std::strerror(ENOENT));
    EXPECT_EQ(startOnPort_(0, 115200, 2, 8, 0, 0, "card"), 0);
    EXPECT_EQ(LastError().rfind("串口打开错误", 0), 0u);
    EXPECT_EQ(start_(modem_.DevicePath().c_str(), 115200, 2, 8, 0, 0, "+86138001005001234567"), 0);
    EXPECT_EQ(LastError(), "短信中心号码长度不能大于19");
    EXPECT_EQ(start_(modem_.DevicePath().c_str(), 115200, 2, 8, 0, 0, "1380\"\r\nAT+CMGD=1"), 0);
    EXPECT_EQ(LastError(), "短信中心号码格式错误");
    EXPECT_EQ(started_(), 0);
}

TEST_F(HostLibrary, LastErrorCopiesLikeAFixedLengthString) {
    EXPECT_EQ(send_("text", nullptr), -1);  // not started
    const std::string text = "服务器未启动";
    char buffer[64];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(lastError_(buffer, 40), static_cast<int32_t>(text.size()));
    EXPECT_EQ(std::string(buffer), text);
    for (size_t i = text.size(); i < 40; ++i) {
        EXPECT_EQ(buffer[i], '\0') << i;
    }
    EXPECT_EQ(static_cast<unsigned char>(buffer[40]), 0x5A);
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(lastError_(buffer, 4), 4);
    EXPECT_EQ(std::memcmp(buffer, text.data(), 4), 0);
    EXPECT_EQ(static_cast<unsigned char>(buffer[4]), 0x5A);  // no terminator when it fills
}

TEST_F(HostLibrary, SendsAndReceivesFromSeveralHostThreadsAtTheModemsPace) {
    ASSERT_EQ(start_(modem_.DevicePath().c_str(), 115200, 2, 8, 0, 0, "+8613800100500"), 1)
        << LastError();
    EXPECT_EQ(started_(), 1);
    EXPECT_EQ(LastError(), "");

    sim::IncomingMessage incoming;
    incoming.sender = "+8613800138000";
    incoming.textUtf8 = "今晚七点见";
    engine_.Inject(incoming);

    std::vector<int32_t> ids(2, -1);
    std::thread first([&] { ids[0] = send_("hello from thread one", "8613912345678"); });
    std::thread second([&] { ids[1] = send_("你好", "13912345678"); });
    first.join();
    second.join();
    EXPECT_NE(ids[0], ids[1]);
    for (const int32_t id : ids) {
        ASSERT_GE(id, 0);
        ASSERT_TRUE(Eventually([&] { return query_(id) != -1; }));
        EXPECT_EQ(query_(id), 1);
    }
    OutgoingMessage report;
    int reports = 0;
    while (report_(reinterpret_cast<char*>(&report)) == 1) {
        ++reports;
        EXPECT_STREQ(report.number, "13912345678");
    }
    EXPECT_EQ(reports, 2);

    ReceivedMessage message;
    ASSERT_TRUE(Eventually([&] { return next_(reinterpret_cast<char*>(&message)) == 1; }));
    EXPECT_STREQ(message.text, "今晚七点见");
    EXPECT_STREQ(message.sender, "8613800138000");

    EXPECT_EQ(stop_(), 1);
    EXPECT_EQ(started_(), 0);
}

}  // namespace
}  // namespace tidewire

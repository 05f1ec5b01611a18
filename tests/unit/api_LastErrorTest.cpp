// How the last-error text is handed to the host: a fixed-length copy in the current edition,
// the whole text and its terminator in the legacy one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/LastError.h"

namespace tidewire {
namespace {

TEST(LastError, IsCopiedWithFixedLengthSemantics) {
    LastError lastError;
    lastError.Set(ErrorText::NoDeviceOrSim);
    const std::string text = "未连接好设备或者没有SIM卡";
    char buffer[64];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(lastError.Get(buffer, 50), static_cast<int32_t>(text.size()));
    EXPECT_EQ(std::string(buffer), text);
    for (size_t i = text.size(); i < 50; ++i) {
        ASSERT_EQ(buffer[i], 0) << i;
    }
    EXPECT_EQ(static_cast<unsigned char>(buffer[50]), 0x5A);
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(lastError.Get(buffer, 3), 3);
    EXPECT_EQ(static_cast<unsigned char>(buffer[3]), 0x5A);
    EXPECT_EQ(lastError.Get(buffer, 0), 0);
    EXPECT_EQ(lastError.Get(nullptr, 10), 0);
}

TEST(LastError, IsCopiedWholeWithItsTerminatorInTheLegacyForm) {
    LastError lastError;
    lastError.Set(ErrorText::NoDeviceOrBaud);
    const std::string text = "未连接好设备或者波特率错误";
    char buffer[1024];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(lastError.GetWhole(buffer), static_cast<int32_t>(text.size()));
    EXPECT_EQ(std::string(buffer), text);
    EXPECT_EQ(static_cast<unsigned char>(buffer[text.size() + 1]), 0x5A);
}

}  // namespace
}  // namespace tidewire

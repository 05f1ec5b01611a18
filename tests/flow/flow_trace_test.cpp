// The trace against the simulated module on a pseudo-terminal: what the module received is
// exactly what the trace says was written, byte for byte, through a whole start, send and stop.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>

#include "FlowFixture.h"

namespace tidewire {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// The bytes of one trace line back from their escaped form; "" with ok cleared when malformed.
std::string Unescape(std::string_view escaped, bool& ok) {
    std::string bytes;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            bytes += escaped[i];
            continue;
        }
        const char kind = i + 1 < escaped.size() ? escaped[++i] : '\0';
        if (kind == 'r' || kind == 'n' || kind == 't' || kind == '\\') {
            bytes += kind == 'r' ? '\r' : kind == 'n' ? '\n' : kind == 't' ? '\t' : '\\';
        } else if (kind == 'x' && i + 2 < escaped.size() && HexValue(escaped[i + 1]) >= 0 &&
                   HexValue(escaped[i + 2]) >= 0) {
            bytes += static_cast<char>(HexValue(escaped[i + 1]) * 16 + HexValue(escaped[i + 2]));
            i += 2;
        } else {
            ok = false;
        }
    }
    return bytes;
}

class TraceFlow : public FlowTest {};

TEST_F(TraceFlow, EveryByteTheModuleReceivedIsInTheTraceInOrder) {
    std::mutex lock;
    std::string received;
    Engine().SetTrafficObserver([&](sim::TrafficDirection direction, std::string_view bytes) {
        if (direction == sim::TrafficDirection::HostToModem) {
            std::lock_guard<std::mutex> hold(lock);
            received.append(bytes);
        }
    });
    const std::string path = testing::TempDir() + "tidewire-flow-trace.log";
    std::remove(path.c_str());
    ASSERT_EQ(Service().SetTraceFile(path.c_str()), 1);

    ASSERT_EQ(Start(), 1);
    const int32_t id = Service().SendMessage("\xE4\xBD\xA0\xE5\xA5\xBD", "13912345678");
    ASSERT_EQ(Outcome(id), 1);
    Service().StopService();
    ASSERT_EQ(Service().SetTraceFile(nullptr), 1);

    std::ifstream file(path, std::ios::binary);
    std::string written;
    std::string line;
    bool ok = true;
    size_t reads = 0;
    while (std::getline(file, line)) {
        ASSERT_GT(line.size(), 15u) << line;
        const std::string_view body = std::string_view(line).substr(15);
        if (line.compare(12, 3, " > ") == 0) {
            written += Unescape(body, ok);
        } else {
            ASSERT_EQ(line.compare(12, 3, " < "), 0) << line;
            ++reads;
        }
    }
    EXPECT_TRUE(ok);
    EXPECT_GT(reads, 0u);
    EXPECT_NE(written.find("\x1A"), std::string::npos);
    // The module may still be taking in the last bytes when the service stops.
    EXPECT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> hold(lock);
        return received == written;
    }));
    std::remove(path.c_str());
}

}  // namespace
}  // namespace tidewire

// Whole flows: a service object, started the way a host starts it, against the simulated modem
// on a real pseudo-terminal. The dialogues keep every poll count and interval ratio; only the
// clock runs faster, so a cycle takes a tenth of its real time.
#ifndef TIDEWIRE_TESTS_FLOW_FLOWFIXTURE_H
#define TIDEWIRE_TESTS_FLOW_FLOWFIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "ModemEngine.h"
#include "PtyModem.h"
#include "api/SmsService.h"

namespace tidewire {

inline constexpr uint32_t kTimeDivisor = 10;

// Waits for a condition with a generous deadline: the deadline only guards against a hang, it
// never decides a result by luck.
template <class Condition>
bool Eventually(Condition condition, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class FlowTest : public testing::Test {
  protected:
    // With a link path the service is started on the link, which follows the module when it is
    // unplugged and plugged back in.
    explicit FlowTest(int family = 666, Edition edition = Edition::Current,
                      const std::string& linkPath = "")
        : engine_(std::make_unique<sim::ModemEngine>(Config(family))),
          modem_(std::make_unique<sim::PtyModem>(*engine_, linkPath)),
          service_(std::make_unique<SmsService>(edition)) {}

    void SetUp() override {
        modem_->Start();
        service_->SetSleepFunction([](uint32_t milliseconds) {
            std::this_thread::sleep_for(
                std::chrono::microseconds(milliseconds * 1000 / kTimeDivisor));
        });
    }

    // The service goes first, which waits for its worker: a legacy stop does not, and a worker
    // still running would call a wait function that uses the derived fixture's members.
    void TearDown() override {
        service_->StopService();
        service_.reset();
        modem_->Stop();
    }

    static sim::ModemConfig Config(int family) {
        sim::ModemConfig config;
        config.family = family;
        return config;
    }

    int32_t Start(const char* serviceCentre = "+8613800100500") {
        LineSettings settings;
        const std::string device =
            modem_->LinkPath().empty() ? modem_->DevicePath() : modem_->LinkPath();
        return service_->StartServiceOnDevice(device.c_str(), settings, serviceCentre);
    }

    std::string LastError() {
        char text[1024] = {};
        const int32_t length = service_->GetLastError(text, sizeof text - 1);
        return std::string(text, static_cast<size_t>(length));
    }

    // Waits until the worker has finished message id, and returns its outcome.
    int32_t Outcome(int32_t id) {
        Eventually([&] { return service_->Query(id) != -1; });
        return service_->Query(id);
    }

    bool NextReport(OutgoingMessage& report) {
        return service_->Report(reinterpret_cast<char*>(&report)) == 1;
    }

    bool AwaitMessage(ReceivedMessage& message) {
        return Eventually(
            [&] { return service_->GetNextMessage(reinterpret_cast<char*>(&message)) == 1; });
    }

    sim::ModemEngine& Engine() { return *engine_; }
    sim::PtyModem& Modem() { return *modem_; }
    SmsService& Service() { return *service_; }

  private:
    std::unique_ptr<sim::ModemEngine> engine_;
    std::unique_ptr<sim::PtyModem> modem_;
    std::unique_ptr<SmsService> service_;
};

}  // namespace tidewire

#endif

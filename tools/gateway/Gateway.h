// One gateway's life: start the modem's service, then, until a stop is asked for, claim and send
// outbox rows one at a time, renew the lease of the row being sent, and write every received
// message into the inbox, and the delivery of each sent row that asked for it. A stop stops the
// service first, then settles the row in flight and stores every record the library still holds.
#ifndef TIDEWIRE_TOOLS_GATEWAY_GATEWAY_H
#define TIDEWIRE_TOOLS_GATEWAY_GATEWAY_H

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "GatewayConfig.h"
#include "ModemLink.h"
#include "Store.h"

namespace tidewire::gateway {

class Gateway {
  public:
    using Clock = std::chrono::steady_clock;

    Gateway(const GatewayConfig& config, Store& store, ModemLink& modem)
        : config_(config), store_(store), modem_(modem) {}

    // Runs until stopRequested says so (it is asked once a tick and may wait up to a tick) or
    // the service ends by itself. The exit status: 0 after a requested stop with everything
    // stored, 1 when the service ended by itself or records could not be stored.
    int Run(const std::function<bool(std::chrono::milliseconds tick)>& stopRequested);

  private:
    struct InFlight {
        OutboxRow row;
        int32_t messageId = -1;
        Clock::time_point renewAt;
        // Set once the outcome is known but not yet written (the store failed).
        std::optional<bool> sent;
        std::string outcome;
        // Why it failed, for the log.
        tools::ErrorReport reason;
    };
    struct Received {
        InboxRecord record;
        int32_t receipt = 0;
    };

    // A sent message whose delivery report is awaited.
    struct AwaitedReport {
        int64_t rowId = 0;
        int32_t messageId = -1;
    };

    void ClaimAndSend();
    // Writes the deliveries the library has learnt of, and keeps its reports coming while
    // some are awaited.
    void FollowDeliveries();
    void FollowSend();
    bool WriteOutcome();
    // Takes records from the library until limit are held.
    void TakeReceived(size_t limit);
    bool StoreReceived();
    // Writes back the outcome of the row in flight, or gives it back when it was never sent.
    bool SettleRow();
    // After the service stopped: the row in flight written back or given back, every record
    // stored; false when the store would not take them.
    bool SettleAfterStop();
    // Runs a store operation; on failure logs it, lets the connection recover and returns false.
    bool Guarded(const char* what, const std::function<void()>& operation);
    // Logs the module's family and model once the worker has set it up.
    void NoteModuleReady();
    // Logs why the service ended by itself.
    void NoteServiceEnded();
    // Notices the module going away and coming back while the library reconnects to it, and
    // counts each return.
    void WatchModule();

    const GatewayConfig& config_;
    Store& store_;
    ModemLink& modem_;
    std::optional<InFlight> inFlight_;
    // Records taken from the library and not yet stored, oldest first.
    std::deque<Received> received_;
    // Oldest first; bounded, as a network may never send a report.
    std::deque<AwaitedReport> awaited_;
    Clock::time_point nextClaim_{};
    Clock::time_point nextHeartbeat_{};
    // A store that is down is reconnected to at most this often.
    Clock::time_point nextRecovery_{};
    bool storeFailing_ = false;
    bool moduleReady_ = false;
    // The module's presence as the library's last error and its store reads show it.
    struct ModuleWatch {
        bool away = false;
        // Returns counted but not yet written (the store failed).
        int unwritten = 0;
        int32_t lastCode = 0;
        int32_t lastPolls = 0;
        int32_t pollsWhenAway = 0;
        // When the store reads last moved.
        Clock::time_point pollsMoved{};
    } watch_;
};

}  // namespace tidewire::gateway

#endif

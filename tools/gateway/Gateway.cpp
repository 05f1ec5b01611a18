#include "Gateway.h"

#include <thread>

#include "Log.h"

namespace tidewire::gateway {

namespace {

constexpr std::chrono::milliseconds kTick{100};
constexpr std::chrono::seconds kHeartbeat{5};
constexpr std::chrono::seconds kRecoveryPause{5};
// At most this many received records are held in memory while the store fails; the rest wait
// in the library's queue.
constexpr size_t kHeldRecords = 64;
// After the stop: how often a failing store is tried again before the records are given up to
// the log.
constexpr int kFinalTries = 5;
// The library's last error stays in place once the module is back, so a module that goes away
// again with the same error shows only in its store reads, which stop while the library
// reopens the port. A working module is read every cycle, and no cycle of one message comes
// near this long.
constexpr std::chrono::seconds kStalledReads{60};
// At most this many sent rows wait for their delivery reports; the oldest is given up (its
// delivery_status stays NULL) to make room.
constexpr size_t kAwaitedReports = 1000;

std::string Field(const char* bytes, size_t size) {
    size_t length = 0;
    while (length < size && bytes[length] != '\0') {
        ++length;
    }
    return std::string(bytes, length);
}

}  // namespace

bool Gateway::Guarded(const char* what, const std::function<void()>& operation) {
    try {
        operation();
        if (storeFailing_) {
            LogInfo("the store works again");
            storeFailing_ = false;
        }
        return true;
    } catch (const std::exception& failure) {
        // A store that is down fails every tick: say so once, then quietly retry.
        Log(storeFailing_ ? Priority::Debug : Priority::Error,
            std::string("cannot ") + what + ": " + failure.what());
        storeFailing_ = true;
        if (Clock::now() >= nextRecovery_) {
            store_.database().Recover();
            nextRecovery_ = Clock::now() + kRecoveryPause;
        }
        return false;
    }
}

void Gateway::ClaimAndSend() {
    std::optional<OutboxRow> row;
    const auto now = Clock::now();
    if (!Guarded("claim an outbox row",
                 [&] { row = store_.Claim(config_.name, config_.leaseSeconds); }) ||
        !row) {
        nextClaim_ = now + std::chrono::milliseconds(config_.pollMilliseconds);
        return;
    }
    const std::string label = "row " + std::to_string(row->id);
    const SendOptions options{row->longMessage, row->deliveryReport};
    if ((options.longMessage || options.deliveryReport) && !moduleReady_) {
        // Whether the module can honour the options is known once its family is: until then
        // the row waits.
        Guarded("give the row back", [&] { store_.Release(row->id, config_.name); });
        nextClaim_ = now + std::chrono::milliseconds(config_.pollMilliseconds);
        return;
    }
    if (row->attempts > 1) {
        LogWarning(label + ": claimed again after its lease ran out (claim " +
                   std::to_string(row->attempts) +
                   "); the gateway that had it may have sent it already");
    }
    SendFailure failure;
    const int32_t id = modem_.Send(row->text, row->recipient, options, failure);
    LogDebug(label + ": claimed, to " + row->recipient + ", library id " + std::to_string(id));
    InFlight flight;
    flight.row = std::move(*row);
    flight.messageId = id;
    flight.renewAt = now + std::chrono::seconds(config_.leaseSeconds) / 3;
    inFlight_ = std::move(flight);
    if (id >= 0) {
        return;
    }
    if (!modem_.Running()) {
        // Not the message's fault: the service has ended, and the row goes back for another
        // gateway (or this one after its restart).
        Guarded("give the row back", [&] { store_.Release(inFlight_->row.id, config_.name); });
        inFlight_.reset();
        return;
    }
    inFlight_->sent = false;
    inFlight_->outcome = failure.outcome;
    inFlight_->reason = failure.reason;
    WriteOutcome();
}

void Gateway::FollowSend() {
    if (inFlight_->sent) {
        WriteOutcome();
        return;
    }
    SendFailure failure;
    const SendState state = modem_.Outcome(inFlight_->messageId, failure);
    if (state == SendState::Pending) {
        const auto now = Clock::now();
        if (now < inFlight_->renewAt) {
            return;
        }
        bool ours = true;
        if (Guarded("renew the lease", [&] {
                ours = store_.RenewLease(inFlight_->row.id, config_.name, config_.leaseSeconds);
            })) {
            if (!ours) {
                LogWarning("row " + std::to_string(inFlight_->row.id) +
                           ": lost to another gateway while still sending it");
            }
            inFlight_->renewAt = now + std::chrono::seconds(config_.leaseSeconds) / 3;
        } else {
            inFlight_->renewAt = now + std::chrono::seconds(1);
        }
        return;
    }
    modem_.SendSettled();
    inFlight_->sent = state == SendState::Sent;
    inFlight_->outcome = state == SendState::Sent ? "sent" : failure.outcome;
    inFlight_->reason = failure.reason;
    if (*inFlight_->sent && inFlight_->row.deliveryReport) {
        if (awaited_.size() >= kAwaitedReports) {
            LogWarning("row " + std::to_string(awaited_.front().rowId) +
                       ": no delivery report after " + std::to_string(kAwaitedReports) +
                       " later messages; its delivery stays unknown");
            awaited_.pop_front();
        }
        awaited_.push_back({inFlight_->row.id, inFlight_->messageId});
    }
    WriteOutcome();
}

void Gateway::FollowDeliveries() {
    for (auto entry = awaited_.begin(); entry != awaited_.end();) {
        const int32_t delivery = modem_.Delivery(entry->messageId);
        if (delivery < 0 || !Guarded("write a delivery", [&] {
                store_.RecordDelivery(entry->rowId, config_.name, delivery == 1);
            })) {
            ++entry;
            continue;
        }
        LogDebug("row " + std::to_string(entry->rowId) +
                 (delivery == 1 ? ": delivered" : ": not delivered"));
        entry = awaited_.erase(entry);
    }
    // The row being sent may have asked for a report too.
    const bool sending = inFlight_ && inFlight_->row.deliveryReport && inFlight_->messageId >= 0;
    modem_.AwaitReports(!awaited_.empty() || sending);
}

bool Gateway::WriteOutcome() {
    InFlight& flight = *inFlight_;
    bool ours = true;
    if (!Guarded("write an outcome", [&] {
            ours = store_.Finish(flight.row.id, config_.name, *flight.sent, flight.outcome,
                                 flight.messageId);
        })) {
        return false;
    }
    const std::string label = "row " + std::to_string(flight.row.id);
    if (!ours) {
        LogWarning(label +
                   ": its lease ran out and another gateway took it over, so it may "
                   "be sent twice; this gateway's outcome: " +
                   flight.outcome);
    } else if (*flight.sent) {
        LogDebug(label + ": sent to " + flight.row.recipient);
    } else {
        LogInfo(label + ": failed to " + flight.row.recipient + ": " +
                tools::ErrorLine(flight.reason));
    }
    inFlight_.reset();
    nextClaim_ = Clock::now();
    return true;
}

void Gateway::TakeReceived(size_t limit) {
    ReceivedMessage message;
    int32_t receipt = 0;
    while (received_.size() < limit && modem_.TakeReceived(message, receipt)) {
        Received entry;
        entry.record.text = Field(message.text, sizeof message.text);
        entry.record.sender = Field(message.sender, sizeof message.sender);
        entry.record.networkTime = Field(message.timestamp, sizeof message.timestamp);
        entry.receipt = receipt;
        LogDebug("received from " + entry.record.sender);
        received_.push_back(std::move(entry));
    }
}

bool Gateway::StoreReceived() {
    while (!received_.empty()) {
        const Received& entry = received_.front();
        if (!Guarded("store a received message",
                     [&] { store_.StoreReceived(entry.record, config_.name); })) {
            return false;
        }
        modem_.Acknowledge(entry.receipt);
        received_.pop_front();
    }
    return true;
}

bool Gateway::SettleRow() {
    if (!inFlight_) {
        return true;
    }
    if (inFlight_->sent) {
        return WriteOutcome();
    }
    const int64_t id = inFlight_->row.id;
    if (!Guarded("give the row back", [&] { store_.Release(id, config_.name); })) {
        return false;
    }
    LogInfo("row " + std::to_string(id) + ": given back unsent");
    inFlight_.reset();
    return true;
}

bool Gateway::SettleAfterStop() {
    if (inFlight_ && !inFlight_->sent) {
        SendFailure failure;
        const SendState state = modem_.Outcome(inFlight_->messageId, failure);
        // Still pending after the stop: the worker ended before the module took the message,
        // so it was never sent and SettleRow gives it back.
        if (state != SendState::Pending) {
            inFlight_->sent = state == SendState::Sent;
            inFlight_->outcome = state == SendState::Sent ? "sent" : failure.outcome;
            inFlight_->reason = failure.reason;
        }
        modem_.SendSettled();
    }
    // The stop has waited for the worker, so its last listing is queued whole: everything is
    // taken now, and nothing more can come to wait for.
    const size_t held = received_.size();
    TakeReceived(SIZE_MAX);
    const int32_t polls = modem_.ReceivePolls();
    LogInfo("the module's store was read " + std::to_string(polls) +
            (polls == 1 ? " time; " : " times; ") + std::to_string(received_.size() - held) +
            " messages taken after the stop" +
            (polls == 0 ? " (messages still in the module stay there)" : ""));
    for (int attempt = 1; attempt <= kFinalTries; ++attempt) {
        nextRecovery_ = Clock::time_point{};
        const bool rowSettled = SettleRow();
        if (StoreReceived() && rowSettled) {
            return true;
        }
        if (attempt < kFinalTries) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    // The store stayed down: the log is the last place these can be kept.
    if (inFlight_) {
        LogError("row " + std::to_string(inFlight_->row.id) + " not written back; outcome: " +
                 (inFlight_->sent ? inFlight_->outcome : std::string("not sent")));
    }
    for (const Received& entry : received_) {
        LogError("received message not stored: from " + entry.record.sender + " at " +
                 entry.record.networkTime + ": " + entry.record.text);
    }
    return false;
}

void Gateway::NoteModuleReady() {
    std::string model;
    const int32_t family = modem_.Module(model);
    if (family == 0) {
        return;
    }
    moduleReady_ = true;
    LogInfo("module ready: family " + std::to_string(family) + " (" + tools::FamilyName(family) +
            "), model " + (model.empty() ? "not given" : model));
    // A set-up step whose failure does not end the service leaves its text.
    const tools::ErrorReport warning = modem_.LastError();
    if (warning.code != TIDEWIRE_ERROR_NONE) {
        LogWarning(tools::ErrorLine(warning));
    }
}

void Gateway::NoteServiceEnded() {
    const tools::ErrorReport reason = modem_.LastError();
    const std::string what =
        moduleReady_ ? "the modem's service ended" : "the module could not be initialised";
    LogError(reason.code == TIDEWIRE_ERROR_NONE ? what : what + ": " + tools::ErrorLine(reason));
}

void Gateway::WatchModule() {
    const tools::ErrorReport error = modem_.LastError();
    const int32_t polls = modem_.ReceivePolls();
    const auto now = Clock::now();
    if (polls != watch_.lastPolls) {
        watch_.lastPolls = polls;
        watch_.pollsMoved = now;
    }
    const bool lost =
        error.code == TIDEWIRE_ERROR_PORT_OPEN_FAILED || error.code == TIDEWIRE_ERROR_NO_ANSWER;
    if (watch_.away) {
        if (polls != watch_.pollsWhenAway) {
            watch_.away = false;
            ++watch_.unwritten;
            LogInfo("the module is back");
        }
    } else if (moduleReady_ && lost &&
               (error.code != watch_.lastCode || now - watch_.pollsMoved >= kStalledReads)) {
        // Only after the set-up: a module that is missing at the start is not a return.
        watch_.away = true;
        watch_.pollsWhenAway = polls;
        LogWarning("the module is away, the library keeps reopening it: " +
                   tools::ErrorLine(error));
    }
    watch_.lastCode = error.code;
    if (watch_.unwritten > 0 && Guarded("count a reconnect", [&] {
            store_.CountReconnects(config_.name, watch_.unwritten);
        })) {
        watch_.unwritten = 0;
    }
}

int Gateway::Run(const std::function<bool(std::chrono::milliseconds)>& stopRequested) {
    bool serviceEnded = false;
    watch_.pollsMoved = Clock::now();
    while (!stopRequested(kTick)) {
        if (!moduleReady_) {
            NoteModuleReady();
        }
        WatchModule();
        TakeReceived(kHeldRecords);
        StoreReceived();
        if (inFlight_) {
            FollowSend();
        } else if (Clock::now() >= nextClaim_) {
            ClaimAndSend();
        }
        FollowDeliveries();
        if (Clock::now() >= nextHeartbeat_) {
            Guarded("update the counters", [&] { store_.Heartbeat(config_.name); });
            nextHeartbeat_ = Clock::now() + kHeartbeat;
        }
        if (!modem_.Running()) {
            NoteServiceEnded();
            serviceEnded = true;
            break;
        }
    }
    modem_.Stop();
    const bool settled = SettleAfterStop();
    Guarded("update the counters", [&] { store_.Heartbeat(config_.name); });
    return serviceEnded || !settled ? 1 : 0;
}

}  // namespace tidewire::gateway

#include "ModemLink.h"

namespace tidewire::gateway {

ModemLink::~ModemLink() {
    Stop();
    if (traced_) {
        library_.setTraceFile(nullptr);
    }
}

bool ModemLink::Load(const std::string& path, std::string& error) {
    return library_.Load(path, error);
}

bool ModemLink::Start(const GatewayConfig& config, std::string& error) {
    if (!config.modem.trace.empty()) {
        if (library_.setTraceFile(config.modem.trace.c_str()) != 1) {
            error = "cannot open the trace file " + config.modem.trace;
            return false;
        }
        traced_ = true;
    }
    if (library_.Start(config.modem) != 1) {
        error = library_.LastError();
        return false;
    }
    started_ = true;
    return true;
}

void ModemLink::Stop() {
    if (started_) {
        library_.stopService();
        started_ = false;
    }
}

bool ModemLink::Running() const {
    return started_ && library_.serviceStarted() != 0;
}

int32_t ModemLink::Send(const std::string& text, const std::string& number, std::string& error) {
    // The last-error text stays in place across successes, so a failure is known to have a
    // text of its own only when the text changed.
    errorBeforeSend_ = library_.LastError();
    const int32_t id = library_.sendMessage(text.c_str(), number.c_str());
    if (id < 0) {
        error = library_.LastError();
    }
    return id;
}

SendState ModemLink::Outcome(int32_t id, std::string& error) {
    // The outcome is read with SMSQuery; the reports only repeat it, and are taken so that
    // their queue stays empty.
    OutgoingMessage report;
    while (library_.report(reinterpret_cast<char*>(&report)) == 1) {
    }
    switch (library_.query(id)) {
        case 1:
            return SendState::Sent;
        case 0:
            error = library_.LastError();
            if (error.empty() || error == errorBeforeSend_) {
                error = "refused by the module";
            }
            return SendState::Failed;
        default:
            return SendState::Pending;
    }
}

bool ModemLink::TakeReceived(ReceivedMessage& record, int32_t& receipt) {
    receipt = 0;
    return library_.getNextMessage(reinterpret_cast<char*>(&record)) == 1;
}

void ModemLink::Acknowledge(int32_t receipt) {
    // The library has deleted the message from the module already; nothing to tell it.
    static_cast<void>(receipt);
}

}  // namespace tidewire::gateway

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

bool ModemLink::Start(const GatewayConfig& config, tools::ErrorReport& error) {
    const tools::ModemSettings& modem = config.modem;
    device_ = modem.port != 0 ? "/dev/ttyS" + std::to_string(modem.port - 1) : modem.device;
    if (!modem.trace.empty()) {
        if (library_.setTraceFile(modem.trace.c_str()) != 1) {
            error = tools::DescribeOwnError("cannot open the trace file " + modem.trace);
            return false;
        }
        traced_ = true;
    }
    if (library_.Start(modem) != 1) {
        error = LastError();
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

tools::ErrorReport ModemLink::LastError() const {
    const int32_t code = library_.getLastErrorCode();
    if (code == TIDEWIRE_ERROR_NONE) {
        return tools::ErrorReport{};
    }
    return tools::DescribeLibraryError(code, library_.LastError(), device_);
}

int32_t ModemLink::Module(std::string& model) const {
    char text[64] = {};
    const int32_t family = library_.getModuleInfo(text, static_cast<int32_t>(sizeof text));
    model = text;
    return family;
}

int32_t ModemLink::Send(const std::string& text, const std::string& number, SendFailure& failure) {
    // The last error stays in place across successes, so a failure is known to have a text of
    // its own only when the number changed.
    codeBeforeSend_ = library_.getLastErrorCode();
    const int32_t id = library_.sendMessage(text.c_str(), number.c_str());
    if (id < 0) {
        failure.reason = LastError();
        failure.outcome = failure.reason.text;
    }
    return id;
}

SendState ModemLink::Outcome(int32_t id, SendFailure& failure) {
    // The outcome is read with SMSQuery; the reports only repeat it, and are taken so that
    // their queue stays empty.
    OutgoingMessage report;
    while (library_.report(reinterpret_cast<char*>(&report)) == 1) {
    }
    switch (library_.query(id)) {
        case 1:
            return SendState::Sent;
        case 0:
            break;
        default:
            return SendState::Pending;
    }
    const char* const refused = "refused by the module";
    switch (tools::WhyMessageFailed(codeBeforeSend_, library_.getLastErrorCode())) {
        case tools::MessageFailure::Library:
            failure.reason = LastError();
            failure.outcome = failure.reason.text;
            break;
        case tools::MessageFailure::Module:
            failure.reason = tools::DescribeOwnError(refused);
            failure.outcome = refused;
            break;
        case tools::MessageFailure::Either: {
            // The library gives no text of its own to a refusal, and the one in place may be
            // the message before this one's: both are said, rather than one of them guessed.
            const std::string prefix = std::string(refused) + ", or like the message before it: ";
            failure.reason = LastError();
            failure.reason.english = prefix + failure.reason.english;
            failure.outcome = prefix + failure.reason.text;
            break;
        }
    }
    return SendState::Failed;
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

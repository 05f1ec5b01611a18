#include "ModemLink.h"

#include <dlfcn.h>

#include <chrono>
#include <thread>

#include "Log.h"

namespace tidewire::gateway {

ModemLink::~ModemLink() {
    Stop();
    if (traced_) {
        library_.setTraceFile(nullptr);
    }
    if (holdHandle_ != nullptr) {
        dlclose(holdHandle_);
    }
}

bool ModemLink::Load(const std::string& path, std::string& error) {
    if (!library_.Load(path, error)) {
        return false;
    }
    ResolveHoldExports(path);
    return true;
}

void ModemLink::ResolveHoldExports(const std::string& path) {
    // The library is loaded already: this only takes another reference to it.
    holdHandle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (holdHandle_ != nullptr) {
        setOption_ = reinterpret_cast<decltype(setOption_)>(dlsym(holdHandle_, "SMSSetOption"));
        getNextMessageEx_ = reinterpret_cast<decltype(getNextMessageEx_)>(
            dlsym(holdHandle_, "SMSGetNextMessageEx"));
        acknowledgeMessage_ = reinterpret_cast<decltype(acknowledgeMessage_)>(
            dlsym(holdHandle_, "SMSAcknowledgeMessage"));
    }
    if (setOption_ == nullptr || getNextMessageEx_ == nullptr || acknowledgeMessage_ == nullptr) {
        LogWarning("the library " + path +
                   " cannot keep received messages in the module until they are stored (it "
                   "lacks SMSGetNextMessageEx or SMSAcknowledgeMessage): a message taken just "
                   "before the gateway is killed may be lost");
        setOption_ = nullptr;
        getNextMessageEx_ = nullptr;
        acknowledgeMessage_ = nullptr;
    }
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
    // Set before every start: the option outlives a stop, and a start may follow one.
    if (setOption_ != nullptr && setOption_("hold-received", 1) != 1) {
        LogWarning(
            "the library refused the option hold-received: received messages leave the "
            "module before they are stored");
    }
    if (library_.Start(modem) != 1) {
        error = LastError();
        return false;
    }
    started_ = true;
    acknowledgedAtPoll_ = -1;
    return true;
}

void ModemLink::Stop() {
    if (!started_) {
        return;
    }
    // The worker deletes an acknowledged message at the start of a receive step; the step that
    // was under way at the acknowledgement may have passed that point, the one after it has not.
    if (acknowledgedAtPoll_ >= 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (library_.serviceStarted() != 0 &&
               library_.getReceivePolls() < acknowledgedAtPoll_ + 2 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    library_.stopService();
    started_ = false;
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

bool ModemLink::Switch(const char* name, bool on, bool& state) {
    if (state == on) {
        return true;
    }
    if (library_.setOption == nullptr || library_.setOption(name, on ? 1 : 0) != 1) {
        return false;
    }
    state = on;
    return true;
}

int32_t ModemLink::Send(const std::string& text, const std::string& number,
                        const SendOptions& options, SendFailure& failure) {
    const auto refuse = [&](const std::string& why) {
        failure.reason = tools::DescribeOwnError(why);
        failure.outcome = why;
        SendSettled();
        AwaitReports(awaitingReports_);
        return -1;
    };
    if ((options.longMessage || options.deliveryReport) && library_.setOption == nullptr) {
        return refuse(std::string("not sent: the library cannot send ") +
                      (options.longMessage ? "long messages" : "with delivery reports") +
                      " (it has no SMSSetOption)");
    }
    if (options.deliveryReport && library_.queryDelivery == nullptr) {
        return refuse("not sent: the library cannot tell deliveries (it has no SMSQueryDelivery)");
    }
    // Refused only by a module family that cannot honour the option, such as a CDMA module.
    std::string model;
    const std::string family = tools::FamilyName(Module(model));
    if (!Switch("long-messages", options.longMessage, longMessages_)) {
        return refuse("not sent: the module (" + family + ") cannot send long messages");
    }
    if (!Switch("delivery-reports", options.deliveryReport, deliveryReports_)) {
        return refuse("not sent: the module (" + family + ") cannot ask for delivery reports");
    }
    // The last error stays in place across successes, so a failure is known to have a text of
    // its own only when the number changed.
    codeBeforeSend_ = library_.getLastErrorCode();
    const int32_t id = library_.sendMessage(text.c_str(), number.c_str());
    if (id < 0) {
        failure.reason = LastError();
        failure.outcome = failure.reason.text;
        SendSettled();
    }
    // The message has taken its request for a report with it; the option stays on while the
    // report can still come.
    AwaitReports(awaitingReports_ || (options.deliveryReport && id >= 0));
    return id;
}

void ModemLink::SendSettled() {
    // Switching an option off is never refused.
    Switch("long-messages", false, longMessages_);
}

void ModemLink::AwaitReports(bool awaiting) {
    awaitingReports_ = awaiting;
    Switch("delivery-reports", awaiting, deliveryReports_);
}

int32_t ModemLink::Delivery(int32_t id) const {
    return library_.queryDelivery != nullptr ? library_.queryDelivery(id) : -1;
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
    if (getNextMessageEx_ != nullptr) {
        return getNextMessageEx_(reinterpret_cast<char*>(&record), &receipt) == 1;
    }
    return library_.getNextMessage(reinterpret_cast<char*>(&record)) == 1;
}

void ModemLink::Acknowledge(int32_t receipt) {
    // 0: the library has deleted the message from the module already.
    if (receipt == 0 || acknowledgeMessage_ == nullptr) {
        return;
    }
    if (acknowledgeMessage_(receipt) != 1) {
        // Harmless for what is stored, but a sign that the gateway and the library disagree.
        LogWarning("the library did not know receipt " + std::to_string(receipt) +
                   " of a stored message");
    } else if (started_) {
        acknowledgedAtPoll_ = library_.getReceivePolls();
    }
}

}  // namespace tidewire::gateway

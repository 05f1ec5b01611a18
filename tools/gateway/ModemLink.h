// The gateway's side of the library: loaded by file name as any host loads it, started on the
// configured line, and asked for outcomes, received records and what it knows of the module.
//
// Received records pass through a seam: TakeReceived hands out a record with a receipt, and the
// gateway calls Acknowledge with that receipt once the record is in the store. Start switches
// on the library's "hold-received" option, under which the library leaves each message in the
// module until its record is acknowledged, so a gateway killed before its commit finds the
// message again after its restart. A library without the option deletes a message as soon as
// it has queued the record: the receipt is then 0 and Acknowledge does nothing.
//
// The library's "long-messages" and "delivery-reports" options are switched per message: the
// first is read by the worker as it sends, so it stays as the message asked until its outcome is
// known (SendSettled puts it back off, so received parts are not held back for joining between
// sends); the second is read as the message is queued, and stays on afterwards only while a
// report is awaited, since the worker takes reports from the module only while it is on.
#ifndef TIDEWIRE_TOOLS_GATEWAY_MODEMLINK_H
#define TIDEWIRE_TOOLS_GATEWAY_MODEMLINK_H

#include <cstdint>
#include <string>

#include "GatewayConfig.h"
#include "common/ErrorReport.h"
#include "common/TidewireLibrary.h"

namespace tidewire::gateway {

enum class SendState { Pending, Sent, Failed };

// What a message asks of the library beyond a plain send.
struct SendOptions {
    bool longMessage = false;
    bool deliveryReport = false;
};

// Why a message failed.
struct SendFailure {
    // For the outbox: the library's text, or "refused by the module" where it has none.
    std::string outcome;
    // For the log: the English sentence and what to do, with the library's number and text.
    tools::ErrorReport reason;
};

class ModemLink {
  public:
    ModemLink() = default;
    ~ModemLink();
    ModemLink(const ModemLink&) = delete;
    ModemLink& operator=(const ModemLink&) = delete;

    // Loads the library; false with the reason in error.
    bool Load(const std::string& path, std::string& error);

    // Turns the trace on when asked and starts the service; false with the reason.
    bool Start(const GatewayConfig& config, tools::ErrorReport& error);

    // Stops the service. The library's stop returns once its worker has ended, so every record
    // the worker took from the module is queued by then and can be taken without waiting. While
    // messages are held, it first lets the worker delete those already acknowledged (a few
    // seconds at most), so that a clean stop does not hand them out again after the restart.
    void Stop();

    bool Running() const;

    // The library's last error on this modem's device; code 0 when there is none.
    tools::ErrorReport LastError() const;

    // The module's family once the worker has set it up, else 0; model gets the model text the
    // module gave at the start.
    int32_t Module(std::string& model) const;

    // How many times the worker has read the module's store since the start.
    int32_t ReceivePolls() const { return library_.getReceivePolls(); }

    // Queues a message with the options it asks for: the library's id, or -1 with the reason
    // in failure (also when the library or the module cannot honour an option: the message is
    // then not sent at all rather than sent differently).
    int32_t Send(const std::string& text, const std::string& number, const SendOptions& options,
                 SendFailure& failure);

    // Once the outcome of the latest message is known: puts "long-messages" back off.
    void SendSettled();

    // Keeps "delivery-reports" on while reports of sent messages are awaited, else off.
    void AwaitReports(bool awaiting);

    // The delivery of a message by its status reports: 1 delivered, 0 failed, -1 not known yet.
    int32_t Delivery(int32_t id) const;

    // The outcome of a message; failure says why a failed one failed. Takes the report records
    // as they come so that the library's report queue never fills up.
    SendState Outcome(int32_t id, SendFailure& failure);

    // Takes the oldest received record; false when none waits.
    bool TakeReceived(ReceivedMessage& record, int32_t& receipt);

    // Tells the library the record with this receipt is stored.
    void Acknowledge(int32_t receipt);

  private:
    // Resolves the exports of the acknowledgement extension on the loaded library, or leaves
    // them null (with a warning) when it has none.
    void ResolveHoldExports(const std::string& path);
    // Sets an option to on or off unless it is so already; false when the library refused it.
    bool Switch(const char* name, bool on, bool& state);

    tools::TidewireLibrary library_;
    // The extension's exports, taken from the same loaded library; null when it lacks them.
    void* holdHandle_ = nullptr;
    decltype(&SMSSetOption) setOption_ = nullptr;
    decltype(&SMSGetNextMessageEx) getNextMessageEx_ = nullptr;
    decltype(&SMSAcknowledgeMessage) acknowledgeMessage_ = nullptr;
    // The worker's count of receive steps when a record was last acknowledged; -1 when none
    // was since the start.
    int32_t acknowledgedAtPoll_ = -1;
    std::string device_;
    // The last-error number just before the latest message was queued.
    int32_t codeBeforeSend_ = 0;
    bool started_ = false;
    bool traced_ = false;
    // The per-message options as this gateway last set them; both start off in the library.
    bool longMessages_ = false;
    bool deliveryReports_ = false;
    bool awaitingReports_ = false;
};

}  // namespace tidewire::gateway

#endif

// The gateway's side of the library: loaded by file name as any host loads it, started on the
// configured line, and asked for outcomes and received records.
//
// Received records pass through a seam: TakeReceived hands out a record with a receipt, and the
// gateway calls Acknowledge with that receipt once the record is in the store. Today the
// library deletes a message from the module as soon as it has queued the record, so the
// receipt is always 0 and Acknowledge does nothing; with the library's acknowledgement option
// (docs/gateway.md) these two calls are the only place that changes.
#ifndef TIDEWIRE_TOOLS_GATEWAY_MODEMLINK_H
#define TIDEWIRE_TOOLS_GATEWAY_MODEMLINK_H

#include <cstdint>
#include <string>

#include "GatewayConfig.h"
#include "common/TidewireLibrary.h"

namespace tidewire::gateway {

enum class SendState { Pending, Sent, Failed };

class ModemLink {
  public:
    ModemLink() = default;
    ~ModemLink();
    ModemLink(const ModemLink&) = delete;
    ModemLink& operator=(const ModemLink&) = delete;

    // Loads the library; false with the reason in error.
    bool Load(const std::string& path, std::string& error);

    // Turns the trace on when asked and starts the service; false with the library's reason.
    bool Start(const GatewayConfig& config, std::string& error);

    // Stops the service; the worker finishes the dialogue it is in first. Records and outcomes
    // can still be taken afterwards.
    void Stop();

    bool Running() const;

    std::string LastError() const { return library_.LastError(); }

    // Queues a message: the library's id, or -1 with the library's reason in error.
    int32_t Send(const std::string& text, const std::string& number, std::string& error);

    // The outcome of a message. For a failed one, error is the library's last-error text when
    // it changed since the message was queued; a message the module refused has no text of its
    // own, and the text then says so. Takes the report records as they come so that the
    // library's report queue never fills up.
    SendState Outcome(int32_t id, std::string& error);

    // Takes the oldest received record; false when none waits.
    bool TakeReceived(ReceivedMessage& record, int32_t& receipt);

    // Tells the library the record with this receipt is stored.
    void Acknowledge(int32_t receipt);

  private:
    tools::TidewireLibrary library_;
    std::string errorBeforeSend_;
    bool started_ = false;
    bool traced_ = false;
};

}  // namespace tidewire::gateway

#endif

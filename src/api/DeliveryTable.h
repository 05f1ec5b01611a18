// What became of the messages that asked for status reports, by id: the reference the module
// gave each of their parts, and what the network's reports said about each. The host's thread
// makes every slot when it queues a message, so the worker records references and reports
// without allocating.
#ifndef TIDEWIRE_API_DELIVERYTABLE_H
#define TIDEWIRE_API_DELIVERYTABLE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/Pdu.h"
#include "family/ModuleFamily.h"

namespace tidewire {

class DeliveryTable {
  public:
    // --- The host's thread -------------------------------------------------------------------
    // Makes the slot of id, which asks for status reports. Allocates, and may throw: call it
    // before the id is handed out.
    void Add(int32_t id);
    // 1 delivered (every part), 0 failed or expired (one part is enough, or the message was not
    // sent), -1 not known yet, or never asked for.
    int32_t Get(int32_t id) const;

    // --- The worker ----------------------------------------------------------------------------
    bool Wanted(int32_t id) const;
    // What the send of id came to: the parts the module accepted with their references, and
    // whether the whole message went. The recipient is the number as it was sent.
    void Sent(int32_t id, const char* recipient, const SendRecord& parts, bool sent);
    // Finds the part the report is about, among the messages still waiting, by its reference and
    // recipient, and records the outcome. True when one was found.
    bool Match(const StatusReport& report);

    // Empty, for a start-up: ids count from 0 again.
    void Reset();

  private:
    enum class State : uint8_t { NotAsked, Asked, Waiting, Finished };
    struct Entry {
        State state = State::NotAsked;
        bool sent = false;
        uint8_t partCount = 0;
        int16_t references[kMostSubmitParts] = {};
        int8_t outcomes[kMostSubmitParts] = {};  // -1 waiting, 0 failed, 1 delivered
        char recipient[32] = {};
    };

    std::vector<Entry> entries_;
    // Ids whose parts still wait for a report, oldest first. Add keeps room for every id asked
    // for, so the worker's appends never allocate.
    std::vector<int32_t> waiting_;
    size_t asked_ = 0;
};

// Whether a report's recipient is the number a message went to: the same digits, or the same
// number with and without its country code (a network may give either form back).
bool SameRecipient(const char* sent, const char* reported);

}  // namespace tidewire

#endif

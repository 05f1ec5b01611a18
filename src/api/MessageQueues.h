// The queues between the host's threads and the worker: messages waiting to be sent, the
// reports of finished ones with their outcomes by id, and received messages. Every call takes
// the lock of what it touches, so the host's calls and the worker never see half an update.
#ifndef TIDEWIRE_API_MESSAGEQUEUES_H
#define TIDEWIRE_API_MESSAGEQUEUES_H

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "api/DeliveryTable.h"
#include "api/RecordQueue.h"
#include "family/ModuleFamily.h"
#include "tidewire_records.h"

namespace tidewire {

class MessageQueues final : public Inbox, public DeliveryLog {
  public:
    MessageQueues() = default;
    MessageQueues(const MessageQueues&) = delete;
    MessageQueues& operator=(const MessageQueues&) = delete;

    // --- The service -------------------------------------------------------------------------
    // Fresh queues for a start-up, with room for a usual depth, so the worker's first cycles do
    // not allocate; whatever an earlier run left unread is given back. Ids count from 0 again.
    void Reset();
    // Messages are accepted only while the service runs: none is taken by a start-up in
    // progress and then discarded by it, nor after the worker has ended.
    void SetAccepting(bool accepting);

    // --- The host's calls --------------------------------------------------------------------
    // Queues the message under the next id and returns it; -1 when messages are not accepted.
    // A message that wants a report gets its slot among the deliveries.
    int32_t Accept(OutgoingMessage message, bool wantsReport = false);
    // Copies the oldest report into buffer (sizeof(OutgoingMessage) bytes) and drops it; false
    // when there is none, the buffer then untouched.
    bool TakeReport(char* buffer);
    // 1 sent, 0 failed, -1 pending or never issued.
    int32_t Query(int32_t id);
    // 1 delivered, 0 failed or expired, -1 not known (yet); see DeliveryTable.
    int32_t QueryDelivery(int32_t id);
    // Copies the oldest received message into buffer (sizeof(ReceivedMessage) bytes) and drops
    // it; false when there is none, the buffer then untouched. A record held for the host is
    // acknowledged at once, unless receipt is given: it then gets the record's receipt (0 for
    // a record that is not held) and the record waits for Acknowledge.
    bool TakeReceived(char* buffer, int32_t* receipt = nullptr);
    // 1 when the receipt was handed out and not acknowledged yet, or belongs to a run before
    // the latest start-up (nothing is left to do for it); 0 otherwise.
    int32_t Acknowledge(int32_t receipt);

    // --- The worker ----------------------------------------------------------------------------
    size_t RoomToHold() override;
    bool Acknowledged(int32_t first, int32_t last) override;
    bool HasOutgoing();
    // A copy of the oldest queued message; false when none is queued. It stays queued until
    // Finish, so a send that fails half-way leaves it for the next cycle.
    bool PeekOutgoing(OutgoingMessage& message);
    // Records the outcome of the oldest message and moves its report (message, as the worker
    // left it) to the reports.
    void Finish(const OutgoingMessage& message, bool sent);
    // Whether message id asked for status reports; and, once it is sent, the references of its
    // parts, to the number it went to.
    bool ReportWanted(int32_t id);
    void RecordParts(int32_t id, const char* recipient, const SendRecord& parts, bool sent);
    bool Match(const StatusReport& report) override;

    // --- Tests and tools -----------------------------------------------------------------------
    size_t OutgoingCount();
    // Drops the newest queued messages beyond the first `keep`; their ids stay issued and
    // pending. For benchmarks that hold a queue at one depth.
    void DropNewestOutgoing(size_t keep);

    // Receipts out at once, at most: enough for the longest text a joined message can give,
    // in records, with room to spare.
    static constexpr size_t kMostReceipts = 512;

  private:
    // A received record, with its receipt where it is held for the host (else 0).
    struct QueuedRecord {
        ReceivedMessage record;
        int32_t receipt;
    };
    // A receipt the host has not acknowledged yet.
    struct OpenReceipt {
        int32_t receipt;
        bool handedOut;
    };

    void Take(const ReceivedMessage& record) override;
    int32_t TakeHeld(const ReceivedMessage& record) override;
    // The slot of an open receipt, or null.
    OpenReceipt* FindReceipt(int32_t receipt);

    // Guards outgoing_, reports_, results_, deliveries_, nextId_ and accepting_. Taken before
    // receivedLock_ when both are needed.
    std::mutex queueLock_;
    // Room for reports_.size() + outgoing_.size() records is kept in reports_, so the worker's
    // move of a finished message never allocates.
    RecordQueue<OutgoingMessage> outgoing_;
    RecordQueue<OutgoingMessage> reports_;
    ResultTable results_;
    DeliveryTable deliveries_;
    int32_t nextId_ = 0;
    bool accepting_ = false;
    // Guards received_ and the receipts.
    std::mutex receivedLock_;
    RecordQueue<QueuedRecord> received_;
    // A fixed table, so the worker holds a record without allocating; a slot is free when its
    // receipt is 0. Receipts count on across start-ups, so a host never takes one of an earlier
    // run for a record of this one.
    OpenReceipt receipts_[kMostReceipts] = {};
    size_t openReceipts_ = 0;
    int32_t nextReceipt_ = 1;
    int32_t firstReceiptOfRun_ = 1;
};

}  // namespace tidewire

#endif

#include "api/MessageQueues.h"

#include <cstdint>
#include <cstring>

namespace tidewire {

namespace {

// Queued records a host usually leaves between two of its polls.
constexpr size_t kUsualQueueDepth = 64;

// Copies the oldest record of queue into buffer and drops it.
template <class Record>
bool TakeOldest(std::mutex& lock, RecordQueue<Record>& queue, char* buffer) {
    if (buffer == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> hold(lock);
    if (queue.empty()) {
        return false;
    }
    std::memcpy(buffer, &queue.front(), sizeof(Record));
    queue.pop_front();
    return true;
}

}  // namespace

void MessageQueues::Reset() {
    std::lock_guard<std::mutex> holdQueues(queueLock_);
    std::lock_guard<std::mutex> holdReceived(receivedLock_);
    outgoing_.Reset(kUsualQueueDepth);
    reports_.Reset(kUsualQueueDepth);
    results_.Reset();
    deliveries_.Reset();
    received_.Reset(kUsualQueueDepth);
    // The records given back leave their messages in the module, which hands them out again;
    // receipts taken before, and never acknowledged, are of no further concern.
    for (OpenReceipt& open : receipts_) {
        open = OpenReceipt{0, false};
    }
    openReceipts_ = 0;
    firstReceiptOfRun_ = nextReceipt_;
    nextId_ = 0;
}

void MessageQueues::SetAccepting(bool accepting) {
    std::lock_guard<std::mutex> hold(queueLock_);
    accepting_ = accepting;
}

int32_t MessageQueues::Accept(OutgoingMessage message, bool wantsReport) {
    std::lock_guard<std::mutex> hold(queueLock_);
    if (!accepting_) {
        return -1;
    }
    // All the room the message needs is made before it is given an id: an allocation that
    // fails leaves nothing queued and no id used, so a host told -1 that sends it again does not
    // have it sent twice.
    outgoing_.reserve(outgoing_.size() + 1);
    results_.Reserve(nextId_);
    reports_.reserve(reports_.size() + outgoing_.size() + 1);
    // So is the slot for its status reports.
    if (wantsReport) {
        deliveries_.Add(nextId_);
    }
    message.id = nextId_++;
    outgoing_.push_back(message);
    results_.Add(message.id);
    return message.id;
}

bool MessageQueues::TakeReport(char* buffer) {
    return TakeOldest(queueLock_, reports_, buffer);
}

int32_t MessageQueues::Query(int32_t id) {
    std::lock_guard<std::mutex> hold(queueLock_);
    return results_.Get(id);
}

int32_t MessageQueues::QueryDelivery(int32_t id) {
    std::lock_guard<std::mutex> hold(queueLock_);
    return deliveries_.Get(id);
}

bool MessageQueues::ReportWanted(int32_t id) {
    std::lock_guard<std::mutex> hold(queueLock_);
    return deliveries_.Wanted(id);
}

void MessageQueues::RecordParts(int32_t id, const char* recipient, const SendRecord& parts,
                                bool sent) {
    std::lock_guard<std::mutex> hold(queueLock_);
    deliveries_.Sent(id, recipient, parts, sent);
}

bool MessageQueues::Match(const StatusReport& report) {
    std::lock_guard<std::mutex> hold(queueLock_);
    return deliveries_.Match(report);
}

bool MessageQueues::TakeReceived(char* buffer, int32_t* receipt) {
    if (buffer == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> hold(receivedLock_);
    if (received_.empty()) {
        return false;
    }
    const QueuedRecord& oldest = received_.front();
    std::memcpy(buffer, &oldest.record, sizeof oldest.record);
    OpenReceipt* open = FindReceipt(oldest.receipt);
    if (open != nullptr && receipt != nullptr) {
        open->handedOut = true;
    } else if (open != nullptr) {
        // A host that cannot acknowledge has the record now: that is all it will ever say.
        *open = OpenReceipt{0, false};
        --openReceipts_;
    }
    if (receipt != nullptr) {
        *receipt = oldest.receipt;
    }
    received_.pop_front();
    return true;
}

int32_t MessageQueues::Acknowledge(int32_t receipt) {
    if (receipt <= 0) {
        return 0;
    }
    std::lock_guard<std::mutex> hold(receivedLock_);
    if (receipt < firstReceiptOfRun_) {
        return 1;
    }
    OpenReceipt* open = FindReceipt(receipt);
    if (open == nullptr || !open->handedOut) {
        return 0;
    }
    *open = OpenReceipt{0, false};
    --openReceipts_;
    return 1;
}

size_t MessageQueues::RoomToHold() {
    std::lock_guard<std::mutex> hold(receivedLock_);
    return kMostReceipts - openReceipts_;
}

bool MessageQueues::Acknowledged(int32_t first, int32_t last) {
    std::lock_guard<std::mutex> hold(receivedLock_);
    for (const OpenReceipt& open : receipts_) {
        if (open.receipt != 0 && open.receipt >= first && open.receipt <= last) {
            return false;
        }
    }
    return true;
}

MessageQueues::OpenReceipt* MessageQueues::FindReceipt(int32_t receipt) {
    if (receipt == 0) {
        return nullptr;
    }
    for (OpenReceipt& open : receipts_) {
        if (open.receipt == receipt) {
            return &open;
        }
    }
    return nullptr;
}

bool MessageQueues::HasOutgoing() {
    std::lock_guard<std::mutex> hold(queueLock_);
    return !outgoing_.empty();
}

bool MessageQueues::PeekOutgoing(OutgoingMessage& message) {
    std::lock_guard<std::mutex> hold(queueLock_);
    if (outgoing_.empty()) {
        return false;
    }
    message = outgoing_.front();
    return true;
}

void MessageQueues::Finish(const OutgoingMessage& message, bool sent) {
    std::lock_guard<std::mutex> hold(queueLock_);
    results_.Record(message.id, sent);
    reports_.push_back(message);
    outgoing_.pop_front();
}

size_t MessageQueues::OutgoingCount() {
    std::lock_guard<std::mutex> hold(queueLock_);
    return outgoing_.size();
}

void MessageQueues::DropNewestOutgoing(size_t keep) {
    std::lock_guard<std::mutex> hold(queueLock_);
    while (outgoing_.size() > keep) {
        outgoing_.pop_back();
    }
}

void MessageQueues::Take(const ReceivedMessage& record) {
    std::lock_guard<std::mutex> hold(receivedLock_);
    received_.push_back(QueuedRecord{record, 0});
}

int32_t MessageQueues::TakeHeld(const ReceivedMessage& record) {
    std::lock_guard<std::mutex> hold(receivedLock_);
    for (OpenReceipt& open : receipts_) {
        if (open.receipt != 0) {
            continue;
        }
        const int32_t receipt = nextReceipt_;
        // After two thousand million records the count starts again, and so does the run's.
        if (nextReceipt_ == INT32_MAX) {
            nextReceipt_ = 1;
            firstReceiptOfRun_ = 1;
        } else {
            ++nextReceipt_;
        }
        open = OpenReceipt{receipt, false};
        ++openReceipts_;
        received_.push_back(QueuedRecord{record, receipt});
        return receipt;
    }
    return 0;
}

}  // namespace tidewire

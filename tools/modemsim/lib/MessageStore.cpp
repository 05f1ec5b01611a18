#include "MessageStore.h"

#include <algorithm>
#include <stdexcept>

namespace tidewire::sim {

std::string_view StatusName(MessageStatus status) {
    switch (status) {
        case MessageStatus::ReceivedUnread:
            return "REC UNREAD";
        case MessageStatus::ReceivedRead:
            return "REC READ";
        case MessageStatus::StoredUnsent:
            return "STO UNSENT";
        case MessageStatus::StoredSent:
            break;
    }
    return "STO SENT";
}

std::optional<int> StatusFilterFromName(std::string_view upperName) {
    if (upperName == "ALL") {
        return kStatusAll;
    }
    for (int i = 0; i < kStatusAll; ++i) {
        if (upperName == StatusName(static_cast<MessageStatus>(i))) {
            return i;
        }
    }
    return std::nullopt;
}

MessageStore::MessageStore(int firstIndex, int capacity)
    : firstIndex_(firstIndex), capacity_(capacity) {
    if (firstIndex < 0 || capacity < 1 || firstIndex > 1000000 - capacity) {
        throw std::invalid_argument(
            "a message store needs a first index of 0 or more and room for "
            "at least one message");
    }
}

std::optional<std::vector<int>> MessageStore::AddAll(const std::vector<std::string>& pdus,
                                                     MessageStatus status) {
    if (Count() + static_cast<int>(pdus.size()) > capacity_) {
        return std::nullopt;
    }
    std::vector<int> indexes;
    int candidate = firstIndex_;
    for (const std::string& pdu : pdus) {
        while (Find(candidate) != nullptr) {
            ++candidate;
        }
        messages_.push_back(StoredMessage{candidate, status, pdu});
        arrivals_[candidate] = nextArrival_++;
        indexes.push_back(candidate);
        ++candidate;
    }
    std::sort(messages_.begin(), messages_.end(),
              [](const StoredMessage& a, const StoredMessage& b) { return a.index < b.index; });
    return indexes;
}

const StoredMessage* MessageStore::Find(int index) const {
    for (const StoredMessage& message : messages_) {
        if (message.index == index) {
            return &message;
        }
    }
    return nullptr;
}

bool MessageStore::Remove(int index) {
    const auto it = std::find_if(messages_.begin(), messages_.end(),
                                 [index](const StoredMessage& m) { return m.index == index; });
    if (it == messages_.end()) {
        return false;
    }
    messages_.erase(it);
    arrivals_.erase(index);
    if (handedOut_ == index) {
        handedOut_.reset();
    }
    return true;
}

void MessageStore::MarkRead(int index) {
    for (StoredMessage& message : messages_) {
        if (message.index == index && message.status == MessageStatus::ReceivedUnread) {
            message.status = MessageStatus::ReceivedRead;
        }
    }
}

const StoredMessage* MessageStore::Oldest(std::optional<MessageStatus> status) const {
    const StoredMessage* oldest = nullptr;
    std::uint64_t oldestArrival = 0;
    for (const StoredMessage& message : messages_) {
        if (status && message.status != *status) {
            continue;
        }
        const std::uint64_t arrival = arrivals_.at(message.index);
        if (oldest == nullptr || arrival < oldestArrival) {
            oldest = &message;
            oldestArrival = arrival;
        }
    }
    return oldest;
}

std::vector<int> MessageStore::Indexes() const {
    std::vector<int> indexes;
    for (const StoredMessage& message : messages_) {
        indexes.push_back(message.index);
    }
    return indexes;
}

std::string MessageStore::FullText(int needed) const {
    return "message store full (" + std::to_string(Count()) + " of " + std::to_string(capacity_) +
           " used, " + std::to_string(needed) + " needed)";
}

}  // namespace tidewire::sim

// The module's message memory: numbered slots from a chosen first index, a fixed capacity.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ModemTypes.h"

namespace tidewire::sim {

// "REC UNREAD", "REC READ", "STO UNSENT" or "STO SENT", as text-mode listings name them.
std::string_view StatusName(MessageStatus status);

class MessageStore {
  public:
    // Throws std::invalid_argument for a negative first index or a capacity below 1.
    MessageStore(int firstIndex, int capacity);

    int FirstIndex() const { return firstIndex_; }
    int Capacity() const { return capacity_; }
    int Count() const { return static_cast<int>(messages_.size()); }

    // Stores all PDUs in the lowest free slots, or none when they do not all fit; the indexes
    // in PDU order.
    std::optional<std::vector<int>> AddAll(const std::vector<std::string>& pdus,
                                           MessageStatus status);
    const StoredMessage* Find(int index) const;
    bool Remove(int index);
    void MarkRead(int index);
    // In index order.
    const std::vector<StoredMessage>& Messages() const { return messages_; }
    std::vector<int> Indexes() const;

  private:
    int firstIndex_;
    int capacity_;
    std::vector<StoredMessage> messages_;  // kept sorted by index
};

}  // namespace tidewire::sim

// The module's message memory: numbered slots from a chosen first index, a fixed capacity.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ModemTypes.h"

namespace tidewire::sim {

// "REC UNREAD", "REC READ", "STO UNSENT" or "STO SENT", as text-mode listings name them.
std::string_view StatusName(MessageStatus status);

// The listing's status filters: the four statuses in their PDU-mode numbers, and "ALL" (4).
constexpr int kStatusAll = 4;
// The filter a text-mode listing names (upper case), or nothing for an unknown name.
std::optional<int> StatusFilterFromName(std::string_view upperName);

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
    // Why `needed` more messages were refused, for the controller.
    std::string FullText(int needed) const;

    // The message that has waited longest, counted from its delivery (not its slot, which a
    // new message may reuse); with a status, the oldest of that status. Null when none.
    const StoredMessage* Oldest(std::optional<MessageStatus> status = std::nullopt) const;

    // Modules that delete "the message just read" remember which one they handed out. The
    // mark goes when that message is removed, so a later delivery into the same slot is
    // never taken for it.
    void MarkHandedOut(int index) { handedOut_ = index; }
    void ForgetHandedOut() { handedOut_.reset(); }
    std::optional<int> HandedOut() const { return handedOut_; }

  private:
    int firstIndex_;
    int capacity_;
    std::vector<StoredMessage> messages_;    // kept sorted by index
    std::map<int, std::uint64_t> arrivals_;  // index -> delivery number
    std::uint64_t nextArrival_ = 0;
    std::optional<int> handedOut_;
};

}  // namespace tidewire::sim

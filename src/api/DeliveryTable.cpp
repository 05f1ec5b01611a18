#include "api/DeliveryTable.h"

#include <algorithm>
#include <cstring>

#include "base/BoundedCopy.h"

namespace tidewire {

namespace {

// What a TP-Status says, by its two group bits (3GPP TS 23.040, 9.2.3.15): 00 the transaction
// is completed (received by the handset; forwarded without confirmation; replaced; and the
// centre's own codes 0x10 to 0x1F), 01 the centre is still trying, 10 and 11 it has given up
// (a permanent error, or a temporary one it no longer retries: the message failed or expired).
// The reserved values with bit 7 set are read by the same two bits.
constexpr int8_t kStillTrying = -1;

int8_t OutcomeOfStatus(uint8_t status) {
    switch ((status >> 5) & 0x03) {
        case 0:
            return 1;
        case 1:
            return kStillTrying;
        default:
            return 0;
    }
}

// A number without its "+".
const char* SignificantDigits(const char* number) {
    if (*number == '+') {
        ++number;
    }
    return number;
}

bool AllDigits(const char* text) {
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

bool SameRecipient(const char* sent, const char* reported) {
    const char* a = SignificantDigits(sent);
    const char* b = SignificantDigits(reported);
    if (std::strcmp(a, b) == 0) {
        return *a != '\0';
    }
    if (!AllDigits(a) || !AllDigits(b)) {
        return false;
    }
    // One is the other behind a country code of one to three digits, the shorter perhaps with
    // its trunk prefix 0 (4915112345678 and 015112345678). Seven digits at least must agree, so
    // that short codes of different countries are not taken for each other.
    size_t lengthA = std::strlen(a);
    size_t lengthB = std::strlen(b);
    if (lengthA > lengthB) {
        std::swap(a, b);
        std::swap(lengthA, lengthB);
    }
    if (*a == '0') {
        ++a;
        --lengthA;
    }
    const size_t extra = lengthB - lengthA;
    return lengthA >= 7 && extra >= 1 && extra <= 3 && std::strcmp(b + extra, a) == 0;
}

void DeliveryTable::Add(int32_t id) {
    if (id < 0) {
        return;
    }
    if (static_cast<size_t>(id) >= entries_.size()) {
        entries_.resize(static_cast<size_t>(id) + 1);
    }
    waiting_.reserve(asked_ + 1);
    entries_[static_cast<size_t>(id)].state = State::Asked;
    ++asked_;
}

int32_t DeliveryTable::Get(int32_t id) const {
    if (id < 0 || static_cast<size_t>(id) >= entries_.size()) {
        return -1;
    }
    const Entry& entry = entries_[static_cast<size_t>(id)];
    if (entry.state == State::NotAsked || entry.state == State::Asked) {
        return -1;
    }
    if (!entry.sent) {
        return 0;
    }
    bool allDelivered = entry.partCount > 0;
    for (size_t i = 0; i < entry.partCount; ++i) {
        if (entry.outcomes[i] == 0) {
            return 0;
        }
        allDelivered = allDelivered && entry.outcomes[i] == 1;
    }
    return allDelivered ? 1 : -1;
}

bool DeliveryTable::Wanted(int32_t id) const {
    return id >= 0 && static_cast<size_t>(id) < entries_.size() &&
           entries_[static_cast<size_t>(id)].state == State::Asked;
}

void DeliveryTable::Sent(int32_t id, const char* recipient, const SendRecord& parts, bool sent) {
    if (!Wanted(id)) {
        return;
    }
    Entry& entry = entries_[static_cast<size_t>(id)];
    entry.sent = sent;
    entry.partCount = parts.partCount;
    for (size_t i = 0; i < parts.partCount; ++i) {
        entry.references[i] = parts.references[i];
        entry.outcomes[i] = kStillTrying;
    }
    BoundedCopy(entry.recipient, recipient);
    if (sent && parts.partCount > 0) {
        entry.state = State::Waiting;
        waiting_.push_back(id);
    } else {
        entry.state = State::Finished;
    }
}

bool DeliveryTable::Match(const StatusReport& report) {
    // The newest message first: a reference comes round again after 256 messages, and a report
    // is about a recent one far more likely than about one whose report never came.
    for (auto it = waiting_.rbegin(); it != waiting_.rend(); ++it) {
        Entry& entry = entries_[static_cast<size_t>(*it)];
        if (!SameRecipient(entry.recipient, report.recipient)) {
            continue;
        }
        for (size_t i = 0; i < entry.partCount; ++i) {
            if (entry.outcomes[i] != kStillTrying || entry.references[i] != report.reference) {
                continue;
            }
            entry.outcomes[i] = OutcomeOfStatus(report.status);
            const bool settled =
                std::none_of(entry.outcomes, entry.outcomes + entry.partCount,
                             [](int8_t outcome) { return outcome == kStillTrying; });
            if (settled || entry.outcomes[i] == 0) {
                entry.state = State::Finished;
                waiting_.erase(std::next(it).base());
            }
            return true;
        }
    }
    return false;
}

void DeliveryTable::Reset() {
    std::vector<Entry>().swap(entries_);
    std::vector<int32_t>().swap(waiting_);
    asked_ = 0;
}

}  // namespace tidewire

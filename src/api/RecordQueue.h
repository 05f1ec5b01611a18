// The containers behind the host's queues. Records are fixed-size plain structs handed over by
// copy, so a queue is a ring over one contiguous block: taking the oldest record touches one
// slot, and a queue that is drained as fast as it fills never allocates again once it has room
// for its usual depth. A host that leaves a queue unread makes it grow by doubling; nothing is
// ever dropped to stay within a bound.
#ifndef TIDEWIRE_API_RECORDQUEUE_H
#define TIDEWIRE_API_RECORDQUEUE_H

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace tidewire {

template <class Record>
class RecordQueue {
    static_assert(std::is_trivially_copyable<Record>::value, "records are copied as bytes");

  public:
    bool empty() const { return count_ == 0; }
    size_t size() const { return count_; }
    size_t capacity() const { return slots_.size(); }

    Record& front() { return slots_[head_]; }
    const Record& front() const { return slots_[head_]; }

    void push_back(const Record& record) {
        if (count_ == slots_.size()) {
            Grow(count_ + 1);
        }
        slots_[(head_ + count_) & (slots_.size() - 1)] = record;
        ++count_;
    }
    void pop_front() {
        head_ = (head_ + 1) & (slots_.size() - 1);
        --count_;
    }
    void pop_back() { --count_; }

    // Makes room for count records, so that pushes up to that size cannot allocate: the host's
    // thread pays for growth, the worker's thread does not.
    void reserve(size_t count) {
        if (count > slots_.size()) {
            Grow(count);
        }
    }
    // Empties the queue and keeps its room.
    void clear() {
        head_ = 0;
        count_ = 0;
    }
    // Empties the queue and gives back the room a long-unread queue may have taken, keeping room
    // for count records.
    void Reset(size_t count) {
        std::vector<Record>().swap(slots_);
        clear();
        reserve(count);
    }

  private:
    void Grow(size_t needed) {
        size_t capacity = slots_.empty() ? 16 : slots_.size();
        while (capacity < needed) {
            capacity *= 2;
        }
        std::vector<Record> larger(capacity);
        for (size_t i = 0; i < count_; ++i) {
            larger[i] = slots_[(head_ + i) & (slots_.size() - 1)];
        }
        slots_.swap(larger);
        head_ = 0;
    }

    std::vector<Record> slots_;  // size is zero or a power of two
    size_t head_ = 0;
    size_t count_ = 0;
};

// The outcome of every message accepted since the start-up, by id. Ids are handed out densely
// from 0, so the table is a byte per message, indexed directly: a query costs the same at any
// depth, and the worker records an outcome into a slot the host's thread made.
class ResultTable {
  public:
    static constexpr int8_t kPending = -1;

    // Makes room for the slot of id without making it, growing by doubling, so that the Add of
    // that id cannot allocate.
    void Reserve(int32_t id) {
        if (id < 0 || static_cast<size_t>(id) < results_.capacity()) {
            return;
        }
        const size_t needed = static_cast<size_t>(id) + 1;
        results_.reserve(needed > 2 * results_.capacity() ? needed : 2 * results_.capacity());
    }
    // Makes the slot of id (every id up to it), pending until the worker records it.
    void Add(int32_t id) {
        if (id >= 0 && static_cast<size_t>(id) >= results_.size()) {
            results_.resize(static_cast<size_t>(id) + 1, kPending);
        }
    }
    void Record(int32_t id, bool sent) {
        if (id >= 0 && static_cast<size_t>(id) < results_.size()) {
            results_[static_cast<size_t>(id)] = sent ? 1 : 0;
        }
    }
    // 1 sent, 0 failed, -1 pending or never issued.
    int32_t Get(int32_t id) const {
        if (id < 0 || static_cast<size_t>(id) >= results_.size()) {
            return kPending;
        }
        return results_[static_cast<size_t>(id)];
    }
    size_t size() const { return results_.size(); }
    void Reset() { std::vector<int8_t>().swap(results_); }

  private:
    std::vector<int8_t> results_;
};

}  // namespace tidewire

#endif

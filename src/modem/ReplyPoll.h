// What every modem dialogue collects its answer in, and how it waits for it.
#ifndef TIDEWIRE_MODEM_REPLYPOLL_H
#define TIDEWIRE_MODEM_REPLYPOLL_H

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace tidewire {

// Everything read since the dialogue (or its phase) began, as one text. Bytes that would not
// fit are dropped and the buffer reports itself full; the tokens are then tested on what was
// kept. The module's echo of raw UCS-2 bodies holds zero bytes, so the length is explicit and
// searches do not stop at a NUL.
class ReplyBuffer {
  public:
    static constexpr size_t kCapacity = 65536;

    void Clear();
    // Appends what fits (one byte is kept for the terminator). False when something was dropped.
    bool Append(const uint8_t* bytes, size_t count);
    // Upper-cases the ASCII letters from position `from` on (earlier bytes already are).
    void UpperCaseFrom(size_t from);

    const char* Data() const { return data_; }
    size_t Length() const { return length_; }
    bool Full() const { return full_; }

    // Position of token at or after `from`, or npos.
    size_t Find(const char* token, size_t from = 0) const;
    bool Contains(const char* token) const { return Find(token) != npos; }

    static constexpr size_t npos = static_cast<size_t>(-1);

  private:
    char data_[kCapacity] = {};
    size_t length_ = 0;
    bool full_ = false;
};

// How one reply poll waits: the interval, the limit L (at most L + 2 polls are made), whether
// the reply is upper-cased, and whether a cleared running flag ends the wait (the receiving
// procedures watch it; command exchanges run to their end).
struct PollPlan {
    uint32_t intervalMs;
    int limit;
    bool upperCase = true;
    bool stopWhenNotRunning = false;
    // When set, the poll counter is shared with other polls of the same procedure.
    int* sharedCounter = nullptr;
};

// A non-owning reference to a callable, so handing a token test to the reply poll never
// allocates (a dialogue allocates nothing).
template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
  public:
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
    FunctionRef(F&& f)  // NOLINT: implicit on purpose, like a function pointer
        : object_(const_cast<void*>(static_cast<const void*>(&f))),
          call_([](void* object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(object))(
                  std::forward<Args>(args)...);
          }) {}
    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

  private:
    void* object_;
    R (*call_)(void*, Args...);
};

// The token test of a poll: 0 keeps polling, anything else ends the poll with that value.
using PollTest = FunctionRef<int(const ReplyBuffer&)>;

// Size of one read from the port: at most this many bytes less one.
constexpr uint32_t kReadBufferSize = 8192;

}  // namespace tidewire

#endif

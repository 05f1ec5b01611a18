// How a dialogue hands its token test to the reply poll.
#ifndef TIDEWIRE_MODEM_REPLYPOLL_H
#define TIDEWIRE_MODEM_REPLYPOLL_H

#include <type_traits>
#include <utility>

#include "modem/PollPlans.h"
#include "modem/ReplyBuffer.h"

namespace tidewire {

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

// The token test of a poll: Verdict::Pending keeps polling, any other verdict ends the poll.
using PollTest = FunctionRef<Verdict(const ReplyBuffer&)>;

}  // namespace tidewire

#endif

// The C ABI boundary is a wall: no exception crosses it. Each export runs its body through
// this and answers with its documented failure result if anything escapes.
#ifndef TIDEWIRE_EXPORTS_EXPORTGUARD_H
#define TIDEWIRE_EXPORTS_EXPORTGUARD_H

namespace tidewire {

template <class Result, class Body>
Result Guarded(Result failure, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace tidewire

#endif

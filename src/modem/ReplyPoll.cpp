#include "modem/ReplyPoll.h"

#include "api/SmsService.h"

namespace tidewire {

Verdict SmsService::ReplyPoll(ReplyBuffer& reply, const PollPlan& plan, PollTest test) {
    int counter = 0;
    return ReplyPoll(reply, plan, counter, test);
}

Verdict SmsService::ReplyPoll(ReplyBuffer& reply, const PollPlan& plan, int& counter,
                              PollTest test) {
    uint8_t readBuffer[kReadBufferSize];
    for (;;) {
        Sleep(plan.intervalMs);
        if (plan.onStop == OnStop::End && StopRequested()) {
            return Verdict::Stopped;
        }
        const uint32_t got = port.Read(readBuffer, kReadBufferSize - 1);
        if (got > 0 && !reply.Full()) {
            const size_t before = reply.Length();
            reply.Append(readBuffer, got);
            if (plan.letters == Letters::Upper) {
                reply.UpperCaseFrom(before);
            }
        }
        // Tokens are tested on everything collected so far, whether or not this poll brought
        // anything, so a token split over two reads is found when its last byte arrives.
        const Verdict verdict = test(reply);
        if (verdict != Verdict::Pending) {
            return verdict;
        }
        if (counter > plan.limit) {
            return Verdict::TimedOut;
        }
        ++counter;
    }
}

}  // namespace tidewire

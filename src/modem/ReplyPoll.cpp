#include "modem/ReplyPoll.h"

#include "api/SmsService.h"

namespace tidewire {

int SmsService::ReplyPoll(ReplyBuffer& reply, const PollPlan& plan, PollTest test) {
    uint8_t readBuffer[kReadBufferSize];
    int localCounter = 0;
    int& counter = plan.sharedCounter != nullptr ? *plan.sharedCounter : localCounter;
    for (;;) {
        Sleep(plan.intervalMs);
        if (plan.stopWhenNotRunning && StopRequested()) {
            return kPollStopped;
        }
        const uint32_t got = port.Read(readBuffer, kReadBufferSize - 1);
        if (got > 0 && !reply.Full()) {
            const size_t before = reply.Length();
            reply.Append(readBuffer, got);
            if (plan.upperCase) {
                reply.UpperCaseFrom(before);
            }
        }
        // Tokens are tested on everything collected so far, whether or not this poll brought
        // anything, so a token split over two reads is found when its last byte arrives.
        const int verdict = test(reply);
        if (verdict != 0) {
            return verdict;
        }
        if (counter > plan.limit) {
            return kPollLimit;
        }
        ++counter;
    }
}

}  // namespace tidewire

#include "modem/ModemChannel.h"

#include <chrono>
#include <thread>
#include <utility>

#include "modem/ResultLines.h"

namespace tidewire {

namespace {

void RealSleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint64_t RealClock() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

ModemChannel::ModemChannel(const std::atomic<bool>& running)
    : running_(running), sleep_(RealSleep), clock_(RealClock) {}

void ModemChannel::SetSleepFunction(SleepFunction sleep) {
    sleep_ = sleep ? std::move(sleep) : SleepFunction(RealSleep);
}

void ModemChannel::SetClockFunction(ClockFunction clock) {
    clock_ = clock ? std::move(clock) : ClockFunction(RealClock);
}

void ModemChannel::Sleep(uint32_t milliseconds) {
    sleep_(milliseconds);
}

void ModemChannel::PurgeAndWrite(const char* text) {
    port_.PurgeInput();
    port_.PurgeOutput();
    port_.WriteText(text);
}

void ModemChannel::PurgeAndWrite(const uint8_t* bytes, size_t count) {
    port_.PurgeInput();
    port_.PurgeOutput();
    port_.Write(bytes, static_cast<uint32_t>(count));
}

void ModemChannel::Write(const char* text) {
    port_.WriteText(text);
}

void ModemChannel::SettleEntry(Verdict verdict) {
    if (verdict != Verdict::TimedOut && verdict != Verdict::Stopped) {
        entryMayBeOpen_ = false;  // it answers commands again
    }
}

void ModemChannel::CancelAbandonedEntry() {
    if (!entryMayBeOpen_ || !port_.IsOpen()) {
        return;
    }
    // A module that is not taking a message ignores ESC. The pause lets the line carry it
    // before the purge that starts the next command. It is repeated before every command until
    // the module answers one, for a module that was not listening when the first went out.
    const uint8_t escape = 0x1B;
    port_.Write(&escape, 1);
    Sleep(pauses::kEscapeSettleMs);
}

bool ModemChannel::SendAtCommand(const char* command, const char* expectedToken,
                                 const char* errorToken) {
    if (!port_.IsOpen()) {
        return false;
    }
    CancelAbandonedEntry();
    PurgeAndWrite(command);
    ReplyBuffer reply;
    const Verdict verdict = ReplyPoll(reply, plans::kCommandAnswer, [&](const ReplyBuffer& r) {
        if (r.Contains(expectedToken)) {
            return Verdict::Accepted;
        }
        return r.Contains(errorToken) ? Verdict::Refused : Verdict::Pending;
    });
    SettleEntry(verdict);
    return verdict == Verdict::Accepted;
}

Verdict ModemChannel::Ask(const char* command, ReplyBuffer& reply) {
    if (!port_.IsOpen()) {
        return Verdict::Refused;
    }
    CancelAbandonedEntry();
    PurgeAndWrite(command);
    const Verdict verdict = ReplyPoll(reply, plans::kCommandAnswer, [](const ReplyBuffer& r) {
        if (HasOkLine(r, 0)) {
            return Verdict::Accepted;
        }
        return HasErrorLine(r, 0) ? Verdict::Refused : Verdict::Pending;
    });
    SettleEntry(verdict);
    return verdict;
}

Verdict ModemChannel::ReplyPoll(ReplyBuffer& reply, const PollPlan& plan, PollTest test) {
    int counter = 0;
    return ReplyPoll(reply, plan, counter, test);
}

Verdict ModemChannel::ReplyPoll(ReplyBuffer& reply, const PollPlan& plan, int& counter,
                                PollTest test) {
    uint8_t readBuffer[kReadBufferSize];
    for (;;) {
        Sleep(plan.intervalMs);
        if (plan.onStop == OnStop::End && StopRequested()) {
            return Verdict::Stopped;
        }
        const uint32_t got = port_.Read(readBuffer, kReadBufferSize - 1);
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

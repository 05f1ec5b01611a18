// The reply poll every dialogue is built from, fed piece by piece through the scripted line:
// it makes at most limit + 2 polls, keeps exactly the bytes that arrived (upper-cased when
// asked) up to the buffer's room and says it is full exactly when more arrived, ends with the
// test's verdict as soon as the test gives one, and stops when the running flag is cleared.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzHarness.h"
#include "modem/ResultLines.h"

namespace {

using namespace tidewire;
using tidewire::fuzz::Require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    // Byte 0: the limit (bits 0-4) and which test ends the poll (bits 5-6); byte 1: the poll at
    // which the running flag is cleared (0: never). The rest is a modem script.
    const int limit = data[0] & 31;
    const unsigned testKind = (data[0] >> 5) & 3U;
    const unsigned stopAtPoll = data[1];
    const tidewire::fuzz::ModemScript script(data + 2, size - 2);
    const bool upperCase = script.Option(0);
    const bool watchRunning = script.Option(1);

    tidewire::fuzz::ScriptedFamily scripted(kModuleGsm);
    unsigned sleeps = 0;
    scripted.channel.SetSleepFunction([&](uint32_t) {
        ++sleeps;
        if (stopAtPoll != 0 && sleeps == stopAtPoll) {
            scripted.running = false;
        }
    });
    scripted.modem->Arrive(script.Pieces(0));
    scripted.modem->ClearEvents();

    static ReplyBuffer reply;
    reply.Clear();
    const auto test = [&](const ReplyBuffer& r) {
        switch (testKind) {
            case 0:
                return FinalResult(r);
            case 1:
                return HasOkLine(r, 0) ? Verdict::Accepted
                                       : (HasErrorLine(r, 0) ? Verdict::Refused : Verdict::Pending);
            case 2:
                return r.Full() ? Verdict::BufferFull : Verdict::Pending;
            default:
                return Verdict::Pending;
        }
    };
    const PollPlan plan{300, limit, upperCase ? Letters::Upper : Letters::Kept,
                        watchRunning ? OnStop::End : OnStop::RunOn};
    const Verdict verdict = scripted.channel.ReplyPoll(reply, plan, test);

    Require(sleeps <= static_cast<unsigned>(limit) + 2, "more than limit + 2 polls");
    const size_t reads = scripted.modem->ReadCount();
    Require(reads <= sleeps, "a read without its wait");
    if (verdict == Verdict::Stopped) {
        Require(watchRunning && stopAtPoll != 0 && sleeps == stopAtPoll,
                "stopped without the running flag cleared");
    } else if (verdict == Verdict::TimedOut) {
        Require(sleeps == static_cast<unsigned>(limit) + 2, "gave up before the limit");
        Require(test(reply) == Verdict::Pending, "gave up on a reply the test accepts");
    } else {
        Require(verdict == test(reply), "verdict is not the test's on the reply kept");
    }

    // Everything read is kept, in order, until the room is used up.
    std::string arrived;
    for (const std::string& event : scripted.modem->Events()) {
        if (event.compare(0, 5, "read:") == 0) {
            arrived.append(event, 5, std::string::npos);
        }
    }
    const size_t room = ReplyBuffer::kCapacity - 1;
    std::string kept = arrived.substr(0, room);
    if (upperCase) {
        for (char& c : kept) {
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    Require(reply.Length() == kept.size() &&
                kept.compare(0, kept.size(), reply.Data(), reply.Length()) == 0,
            "the reply is not the bytes that arrived");
    Require(reply.Data()[reply.Length()] == '\0', "the reply is not terminated");
    Require(reply.Full() == (arrived.size() > room), "full flag disagrees with what arrived");
    return 0;
}

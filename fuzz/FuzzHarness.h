// What the fuzz targets share: a check that stops the run at the first broken promise, the
// fuzz input cut into the modem's replies and each reply into the pieces that arrive poll by
// poll, and a family's procedures on a scripted line on which waiting takes no time.
#ifndef TIDEWIRE_FUZZ_FUZZHARNESS_H
#define TIDEWIRE_FUZZ_FUZZHARNESS_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "family/ModuleFamily.h"
#include "modem/ModemChannel.h"
#include "support/ScriptedSerialDevice.h"
#include "tidewire_records.h"

namespace tidewire {
namespace fuzz {

// Names the broken promise on stderr (the replay runner and libFuzzer both show it), then stops.
[[noreturn]] void Fail(const char* what);

inline void Require(bool condition, const char* what) {
    if (!condition) {
        Fail(what);
    }
}

// Separates the replies of one input: the modem's answers to successive commands.
constexpr char kReplySeparator = '\x1e';

// The layout of a dialogue input: byte 0 holds the count of piece sizes that follow (bits
// 0-2), how often every reply is repeated back to back (bits 3-4: 1, 1, 16 or 300 times, so a
// listing can outgrow the reply buffer) and three option bits (5-7) for the target; then the
// piece sizes (0: a poll that brings nothing, 255: the rest of the reply, else that many
// bytes), used in turn; then the replies, separated by kReplySeparator.
class ModemScript {
  public:
    ModemScript(const uint8_t* data, size_t size);

    // The pieces of reply n, one per poll; empty (nothing arrives) past the last reply.
    std::vector<std::string> Pieces(size_t n) const;
    // Reply n whole (repeated as the pieces are), "" past the last one.
    std::string Reply(size_t n) const;
    size_t ReplyCount() const { return replies_.size(); }
    // Option bit 0, 1 or 2.
    bool Option(unsigned bit) const { return ((options_ >> bit) & 1U) != 0; }

  private:
    std::vector<uint8_t> sizes_;
    size_t repeat_ = 1;
    unsigned options_ = 0;
    std::vector<std::string> replies_;
};

// The procedures of the given family on an open scripted line, as the running worker calls
// them, whose waits return at once. The records they queue are kept in order.
class ScriptedFamily : private Inbox, private ErrorLog {
  public:
    explicit ScriptedFamily(int32_t family);
    ScriptedFamily(const ScriptedFamily&) = delete;
    ScriptedFamily& operator=(const ScriptedFamily&) = delete;

    SetUpResult SetUp() { return family_.SetUp(session); }
    bool Send(TextKind kind, const char* text, char (&number)[32]) {
        return family_.Send(session, kind, text, number);
    }
    bool Receive() { return family_.Receive(session); }
    // Takes the oldest queued record; false when none is queued.
    bool TakeRecord(ReceivedMessage& record);

    std::atomic<bool> running{true};
    ModemChannel channel{running};
    ModuleSession session;
    ScriptedSerialDevice* modem = nullptr;

  private:
    void Take(const ReceivedMessage& record) override { records_.push_back(record); }
    // Records are never held here: the option stays off.
    int32_t TakeHeld(const ReceivedMessage& record) override {
        records_.push_back(record);
        return 1;
    }
    size_t RoomToHold() override { return 0; }
    bool Acknowledged(int32_t, int32_t) override { return true; }
    void Record(ErrorText) override {}

    const ModuleFamily& family_;
    std::deque<ReceivedMessage> records_;
};

// Every field of a record NUL-terminated within its width and zero after the NUL, as the
// records promise the host.
void CheckRecord(const ReceivedMessage& record);

// The store index that a command such as "AT+CMGD=12\r" names; traps when the command is not
// of that shape.
long IndexOfCommand(const std::string& written, const char* prefix);

// The text with its ASCII letters in capitals, as the reply poll may hand it on.
std::string UpperCased(const std::string& text);

// The indexes named by the entry headers `header` (followed by blanks, then digits up to a
// comma) of a listing, letters compared without regard to case, leading zeros allowed.
std::set<long> ListedIndexes(const std::string& listing, const char* header);

}  // namespace fuzz
}  // namespace tidewire

#endif

// A module of family 666, 870 or 860 behind the scripted line, with a message store, answering
// as such modules do (echo on), that can misbehave for a stretch of written blocks: silent
// half-way through an answer, answering garbage, one byte per poll, with indications in the
// middle of its answers, or one answer behind. It records what it sent and what it deleted,
// so a test can hold the library to its promises whatever the module did.
#ifndef TIDEWIRE_TESTS_SUPPORT_MISBEHAVINGMODULE_H
#define TIDEWIRE_TESTS_SUPPORT_MISBEHAVINGMODULE_H

#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "support/ScriptedSerialDevice.h"

enum class Misbehaviour {
    None,
    SilentAfterPrompt,  // gives the prompt, then carries out the next blocks without a word
    DeafAfterPrompt,    // gives the prompt, then does not even hear the next blocks
    SilentMidListing,   // the store listing stops half-way, then nothing
    SilentMidRead,      // the answer to a read stops half-way, then nothing
    Garbage,            // random bytes instead of any answer; nothing is carried out
    OneBytePerPoll,     // every answer trickles in one byte per poll
    Indications,        // indication lines in the middle of every answer
    OneAnswerBehind,    // each answer arrives only after the next command was written
};

// The misbehaviour's name, for test names and messages.
const char* MisbehaviourName(Misbehaviour misbehaviour);

// A message the host handed to the module, as the module sent it.
struct SentByModule {
    std::string number;
    std::string text;
};

class MisbehavingModule {
  public:
    using Strings = std::vector<std::string>;

    // family: 666, 870 or 860.
    explicit MisbehavingModule(int32_t family) : family_(family) {}
    MisbehavingModule(const MisbehavingModule&) = delete;
    MisbehavingModule& operator=(const MisbehavingModule&) = delete;

    // Answers every block written to line from now on.
    void Install(ScriptedSerialDevice& line);

    // A message in the store, as the network would deliver it.
    void Store(const std::string& text);

    // From the next written block on, `blocks` blocks meet the misbehaviour.
    void Misbehave(Misbehaviour misbehaviour, int blocks);

    // The next block that contains `trigger` is carried out but not answered.
    void MuteOnce(std::string trigger);

    // True while a misbehaviour still has blocks to meet or an answer is still owed.
    bool Faulty() const;
    std::vector<SentByModule> Sent() const;
    std::map<int, std::string> Stored() const;
    // The texts of the messages deleted from the store, in order.
    Strings Deleted() const;

  private:
    Strings Answer(const std::string& written);
    bool IsListing(const std::string& written) const;
    static bool IsRead(const std::string& written);
    std::string Garbage();
    std::string WithIndications(const std::string& answer);
    void Execute(const std::string& written, std::string& echo, std::string& result);
    void EnterBody(const std::string& written, std::string& echo, std::string& result);
    bool Delete(int index);
    std::string GsmListing() const;
    std::string Listing870() const;
    std::string Read870(int index) const;

    const int32_t family_;
    mutable std::mutex lock_;
    std::map<int, std::string> store_;
    int nextIndex_ = 1;
    int handedOut_ = 0;
    Strings deleted_;
    std::vector<SentByModule> sent_;
    bool inEntry_ = false;
    std::string entryNumber_;
    std::string entry_;
    Misbehaviour misbehaviour_ = Misbehaviour::None;
    int faultyBlocks_ = 0;
    int silentBlocks_ = 0;
    bool deaf_ = false;
    std::string lateAnswer_;
    std::string muteTrigger_;
    size_t nextIndication_ = 0;
    std::mt19937 random_{20240512u};
};

#endif

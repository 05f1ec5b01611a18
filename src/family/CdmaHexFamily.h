// What the CDMA families 860 and 865 share: the whole message goes out as hex on one command
// line, and the module hands out its oldest message in one answer of comma-separated fields,
// one message per cycle. How a family words these commands and answers is its dialect, which
// its own file gives (Family860.cpp, Family865.cpp).
#ifndef TIDEWIRE_FAMILY_CDMAHEXFAMILY_H
#define TIDEWIRE_FAMILY_CDMAHEXFAMILY_H

#include <cstddef>
#include <cstdint>

#include "family/ModuleFamily.h"

namespace tidewire {

// Where the body stands in the answer that hands out a message: in double quotes, or after
// two more fields up to the end of the line.
enum class BodyField { Quoted, ToLineEnd };

struct CdmaHexDialect {
    // A printf format taking the number twice, the encoding digit (2 for a single-byte text, 4
    // for UCS-2) and the hex body.
    const char* sendFormat;
    // The word that acknowledges a send, and the one that refuses it.
    const char* acknowledgement;
    const char* refusal;
    // The command that hands out the oldest message, and where its body stands.
    const char* readCommand;
    BodyField body;
    // The command that drops the message just handed out, written without waiting for its
    // answer; null for a module that marks it read by itself.
    const char* dropCommand;
};

class CdmaHexFamily final : public ModuleFamily {
  public:
    constexpr CdmaHexFamily(int32_t code, const char* modelToken, SimCheck sim,
                            const SetUpStep* setUp, size_t setUpSteps,
                            const CdmaHexDialect& dialect)
        : ModuleFamily(code, modelToken, sim),
          setUp_(setUp),
          setUpSteps_(setUpSteps),
          dialect_(dialect) {}

    // The steps in order, a stop looked for before each.
    SetUpResult SetUp(ModuleSession& session) const override;
    bool Receive(ModuleSession& session) const override;

  protected:
    bool SendSingleByte(ModuleSession& session, const char* text,
                        char (&number)[32]) const override {
        return SendWhole(session, TextKind::SingleByte, text, number);
    }
    bool SendMultiByte(ModuleSession& session, const char* text,
                       char (&number)[32]) const override {
        return SendWhole(session, TextKind::MultiByte, text, number);
    }

  private:
    // The message as hex on one command line, in the encoding of its kind.
    bool SendWhole(ModuleSession& session, TextKind kind, const char* text,
                   const char* number) const;
    // Type 860: hands the message of a complete answer (null: one that could not be cut) to the
    // host and tells the module to drop it, never before its record is queued; while holding,
    // not before the host has acknowledged it.
    void HandOverAndDrop(ModuleSession& session, const ReplyBuffer& reply,
                         const ReceivedMessage* message, bool holding) const;

    const SetUpStep* setUp_;
    size_t setUpSteps_;
    const CdmaHexDialect& dialect_;
};

}  // namespace tidewire

#endif

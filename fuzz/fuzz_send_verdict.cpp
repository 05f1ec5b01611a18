// The send procedures of every family on any answers, one reply of the script per written
// block: a send is reported done only when the answer to the message itself carried the
// module's confirmation ("+CMGS:" on GSM and type 870, "$006" or "$SMSMOACK" on 865 and 860),
// and the number buffer stays terminated within its 32 bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzHarness.h"

namespace {

using namespace tidewire;
using tidewire::fuzz::Require;

struct Procedure {
    int32_t family;
    TextKind kind;
    const char* text;
    const char* confirmation;
};

const Procedure kProcedures[] = {
    {kModuleGsm, TextKind::SingleByte, "Look: OK\r\nERROR, no error", "+CMGS:"},
    {kModuleGsm, TextKind::MultiByte, "\xE4\xBD\xA0\xE5\xA5\xBD OK", "+CMGS:"},
    {kModule870, TextKind::SingleByte, "+CMGS: 1\r\nOK", "+CMGS:"},
    {kModule870, TextKind::MultiByte, "\xE4\xBD\xA0\xE5\xA5\xBD", "+CMGS:"},
    {kModule860, TextKind::SingleByte, "$SMSMOACK? no", "$SMSMOACK"},
    {kModule865, TextKind::SingleByte, "$006 is not an answer", "$006"},
    {kModule860, TextKind::MultiByte, "\xE4\xBD\xA0\xE5\xA5\xBD", "$SMSMOACK"},
    {kModule865, TextKind::MultiByte, "\xE4\xBD\xA0\xE5\xA5\xBD", "$006"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const tidewire::fuzz::ModemScript script(data, size);
    const Procedure& procedure =
        kProcedures[(script.Option(0) ? 1 : 0) + (script.Option(1) ? 2 : 0) +
                    (script.Option(2) ? 4 : 0)];
    tidewire::fuzz::ScriptedFamily scripted(procedure.family);
    std::strcpy(scripted.session.serviceCentre, "+8613800100500");

    // Every written block is answered by the next reply of the script; the last one answered
    // belongs to the block that carried the message.
    size_t answered = 0;
    std::string lastAnswer;
    scripted.modem->OnWrite([&](const std::string&, ScriptedSerialDevice& line) {
        lastAnswer = script.Reply(answered);
        line.Arrive(script.Pieces(answered++));
    });

    char number[32] = {};
    std::strcpy(number, "13800138000");
    const bool sent = scripted.Send(procedure.kind, procedure.text, number);
    Require(std::memchr(number, '\0', sizeof number) != nullptr, "number not terminated");
    if (sent) {
        // The text echoed back holds the token too; when the answer opens with that echo, the
        // message's own answer must hold more than it, so the token is looked for once the echo
        // is removed. Behind other bytes the same text is no echo: a module that puts line
        // noise before "+CMGS: 1" and "OK" lines has confirmed the message.
        std::string answer = tidewire::fuzz::UpperCased(lastAnswer);
        const std::string echo = tidewire::fuzz::UpperCased(procedure.text);
        const size_t opening = answer.find_first_not_of("\r\n ");
        if (opening != std::string::npos && answer.compare(opening, echo.size(), echo) == 0) {
            answer.erase(opening, echo.size());
        }
        Require(answer.find(procedure.confirmation) != std::string::npos,
                "send reported done without the module's confirmation");
    }
    return 0;
}

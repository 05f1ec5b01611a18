// The service-centre query of a GSM set-up on any "AT+CSCA?" answer: the stored field stays
// terminated and zero-padded within its 20 bytes, it is either left as it was or replaced by a
// number ("+" and at most 18 digits, 19 characters at most) that the answer holds, and it is
// the number the set-up configures.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzHarness.h"

namespace {

using namespace tidewire;
using tidewire::fuzz::Require;

bool LooksLikeNumber(const char* text) {
    const size_t length = std::strlen(text);
    size_t i = text[0] == '+' ? 1 : 0;
    if (i == length || length > 19) {
        return false;
    }
    for (; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const tidewire::fuzz::ModemScript script(data, size);
    tidewire::fuzz::ScriptedFamily scripted(kModuleGsm);
    ScriptedSerialDevice& modem = *scripted.modem;

    // A GSM set-up with "card": the answer to the SIM's query is the script's first reply, and
    // every other command is answered OK. Option 0 answers the storage selection with ERROR,
    // which the set-up only records.
    std::strcpy(scripted.session.serviceCentre, "card");
    modem.OnWrite("AT+CSCA?\r", [&](const std::string&, ScriptedSerialDevice& line) {
        line.Arrive(script.Pieces(0));
    });
    if (script.Option(0)) {
        modem.OnWrite("AT+CPMS=", std::vector<std::string>{"\r\nERROR\r\n"});
    }
    std::string configured;
    modem.OnWrite("AT+CSCA=", [&](const std::string& written, ScriptedSerialDevice& line) {
        configured = written;
        line.Arrive({"\r\nOK\r\n"});
    });
    modem.OnWrite(
        [](const std::string&, ScriptedSerialDevice& line) { line.Arrive({"\r\nOK\r\n"}); });

    Require(scripted.SetUp().outcome == SetUpResult::Outcome::Ready, "set-up did not finish");

    const char* const field = scripted.session.serviceCentre;
    const size_t width = sizeof scripted.session.serviceCentre;
    const char* const nul = static_cast<const char*>(std::memchr(field, '\0', width));
    Require(nul != nullptr, "service centre not terminated");
    for (const char* p = nul; p < field + width; ++p) {
        Require(*p == '\0', "service centre not zero-padded");
    }
    Require(std::strlen(field) <= 19, "service centre over 19 characters");
    Require(configured == std::string("AT+CSCA=\"") + field + "\"\r",
            "the configured number is not the stored one");
    if (std::strcmp(field, "card") != 0) {
        Require(LooksLikeNumber(field), "service centre replaced by something not a number");
        Require(script.Reply(0).find(std::string("\"") + field) != std::string::npos,
                "service centre number that the answer does not hold");
    }
    return 0;
}

// The service-centre query on any "AT+CSCA?" answer: the stored field stays terminated and
// zero-padded within its 20 bytes, and it is either left as it was or replaced by a number ("+"
// and at most 18 digits, 19 characters at most) that the answer holds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

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
    tidewire::fuzz::ScriptedService scripted(kModuleGsm);
    SmsService& service = scripted.service;
    ScriptedSerialDevice& modem = *scripted.modem;

    // Option 0: the field holds a full-length argument rather than "card" before the query.
    const char* const before = script.Option(0) ? "+861380010050012345" : "card";
    std::memset(service.serviceCentre, 0, sizeof service.serviceCentre);
    std::strcpy(service.serviceCentre, before);
    modem.OnWrite("AT+CSCA?\r", [&](const std::string&, ScriptedSerialDevice& line) {
        line.Arrive(script.Pieces(0));
    });

    service.QueryServiceCentre();

    const char* const field = service.serviceCentre;
    const char* const nul =
        static_cast<const char*>(std::memchr(field, '\0', sizeof service.serviceCentre));
    Require(nul != nullptr, "service centre not terminated");
    for (const char* p = nul; p < field + sizeof service.serviceCentre; ++p) {
        Require(*p == '\0', "service centre not zero-padded");
    }
    Require(std::strlen(field) <= 19, "service centre over 19 characters");
    if (std::strcmp(field, before) != 0) {
        Require(LooksLikeNumber(field), "service centre replaced by something not a number");
        Require(script.Reply(0).find(std::string("\"") + field + "\"") != std::string::npos ||
                    script.Reply(0).find(std::string("\"") + field) != std::string::npos,
                "service centre number that the answer does not hold");
    }
    return 0;
}

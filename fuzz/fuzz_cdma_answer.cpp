// The type-860/865 answer cut: whatever the module answers to "at$smsmt", piece by piece, at
// most one record is queued, its fields are terminated and zero-padded, its time stamp has the
// "20yy-mm-dd hh:mm:ss" shape, and type 860 is told to drop its message only after an answer
// and only once that message's record is queued.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzHarness.h"

namespace {

using namespace tidewire;
using tidewire::fuzz::Require;

bool StampShaped(const char* stamp) {
    // The digits are the module's own bytes; only the separators are the library's.
    const char pattern[] = "20..-..-.. ..:..:..";
    const size_t length = std::strlen(stamp);
    if (length > sizeof pattern - 1) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (pattern[i] != '.' && stamp[i] != pattern[i]) {
            return false;
        }
    }
    return length >= 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const tidewire::fuzz::ModemScript script(data, size);
    // Option 0 picks the family.
    const bool type865 = script.Option(0);
    tidewire::fuzz::ScriptedFamily scripted(type865 ? kModule865 : kModule860);
    ScriptedSerialDevice& modem = *scripted.modem;

    bool asked = false;
    size_t drops = 0;
    modem.OnWrite(type865 ? "at$smsmt=1?\r" : "at$smsmt0?\r",
                  [&](const std::string&, ScriptedSerialDevice& line) {
                      asked = true;
                      line.Arrive(script.Pieces(0));
                  });
    modem.OnWrite("at$delmt=0\r", [&](const std::string&, ScriptedSerialDevice& line) {
        Require(!type865, "type 865 told to drop its message");
        Require(asked, "drop before the read");
        ++drops;
        line.Arrive({"\r\nOK\r\n"});
    });

    Require(scripted.Receive(), "the read asked the worker to end while running");
    Require(drops <= 1, "more than one drop in one call");
    ReceivedMessage record;
    if (scripted.TakeRecord(record)) {
        tidewire::fuzz::CheckRecord(record);
        Require(StampShaped(record.timestamp), "timestamp lost its shape");
        Require(type865 || drops == 1, "type 860 record queued without the drop");
        Require(!scripted.TakeRecord(record), "two records from one answer");
    } else {
        // One answer on a module just set up: a message that could not be read is dropped only
        // after it came back on several cycles.
        Require(drops == 0, "type 860 told to drop a message that did not reach the host");
    }
    return 0;
}

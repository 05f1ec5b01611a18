// The type-870 store walk: the listing and every read reply come from the script, piece by
// piece. Every "AT+CMGR=<n>" names an index of the listing; every "AT+CMGD=<n>" deletes the
// index just read, right after its record was queued, never twice; a deleted index reads as
// ERROR, as a module's store would answer; every record is terminated within its fields.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "FuzzHarness.h"

namespace {

using namespace tidewire;
using tidewire::fuzz::Require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const tidewire::fuzz::ModemScript script(data, size);
    tidewire::fuzz::ScriptedFamily scripted(kModule870);
    ScriptedSerialDevice& modem = *scripted.modem;
    const std::set<long> listed = tidewire::fuzz::ListedIndexes(script.Reply(0), "+CMGL:");

    modem.OnWrite("AT+CMGL=\"ALL\"\r", [&](const std::string&, ScriptedSerialDevice& line) {
        line.Arrive(script.Pieces(0));
    });
    std::set<long> deleted;
    long lastRead = -1;
    size_t nextReply = 1;
    modem.OnWrite("AT+CMGR=", [&](const std::string& written, ScriptedSerialDevice& line) {
        const long index = tidewire::fuzz::IndexOfCommand(written, "AT+CMGR=");
        Require(listed.count(index) != 0, "read an index the listing did not show");
        lastRead = index;
        if (deleted.count(index) != 0) {
            line.Arrive({"\r\nERROR\r\n"});
            return;
        }
        // Option 0: the same read reply for every index, so a short script reads many entries.
        line.Arrive(script.Pieces(script.Option(0) ? 1 : nextReply++));
    });
    modem.OnWrite("AT+CMGD=", [&](const std::string& written, ScriptedSerialDevice& line) {
        const long index = tidewire::fuzz::IndexOfCommand(written, "AT+CMGD=");
        Require(index == lastRead, "deleted an index other than the one just read");
        Require(deleted.insert(index).second, "deleted an index twice");
        ReceivedMessage record;
        Require(scripted.TakeRecord(record), "deleted without a queued record");
        tidewire::fuzz::CheckRecord(record);
        Require(!scripted.TakeRecord(record), "two records for one delete");
        line.Arrive({script.Option(1) ? "\r\nERROR\r\n" : "\r\nOK\r\n"});
    });

    Require(scripted.Receive(), "the walk asked the worker to end while running");
    ReceivedMessage record;
    Require(!scripted.TakeRecord(record), "a record queued without its delete");
    return 0;
}

// The GSM store walk on any listing, arriving piece by piece: every "AT+CMGD=<n>" names an
// index that the listing showed, comes right after the record of that entry was queued (one
// record per delete, none queued without its delete, the record being the message listed under
// that index), and no index is deleted twice; every queued record is terminated and zero-padded
// within its fields.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FuzzHarness.h"
#include "codec/Pdu.h"

namespace {

using namespace tidewire;
using tidewire::fuzz::Require;

// The messages of a listing by index: every "+CMGL: <n>," header whose next line decodes as a
// message to deliver, the listing upper-cased as the reply poll hands it on.
std::map<long, std::vector<PduMessage>> ListedMessages(const std::string& listing) {
    const std::string upper = tidewire::fuzz::UpperCased(listing);
    std::map<long, std::vector<PduMessage>> messages;
    for (size_t at = upper.find("+CMGL:"); at != std::string::npos;
         at = upper.find("+CMGL:", at + 1)) {
        size_t p = at + 6;
        while (p < upper.size() && upper[p] == ' ') {
            ++p;
        }
        long index = 0;
        size_t digits = 0;
        while (p < upper.size() && upper[p] >= '0' && upper[p] <= '9' && digits < 12) {
            index = index * 10 + (upper[p++] - '0');
            ++digits;
        }
        const size_t lineStart = upper.find('\n', p);
        if (digits == 0 || lineStart == std::string::npos) {
            continue;
        }
        const size_t lineEnd = upper.find_first_of("\r\n", lineStart + 1);
        if (lineEnd == std::string::npos) {
            continue;
        }
        PduMessage message;
        if (DecodeDeliverPdu(upper.data() + lineStart + 1, lineEnd - lineStart - 1, message) > 0) {
            messages[index].push_back(message);
        }
    }
    return messages;
}

bool IsListedAs(const std::vector<PduMessage>& candidates, const ReceivedMessage& record) {
    for (const PduMessage& message : candidates) {
        if (std::strcmp(message.text, record.text) == 0 &&
            std::strcmp(message.number, record.sender) == 0 &&
            std::strcmp(message.timestamp, record.timestamp) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const tidewire::fuzz::ModemScript script(data, size);
    tidewire::fuzz::ScriptedFamily scripted(kModuleGsm);
    ScriptedSerialDevice& modem = *scripted.modem;
    const std::set<long> listed = tidewire::fuzz::ListedIndexes(script.Reply(0), "+CMGL:");
    const std::map<long, std::vector<PduMessage>> messages = ListedMessages(script.Reply(0));

    // Option 0: the module refuses the switch to PDU mode; the walk goes on regardless.
    modem.OnWrite("AT+CMGF=0\r",
                  std::vector<std::string>{script.Option(0) ? "\r\nERROR\r\n" : "\r\nOK\r\n"});
    modem.OnWrite("AT+CMGL=4\r", [&](const std::string&, ScriptedSerialDevice& line) {
        line.Arrive(script.Pieces(0));
    });
    std::set<long> deleted;
    size_t answers = 1;
    modem.OnWrite("AT+CMGD=", [&](const std::string& written, ScriptedSerialDevice& line) {
        const long index = tidewire::fuzz::IndexOfCommand(written, "AT+CMGD=");
        Require(listed.count(index) != 0, "deleted an index the listing did not show");
        Require(deleted.insert(index).second, "deleted an index twice");
        ReceivedMessage record;
        Require(scripted.TakeRecord(record), "deleted without a queued record");
        tidewire::fuzz::CheckRecord(record);
        const auto entry = messages.find(index);
        Require(entry != messages.end() && IsListedAs(entry->second, record),
                "deleted an index other than the one of the record just queued");
        Require(!scripted.TakeRecord(record), "two records for one delete");
        // Option 1: the delete answers come from the script (a module that fails them).
        if (script.Option(1)) {
            line.Arrive(script.Pieces(answers++));
        } else {
            line.Arrive({"\r\nOK\r\n"});
        }
    });

    Require(scripted.Receive(), "the walk asked the worker to end while running");
    ReceivedMessage record;
    Require(!scripted.TakeRecord(record), "a record queued without its delete");
    return 0;
}

// The GSM store walk on any listing, arriving piece by piece: every "AT+CMGD=<n>" names an
// index that the listing showed, comes right after the record of that entry was queued (one
// record per delete, none queued without its delete, the record being the message listed under
// that index), and no index is deleted twice; every queued record is terminated and zero-padded
// within its fields. With the options on (option 2), where parts of a long message are joined
// and status reports read: a deleted message's text is among what was queued before its delete,
// an entry deleted without a record is a status report, and no index is deleted twice.
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

// Calls take(index, pdu, length) for every "+CMGL: <n>," header of a listing whose next line is
// complete, the listing upper-cased as the reply poll hands it on.
template <class Take>
void ForEachEntry(const std::string& listing, Take take) {
    const std::string upper = tidewire::fuzz::UpperCased(listing);
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
        take(index, upper.data() + lineStart + 1, lineEnd - lineStart - 1);
    }
}

// The messages of a listing by index: every entry that decodes as a message to deliver.
std::map<long, std::vector<PduMessage>> ListedMessages(const std::string& listing) {
    std::map<long, std::vector<PduMessage>> messages;
    ForEachEntry(listing, [&](long index, const char* pdu, size_t length) {
        PduMessage message;
        if (DecodeDeliverPdu(pdu, length, message) > 0) {
            messages[index].push_back(message);
        }
    });
    return messages;
}

// The indexes of the entries a walk with the options on may delete: deliveries, empty ones
// among them (a part of a long message), and status reports.
std::set<long> ListedDeliveriesAndReports(const std::string& listing) {
    std::set<long> indexes;
    ForEachEntry(listing, [&](long index, const char* pdu, size_t length) {
        PduMessage message;
        DeliverText text;
        StatusReport report;
        if (DecodeDeliverText(pdu, length, message, text) ||
            DecodeStatusReportPdu(pdu, length, report)) {
            indexes.insert(index);
        }
    });
    return indexes;
}

bool Ascii(const char* text) {
    for (; *text != '\0'; ++text) {
        if (static_cast<unsigned char>(*text) > 0x7F) {
            return false;
        }
    }
    return true;
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
    const std::set<long> deletable = ListedDeliveriesAndReports(script.Reply(0));

    // Option 0: the module refuses the switch to PDU mode; the walk goes on regardless.
    modem.OnWrite("AT+CMGF=0\r",
                  std::vector<std::string>{script.Option(0) ? "\r\nERROR\r\n" : "\r\nOK\r\n"});
    modem.OnWrite("AT+CMGL=4\r", [&](const std::string&, ScriptedSerialDevice& line) {
        line.Arrive(script.Pieces(0));
    });
    std::set<long> deleted;
    size_t answers = 1;
    const bool options = script.Option(2);
    scripted.session.options.longMessages = options;
    scripted.session.options.deliveryReports = options;
    std::string queued;  // every record taken so far, joined
    modem.OnWrite("AT+CMGD=", [&](const std::string& written, ScriptedSerialDevice& line) {
        const long index = tidewire::fuzz::IndexOfCommand(written, "AT+CMGD=");
        Require(listed.count(index) != 0, "deleted an index the listing did not show");
        Require(deleted.insert(index).second, "deleted an index twice");
        ReceivedMessage record;
        if (options) {
            while (scripted.TakeRecord(record)) {
                tidewire::fuzz::CheckRecord(record);
                queued += record.text;
            }
            Require(deletable.count(index) != 0,
                    "deleted an entry that is neither a message nor a status report");
            // A message's text stands whole in what was queued, where its characters cannot
            // have been changed by the joining (ASCII); otherwise something was queued at all.
            const auto entry = messages.find(index);
            if (entry != messages.end()) {
                bool found = false;
                for (const PduMessage& message : entry->second) {
                    found = found ||
                            (Ascii(message.text) ? queued.find(message.text) != std::string::npos
                                                 : !queued.empty());
                }
                Require(found, "deleted a message whose text was not queued");
            }
            line.Arrive({"\r\nOK\r\n"});
            return;
        }
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
    if (options) {
        while (scripted.TakeRecord(record)) {
            tidewire::fuzz::CheckRecord(record);
        }
        return 0;
    }
    Require(!scripted.TakeRecord(record), "a record queued without its delete");
    return 0;
}

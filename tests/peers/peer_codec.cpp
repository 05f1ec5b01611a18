// The library's side of the checks against gammu (gammu_codec_check.py): the GSM family's
// procedures with both options on, driven on the scripted line, one message a line of standard
// input, the answer a line of standard output. Texts travel as the hex of their UTF-8 bytes.
//
//   peer_codec encode       in: <number> <text>      out: the PDUs written, with their service
//                                                        centre, separated by blanks
//   peer_codec reassemble   in: <pdu> <pdu> ...      out: the records queued, joined, and their
//                           (the store's order)           count: <text> <records>
//   peer_codec reports      in: <status report pdu>  out: SMSQueryDelivery of three messages:
//                              <reference> <recipient>     the one the report is about, one to
//                                                        the same number with another reference,
//                                                        and one to another number with the same
//                                                        reference
#include <clocale>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "api/MessageQueues.h"
#include "codec/TextHex.h"
#include "family/FamilyTable.h"
#include "family/ModuleFamily.h"
#include "modem/ModemChannel.h"
#include "support/ScriptedSerialDevice.h"

namespace tidewire {
namespace {

class NoErrors final : public ErrorLog {
  public:
    void Record(ErrorText error) override {
        std::cerr << "peer_codec: the procedure failed: " << ErrorTextUtf8(error) << "\n";
    }
};

std::string FromHex(const std::string& hex) {
    std::string bytes(hex.size() / 2, '\0');
    HexToBytes(hex.c_str(), hex.size(), reinterpret_cast<uint8_t*>(&bytes[0]), bytes.size());
    return bytes;
}

std::string ToHex(const std::string& bytes) {
    std::string hex(2 * bytes.size() + 1, '\0');
    BytesToHex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &hex[0], hex.size());
    hex.resize(2 * bytes.size());
    return hex;
}

// A GSM module on the scripted line, its procedures with both options on, and the queues of
// a service behind them.
class Module {
  public:
    Module() : session_(channel_, queues_, errors_, Edition::Current, &queues_) {
        auto made = ScriptedSerialDevice::Make();
        line_ = made.second;
        channel_.Port().SetDevice(std::move(made.first));
        channel_.SetSleepFunction([](uint32_t) {});
        channel_.Port().OpenPath("/dev/peer", LineSettings{});
        std::strcpy(session_.serviceCentre, "+8613800100500");
        session_.options.longMessages = true;
        session_.options.deliveryReports = true;
        family_ = FamilyWithCode(kModuleGsm, Edition::Current);
        queues_.Reset();
        queues_.SetAccepting(true);

        line_->OnWrite("AT+CMGS=", std::vector<std::string>{"\r\n> "});
        line_->OnWrite("\x1A", [this](const std::string& written, ScriptedSerialDevice& line) {
            pdus_.push_back(written.substr(0, written.find('\x1A')));
            line.Arrive({"\r\n+CMGS: " + std::to_string(pdus_.size()) + "\r\n\r\nOK\r\n"});
        });
        line_->OnWrite("AT+CMGL=4\r", [this](const std::string&, ScriptedSerialDevice& line) {
            line.Arrive({"\r\n" + listing_ + "\r\nOK\r\n"});
        });
        line_->OnWrite(
            [](const std::string&, ScriptedSerialDevice& line) { line.Arrive({"\r\nOK\r\n"}); });
    }

    std::string Encode(const std::string& number, const std::string& text) {
        pdus_.clear();
        char buffer[32] = {};
        std::strncpy(buffer, number.c_str(), sizeof buffer - 1);
        session_.sending = SendRecord{};
        if (!family_->Send(session_, KindOfText(text.c_str()), text.c_str(), buffer)) {
            return "-";
        }
        std::string line;
        for (const std::string& pdu : pdus_) {
            line += (line.empty() ? "" : " ") + pdu;
        }
        return line;
    }

    std::string Reassemble(const std::vector<std::string>& parts) {
        listing_.clear();
        int index = 1;
        for (const std::string& pdu : parts) {
            listing_ += "+CMGL: " + std::to_string(index++) + ",0,,0\r\n" + pdu + "\r\n";
        }
        family_->Receive(session_);
        std::string joined;
        int records = 0;
        ReceivedMessage record;
        while (queues_.TakeReceived(reinterpret_cast<char*>(&record))) {
            joined += record.text;
            ++records;
        }
        return (records == 0 ? std::string("-") : ToHex(joined)) + " " + std::to_string(records);
    }

    std::string Reports(const std::string& pdu, int reference, const std::string& recipient) {
        const int32_t about = Asked(recipient, reference);
        const int32_t otherReference = Asked(recipient, (reference + 1) % 256);
        std::string another = recipient;
        another.back() = another.back() == '9' ? '0' : static_cast<char>(another.back() + 1);
        const int32_t otherNumber = Asked(another, reference);
        listing_ = "+CMGL: 1,0,,0\r\n" + pdu + "\r\n";
        family_->Receive(session_);
        return std::to_string(queues_.QueryDelivery(about)) + " " +
               std::to_string(queues_.QueryDelivery(otherReference)) + " " +
               std::to_string(queues_.QueryDelivery(otherNumber));
    }

  private:
    // A message to number that asked for a report and went out under the reference.
    int32_t Asked(const std::string& number, int reference) {
        OutgoingMessage message{};
        std::strncpy(message.number, number.c_str(), sizeof message.number - 1);
        std::strcpy(message.text, "report me");
        const int32_t id = queues_.Accept(message, true);
        SendRecord parts;
        parts.reportWanted = true;
        parts.partCount = 1;
        parts.references[0] = static_cast<int16_t>(reference);
        queues_.RecordParts(id, number.c_str(), parts, true);
        return id;
    }

    std::atomic<bool> running_{true};
    ModemChannel channel_{running_};
    MessageQueues queues_;
    NoErrors errors_;
    ModuleSession session_;
    const ModuleFamily* family_ = nullptr;
    ScriptedSerialDevice* line_ = nullptr;
    std::vector<std::string> pdus_;
    std::string listing_;
};

int Run(const std::string& mode) {
    Module module;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream fields(line);
        if (mode == "encode") {
            std::string number;
            std::string text;
            fields >> number >> text;
            std::cout << module.Encode(number, FromHex(text)) << std::endl;
        } else if (mode == "reassemble") {
            std::vector<std::string> parts;
            for (std::string pdu; fields >> pdu;) {
                parts.push_back(pdu);
            }
            std::cout << module.Reassemble(parts) << std::endl;
        } else if (mode == "reports") {
            std::string pdu;
            int reference = 0;
            std::string recipient;
            fields >> pdu >> reference >> recipient;
            std::cout << module.Reports(pdu, reference, recipient) << std::endl;
        } else {
            std::cerr << "usage: peer_codec encode|reassemble|reports\n";
            return 2;
        }
    }
    return 0;
}

}  // namespace
}  // namespace tidewire

int main(int argc, char** argv) {
    if (argc != 2 || std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
        std::cerr << "usage: peer_codec encode|reassemble|reports (needs the C.UTF-8 locale)\n";
        return 2;
    }
    return tidewire::Run(argv[1]);
}

// Writes the starting corpora of the fuzz targets: the simulated module's own answers for every
// family (listings, read replies, service-centre answers) around a spread of messages, and the
// PDUs and replies captured from real modems. Run once when the inputs change; the corpora are
// then minimised and kept in the repository.
//
//   fuzz_make_seeds <output folder> <captured data folder>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "DeliverPdu.h"
#include "ModemEngine.h"
#include "ModemTypes.h"
#include "codec/Pdu.h"
#include "codec/TextHex.h"

namespace {

using tidewire::sim::IncomingMessage;
using tidewire::sim::ModemConfig;
using tidewire::sim::ModemEngine;
using tidewire::sim::TextCoding;
using tidewire::sim::Timestamp;

namespace fs = std::filesystem;

const char kSeparator = '\x1e';

fs::path outputRoot;
int written = 0;

void Write(const std::string& target, const std::string& name, const std::string& content) {
    const fs::path folder = outputRoot / target;
    fs::create_directories(folder);
    std::ofstream file(folder / name, std::ios::binary);
    file << content;
    ++written;
}

// The piece layouts a dialogue seed is written with: whole, in 7-byte pieces, and in 40-byte
// pieces behind an empty poll.
const std::vector<std::string>& Layouts() {
    static const std::vector<std::string> layouts = {
        std::string(1, '\0'), std::string("\x01\x07", 2), std::string("\x02\x00\x28", 3)};
    return layouts;
}

std::vector<IncomingMessage> Messages() {
    std::vector<IncomingMessage> messages;
    const auto add = [&](std::string sender, std::string text, TextCoding coding,
                         bool alphanumeric = false) {
        IncomingMessage message;
        message.sender = std::move(sender);
        message.textUtf8 = std::move(text);
        message.coding = coding;
        message.alphanumericSender = alphanumeric;
        message.timestamp = Timestamp{2024, 3, 14, 15, 9, 26, 32};
        messages.push_back(message);
    };
    add("+8613912345678", "Hello from the network", TextCoding::Auto);
    add("10086", "余额不足，请及时充值。", TextCoding::Auto);
    add("+447700900123", "Braces {} [] ~ \\ | ^ and the euro sign €", TextCoding::Gsm7);
    add("+15551234567", "eight bit \x01\x02\x7f", TextCoding::EightBit);
    add("Bank", "Your code is 123456", TextCoding::Auto, true);
    add("+8613800000000", "", TextCoding::Auto);
    add("+8613700000001", std::string(160, 'x'), TextCoding::Gsm7);
    add("+8613700000002", std::string(200, 'y'), TextCoding::Auto);
    add("+8613700000003", "Ünïcödé ÄÖÜ ß 日本語テキスト 😀", TextCoding::Ucs2);
    add("123", "OK\r\nERROR\r\n+CMGL: 9,\"REC UNREAD\"", TextCoding::Auto);
    return messages;
}

void GsmSeeds(const std::vector<IncomingMessage>& messages) {
    for (size_t count = 0; count <= messages.size(); count += 3) {
        ModemConfig config;
        config.family = 666;
        config.firstIndex = count % 2 == 0 ? 1 : 0;
        ModemEngine modem(config);
        for (size_t i = 0; i < count && i < messages.size(); ++i) {
            modem.Inject(messages[i]);
        }
        modem.Feed("AT+CMGF=0\r");
        const std::string listing = modem.Feed("AT+CMGL=4\r");
        for (size_t layout = 0; layout < Layouts().size(); ++layout) {
            Write("gsm_listing", "sim_" + std::to_string(count) + "_" + std::to_string(layout),
                  Layouts()[layout] + listing);
        }
        Write("reply_poll", "gsm_listing_" + std::to_string(count),
              std::string("\x14\x00", 2) + Layouts()[1] + listing);
        Write("result_lines", "gsm_listing_" + std::to_string(count),
              std::string(1, '\0') + listing + kSeparator + "AT+CMGL=4\r");
    }
    // Every message alone, so each coding is a seed of its own.
    for (size_t i = 0; i < messages.size(); ++i) {
        ModemEngine modem;
        modem.Inject(messages[i]);
        modem.Feed("AT+CMGF=0\r");
        Write("gsm_listing", "sim_single_" + std::to_string(i),
              Layouts()[0] + modem.Feed("AT+CMGL=4\r"));
        for (const std::string& pdu : tidewire::sim::BuildDeliverPdus(messages[i])) {
            Write("pdu_decode", "sim_" + std::to_string(i) + "_" + pdu.substr(pdu.size() - 8), pdu);
            Write("text_hex", "pdu_" + std::to_string(i), std::string("\x40\x03", 2) + pdu);
        }
    }
}

void Seeds870(const std::vector<IncomingMessage>& messages) {
    for (size_t count = 1; count <= messages.size(); count += 3) {
        ModemConfig config;
        config.family = 870;
        ModemEngine modem(config);
        for (size_t i = 0; i < count; ++i) {
            modem.Inject(messages[i]);
        }
        const std::string listing = modem.Feed("AT+CMGL=\"ALL\"\r");
        std::string script = listing;
        for (const auto& stored : modem.StoreContents()) {
            script += kSeparator;
            script += modem.Feed("AT+CMGR=" + std::to_string(stored.index) + "\r");
        }
        for (size_t layout = 0; layout < Layouts().size(); ++layout) {
            Write("receive_870", "sim_" + std::to_string(count) + "_" + std::to_string(layout),
                  Layouts()[layout] + script);
        }
        Write("result_lines", "870_listing_" + std::to_string(count),
              std::string(1, '\0') + listing + kSeparator + "AT+CMGL=\"ALL\"\r");
    }
}

void CdmaSeeds(const std::vector<IncomingMessage>& messages) {
    for (const int family : {860, 865}) {
        for (size_t i = 0; i < messages.size(); ++i) {
            if (messages[i].alphanumericSender) {
                continue;  // a CDMA network delivers from numbers only
            }
            ModemConfig config;
            config.family = family;
            ModemEngine modem(config);
            IncomingMessage message = messages[i];
            message.coding = TextCoding::Auto;
            if (message.textUtf8.size() > 70) {
                message.textUtf8.resize(70);
            }
            modem.Inject(message);
            const std::string answer = modem.Feed(family == 865 ? "at$smsmt=1?\r" : "at$smsmt0?\r");
            for (size_t layout = 0; layout < Layouts().size(); ++layout) {
                std::string script = Layouts()[layout];
                if (family == 865) {
                    script[0] = static_cast<char>(script[0] | 0x20);
                }
                Write("cdma_answer",
                      "sim_" + std::to_string(family) + "_" + std::to_string(i) + "_" +
                          std::to_string(layout),
                      script + answer);
            }
        }
    }
}

void ServiceCentreSeeds() {
    int n = 0;
    for (const char* number : {"+8613800100500", "13800100500", "", "+1234567890123456789"}) {
        ModemConfig config;
        config.serviceCentre = number;
        ModemEngine modem(config);
        const std::string answer = modem.Feed("AT+CSCA?\r");
        Write("service_centre", "sim_" + std::to_string(n), Layouts()[0] + answer);
        Write("service_centre", "sim_option_" + std::to_string(n), std::string(1, '\x20') + answer);
        Write("reply_poll", "csca_" + std::to_string(n),
              std::string("\x0a\x00", 2) + Layouts()[2] + answer);
        Write("result_lines", "csca_" + std::to_string(n),
              std::string(1, '\0') + answer + kSeparator + "AT+CSCA?\r");
        ++n;
    }
}

// The answers of the simulated module to the blocks each send procedure writes, in the order
// and with the texts of the send-verdict target, as a module that confirms and one that fails.
void SendSeeds() {
    const std::string number = "13800138000";
    const char* const ascii[] = {"Look: OK\r\nERROR, no error",
                                 "",
                                 "+CMGS: 1\r\nOK",
                                 "",
                                 "$SMSMOACK? no",
                                 "$006 is not an answer",
                                 "",
                                 ""};
    const std::string unicode = "\xE4\xBD\xA0\xE5\xA5\xBD";
    const int families[] = {666, 666, 870, 870, 860, 865, 860, 865};
    for (int procedure = 0; procedure < 8; ++procedure) {
        std::vector<std::string> blocks;
        const std::string text = procedure == 1                       ? unicode + " OK"
                                 : (procedure == 3 || procedure >= 6) ? unicode
                                                                      : ascii[procedure];
        if (procedure == 0 || procedure == 2) {
            blocks = {procedure == 0 ? "AT+CMGF=1\r" : "AT+ZMSGL=1,2\r",
                      "AT+CMGS=\"" + number + "\"\r", text + "\x1A"};
        } else if (procedure == 1) {
            tidewire::PduMessage message{};
            std::snprintf(message.smsc, sizeof message.smsc, "8613800100500");
            std::snprintf(message.number, sizeof message.number, "86%s", number.c_str());
            std::snprintf(message.text, sizeof message.text, "%s", text.c_str());
            message.dcs = 8;
            char pdu[600];
            const size_t length = tidewire::EncodeSubmitPdu(message, pdu, sizeof pdu);
            blocks = {"AT+CMGF=0\r",
                      "AT+CMGS=" + std::to_string(tidewire::SubmitTpduLength(pdu, length)) + "\r",
                      std::string(pdu, length) + "\x1A\r"};
        } else if (procedure == 3) {
            const std::string work = text + "\x1A";
            uint8_t ucs2[64];
            const size_t bytes = tidewire::HostToUcs2(work.data(), work.size(), ucs2, sizeof ucs2);
            blocks = {"AT+ZMSGL=6,4\r", "AT+CMGS=\"" + number + "\"\r",
                      std::string(reinterpret_cast<const char*>(ucs2), bytes)};
        } else {
            char hex[300];
            const int encoding = procedure >= 6 ? 4 : 2;
            if (encoding == 2) {
                tidewire::HostToHex(text.c_str(), hex, sizeof hex);
            } else {
                tidewire::HostToUcs2Hex(text.c_str(), hex, sizeof hex);
            }
            blocks = {std::string(families[procedure] == 865 ? "at$smsmo=" : "at$smsmo0=") +
                      number + "," + number + ",4098," + std::to_string(encoding) + ",0,0," + hex +
                      "\r"};
        }
        for (const bool failing : {false, true}) {
            ModemConfig config;
            config.family = families[procedure];
            ModemEngine modem(config);
            modem.SetSendFailure(failing);
            std::string script(1, static_cast<char>(procedure << 5));
            for (size_t i = 0; i < blocks.size(); ++i) {
                if (i > 0) {
                    script += kSeparator;
                }
                script += modem.Feed(blocks[i]);
                script += modem.TakeUnsolicited();
            }
            Write("send_verdict",
                  "sim_" + std::to_string(procedure) + (failing ? "_failing" : "_confirmed"),
                  script);
        }
    }
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The pdu_hex column of a captured table.
std::vector<std::string> CapturedPdus(const fs::path& table) {
    std::vector<std::string> pdus;
    std::istringstream lines(ReadFile(table));
    std::string line;
    size_t column = std::string::npos;
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream split(line);
        std::string cell;
        while (std::getline(split, cell, '\t')) {
            cells.push_back(cell);
        }
        if (column == std::string::npos) {
            for (size_t i = 0; i < cells.size(); ++i) {
                if (cells[i] == "pdu_hex") {
                    column = i;
                }
            }
            continue;
        }
        if (column < cells.size() && !cells[column].empty()) {
            pdus.push_back(cells[column]);
        }
    }
    return pdus;
}

void CapturedSeeds(const fs::path& captured) {
    int n = 0;
    for (const char* table : {"pdus.tsv", "pdus_other.tsv"}) {
        for (const std::string& pdu : CapturedPdus(captured / table)) {
            Write("pdu_decode", "real_" + std::to_string(n++), pdu);
        }
    }
    n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(captured / "replies")) {
        if (!entry.is_regular_file() || entry.path().filename() == "README") {
            continue;
        }
        const std::string reply = ReadFile(entry.path());
        const std::string name = "real_" + std::to_string(n++);
        const std::string folder = entry.path().parent_path().filename().string();
        const std::string file = entry.path().filename().string();
        Write("result_lines", name, std::string(1, '\0') + reply);
        Write("reply_poll", name, std::string("\x14\x00", 2) + Layouts()[1] + reply);
        if (folder.rfind("at-smsc", 0) == 0) {
            Write("service_centre", name, Layouts()[0] + reply);
        }
        if (file.find("cmgl") != std::string::npos || folder == "at-sms" ||
            file.find("cmgr") != std::string::npos) {
            // A listing, or a PDU read reply that the walk may meet in a listing's place.
            Write("gsm_listing", name, Layouts()[0] + reply);
        }
        if (folder.rfind("at-sms-txt", 0) == 0 || file.find("text_mode") != std::string::npos) {
            Write("receive_870", name,
                  Layouts()[0] + "\r\n+CMGL: 1,\"REC READ\"\r\n\r\nOK\r\n" + kSeparator + reply);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <output folder> <captured data folder>\n", argv[0]);
        return 2;
    }
    outputRoot = argv[1];
    const std::vector<IncomingMessage> messages = Messages();
    GsmSeeds(messages);
    Seeds870(messages);
    CdmaSeeds(messages);
    ServiceCentreSeeds();
    SendSeeds();
    CapturedSeeds(argv[2]);
    std::printf("%d seeds written under %s\n", written, argv[1]);
    return 0;
}

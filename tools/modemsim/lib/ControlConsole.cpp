#include "ControlConsole.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "DeliverPdu.h"
#include "HexText.h"
#include "StatusReportPdu.h"

namespace tidewire::sim {

namespace {

// The first word and the rest of the line, blanks trimmed.
std::pair<std::string_view, std::string_view> SplitWord(std::string_view text) {
    text = TrimBlanks(text);
    const std::size_t blank = text.find_first_of(" \t");
    if (blank == std::string_view::npos) {
        return {text, {}};
    }
    return {text.substr(0, blank), TrimBlanks(text.substr(blank + 1))};
}

ControlConsole::Outcome Reply(std::string text) {
    return {std::move(text) + "\n", false};
}
ControlConsole::Outcome Failure(std::string text) {
    return {"error: " + text + "\n", false};
}

std::optional<bool> OnOff(std::string_view word) {
    if (word == "on" || word.empty()) {
        return true;
    }
    if (word == "off") {
        return false;
    }
    return std::nullopt;
}

std::string IndexList(const std::vector<int>& indexes) {
    std::string list;
    for (const int index : indexes) {
        list += (list.empty() ? "" : ",") + std::to_string(index);
    }
    return list;
}

// A TP-Status as it is written in the standard's tables: 0x00, 0x41.
std::string StatusOctet(std::uint8_t status) {
    return "0x" + BytesToHex(Bytes{status});
}

std::string DescribeFaults(const FaultSettings& f) {
    std::string text = "faults:";
    if (f.silent) {
        text += " silent";
    }
    for (const std::string& prefix : f.errorPrefixes) {
        text += " error=" + prefix;
    }
    if (f.noEcho) {
        text += " no-echo";
    }
    if (f.lowerCaseReplies) {
        text += " lowercase";
    }
    if (!f.garbage.empty()) {
        text += " garbage=\"" + EscapeForDisplay(f.garbage, true) + "\"";
    }
    if (f.sendFailure) {
        text += " send-fail";
    }
    if (f.chunkBytes > 0) {
        text += " chunk=" + std::to_string(f.chunkBytes) + "/" +
                std::to_string(f.chunkDelay.count()) + "ms";
    }
    if (f.bytesPerSecond > 0) {
        text += " speed=" + std::to_string(f.bytesPerSecond) + "B/s";
    }
    if (!f.interjection.empty()) {
        text += " interject=\"" + EscapeForDisplay(f.interjection, true) + "\"";
    }
    if (f.replyDelay.count() > 0) {
        text += " late=" + std::to_string(f.replyDelay.count()) + "ms";
    }
    return text == "faults:" ? "faults: none" : text;
}

}  // namespace

std::string EscapeForDisplay(std::string_view text, bool insideQuotes) {
    std::string out;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '"' && insideQuotes) {
            out += "\\\"";
        } else if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string UnescapeArgument(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char next = text[++i];
        if (next == 'r') {
            out.push_back('\r');
        } else if (next == 'n') {
            out.push_back('\n');
        } else if (next == 't') {
            out.push_back('\t');
        } else if (next == 'x' && i + 2 < text.size()) {
            const auto byte = HexToBytes(text.substr(i + 1, 2));
            if (byte) {
                out.push_back(static_cast<char>((*byte)[0]));
                i += 2;
            } else {
                out += "\\x";
            }
        } else {
            out.push_back(next);
        }
    }
    return out;
}

std::string ControlConsole::Help() {
    return "commands:\n"
           "  inject <sender> <text...>        store an incoming message (7-bit or UCS-2 as "
           "the text needs)\n"
           "  inject-ucs2 <sender> <text...>   the same, always UCS-2\n"
           "  inject-gsm7 <sender> <text...>   the same, always the GSM 7-bit alphabet\n"
           "  inject-8bit <sender> <text...>   the same, the text's bytes as 8-bit data\n"
           "  inject-alpha <name> <text...>    from an alphanumeric sender (at most 11 "
           "characters)\n"
           "  inject-parts [--ucs2|--gsm7] [--ref16] [--ref <n>] <sender> <order> <text...>\n"
           "                                   deliver chosen parts of a long text in the "
           "order given (e.g. 3,1)\n"
           "  inject-pdu <hex>                 store an SMS-DELIVER PDU (service-centre part "
           "first);\n"
           "                                   an SMS-STATUS-REPORT goes where AT+CNMI sends "
           "reports\n"
           "  inject-raw <hex>                 store any hex as a PDU, unchecked\n"
           "  report delivered|failed|expired|<TP-ST>\n"
           "                                   the outcome of requested status reports (TP-ST "
           "as 0xNN or decimal)\n"
           "  report-delay <ms>                how long after a send the status report comes\n"
           "  sent                             list the messages the host sent\n"
           "  store                            list the message store\n"
           "  log                              list the command lines received\n"
           "  clear sent|log|store             forget sent messages, the log, or the stored "
           "messages\n"
           "  fault                            show the faults that are on\n"
           "  fault silent [on|off]            answer nothing at all\n"
           "  fault error <command prefix>     answer ERROR to lines starting so (e.g. "
           "AT+CMGF=1)\n"
           "  fault error-off <command prefix> stop doing so\n"
           "  fault no-echo [on|off]           never echo\n"
           "  fault lowercase [on|off]         replies in lower case\n"
           "  fault chunk <bytes> <delay-ms>   split replies into chunks (0 0: off)\n"
           "  fault speed <bytes-per-second>   slow line (0: off)\n"
           "  fault garbage <bytes>|off        put bytes (\\r \\n \\xNN escapes) before "
           "replies\n"
           "  fault send-fail [on|off]         AT+CMGS ends in +CMS ERROR: 500\n"
           "  fault interject <line>|off       an indication line inside every reply\n"
           "  fault late <ms>                  hold every reply back (0: off)\n"
           "  fault no-sim [on|off]            no SIM card\n"
           "  fault hangup                     close the pty: the device disappears\n"
           "  fault unhangup                   plugged back in: a new pty (the link follows\n"
           "                                   it), settings as at power-on\n"
           "  fault clear                      all faults off (not hang-up, not no-sim)\n"
           "  help                             this text\n"
           "  quit                             stop the simulator\n";
}

ControlConsole::Outcome ControlConsole::Execute(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    const auto [verb, arguments] = SplitWord(line);
    if (verb.empty() || verb.front() == '#') {
        return {};
    }
    try {
        if (verb == "quit" || verb == "exit") {
            return {"bye\n", true};
        }
        if (verb == "help") {
            return {Help(), false};
        }
        if (verb == "inject-parts") {
            return InjectParts(arguments);
        }
        if (verb.substr(0, 6) == "inject") {
            return Inject(verb, arguments);
        }
        if (verb == "report" || verb == "report-delay") {
            return Report(verb, arguments);
        }
        if (verb == "sent") {
            return {ListSent(), false};
        }
        if (verb == "store") {
            return {ListStore(), false};
        }
        if (verb == "log") {
            std::string text;
            const auto log = engine_.CommandLog();
            text = "log: " + std::to_string(log.size()) + " line(s)\n";
            for (const std::string& command : log) {
                text += "  " + EscapeForDisplay(command) + "\n";
            }
            return {text, false};
        }
        if (verb == "clear") {
            if (arguments == "sent") {
                engine_.ClearSentMessages();
            } else if (arguments == "log") {
                engine_.ClearCommandLog();
            } else if (arguments == "store") {
                engine_.ClearStore();
            } else {
                return Failure("clear what? sent, log or store");
            }
            return Reply("cleared " + std::string(arguments));
        }
        if (verb == "fault") {
            return Fault(arguments);
        }
    } catch (const std::exception& error) {
        return Failure(error.what());
    }
    return Failure("unknown command '" + std::string(verb) + "' (try help)");
}

ControlConsole::Outcome ControlConsole::Inject(std::string_view verb, std::string_view arguments) {
    if (verb == "inject-pdu" || verb == "inject-raw") {
        if (arguments.empty()) {
            return Failure(std::string(verb) + " needs the PDU as hex");
        }
        const InjectResult result = engine_.InjectPdu(arguments, verb == "inject-pdu");
        if (!result.stored) {
            return Failure(result.error);
        }
        if (result.routedToHost) {
            return Reply("indicated as +CDS");
        }
        return Reply("stored at " + std::to_string(result.indexes.front()));
    }
    IncomingMessage message;
    if (verb == "inject-ucs2") {
        message.coding = TextCoding::Ucs2;
    } else if (verb == "inject-gsm7") {
        message.coding = TextCoding::Gsm7;
    } else if (verb == "inject-8bit") {
        message.coding = TextCoding::EightBit;
    } else if (verb == "inject-alpha") {
        message.alphanumericSender = true;
    } else if (verb != "inject") {
        return Failure("unknown command '" + std::string(verb) + "' (try help)");
    }
    const auto [sender, text] = SplitWord(arguments);
    if (sender.empty()) {
        return Failure(std::string(verb) + " needs a sender and a text");
    }
    message.sender = std::string(sender);
    message.textUtf8 = UnescapeArgument(text);
    const InjectResult result = engine_.Inject(message);
    if (!result.stored) {
        return Failure(result.error);
    }
    return Reply("stored at " + IndexList(result.indexes));
}

ControlConsole::Outcome ControlConsole::InjectParts(std::string_view arguments) {
    IncomingMessage message;
    PartSelection selection;
    // Options first, then the sender, the parts and the text (which may itself hold "--").
    std::pair<std::string_view, std::string_view> next = SplitWord(arguments);
    for (; next.first.substr(0, 2) == "--"; next = SplitWord(next.second)) {
        const std::string_view word = next.first;
        if (word == "--ucs2") {
            message.coding = TextCoding::Ucs2;
        } else if (word == "--gsm7") {
            message.coding = TextCoding::Gsm7;
        } else if (word == "--ref16") {
            selection.sixteenBitReference = true;
        } else if (word == "--ref") {
            const auto [value, after] = SplitWord(next.second);
            selection.reference = ParseInt(value);
            if (!selection.reference) {
                return Failure("--ref needs a number");
            }
            next.second = after;
        } else {
            return Failure("inject-parts knows --ucs2, --gsm7, --ref16 and --ref <n>, not " +
                           std::string(word));
        }
    }
    const std::string_view sender = next.first;
    const auto [order, text] = SplitWord(next.second);
    if (sender.empty() || order.empty()) {
        return Failure("inject-parts needs a sender, the parts (such as 3,1) and a text");
    }
    for (std::string_view list = order; !list.empty();) {
        const std::size_t comma = list.find(',');
        const auto part = ParseInt(list.substr(0, comma));
        if (!part) {
            return Failure("the parts are numbers from 1 separated by commas, such as 3,1");
        }
        selection.order.push_back(*part);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    message.sender = std::string(sender);
    message.textUtf8 = UnescapeArgument(text);
    const InjectResult result = engine_.InjectParts(message, selection);
    if (!result.stored) {
        return Failure(result.error);
    }
    return Reply("stored at " + IndexList(result.indexes) +
                 " ref=" + std::to_string(result.concatReference) +
                 " parts=" + std::to_string(result.partCount));
}

ControlConsole::Outcome ControlConsole::Report(std::string_view verb, std::string_view arguments) {
    if (verb == "report-delay") {
        const auto delay = ParseInt(arguments);
        if (!delay || *delay < 0) {
            return Failure("report-delay needs milliseconds, 0 or more");
        }
        engine_.SetStatusReportDelay(std::chrono::milliseconds(*delay));
        return Reply("status reports " + std::to_string(*delay) + " ms after the send");
    }
    std::optional<int> status;
    if (arguments == "delivered") {
        status = kReportDelivered;
    } else if (arguments == "failed") {
        status = kReportIncompatibleDestination;
    } else if (arguments == "expired") {
        status = kReportValidityExpired;
    } else if (arguments.substr(0, 2) == "0x" || arguments.substr(0, 2) == "0X") {
        const auto octet = HexToBytes(arguments.substr(2));
        if (octet && octet->size() == 1) {
            status = (*octet)[0];
        }
    } else {
        status = ParseInt(arguments);
    }
    if (!status || *status < 0 || *status > 0xFF) {
        return Failure("report takes delivered, failed, expired or a TP-ST octet (0x41 or 65)");
    }
    engine_.SetStatusReportOutcome(static_cast<std::uint8_t>(*status));
    return Reply("status reports say " + StatusOctet(static_cast<std::uint8_t>(*status)));
}

ControlConsole::Outcome ControlConsole::Fault(std::string_view arguments) {
    const auto [name, rest] = SplitWord(arguments);
    if (name.empty()) {
        return Reply(DescribeFaults(engine_.Faults()));
    }
    if (name == "clear") {
        engine_.ClearFaults();
        return Reply(DescribeFaults(engine_.Faults()));
    }
    if (name == "error" || name == "error-off") {
        if (rest.empty()) {
            return Failure("fault " + std::string(name) + " needs a command prefix");
        }
        if (name == "error") {
            engine_.AddErrorFor(rest);
        } else {
            engine_.RemoveErrorFor(rest);
        }
        return Reply(DescribeFaults(engine_.Faults()));
    }
    if (name == "chunk") {
        const auto [bytesText, delayText] = SplitWord(rest);
        const auto bytes = ParseInt(bytesText);
        const auto delay = delayText.empty() ? std::optional<int>(0) : ParseInt(delayText);
        if (!bytes || !delay || *bytes < 0 || *delay < 0) {
            return Failure("fault chunk needs <bytes> <delay-ms>, both 0 or more");
        }
        engine_.SetChunking(static_cast<std::size_t>(*bytes), std::chrono::milliseconds(*delay));
        return Reply(DescribeFaults(engine_.Faults()));
    }
    if (name == "speed") {
        const auto speed = ParseInt(rest);
        if (!speed || *speed < 0) {
            return Failure("fault speed needs bytes per second, 0 or more");
        }
        engine_.SetLineSpeed(*speed);
        return Reply(DescribeFaults(engine_.Faults()));
    }
    if (name == "interject") {
        engine_.SetInterjection(rest == "off" ? std::string() : UnescapeArgument(rest));
        return Reply(DescribeFaults(engine_.Faults()));
    }
    if (name == "late") {
        const auto delay = ParseInt(rest);
        if (!delay || *delay < 0) {
            return Failure("fault late needs milliseconds, 0 or more");
        }
        engine_.SetReplyDelay(std::chrono::milliseconds(*delay));
        return Reply(DescribeFaults(engine_.Faults()));
    }
    if (name == "garbage") {
        engine_.SetGarbage(rest == "off" ? std::string() : UnescapeArgument(rest));
        return Reply(DescribeFaults(engine_.Faults()));
    }
    if (name == "hangup" || name == "unhangup") {
        if (pty_ == nullptr) {
            return Failure("no pty to hang up");
        }
        if (name == "hangup") {
            pty_->HangUp();
            return Reply("hung up");
        }
        pty_->Restore();
        return Reply("device: " + pty_->DevicePath());
    }
    const auto on = OnOff(rest);
    if (!on) {
        return Failure("fault " + std::string(name) + " takes on or off");
    }
    if (name == "silent") {
        engine_.SetSilent(*on);
    } else if (name == "no-echo") {
        engine_.SetNoEcho(*on);
    } else if (name == "lowercase") {
        engine_.SetLowerCaseReplies(*on);
    } else if (name == "send-fail") {
        engine_.SetSendFailure(*on);
    } else if (name == "no-sim") {
        engine_.SetSimPresent(!*on);
        return Reply(*on ? "SIM removed" : "SIM inserted");
    } else {
        return Failure("unknown fault '" + std::string(name) + "' (try help)");
    }
    return Reply(DescribeFaults(engine_.Faults()));
}

std::string ControlConsole::ListSent() const {
    const auto sent = engine_.SentMessages();
    std::string text = "sent: " + std::to_string(sent.size()) + " message(s)\n";
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const SentMessage& m = sent[i];
        text += "  " + std::to_string(i + 1) + ": to=" + m.destination +
                " mode=" + (m.pduMode ? "pdu" : "text") +
                " mr=" + std::to_string(m.messageReference);
        if (m.concat) {
            text += " part=" + std::to_string(m.concat->sequence) + "/" +
                    std::to_string(m.concat->total) + " ref=" + std::to_string(m.concat->reference);
        }
        if (m.statusReportRequested) {
            text += " report=requested";
        }
        text += " text=\"" + EscapeForDisplay(m.textUtf8, true) + "\"";
        if (m.pduMode) {
            text += " pdu=" + m.rawPdu;
        }
        text += "\n";
    }
    return text;
}

std::string ControlConsole::ListStore() const {
    const auto messages = engine_.StoreContents();
    std::string text = "store: " + std::to_string(messages.size()) + " message(s)\n";
    for (const StoredMessage& m : messages) {
        text += "  " + std::to_string(m.index) + ": " + std::string(StatusName(m.status));
        if (const auto fields = DecodeDeliverPdu(m.pduHex)) {
            text += " from=" + fields->sender.number + " text=\"" +
                    EscapeForDisplay(fields->userData.textUtf8, true) + "\"";
        } else if (const auto report = DecodeStatusReportPdu(m.pduHex)) {
            text += " report mr=" + std::to_string(report->messageReference) +
                    " to=" + report->recipient.number + " st=" + StatusOctet(report->status);
        }
        text += " pdu=" + m.pduHex + "\n";
    }
    return text;
}

}  // namespace tidewire::sim

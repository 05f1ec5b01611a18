#include "CdmaFamilies.h"

#include "CdmaMessages.h"
#include "HexText.h"
#include "SharedCommands.h"

namespace tidewire::sim {

namespace {

// A vendor switch that takes 0 or 1 and reads back its value.
ModemFamily::Handler Switch(std::string name) {
    return [name = std::move(name)](ModemState& state, const AtCommand& command) {
        int& value = state.vendorSwitches[name];
        if (command.form == CommandForm::Read) {
            return CommandResult::Ok({name + ": " + std::to_string(value)});
        }
        const auto requested = ParseInt(command.arguments);
        if (command.form != CommandForm::Set || !requested ||
            (*requested != 0 && *requested != 1)) {
            return CommandResult::Error();
        }
        value = *requested;
        return CommandResult::Ok();
    };
}

int NextMessageReference(ModemState& state) {
    state.nextMessageReference = (state.nextMessageReference + 1) % 256;
    return state.nextMessageReference;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string Hex(std::string_view bytes) {
    return BytesToHex(Bytes(bytes.begin(), bytes.end()));
}

// ASCII text as the 7-bit encoding carries it; nothing for a byte above 0x7F or a text longer
// than one message.
std::optional<std::string> AsciiText(std::string_view bytes) {
    if (bytes.size() > kCdmaLongestAscii) {
        return std::nullopt;
    }
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) > 0x7F) {
            return std::nullopt;
        }
    }
    return std::string(bytes);
}

std::optional<std::string> UnicodeText(std::string_view bytes) {
    if (bytes.size() > 2 * kCdmaLongestUnicode) {
        return std::nullopt;
    }
    return Ucs2BytesToUtf8(bytes);
}

void RecordSent(ModemState& state, std::string destination, std::string textUtf8) {
    SentMessage sent;
    sent.destination = std::move(destination);
    sent.textUtf8 = std::move(textUtf8);
    sent.pduMode = false;
    sent.messageReference = NextMessageReference(state);
    state.sent.push_back(sent);
}

// --- Type 870 ---------------------------------------------------------------------------------

// AT+ZMSGL keeps the language and encoding of the next message body here; ATZ leaves them.
constexpr const char* kLanguageSetting = "+ZMSGL language";
constexpr const char* kEncodingSetting = "+ZMSGL encoding";
constexpr int kHighestLanguage = 7;  // the language indicators of the CDMA standard

int SettingOr(const ModemState& state, const char* name, int fallback) {
    const auto it = state.vendorSwitches.find(name);
    return it == state.vendorSwitches.end() ? fallback : it->second;
}

int BodyEncoding(const ModemState& state) {
    return SettingOr(state, kEncodingSetting, kCdmaAscii - '0');
}

CommandResult MessageLanguageAndEncoding(ModemState& state, const AtCommand& command) {
    switch (command.form) {
        case CommandForm::Read:
            return CommandResult::Ok(
                {"+ZMSGL: " + std::to_string(SettingOr(state, kLanguageSetting, 1)) + "," +
                 std::to_string(BodyEncoding(state))});
        case CommandForm::Test:
            return CommandResult::Ok({"+ZMSGL: (0-7),(2,4)"});
        case CommandForm::Set: {
            const auto parameters = SplitParameters(command.arguments);
            if (!parameters || parameters->size() != 2) {
                return CommandResult::Error();
            }
            const auto language = ParseInt((*parameters)[0].text);
            const auto encoding = ParseInt((*parameters)[1].text);
            if (!language || *language < 0 || *language > kHighestLanguage || !encoding ||
                (*encoding != kCdmaAscii - '0' && *encoding != kCdmaUnicode - '0')) {
                return CommandResult::Error();
            }
            state.vendorSwitches[kLanguageSetting] = *language;
            state.vendorSwitches[kEncodingSetting] = *encoding;
            return CommandResult::Ok();
        }
        case CommandForm::Execute:
            break;
    }
    return CommandResult::Error();
}

// The header and the body line of one stored message, for a listing or a read. The body is
// written as it is: ASCII characters, or UCS-2 bytes (zero bytes included); <length> counts
// those bytes.
std::vector<std::string> Lines870(const StoredMessage& stored, bool listing) {
    std::string header = listing ? "+CMGL: " + std::to_string(stored.index) + "," : "+CMGR: ";
    header += Quoted(StatusName(stored.status));
    const auto message = ReadCdmaMessage(stored);
    if (!message) {
        return {header + ",\"\",\"\",0,0,0", ""};
    }
    header += "," + Quoted(message->sender) + "," + Quoted(SlashedTime(message->time)) + ",0," +
              message->encoding + "," + std::to_string(message->body.size());
    return {header, message->body};
}

std::optional<int> ListingStatus(const AtCommand& command) {
    if (command.form == CommandForm::Execute) {
        return static_cast<int>(MessageStatus::ReceivedUnread);
    }
    const auto parameters = SplitParameters(command.arguments);
    if (!parameters || parameters->size() != 1 || !parameters->front().quoted) {
        return std::nullopt;
    }
    return StatusFilterFromName(ToUpperAscii(parameters->front().text));
}

CommandResult ListMessages870(ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Test) {
        return CommandResult::Ok(
            {"+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO SENT\",\"ALL\")"});
    }
    if (command.form == CommandForm::Read) {
        return CommandResult::Error();
    }
    if (!state.simPresent) {
        return CommandResult::Cms(cms::kSimNotInserted);
    }
    const auto status = ListingStatus(command);
    if (!status) {
        return CommandResult::Cms(cms::kInvalidTextParameter);
    }
    std::vector<std::string> lines;
    std::vector<int> listed;
    for (const StoredMessage& message : state.store.Messages()) {
        if (*status != kStatusAll && static_cast<int>(message.status) != *status) {
            continue;
        }
        const auto entry = Lines870(message, true);
        lines.insert(lines.end(), entry.begin(), entry.end());
        listed.push_back(message.index);
    }
    for (const int index : listed) {
        state.store.MarkRead(index);
    }
    return CommandResult::Ok(lines);
}

std::optional<int> IndexArgument(const AtCommand& command) {
    if (command.form != CommandForm::Set) {
        return std::nullopt;
    }
    const auto parameters = SplitParameters(command.arguments);
    if (!parameters || parameters->size() != 1 || parameters->front().quoted) {
        return std::nullopt;
    }
    return ParseInt(parameters->front().text);
}

CommandResult ReadMessage870(ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Test) {
        return CommandResult::Ok();
    }
    if (!state.simPresent) {
        return CommandResult::Cms(cms::kSimNotInserted);
    }
    const auto index = IndexArgument(command);
    if (!index) {
        return CommandResult::Cms(cms::kInvalidTextParameter);
    }
    const StoredMessage* const message = state.store.Find(*index);
    if (message == nullptr) {
        return CommandResult::Cms(cms::kInvalidMemoryIndex);
    }
    const auto lines = Lines870(*message, false);
    state.store.MarkRead(*index);
    return CommandResult::Ok(lines);
}

CommandResult DeleteMessage870(ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Test) {
        return CommandResult::Ok({"+CMGD: (" + UsedIndexes(state) + ")"});
    }
    if (!state.simPresent) {
        return CommandResult::Cms(cms::kSimNotInserted);
    }
    const auto index = IndexArgument(command);
    if (!index) {
        return CommandResult::Cms(cms::kInvalidTextParameter);
    }
    return state.store.Remove(*index) ? CommandResult::Ok()
                                      : CommandResult::Cms(cms::kInvalidMemoryIndex);
}

CommandResult SendMessage870(ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Test) {
        return CommandResult::Ok();
    }
    if (command.form != CommandForm::Set) {
        return CommandResult::Error();
    }
    if (!state.simPresent) {
        return CommandResult::Cms(cms::kSimNotInserted);
    }
    const auto parameters = SplitParameters(command.arguments);
    if (!parameters || parameters->size() != 1 || !parameters->front().quoted ||
        !IsDialString(parameters->front().text)) {
        return CommandResult::Cms(cms::kInvalidTextParameter);
    }
    TextEntry entry;
    entry.destination = parameters->front().text;
    entry.kind = BodyEncoding(state) == kCdmaUnicode - '0' ? TextEntry::Kind::RawUcs2
                                                           : TextEntry::Kind::TextMode;
    return CommandResult::Prompt(entry);
}

// --- Types 860 and 865 ------------------------------------------------------------------------

// How a family reports the outcome of at$smsmo, as an indication after the command's OK.
struct SendReports {
    const char* sent;
    const char* refused;    // the network refused the message
    const char* noService;  // no card, so no network
};

constexpr SendReports kReports865 = {"$SMSMO: $006", "$SMSMO: $002", "$SMSMO: $004"};
constexpr SendReports kReports860 = {"$SMSMOACK", "$SMSMONAK", "$SMSMONAK"};

constexpr std::size_t kSendParameters = 7;

// at$smsmo=<destination>,<callback>,<teleservice>,<encoding>,<priority>,<privacy>,<hex>: the
// whole message on one line. A malformed line is answered ERROR and nothing goes out; a
// well-formed one OK, followed by the network's verdict.
ModemFamily::Handler SendWholeMessage(SendReports reports) {
    return [reports](ModemState& state, const AtCommand& command) {
        if (command.form == CommandForm::Test) {
            return CommandResult::Ok();
        }
        if (command.form != CommandForm::Set) {
            return CommandResult::Error();
        }
        const auto p = SplitParameters(command.arguments);
        if (!p || p->size() != kSendParameters) {
            return CommandResult::Error();
        }
        const std::string& destination = (*p)[0].text;
        const std::string& callback = (*p)[1].text;
        const auto teleservice = ParseInt((*p)[2].text);
        const auto encoding = ParseInt((*p)[3].text);
        const auto priority = ParseInt((*p)[4].text);
        const auto privacy = ParseInt((*p)[5].text);
        const auto bytes = HexToBytes((*p)[6].text);
        const bool wellFormed =
            IsDialString(destination) && (callback.empty() || IsDialString(callback)) &&
            teleservice && *teleservice == kCdmaTeleservice && encoding && priority &&
            *priority >= 0 && *priority <= 3 && privacy && *privacy >= 0 && *privacy <= 3 && bytes;
        if (!wellFormed) {
            return CommandResult::Error();
        }
        const std::string body(bytes->begin(), bytes->end());
        std::optional<std::string> text;
        if (*encoding == kCdmaAscii - '0') {
            text = AsciiText(body);
        } else if (*encoding == kCdmaUnicode - '0') {
            text = UnicodeText(body);
        }
        if (!text) {
            return CommandResult::Error();
        }
        const char* report = reports.sent;
        if (!state.simPresent) {
            report = reports.noService;
        } else if (state.faults.sendFailure) {
            report = reports.refused;
        } else {
            RecordSent(state, destination, *text);
        }
        // The verdict comes from the network after the command was taken, so it follows the OK
        // as a line of its own.
        state.unsolicited += "\r\n" + std::string(report) + "\r\n";
        return CommandResult::Ok();
    };
}

// One answer line of at$smsmt: <20yyMMddhhmmss>,<sender>,<teleservice>,<encoding>,<length>,
// then the body as hex, quoted or not.
std::string SmsmtLine(const char* name, const CdmaMessage& message, bool quotedBody) {
    const std::string hex = Hex(message.body);
    return std::string(name) + ": " + DigitTime(message.time) + "," + message.sender + "," +
           std::to_string(kCdmaTeleservice) + "," + message.encoding + "," +
           std::to_string(message.length) + "," + (quotedBody ? Quoted(hex) : hex);
}

// at$smsmt=1? on type 865: the oldest unread message, which is then marked read; just OK when
// every message has been read.
CommandResult NextUnread865(ModemState& state, const AtCommand& command) {
    if (command.form != CommandForm::Set || TrimBlanks(command.arguments) != "1?") {
        return CommandResult::Error();
    }
    const StoredMessage* const stored = state.store.Oldest(MessageStatus::ReceivedUnread);
    if (stored == nullptr) {
        return CommandResult::Ok();
    }
    const int index = stored->index;
    const auto message = ReadCdmaMessage(*stored);
    state.store.MarkRead(index);
    if (!message) {
        return CommandResult::Ok();
    }
    return CommandResult::Ok({SmsmtLine("$SMSMT", *message, false)});
}

// at$smsmt0? on type 860: the oldest message, read or not; it stays until at$delmt=0.
CommandResult Oldest860(ModemState& state, const AtCommand& command) {
    if (command.form != CommandForm::Read) {
        return CommandResult::Error();
    }
    const StoredMessage* const stored = state.store.Oldest();
    if (stored == nullptr) {
        state.store.ForgetHandedOut();
        return CommandResult::Ok();
    }
    const int index = stored->index;
    const auto message = ReadCdmaMessage(*stored);
    state.store.MarkRead(index);
    state.store.MarkHandedOut(index);
    if (!message) {
        return CommandResult::Ok();
    }
    return CommandResult::Ok({SmsmtLine("$SMSMT0", *message, true)});
}

// at$delmt=0 on type 860: deletes the message the last at$smsmt0? handed out, if any. A
// message that arrived after an empty answer is never touched.
CommandResult DeleteHandedOut860(ModemState& state, const AtCommand& command) {
    const auto which = ParseInt(command.arguments);
    if (command.form != CommandForm::Set || !which || *which != 0) {
        return CommandResult::Error();
    }
    if (const auto index = state.store.HandedOut()) {
        state.store.Remove(*index);
    }
    state.store.ForgetHandedOut();
    return CommandResult::Ok();
}

}  // namespace

std::vector<std::string> CdmaFamily::BuildDelivery(const IncomingMessage& message,
                                                   const DeliverOptions& options) const {
    return BuildCdmaDelivery(message, options);
}

std::string CdmaFamily::RefusePdu(std::string_view, bool checked) const {
    return checked ? "" : "a CDMA module's store takes only well-formed SMS-DELIVER PDUs";
}

Family870::Family870() : CdmaFamily(870, "MC870 CDMA 1X HW199") {
    Route("+CPIN", PinStatus);
    Route("+CNMI", NewMessageIndications);
    Route("+CPMS", PreferredStorage({"MT", "ME"}));
    Route("+ZMSGL", MessageLanguageAndEncoding);
    Route("+CMGS", SendMessage870);
    Route("+CMGL", ListMessages870);
    Route("+CMGR", ReadMessage870);
    Route("+CMGD", DeleteMessage870);
}

CommandResult Family870::FinishEntry(ModemState& state, const TextEntry& entry,
                                     std::string_view body) const {
    if (!state.simPresent) {
        return CommandResult::Cms(cms::kSimNotInserted);
    }
    if (state.faults.sendFailure) {
        return CommandResult::Cms(cms::kUnknownError);
    }
    const auto text = entry.kind == TextEntry::Kind::RawUcs2 ? UnicodeText(body) : AsciiText(body);
    if (!text) {
        return CommandResult::Cms(cms::kInvalidTextParameter);
    }
    RecordSent(state, entry.destination, *text);
    return CommandResult::Ok({"+CMGS: " + std::to_string(state.sent.back().messageReference)});
}

std::string Family870::NewMessageIndication(const ModemState& state, int index) const {
    if (state.newMessageIndication[1] == 0) {
        return "";
    }
    return "\r\n+CMTI: " + Quoted(state.storages[2]) + "," + std::to_string(index) + "\r\n";
}

Family860::Family860() : CdmaFamily(860, "CDMA MODEL 100") {
    Route("$SMSTYPE", Switch("$SMSTYPE"));
    Route("$MTRPTTYPE", Switch("$MTRPTTYPE"));
    Route("$SMSMO0", SendWholeMessage(kReports860));
    Route("$SMSMT0", Oldest860);
    Route("$DELMT", DeleteHandedOut860);
}

Family865::Family865() : CdmaFamily(865, "CDMA MODEL 199") {
    Route("$SMSMO", SendWholeMessage(kReports865));
    Route("$SMSMT", NextUnread865);
}

void Family865::MakeRoom(ModemState& state, int needed) const {
    while (state.store.Count() + needed > state.store.Capacity()) {
        const StoredMessage* const oldestRead = state.store.Oldest(MessageStatus::ReceivedRead);
        if (oldestRead == nullptr) {
            return;
        }
        state.store.Remove(oldestRead->index);
    }
}

}  // namespace tidewire::sim

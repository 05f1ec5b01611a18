#include "GsmFamily.h"

#include <chrono>
#include <iterator>

#include "DeliverPdu.h"
#include "GsmAlphabet.h"
#include "HexText.h"
#include "SharedCommands.h"
#include "StatusReportPdu.h"
#include "SubmitPdu.h"
#include "Utf8.h"

namespace tidewire::sim {

namespace {

// No real module calls itself this; a known model name would make clients such as gammu apply
// that model's quirks.
constexpr const char* kModel = "TW-G900 GSM/GPRS Module";

constexpr int kLongestTpdu = 164;
// TP-SRR in an SMS-SUBMIT's first octet, and so in AT+CSMP's <fo>.
constexpr int kStatusReportRequest = 0x20;
constexpr std::size_t kLongestTextSeptets = 160;
constexpr std::size_t kLongestUcs2Characters = 70;

bool InPduMode(const ModemState& state) {
    return state.messageFormat == 0;
}

CommandResult InvalidParameter(const ModemState& state) {
    return CommandResult::Cms(InPduMode(state) ? cms::kInvalidPduParameter
                                               : cms::kInvalidTextParameter);
}

int TypeOfNumber(const std::string& number) {
    return !number.empty() && number.front() == '+' ? 145 : 129;
}

// A quoted string parameter in the TE character set, as UTF-8.
std::optional<std::string> StringParameter(const ModemState& state, const Parameter& parameter) {
    if (!parameter.quoted) {
        return std::nullopt;
    }
    return DecodeTeText(parameter.text, state.charset);
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// A status report in text mode, as +CDS, +CMGL and +CMGR show it after their own fields:
// <fo>,<mr>,"<ra>",<tora>,"<scts>","<dt>",<st>.
std::string StatusReportTextFields(const ModemState& state, const StatusReportFields& report) {
    return std::to_string(report.firstOctet) + "," + std::to_string(report.messageReference) + "," +
           Quoted(EncodeTeText(report.recipient.number, state.charset)) + "," +
           std::to_string(report.recipient.type) + "," +
           Quoted(FormatTextModeTimestamp(report.serviceCentreTime)) + "," +
           Quoted(FormatTextModeTimestamp(report.dischargeTime)) + "," +
           std::to_string(report.status);
}

// Lines for one stored message in text mode: the header and the data. Data that is not plain
// 7-bit text (8-bit, UCS-2, or anything behind a user-data header) is shown as hex octets. A
// status report is one header line with its fields and no data.
std::vector<std::string> TextModeLines(const ModemState& state, const StoredMessage& message,
                                       bool listing) {
    const auto fields = DecodeDeliverPdu(message.pduHex);
    const std::string status = Quoted(std::string(StatusName(message.status)));
    std::string header =
        listing ? "+CMGL: " + std::to_string(message.index) + "," + status : "+CMGR: " + status;
    if (!fields) {
        if (const auto report = DecodeStatusReportPdu(message.pduHex)) {
            return {header + "," + StatusReportTextFields(state, *report)};
        }
        return {header + ",\"\",,\"\"", ""};
    }
    header += "," + Quoted(EncodeTeText(fields->sender.number, state.charset)) + ",," +
              Quoted(FormatTextModeTimestamp(fields->timestamp));
    const bool plainText = fields->alphabet == Alphabet::Gsm7 && fields->userData.header.empty();
    std::string data;
    std::size_t length = fields->userData.octets.size();
    if (plainText) {
        data = EncodeTeText(fields->userData.textUtf8, state.charset);
        const auto septets = EncodeGsm7(DecodeUtf8(fields->userData.textUtf8));
        length = septets ? septets->size() : length;
    } else {
        data = BytesToHex(fields->userData.octets);
    }
    if (state.showTextModeDetails) {
        header += "," + std::to_string(fields->sender.type);
        if (!listing) {
            header += "," + std::to_string(fields->firstOctet) + "," + std::to_string(fields->pid) +
                      "," + std::to_string(fields->dcs) + "," +
                      Quoted(EncodeTeText(fields->serviceCentre, state.charset)) + "," +
                      std::to_string(TypeOfNumber(fields->serviceCentre));
        }
        header += "," + std::to_string(length);
    }
    return {header, data};
}

// The <length> of PDU-mode listings and indications: the octets after the service-centre part
// (all of them when that part claims more than there is).
int TpduLength(const std::string& pduHex) {
    const auto bytes = HexToBytes(pduHex);
    int length = 0;
    if (bytes && !bytes->empty()) {
        const int serviceCentreOctets = (*bytes)[0] + 1;
        length = static_cast<int>(bytes->size()) - serviceCentreOctets;
        if (length < 0) {
            length = static_cast<int>(bytes->size());
        }
    }
    return length;
}

std::vector<std::string> PduModeLines(const StoredMessage& message, bool listing) {
    const int length = TpduLength(message.pduHex);
    const std::string status = std::to_string(static_cast<int>(message.status));
    const std::string header = listing ? "+CMGL: " + std::to_string(message.index) + "," + status +
                                             ",," + std::to_string(length)
                                       : "+CMGR: " + status + ",," + std::to_string(length);
    return {header, message.pduHex};
}

// The status filter of AT+CMGL: a number in PDU mode, a name in text mode.
std::optional<int> ListingStatus(const ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Execute) {
        return 0;  // received unread, what modules list when asked for nothing in particular
    }
    const auto parameters = SplitParameters(command.arguments);
    if (!parameters || parameters->size() != 1) {
        return std::nullopt;
    }
    const Parameter& p = parameters->front();
    if (InPduMode(state)) {
        const auto value = p.quoted ? std::nullopt : ParseInt(p.text);
        if (!value || *value < 0 || *value > kStatusAll) {
            return std::nullopt;
        }
        return value;
    }
    if (!p.quoted) {
        return std::nullopt;
    }
    return StatusFilterFromName(ToUpperAscii(p.text));
}

CommandResult ListMessages(ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Test) {
        return CommandResult::Ok(
            {InPduMode(state)
                 ? "+CMGL: (0-4)"
                 : "+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO SENT\",\"ALL\")"});
    }
    if (command.form == CommandForm::Read) {
        return CommandResult::Error();
    }
    if (!state.simPresent) {
        return CommandResult::Cms(cms::kSimNotInserted);
    }
    const auto status = ListingStatus(state, command);
    if (!status) {
        return InvalidParameter(state);
    }
    std::vector<std::string> lines;
    std::vector<int> listed;
    for (const StoredMessage& message : state.store.Messages()) {
        if (*status != kStatusAll && static_cast<int>(message.status) != *status) {
            continue;
        }
        const auto entry =
            InPduMode(state) ? PduModeLines(message, true) : TextModeLines(state, message, true);
        lines.insert(lines.end(), entry.begin(), entry.end());
        listed.push_back(message.index);
    }
    // Listing a received message marks it read, as reading it does.
    for (const int index : listed) {
        state.store.MarkRead(index);
    }
    return CommandResult::Ok(lines);
}

CommandResult ReadMessage(ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Test) {
        return CommandResult::Ok();
    }
    if (command.form != CommandForm::Set) {
        return CommandResult::Error();
    }
    if (!state.simPresent) {
        return CommandResult::Cms(cms::kSimNotInserted);
    }
    const auto index = ParseInt(command.arguments);
    if (!index) {
        return InvalidParameter(state);
    }
    const StoredMessage* const message = state.store.Find(*index);
    if (message == nullptr) {
        return CommandResult::Cms(cms::kInvalidMemoryIndex);
    }
    const auto lines =
        InPduMode(state) ? PduModeLines(*message, false) : TextModeLines(state, *message, false);
    state.store.MarkRead(*index);
    return CommandResult::Ok(lines);
}

CommandResult DeleteMessage(ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Test) {
        return CommandResult::Ok({"+CMGD: (" + UsedIndexes(state) + "),(0-4)"});
    }
    if (command.form != CommandForm::Set) {
        return CommandResult::Error();
    }
    if (!state.simPresent) {
        return CommandResult::Cms(cms::kSimNotInserted);
    }
    const auto parameters = SplitParameters(command.arguments);
    if (!parameters || parameters->empty() || parameters->size() > 2) {
        return InvalidParameter(state);
    }
    const auto index = ParseInt((*parameters)[0].text);
    int flag = 0;
    if (parameters->size() == 2) {
        const auto value = ParseInt((*parameters)[1].text);
        if (!value || *value < 0 || *value > 4) {
            return InvalidParameter(state);
        }
        flag = *value;
    }
    if (flag == 0) {
        if (!index) {
            return InvalidParameter(state);
        }
        return state.store.Remove(*index) ? CommandResult::Ok()
                                          : CommandResult::Cms(cms::kInvalidMemoryIndex);
    }
    // Flags 1 to 4 delete by status and ignore the index: read; read and sent; read, sent and
    // unsent; everything.
    for (const StoredMessage& message : std::vector<StoredMessage>(state.store.Messages())) {
        const int status = static_cast<int>(message.status);
        if (flag == 4 || status == 1 || (flag >= 2 && status == 3) || (flag >= 3 && status == 2)) {
            state.store.Remove(message.index);
        }
    }
    return CommandResult::Ok();
}

CommandResult SendMessage(ModemState& state, const AtCommand& command) {
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
    if (!parameters || parameters->empty() || parameters->size() > 2) {
        return InvalidParameter(state);
    }
    TextEntry entry;
    if (InPduMode(state)) {
        const auto length =
            (*parameters)[0].quoted ? std::nullopt : ParseInt((*parameters)[0].text);
        if (!length || *length < 1 || *length > kLongestTpdu || parameters->size() != 1) {
            return InvalidParameter(state);
        }
        entry.kind = TextEntry::Kind::PduMode;
        entry.pduLength = *length;
    } else {
        const auto destination = StringParameter(state, (*parameters)[0]);
        if (!destination || !IsDialString(*destination)) {
            return InvalidParameter(state);
        }
        entry.kind = TextEntry::Kind::TextMode;
        entry.destination = *destination;
    }
    return CommandResult::Prompt(entry);
}

CommandResult ServiceCentre(ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Test) {
        return CommandResult::Ok();
    }
    if (!state.simPresent) {
        return CommandResult::Cms(cms::kSimNotInserted);
    }
    if (command.form == CommandForm::Read) {
        return CommandResult::Ok(
            {"+CSCA: " + Quoted(EncodeTeText(state.serviceCentre, state.charset)) + "," +
             std::to_string(TypeOfNumber(state.serviceCentre))});
    }
    if (command.form != CommandForm::Set) {
        return CommandResult::Error();
    }
    const auto parameters = SplitParameters(command.arguments);
    if (!parameters || parameters->empty() || parameters->size() > 2) {
        return InvalidParameter(state);
    }
    const auto number = StringParameter(state, (*parameters)[0]);
    if (!number || !IsDialString(*number)) {
        return InvalidParameter(state);
    }
    if (parameters->size() == 2) {
        const auto type = ParseInt((*parameters)[1].text);
        if (!type || *type < 128 || *type > 255) {
            return InvalidParameter(state);
        }
    }
    state.serviceCentre = *number;
    return CommandResult::Ok();
}

CommandResult MessageFormat(ModemState& state, const AtCommand& command) {
    switch (command.form) {
        case CommandForm::Read:
            return CommandResult::Ok({"+CMGF: " + std::to_string(state.messageFormat)});
        case CommandForm::Test:
            return CommandResult::Ok({"+CMGF: (0,1)"});
        case CommandForm::Set: {
            const auto value = ParseInt(command.arguments);
            if (!value || (*value != 0 && *value != 1)) {
                return CommandResult::Error();
            }
            state.messageFormat = *value;
            return CommandResult::Ok();
        }
        case CommandForm::Execute:
            state.messageFormat = 0;
            return CommandResult::Ok();
    }
    return CommandResult::Error();
}

CommandResult CharacterSet(ModemState& state, const AtCommand& command) {
    switch (command.form) {
        case CommandForm::Read:
            return CommandResult::Ok({"+CSCS: " + Quoted(TeCharsetName(state.charset))});
        case CommandForm::Test: {
            std::string list;
            for (const TeCharset charset : SupportedTeCharsets()) {
                list += (list.empty() ? "" : ",") + Quoted(TeCharsetName(charset));
            }
            return CommandResult::Ok({"+CSCS: (" + list + ")"});
        }
        case CommandForm::Set: {
            const auto parameters = SplitParameters(command.arguments);
            if (!parameters || parameters->size() != 1) {
                return CommandResult::Error();
            }
            const auto charset = TeCharsetByName((*parameters)[0].text);
            if (!charset) {
                return CommandResult::Error();
            }
            state.charset = *charset;
            return CommandResult::Ok();
        }
        case CommandForm::Execute:
            break;
    }
    return CommandResult::Error();
}

// A setting that takes a number from a range and reads back under its own name.
ModemFamily::Handler RangeSetting(std::string name, int lowest, int highest,
                                  int ModemState::*field) {
    return [=](ModemState& state, const AtCommand& command) {
        switch (command.form) {
            case CommandForm::Read:
                return CommandResult::Ok({name + ": " + std::to_string(state.*field)});
            case CommandForm::Test:
                return CommandResult::Ok(
                    {name + ": (" + std::to_string(lowest) + "-" + std::to_string(highest) + ")"});
            case CommandForm::Set: {
                const auto parameters = SplitParameters(command.arguments);
                const auto value = parameters && !parameters->empty()
                                       ? ParseInt(parameters->front().text)
                                       : std::nullopt;
                if (!value || *value < lowest || *value > highest) {
                    return CommandResult::Error();
                }
                state.*field = *value;
                return CommandResult::Ok();
            }
            case CommandForm::Execute:
                break;
        }
        return CommandResult::Error();
    };
}

CommandResult Functionality(ModemState& state, const AtCommand& command) {
    switch (command.form) {
        case CommandForm::Read:
            return CommandResult::Ok({"+CFUN: " + std::to_string(state.functionality)});
        case CommandForm::Test:
            return CommandResult::Ok({"+CFUN: (0,1,4),(0-1)"});
        case CommandForm::Set: {
            const auto parameters = SplitParameters(command.arguments);
            if (!parameters || parameters->empty() || parameters->size() > 2) {
                return CommandResult::Cme(cme::kOperationNotSupported);
            }
            const auto value = ParseInt((*parameters)[0].text);
            if (!value || (*value != 0 && *value != 1 && *value != 4)) {
                return CommandResult::Cme(cme::kOperationNotSupported);
            }
            state.functionality = *value;
            return CommandResult::Ok();
        }
        case CommandForm::Execute:
            break;
    }
    return CommandResult::Error();
}

bool Registered(const ModemState& state) {
    return state.simPresent && state.functionality == 1;
}

CommandResult SignalQuality(ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Test) {
        return CommandResult::Ok({"+CSQ: (0-31,99),(0-7,99)"});
    }
    if (command.form != CommandForm::Execute) {
        return CommandResult::Error();
    }
    return CommandResult::Ok({Registered(state) ? "+CSQ: 24,99" : "+CSQ: 99,99"});
}

CommandResult Registration(ModemState& state, const AtCommand& command) {
    switch (command.form) {
        case CommandForm::Read:
            return CommandResult::Ok({Registered(state) ? "+CREG: 0,1" : "+CREG: 0,0"});
        case CommandForm::Test:
            return CommandResult::Ok({"+CREG: (0-2)"});
        case CommandForm::Set: {
            const auto value = ParseInt(command.arguments);
            return value && *value >= 0 && *value <= 2 ? CommandResult::Ok()
                                                       : CommandResult::Error();
        }
        case CommandForm::Execute:
            break;
    }
    return CommandResult::Error();
}

CommandResult SubscriberIdentity(ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Test) {
        return CommandResult::Ok();
    }
    if (command.form != CommandForm::Execute) {
        return CommandResult::Error();
    }
    if (!state.simPresent) {
        return CommandResult::Cme(cme::kSimNotInserted);
    }
    return CommandResult::Ok({std::string(kImsi)});
}

CommandResult MessageService(ModemState&, const AtCommand& command) {
    switch (command.form) {
        case CommandForm::Read:
            return CommandResult::Ok({"+CSMS: 0,1,1,1"});
        case CommandForm::Test:
            return CommandResult::Ok({"+CSMS: (0,1)"});
        case CommandForm::Set: {
            const auto value = ParseInt(command.arguments);
            if (!value || (*value != 0 && *value != 1)) {
                return CommandResult::Cms(cms::kOperationNotSupported);
            }
            return CommandResult::Ok({"+CSMS: 1,1,1"});
        }
        case CommandForm::Execute:
            break;
    }
    return CommandResult::Error();
}

// Text-mode parameters are kept and read back; of them only <fo> changes what is sent (its
// status-report request). Text-mode messages always go out in the 7-bit alphabet or, when the
// text needs it, UCS-2.
CommandResult TextModeParameters(ModemState& state, const AtCommand& command) {
    switch (command.form) {
        case CommandForm::Read: {
            std::string line = "+CSMP: ";
            for (std::size_t i = 0; i < state.textModeParameters.size(); ++i) {
                line += (i ? "," : "") + std::to_string(state.textModeParameters[i]);
            }
            return CommandResult::Ok({line});
        }
        case CommandForm::Test:
            return CommandResult::Ok();
        case CommandForm::Set: {
            const auto parameters = SplitParameters(command.arguments);
            if (!parameters || parameters->size() > state.textModeParameters.size()) {
                return CommandResult::Cms(cms::kInvalidTextParameter);
            }
            std::array<int, 4> values = state.textModeParameters;
            for (std::size_t i = 0; i < parameters->size(); ++i) {
                const Parameter& p = (*parameters)[i];
                if (p.text.empty()) {
                    continue;  // an omitted parameter keeps its value
                }
                const auto value = ParseInt(p.text);
                if (!value || *value < 0 || *value > 255) {
                    return CommandResult::Cms(cms::kInvalidTextParameter);
                }
                values[i] = *value;
            }
            state.textModeParameters = values;
            return CommandResult::Ok();
        }
        case CommandForm::Execute:
            break;
    }
    return CommandResult::Error();
}

int NextMessageReference(ModemState& state) {
    state.nextMessageReference = (state.nextMessageReference + 1) % 256;
    return state.nextMessageReference;
}

// The network's answer to a status-report request, due after the delay the controller set.
// The report names the message by the reference the module gave it in +CMGS, and the
// recipient as the host addressed it.
void ScheduleStatusReport(ModemState& state, const SentMessage& sent, const Address& recipient,
                          const std::string& serviceCentre) {
    PendingStatusReport report;
    report.due = std::chrono::steady_clock::now() + state.statusReportDelay;
    report.fields.serviceCentre = serviceCentre.empty() ? state.serviceCentre : serviceCentre;
    report.fields.messageReference = sent.messageReference;
    report.fields.recipient = recipient;
    report.fields.serviceCentreTime = CurrentLocalTimestamp();
    report.fields.status = state.statusReportOutcome;
    // Later than every report already waiting with the same or an earlier due time.
    auto position = state.pendingReports.end();
    while (position != state.pendingReports.begin() && std::prev(position)->due > report.due) {
        --position;
    }
    state.pendingReports.insert(position, report);
}

}  // namespace

GsmFamily::GsmFamily() : ModemFamily(666, kModel) {
    Route("+CPIN", PinStatus);
    Route("+CIMI", SubscriberIdentity);
    Route("+CFUN", Functionality);
    Route("+CSQ", SignalQuality);
    Route("+CREG", Registration);
    Route("+CSCS", CharacterSet);
    Route("+CMGF", MessageFormat);
    Route("+CSDH", RangeSetting("+CSDH", 0, 1, &ModemState::showTextModeDetails));
    Route("+CSMS", MessageService);
    Route("+CSMP", TextModeParameters);
    Route("+CNMI", NewMessageIndications);
    Route("+CPMS", PreferredStorage({"ME", "MT"}));
    Route("+CSCA", ServiceCentre);
    Route("+CMGS", SendMessage);
    Route("+CMGL", ListMessages);
    Route("+CMGR", ReadMessage);
    Route("+CMGD", DeleteMessage);
}

CommandResult GsmFamily::FinishEntry(ModemState& state, const TextEntry& entry,
                                     std::string_view body) const {
    if (state.faults.sendFailure) {
        return CommandResult::Cms(cms::kUnknownError);
    }
    if (!Registered(state)) {
        return CommandResult::Cms(cms::kNoNetworkService);
    }
    return entry.kind == TextEntry::Kind::PduMode ? FinishPduMessage(state, entry, body)
                                                  : FinishTextMessage(state, entry, body);
}

CommandResult GsmFamily::FinishPduMessage(ModemState& state, const TextEntry& entry,
                                          std::string_view body) {
    std::string hex;
    for (const char c : body) {
        if (c != '\r' && c != '\n' && c != ' ') {
            hex.push_back(c);
        }
    }
    const SubmitParse parse = ParseSubmitPdu(hex);
    if (!parse.fields || parse.fields->tpduLength != entry.pduLength) {
        return CommandResult::Cms(cms::kInvalidPduParameter);
    }
    SentMessage sent;
    sent.destination = parse.fields->destination.number;
    sent.textUtf8 = parse.fields->userData.textUtf8;
    sent.rawPdu = ToUpperAscii(hex);
    sent.pduMode = true;
    sent.concat = parse.fields->userData.concat;
    sent.messageReference = NextMessageReference(state);
    sent.statusReportRequested = (parse.fields->firstOctet & kStatusReportRequest) != 0;
    state.sent.push_back(sent);
    if (sent.statusReportRequested) {
        ScheduleStatusReport(state, sent, parse.fields->destination, parse.fields->serviceCentre);
    }
    return CommandResult::Ok({"+CMGS: " + std::to_string(sent.messageReference)});
}

CommandResult GsmFamily::FinishTextMessage(ModemState& state, const TextEntry& entry,
                                           std::string_view body) {
    const auto text = DecodeTeText(body, state.charset);
    if (!text) {
        return CommandResult::Cms(cms::kInvalidTextParameter);
    }
    const std::u32string characters = DecodeUtf8(*text);
    const auto septets = EncodeGsm7(characters);
    const bool fits = septets ? septets->size() <= kLongestTextSeptets
                              : ToUtf16(characters).size() <= kLongestUcs2Characters;
    if (!fits) {
        return CommandResult::Cms(cms::kInvalidTextParameter);
    }
    SentMessage sent;
    sent.destination = entry.destination;
    sent.textUtf8 = *text;
    sent.pduMode = false;
    sent.messageReference = NextMessageReference(state);
    sent.statusReportRequested = (state.textModeParameters[0] & kStatusReportRequest) != 0;
    state.sent.push_back(sent);
    if (sent.statusReportRequested) {
        const Address recipient{entry.destination,
                                static_cast<std::uint8_t>(TypeOfNumber(entry.destination))};
        ScheduleStatusReport(state, sent, recipient, "");
    }
    return CommandResult::Ok({"+CMGS: " + std::to_string(sent.messageReference)});
}

std::string GsmFamily::NewMessageIndication(const ModemState& state, int index) const {
    // mt 1 asks for an indication of where the message was stored. Routing the message itself
    // to the host (mt 2 and 3) is not offered: those modules store it and indicate it too.
    if (state.newMessageIndication[1] == 0) {
        return "";
    }
    return "\r\n+CMTI: " + Quoted(state.storages[2]) + "," + std::to_string(index) + "\r\n";
}

InjectResult GsmFamily::DeliverStatusReport(ModemState& state, const std::string& pduHex) const {
    InjectResult result;
    // AT+CNMI's <ds>: 1 hands the report to the host at once, unstored; 2 stores it and says
    // where; 0 stores it without a word, to be found by listing the store.
    const int routing = state.newMessageIndication[3];
    if (routing == 1) {
        std::string indication;
        if (InPduMode(state)) {
            indication = "+CDS: " + std::to_string(TpduLength(pduHex)) + "\r\n" + pduHex;
        } else if (const auto report = DecodeStatusReportPdu(pduHex)) {
            indication = "+CDS: " + StatusReportTextFields(state, *report);
        } else {
            result.error = "not a well-formed SMS-STATUS-REPORT";
            return result;
        }
        state.unsolicited += "\r\n" + indication + "\r\n";
        result.stored = true;
        result.routedToHost = true;
        return result;
    }
    const auto indexes = state.store.AddAll({pduHex}, MessageStatus::ReceivedUnread);
    if (!indexes) {
        result.error = state.store.FullText(1);
        return result;
    }
    result.stored = true;
    result.indexes = *indexes;
    if (routing == 2) {
        state.unsolicited += "\r\n+CDSI: " + Quoted(state.storages[2]) + "," +
                             std::to_string(indexes->front()) + "\r\n";
    }
    return result;
}

}  // namespace tidewire::sim

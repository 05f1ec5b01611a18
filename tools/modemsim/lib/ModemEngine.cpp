#include "ModemEngine.h"

#include <stdexcept>

#include "DeliverPdu.h"
#include "HexText.h"
#include "StatusReportPdu.h"

namespace tidewire::sim {

namespace {

constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr char kBackspace = 0x08;
constexpr char kDelete = 0x7F;
constexpr char kCtrlZ = 0x1A;
constexpr char kEscape = 0x1B;

// Modules keep a command line buffer of a few hundred bytes; longer lines are refused whole.
constexpr std::size_t kLongestLine = 2048;
constexpr std::size_t kLongestBody = 2048;

constexpr const char* kPrompt = "\r\n> ";
constexpr const char* kNoSimText = "no SIM card: the module receives nothing";

// A demo left running for days must not grow without end: past this many lines the oldest
// tenth of the command log is dropped.
constexpr std::size_t kLongestCommandLog = 100000;

std::string VerboseCmeText(int code) {
    switch (code) {
        case cme::kOperationNotAllowed:
            return "operation not allowed";
        case cme::kOperationNotSupported:
            return "operation not supported";
        case cme::kSimNotInserted:
            return "SIM not inserted";
        case cme::kInvalidCharacters:
            return "invalid characters in text string";
        default:
            return "unknown";
    }
}

std::string InformationText(const std::vector<std::string>& lines) {
    if (lines.empty()) {
        return "";
    }
    std::string text = "\r\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += (i ? "\r\n" : "") + lines[i];
    }
    return text + "\r\n";
}

}  // namespace

ModemEngine::ModemEngine(const ModemConfig& config)
    : family_(MakeFamily(config.family)), state_(config) {}

ModemEngine::~ModemEngine() = default;

std::string ModemEngine::Feed(std::string_view bytesFromHost) {
    Observe(TrafficDirection::HostToModem, bytesFromHost);
    std::string out;
    bool changed = false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const std::size_t sentBefore = state_.sent.size();
        const std::size_t loggedBefore = state_.commandLog.size();
        // A report due by now reaches the module before the host's next command does.
        ReleaseDueReportsLocked();
        for (const char byte : bytesFromHost) {
            out += FeedByte(byte);
        }
        changed = state_.sent.size() != sentBefore || state_.commandLog.size() != loggedBefore;
    }
    if (changed) {
        changed_.notify_all();
    }
    Observe(TrafficDirection::ModemToHost, out);
    return out;
}

std::string ModemEngine::FeedByte(char byte) {
    if (inEntry_ && entry_.kind == TextEntry::Kind::RawUcs2) {
        return FeedRawUcs2Byte(byte);
    }
    if (inEntry_) {
        if (byte == kCtrlZ || byte == kEscape) {
            return FinishEntry(byte == kEscape);
        }
        std::string out;
        if (byte == kCarriageReturn && entry_.kind == TextEntry::Kind::TextMode) {
            // A line break inside a text-mode message: the module asks for the next line.
            out = state_.faults.silent ? "" : kPrompt;
        } else if (EchoOn()) {
            out.push_back(byte);
        }
        if (entry_.kind == TextEntry::Kind::PduMode &&
            (byte == kCarriageReturn || byte == kLineFeed)) {
            return out;
        }
        if (body_.size() < kLongestBody) {
            body_.push_back(byte);
        } else {
            bodyOverflow_ = true;
        }
        return out;
    }

    switch (byte) {
        case kEscape:
        case kCtrlZ:
            // Nothing to cancel or end: hosts send ESC first to leave a half-typed message.
            return "";
        case kLineFeed:
            // The LF of a CRLF line end is dropped; a bare LF ends a line as CR does, since some
            // hosts end their commands that way.
            if (line_.empty()) {
                return "";
            }
            [[fallthrough]];
        case kCarriageReturn: {
            std::string out = EchoOn() ? std::string(1, byte) : std::string();
            const std::string line = lineOverflow_ ? std::string() : line_;
            const bool overflow = lineOverflow_;
            line_.clear();
            lineOverflow_ = false;
            if (overflow) {
                LogLine("(line too long)");
                return out + (state_.faults.silent ? "" : Reply("\r\nERROR\r\n"));
            }
            return out + ExecuteLine(line);
        }
        case kBackspace:
        case kDelete:
            if (!line_.empty()) {
                line_.pop_back();
            }
            return EchoOn() ? std::string(1, byte) : std::string();
        default:
            if (line_.size() < kLongestLine) {
                line_.push_back(byte);
            } else {
                lineOverflow_ = true;
            }
            return EchoOn() ? std::string(1, byte) : std::string();
    }
}

std::string ModemEngine::FeedRawUcs2Byte(char byte) {
    // Only a whole pair 00 1A ends the body: single bytes 0x1A, 0x1B and CR belong to
    // characters such as U+4E1A, U+4E1B and U+4E0D.
    const bool secondOfPair = entryBytes_ % 2 == 1;
    ++entryBytes_;
    if (secondOfPair && previousEntryByte_ == 0 && (byte == kCtrlZ || byte == kEscape)) {
        if (!bodyOverflow_ && !body_.empty()) {
            body_.pop_back();  // the 00 of the pair
        }
        return FinishEntry(byte == kEscape);
    }
    previousEntryByte_ = byte;
    if (body_.size() < kLongestBody) {
        body_.push_back(byte);
    } else {
        bodyOverflow_ = true;
    }
    return EchoOn() ? std::string(1, byte) : std::string();
}

std::string ModemEngine::ExecuteLine(const std::string& line) {
    const std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty()) {
        return "";  // such as the CR hosts send after a PDU's Ctrl-Z
    }
    LogLine(line);
    if (state_.faults.silent) {
        return "";
    }
    // Anything that does not start with AT is noise on the line; modules ignore it.
    if (!StartsWithNoCase(trimmed, "AT")) {
        return "";
    }
    for (const std::string& prefix : state_.faults.errorPrefixes) {
        if (StartsWithNoCase(trimmed, prefix)) {
            return Reply("\r\nERROR\r\n");
        }
    }
    const auto commands = ParseCommandLine(trimmed.substr(2));
    if (!commands) {
        return Reply("\r\nERROR\r\n");
    }
    std::string reply;
    for (std::size_t i = 0; i < commands->size(); ++i) {
        const CommandResult result = family_->Execute(state_, (*commands)[i]);
        if (result.kind == CommandResult::Kind::Prompt) {
            if (i + 1 != commands->size()) {
                // A message body can only follow the last command of a line.
                return Reply(reply + "\r\nERROR\r\n");
            }
            inEntry_ = true;
            entry_ = result.entry;
            body_.clear();
            bodyOverflow_ = false;
            entryBytes_ = 0;
            previousEntryByte_ = 0;
            return Reply(reply + kPrompt);
        }
        if (result.kind != CommandResult::Kind::Ok) {
            return Reply(reply + FormatResult(result));
        }
        // Each command prints its own information text; one OK ends the whole line.
        reply += InformationText(result.lines);
    }
    return Reply(reply + "\r\nOK\r\n");
}

void ModemEngine::LogLine(const std::string& line) {
    if (state_.commandLog.size() >= kLongestCommandLog) {
        state_.commandLog.erase(
            state_.commandLog.begin(),
            state_.commandLog.begin() + static_cast<std::ptrdiff_t>(kLongestCommandLog / 10));
    }
    state_.commandLog.push_back(line);
}

std::string ModemEngine::FinishEntry(bool cancelled) {
    inEntry_ = false;
    if (state_.faults.silent) {
        return "";
    }
    if (cancelled) {
        return Reply("\r\nOK\r\n");
    }
    if (bodyOverflow_) {
        return Reply(FormatResult(CommandResult::Cms(entry_.kind == TextEntry::Kind::PduMode
                                                         ? cms::kInvalidPduParameter
                                                         : cms::kInvalidTextParameter)));
    }
    return Reply(FormatResult(family_->FinishEntry(state_, entry_, body_)));
}

std::string ModemEngine::FormatResult(const CommandResult& result) const {
    const std::string text = InformationText(result.lines);
    switch (result.kind) {
        case CommandResult::Kind::Ok:
            return text + "\r\nOK\r\n";
        case CommandResult::Kind::CmsError:
            return text + "\r\n+CMS ERROR: " + std::to_string(result.code) + "\r\n";
        case CommandResult::Kind::CmeError:
            if (state_.errorMode == 1) {
                return text + "\r\n+CME ERROR: " + std::to_string(result.code) + "\r\n";
            }
            if (state_.errorMode == 2) {
                return text + "\r\n+CME ERROR: " + VerboseCmeText(result.code) + "\r\n";
            }
            return text + "\r\nERROR\r\n";
        case CommandResult::Kind::Prompt:
            return text + kPrompt;
        case CommandResult::Kind::Error:
            break;
    }
    return text + "\r\nERROR\r\n";
}

std::string ModemEngine::Reply(const std::string& text) const {
    std::string reply;
    const std::string& line = state_.faults.interjection;
    for (std::size_t i = 0; i < text.size(); ++i) {
        reply.push_back(text[i]);
        const bool lineBegins = text[i] == '\n' && i + 1 < text.size();
        if (!line.empty() && lineBegins &&
            std::string_view("+$>OE").find(text[i + 1]) != std::string_view::npos) {
            reply += line + "\r\n";
        }
    }
    return state_.faults.garbage + (state_.faults.lowerCaseReplies ? ToLowerAscii(reply) : reply);
}

bool ModemEngine::EchoOn() const {
    return state_.echo && !state_.faults.noEcho && !state_.faults.silent;
}

std::string ModemEngine::TakeUnsolicited() {
    std::string out;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ReleaseDueReportsLocked();
        if (state_.faults.silent) {
            state_.unsolicited.clear();
            return "";
        }
        if (!line_.empty() || inEntry_ || state_.unsolicited.empty()) {
            return "";
        }
        out =
            state_.faults.lowerCaseReplies ? ToLowerAscii(state_.unsolicited) : state_.unsolicited;
        state_.unsolicited.clear();
    }
    Observe(TrafficDirection::ModemToHost, out);
    return out;
}

std::optional<std::chrono::milliseconds> ModemEngine::TimeToNextStatusReport() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (state_.pendingReports.empty() || state_.pendingReports.front().held) {
        return std::nullopt;
    }
    // Rounded up: a transport that wakes at this time finds the report due, never just short.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        state_.pendingReports.front().due - std::chrono::steady_clock::now());
    return left.count() > 0 ? left : std::chrono::milliseconds(0);
}

void ModemEngine::ReleaseDueReportsLocked() {
    const auto now = std::chrono::steady_clock::now();
    auto& pending = state_.pendingReports;
    // In order: a report that cannot be taken holds back the ones behind it, as the service
    // centre keeps trying the first.
    while (!pending.empty() && pending.front().due <= now) {
        PendingStatusReport& report = pending.front();
        report.held = true;
        if (!state_.simPresent || state_.functionality != 1) {
            return;  // out of the network: nothing arrives
        }
        report.fields.dischargeTime = CurrentLocalTimestamp();
        std::string pdu;
        try {
            pdu = BuildStatusReportPdu(report.fields);
        } catch (const std::invalid_argument&) {
            // A service centre or recipient no PDU can carry (a --service-centre that is not
            // a number): no network would have taken the message either.
            pending.pop_front();
            continue;
        }
        if (!family_->DeliverStatusReport(state_, pdu).stored) {
            return;  // the store is full; the report waits for room
        }
        pending.pop_front();
    }
}

void ModemEngine::SetUnsolicitedNotifier(std::function<void()> notifier) {
    const std::lock_guard<std::mutex> lock(callbackMutex_);
    notifier_ = std::move(notifier);
}

int ModemEngine::Family() const {
    return family_->Code();
}

std::string ModemEngine::ModelText() const {
    return family_->ModelText();
}

InjectResult ModemEngine::Inject(const IncomingMessage& message) {
    InjectResult result;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> pdus;
        try {
            DeliverOptions options;
            options.concatReference = static_cast<std::uint8_t>(state_.nextConcatReference);
            pdus = family_->BuildDelivery(message, options);
        } catch (const std::invalid_argument& error) {
            result.error = error.what();
            return result;
        }
        if (pdus.size() > 1) {
            state_.nextConcatReference = (state_.nextConcatReference + 1) % 256;
        }
        result = StoreLocked(pdus);
    }
    if (result.stored) {
        Notify();
    }
    return result;
}

InjectResult ModemEngine::InjectParts(const IncomingMessage& message,
                                      const PartSelection& selection) {
    InjectResult result;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const int widest = selection.sixteenBitReference ? 0xFFFF : 0xFF;
        const int reference = selection.reference.value_or(state_.nextConcatReference);
        if (reference < 0 || reference > widest) {
            result.error = "a concatenation reference is 0 to " + std::to_string(widest) +
                           (selection.sixteenBitReference ? " (16 bits)" : " (8 bits)");
            return result;
        }
        DeliverOptions options;
        options.concatReference = static_cast<std::uint16_t>(reference);
        options.sixteenBitReference = selection.sixteenBitReference;
        std::vector<std::string> parts;
        try {
            parts = family_->BuildDelivery(message, options);
        } catch (const std::invalid_argument& error) {
            result.error = error.what();
            return result;
        }
        if (parts.size() < 2) {
            result.error = "the text fits one message: it has no parts to choose from";
            return result;
        }
        if (selection.order.empty()) {
            result.error = "no part chosen";
            return result;
        }
        std::vector<std::string> chosen;
        for (const int part : selection.order) {
            if (part < 1 || part > static_cast<int>(parts.size())) {
                result.error = "the text has " + std::to_string(parts.size()) +
                               " parts, not a part " + std::to_string(part);
                return result;
            }
            chosen.push_back(parts[static_cast<std::size_t>(part - 1)]);
        }
        if (!selection.reference) {
            state_.nextConcatReference = (state_.nextConcatReference + 1) % 256;
        }
        result = StoreLocked(chosen);
        result.concatReference = reference;
        result.partCount = static_cast<int>(parts.size());
    }
    if (result.stored) {
        Notify();
    }
    return result;
}

InjectResult ModemEngine::InjectPdu(std::string_view hex, bool requireDeliver) {
    std::string cleaned;
    for (const char c : hex) {
        if (c != ' ' && c != '\r' && c != '\n' && c != '\t') {
            cleaned.push_back(c);
        }
    }
    cleaned = ToUpperAscii(cleaned);
    InjectResult result;
    if (!HexToBytes(cleaned) || cleaned.empty()) {
        result.error = "not hex text of whole octets";
        return result;
    }
    const bool deliver = requireDeliver && DecodeDeliverPdu(cleaned).has_value();
    const bool statusReport = requireDeliver && !deliver && DecodeStatusReportPdu(cleaned);
    if (requireDeliver && !deliver && !statusReport) {
        result.error =
            "not a well-formed SMS-DELIVER or SMS-STATUS-REPORT with its service-centre part";
        return result;
    }
    const std::string refusal = family_->RefusePdu(cleaned, deliver);
    if (!refusal.empty()) {
        result.error = refusal;
        return result;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!statusReport) {
            result = StoreLocked({cleaned});
        } else if (state_.simPresent) {
            result = family_->DeliverStatusReport(state_, cleaned);
        } else {
            result.error = kNoSimText;
        }
    }
    if (result.stored) {
        Notify();
    }
    return result;
}

InjectResult ModemEngine::StoreLocked(const std::vector<std::string>& pdus) {
    InjectResult result;
    if (!state_.simPresent) {
        result.error = kNoSimText;
        return result;
    }
    auto indexes = state_.store.AddAll(pdus, MessageStatus::ReceivedUnread);
    if (!indexes) {
        family_->MakeRoom(state_, static_cast<int>(pdus.size()));
        indexes = state_.store.AddAll(pdus, MessageStatus::ReceivedUnread);
    }
    if (!indexes) {
        result.error = state_.store.FullText(static_cast<int>(pdus.size()));
        return result;
    }
    result.stored = true;
    result.indexes = *indexes;
    for (const int index : *indexes) {
        state_.unsolicited += family_->NewMessageIndication(state_, index);
    }
    return result;
}

void ModemEngine::Notify() {
    std::function<void()> notifier;
    {
        const std::lock_guard<std::mutex> lock(callbackMutex_);
        notifier = notifier_;
    }
    if (notifier) {
        notifier();
    }
}

std::vector<SentMessage> ModemEngine::SentMessages() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_.sent;
}

bool ModemEngine::WaitForSent(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return state_.sent.size() >= count; });
}

void ModemEngine::ClearSentMessages() {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.sent.clear();
}

std::vector<StoredMessage> ModemEngine::StoreContents() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_.store.Messages();
}

int ModemEngine::StoreCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_.store.Count();
}

void ModemEngine::PowerOn() {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.ResetSettings();
    state_.functionality = 1;
    state_.vendorSwitches.clear();
    state_.unsolicited.clear();
    line_.clear();
    lineOverflow_ = false;
    inEntry_ = false;
    body_.clear();
    bodyOverflow_ = false;
    entryBytes_ = 0;
    previousEntryByte_ = 0;
}

void ModemEngine::ClearStore() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const int index : state_.store.Indexes()) {
            state_.store.Remove(index);
        }
    }
    Notify();  // a status report waiting for room may now be taken
}

std::vector<std::string> ModemEngine::CommandLog() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_.commandLog;
}

bool ModemEngine::WaitForCommand(std::string_view prefix, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        for (const std::string& line : state_.commandLog) {
            if (StartsWithNoCase(TrimBlanks(line), prefix)) {
                return true;
            }
        }
        return false;
    });
}

void ModemEngine::ClearCommandLog() {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.commandLog.clear();
}

FaultSettings ModemEngine::Faults() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_.faults;
}

void ModemEngine::SetFaults(const FaultSettings& faults) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults = faults;
    std::set<std::string> upper;
    for (const std::string& prefix : faults.errorPrefixes) {
        upper.insert(ToUpperAscii(prefix));
    }
    state_.faults.errorPrefixes = upper;
}

void ModemEngine::ClearFaults() {
    SetFaults(FaultSettings{});
}

void ModemEngine::SetSilent(bool silent) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults.silent = silent;
}

void ModemEngine::AddErrorFor(std::string_view commandPrefix) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults.errorPrefixes.insert(ToUpperAscii(commandPrefix));
}

void ModemEngine::RemoveErrorFor(std::string_view commandPrefix) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults.errorPrefixes.erase(ToUpperAscii(commandPrefix));
}

void ModemEngine::SetNoEcho(bool noEcho) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults.noEcho = noEcho;
}

void ModemEngine::SetLowerCaseReplies(bool lowerCase) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults.lowerCaseReplies = lowerCase;
}

void ModemEngine::SetGarbage(std::string garbageBytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults.garbage = std::move(garbageBytes);
}

void ModemEngine::SetSendFailure(bool failSends) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults.sendFailure = failSends;
}

void ModemEngine::SetChunking(std::size_t chunkBytes, std::chrono::milliseconds delay) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults.chunkBytes = chunkBytes;
    state_.faults.chunkDelay = delay;
}

void ModemEngine::SetLineSpeed(int bytesPerSecond) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults.bytesPerSecond = bytesPerSecond < 0 ? 0 : bytesPerSecond;
}

void ModemEngine::SetInterjection(std::string indicationLine) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults.interjection = std::move(indicationLine);
}

void ModemEngine::SetReplyDelay(std::chrono::milliseconds delay) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.faults.replyDelay = delay.count() < 0 ? std::chrono::milliseconds(0) : delay;
}

void ModemEngine::SetSimPresent(bool present) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        state_.simPresent = present;
    }
    Notify();  // a status report held while the card was out may now arrive
}

void ModemEngine::SetServiceCentre(std::string number) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.serviceCentre = std::move(number);
}

void ModemEngine::SetStatusReportDelay(std::chrono::milliseconds delay) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.statusReportDelay = delay.count() < 0 ? std::chrono::milliseconds(0) : delay;
}

void ModemEngine::SetStatusReportOutcome(std::uint8_t tpStatus) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.statusReportOutcome = tpStatus;
}

void ModemEngine::SetTrafficObserver(TrafficObserver observer) {
    const std::lock_guard<std::mutex> lock(callbackMutex_);
    observer_ = std::move(observer);
}

void ModemEngine::Observe(TrafficDirection direction, std::string_view bytes) const {
    if (bytes.empty()) {
        return;
    }
    TrafficObserver observer;
    {
        const std::lock_guard<std::mutex> lock(callbackMutex_);
        observer = observer_;
    }
    if (observer) {
        observer(direction, bytes);
    }
}

}  // namespace tidewire::sim

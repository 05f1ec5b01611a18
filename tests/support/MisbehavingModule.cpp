// The model module's behaviour: what a module of each family answers, and how each
// misbehaviour changes that.
#include "support/MisbehavingModule.h"

#include <cstdio>
#include <utility>

namespace {

std::string HexOf(const std::string& bytes) {
    std::string hex;
    char digits[3];
    for (const char c : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(c));
        hex += digits;
    }
    return hex;
}

std::string BytesOfHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// An SMS-DELIVER from 13912345678 carrying the text as 8-bit data, without a service-centre
// address, as a GSM module lists it.
std::string DeliverPdu(const std::string& text) {
    char length[3];
    std::snprintf(length, sizeof length, "%02X", static_cast<unsigned>(text.size()));
    return "00040B813119325476F80004" + std::string("42502101325423") + length + HexOf(text);
}

constexpr const char* kIndications[] = {"+CMTI: \"SM\",3", "^RSSI:12", "RING",
                                        "^BOOT:20952548,0,0,0,72"};

}  // namespace

const char* MisbehaviourName(Misbehaviour misbehaviour) {
    switch (misbehaviour) {
        case Misbehaviour::None:
            return "None";
        case Misbehaviour::SilentAfterPrompt:
            return "SilentAfterPrompt";
        case Misbehaviour::DeafAfterPrompt:
            return "DeafAfterPrompt";
        case Misbehaviour::SilentMidListing:
            return "SilentMidListing";
        case Misbehaviour::SilentMidRead:
            return "SilentMidRead";
        case Misbehaviour::Garbage:
            return "Garbage";
        case Misbehaviour::OneBytePerPoll:
            return "OneBytePerPoll";
        case Misbehaviour::Indications:
            return "Indications";
        case Misbehaviour::OneAnswerBehind:
            return "OneAnswerBehind";
    }
    return "?";
}

void MisbehavingModule::Install(ScriptedSerialDevice& line) {
    line.OnWrite([this](const std::string& written, ScriptedSerialDevice& device) {
        const Strings chunks = Answer(written);
        if (!chunks.empty()) {
            device.Arrive(chunks);
        }
    });
}

void MisbehavingModule::Store(const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    store_[nextIndex_++] = text;
}

void MisbehavingModule::Misbehave(Misbehaviour misbehaviour, int blocks) {
    std::lock_guard<std::mutex> hold(lock_);
    misbehaviour_ = misbehaviour;
    faultyBlocks_ = blocks;
    silentBlocks_ = 0;
}

void MisbehavingModule::MuteOnce(std::string trigger) {
    std::lock_guard<std::mutex> hold(lock_);
    muteTrigger_ = std::move(trigger);
}

bool MisbehavingModule::Faulty() const {
    std::lock_guard<std::mutex> hold(lock_);
    return faultyBlocks_ > 0 || silentBlocks_ > 0 || !lateAnswer_.empty();
}

std::vector<SentByModule> MisbehavingModule::Sent() const {
    std::lock_guard<std::mutex> hold(lock_);
    return sent_;
}

std::map<int, std::string> MisbehavingModule::Stored() const {
    std::lock_guard<std::mutex> hold(lock_);
    return store_;
}

MisbehavingModule::Strings MisbehavingModule::Deleted() const {
    std::lock_guard<std::mutex> hold(lock_);
    return deleted_;
}

MisbehavingModule::Strings MisbehavingModule::Answer(const std::string& written) {
    std::lock_guard<std::mutex> hold(lock_);
    const bool faulty = faultyBlocks_ > 0;
    if (faulty) {
        --faultyBlocks_;
    }
    const Misbehaviour now = faulty ? misbehaviour_ : Misbehaviour::None;
    const bool mute = silentBlocks_ > 0;
    if (mute) {
        --silentBlocks_;
        if (deaf_) {
            return {};
        }
    }
    if (now == Misbehaviour::Garbage) {
        return {Garbage()};
    }
    std::string echo;
    std::string result;
    Execute(written, echo, result);
    if (mute) {
        return {};  // carried out, never answered
    }
    if (!muteTrigger_.empty() && written.find(muteTrigger_) != std::string::npos) {
        muteTrigger_.clear();
        return {};
    }

    if ((now == Misbehaviour::SilentAfterPrompt || now == Misbehaviour::DeafAfterPrompt) &&
        result.find('>') != std::string::npos) {
        silentBlocks_ = 3;
        deaf_ = now == Misbehaviour::DeafAfterPrompt;
        faultyBlocks_ = 0;
    } else if ((now == Misbehaviour::SilentMidListing && IsListing(written) &&
                result.size() > 12) ||
               (now == Misbehaviour::SilentMidRead && IsRead(written) && result.size() > 12)) {
        // The rest of this answer is lost; the next command is heard again.
        result.resize(result.size() / 2);
        faultyBlocks_ = 0;
    } else if (now == Misbehaviour::Indications) {
        result = WithIndications(result);
    }

    std::string late;
    late.swap(lateAnswer_);
    if (now == Misbehaviour::OneAnswerBehind) {
        lateAnswer_ = result;
        result.clear();
    }
    const std::string whole = echo + late + result;
    if (now == Misbehaviour::OneBytePerPoll) {
        Strings bytes;
        for (const char c : whole) {
            bytes.emplace_back(1, c);
        }
        return bytes;
    }
    return {whole};
}

bool MisbehavingModule::IsListing(const std::string& written) const {
    return written.rfind("AT+CMGL", 0) == 0 || written.rfind("at$smsmt", 0) == 0;
}

bool MisbehavingModule::IsRead(const std::string& written) {
    return written.rfind("AT+CMGR=", 0) == 0;
}

// Bytes that hold no letter, so no result code can form by chance: NULs, 0xFF, lone CRs and
// LFs, high bytes, prompts and punctuation.
std::string MisbehavingModule::Garbage() {
    static const char kPool[] = {'\0', '\xFF', '\r', '\n', '>', ',', '"', ':', ' ', '\x80'};
    std::uniform_int_distribution<int> length(1, 40);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kPool) + 7);
    std::string bytes;
    for (int n = length(random_); n > 0; --n) {
        const int k = pick(random_);
        bytes.push_back(k < static_cast<int>(sizeof kPool)
                            ? kPool[k]
                            : static_cast<char>(0x81 + (k - sizeof kPool) * 15));
    }
    return bytes;
}

// An indication before every line of the answer that carries a code or the prompt.
std::string MisbehavingModule::WithIndications(const std::string& answer) {
    std::string out;
    for (size_t i = 0; i < answer.size(); ++i) {
        out.push_back(answer[i]);
        if (answer[i] == '\n' && i + 1 < answer.size() &&
            std::string("+>OE$").find(answer[i + 1]) != std::string::npos) {
            out += std::string(kIndications[nextIndication_++ % 4]) + "\r\n";
        }
    }
    return out;
}

void MisbehavingModule::Execute(const std::string& written, std::string& echo,
                                std::string& result) {
    if (inEntry_) {
        EnterBody(written, echo, result);
        return;
    }
    echo = written;
    const auto starts = [&](const char* prefix) { return written.rfind(prefix, 0) == 0; };
    if (starts("AT+GMM")) {
        const char* model = family_ == 666   ? "SIM800"
                            : family_ == 870 ? "CDMA 199"
                                             : "CDMA MODEL 100";
        result = std::string("\r\n") + model + "\r\n\r\nOK\r\n";
    } else if (starts("AT+CPIN?")) {
        result = "\r\n+CPIN: READY\r\n\r\nOK\r\n";
    } else if (starts("AT+CMGS=")) {
        inEntry_ = true;
        entryNumber_ = written.substr(9, written.find('"', 9) - 9);
        entry_.clear();
        result = "\r\n> ";
    } else if (starts("AT+CMGL")) {
        result = family_ == 666 ? GsmListing() : Listing870();
    } else if (starts("AT+CMGR=")) {
        result = Read870(std::stoi(written.substr(8)));
    } else if (starts("AT+CMGD=")) {
        result = Delete(std::stoi(written.substr(8))) ? "\r\nOK\r\n" : "\r\n+CMS ERROR: 321\r\n";
    } else if (starts("at$smsmo0=")) {
        // at$smsmo0=<number>,<number>,4098,2,0,0,<hex>
        const size_t comma = written.find(',');
        const size_t hex = written.rfind(',') + 1;
        sent_.push_back({written.substr(10, comma - 10),
                         BytesOfHex(written.substr(hex, written.size() - 1 - hex))});
        result = "\r\nOK\r\n\r\n$SMSMOACK\r\n";
    } else if (starts("at$smsmt0?")) {
        handedOut_ = store_.empty() ? 0 : store_.begin()->first;
        result = handedOut_ == 0 ? "\r\nOK\r\n"
                                 : "\r\n$SMSMT0: 20100512102345,13912345678,4098,2," +
                                       std::to_string(store_.begin()->second.size()) + ",\"" +
                                       HexOf(store_.begin()->second) + "\"\r\n\r\nOK\r\n";
    } else if (starts("at$delmt=0")) {
        if (handedOut_ != 0) {
            Delete(handedOut_);
        }
        handedOut_ = 0;
        result = "\r\nOK\r\n";
    } else if (starts("AT") || starts("at")) {
        result = "\r\nOK\r\n";
    }
    // Anything else is noise on the line: a module ignores it.
}

// The module is taking a message: lines until Ctrl-Z sends it, ESC cancels it.
void MisbehavingModule::EnterBody(const std::string& written, std::string& echo,
                                  std::string& result) {
    echo = written;
    for (const char c : written) {
        if (c == '\x1B') {
            inEntry_ = false;
            result = "\r\nOK\r\n";
            return;
        }
        if (c == '\x1A') {
            inEntry_ = false;
            sent_.push_back({entryNumber_, entry_});
            result = "\r\n+CMGS: " + std::to_string(sent_.size()) + "\r\n\r\nOK\r\n";
            return;
        }
        entry_.push_back(c);
    }
    result = "\r\n> ";  // a line break inside the text: the next line is asked for
}

bool MisbehavingModule::Delete(int index) {
    const auto found = store_.find(index);
    if (found == store_.end()) {
        return false;
    }
    deleted_.push_back(found->second);
    store_.erase(found);
    return true;
}

std::string MisbehavingModule::GsmListing() const {
    std::string listing = "\r\n";
    for (const auto& entry : store_) {
        const std::string pdu = DeliverPdu(entry.second);
        listing += "+CMGL: " + std::to_string(entry.first) + ",0,," +
                   std::to_string(pdu.size() / 2 - 1) + "\r\n" + pdu + "\r\n";
    }
    return listing + "\r\nOK\r\n";
}

std::string MisbehavingModule::Listing870() const {
    std::string listing = "\r\n";
    for (const auto& entry : store_) {
        listing += "+CMGL: " + std::to_string(entry.first) +
                   ",\"REC UNREAD\",\"13912345678\",\"2010/05/12 10:23:45\",0,2," +
                   std::to_string(entry.second.size()) + "\r\n" + entry.second + "\r\n";
    }
    return listing + "\r\nOK\r\n";
}

std::string MisbehavingModule::Read870(int index) const {
    const auto found = store_.find(index);
    if (found == store_.end()) {
        return "\r\n+CMS ERROR: 321\r\n";
    }
    return "\r\n+CMGR: \"REC UNREAD\",\"13912345678\",\"2010/05/12 10:23:45\",0,2," +
           std::to_string(found->second.size()) + "\r\n" + found->second + "\r\n\r\nOK\r\n";
}

#include "family/FamilyTable.h"

#include <cstring>

#include "modem/ResultLines.h"

namespace tidewire {

// One file of this folder each.
const ModuleFamily& Family860();
const ModuleFamily& Family865();
const ModuleFamily& Family870();
const ModuleFamily& GsmFamily();

namespace {

struct FamilyList {
    const ModuleFamily* const* families;
    size_t count;
};

// The families of each edition, in the order their model tokens are tried: "MODEL 100" and
// "MODEL 199" before the bare "199" of type 870, and GSM, whose empty token claims every
// module, last. The legacy edition does not know type 870; its modules are served as GSM there.
FamilyList FamiliesOf(Edition edition) {
    static const ModuleFamily* const current[] = {&Family860(), &Family865(), &Family870(),
                                                  &GsmFamily()};
    static const ModuleFamily* const legacy[] = {&Family860(), &Family865(), &GsmFamily()};
    if (edition == Edition::Current) {
        return {current, sizeof current / sizeof current[0]};
    }
    return {legacy, sizeof legacy / sizeof legacy[0]};
}

// Keeps the model part of an answer to "AT+GMM" in model: the lines after the echo that are
// neither blank, nor the result code, nor an indication, each without a "+GMM:" prefix and the
// blanks before it, joined by one blank. Only printable ASCII is kept, so the text reads the
// same in every host codeset.
void KeepModelText(const ReplyBuffer& reply, char (&model)[kModelTextSize]) {
    static const char kCommand[] = "AT+GMM\r";
    static const char kPrefix[] = "+GMM:";
    const char* const data = reply.Data();
    const size_t end = reply.Length();
    size_t lineStart = AnswerStart(reply, kCommand, sizeof kCommand - 1);
    if (lineStart == ReplyBuffer::npos) {
        lineStart = 0;
    }
    size_t length = 0;
    while (lineStart < end) {
        size_t lineEnd = lineStart;
        while (lineEnd < end && data[lineEnd] != '\r' && data[lineEnd] != '\n') {
            ++lineEnd;
        }
        const char* line = data + lineStart;
        size_t lineLength = lineEnd - lineStart;
        lineStart = lineEnd + 1;
        if (lineLength >= sizeof kPrefix - 1 &&
            std::memcmp(line, kPrefix, sizeof kPrefix - 1) == 0) {
            line += sizeof kPrefix - 1;
            lineLength -= sizeof kPrefix - 1;
        }
        while (lineLength > 0 && *line == ' ') {
            ++line;
            --lineLength;
        }
        if (lineLength == 0 || (lineLength == 2 && std::memcmp(line, "OK", 2) == 0) ||
            IsUnsolicitedLine(line, lineLength)) {
            continue;
        }
        if (length > 0 && length + 1 < sizeof model) {
            model[length++] = ' ';
        }
        for (size_t i = 0; i < lineLength; ++i) {
            if (length + 1 < sizeof model && line[i] >= 0x20 && line[i] < 0x7F) {
                model[length++] = line[i];
            }
        }
    }
    model[length] = '\0';
}

}  // namespace

bool ProbeModule(ModemChannel& channel) {
    return channel.SendAtCommand("AT\r", "OK", "ERROR");
}

Identification IdentifyFamily(ModemChannel& channel, Edition edition) {
    Identification identification;
    if (!channel.IsOpen()) {
        return identification;
    }
    channel.PurgeAndWrite("AT+GMM\r");
    ReplyBuffer reply;
    const Verdict verdict = channel.ReplyPoll(reply, plans::kModelAnswer, [](const ReplyBuffer& r) {
        if (r.Contains("OK")) {
            return Verdict::Accepted;
        }
        return r.Contains("ERROR") ? Verdict::Refused : Verdict::Pending;
    });
    if (verdict != Verdict::Accepted) {
        return identification;
    }
    KeepModelText(reply, identification.model);
    const FamilyList list = FamiliesOf(edition);
    for (size_t i = 0; i < list.count; ++i) {
        const char* token = list.families[i]->ModelToken();
        if (token[0] == '\0' || reply.Contains(token)) {
            identification.family = list.families[i];
            break;
        }
    }
    return identification;
}

bool CheckSim(ModemChannel& channel) {
    return channel.SendAtCommand("AT+CPIN?\r", "+CPIN:", "ERROR");
}

const ModuleFamily* FamilyWithCode(int32_t code, Edition edition) {
    const FamilyList list = FamiliesOf(edition);
    for (size_t i = 0; i < list.count; ++i) {
        if (list.families[i]->Code() == code) {
            return list.families[i];
        }
    }
    return nullptr;
}

}  // namespace tidewire

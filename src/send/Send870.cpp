// Sending on type-870 modules: the encoding is chosen with the module's own AT+ZMSGL first;
// the body follows the command without waiting for a prompt.
#include <cstdio>
#include <cstring>

#include "api/SmsService.h"
#include "codec/TextHex.h"
#include "modem/ResultLines.h"

namespace tidewire {

namespace {

// The verdict after the module's echo of the body: "+CMGS:" and a final "OK" as lines, or an
// error line. The echo itself (which may spell "ok" or "error") never decides.
Verdict BodyVerdict(const ReplyBuffer& reply, const char* remnant, const char* body,
                    size_t bodyLength, bool bareOkFails) {
    // What was left of the command's echo when the prompt was purged comes first.
    const size_t echoStart = PassOverRemnant(reply, remnant);
    if (echoStart == ReplyBuffer::npos) {
        return Verdict::Pending;
    }
    const size_t from = AnswerStart(reply, body, bodyLength, echoStart);
    if (from == ReplyBuffer::npos) {
        return Verdict::Pending;
    }
    const bool confirmed = HasLineStartingWith(reply, from, "+CMGS:");
    const bool ok = HasOkLine(reply, from);
    if (confirmed && ok) {
        return Verdict::Accepted;
    }
    if (HasErrorLine(reply, from)) {
        return Verdict::Refused;
    }
    return (ok && bareOkFails) ? Verdict::Refused : Verdict::Pending;
}

}  // namespace

void SmsService::Open870TextEntry(const char* number, char (&remnant)[128]) {
    // The number is at most 31 bytes, so the command and its echoed prompt fit.
    char command[64];
    std::snprintf(command, sizeof command, "AT+CMGS=\"%.31s\"\r", number);
    std::snprintf(remnant, sizeof remnant, "%.63s\r\n> ", command);
    channel.PurgeAndWrite(command);
    channel.BeginEntry();
    // This family takes the body without waiting for its prompt: the echo and the prompt are
    // thrown away unread by the purge before the body.
    channel.Sleep(pauses::kType870PromptMs);
}

bool SmsService::Send870SingleByte(const char* text, char (&number)[32]) {
    if (std::strlen(text) > 140) {
        SetLastError(ErrorText::SingleByteTooLong);
        return false;
    }
    if (!channel.SendAtCommand("AT+ZMSGL=1,2\r", "OK", "ERROR")) {
        SetLastError(ErrorText::SingleByte870ModeFailed);
        return false;
    }
    char remnant[128];
    Open870TextEntry(number, remnant);
    char body[sizeof(OutgoingMessage::text) + 1];
    const int bodyLength = std::snprintf(body, sizeof body, "%s\x1A", text);
    channel.PurgeAndWrite(body);
    ReplyBuffer reply;
    const Verdict verdict =
        channel.ReplyPoll(reply, plans::kType870TextVerdict, [&](const ReplyBuffer& r) {
            return BodyVerdict(r, remnant, body, static_cast<size_t>(bodyLength), true);
        });
    channel.SettleEntry(verdict);
    return verdict == Verdict::Accepted;
}

bool SmsService::Send870MultiByte(const char* text, char (&number)[32]) {
    const size_t characters = CountHostCharacters(text);
    char work[1024];
    const int workLength = std::snprintf(work, sizeof work, "%s\x1A", text);
    if (characters > 70) {
        SetLastError(ErrorText::MultiByteTooLong);
        return false;
    }
    if (!channel.SendAtCommand("AT+ZMSGL=6,4\r", "OK", "ERROR")) {
        SetLastError(ErrorText::MultiByte870ModeFailed);
        return false;
    }
    // Raw UCS-2, high byte first: the Ctrl-Z that ends the body becomes 0x00 0x1A.
    uint8_t body[1024];
    const size_t bodyLength = HostToUcs2(work, static_cast<size_t>(workLength), body, sizeof body);
    if (bodyLength == 0) {
        SetLastError(ErrorText::MultiByteTooLong);
        return false;
    }

    char remnant[128];
    Open870TextEntry(number, remnant);
    channel.PurgeAndWrite(body, bodyLength);

    // The reply holds the raw echo of the body, zero bytes included, so it is kept by length
    // and not upper-cased: only upper-case tokens count here.
    ReplyBuffer reply;
    const Verdict verdict =
        channel.ReplyPoll(reply, plans::kType870Ucs2Verdict, [&](const ReplyBuffer& r) {
            return BodyVerdict(r, remnant, reinterpret_cast<const char*>(body), bodyLength, false);
        });
    channel.SettleEntry(verdict);
    return verdict == Verdict::Accepted;
}

}  // namespace tidewire

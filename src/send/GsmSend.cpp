// Sending one message on a GSM module: single-byte text in text mode, everything else as a
// UCS-2 SMS-SUBMIT in PDU mode.
#include <cstdio>
#include <cstring>

#include "api/SmsService.h"
#include "codec/BoundedCopy.h"
#include "codec/Pdu.h"
#include "codec/TextHex.h"
#include "modem/ResultLines.h"

namespace tidewire {

namespace {

// The module's ">" prompt, looked for after its echo of the command line (a number may hold a
// ">" of its own).
Verdict PromptTest(const ReplyBuffer& reply, const char* command) {
    const size_t from = AnswerStart(reply, command, std::strlen(command));
    if (from == ReplyBuffer::npos) {
        return Verdict::Pending;
    }
    if (reply.Find(">", from) != ReplyBuffer::npos) {
        return Verdict::Accepted;
    }
    return reply.Find("ERROR", from) != ReplyBuffer::npos ? Verdict::Refused : Verdict::Pending;
}

bool AllDigits(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

bool SmsService::SendGsmText(const char* text, char (&number)[32]) {
    const size_t textLength = std::strlen(text);
    if (textLength > 140) {
        SetLastError(ErrorText::SingleByteTooLong);
        return false;
    }
    if (!channel.SendAtCommand("AT+CMGF=1\r", "OK", "ERROR")) {
        SetLastError(ErrorText::SingleByteModeFailed);
        return false;
    }

    char command[1024];
    std::snprintf(command, sizeof command, "AT+CMGS=\"%s\"\r", number);
    ReplyBuffer reply;
    channel.PurgeAndWrite(command);
    channel.BeginEntry();
    const Verdict prompt =
        channel.ReplyPoll(reply, plans::kTextModePrompt,
                          [&](const ReplyBuffer& r) { return PromptTest(r, command); });
    if (prompt != Verdict::Accepted) {
        channel.SettleEntry(prompt);
        return false;
    }

    char body[sizeof(OutgoingMessage::text) + 1];
    const int bodyLength = std::snprintf(body, sizeof body, "%s\x1A", text);
    reply.Clear();
    channel.PurgeAndWrite(body);
    // The module echoes the body in text mode. Only its result lines after that echo count, so
    // a message that says "look" or "error" is judged like any other.
    const Verdict verdict =
        channel.ReplyPoll(reply, plans::kTextModeVerdict, [&](const ReplyBuffer& r) {
            const size_t from = AnswerStart(r, body, static_cast<size_t>(bodyLength));
            if (from == ReplyBuffer::npos) {
                return Verdict::Pending;
            }
            const bool confirmed = HasLineStartingWith(r, from, "+CMGS:");
            const bool ok = HasOkLine(r, from);
            if (confirmed && ok) {
                return Verdict::Accepted;
            }
            if (HasErrorLine(r, from)) {
                return Verdict::Refused;
            }
            return ok ? Verdict::Refused : Verdict::Pending;
        });
    channel.SettleEntry(verdict);
    return verdict == Verdict::Accepted;
}

bool SmsService::SendGsmPdu(const char* text, char (&number)[32]) {
    const size_t characters = CountHostCharacters(text);
    if (characters > 70) {
        SetLastError(ErrorText::MultiByteTooLong);
        return false;
    }
    if (!channel.SendAtCommand("AT+CMGF=0\r", "OK", "ERROR")) {
        SetLastError(ErrorText::MultiByteModeFailed);
        return false;
    }

    // The destination goes out in international form: a national number gets 86 in front,
    // behind a "+" if it has one, and the host sees the rewritten number in its report.
    char* digits = number[0] == '+' ? number + 1 : number;
    const size_t room = sizeof number - static_cast<size_t>(digits - number);
    if (!(digits[0] == '8' && digits[1] == '6')) {
        char prefixed[sizeof number];
        const int written = std::snprintf(prefixed, sizeof prefixed, "86%s", digits);
        if (written < 0 || static_cast<size_t>(written) >= room) {
            SetLastError(ErrorText::NumberTooLong);
            return false;
        }
        BoundedCopy(digits, room, prefixed);
    }
    if (std::strlen(digits) > kMaxAddressDigits) {
        SetLastError(ErrorText::NumberTooLong);
        return false;
    }
    if (!AllDigits(digits)) {
        SetLastError(ErrorText::NumberIllegal);
        return false;
    }

    // The service centre is written with international type, so its "+" is dropped.
    const char* centre = serviceCentre[0] == '+' ? serviceCentre + 1 : serviceCentre;
    if (!AllDigits(centre) || std::strlen(centre) > kMaxAddressDigits) {
        SetLastError(ErrorText::ServiceCentreMalformed);
        return false;
    }

    PduMessage message;
    std::memset(&message, 0, sizeof message);
    BoundedCopy(message.smsc, centre);
    BoundedCopy(message.number, digits);
    BoundedCopy(message.text, text);
    message.pid = 0;
    message.dcs = 8;

    char pdu[512 + 2];
    const size_t pduLength = EncodeSubmitPdu(message, pdu, sizeof pdu - 2);
    if (pduLength == 0) {
        // The text does not convert from the host code page: nothing sensible can be sent.
        SetLastError(ErrorText::MultiByteTooLong);
        return false;
    }
    const int tpduLength = SubmitTpduLength(pdu, pduLength);
    pdu[pduLength] = 0x1A;
    pdu[pduLength + 1] = '\r';

    char command[1024];
    std::snprintf(command, sizeof command, "AT+CMGS=%d\r", tpduLength);
    ReplyBuffer reply;
    channel.PurgeAndWrite(command);
    channel.BeginEntry();
    const Verdict prompt = channel.ReplyPoll(
        reply, plans::kPduModePrompt, [&](const ReplyBuffer& r) { return PromptTest(r, command); });
    if (prompt != Verdict::Accepted) {
        channel.SettleEntry(prompt);
        return false;
    }

    reply.Clear();
    channel.PurgeAndWrite(reinterpret_cast<const uint8_t*>(pdu), pduLength + 2);
    // PDU mode ends as soon as the module confirms: the echo is hex and holds no token.
    const Verdict verdict =
        channel.ReplyPoll(reply, plans::kPduModeVerdict, [](const ReplyBuffer& r) {
            if (r.Contains("+CMGS:")) {
                return Verdict::Accepted;
            }
            if (r.Contains("ERROR")) {
                return Verdict::Refused;
            }
            return r.Contains("OK") ? Verdict::Refused : Verdict::Pending;
        });
    channel.SettleEntry(verdict);
    return verdict == Verdict::Accepted;
}

}  // namespace tidewire

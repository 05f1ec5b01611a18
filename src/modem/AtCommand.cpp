// The single-command exchange and the service-centre query.
#include <cstring>

#include "api/SmsService.h"
#include "codec/BoundedCopy.h"

namespace tidewire {

void SmsService::PurgeAndWrite(const char* text) {
    port.PurgeInput();
    port.PurgeOutput();
    port.WriteText(text);
}

void SmsService::PurgeAndWrite(const uint8_t* bytes, size_t count) {
    port.PurgeInput();
    port.PurgeOutput();
    port.Write(bytes, static_cast<uint32_t>(count));
}

void SmsService::CancelAbandonedEntry() {
    if (!entryMayBeOpen_ || !port.IsOpen()) {
        return;
    }
    // A module that is not taking a message ignores ESC. The pause lets the line carry it
    // before the purge that starts the next command. It is repeated before every command until
    // the module answers one, for a module that was not listening when the first went out.
    const uint8_t escape = 0x1B;
    port.Write(&escape, 1);
    Sleep(pauses::kEscapeSettleMs);
}

bool SmsService::SendAtCommand(const char* command, const char* expectedToken,
                               const char* errorToken) {
    if (!port.IsOpen()) {
        return false;
    }
    CancelAbandonedEntry();
    PurgeAndWrite(command);
    ReplyBuffer reply;
    const Verdict verdict = ReplyPoll(reply, plans::kCommandAnswer, [&](const ReplyBuffer& r) {
        if (r.Contains(expectedToken)) {
            return Verdict::Accepted;
        }
        return r.Contains(errorToken) ? Verdict::Refused : Verdict::Pending;
    });
    if (verdict != Verdict::TimedOut) {
        entryMayBeOpen_ = false;  // it answers commands again
    }
    return verdict == Verdict::Accepted;
}

namespace {

// A service-centre number as the module reports it: an optional "+" and 1 to 18 digits more,
// within the 19 characters the field holds.
bool LooksLikeServiceCentre(const char* text, size_t length) {
    if (length == 0 || length > 19) {
        return false;
    }
    size_t i = text[0] == '+' ? 1 : 0;
    if (i == length) {
        return false;
    }
    for (; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

void SmsService::QueryServiceCentre() {
    if (!port.IsOpen()) {
        return;
    }
    PurgeAndWrite("AT+CSCA?\r");
    Sleep(pauses::kServiceCentreAnswerMs);
    uint8_t readBuffer[kReadBufferSize] = {};
    const uint32_t got = port.Read(readBuffer, kReadBufferSize - 1);
    if (got == 0) {
        return;
    }
    const char* reply = reinterpret_cast<const char*>(readBuffer);
    // The number is the second piece when the answer is split at its double quotes (a run of
    // quotes counts as one separator, a leading one is skipped): +CSCA: "<number>",<type>.
    const char* cursor = reply;
    const char* end = reply + got;
    while (cursor < end && *cursor == '"') {
        ++cursor;
    }
    const char* firstQuote = static_cast<const char*>(std::memchr(cursor, '"', end - cursor));
    if (firstQuote == nullptr) {
        return;  // an ERROR answer or no number at all: the stored value stays
    }
    const char* second = firstQuote;
    while (second < end && *second == '"') {
        ++second;
    }
    const char* secondEnd = static_cast<const char*>(std::memchr(second, '"', end - second));
    if (secondEnd == nullptr) {
        secondEnd = end;
    }
    // Only a real number replaces the stored value: an empty "" would otherwise make the rest
    // of the answer (",145\r\n\r\nOK") the service centre, and CR LF would then go into the
    // AT+CSCA command line.
    const size_t length = static_cast<size_t>(secondEnd - second);
    if (!LooksLikeServiceCentre(second, length)) {
        return;
    }
    std::memset(serviceCentre, 0, sizeof serviceCentre);
    BoundedCopy(serviceCentre, sizeof serviceCentre, second, length);
}

}  // namespace tidewire

// The query of the SIM's service-centre number.
#include <cstring>

#include "api/SmsService.h"
#include "codec/BoundedCopy.h"

namespace tidewire {

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
    if (!channel.IsOpen()) {
        return;
    }
    channel.PurgeAndWrite("AT+CSCA?\r");
    channel.Sleep(pauses::kServiceCentreAnswerMs);
    uint8_t readBuffer[kReadBufferSize] = {};
    const uint32_t got = channel.Port().Read(readBuffer, kReadBufferSize - 1);
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

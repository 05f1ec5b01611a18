// Sending on the CDMA families 860 and 865: the whole message, as hex, on one command line.
#include <cstdio>
#include <cstring>

#include "api/SmsService.h"
#include "codec/TextHex.h"

namespace tidewire {

namespace {

// Acknowledgement words of each family.
struct CdmaFamily {
    const char* commandFormat;
    const char* successToken;
    const char* failureToken;
};

constexpr CdmaFamily kType865 = {"at$smsmo=%s,%s,4098,%d,0,0,%s\r", "$006", "$0"};
constexpr CdmaFamily kType860 = {"at$smsmo0=%s,%s,4098,%d,0,0,%s\r", "$SMSMOACK", "$SMSMONAK"};

// The failure token is looked for only where it cannot still grow into the success token: on
// type 865 "$0" is the beginning of "$006", and an answer split after "$0" is not a refusal.
bool RefusalSeen(const ReplyBuffer& reply, const CdmaFamily& family) {
    const size_t successLength = std::strlen(family.successToken);
    for (size_t at = reply.Find(family.failureToken); at != ReplyBuffer::npos;
         at = reply.Find(family.failureToken, at + 1)) {
        const size_t available = reply.Length() - at;
        if (available < successLength &&
            std::memcmp(reply.Data() + at, family.successToken, available) == 0) {
            continue;  // more may come
        }
        return true;
    }
    return false;
}

}  // namespace

bool SmsService::SendCdmaMessage(const char* text, char (&number)[32], int messageEncoding) {
    if (std::strlen(text) > 140) {
        SetLastError(ErrorText::SingleByteTooLong);
        return false;
    }
    // A UCS-2 text of more than 70 characters would not fit the module's command line.
    if (messageEncoding == 4 && CountHostCharacters(text) > 70) {
        SetLastError(ErrorText::MultiByteTooLong);
        return false;
    }
    char hex[512 + 1];
    const size_t digits = messageEncoding == 2 ? HostToHex(text, hex, sizeof hex)
                                               : HostToUcs2Hex(text, hex, sizeof hex);
    if (digits == 0 && text[0] != '\0') {
        SetLastError(ErrorText::MultiByteTooLong);
        return false;
    }
    const CdmaFamily& family = moduleType.load() == kModule865 ? kType865 : kType860;
    char command[512];
    const int length = std::snprintf(command, sizeof command, family.commandFormat, number, number,
                                     messageEncoding, hex);
    if (length < 0 || static_cast<size_t>(length) >= sizeof command) {
        SetLastError(ErrorText::SingleByteTooLong);
        return false;
    }
    channel.PurgeAndWrite(command);
    ReplyBuffer reply;
    const Verdict verdict =
        channel.ReplyPoll(reply, plans::kCdmaSendVerdict, [&](const ReplyBuffer& r) {
            if (r.Contains(family.successToken)) {
                return Verdict::Accepted;
            }
            return RefusalSeen(r, family) ? Verdict::Refused : Verdict::Pending;
        });
    return verdict == Verdict::Accepted;
}

}  // namespace tidewire

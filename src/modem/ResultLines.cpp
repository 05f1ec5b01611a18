#include "modem/ResultLines.h"

#include <cstring>

namespace tidewire {

namespace {

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

}  // namespace

bool IsUnsolicitedLine(const char* line, size_t length) {
    static const char* const kIndications[] = {
        "+CMTI:", "+CDSI:", "+CDS:", "+CBM:", "+CREG:", "+CUSD:", "+CRING:", "RING", "^"};
    for (const char* indication : kIndications) {
        const size_t n = std::strlen(indication);
        if (length >= n && std::memcmp(line, indication, n) == 0) {
            return true;
        }
    }
    return false;
}

size_t AnswerStart(const ReplyBuffer& reply, const char* written, size_t writtenLength) {
    // The Ctrl-Z that ends a body is echoed by some modules and not by others.
    size_t bodyLength = writtenLength;
    if (bodyLength > 0 && written[bodyLength - 1] == 0x1A) {
        --bodyLength;
    }
    const char* data = reply.Data();
    const size_t length = reply.Length();
    // Indications the module sent of its own accord (a new message, the signal level) may stand
    // before the echo; they are passed over, so the echo is still recognised behind them.
    size_t begin = 0;
    for (;;) {
        while (begin < length && IsLineBreak(data[begin])) {
            ++begin;
        }
        if (begin == length) {
            return ReplyBuffer::npos;  // nothing but line breaks so far
        }
        if (!IsUnsolicitedLine(data + begin, length - begin)) {
            break;
        }
        while (begin < length && !IsLineBreak(data[begin])) {
            ++begin;
        }
        if (begin == length) {
            return ReplyBuffer::npos;  // the indication is still arriving
        }
    }
    const size_t available = length - begin;
    const size_t compared = available < bodyLength ? available : bodyLength;
    for (size_t i = 0; i < compared; ++i) {
        if (Upper(data[begin + i]) != Upper(written[i])) {
            return begin;  // no echo: the answer begins here
        }
    }
    if (available < bodyLength) {
        return ReplyBuffer::npos;
    }
    size_t end = begin + bodyLength;
    if (end < length && data[end] == 0x1A) {
        ++end;
    }
    return end;
}

bool HasLineStartingWith(const ReplyBuffer& reply, size_t from, const char* token) {
    const char* data = reply.Data();
    for (size_t at = reply.Find(token, from); at != ReplyBuffer::npos;
         at = reply.Find(token, at + 1)) {
        if (at == from || IsLineBreak(data[at - 1])) {
            return true;
        }
    }
    return false;
}

bool HasOkLine(const ReplyBuffer& reply, size_t from) {
    const char* data = reply.Data();
    for (size_t at = reply.Find("OK", from); at != ReplyBuffer::npos;
         at = reply.Find("OK", at + 1)) {
        const bool startsLine = at == from || IsLineBreak(data[at - 1]);
        const bool endsLine = at + 2 == reply.Length() || IsLineBreak(data[at + 2]);
        if (startsLine && endsLine) {
            return true;
        }
    }
    return false;
}

bool HasErrorLine(const ReplyBuffer& reply, size_t from) {
    return HasLineStartingWith(reply, from, "ERROR") ||
           HasLineStartingWith(reply, from, "+CMS ERROR") ||
           HasLineStartingWith(reply, from, "+CME ERROR");
}

int FinalResult(const ReplyBuffer& reply) {
    const char* data = reply.Data();
    size_t end = reply.Length();
    if (end == 0 || !IsLineBreak(data[end - 1])) {
        return 0;
    }
    // The last line that is not an indication: a new-message indication may follow the
    // final result in the same read.
    size_t begin = end;
    for (;;) {
        while (end > 0 && IsLineBreak(data[end - 1])) {
            --end;
        }
        begin = end;
        while (begin > 0 && !IsLineBreak(data[begin - 1])) {
            --begin;
        }
        if (begin == end || !IsUnsolicitedLine(data + begin, end - begin)) {
            break;
        }
        end = begin;
    }
    const size_t length = end - begin;
    const char* line = data + begin;
    if (length == 2 && std::memcmp(line, "OK", 2) == 0) {
        return kFinalOk;
    }
    const auto startsWith = [&](const char* token) {
        const size_t n = std::strlen(token);
        return length >= n && std::memcmp(line, token, n) == 0;
    };
    if (startsWith("ERROR") || startsWith("+CMS ERROR") || startsWith("+CME ERROR")) {
        return kFinalError;
    }
    return 0;
}

}  // namespace tidewire

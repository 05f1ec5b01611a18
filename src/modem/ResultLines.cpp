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

Verdict ResultOfLine(const char* line, size_t length) {
    if (length == 2 && std::memcmp(line, "OK", 2) == 0) {
        return Verdict::Accepted;
    }
    const auto startsWith = [&](const char* token) {
        const size_t n = std::strlen(token);
        return length >= n && std::memcmp(line, token, n) == 0;
    };
    if (startsWith("ERROR") || startsWith("+CMS ERROR") || startsWith("+CME ERROR")) {
        return Verdict::Refused;
    }
    return Verdict::Pending;
}

size_t AnswerStart(const ReplyBuffer& reply, const char* written, size_t writtenLength,
                   size_t from) {
    // The Ctrl-Z that ends a body is echoed by some modules and not by others.
    size_t bodyLength = writtenLength;
    if (bodyLength > 0 && written[bodyLength - 1] == 0x1A) {
        --bodyLength;
    }
    const char* data = reply.Data();
    const size_t length = reply.Length();
    // Indications the module sent of its own accord (a new message, the signal level) may stand
    // before the echo; they are passed over, so the echo is still recognised behind them.
    size_t begin = from;
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
    // The blank that ends the module's "> " prompt may arrive after the purge that followed it.
    if (begin < length && data[begin] == ' ' && bodyLength > 0 && written[0] != ' ') {
        ++begin;
    }
    // Modules in text entry answer every CR of the body with a new "> " prompt line, so the
    // echo of a CR may read "\r\n> ".
    size_t at = begin;
    for (size_t i = 0; i < bodyLength; ++i) {
        if (at == length) {
            return ReplyBuffer::npos;  // the echo is still arriving
        }
        if (written[i] == '\r' && data[at] == '\r') {
            const char prompt[] = "\r\n> ";
            size_t matched = 0;
            while (matched < 4 && at + matched < length && data[at + matched] == prompt[matched]) {
                ++matched;
            }
            if (at + matched == length && matched < 4) {
                return ReplyBuffer::npos;  // a prompt may be arriving
            }
            at += matched >= 3 ? matched : 1;
            continue;
        }
        if (Upper(data[at]) != Upper(written[i])) {
            return begin;  // no echo: the answer begins here
        }
        ++at;
    }
    if (at < length && data[at] == 0x1A) {
        ++at;
    }
    return at;
}

namespace {

// The first `token` at or after `from` that stands at lineStart or after a line break.
size_t FindTokenOpeningLine(const ReplyBuffer& reply, size_t from, const char* token,
                            size_t lineStart) {
    const char* data = reply.Data();
    for (size_t at = reply.Find(token, from); at != ReplyBuffer::npos;
         at = reply.Find(token, at + 1)) {
        if (at == lineStart || (at > 0 && IsLineBreak(data[at - 1]))) {
            return at;
        }
    }
    return ReplyBuffer::npos;
}

}  // namespace

size_t FindLineStartingWith(const ReplyBuffer& reply, size_t from, const char* token) {
    return FindTokenOpeningLine(reply, from, token, 0);
}

bool HasLineStartingWith(const ReplyBuffer& reply, size_t from, const char* token) {
    return FindTokenOpeningLine(reply, from, token, from) != ReplyBuffer::npos;
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

Verdict MessageVerdict(const ReplyBuffer& reply, size_t from, BareOk bareOk) {
    const bool confirmed = HasLineStartingWith(reply, from, "+CMGS:");
    const bool ok = HasOkLine(reply, from);
    if (confirmed && ok) {
        return Verdict::Accepted;
    }
    if (HasErrorLine(reply, from)) {
        return Verdict::Refused;
    }
    return (ok && bareOk == BareOk::Refuses) ? Verdict::Refused : Verdict::Pending;
}

Verdict FinalResult(const ReplyBuffer& reply) {
    const char* data = reply.Data();
    size_t end = reply.Length();
    if (end == 0 || !IsLineBreak(data[end - 1])) {
        return Verdict::Pending;
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
    return ResultOfLine(data + begin, end - begin);
}

bool ReadNumber(const ReplyBuffer& reply, size_t& cursor, size_t mostDigits, long& value) {
    const char* data = reply.Data();
    const size_t end = reply.Length();
    while (cursor < end && data[cursor] == ' ') {
        ++cursor;
    }
    size_t digits = 0;
    value = 0;
    while (cursor < end && data[cursor] >= '0' && data[cursor] <= '9') {
        if (++digits > mostDigits) {
            return false;
        }
        value = value * 10 + (data[cursor] - '0');
        ++cursor;
    }
    return digits > 0;
}

bool ReadStoreIndex(const ReplyBuffer& reply, size_t& cursor, int& index) {
    long value = 0;
    if (!ReadNumber(reply, cursor, 9, value) || cursor >= reply.Length() ||
        reply.Data()[cursor] != ',') {
        return false;
    }
    index = static_cast<int>(value);
    return true;
}

}  // namespace tidewire

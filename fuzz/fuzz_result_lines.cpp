// The line tests that decide every verdict, on any reply: positions they return lie within the
// reply, and the final result agrees with the result lines found and is not changed by an
// indication behind it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzHarness.h"
#include "modem/ResultLines.h"

namespace {

using namespace tidewire;
using tidewire::fuzz::Require;

// Input: one byte for the position searches start from, then the reply and the written command,
// separated by the reply separator; a further separator ends the input (older stored inputs
// carry a third part there, which is not used).
struct Parts {
    std::string reply;
    std::string written;
};

Parts Split(const uint8_t* data, size_t size) {
    Parts parts;
    std::string* target[] = {&parts.reply, &parts.written};
    size_t field = 0;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == tidewire::fuzz::kReplySeparator) {
            if (++field == 2) {
                break;
            }
        } else {
            target[field]->push_back(c);
        }
    }
    return parts;
}

void CheckPosition(size_t position, const ReplyBuffer& reply, const char* what) {
    Require(position == ReplyBuffer::npos || position <= reply.Length(), what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const Parts parts = Split(data + 1, size - 1);
    static ReplyBuffer reply;
    reply.Clear();
    Require(reply.Append(reinterpret_cast<const uint8_t*>(parts.reply.data()), parts.reply.size()),
            "a short reply did not fit the buffer");
    Require(reply.Length() == parts.reply.size() && reply.Data()[reply.Length()] == '\0',
            "appended reply length or terminator");
    const size_t from = data[0] % (reply.Length() + 1);

    const Verdict final = FinalResult(reply);
    Require(final == Verdict::Pending || final == Verdict::Accepted || final == Verdict::Refused,
            "FinalResult value");
    if (final == Verdict::Accepted) {
        Require(HasOkLine(reply, 0), "final OK but no OK line");
    }
    if (final == Verdict::Refused) {
        Require(HasErrorLine(reply, 0), "final error but no error line");
    }
    // A search from a line's beginning finds nothing that a search from the start would miss.
    const bool fromLineStart =
        from == 0 || parts.reply[from - 1] == '\r' || parts.reply[from - 1] == '\n';
    if (fromLineStart && (HasOkLine(reply, from) || HasErrorLine(reply, from))) {
        Require(HasOkLine(reply, 0) || HasErrorLine(reply, 0),
                "a result line after a position but none from the start");
    }

    CheckPosition(AnswerStart(reply, parts.written.data(), parts.written.size(), from), reply,
                  "AnswerStart past the reply");
    CheckPosition(AnswerStart(reply, parts.written.data(), parts.written.size()), reply,
                  "AnswerStart past the reply");
    const std::string token = parts.written.c_str();
    if (!token.empty() && HasLineStartingWith(reply, from, token.c_str())) {
        Require(reply.Find(token.c_str(), from) != ReplyBuffer::npos,
                "a line starts with a token that is not there");
    }

    // A new-message indication that follows the final result in the same read changes nothing.
    if (!parts.reply.empty() && (parts.reply.back() == '\r' || parts.reply.back() == '\n')) {
        const std::string indicated = parts.reply + "+CMTI: \"SM\",3\r\n";
        static ReplyBuffer indicatedReply;
        indicatedReply.Clear();
        indicatedReply.Append(reinterpret_cast<const uint8_t*>(indicated.data()), indicated.size());
        Require(FinalResult(indicatedReply) == final,
                "an indication after the final result changed it");
    }

    for (size_t begin = 0; begin < parts.reply.size();) {
        size_t end = begin;
        while (end < parts.reply.size() && parts.reply[end] != '\r' && parts.reply[end] != '\n') {
            ++end;
        }
        if (IsUnsolicitedLine(parts.reply.data() + begin, end - begin)) {
            Require(end > begin, "an empty line taken for an indication");
        }
        begin = end + 1;
    }
    return 0;
}

// Reading a module's answer as lines: where its echo of what we wrote ends, and whether a
// result code stands as a line of its own. A message body that the module echoes back may
// contain the letters of any token ("book", "error"); only the module's own result lines may
// decide a verdict.
#ifndef TIDEWIRE_MODEM_RESULTLINES_H
#define TIDEWIRE_MODEM_RESULTLINES_H

#include <cstddef>

#include "modem/PollPlans.h"
#include "modem/ReplyBuffer.h"

namespace tidewire {

// True when the line is an indication the module sends of its own accord ("+CMTI:", "^RSSI:",
// "RING", ...), not part of an answer.
bool IsUnsolicitedLine(const char* line, size_t length);

// What a line says as a final result code: Accepted for "OK", Refused for "ERROR", "+CMS ERROR: n"
// or "+CME ERROR: n", Pending for any other line.
Verdict ResultOfLine(const char* line, size_t length);

// Where the module's answer proper begins. Indications before it are passed over; when what
// follows is the echo of `written` (compared without regard to letter case, a trailing Ctrl-Z
// of the echo optional), the position just past that echo; ReplyBuffer::npos while the reply is
// still only indications or a part of that echo; otherwise where the answer begins (no echo,
// or the module changed it).
size_t AnswerStart(const ReplyBuffer& reply, const char* written, size_t writtenLength,
                   size_t from = 0);

// Position of the first `token` at or after `from` that begins a line, or ReplyBuffer::npos. A
// line begins at position 0 and after a CR or LF.
size_t FindLineStartingWith(const ReplyBuffer& reply, size_t from, const char* token);

// True when a line at or after `from` begins with `token`; here a line begins at `from` too,
// where the answer proper begins after an echo.
bool HasLineStartingWith(const ReplyBuffer& reply, size_t from, const char* token);

// The final result codes as lines of their own: "OK", and "ERROR" or "+CMS ERROR: n" /
// "+CME ERROR: n".
bool HasOkLine(const ReplyBuffer& reply, size_t from);
bool HasErrorLine(const ReplyBuffer& reply, size_t from);

// The verdict on a message, from the module's answer after its echo of the body (at `from`):
// "+CMGS:" and "OK" as lines of their own confirm it, an error line refuses it. An "OK" without
// "+CMGS:" refuses it where the module never sends them apart (BareOk::Refuses), and is waited
// past where the confirmation may still follow (BareOk::Waits).
enum class BareOk { Refuses, Waits };
Verdict MessageVerdict(const ReplyBuffer& reply, size_t from, BareOk bareOk);

// The module's final result: the last complete line of the reply that is not an indication,
// when the reply ends with a line break. Accepted for "OK", Refused for an error line, Pending
// while the last line is anything else (a message body that reads "OK" is followed by more
// lines, so it never stands last).
Verdict FinalResult(const ReplyBuffer& reply);

// Reads blanks, then one to mostDigits digits, from `cursor` on, which is left after what was
// read. False when there are no digits, or more.
bool ReadNumber(const ReplyBuffer& reply, size_t& cursor, size_t mostDigits, long& value);

// Reads the store index of a listing entry ("+CMGL: <index>,..."): blanks, then one to nine
// digits ending at a comma, from `cursor` on, which is left after what was read. False when there
// is none or it is absurdly long: such an entry is left alone rather than read or deleted under
// some other index.
bool ReadStoreIndex(const ReplyBuffer& reply, size_t& cursor, int& index);

}  // namespace tidewire

#endif

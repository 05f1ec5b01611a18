// What may be written into a command line or a message body without the module reading part of
// it as something else.
#ifndef TIDEWIRE_MODEM_COMMANDTEXT_H
#define TIDEWIRE_MODEM_COMMANDTEXT_H

#include <cstddef>

namespace tidewire {

// A number or service centre goes into a quoted argument ("AT+CMGS=\"%s\"", "AT+CSCA=\"%s\""):
// a quote or comma would end the argument, and a control byte (CR above all) would end the
// command line and let the rest run as commands. True when the first length bytes hold none.
bool FitsQuotedArgument(const char* text, size_t length);

// A destination number is also written without quotes (types 860 and 865 put it straight into
// "at$smsmo=..."), where ';' would end the command and start another. True when the first
// length bytes fit a quoted argument and hold no ';'.
bool FitsNumberArgument(const char* text, size_t length);

// A text is written after the module's prompt: Ctrl-Z would end the body early and ESC cancel
// it, and whatever follows would then be read by the module as commands. True when the first
// length bytes hold neither.
bool FitsMessageBody(const char* text, size_t length);

}  // namespace tidewire

#endif

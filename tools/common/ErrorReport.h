// What went wrong, told three ways: the library's number and text for programs, and an English
// sentence with what to do for people. The sentences come from the table the command line, the
// gateway and the Python package share (python/tidewire/errors.json), compiled in.
#ifndef TIDEWIRE_TOOLS_COMMON_ERRORREPORT_H
#define TIDEWIRE_TOOLS_COMMON_ERRORREPORT_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace tidewire::tools {

struct ErrorReport {
    int32_t code = 0;     // the library's number (tidewire_errors.h); 0 when it was not its text
    std::string text;     // the library's own text, host codeset; empty when it was not its text
    std::string english;  // the sentence and, in parentheses, what to do; host codeset
};

// The library's failure of number code with its text, on the named device.
ErrorReport DescribeLibraryError(int32_t code, const std::string& text, const std::string& device);

// The library's number and text for a check the command line made before the library was
// called: the same limit, found earlier.
ErrorReport DescribeLibraryCheck(int32_t code);

// A failure the library did not word: the command line's own, or a module's refusal.
ErrorReport DescribeOwnError(std::string english);

// The table's kind of a number ("message", "init-warning", ...; empty when unknown).
std::string ErrorKind(int32_t code);

// Whose reason a message the worker failed has. The worker leaves a text of its own when it
// failed the message itself: a "message" text, or an "invalid-argument" one for a number or
// service centre it cannot encode. A module or network that refused it leaves none, only its
// answer on the line. codeBefore is SMSGetLastErrorCode from just before the message was
// queued, codeAfter from once its outcome is known.
enum class MessageFailure {
    Library,  // the last error is this message's reason
    Module,   // the module or the network refused it; the library has no text for that
    Either,   // the last error is the one from before: an earlier message may have left it and
              // the module refused this one, or the library failed this one for the same reason
};
MessageFailure WhyMessageFailed(int32_t codeBefore, int32_t codeAfter);

// The report as one line: "<english> [<text>]", or the English alone without a library text.
std::string ErrorLine(const ErrorReport& report);

// The report as stderr shows it: "error: <english> [<text>]".
void PrintErrorReport(const char* label, const ErrorReport& report);

// The report as --json shows it: {"code", "text", "english"}, texts in UTF-8.
nlohmann::ordered_json ErrorJson(const ErrorReport& report);

}  // namespace tidewire::tools

#endif

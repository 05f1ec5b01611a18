#include "ErrorReport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ErrorTableData.h"
#include "HostText.h"

namespace tidewire::tools {

namespace {

const nlohmann::json& Table() {
    static const nlohmann::json table = nlohmann::json::parse(kErrorTableJson);
    return table;
}

const nlohmann::json* Row(int32_t code) {
    for (const nlohmann::json& row : Table()) {
        if (row.at("code").get<int32_t>() == code) {
            return &row;
        }
    }
    return nullptr;
}

// The errno names the table may give advice for. The system's reason after the port text is
// strerror's, in this process's locale, so the reason is recognised by asking strerror too.
struct ErrnoName {
    const char* name;
    int value;
};
constexpr ErrnoName kErrnoNames[] = {{"EACCES", EACCES}, {"EPERM", EPERM},   {"ENOENT", ENOENT},
                                     {"ENODEV", ENODEV}, {"ENXIO", ENXIO},   {"EBUSY", EBUSY},
                                     {"ENOTTY", ENOTTY}, {"EINVAL", EINVAL}, {"EIO", EIO}};

std::string AdviceFor(const nlohmann::json& row, const std::string& reason) {
    const auto byErrno = row.find("advice_by_errno");
    if (byErrno != row.end() && !reason.empty()) {
        for (const ErrnoName& known : kErrnoNames) {
            const auto advice = byErrno->find(known.name);
            if (advice != byErrno->end() && reason == std::strerror(known.value)) {
                return advice->get<std::string>();
            }
        }
    }
    return row.at("advice").get<std::string>();
}

std::string WithDevice(std::string sentence, const std::string& device) {
    const std::string placeholder = "{device}";
    const size_t at = sentence.find(placeholder);
    if (at != std::string::npos) {
        sentence.replace(at, placeholder.size(), device.empty() ? "the port" : device);
    }
    return sentence;
}

}  // namespace

ErrorReport DescribeLibraryError(int32_t code, const std::string& text, const std::string& device) {
    ErrorReport report;
    report.code = code;
    report.text = text;
    const nlohmann::json* const row = Row(code);
    if (row == nullptr) {
        // A library newer than this program: its text is all there is to show.
        report.english = "the library failed with error " + std::to_string(code);
        return report;
    }
    // The port text is followed by the system's reason, which is split off here so that the
    // sentence can name the device and the reason apart; the library's text stays whole.
    const std::string fixed = Utf8ToHost(row->at("text").get<std::string>());
    std::string reason;
    if (text.size() > fixed.size() && text.compare(0, fixed.size(), fixed) == 0) {
        reason = text.substr(fixed.size());
    }
    report.english = Utf8ToHost(WithDevice(row->at("english").get<std::string>(), device));
    if (!reason.empty()) {
        report.english += ": " + reason;
    }
    report.english += " (" + Utf8ToHost(AdviceFor(*row, reason)) + ")";
    return report;
}

ErrorReport DescribeLibraryCheck(int32_t code) {
    const nlohmann::json* const row = Row(code);
    return DescribeLibraryError(
        code, row == nullptr ? std::string() : Utf8ToHost(row->at("text").get<std::string>()),
        std::string());
}

ErrorReport DescribeOwnError(std::string english) {
    ErrorReport report;
    report.english = std::move(english);
    return report;
}

std::string ErrorKind(int32_t code) {
    const nlohmann::json* const row = Row(code);
    return row == nullptr ? std::string() : row->at("kind").get<std::string>();
}

MessageFailure WhyMessageFailed(int32_t codeBefore, int32_t codeAfter) {
    const std::string kind = ErrorKind(codeAfter);
    if (kind != "message" && kind != "invalid-argument") {
        return MessageFailure::Module;
    }
    return codeAfter != codeBefore ? MessageFailure::Library : MessageFailure::Either;
}

std::string ErrorLine(const ErrorReport& report) {
    return report.text.empty() ? report.english : report.english + " [" + report.text + "]";
}

void PrintErrorReport(const char* label, const ErrorReport& report) {
    std::fprintf(stderr, "%s: %s\n", label, ErrorLine(report).c_str());
}

nlohmann::ordered_json ErrorJson(const ErrorReport& report) {
    return nlohmann::ordered_json{{"code", report.code},
                                  {"text", HostToUtf8(report.text)},
                                  {"english", HostToUtf8(report.english)}};
}

}  // namespace tidewire::tools

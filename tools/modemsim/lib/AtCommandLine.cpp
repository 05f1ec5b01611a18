#include "AtCommandLine.h"

#include "HexText.h"

namespace tidewire::sim {

namespace {

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsExtendedPrefix(char c) {
    return c == '+' || c == '$' || c == '^' || c == '*';
}

// Text up to the next ';' that is not inside quotes.
std::size_t EndOfArguments(std::string_view text, std::size_t from) {
    bool quoted = false;
    for (std::size_t i = from; i < text.size(); ++i) {
        if (text[i] == '"') {
            quoted = !quoted;
        } else if (text[i] == ';' && !quoted) {
            return i;
        }
    }
    return text.size();
}

}  // namespace

std::optional<std::vector<AtCommand>> ParseCommandLine(std::string_view text) {
    std::vector<AtCommand> commands;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == ' ' || c == ';') {
            ++pos;
            continue;
        }
        AtCommand command;
        if (IsExtendedPrefix(c)) {
            std::size_t end = pos + 1;
            while (end < text.size() && text[end] != '=' && text[end] != '?' && text[end] != ';') {
                ++end;
            }
            command.name = ToUpperAscii(TrimBlanks(text.substr(pos, end - pos)));
            if (command.name.size() < 2) {
                return std::nullopt;
            }
            pos = end;
            if (pos < text.size() && text[pos] == '?') {
                command.form = CommandForm::Read;
                ++pos;
            } else if (pos < text.size() && text[pos] == '=') {
                ++pos;
                if (pos < text.size() && text[pos] == '?' &&
                    (pos + 1 == text.size() || text[pos + 1] == ';')) {
                    command.form = CommandForm::Test;
                    ++pos;
                } else {
                    const std::size_t end = EndOfArguments(text, pos);
                    command.form = CommandForm::Set;
                    command.arguments = std::string(text.substr(pos, end - pos));
                    pos = end;
                }
            }
            if (pos < text.size() && text[pos] != ';') {
                return std::nullopt;
            }
        } else if (IsLetter(c) || (c == '&' && pos + 1 < text.size() && IsLetter(text[pos + 1]))) {
            const std::size_t letters = c == '&' ? 2 : 1;
            command.name = ToUpperAscii(text.substr(pos, letters));
            pos += letters;
            if (pos < text.size() && text[pos] == '?') {
                command.form = CommandForm::Read;
                ++pos;
            } else {
                const std::size_t start = pos;
                while (pos < text.size() && IsDigit(text[pos])) {
                    ++pos;
                }
                if (pos > start) {
                    command.form = CommandForm::Set;
                    command.arguments = std::string(text.substr(start, pos - start));
                }
            }
        } else {
            return std::nullopt;
        }
        commands.push_back(std::move(command));
    }
    return commands;
}

std::optional<std::vector<Parameter>> SplitParameters(std::string_view arguments) {
    std::vector<Parameter> parameters;
    if (TrimBlanks(arguments).empty()) {
        return parameters;
    }
    Parameter current;
    std::string unquoted;  // text outside quotes; blanks around a parameter do not count
    bool inQuotes = false;
    const auto finish = [&] {
        if (!current.quoted) {
            current.text = std::string(TrimBlanks(unquoted));
        }
        parameters.push_back(current);
        current = Parameter{};
        unquoted.clear();
    };
    for (const char c : arguments) {
        if (c == '"') {
            inQuotes = !inQuotes;
            current.quoted = true;
        } else if (inQuotes) {
            current.text.push_back(c);
        } else if (c == ',') {
            finish();
        } else {
            unquoted.push_back(c);
        }
    }
    if (inQuotes) {
        return std::nullopt;
    }
    finish();
    return parameters;
}

}  // namespace tidewire::sim

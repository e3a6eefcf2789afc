#include "platform/CommandLine.h"

namespace sparkloom::platform {

namespace {

void AppendQuoted(std::string& line, const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += argument;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            line.append(backslashes * 2 + 1, '\\');
        } else {
            line.append(backslashes, '\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

}  // namespace

std::string QuotedCommandLine(const std::string& program,
                              const std::vector<std::string>& arguments) {
    std::string line;
    // The program name is read by other rules (no backslash escapes): quoting it
    // whole is enough, as a file name cannot hold a quote.
    line += '"' + program + '"';
    for (const std::string& argument : arguments) {
        line += ' ';
        AppendQuoted(line, argument);
    }
    return line;
}

}  // namespace sparkloom::platform

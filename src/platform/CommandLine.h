#pragma once

#include <string>
#include <vector>

namespace sparkloom::platform {

// One command line from an argument list, quoted by the rules Microsoft's C
// runtime and CommandLineToArgvW read it back with: an argument with a blank,
// a tab or a quote (or an empty one) goes in quotes; a quote is preceded by a
// backslash; backslashes are doubled only where a quote follows them,
// including the closing quote.
std::string QuotedCommandLine(const std::string& program,
                              const std::vector<std::string>& arguments);

}  // namespace sparkloom::platform

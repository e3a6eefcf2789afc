#pragma once

#include <string>
#include <vector>

namespace sparkloom::cli {

// sparkloom-cli --check: checks each package whole and prints, per package,
// "PACKAGE: OK" or one line per fault, then its notes (unless quiet).
// Returns kExitSuccess when every package is whole, else kExitFailure.
int CheckPackages(const std::vector<std::string>& packages, bool quiet);

}  // namespace sparkloom::cli

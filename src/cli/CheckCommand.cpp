#include "cli/CheckCommand.h"

#include <cstdio>

#include "cli/Converter.h"
#include "common/Files.h"
#include "package/PackageCheck.h"

namespace sparkloom::cli {

namespace {

void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

}  // namespace

int CheckPackages(const std::vector<std::string>& packages, bool quiet) {
    int status = kExitSuccess;
    for (const std::string& package : packages) {
        const PackageCheck check = CheckPackage(package, PackageCheckLevel::Whole);
        const std::string shown = Shown(package) + ": ";
        if (check.IsWhole()) {
            if (!quiet) {
                PrintLine(shown + "OK");
            }
        } else {
            status = kExitFailure;
            for (const std::string& fault : check.FaultLines()) {
                PrintLine(shown + fault);
            }
        }
        if (!quiet) {
            for (const std::string& note : check.notes) {
                PrintLine(shown + "note: " + note);
            }
        }
    }
    std::fflush(stdout);
    return status;
}

}  // namespace sparkloom::cli

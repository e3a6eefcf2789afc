#include "cli/CheckCommand.h"

#include <cstdio>

#include "cli/Converter.h"
#include "common/Files.h"
#include "package/PackageCheck.h"

namespace sparkloom::cli {

namespace {

void PrintLine(const QString& line) {
    const QByteArray bytes = (line + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

}  // namespace

int CheckPackages(const QStringList& packages, bool quiet) {
    int status = kExitSuccess;
    for (const QString& package : packages) {
        const PackageCheck check = CheckPackage(package, PackageCheckLevel::Whole);
        const QString shown = Shown(package) + QStringLiteral(": ");
        if (check.IsWhole()) {
            if (!quiet) {
                PrintLine(shown + QStringLiteral("OK"));
            }
        } else {
            status = kExitFailure;
            for (const QString& fault : check.FaultLines()) {
                PrintLine(shown + fault);
            }
        }
        if (!quiet) {
            for (const QString& note : check.notes) {
                PrintLine(shown + QStringLiteral("note: ") + note);
            }
        }
    }
    std::fflush(stdout);
    return status;
}

}  // namespace sparkloom::cli

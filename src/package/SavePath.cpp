#include "package/SavePath.h"

namespace sparkloom {

QString PackageFolderOf(const QString& packagePath, const QString& fileName) {
    QString folder = packagePath;
    return folder.remove(QLatin1Char('/') + fileName, Qt::CaseSensitive);
}

QString WithPackageExtension(const QString& packagePath) {
    // Any "." counts as an extension already given, even one in a folder name, and a blank
    // at either end keeps the path as typed.
    const QLatin1Char blank(' ');
    if (packagePath.contains(QLatin1Char('.')) || packagePath.startsWith(blank) ||
        packagePath.endsWith(blank)) {
        return packagePath;
    }
    return packagePath + QStringLiteral(".dzp");
}

}  // namespace sparkloom

#pragma once

#include <QString>

namespace sparkloom {

// The package's folder: packagePath with every "/" + fileName removed.
QString PackageFolderOf(const QString& packagePath, const QString& fileName);
// Appends ".dzp" when the path holds no "." at all and no blank at either end.
QString WithPackageExtension(const QString& packagePath);

}  // namespace sparkloom

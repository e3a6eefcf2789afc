#include "package/SavePath.h"

#include "common/Files.h"
#include "common/Text.h"

namespace sparkloom {

std::string PackageFolderOf(const std::string& packagePath, const std::string& fileName) {
    std::string folder = packagePath;
    for (const char separator : kPathSeparators) {
        folder = ReplaceAll(folder, std::string(1, separator) + fileName, "");
    }
    return folder;
}

std::string WithPackageExtension(const std::string& packagePath) {
    // Any "." counts as an extension already given, even one in a folder name, and a blank
    // at either end keeps the path as typed.
    if (packagePath.find('.') != std::string::npos || packagePath.starts_with(' ') ||
        packagePath.ends_with(' ')) {
        return packagePath;
    }
    return packagePath + ".dzp";
}

}  // namespace sparkloom

#include "package/SavePath.h"

#include "common/Text.h"

namespace sparkloom {

std::string PackageFolderOf(const std::string& packagePath, const std::string& fileName) {
    return ReplaceAll(packagePath, "/" + fileName, "");
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

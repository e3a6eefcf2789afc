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
    // Only the file name's own "." is an extension: "Clips.2026/Fire" is still a bare name.
    // A blank at either end keeps the path as typed.
    const size_t cut = packagePath.find_last_of(kPathSeparators);
    const std::string_view name =
        std::string_view(packagePath).substr(cut == std::string::npos ? 0 : cut + 1);
    if (name.find('.') != std::string_view::npos || packagePath.starts_with(' ') ||
        packagePath.ends_with(' ')) {
        return packagePath;
    }
    return packagePath + ".dzp";
}

std::string NamesFolderText(const std::string& shownPath) {
    return Shown(shownPath) + " is a folder; please name the package file.";
}

bool NamesNoFile(const std::string& packagePath) {
    if (packagePath.empty()) {
        return false;
    }
    if (kPathSeparators.find(packagePath.back()) != std::string_view::npos) {
        return true;
    }
    const std::string withExtension = WithPackageExtension(packagePath);
    const size_t cut = withExtension.find_last_of(kPathSeparators);
    return withExtension.substr(cut == std::string::npos ? 0 : cut + 1) == ".dzp";
}

}  // namespace sparkloom

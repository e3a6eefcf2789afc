#pragma once

#include <string>

namespace sparkloom {

// The package's folder: packagePath with every separator + fileName removed.
std::string PackageFolderOf(const std::string& packagePath, const std::string& fileName);
// Appends ".dzp" when the file name holds no "." and the path no blank at either end.
std::string WithPackageExtension(const std::string& packagePath);

// The path names a folder rather than a package file: it ends in a separator,
// or the ".dzp" rule leaves the name nothing before its extension (which would
// write a hidden ".dzp").
bool NamesNoFile(const std::string& packagePath);
// The refusal of a package path that is, or names, a folder.
std::string NamesFolderText(const std::string& shownPath);

}  // namespace sparkloom

#pragma once

#include <QString>

namespace sparkloom {

// True for an existing regular file that is not hidden (its name does not start
// with "."); false for folders, hidden or missing files and unusable paths.
bool FileExists(const QString& path);

// A path as messages show it to the user: with the platform's separators.
QString Shown(const QString& path);

// The folder holding the program's executable, without a trailing separator.
QString ProgramFolder();

}  // namespace sparkloom

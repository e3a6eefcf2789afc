#pragma once

#include <QString>

namespace sparkloom {

// The one value kept between runs: the folder the folder browser opens at.
// Stored per user under the executable's base name, group "folders",
// key "lastfolder".
QString ReadRememberedFolder();
void WriteRememberedFolder(const QString& folder);

}  // namespace sparkloom

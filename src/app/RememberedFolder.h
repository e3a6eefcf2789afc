#pragma once

#include <QString>

namespace sparkloom {

// The values kept between runs: the folder the folder browser opens at.
// Stored per user under the executable's base name, group "folders",
// key "lastfolder".
QString ReadRememberedFolder();
void WriteRememberedFolder(const QString& folder);
// Other values kept beside it, in the same store, group "frames".
QString ReadRememberedSetting(const QString& name);
void WriteRememberedSetting(const QString& name, const QString& value);

}  // namespace sparkloom

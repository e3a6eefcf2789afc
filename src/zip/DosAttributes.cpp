#include "zip/DosAttributes.h"

#include <sys/stat.h>
#include <QFile>
#include <QFileInfo>

namespace sparkloom {

std::optional<int32_t> DosAttributes(const QString& path) {
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return std::nullopt;
    }
    int32_t attrs = S_ISREG(st.st_mode)   ? kDosArchive
                    : S_ISDIR(st.st_mode) ? kDosDirectory
                                          : kDosSystem;
    if ((st.st_mode & S_IWUSR) == 0) {
        attrs |= kDosReadOnly;
    }
    if (QFileInfo(path).fileName().startsWith(u'.')) {
        attrs |= kDosHidden;
    }
    return attrs;
}

}  // namespace sparkloom

#include "zip/ZipLibrary.h"

namespace sparkloom {

// The build still calls these at the moments a separately shipped library would
// be written, loaded, unloaded and deleted; with zlib and minizip linked in there
// is nothing to do, and no "zpk.dll" is ever written.

void ProvideZipLibrary(const QString& folder) {
    Q_UNUSED(folder);
}

void ReleaseZipLibrary(const QString& folder) {
    Q_UNUSED(folder);
    UnloadZipLibrary();
}

void UnloadZipLibrary() {
    FreeModuleFully(nullptr);
}

void FreeModuleFully(void* handle) {
    Q_UNUSED(handle);
}

}  // namespace sparkloom

#include "zip/ZipLibrary.h"

namespace sparkloom {

// The build still calls these at the moments a separately shipped library would
// be written, loaded, unloaded and deleted; with zlib and minizip linked in there
// is nothing to do, and no "zpk.dll" is ever written.

void ProvideZipLibrary(const std::string& /*folder*/) {}

void ReleaseZipLibrary(const std::string& /*folder*/) {
    UnloadZipLibrary();
}

void UnloadZipLibrary() {
    FreeModuleFully(nullptr);
}

void FreeModuleFully(void* /*handle*/) {}

}  // namespace sparkloom

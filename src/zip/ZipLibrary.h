#pragma once

#include <string>

namespace sparkloom {

// zlib and minizip are linked into the program, so the library needs no file
// of its own: these keep the build's steps in their places and touch nothing.
void ProvideZipLibrary(const std::string& folder);
void ReleaseZipLibrary(const std::string& folder);
void UnloadZipLibrary();
void FreeModuleFully(void* handle);

}  // namespace sparkloom

#pragma once

#include <windows.h>

namespace sparkloom::win32 {

// A bitmap of the JPEG stored as RCDATA resource id, with its size in pixels;
// null when it cannot be read.
HBITMAP LoadJpegResource(HINSTANCE instance, int id, SIZE& size);

}  // namespace sparkloom::win32

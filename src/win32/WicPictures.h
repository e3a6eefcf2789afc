#pragma once

#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>
#include <vector>

namespace sparkloom::win32 {

// A picture decoded for the screen: rows of 32-bit BGRX pixels, top down.
struct ScreenPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// Windows' own picture decoder (WIC), for the thread that made it; COM must
// be initialised there.
class WicDecoder {
public:
    WicDecoder();
    // False when Windows had no decoder to give.
    bool Ready() const { return mFactory != nullptr; }
    // The picture at path, fitted into fit with its aspect kept and never
    // enlarged. A JPEG is decoded at the smallest of its native 1/2, 1/4 and
    // 1/8 scales that still fills fit, so a full-size picture is never made
    // only to be shrunk. False, with why, when it cannot be read.
    bool Decode(const std::wstring& path, SIZE fit, ScreenPicture& picture,
                std::string& error) const;

private:
    Microsoft::WRL::ComPtr<IWICImagingFactory> mFactory;
};

// A fitted size of a width × height picture in fit, aspect kept, at least
// one pixel each way, never larger than the picture.
SIZE FittedSize(SIZE picture, SIZE fit);

}  // namespace sparkloom::win32

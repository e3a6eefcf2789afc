#include "win32/WicPictures.h"

#include <algorithm>
#include <cstdio>

// wincodec.h of MinGW-w64 lacks the interface through which a codec decodes
// at a smaller scale of its own; its layout is Windows' (wincodec.idl).
MIDL_INTERFACE("3B16811B-6A43-4ec9-B713-3D5A0C13B940")
IWICBitmapSourceTransform : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE CopyPixels(
        const WICRect* rect, UINT width, UINT height, WICPixelFormatGUID* format,
        WICBitmapTransformOptions transform, UINT stride, UINT bufferSize, BYTE* buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestSize(UINT * width, UINT * height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID * format) = 0;
    virtual HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions transform,
                                                           BOOL * supported) = 0;
};
__CRT_UUID_DECL(IWICBitmapSourceTransform, 0x3b16811b, 0x6a43, 0x4ec9, 0xb7, 0x13, 0x3d, 0x5a, 0x0c,
                0x13, 0xb9, 0x40)

namespace sparkloom::win32 {

using Microsoft::WRL::ComPtr;

namespace {

std::string Failed(const char* what, HRESULT result) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (0x%08lX)", what,
                  static_cast<unsigned long>(result));
    return text;
}

}  // namespace

SIZE FittedSize(SIZE picture, SIZE fit) {
    if (picture.cx <= 0 || picture.cy <= 0) {
        return SIZE{0, 0};
    }
    LONG width = std::min(picture.cx, std::max(fit.cx, 1L));
    LONG height = MulDiv(width, picture.cy, picture.cx);
    if (height > fit.cy) {
        height = std::min(picture.cy, std::max(fit.cy, 1L));
        width = MulDiv(height, picture.cx, picture.cy);
    }
    return SIZE{std::max(width, 1L), std::max(height, 1L)};
}

WicDecoder::WicDecoder() {
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&mFactory)))) {
        mFactory.Reset();
    }
}

bool WicDecoder::Decode(const std::wstring& path, SIZE fit, ScreenPicture& picture,
                        std::string& error) const {
    if (mFactory == nullptr) {
        error = "no picture decoder";
        return false;
    }
    ComPtr<IWICBitmapDecoder> decoder;
    HRESULT result = mFactory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                         WICDecodeMetadataCacheOnDemand, &decoder);
    ComPtr<IWICBitmapFrameDecode> frame;
    if (SUCCEEDED(result)) {
        result = decoder->GetFrame(0, &frame);
    }
    UINT width = 0;
    UINT height = 0;
    if (SUCCEEDED(result)) {
        result = frame->GetSize(&width, &height);
    }
    if (FAILED(result) || width == 0 || height == 0) {
        error = Failed("reading the picture", result);
        return false;
    }
    const SIZE wanted = FittedSize(SIZE{static_cast<LONG>(width), static_cast<LONG>(height)}, fit);

    // The decoder's own smaller scale, where it has one that still covers
    // the size wanted; the scaler makes up the rest.
    ComPtr<IWICBitmapSource> source = frame;
    ComPtr<IWICBitmapSourceTransform> transform;
    if (SUCCEEDED(frame.As(&transform))) {
        UINT nativeWidth = static_cast<UINT>(wanted.cx);
        UINT nativeHeight = static_cast<UINT>(wanted.cy);
        WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
        if (SUCCEEDED(transform->GetClosestSize(&nativeWidth, &nativeHeight)) &&
            nativeWidth < width && nativeWidth >= static_cast<UINT>(wanted.cx) &&
            nativeHeight >= static_cast<UINT>(wanted.cy) &&
            SUCCEEDED(transform->GetClosestPixelFormat(&format))) {
            UINT bits = 0;
            ComPtr<IWICComponentInfo> info;
            ComPtr<IWICPixelFormatInfo> formatInfo;
            if (SUCCEEDED(mFactory->CreateComponentInfo(format, &info)) &&
                SUCCEEDED(info.As(&formatInfo)) && SUCCEEDED(formatInfo->GetBitsPerPixel(&bits))) {
                const UINT stride = (nativeWidth * bits + 31) / 32 * 4;
                std::vector<BYTE> scaled(static_cast<std::size_t>(stride) * nativeHeight);
                ComPtr<IWICBitmap> bitmap;
                if (SUCCEEDED(transform->CopyPixels(
                        nullptr, nativeWidth, nativeHeight, &format, WICBitmapTransformRotate0,
                        stride, static_cast<UINT>(scaled.size()), scaled.data())) &&
                    SUCCEEDED(mFactory->CreateBitmapFromMemory(
                        nativeWidth, nativeHeight, format, stride, static_cast<UINT>(scaled.size()),
                        scaled.data(), &bitmap))) {
                    source = bitmap;
                }
            }
        }
    }

    UINT sourceWidth = 0;
    UINT sourceHeight = 0;
    source->GetSize(&sourceWidth, &sourceHeight);
    if (sourceWidth != static_cast<UINT>(wanted.cx) ||
        sourceHeight != static_cast<UINT>(wanted.cy)) {
        ComPtr<IWICBitmapScaler> scaler;
        result = mFactory->CreateBitmapScaler(&scaler);
        if (SUCCEEDED(result)) {
            result =
                scaler->Initialize(source.Get(), static_cast<UINT>(wanted.cx),
                                   static_cast<UINT>(wanted.cy), WICBitmapInterpolationModeFant);
        }
        if (FAILED(result)) {
            error = Failed("scaling the picture", result);
            return false;
        }
        source = scaler;
    }
    ComPtr<IWICFormatConverter> converter;
    result = mFactory->CreateFormatConverter(&converter);
    if (SUCCEEDED(result)) {
        result = converter->Initialize(source.Get(), GUID_WICPixelFormat32bppBGR,
                                       WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom);
    }
    picture.width = wanted.cx;
    picture.height = wanted.cy;
    picture.pixels.assign(static_cast<std::size_t>(wanted.cx) * wanted.cy, 0);
    if (SUCCEEDED(result)) {
        result = converter->CopyPixels(nullptr, static_cast<UINT>(wanted.cx) * 4,
                                       static_cast<UINT>(picture.pixels.size() * 4),
                                       reinterpret_cast<BYTE*>(picture.pixels.data()));
    }
    if (FAILED(result)) {
        error = Failed("decoding the picture", result);
        picture = {};
        return false;
    }
    return true;
}

}  // namespace sparkloom::win32

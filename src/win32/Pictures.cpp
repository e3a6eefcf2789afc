#include "win32/Pictures.h"

#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>

namespace sparkloom::win32 {

HBITMAP LoadJpegResource(HINSTANCE instance, int id, SIZE& size) {
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_RCDATA);
    HGLOBAL resource = found != nullptr ? LoadResource(instance, found) : nullptr;
    const void* bytes = resource != nullptr ? LockResource(resource) : nullptr;
    const DWORD length = found != nullptr ? SizeofResource(instance, found) : 0;
    if (bytes == nullptr || length == 0) {
        return nullptr;
    }
    // The picture decoder reads a stream, which wants memory of its own.
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, length);
    void* target = copy != nullptr ? GlobalLock(copy) : nullptr;
    if (target == nullptr) {
        if (copy != nullptr) {
            GlobalFree(copy);
        }
        return nullptr;
    }
    std::memcpy(target, bytes, length);
    GlobalUnlock(copy);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
        GlobalFree(copy);
        return nullptr;
    }
    IPicture* picture = nullptr;
    const HRESULT loaded = OleLoadPicture(stream, static_cast<LONG>(length), FALSE, IID_IPicture,
                                          reinterpret_cast<void**>(&picture));
    stream->Release();
    if (FAILED(loaded) || picture == nullptr) {
        return nullptr;
    }
    OLE_HANDLE handle = 0;
    HBITMAP bitmap = nullptr;
    if (SUCCEEDED(picture->get_Handle(&handle))) {
        // The picture owns its bitmap; the window keeps a copy that outlives it.
        bitmap =
            static_cast<HBITMAP>(CopyImage(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(handle)),
                                           IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    }
    picture->Release();
    BITMAP info{};
    if (bitmap == nullptr || GetObjectW(bitmap, sizeof info, &info) == 0) {
        if (bitmap != nullptr) {
            DeleteObject(bitmap);
        }
        return nullptr;
    }
    size = {info.bmWidth, info.bmHeight};
    return bitmap;
}

}  // namespace sparkloom::win32

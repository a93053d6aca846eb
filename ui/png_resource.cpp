#include "ui/png_resource.h"

#include <cstring>

#include "fw/app.h"
#include "fw/com_ptr.h"
#include "fw/gdi_handle.h"

std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(UINT id)
{
    HMODULE module = fw::ResourceModule();
    HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    if (!res) return nullptr;
    const DWORD size = ::SizeofResource(module, res);
    HGLOBAL loaded = ::LoadResource(module, res);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (size == 0 || !bytes) return nullptr;

    // GDI+ may read the stream lazily for as long as the bitmap lives, so the stream owns the
    // copy and frees it when the bitmap lets go of it.
    fw::UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block) return nullptr;
    void* dest = ::GlobalLock(block.get());
    if (!dest) return nullptr;
    std::memcpy(dest, bytes, size);
    ::GlobalUnlock(block.get());
    fw::ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(block.get(), TRUE, stream.put()))) return nullptr;
    block.release();

    std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromStream(stream.get()));
    if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
    return bitmap;
}

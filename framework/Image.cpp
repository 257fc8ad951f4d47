#include "framework/Image.h"
#include "framework/ImageHeader.h"
#include <gdiplus.h>
#include <memory>
#include <string>

namespace {

// A file opened for reading only, shared with every other opener.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(LPCWSTR path)
        : m_handle(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~ReadOnlyFile() {
        if (m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    std::string Read(uint64_t offset, size_t count) const {
        std::string bytes(count, '\0');
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (count == 0 || !::ReadFile(m_handle, bytes.data(), static_cast<DWORD>(count), &got, &at)) got = 0;
        bytes.resize(got);
        return bytes;
    }

private:
    HANDLE m_handle;
};

}  // namespace

bool MayDecodePictureFile(LPCWSTR path) {
    const ReadOnlyFile file(path);
    if (!file.IsOpen()) return true;
    return MayDecodePicture(
        ReadPictureHeader([&file](uint64_t offset, size_t count) { return file.Read(offset, count); }));
}

HRESULT CImage::Load(LPCWSTR path) {
    Destroy();
    if (!MayDecodePictureFile(path)) return E_FAIL;
    auto source = std::make_unique<Gdiplus::Bitmap>(path);
    if (source->GetLastStatus() != Gdiplus::Ok) return E_FAIL;
    const int w = static_cast<int>(source->GetWidth()), h = static_cast<int>(source->GetHeight());
    if (w <= 0 || h <= 0) return E_FAIL;
    const bool alpha = Gdiplus::IsAlphaPixelFormat(source->GetPixelFormat());
    const int bpp = alpha ? 32 : 24;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down: rows in the order GDI+ hands them out
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bpp);
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib) return E_FAIL;

    // GDI+ converts straight into the section's rows (the 16-bit-per-channel PNG included).
    Gdiplus::BitmapData data{};
    data.Width = static_cast<UINT>(w);
    data.Height = static_cast<UINT>(h);
    data.Stride = ((w * bpp + 31) / 32) * 4;
    data.PixelFormat = alpha ? PixelFormat32bppPARGB : PixelFormat24bppRGB;
    data.Scan0 = bits;
    Gdiplus::Rect all(0, 0, w, h);
    Gdiplus::Status s = source->LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                                         data.PixelFormat, &data);
    if (s == Gdiplus::Ok) s = source->UnlockBits(&data);
    if (s != Gdiplus::Ok) {
        ::DeleteObject(dib);
        return E_FAIL;
    }
    m_bitmap = dib;
    m_width = w;
    m_height = h;
    m_bpp = bpp;
    return S_OK;
}

void CImage::Destroy() {
    if (m_bitmap) ::DeleteObject(m_bitmap);
    m_bitmap = nullptr;
    m_width = m_height = m_bpp = 0;
}

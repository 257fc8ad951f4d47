#include "framework/Image.h"
#include <gdiplus.h>
#include <memory>

HRESULT CImage::Load(LPCWSTR path) {
    Destroy();
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

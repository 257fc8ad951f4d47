// CImage: an image file loaded through GDI+ into a DIB section the object owns. GDI+ must be
// started by the caller.
#pragma once
#include <windows.h>

class CImage {
public:
    CImage() = default;
    ~CImage() { Destroy(); }
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    // Any format GDI+ reads. Images with alpha become 32 bits per pixel, premultiplied (what
    // AlphaBlend and the static control expect); others 24. Replaces a loaded image; E_FAIL
    // when the file cannot be read, and, undecoded, when its header states more pixels than
    // kMaxPicturePixels (framework/ImageHeader.h).
    HRESULT Load(LPCWSTR path);
    void Destroy();

    operator HBITMAP() const { return m_bitmap; }
    bool IsNull() const { return m_bitmap == nullptr; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    int GetBPP() const { return m_bpp; }

private:
    HBITMAP m_bitmap = nullptr;
    int m_width = 0, m_height = 0, m_bpp = 0;
};

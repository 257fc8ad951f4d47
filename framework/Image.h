// CImage: an image file loaded through GDI+ into a DIB section the object owns. GDI+ must be
// started by the caller.
#pragma once
#include <windows.h>

// Whether the file's header lets a decoder open it (MayDecodePicture, framework/ImageHeader.h):
// every picture file the program loads is judged by this first. A file that cannot be opened
// goes to the decoder, which cannot open it either.
bool MayDecodePictureFile(LPCWSTR path);

class CImage {
public:
    CImage() = default;
    ~CImage() { Destroy(); }
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    // Any format GDI+ reads. Images with alpha become 32 bits per pixel, premultiplied (what
    // AlphaBlend and the static control expect); others 24. Replaces a loaded image; E_FAIL
    // when the file cannot be read, and, undecoded, when MayDecodePictureFile refuses it.
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

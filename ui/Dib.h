// Uncompressed DIBs without a colour table, as the views keep their pictures.
#pragma once
#include <windows.h>

// Bytes of one DIB row: rows are padded to whole 32-bit words.
inline int DibStride(int width, int bitsPerPixel) { return (width * bitsPerPixel + 31) / 32 * 4; }

// The header of such a DIB; a positive height keeps the bottom row first.
inline BITMAPINFO DibInfo(int width, int height, int bitsPerPixel) {
    BITMAPINFO info{};
    BITMAPINFOHEADER& h = info.bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitsPerPixel);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(height < 0 ? -height : height) * static_cast<DWORD>(DibStride(width, bitsPerPixel));
    return info;
}

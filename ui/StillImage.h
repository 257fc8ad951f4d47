// Still-image files: the .bmp written from the live view's DIB section, and capture names.
#pragma once
#include <windows.h>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

struct BitmapInfoDeleter {
    void operator()(BITMAPINFO* p) const { std::free(p); }
};
using BitmapInfoPtr = std::unique_ptr<BITMAPINFO, BitmapInfoDeleter>;

// A zero-filled information block for the bitmap (header, room for its colour table), as the
// file gets it; null when the bitmap cannot be read.
BitmapInfoPtr CreateBitmapInfo(HBITMAP bitmap);

// Writes the bitmap's rows, bottom row first, through dc into a new file at path (replacing one).
// Returns 1 when written; 0 when the bitmap could not be read whole or the file not written, in
// which case no file is left behind.
int WriteBmpFile(const std::wstring& path, BITMAPINFO* info, HBITMAP bitmap, HDC dc);

// The prefix as it may stand in a file name: \ / : * ? " < > | and control characters become "_".
std::wstring FilePrefixForName(const std::wstring& prefix);

// "<timestamp>_<prefix>_<n>" with the prefix made safe, n counting up from firstIndex while
// taken(stem) holds.
std::wstring MakeCaptureStem(const std::wstring& timestamp, const std::wstring& prefix, int firstIndex,
                             const std::function<bool(const std::wstring& stem)>& taken);

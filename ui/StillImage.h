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

enum class NewFile { Created, Exists, Failed };
// Creates path, empty, only if nothing has that name yet: a file made so is this program's, and
// another copy of the program writing the same folder will not open it.
NewFile CreateNewFile(const std::wstring& path);

// The first stem of MakeCaptureStem's count whose files claim(stem) could create. A stem whose
// file another program created since taken() said it was free (Exists) is passed over like a
// taken one; "" when claim fails otherwise (nothing is left behind by claim then).
std::wstring ClaimCaptureStem(const std::wstring& timestamp, const std::wstring& prefix, int firstIndex,
                              const std::function<bool(const std::wstring& stem)>& taken,
                              const std::function<NewFile(const std::wstring& stem)>& claim);

// Still-image files: the .bmp written from the live view's DIB section, the files captures create
// under names of their own, and capture names.
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

enum class NewFile { Created, Exists, Failed };

// A file this program created under a name that nothing had yet: another copy of the program
// writing the same folder passes over the name. Held open without sharing until kept, so it is
// written through the handle that created it and nobody else opens it in between; one that is not
// kept is deleted through that handle, so its name is free only once this program is done with it,
// and is never deleted again. UI thread only, like the captures that use it.
class ClaimedFile {
public:
    ClaimedFile() = default;
    // Deletes a file still held open: it was not written whole. A released one stays.
    ~ClaimedFile() {
        if (IsOpen()) Delete();
    }
    ClaimedFile(const ClaimedFile&) = delete;
    ClaimedFile& operator=(const ClaimedFile&) = delete;

    // Creates path, empty, only if nothing has that name. A file held open before is deleted first;
    // a released one stays as it is.
    NewFile Create(const std::wstring& path);
    // Closes the handle and keeps the name: the file stays this program's, for a writer that
    // opens it by name (the encoders), and Delete then deletes it by name. False when the close
    // failed.
    bool Release();
    // The file stays as written: released, and no longer this object's. False when the close
    // failed: the file is then still this object's, released, for its owner to delete.
    bool Keep();
    // Deletes the file: marked through the handle while still held (gone at its close, so no other
    // program can have taken the name meanwhile), else by name after Release. Once: afterwards
    // this object holds nothing. True when nothing of it is left.
    bool Delete();

    const std::wstring& Path() const { return m_path; }
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    bool Write(const void* data, DWORD size);
    // Through to the disk: the file holds its bytes after a power cut.
    bool Flush();

private:
    std::wstring m_path;  // empty: nothing held
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// Writes the bitmap's rows, bottom row first, fetched through dc, into file (just created, open,
// empty). Returns 1 when written; 0 when the bitmap could not be read whole or the file not
// written. Neither keeps nor deletes the file: that is its owner's to decide.
int WriteBmpFile(ClaimedFile& file, BITMAPINFO* info, HBITMAP bitmap, HDC dc);
// The same into a new file at path, replacing one; 1 when written, else 0 and no file left. Not
// for captures: it would replace another program's file.
int WriteBmpFile(const std::wstring& path, BITMAPINFO* info, HBITMAP bitmap, HDC dc);

// The prefix as it may stand in a file name: \ / : * ? " < > | and control characters become "_".
std::wstring FilePrefixForName(const std::wstring& prefix);

// "<timestamp>_<prefix>_<n>" with the prefix made safe, n counting up from firstIndex while
// taken(stem) holds.
std::wstring MakeCaptureStem(const std::wstring& timestamp, const std::wstring& prefix, int firstIndex,
                             const std::function<bool(const std::wstring& stem)>& taken);

// The first stem of MakeCaptureStem's count whose files claim(stem) could create. A stem whose
// file another program created since taken() said it was free (Exists) is passed over like a
// taken one; "" when claim fails otherwise (nothing is left behind by claim then).
std::wstring ClaimCaptureStem(const std::wstring& timestamp, const std::wstring& prefix, int firstIndex,
                              const std::function<bool(const std::wstring& stem)>& taken,
                              const std::function<NewFile(const std::wstring& stem)>& claim);

#include "ui/StillImage.h"
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

// The depth the file is written in: the bitmap's, rounded up to one that BMP files know.
int FileDepth(int bits) {
    if (bits <= 1) return 1;
    if (bits <= 4) return 4;
    if (bits <= 8) return 8;
    if (bits <= 16) return 16;
    if (bits <= 24) return 24;
    return 32;
}

DWORD ColourTableEntries(int depth) { return depth < 24 ? DWORD{1} << depth : 0; }

uint64_t RowBytes(int width, int depth) { return (static_cast<uint64_t>(width) * depth + 31) / 32 * 4; }

bool WriteTo(HANDLE file, const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// Deleted at the close of the handle (opened with DELETE access): until then the name stays taken.
bool MarkForDeletion(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

struct Free {
    void operator()(void* p) const { std::free(p); }
};

// A .bmp file of a bitmap as written: the file header, then the information block (its header and
// colour table), then the pixel rows.
struct BmpBytes {
    BITMAPFILEHEADER fileHeader{};
    DWORD infoBytes = 0;
    DWORD imageBytes = 0;
    std::unique_ptr<void, Free> pixels;
};

// The bitmap's rows, bottom row first, through dc; false when they cannot be read whole or the
// file would not fit in 32-bit sizes.
bool FetchBmp(BITMAPINFO* info, HBITMAP bitmap, HDC dc, BmpBytes& bmp) {
    if (!info) return false;
    BITMAPINFOHEADER& header = info->bmiHeader;
    const LONG w = header.biWidth, h = header.biHeight;
    if (w <= 0 || h <= 0) return false;
    const int depth = FileDepth(header.biPlanes * header.biBitCount);
    const DWORD colours = ColourTableEntries(depth);
    const uint64_t imageBytes = static_cast<uint64_t>(h) * RowBytes(w, depth);
    const uint64_t bufferBytes = static_cast<uint64_t>(w) * h * 4;
    const uint64_t tableBytes = static_cast<uint64_t>(colours) * sizeof(RGBQUAD);
    const uint64_t offset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + tableBytes;
    if (offset + imageBytes > 0xFFFFFFFFu || bufferBytes > SIZE_MAX || imageBytes > bufferBytes) return false;

    bmp.pixels.reset(std::malloc(static_cast<size_t>(bufferBytes)));
    if (!bmp.pixels) return false;
    // A partly read bitmap would make a file that looks whole: every line or nothing.
    if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(h), bmp.pixels.get(), info, DIB_RGB_COLORS) != h) return false;
    // The fetch may rewrite these two; the file's offsets are computed from ours.
    header.biSizeImage = static_cast<DWORD>(imageBytes);
    header.biClrUsed = colours;

    bmp.fileHeader.bfType = 0x4D42;  // "BM"
    bmp.fileHeader.bfSize = static_cast<DWORD>(offset + imageBytes);
    bmp.fileHeader.bfOffBits = static_cast<DWORD>(offset);
    bmp.infoBytes = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + tableBytes);
    bmp.imageBytes = static_cast<DWORD>(imageBytes);
    return true;
}

template <class Write>
bool PutBmp(const BmpBytes& bmp, const BITMAPINFO* info, Write write) {
    return write(&bmp.fileHeader, DWORD{sizeof bmp.fileHeader}) && write(info, bmp.infoBytes) &&
           write(bmp.pixels.get(), bmp.imageBytes);
}

}  // namespace

BitmapInfoPtr CreateBitmapInfo(HBITMAP bitmap) {
    BITMAP bm{};
    if (!bitmap || GetObjectW(bitmap, sizeof bm, &bm) == 0) return nullptr;
    const int depth = FileDepth(bm.bmPlanes * bm.bmBitsPixel);
    const DWORD colours = ColourTableEntries(depth);
    BitmapInfoPtr info(
        static_cast<BITMAPINFO*>(std::calloc(1, sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD))));
    if (!info) return nullptr;
    BITMAPINFOHEADER& h = info->bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = bm.bmWidth;
    h.biHeight = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;  // positive: bottom row first
    h.biPlanes = bm.bmPlanes;
    h.biBitCount = bm.bmBitsPixel;
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(h.biHeight * RowBytes(bm.bmWidth, depth));
    h.biClrUsed = colours;
    h.biClrImportant = 0;
    return info;
}

int WriteBmpFile(ClaimedFile& file, BITMAPINFO* info, HBITMAP bitmap, HDC dc) {
    BmpBytes bmp;
    if (!file.IsOpen() || !FetchBmp(info, bitmap, dc, bmp)) return 0;
    return PutBmp(bmp, info, [&](const void* data, DWORD size) { return file.Write(data, size); }) ? 1 : 0;
}

int WriteBmpFile(const std::wstring& path, BITMAPINFO* info, HBITMAP bitmap, HDC dc) {
    BmpBytes bmp;
    if (!FetchBmp(info, bitmap, dc, bmp)) return 0;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    const bool written = PutBmp(bmp, info, [&](const void* data, DWORD size) { return WriteTo(file, data, size); });
    const bool marked = !written && MarkForDeletion(file);
    const bool closed = CloseHandle(file) != 0;
    if (written && closed) return 1;
    if (!marked) DeleteFileW(path.c_str());  // not known to be whole
    return 0;
}

std::wstring FilePrefixForName(const std::wstring& prefix) {
    std::wstring safe = prefix;
    for (wchar_t& c : safe) {
        if (c < 0x20 || c == 0x7F || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) c = L'_';
    }
    return safe;
}

std::wstring MakeCaptureStem(const std::wstring& timestamp, const std::wstring& prefix, int firstIndex,
                             const std::function<bool(const std::wstring& stem)>& taken) {
    return ClaimCaptureStem(timestamp, prefix, firstIndex, taken, nullptr);
}

NewFile ClaimedFile::Create(const std::wstring& path) {
    if (IsOpen()) Delete();
    m_path.clear();
    // DELETE access: a file that is not kept is deleted through this handle.
    m_handle = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (m_handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NewFile::Exists : NewFile::Failed;
    }
    m_path = path;
    return NewFile::Created;
}

bool ClaimedFile::Release() {
    if (!IsOpen()) return true;
    const bool closed = CloseHandle(m_handle) != 0;
    m_handle = INVALID_HANDLE_VALUE;
    return closed;
}

bool ClaimedFile::Keep() {
    if (!Release()) return false;
    m_path.clear();
    return true;
}

bool ClaimedFile::Delete() {
    if (m_path.empty()) return true;
    bool gone = false;
    if (IsOpen()) {
        const bool marked = MarkForDeletion(m_handle);
        gone = CloseHandle(m_handle) && marked;
        m_handle = INVALID_HANDLE_VALUE;
        // Closed unmarked: the name is still this program's file, deleted by name instead.
        if (!marked) gone = DeleteFileW(m_path.c_str()) != 0;
    } else {
        gone = DeleteFileW(m_path.c_str()) != 0;
    }
    m_path.clear();
    return gone;
}

bool ClaimedFile::Write(const void* data, DWORD size) { return IsOpen() && WriteTo(m_handle, data, size); }

bool ClaimedFile::Flush() { return IsOpen() && FlushFileBuffers(m_handle); }

std::wstring ClaimCaptureStem(const std::wstring& timestamp, const std::wstring& prefix, int firstIndex,
                              const std::function<bool(const std::wstring& stem)>& taken,
                              const std::function<NewFile(const std::wstring& stem)>& claim) {
    const std::wstring base = timestamp + L"_" + FilePrefixForName(prefix) + L"_";
    for (int n = firstIndex;; ++n) {
        std::wstring stem = base + std::to_wstring(n);
        if (n == INT_MAX) return !claim || claim(stem) == NewFile::Created ? stem : L"";
        if (taken && taken(stem)) continue;
        if (!claim) return stem;
        switch (claim(stem)) {
            case NewFile::Created: return stem;
            case NewFile::Exists: continue;
            case NewFile::Failed: return L"";
        }
    }
}

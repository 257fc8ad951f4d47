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

// Closes the file on every way out; deletes it unless the write got through.
class BmpFile {
public:
    explicit BmpFile(const std::wstring& path) : m_path(path) {
        m_handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~BmpFile() {
        if (m_handle == INVALID_HANDLE_VALUE) return;
        CloseHandle(m_handle);
        DeleteFileW(m_path.c_str());
    }
    BmpFile(const BmpFile&) = delete;
    BmpFile& operator=(const BmpFile&) = delete;

    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    bool Write(const void* data, DWORD size) {
        DWORD written = 0;
        return WriteFile(m_handle, data, size, &written, nullptr) && written == size;
    }
    // The file stays only when the close succeeds too.
    bool Keep() {
        const bool closed = CloseHandle(m_handle) != 0;
        m_handle = INVALID_HANDLE_VALUE;
        if (!closed) DeleteFileW(m_path.c_str());
        return closed;
    }

private:
    std::wstring m_path;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

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

int WriteBmpFile(const std::wstring& path, BITMAPINFO* info, HBITMAP bitmap, HDC dc) {
    if (!info) return 0;
    BITMAPINFOHEADER& header = info->bmiHeader;
    const LONG w = header.biWidth, h = header.biHeight;
    if (w <= 0 || h <= 0) return 0;
    const int depth = FileDepth(header.biPlanes * header.biBitCount);
    const DWORD colours = ColourTableEntries(depth);
    const uint64_t imageBytes = static_cast<uint64_t>(h) * RowBytes(w, depth);
    const uint64_t bufferBytes = static_cast<uint64_t>(w) * h * 4;
    const uint64_t tableBytes = static_cast<uint64_t>(colours) * sizeof(RGBQUAD);
    const uint64_t offset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + tableBytes;
    if (offset + imageBytes > 0xFFFFFFFFu || bufferBytes > SIZE_MAX || imageBytes > bufferBytes) return 0;

    struct Free {
        void operator()(void* p) const { std::free(p); }
    };
    std::unique_ptr<void, Free> pixels(std::malloc(static_cast<size_t>(bufferBytes)));
    if (!pixels) return 0;
    // A partly read bitmap would make a file that looks whole: every line or nothing.
    if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(h), pixels.get(), info, DIB_RGB_COLORS) != h) return 0;
    // The fetch may rewrite these two; the file's offsets are computed from ours.
    header.biSizeImage = static_cast<DWORD>(imageBytes);
    header.biClrUsed = colours;

    BITMAPFILEHEADER fileHeader{};
    fileHeader.bfType = 0x4D42;  // "BM"
    fileHeader.bfSize = static_cast<DWORD>(offset + imageBytes);
    fileHeader.bfOffBits = static_cast<DWORD>(offset);

    BmpFile file(path);
    if (!file.IsOpen()) return 0;
    if (!file.Write(&fileHeader, sizeof fileHeader) ||
        !file.Write(info, static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + tableBytes)) ||
        !file.Write(pixels.get(), static_cast<DWORD>(imageBytes)) || !file.Keep()) {
        return 0;
    }
    return 1;
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

NewFile CreateNewFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NewFile::Exists : NewFile::Failed;
    }
    CloseHandle(file);
    return NewFile::Created;
}

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

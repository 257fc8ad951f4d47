// 50 still captures of a 1280x720 24-bit frame held as the live view holds it (a bottom-up DIB
// section in a memory DC), each split into naming, fetching the bits and writing the file.
// Prints figures; asserts nothing.
#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include "ui/StillImage.h"

namespace {

double Milliseconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveFolderFiles(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

struct Figures {
    std::vector<double> ms;
    void Print(const char* what) {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        const double median = sorted[sorted.size() / 2];
        std::printf("%-34s median %7.3f ms   worst %7.3f ms\n", what, median, sorted.back());
    }
};

}  // namespace

int main() {
    constexpr int kWidth = 1280, kHeight = 720, kCaptures = 50;

    wchar_t tempPath[MAX_PATH];
    std::wstring base(tempPath, GetTempPathW(MAX_PATH, tempPath));
    const std::wstring images = base + L"lumetra_bench_stills_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring metadata = images + L"\\metadata";
    if (!CreateDirectoryW(images.c_str(), nullptr) || !CreateDirectoryW(metadata.c_str(), nullptr)) {
        std::printf("cannot make the folder %ls\n", images.c_str());
        return 1;
    }

    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = kWidth;
    bmi.bmiHeader.biHeight = kHeight;  // bottom-up
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    HDC dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib) {
        std::printf("cannot make the DIB section\n");
        return 1;
    }
    HGDIOBJ old = SelectObject(dc, dib);
    const int stride = (kWidth * 24 + 31) / 32 * 4;
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = static_cast<uint8_t*>(bits) + static_cast<size_t>(y) * stride;
        for (int x = 0; x < kWidth * 3; ++x) row[x] = static_cast<uint8_t>(x * 7 + y * 3);
    }
    GdiFlush();

    // As the dialog checks a name: the image or its details already on disk.
    auto taken = [&](const std::wstring& stem) {
        return Exists(images + L"\\" + stem + L".bmp") || Exists(metadata + L"\\" + stem + L".meta");
    };
    std::vector<uint8_t> fetchBuffer(static_cast<size_t>(kWidth) * kHeight * 4);
    Figures naming, fetch, write, total;
    int failures = 0;
    for (int i = 0; i < kCaptures; ++i) {
        // One timestamp for all: each capture has to count past the ones before it, the worst case.
        const double t0 = Milliseconds();
        const std::wstring stem = MakeCaptureStem(L"20210524140700", L"SiteA", 0, taken);
        const double t1 = Milliseconds();
        // The fetch alone, as WriteBmpFile makes it.
        BitmapInfoPtr probe = CreateBitmapInfo(dib);
        if (!probe || GetDIBits(dc, dib, 0, kHeight, fetchBuffer.data(), probe.get(), DIB_RGB_COLORS) != kHeight)
            ++failures;
        const double t2 = Milliseconds();
        // The capture's own call: fetch again, then the file.
        BitmapInfoPtr info = CreateBitmapInfo(dib);
        if (!info || WriteBmpFile(images + L"\\" + stem + L".bmp", info.get(), dib, dc) != 1) ++failures;
        const double t3 = Milliseconds();
        naming.ms.push_back(t1 - t0);
        fetch.ms.push_back(t2 - t1);
        write.ms.push_back(std::max(0.0, (t3 - t2) - (t2 - t1)));
        total.ms.push_back((t1 - t0) + (t3 - t2));
    }

    std::printf("still capture, %dx%d 24-bit, %d captures%s\n", kWidth, kHeight, kCaptures,
                failures ? " (SOME FAILED)" : "");
    naming.Print("naming (MakeCaptureStem)");
    fetch.Print("GetDIBits (CreateBitmapInfo+fetch)");
    write.Print("write (WriteBmpFile - fetch)");
    total.Print("total (naming + WriteBmpFile)");
    std::printf("goal: total <= 20 ms\n");

    SelectObject(dc, old);
    DeleteObject(dib);
    DeleteDC(dc);
    RemoveFolderFiles(metadata);
    RemoveDirectoryW(metadata.c_str());
    RemoveFolderFiles(images);
    RemoveDirectoryW(images.c_str());
    return failures ? 1 : 0;
}

// 50 still captures of a 1280x720 24-bit frame held as the live view holds it (a bottom-up DIB
// section in a memory DC), each split into naming, fetching the bits and writing the file.
// Prints figures; asserts nothing.
#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include "bench/support/BenchSupport.h"
#include "ui/StillImage.h"

namespace {

using bench::Milliseconds;

struct Figures {
    std::vector<double> ms;
    void Print(const char* what) {
        const bench::Spread spread = bench::Summarise(ms);
        std::printf("%-34s median %7.3f ms   worst %7.3f ms\n", what, spread.median, spread.max);
    }
};

}  // namespace

int main() {
    constexpr int kWidth = 1280, kHeight = 720, kCaptures = 50;

    const TempFolder scratch;
    const std::wstring& images = scratch.path();
    const std::wstring metadata = images + L"\\metadata";
    if (!scratch.ok() || !CreateDirectoryW(metadata.c_str(), nullptr)) {
        std::printf("cannot make the folder %ls\n", images.c_str());
        return 1;
    }

    HDC dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    HBITMAP dib = bench::CreateDib24(kWidth, kHeight, &bits);
    if (!dib) {
        std::printf("cannot make the DIB section\n");
        return 1;
    }
    HGDIOBJ old = SelectObject(dc, dib);
    const int stride = DibStride(kWidth, 24);
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
    return failures ? 1 : 0;
}

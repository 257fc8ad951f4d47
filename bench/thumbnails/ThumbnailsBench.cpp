// Thumbnail lists as the cloud dialogs build them, on folders of 50, 200 and 500 24-bit stills of
// 640x480: per image the plain image load (the peer, in the same run), one AddThumbnail, and the
// whole ListImageFolder into a list view (which makes the thumbnails on worker threads). Goals: 500
// listed within 2 s; AddThumbnail within 1.5x the plain load. Prints figures; asserts nothing.
#include "cloud/Thumbnails.h"
#include "bench/support/BenchSupport.h"
#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using bench::Median;
using bench::Milliseconds;

// A still as the capture writes it: 54-byte header, bottom-up BGR rows, a pattern that varies.
bool WriteStill(const std::wstring& path, int w, int h, int seed) {
    const int stride = DibStride(w, 24);
    const BITMAPINFOHEADER info = DibInfo(w, h, 24).bmiHeader;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(stride * h);
    std::vector<unsigned char> pixels(static_cast<size_t>(stride) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) pixels[static_cast<size_t>(y) * stride + x] = static_cast<unsigned char>(x * 3 + y + seed);
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    bool ok = WriteFile(f, &file, sizeof file, &n, nullptr) && WriteFile(f, &info, sizeof info, &n, nullptr) &&
              WriteFile(f, pixels.data(), static_cast<DWORD>(pixels.size()), &n, nullptr);
    CloseHandle(f);
    return ok;
}

// A list set up as the dialogs do; with a capacity, its image list holds that many without
// growing (as a listing sizes it), so single adds are timed without the list's growth.
struct ListView {
    explicit ListView(int capacity = 0) {
        HWND h = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_ICON | LVS_SINGLESEL, 0, 0, 600, 500, nullptr,
                                 nullptr, nullptr, nullptr);
        list.Attach(h);
        SetUpThumbnailList(list, images);
        if (capacity > 0) {
            images.Create(kThumbnailSize, kThumbnailSize, ILC_COLORDDB, capacity, 4);
            list.SetImageList(&images, LVSIL_NORMAL);
        }
    }
    ~ListView() { list.DestroyWindow(); }
    ThumbnailImageList images;
    CListCtrl list;
};

}  // namespace

int main() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);

    const TempFolder scratch;
    if (!scratch.ok()) {
        std::printf("cannot make the folder %ls\n", scratch.path().c_str());
        return 1;
    }
    std::printf("machine: %s\n", bench::MachineLine().c_str());
    std::printf("%6s %14s %14s %8s %14s %12s\n", "images", "load ms/img", "thumb ms/img", "ratio", "listing ms",
                "goal 500<=2s");
    for (int count : {50, 200, 500}) {
        const std::wstring folder = scratch.path() + L"\\" + std::to_wstring(count);
        CreateDirectoryW(folder.c_str(), nullptr);
        std::vector<std::wstring> paths;
        for (int i = 0; i < count; ++i) {
            paths.push_back(folder + L"\\still_" + std::to_wstring(i) + L".bmp");
            if (!WriteStill(paths.back(), 640, 480, i)) {
                std::printf("cannot write %ls\n", paths.back().c_str());
                return 1;
            }
        }
        // Interleaved, so that the file cache and the machine's state treat both alike.
        std::vector<double> load, thumb;
        {
            ListView view(count + 1);
            for (const std::wstring& path : paths) {
                double t0 = Milliseconds();
                {
                    CImage image;
                    image.Load(path.c_str());
                }
                double t1 = Milliseconds();
                AddThumbnail(view.images, path);
                double t2 = Milliseconds();
                load.push_back(t1 - t0);
                thumb.push_back(t2 - t1);
            }
        }
        // Three listings, as three openings of a dialog would make them; the median counts.
        std::vector<double> listings;
        size_t listed = 0;
        for (int run = 0; run < 3; ++run) {
            ListView view;
            const double t0 = Milliseconds();
            listed = ListImageFolder(view.list, view.images, folder + L"\\*.bmp", true).size();
            listings.push_back(Milliseconds() - t0);
        }
        const double listing = Median(listings);
        const double l = Median(load), t = Median(thumb);
        std::printf("%6d %14.2f %14.2f %8.2f %14.0f %12s%s\n", count, l, t, t / l, listing,
                    count == 500 ? (listing <= 2000 ? "met" : "missed") : "",
                    listed == static_cast<size_t>(count) ? "" : "  (listed fewer!)");
        RemoveTree(folder);
    }
    Gdiplus::GdiplusShutdown(token);
    return 0;
}

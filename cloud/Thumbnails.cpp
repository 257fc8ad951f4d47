#include "cloud/Thumbnails.h"
#include <gdiplus.h>
#include <objbase.h>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

constexpr UINT kImageListFlags = ILC_COLORDDB;  // no ILC_MASK

struct BitmapOwner {
    HBITMAP handle = nullptr;
    BitmapOwner() = default;
    explicit BitmapOwner(HBITMAP h) : handle(h) {}
    BitmapOwner(const BitmapOwner&) = delete;
    BitmapOwner& operator=(const BitmapOwner&) = delete;
    ~BitmapOwner() {
        if (handle) ::DeleteObject(handle);
    }
};

// The file scaled into the square, as a GDI bitmap over white; false when any step fails.
bool MakeThumbnail(const std::wstring& path, BitmapOwner& out) {
    CImage image;
    if (FAILED(image.Load(path.c_str())) || image.IsNull()) return false;
    std::unique_ptr<Gdiplus::Bitmap> source(Gdiplus::Bitmap::FromHBITMAP(image, nullptr));
    if (!source || source->GetLastStatus() != Gdiplus::Ok) return false;
    std::unique_ptr<Gdiplus::Image> thumbnail(source->GetThumbnailImage(kThumbnailSize, kThumbnailSize, nullptr, nullptr));
    // GetHBITMAP is a Bitmap's; the thumbnail of a bitmap is one, but it is checked, not assumed.
    if (!thumbnail || thumbnail->GetLastStatus() != Gdiplus::Ok || thumbnail->GetType() != Gdiplus::ImageTypeBitmap ||
        thumbnail->GetWidth() != kThumbnailSize || thumbnail->GetHeight() != kThumbnailSize)
        return false;
    auto* bitmap = static_cast<Gdiplus::Bitmap*>(thumbnail.get());
    return bitmap->GetHBITMAP(Gdiplus::Color(0xFFFFFFFF), &out.handle) == Gdiplus::Ok && out.handle;
}

// White with a one-pixel grey frame, in the screen's format (what an ILC_COLORDDB list keeps).
bool MakePlaceholder(BitmapOwner& out) {
    HDC screen = ::GetDC(nullptr);
    if (!screen) return false;
    out.handle = ::CreateCompatibleBitmap(screen, kThumbnailSize, kThumbnailSize);
    HDC dc = ::CreateCompatibleDC(screen);
    ::ReleaseDC(nullptr, screen);
    bool ok = out.handle && dc;
    if (ok) {
        HGDIOBJ old = ::SelectObject(dc, out.handle);
        RECT all = {0, 0, kThumbnailSize, kThumbnailSize};
        HBRUSH grey = ::CreateSolidBrush(RGB(160, 160, 160));
        ok = old && grey && ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH))) &&
             ::FrameRect(dc, &all, grey);
        if (grey) ::DeleteObject(grey);
        if (old) ::SelectObject(dc, old);
    }
    if (dc) ::DeleteDC(dc);
    return ok;
}

// An image list grows by copying all it holds into a larger bitmap; four at a time, a listing of
// hundreds spends most of its time there. A listing that starts on the empty list made at set-up
// replaces it with one sized for its files and the placeholder (still growing by 4 past that).
void ReserveThumbnails(CListCtrl& list, ThumbnailImageList& images, size_t count) {
    if (count == 0 || !images.GetSafeHandle() || images.GetImageCount() != 0) return;
    HIMAGELIST sized = ::ImageList_Create(kThumbnailSize, kThumbnailSize, kImageListFlags,
                                          static_cast<int>(std::min<size_t>(count + 1, 100000)), 4);
    if (!sized) return;  // the small one serves
    HIMAGELIST old = images.Detach();
    images.Attach(sized);
    images.placeholder = -1;
    list.SetImageList(&images, LVSIL_NORMAL);
    ::ImageList_Destroy(old);
}

// Thumbnails of a list of files made on worker threads, taken on the UI thread in list order:
// loading and scaling dominate a listing and are independent per file; the image list and the
// control stay on the UI thread. The taker works too while the one it needs is not ready, so the
// list completes even if no worker could be started. Each worker has its own COM apartment (the
// image decoders may need one) and touches only its own GDI+ and GDI objects.
class ThumbnailMaker {
public:
    explicit ThumbnailMaker(std::vector<std::wstring> paths)
        : m_paths(std::move(paths)), m_bitmaps(m_paths.size()), m_ready(m_paths.size(), false) {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const size_t workers = std::min<size_t>({cores - 1, 7, m_paths.empty() ? 0 : m_paths.size() - 1});
        for (size_t i = 0; i < workers; ++i) {
            try {
                m_workers.emplace_back([this] {
                    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                    while (MakeNext()) {
                    }
                    if (SUCCEEDED(com)) ::CoUninitialize();
                });
            } catch (const std::system_error&) {
                break;  // fewer workers; the taker makes the rest
            }
        }
    }
    ~ThumbnailMaker() {
        m_next = m_paths.size();  // nothing new is started
        for (std::thread& worker : m_workers) worker.join();
        for (HBITMAP bitmap : m_bitmaps)
            if (bitmap) ::DeleteObject(bitmap);
    }
    ThumbnailMaker(const ThumbnailMaker&) = delete;
    ThumbnailMaker& operator=(const ThumbnailMaker&) = delete;

    // The thumbnail of file i (null when it could not be made); the caller owns it.
    HBITMAP Take(size_t i) {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                if (m_ready[i]) return std::exchange(m_bitmaps[i], nullptr);
            }
            if (!MakeNext()) {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_done.wait(lock, [&] { return m_ready[i]; });
                return std::exchange(m_bitmaps[i], nullptr);
            }
        }
    }

private:
    bool MakeNext() {
        const size_t i = m_next++;
        if (i >= m_paths.size()) return false;
        BitmapOwner bitmap;
        const bool made = MakeThumbnail(m_paths[i], bitmap);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bitmaps[i] = made ? std::exchange(bitmap.handle, nullptr) : nullptr;
        m_ready[i] = true;
        m_done.notify_all();
        return true;
    }

    const std::vector<std::wstring> m_paths;
    std::vector<HBITMAP> m_bitmaps;  // guarded by m_mutex
    std::vector<bool> m_ready;       // guarded by m_mutex
    std::atomic<size_t> m_next{0};
    std::mutex m_mutex;
    std::condition_variable m_done;
    std::vector<std::thread> m_workers;
};

// A made thumbnail into the list, else the placeholder.
int AddMade(ThumbnailImageList& images, HBITMAP made) {
    BitmapOwner bitmap(made);
    // No mask: the list has none, and a masked add would blacken every white pixel.
    if (bitmap.handle) {
        const int index = images.Add(bitmap.handle);
        if (index >= 0) return index;
    }
    return PlaceholderThumbnail(images);
}

}  // namespace

void SetUpThumbnailList(CListCtrl& list, ThumbnailImageList& images) {
    images.Create(kThumbnailSize, kThumbnailSize, kImageListFlags, 4, 4);
    images.placeholder = -1;
    // The control would destroy the list with itself; the dialog's object owns it and deletes it.
    list.ModifyStyle(0, LVS_SHAREIMAGELISTS);
    list.SetImageList(&images, LVSIL_NORMAL);
}

int PlaceholderThumbnail(ThumbnailImageList& images) {
    if (images.placeholder >= 0) return images.placeholder;
    BitmapOwner bitmap;
    if (!MakePlaceholder(bitmap)) return -1;
    images.placeholder = images.Add(bitmap.handle);
    return images.placeholder;
}

int AddThumbnail(ThumbnailImageList& images, const std::wstring& path) {
    BitmapOwner bitmap;
    return AddMade(images, MakeThumbnail(path, bitmap) ? std::exchange(bitmap.handle, nullptr) : nullptr);
}

std::vector<UploadItem> ListImageFolder(CListCtrl& list, ThumbnailImageList& images, const std::wstring& pattern,
                                        bool skipReference) {
    std::vector<std::wstring> paths, names;
    CFileFind finder;
    BOOL more = finder.FindFile(pattern.c_str());
    while (more) {
        more = finder.FindNextFile();
        if (finder.IsDots() || finder.IsDirectory()) continue;
        std::wstring path = finder.GetFilePath().str();
        if (skipReference && path.find(L"ReferenceImages") != std::wstring::npos) continue;
        paths.push_back(std::move(path));
        names.push_back(finder.GetFileName().str());
    }
    finder.Close();

    std::vector<UploadItem> items;
    ReserveThumbnails(list, images, paths.size());
    ThumbnailMaker maker(paths);
    int count = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        const int image = AddMade(images, maker.Take(i));
        if (list.InsertItem(LVIF_TEXT | LVIF_IMAGE, count, names[i].c_str(), 0, 0, image, 0) < 0) continue;
        items.push_back({count, std::move(paths[i]), std::move(names[i])});
        ++count;
    }
    return items;
}

void ListItems(CListCtrl& list, ThumbnailImageList& images, const std::vector<UploadItem>& items) {
    std::vector<std::wstring> paths;
    for (const UploadItem& item : items) paths.push_back(item.path);
    ReserveThumbnails(list, images, paths.size());
    ThumbnailMaker maker(std::move(paths));
    for (size_t i = 0; i < items.size(); ++i) {
        const int image = AddMade(images, maker.Take(i));
        list.InsertItem(LVIF_TEXT | LVIF_IMAGE, 0, items[i].fileName.c_str(), 0, 0, image, 0);
    }
}

int LastSelectedRow(const CListCtrl& list) {
    int row = 0;
    for (int i = list.GetNextItem(-1, LVNI_SELECTED); i >= 0; i = list.GetNextItem(i, LVNI_SELECTED)) row = i;
    return row;
}

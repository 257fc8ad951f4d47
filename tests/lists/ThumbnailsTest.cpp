// Thumbnails as the image list keeps them, the placeholder of files that cannot be shown, and
// which files a folder listing takes.
#include "cloud/Thumbnails.h"
#include "tests/lists/ListsTestSupport.h"
#include <algorithm>
#include <cstdlib>
#include <set>

namespace {

// The image as ImageList_Draw puts it on black, 32-bit top-down.
class Pixels {
public:
    Pixels(HIMAGELIST list, int index) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kThumbnailSize;
        info.bmiHeader.biHeight = -kThumbnailSize;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        m_dc = CreateCompatibleDC(nullptr);
        m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_bits = static_cast<const DWORD*>(bits);
        HGDIOBJ old = SelectObject(m_dc, m_bitmap);
        RECT all{0, 0, kThumbnailSize, kThumbnailSize};
        FillRect(m_dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        m_drawn = ImageList_Draw(list, index, m_dc, 0, 0, ILD_NORMAL);
        GdiFlush();
        SelectObject(m_dc, old);
    }
    ~Pixels() {
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    bool drawn() const { return m_drawn; }
    COLORREF at(int x, int y) const {
        const DWORD p = m_bits[y * kThumbnailSize + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }

private:
    HDC m_dc;
    HBITMAP m_bitmap;
    const DWORD* m_bits = nullptr;
    bool m_drawn = false;
};

bool Near(COLORREF a, COLORREF b) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= 2 && std::abs(GetGValue(a) - GetGValue(b)) <= 2 &&
           std::abs(GetBValue(a) - GetBValue(b)) <= 2;
}

// Every pixel of the rectangle near the colour; the first one that is not, as a message.
::testing::AssertionResult Filled(const Pixels& p, RECT r, COLORREF colour) {
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (!Near(p.at(x, y), colour))
                return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is " << std::hex << p.at(x, y);
    return ::testing::AssertionSuccess();
}

constexpr COLORREF kWhite = RGB(255, 255, 255), kRed = RGB(255, 0, 0);

class Thumbnails : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.ok());
        NewList();
    }
    void TearDown() override { DropList(); }
    // A fresh list view and image list, set up as the dialogs do.
    void NewList() {
        DropList();
        images = std::make_unique<ThumbnailImageList>();
        list = std::make_unique<CListCtrl>();
        HWND h = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_ICON | LVS_SINGLESEL, 0, 0, 400, 300, nullptr,
                                 nullptr, nullptr, nullptr);
        ASSERT_TRUE(h);
        list->Attach(h);
        SetUpThumbnailList(*list, *images);
        ASSERT_TRUE(images->GetSafeHandle());
    }
    void DropList() {
        if (list && list->m_hWnd) list->DestroyWindow();
        list.reset();
        images.reset();
    }
    std::wstring File(const std::wstring& name) const { return temp.path() + L"\\" + name; }

    TempFolder temp;
    std::unique_ptr<ThumbnailImageList> images;
    std::unique_ptr<CListCtrl> list;
};

TEST_F(Thumbnails, AWideImageKeepsBothColoursSqueezedIntoTheSquare) {
    const std::wstring path = File(L"wide.bmp");
    ASSERT_TRUE(WriteBytes(path, BmpBytes(240, 60, [](int x, int) { return x < 120 ? kWhite : kRed; })));
    const int index = AddThumbnail(*images, path);
    ASSERT_EQ(index, 0);
    EXPECT_EQ(images->GetImageCount(), 1);
    EXPECT_EQ(images->placeholder, -1);
    Pixels p(*images, index);
    ASSERT_TRUE(p.drawn());
    // White stays white (a masked add would blacken it); the halves fill the square's halves.
    EXPECT_TRUE(Filled(p, {4, 4, 56, 116}, kWhite));
    EXPECT_TRUE(Filled(p, {64, 4, 116, 116}, kRed));
}

TEST_F(Thumbnails, FilesThatCannotBeShownKeepTheirRowsAndShareOnePlaceholderPerList) {
    ASSERT_TRUE(WriteSolidBmp(File(L"good.bmp"), kRed));
    // Other pictures named .bmp, as an operator may leave them: of a modest size they show, a
    // JPEG with stray bytes before its tables included.
    constexpr COLORREF kBlue = RGB(0, 96, 255);
    const struct {
        const wchar_t* name;
        std::string bytes;
        COLORREF colour;
    } shown[] = {
        {L"grey.bmp", GreyPngBytes(300, 200, 0x80), RGB(0x80, 0x80, 0x80)},
        {L"frame.bmp", FlatGifBytes(240, 160, 240, 160, kBlue), kBlue},
        {L"stray.bmp", FlatJpegBytes(240, 160, "\r\n"), RGB(0x80, 0x80, 0x80)},
    };
    for (const auto& s : shown) ASSERT_TRUE(WriteBytes(File(s.name), s.bytes));
    const struct {
        const wchar_t* name;
        std::string bytes;
    } unshown[] = {
        {L"broken.bmp", "BM this is no bitmap at all"},
        {L"empty.bmp", ""},
        // Valid pictures above the bound, never decoded: far above it, and just above it
        // (8000 x 4001), which the decoder would take.
        {L"huge.bmp", HugePngBytes()},
        {L"above.bmp", GreyPngBytes(8000, 4001, 0x40)},
        // 12000 x 12000 where a plain reading of the header finds no such size: a GIF's first
        // frame on a 1 x 1 screen, a JPEG whose tables stand after two stray bytes.
        {L"hugeframe.bmp", FlatGifBytes(1, 1, 12000, 12000, kBlue)},
        {L"hugestray.bmp", FlatJpegBytes(12000, 12000, "\r\n")},
    };
    for (const auto& u : unshown) ASSERT_TRUE(WriteBytes(File(u.name), u.bytes));
    const SIZE_T peak = PeakWorkingSet();
    const std::vector<UploadItem> items = ListImageFolder(*list, *images, temp.path() + L"\\*.bmp", true);
    EXPECT_LT(PeakWorkingSet() - peak, kNoDecodingGrowth) << "a picture above the bound was decoded";
    ASSERT_EQ(items.size(), 10u);
    const std::vector<Row> rows = Rows(*list);
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(images->GetImageCount(), 5);
    EXPECT_GE(images->placeholder, 0);
    for (const auto& u : unshown) {
        const int row = RowNamed(*list, u.name);
        ASSERT_GE(row, 0);
        EXPECT_EQ(items[row].fileName, u.name);
        EXPECT_EQ(items[row].path, File(u.name));
        EXPECT_EQ(rows[row].image, images->placeholder) << std::string(u.name, u.name + wcslen(u.name));
    }
    const int good = RowNamed(*list, L"good.bmp");
    ASSERT_GE(good, 0);
    EXPECT_NE(rows[good].image, images->placeholder);
    for (const auto& s : shown) {
        const int row = RowNamed(*list, s.name);
        ASSERT_GE(row, 0);
        EXPECT_NE(rows[row].image, images->placeholder);
        EXPECT_TRUE(Filled(Pixels(*images, rows[row].image), {4, 4, 116, 116}, s.colour))
            << std::string(s.name, s.name + wcslen(s.name));
    }

    Pixels p(*images, images->placeholder);
    ASSERT_TRUE(p.drawn());
    EXPECT_TRUE(Filled(p, {1, 1, 119, 119}, kWhite));
    for (POINT frame : {POINT{0, 0}, POINT{60, 0}, POINT{0, 60}, POINT{119, 119}, POINT{119, 60}, POINT{60, 119}}) {
        const COLORREF c = p.at(frame.x, frame.y);
        EXPECT_TRUE(GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c) && GetRValue(c) > 0 &&
                    GetRValue(c) < 255)
            << frame.x << "," << frame.y << " " << std::hex << c;
    }

    // A missing file too; and a new list makes a placeholder of its own.
    EXPECT_EQ(AddThumbnail(*images, File(L"missing.bmp")), images->placeholder);
    EXPECT_EQ(images->GetImageCount(), 5);
    // The window goes before the dialog object: the image list is the object's and stays whole.
    list->DestroyWindow();
    EXPECT_EQ(images->GetImageCount(), 5);
    NewList();
    EXPECT_EQ(AddThumbnail(*images, File(L"broken.bmp")), 0);
    EXPECT_EQ(images->placeholder, 0);
    EXPECT_EQ(images->GetImageCount(), 1);
}

TEST_F(Thumbnails, ListingTakesFilesOfTheFolderOnlyAndSkipsReferencePathsWhenAsked) {
    const std::wstring f = temp.path();
    ASSERT_TRUE(WriteSolidBmp(File(L"a.bmp"), kRed));
    ASSERT_TRUE(WriteSolidBmp(File(L"xReferenceImages.bmp"), kRed));
    ASSERT_TRUE(CreateDirectoryW(File(L"d.bmp").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(File(L"notes.txt"), "not an image"));
    ASSERT_TRUE(CreateDirectoryW(File(L"ReferenceImages").c_str(), nullptr));
    ASSERT_TRUE(WriteSolidBmp(File(L"ReferenceImages\\c.bmp"), kRed));
    ASSERT_TRUE(CreateDirectoryW(File(L"oldreferenceimages").c_str(), nullptr));
    ASSERT_TRUE(WriteSolidBmp(File(L"oldreferenceimages\\e.bmp"), kRed));

    struct Case {
        std::wstring folder;
        bool skip;
        std::set<std::wstring> names;
    };
    const Case cases[] = {
        {f, true, {L"a.bmp"}},
        {f, false, {L"a.bmp", L"xReferenceImages.bmp"}},
        {f + L"\\ReferenceImages", false, {L"c.bmp"}},
        {f + L"\\ReferenceImages", true, {}},             // the folder part counts too
        {f + L"\\oldreferenceimages", true, {L"e.bmp"}},  // the test is case-sensitive
        {f + L"\\missing", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::string(c.folder.begin(), c.folder.end()) << " skip " << c.skip);
        NewList();
        const std::vector<UploadItem> items = ListImageFolder(*list, *images, c.folder + L"\\*.bmp", c.skip);
        const std::vector<Row> rows = Rows(*list);
        ASSERT_EQ(rows.size(), items.size());
        std::set<std::wstring> names;
        for (size_t r = 0; r < items.size(); ++r) {
            EXPECT_EQ(items[r].index, static_cast<int>(r));
            EXPECT_EQ(rows[r].text, items[r].fileName);
            EXPECT_EQ(items[r].path, c.folder + L"\\" + items[r].fileName);
            EXPECT_GE(rows[r].image, 0);
            names.insert(items[r].fileName);
        }
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(images->placeholder, -1);
    }
}

TEST_F(Thumbnails, AGivenVectorIsListedInReverse) {
    std::vector<UploadItem> items;
    for (const wchar_t* name : {L"first.bmp", L"second.bmp", L"third.bmp"}) {
        ASSERT_TRUE(WriteSolidBmp(File(name), kRed));
        items.push_back({static_cast<int>(items.size()) + 4, File(name), name});
    }
    ListItems(*list, *images, items);
    const std::vector<Row> rows = Rows(*list);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, L"third.bmp");
    EXPECT_EQ(rows[1].text, L"second.bmp");
    EXPECT_EQ(rows[2].text, L"first.bmp");
    EXPECT_EQ(images->GetImageCount(), 3);
}

}  // namespace

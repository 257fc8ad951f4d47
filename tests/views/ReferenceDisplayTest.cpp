// The reference view painting for real in a shown dialog: the image stretched over the control,
// black when cleared, the dark frame always, and no bitmaps left behind.
#include <gtest/gtest.h>
#include "ui/ReferenceDisplay.h"
#include "tests/views/Pixels.h"
#include "tests/views/ViewsResource.h"
#include <cstdlib>

namespace {

constexpr int kWidth = 100, kHeight = 60;
constexpr COLORREF kFrame = RGB(15, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255), kYellow = RGB(255, 255, 0);

class ReferenceDlg : public CDialog {
public:
    ReferenceDlg() : CDialog(IDD_VIEWS) {}
    CReferenceDisplay display;
    void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_VIEW_REFERENCE, display); }
};

class ReferenceDisplayTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dlg.Create(IDD_VIEWS));
        dlg.display.MoveWindow(10, 10, kWidth, kHeight, FALSE);
        showOnTop(dlg.m_hWnd);
    }
    void TearDown() override { dlg.DestroyWindow(); }

    // Paints the control without erasing and reads it back.
    void paint() {
        repaint(dlg.display.m_hWnd);
        ASSERT_TRUE(screen.grab(dlg.display.m_hWnd));
    }
    void expectFrame() {
        int wrong = 0;
        for (int x = 0; x < kWidth; ++x) wrong += (screen.at(x, 0) != kFrame) + (screen.at(x, kHeight - 1) != kFrame);
        for (int y = 0; y < kHeight; ++y) wrong += (screen.at(0, y) != kFrame) + (screen.at(kWidth - 1, y) != kFrame);
        EXPECT_EQ(wrong, 0) << "frame pixels that are not RGB(15, 0, 0)";
    }
    // Every pixel inside the frame.
    void expectInside(COLORREF c) {
        int wrong = 0;
        for (int y = 1; y < kHeight - 1; ++y)
            for (int x = 1; x < kWidth - 1; ++x) wrong += screen.at(x, y) != c;
        EXPECT_EQ(wrong, 0) << "pixels inside the frame that are not " << std::hex << c;
    }

    ReferenceDlg dlg;
    Canvas screen{kWidth, kHeight};
};

// An 8 x 8 image: red, green / blue, yellow quadrants.
HBITMAP quadrants() {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 8;
    info.bmiHeader.biHeight = -8;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* p = nullptr;
    HBITMAP bmp = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
    auto* bits = static_cast<uint32_t*>(p);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            bits[y * 8 + x] = y < 4 ? (x < 4 ? 0xFF0000 : 0x00FF00) : (x < 4 ? 0x0000FF : 0xFFFF00);
    return bmp;
}

bool similar(COLORREF a, COLORREF b) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= 2 && std::abs(GetGValue(a) - GetGValue(b)) <= 2 &&
           std::abs(GetBValue(a) - GetBValue(b)) <= 2;
}

TEST_F(ReferenceDisplayTest, TheImageIsStretchedOverTheWholeControlInsideItsFrame) {
    HBITMAP source = quadrants();
    dlg.display.SetImage(source, 8, 8);
    ::DeleteObject(source);  // the control has its own copy
    EXPECT_NE(dlg.display.bitmap, nullptr);
    EXPECT_EQ(dlg.display.width, 8);
    EXPECT_EQ(dlg.display.height, 8);
    paint();
    expectFrame();
    // A square image over a 100 x 60 control: each quadrant fills a quarter, right up to the frame.
    struct Case { int x, y; COLORREF want; } cases[] = {
        {25, 15, kRed}, {75, 15, kGreen}, {25, 45, kBlue}, {75, 45, kYellow},
        {1, 1, kRed}, {kWidth - 2, 1, kGreen}, {1, kHeight - 2, kBlue}, {kWidth - 2, kHeight - 2, kYellow},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(similar(screen.at(c.x, c.y), c.want))
            << c.x << "," << c.y << ": " << std::hex << screen.at(c.x, c.y) << ", want " << c.want;
}

TEST_F(ReferenceDisplayTest, ClearedItShowsBlackAtTheGivenSizeAndKeepsThatBitmap) {
    HBITMAP source = quadrants();
    dlg.display.SetImage(source, 8, 8);
    ::DeleteObject(source);
    paint();
    dlg.display.SetImage(nullptr, 8, 6);
    EXPECT_EQ(dlg.display.bitmap, nullptr);
    paint();
    expectFrame();
    expectInside(RGB(0, 0, 0));
    HBITMAP black = dlg.display.bitmap;
    BITMAP bm{};
    ASSERT_EQ(::GetObjectW(black, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 8);
    EXPECT_EQ(bm.bmHeight, 6);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    paint();
    EXPECT_EQ(dlg.display.bitmap, black);
}

// Without a size (a fresh control, or a reference that could not be loaded) there is no bitmap
// to make, yet the paint covers everything that was on the control before with black.
TEST_F(ReferenceDisplayTest, WithoutASizeTheWholeControlIsBlackInsideItsFrameUntilThereIsOne) {
    HBITMAP source = quadrants();
    struct Case {
        const char* what;
        HBITMAP before;  // shown first, then replaced by no bitmap at 0 x 0
    } cases[] = {{"fresh", nullptr}, {"after an image", source}};  // in this order
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.before) dlg.display.SetImage(c.before, 8, 8);
        paint();
        // Something else on the control beforehand, to see that the inside is painted over.
        HDC dc = ::GetDC(dlg.display.m_hWnd);
        HBRUSH magenta = ::CreateSolidBrush(RGB(255, 0, 255));
        RECT half{0, 0, kWidth / 2, kHeight};
        ::FillRect(dc, &half, magenta);
        ::DeleteObject(magenta);
        ::ReleaseDC(dlg.display.m_hWnd, dc);
        ::ValidateRect(dlg.display.m_hWnd, nullptr);

        dlg.display.SetImage(nullptr, 0, 0);
        paint();
        expectFrame();
        expectInside(RGB(0, 0, 0));
        EXPECT_EQ(dlg.display.bitmap, nullptr);  // nothing to make at 0 x 0; the next paint tries again
        dlg.display.SetImage(nullptr, 8, 6);
        paint();
        EXPECT_NE(dlg.display.bitmap, nullptr);
        expectInside(RGB(0, 0, 0));
    }
    ::DeleteObject(source);
}

TEST(ReferenceDisplay, EachImageReplacesAndReleasesTheLastCopy) {
    HBITMAP source = quadrants();
    const DWORD before = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    HBITMAP last = nullptr;
    {
        CReferenceDisplay display;
        for (int i = 0; i < 200; ++i) {
            HBITMAP previous = display.bitmap;
            display.SetImage(i % 10 == 9 ? nullptr : source, 8, 8);
            if (previous) {
                EXPECT_EQ(::GetObjectType(previous), 0u) << "copy " << i - 1 << " still exists";
            }
            EXPECT_NE(display.bitmap, source);
        }
        display.SetImage(source, 8, 8);
        last = display.bitmap;
        // Wine keeps no count (always 0); there the handle checks stand alone.
        if (before != 0) {
            EXPECT_EQ(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), before + 1);
        }
    }
    EXPECT_EQ(::GetObjectType(last), 0u);  // gone with the control
    if (before != 0) {
        EXPECT_EQ(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), before);
    }
    ::DeleteObject(source);
}

}  // namespace

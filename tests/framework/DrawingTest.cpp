// Drawing support of the class library: owner drawing reflected to controls, fonts and device
// contexts without owning them, images through GDI+.
#include <gtest/gtest.h>
#include "framework/Framework.h"
#include "tests/support/TestSupport.h"
#include <gdiplus.h>
#include <cstdint>
#include <cstdlib>
#include <vector>

#define IDD_OWNERDRAW 202

namespace {

class GdiplusEnvironment : public testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&m_token, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(m_token); }

private:
    ULONG_PTR m_token = 0;
};
[[maybe_unused]] testing::Environment* const g_gdiplus = testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

// --- owner drawing ------------------------------------------------------------------------------

class LoggingButton : public CButton {
public:
    std::vector<UINT> actions;  // itemAction of each DrawItem
    void DrawItem(LPDRAWITEMSTRUCT item) override { actions.push_back(item->itemAction); }
};

class OwnerDrawDlg : public CDialog {
public:
    OwnerDrawDlg() : CDialog(IDD_OWNERDRAW) {}
    LoggingButton bound;
    void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, 1101, bound); }

    LRESULT sendDrawItem(UINT type, HWND item, UINT action = ODA_SELECT) {
        DRAWITEMSTRUCT dis{};
        dis.CtlType = type;
        dis.CtlID = static_cast<UINT>(::GetDlgCtrlID(item));
        dis.itemAction = action;
        dis.hwndItem = item;
        dis.hDC = ::GetDC(item);
        LRESULT r = SendMessage(WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
        ::ReleaseDC(item, dis.hDC);
        return r;
    }
};

// A parent that draws its children itself keeps the message.
class DrawingParentDlg : public OwnerDrawDlg {
public:
    int parentCalls = 0;
    LRESULT OnDrawItem(WPARAM, LPARAM) { ++parentCalls; return 5; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DrawingParentDlg, OwnerDrawDlg)
    ON_MESSAGE(WM_DRAWITEM, &DrawingParentDlg::OnDrawItem)
END_MESSAGE_MAP()

TEST(OwnerDraw, TheParentReflectsDrawingToTheBoundButtonOnly) {
    OwnerDrawDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_OWNERDRAW));
    HWND unbound = ::GetDlgItem(dlg.m_hWnd, 1102);
    EXPECT_EQ(dlg.sendDrawItem(ODT_BUTTON, dlg.bound.m_hWnd), TRUE);
    EXPECT_EQ(dlg.bound.actions, std::vector<UINT>{ODA_SELECT});
    // Nobody's button, and a menu item whose hwndItem only looks like a window: default processing.
    EXPECT_EQ(dlg.sendDrawItem(ODT_BUTTON, unbound), FALSE);
    EXPECT_EQ(dlg.sendDrawItem(ODT_MENU, dlg.bound.m_hWnd), FALSE);
    EXPECT_EQ(dlg.bound.actions.size(), 1u);
    // The button control's own paint gets there the same way.
    dlg.bound.actions.clear();
    dlg.ShowWindow(SW_SHOWNOACTIVATE);
    dlg.bound.Invalidate(FALSE);
    dlg.bound.UpdateWindow();
    EXPECT_EQ(dlg.bound.actions, std::vector<UINT>{ODA_DRAWENTIRE});
    dlg.DestroyWindow();

    DrawingParentDlg parent;
    ASSERT_TRUE(parent.Create(IDD_OWNERDRAW));
    EXPECT_EQ(parent.sendDrawItem(ODT_BUTTON, parent.bound.m_hWnd), 5);
    EXPECT_EQ(parent.parentCalls, 1);
    EXPECT_TRUE(parent.bound.actions.empty());
    parent.DestroyWindow();
}

TEST(OwnerDraw, GetFontWrapsTheWindowsFontWithoutOwningIt) {
    OwnerDrawDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_OWNERDRAW));
    auto dialogFont = reinterpret_cast<HFONT>(dlg.bound.SendMessage(WM_GETFONT));
    ASSERT_NE(dialogFont, nullptr);
    CFont* font = dlg.bound.GetFont();
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(static_cast<HFONT>(*font), dialogFont);
    EXPECT_EQ(dlg.GetFont(), font);  // one wrapper per font
    CWnd::DeleteTempMap();
    EXPECT_EQ(::GetObjectType(dialogFont), static_cast<DWORD>(OBJ_FONT));  // the dialog still has it
    // A window on the system font has none.
    HWND plain = ::CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(CWnd::FromHandle(plain)->GetFont(), nullptr);
    ::DestroyWindow(plain);
    CWnd::DeleteTempMap();
    dlg.DestroyWindow();
}

TEST(DeviceContext, DeletesOnlyTheContextItMade) {
    HDC screen = ::GetDC(nullptr);
    HDC first = nullptr;
    {
        CDC wrapper(screen);
        CDC made;
        ASSERT_TRUE(made.CreateCompatibleDC(&wrapper));
        first = made.m_hDC;
        ASSERT_TRUE(made.CreateCompatibleDC(&wrapper));  // the first one goes
        EXPECT_EQ(::GetObjectType(first), 0u);
        first = made.m_hDC;
    }
    EXPECT_EQ(::GetObjectType(first), 0u);
    EXPECT_EQ(::GetObjectType(screen), static_cast<DWORD>(OBJ_DC));  // wrapped, not deleted
    ::ReleaseDC(nullptr, screen);
}

// --- images ---------------------------------------------------------------------------------

struct Pixel {
    int b, g, r, a;
};

// Pixel (x, y) of a loaded image, counted from the top, read back in the image's own depth.
Pixel pixelAt(const CImage& image, int x, int y) {
    const int w = image.GetWidth(), h = image.GetHeight(), bpp = image.GetBPP();
    const int stride = ((w * bpp + 31) / 32) * 4;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bpp);
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> bits(static_cast<size_t>(stride) * h);
    HDC screen = ::GetDC(nullptr);
    int lines = ::GetDIBits(screen, image, 0, static_cast<UINT>(h), bits.data(), &info, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    if (lines != h) return {-1, -1, -1, -1};
    const uint8_t* p = bits.data() + y * stride + x * bpp / 8;
    return {p[0], p[1], p[2], bpp == 32 ? p[3] : 255};
}

void expectPixel(const CImage& image, int x, int y, Pixel want) {
    Pixel got = pixelAt(image, x, y);
    // GDI+ may round a 16-bit channel or a premultiplied value either way.
    EXPECT_TRUE(std::abs(got.b - want.b) <= 1 && std::abs(got.g - want.g) <= 1 && std::abs(got.r - want.r) <= 1 &&
                std::abs(got.a - want.a) <= 1)
        << "pixel " << x << "," << y << ": BGRA " << got.b << " " << got.g << " " << got.r << " " << got.a
        << ", want " << want.b << " " << want.g << " " << want.r << " " << want.a;
}

TEST(Image, SixteenBitAlphaBecomesPremultipliedThirtyTwoBits) {
    CImage image;
    ASSERT_EQ(image.Load((ExeFolder() + L"framework_rgba16.png").c_str()), S_OK);
    EXPECT_EQ(image.GetWidth(), 4);
    EXPECT_EQ(image.GetHeight(), 2);
    EXPECT_EQ(image.GetBPP(), 32);
    // The file: red, green, blue, transparent white; white and red at half alpha, an opaque colour
    // whose 16-bit channels have low bytes of 0 (0x6000, 0xA000, 0x2000), green at quarter alpha.
    struct Case { int x, y; Pixel want; } cases[] = {
        {0, 0, {0, 0, 255, 255}}, {1, 0, {0, 255, 0, 255}}, {2, 0, {255, 0, 0, 255}}, {3, 0, {0, 0, 0, 0}},
        {0, 1, {128, 128, 128, 128}}, {1, 1, {0, 0, 128, 128}}, {2, 1, {32, 160, 96, 255}}, {3, 1, {0, 64, 0, 64}},
    };
    for (const Case& c : cases) expectPixel(image, c.x, c.y, c.want);
}

TEST(Image, OpaqueFilesBecomeTwentyFourBitsWithPaddedRows) {
    CImage image;
    ASSERT_EQ(image.Load((ExeFolder() + L"framework_rgb24.png").c_str()), S_OK);
    EXPECT_EQ(image.GetBPP(), 24);
    EXPECT_EQ(image.GetWidth(), 3);  // 9 bytes a row, padded to 12
    EXPECT_EQ(image.GetHeight(), 2);
    struct Case { int x, y; Pixel want; } cases[] = {
        {0, 0, {0, 0, 255, 255}}, {2, 0, {255, 0, 0, 255}}, {0, 1, {48, 32, 16, 255}}, {2, 1, {3, 2, 1, 255}},
    };
    for (const Case& c : cases) expectPixel(image, c.x, c.y, c.want);
}

TEST(Image, TheLogoLoads) {
    CImage logo;
    ASSERT_EQ(logo.Load((ExeFolder() + L"velmora_app.png").c_str()), S_OK);
    EXPECT_EQ(logo.GetWidth(), 262);  // fits control 1027, which takes the size of its bitmap
    EXPECT_EQ(logo.GetHeight(), 56);
    EXPECT_EQ(logo.GetBPP(), 32);  // it has an alpha channel, though every pixel is opaque
    expectPixel(logo, 0, 0, {255, 255, 255, 255});
    expectPixel(logo, 24, 9, {140, 94, 27, 255});
}

TEST(Image, AFailedLoadOrDestroyLeavesNoImage) {
    CImage image;
    ASSERT_EQ(image.Load((ExeFolder() + L"framework_rgb24.png").c_str()), S_OK);
    HBITMAP first = image;
    // Loading again replaces the first bitmap; a missing file leaves nothing.
    EXPECT_EQ(image.Load((ExeFolder() + L"no_such_image.png").c_str()), E_FAIL);
    EXPECT_TRUE(image.IsNull());
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    EXPECT_EQ(::GetObjectType(first), 0u);

    ASSERT_EQ(image.Load((ExeFolder() + L"framework_rgb24.png").c_str()), S_OK);
    HBITMAP second = image;
    image.Destroy();
    EXPECT_TRUE(image.IsNull());
    EXPECT_EQ(::GetObjectType(second), 0u);
    image.Destroy();  // twice is harmless
}

}  // namespace

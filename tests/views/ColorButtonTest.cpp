// The colour button drawn into a memory canvas (layout, fills, frame, states) and for real through
// its dialog.
#include <gtest/gtest.h>
#include "ui/ColorButton.h"
#include "tests/views/Pixels.h"
#include "tests/views/ViewsResource.h"
#include <string>

namespace {

constexpr int kWidth = 120, kHeight = 72;  // two lines of the test font fit
constexpr COLORREF kGrey = RGB(128, 128, 128), kWhite = RGB(255, 255, 255);
constexpr COLORREF kText = RGB(1, 1, 1), kRed = RGB(255, 0, 0);  // what the capture action sets
constexpr DWORD kLayoutStyles = BS_MULTILINE | BS_VCENTER | BS_CENTER;

class CountingButton : public CColorButton {
public:
    int draws = 0;
    void DrawItem(LPDRAWITEMSTRUCT item) override {
        ++draws;
        CColorButton::DrawItem(item);
    }
};

class ButtonDlg : public CDialog {
public:
    ButtonDlg() : CDialog(IDD_VIEWS) {}
    CountingButton button;
    void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_VIEW_BUTTON, button); }
};

class ColorButtonTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dlg.Create(IDD_VIEWS));
        // Big and without smoothing, so that ink has one colour; the canvas's own font is the
        // system font, so a caption in the wrong font shows in every comparison below.
        font = ::CreateFontW(-22, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
        ASSERT_NE(font, nullptr);
        dlg.button.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        dlg.button.MoveWindow(10, 10, kWidth, kHeight, FALSE);
    }
    void TearDown() override {
        dlg.DestroyWindow();
        ::DeleteObject(font);
    }

    void setLayout(DWORD styles, const wchar_t* caption) {
        HWND h = dlg.button.m_hWnd;
        ::SetWindowLongW(h, GWL_STYLE, static_cast<LONG>((dlg.button.GetStyle() & ~kLayoutStyles) | styles));
        dlg.button.SetWindowText(caption);
    }
    void draw(Canvas& canvas, UINT state) {
        canvas.fill(RGB(0, 128, 255));
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.CtlID = IDC_VIEW_BUTTON;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = state;
        item.hwndItem = dlg.button.m_hWnd;
        item.hDC = canvas.dc;
        item.rcItem = {0, 0, kWidth, kHeight};
        dlg.button.DrawItem(&item);
    }
    int lineHeight(const std::wstring& line) {
        HDC dc = ::CreateCompatibleDC(nullptr);
        HGDIOBJ old = ::SelectObject(dc, font);
        SIZE s{};
        ::GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &s);
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
        return s.cy;
    }

    ButtonDlg dlg;
    HFONT font = nullptr;
};

int inkCount(const std::vector<bool>& mask) {
    int n = 0;
    for (bool b : mask) n += b;
    return n;
}

// The mask moved right by dx and down by dy.
std::vector<bool> shifted(const std::vector<bool>& mask, int dx, int dy) {
    std::vector<bool> out(mask.size(), false);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            int tx = x + dx, ty = y + dy;
            if (mask[static_cast<size_t>(y * kWidth + x)] && tx >= 0 && tx < kWidth && ty >= 0 && ty < kHeight)
                out[static_cast<size_t>(ty * kWidth + tx)] = true;
        }
    return out;
}

TEST_F(ColorButtonTest, CaptionFollowsTheMultiLineAndAlignmentStyles) {
    dlg.button.SetColors(kText, kWhite);
    // Pressed, so the caption is laid out in the item rectangle itself. Each line is drawn in
    // (3, top + i h, width - 3, top + (i + 1) h) with h the height of the last line.
    enum Top { kCentred, kAtTop, kAtBottom };
    constexpr UINT kPlain = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    struct Case {
        const char* name;
        DWORD styles;
        const wchar_t* caption;
        std::vector<std::wstring> lines;
        Top top;
        UINT format;
    } cases[] = {
        {"one line, no styles", 0, L"Capture", {L"Capture"}, kCentred, kPlain},
        {"line feed without multi-line", 0, L"Ab\ncd", {L"Ab\ncd"}, kCentred, kPlain},
        {"two lines", BS_MULTILINE, L"Capture\nVideo", {L"Capture", L"Video"}, kCentred, kPlain},
        {"top", BS_TOP, L"Capture", {L"Capture"}, kAtTop, kPlain},
        {"bottom", BS_BOTTOM, L"Capture", {L"Capture"}, kAtBottom, kPlain},
        {"vertically centred", BS_VCENTER, L"Capture", {L"Capture"}, kCentred, kPlain},
        {"left", BS_LEFT, L"Capture", {L"Capture"}, kCentred, DT_LEFT},
        {"right", BS_RIGHT, L"Capture", {L"Capture"}, kCentred, DT_RIGHT},
        {"centred", BS_CENTER, L"Capture", {L"Capture"}, kCentred, DT_CENTER},
        {"two lines at the bottom right", BS_MULTILINE | BS_BOTTOM | BS_RIGHT, L"Go\nCapture", {L"Go", L"Capture"},
         kAtBottom, DT_RIGHT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setLayout(c.styles, c.caption);
        Canvas drawn(kWidth, kHeight);
        draw(drawn, ODS_SELECTED);

        const int n = static_cast<int>(c.lines.size());
        const int h = lineHeight(c.lines.back());
        const int top = c.top == kAtTop ? 2 : c.top == kAtBottom ? kHeight - n * h - 2 : (kHeight - n * h) / 2 - 1;
        Canvas expected(kWidth, kHeight);
        expected.fill(kWhite);
        HGDIOBJ old = ::SelectObject(expected.dc, font);
        ::SetBkMode(expected.dc, TRANSPARENT);
        ::SetTextColor(expected.dc, kText);
        for (int i = 0; i < n; ++i) {
            RECT line{3, top + i * h, kWidth - 3, top + (i + 1) * h};
            ::DrawTextW(expected.dc, c.lines[i].c_str(), static_cast<int>(c.lines[i].size()), &line, c.format);
        }
        ::SelectObject(expected.dc, old);

        std::vector<bool> ink = drawn.mask(kText);
        EXPECT_GT(inkCount(ink), 20);
        EXPECT_TRUE(ink == expected.mask(kText));
    }
}

TEST_F(ColorButtonTest, FillByStateInsideAGreyFrame) {
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    setLayout(0, L"Go");
    struct Case { const char* name; bool red; UINT state; COLORREF fill; } cases[] = {
        {"system colours", false, 0, face},
        {"red", true, 0, kRed},
        {"red, pressed", true, ODS_SELECTED, kRed},
        {"red, disabled: the disabled fill stays", true, ODS_DISABLED, face},
        {"reset", false, 0, face},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.red) dlg.button.SetColors(kText, kRed); else dlg.button.ResetColors();
        Canvas canvas(kWidth, kHeight);
        draw(canvas, c.state);
        int frame = 0, ring = 0;
        for (int x = 0; x < kWidth; ++x) {
            frame += (canvas.at(x, 0) == kGrey) + (canvas.at(x, kHeight - 1) == kGrey);
            if (x > 0 && x < kWidth - 1) ring += (canvas.at(x, 1) == c.fill) + (canvas.at(x, kHeight - 2) == c.fill);
        }
        for (int y = 1; y < kHeight - 1; ++y) {
            frame += (canvas.at(0, y) == kGrey) + (canvas.at(kWidth - 1, y) == kGrey);
            if (y > 1 && y < kHeight - 2) ring += (canvas.at(1, y) == c.fill) + (canvas.at(kWidth - 2, y) == c.fill);
        }
        EXPECT_EQ(frame, 2 * kWidth + 2 * (kHeight - 2));  // every edge pixel grey
        // and the ring just inside filled: the right and bottom lines are not a pixel further in
        EXPECT_EQ(ring, 2 * (kWidth - 2) + 2 * (kHeight - 4));
    }
    EXPECT_EQ(dlg.button.textColor, ::GetSysColor(COLOR_BTNTEXT));
}

TEST_F(ColorButtonTest, CaptionSitsAPixelLeftWhenNotPressedAndAlsoHigherWhenTopOrBottom) {
    dlg.button.SetColors(kText, kRed);
    struct Case { const char* name; DWORD styles; const wchar_t* caption; int dx, dy; } cases[] = {
        {"no styles", 0, L"Capture", 1, 0},
        {"two lines", BS_MULTILINE, L"Capture\nVideo", 1, 0},
        {"vertically centred, left", BS_VCENTER | BS_LEFT, L"Capture", 1, 0},
        {"right", BS_RIGHT, L"Capture", 1, 0},
        {"top", BS_TOP, L"Capture", 1, 1},
        {"bottom", BS_BOTTOM | BS_MULTILINE, L"Capture\nVideo", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setLayout(c.styles, c.caption);
        Canvas normal(kWidth, kHeight), pressed(kWidth, kHeight);
        draw(normal, 0);
        draw(pressed, ODS_SELECTED);
        std::vector<bool> ink = normal.mask(kText);
        EXPECT_GT(inkCount(ink), 20);
        EXPECT_TRUE(shifted(ink, c.dx, c.dy) == pressed.mask(kText));
    }
}

TEST_F(ColorButtonTest, DisabledCaptionIsEngraved) {
    dlg.button.SetColors(kText, kRed);
    setLayout(BS_MULTILINE, L"Capture\nVideo");
    Canvas normal(kWidth, kHeight), pressed(kWidth, kHeight), disabled(kWidth, kHeight);
    draw(normal, 0);
    draw(pressed, ODS_SELECTED);
    draw(disabled, ODS_DISABLED);
    // White where the pressed caption is, grey over it where the unpressed one is.
    std::vector<bool> up = normal.mask(kText), down = pressed.mask(kText);
    std::vector<bool> grey = disabled.mask(kGrey), white = disabled.mask(kWhite);
    EXPECT_TRUE(grey == up);
    std::vector<bool> whiteWanted(down.size());
    for (size_t i = 0; i < down.size(); ++i) whiteWanted[i] = down[i] && !up[i];
    EXPECT_GT(inkCount(whiteWanted), 0);
    EXPECT_TRUE(white == whiteWanted);
}

TEST_F(ColorButtonTest, TheDialogsOwnerDrawingReachesTheButton) {
    setLayout(0, L"Capture Video");
    showOnTop(dlg.m_hWnd);
    Canvas screen(kWidth, kHeight), expected(kWidth, kHeight);
    // Each change repaints the button by itself: SetColors, and the control on being disabled.
    struct Case { const char* name; bool invalidate, red; BOOL enabled; UINT state; } cases[] = {
        {"system colours", true, false, TRUE, 0},
        {"red", false, true, TRUE, 0},
        {"disabled, still red", false, false, FALSE, ODS_DISABLED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = dlg.button.draws;
        if (c.invalidate) dlg.button.Invalidate(FALSE);
        if (c.red) dlg.button.SetColors(kText, kRed);
        dlg.button.EnableWindow(c.enabled);
        dlg.button.UpdateWindow();
        drainMessages();
        EXPECT_GT(dlg.button.draws, before);
        ASSERT_TRUE(screen.grab(dlg.button.m_hWnd));
        draw(expected, c.state);
        int differ = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) differ += screen.at(x, y) != expected.at(x, y);
        EXPECT_EQ(differ, 0) << "pixels the real paint drew otherwise";
    }
}

}  // namespace

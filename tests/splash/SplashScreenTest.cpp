// The splash driven in-process, its window on the test display: style, size and place, the bar,
// the caption as painted, the animation and the end of the thread; the loading of its picture.
#include <gtest/gtest.h>
#include "app/SplashScreen.h"
#include "tests/support/Files.h"
#include "tests/views/Pixels.h"
#include <commctrl.h>
#include <gdiplus.h>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Odd sizes, so that centring rounds.
constexpr int kWidth = 361, kHeight = 223;
// Rows of the caption: from its top to the bar's.
constexpr int kBandTop = kHeight - 34, kBandBottom = kHeight - 20;

// Light and different everywhere, so that black text stands out and a shifted image shows.
COLORREF FixtureColour(int x, int y) { return RGB(160 + x % 90, 170 + y % 80, 200 + (x + y) % 50); }

std::unique_ptr<Gdiplus::Bitmap> MakeImage(int width = kWidth, int height = kHeight) {
    auto image = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppARGB);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            COLORREF c = FixtureColour(x, y);
            image->SetPixel(x, y, Gdiplus::Color(255, GetRValue(c), GetGValue(c), GetBValue(c)));
        }
    return image;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

HWND Bar(HWND splash) { return ::FindWindowExW(splash, nullptr, PROGRESS_CLASSW, nullptr); }

int Position(HWND splash) {
    HWND bar = Bar(splash);
    return bar ? int(::SendMessageW(bar, PBM_GETPOS, 0, 0)) : -1;
}

bool IsDark(COLORREF c) { return GetRValue(c) < 100 && GetGValue(c) < 100 && GetBValue(c) < 100; }

// The popup as it is painted, raised first: other tests' windows share the display.
struct Painted {
    Canvas canvas{kWidth, kHeight};

    explicit Painted(HWND splash) {
        ::SetWindowPos(splash, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        canvas.grab(splash);
    }
    // Pixels of rows [top, bottom) that are not the image's.
    int Differences(int top, int bottom) const {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < kWidth; ++x) {
                COLORREF got = canvas.at(x, y), want = FixtureColour(x, y);
                if (std::abs(GetRValue(got) - GetRValue(want)) > 2 || std::abs(GetGValue(got) - GetGValue(want)) > 2 ||
                    std::abs(GetBValue(got) - GetBValue(want)) > 2)
                    ++n;
            }
        return n;
    }
    int DarkInBand() const {
        int n = 0;
        for (int y = kBandTop; y < kBandBottom; ++y)
            for (int x = 0; x < kWidth; ++x) n += IsDark(canvas.at(x, y));
        return n;
    }
};

class Splash : public testing::Test {
protected:
    void SetUp() override {
        auto image = MakeImage();
        splash.SetImage(image.get());
    }
    void ShowWithTitle(const std::wstring& title) {
        splash.SetTitle(title);
        splash.Show();
        ASSERT_TRUE(splash.window && ::IsWindow(splash.window));
    }
    // Sets a position and waits until the splash thread has handled it (a bar that already stands
    // there cannot tell).
    void SetProgressAndWait(int position, const std::wstring& caption) {
        splash.SetProgress(position, caption);
        ASSERT_TRUE(WaitUntil([&] { return Position(splash.window) == position; })) << Position(splash.window);
    }

    SplashScreen splash;
};

struct TitleCase {
    const char* name;
    const wchar_t* title;
    bool toolWindow;
};

class SplashTitle : public Splash, public testing::WithParamInterface<TitleCase> {};

TEST_P(SplashTitle, GivesAnImageSizedPopupCentredOnTheMonitorOfTheCursor) {
    ShowWithTitle(GetParam().title);
    HWND w = splash.window;
    wchar_t name[64] = {}, text[64] = {};
    ::GetClassNameW(w, name, 64);
    ::GetWindowTextW(w, text, 64);
    EXPECT_STREQ(name, L"SplashWnd");
    EXPECT_STREQ(text, GetParam().title);
    EXPECT_TRUE(::IsWindowVisible(w));
    DWORD style = DWORD(::GetWindowLongW(w, GWL_STYLE)), exStyle = DWORD(::GetWindowLongW(w, GWL_EXSTYLE));
    EXPECT_EQ(style & (WS_POPUP | WS_CLIPCHILDREN | WS_CAPTION | WS_THICKFRAME), DWORD(WS_POPUP | WS_CLIPCHILDREN));
    EXPECT_EQ((exStyle & WS_EX_TOOLWINDOW) != 0, GetParam().toolWindow);
    EXPECT_EQ(::GetWindow(w, GW_OWNER), nullptr);

    POINT cursor;
    ::GetCursorPos(&cursor);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &info));
    RECT r;
    ::GetWindowRect(w, &r);
    EXPECT_EQ(r.right - r.left, kWidth);
    EXPECT_EQ(r.bottom - r.top, kHeight);
    EXPECT_EQ(r.left, (info.rcMonitor.left + info.rcMonitor.right - kWidth) / 2);
    EXPECT_EQ(r.top, (info.rcMonitor.top + info.rcMonitor.bottom - kHeight) / 2);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplashTitle,
                         testing::Values(TitleCase{"Untitled", L"", true},
                                         TitleCase{"StartUpTitle", L"Velmora Lumetra", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SplashImage, KeepsAPrivateCloneOfTheFirstImageOnly) {
    SplashScreen splash;
    {
        auto first = MakeImage(), second = MakeImage(120, 80);
        splash.SetImage(nullptr);
        splash.SetImage(first.get());
        splash.SetImage(second.get());
    }  // both gone before the thread draws
    splash.Show();
    ASSERT_TRUE(splash.window);
    RECT r;
    ::GetWindowRect(splash.window, &r);
    EXPECT_EQ(r.right - r.left, kWidth);
    EXPECT_EQ(r.bottom - r.top, kHeight);
    ASSERT_TRUE(WaitUntil([&] { return Painted(splash.window).Differences(0, kBandBottom) == 0; }))
        << Painted(splash.window).Differences(0, kBandBottom) << " pixels differ from the image";
}

// An 8-bit RLE bitmap whose pixels are only "end of bitmap": all of the one colour, whatever the
// size, in a few bytes.
std::string RleBmpBytes(LONG width, LONG height, COLORREF colour) {
    const std::string palette{static_cast<char>(GetBValue(colour)), static_cast<char>(GetGValue(colour)),
                              static_cast<char>(GetRValue(colour)), 0};
    const std::string pixels("\0\1", 2);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = static_cast<DWORD>(sizeof file + sizeof info + palette.size());
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 8;
    info.biCompression = BI_RLE8;
    info.biSizeImage = static_cast<DWORD>(pixels.size());
    info.biClrUsed = 1;
    return std::string(reinterpret_cast<const char*>(&file), sizeof file) +
           std::string(reinterpret_cast<const char*>(&info), sizeof info) + palette + pixels;
}

// The start-up picture goes through the size bound like every other: one of 36 megapixels is
// not decoded, one of the same making and a modest size is.
TEST(SplashImage, IsLoadedWithinThePictureSizeBound) {
    TempFolder temp;
    ASSERT_TRUE(temp.ok());
    const std::wstring modest = temp.path() + L"\\modest.png", huge = temp.path() + L"\\huge.png";
    ASSERT_TRUE(WriteBytes(modest, RleBmpBytes(64, 48, RGB(0, 96, 255))));
    ASSERT_TRUE(WriteBytes(huge, RleBmpBytes(6000, 6000, RGB(0, 96, 255))));
    std::unique_ptr<Gdiplus::Image> loaded(LoadSplashImage(modest.c_str()));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->GetWidth(), 64u);
    EXPECT_EQ(loaded->GetHeight(), 48u);
    loaded.reset(LoadSplashImage(huge.c_str()));
    EXPECT_FALSE(loaded) << "the picture above the bound was decoded";
    loaded.reset(LoadSplashImage((temp.path() + L"\\missing.png").c_str()));
    EXPECT_FALSE(loaded);
}

TEST_F(Splash, MakesTheBarAtTheFirstPosition) {
    ShowWithTitle(L"Velmora Lumetra");
    EXPECT_EQ(Bar(splash.window), nullptr);
    SetProgressAndWait(70, L"");
    HWND bar = Bar(splash.window);
    EXPECT_EQ(DWORD(::GetWindowLongW(bar, GWL_STYLE)) & (WS_CHILD | WS_VISIBLE), DWORD(WS_CHILD | WS_VISIBLE));
    RECT r;
    ::GetWindowRect(bar, &r);
    ::MapWindowPoints(nullptr, splash.window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 4);
    EXPECT_EQ(r.top, kHeight - 20);
    EXPECT_EQ(r.right - r.left, kWidth - 8);
    EXPECT_EQ(r.bottom - r.top, 16);
    PBRANGE range{};
    ::SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(Position(splash.window), 70);
}

TEST_F(Splash, DrawsTheCaptionInBlackOverTheImageUntilItIsCleared) {
    ShowWithTitle(L"Velmora Lumetra");
    ASSERT_TRUE(WaitUntil([&] { return Painted(splash.window).Differences(0, kBandBottom) == 0; }))
        << "first paint: " << Painted(splash.window).Differences(0, kBandBottom) << " pixels differ";

    SetProgressAndWait(30, L"Enumerating devices...");
    Painted captioned(splash.window);
    EXPECT_GT(captioned.DarkInBand(), 40) << "no caption drawn (is the Tahoma font installed?)";
    EXPECT_EQ(captioned.Differences(0, kBandTop), 0);

    SetProgressAndWait(70, L"");
    EXPECT_TRUE(WaitUntil([&] { return Painted(splash.window).Differences(0, kBandBottom) == 0; }, 3s))
        << Painted(splash.window).Differences(kBandTop, kBandBottom) << " caption pixels left";
}

// Positions as they change after `seen`, until `until` returns true or the time is up.
std::vector<int> Watch(HWND splash, std::vector<int> seen, const std::function<bool(int)>& until,
                       std::chrono::milliseconds timeout) {
    WaitUntil(
        [&] {
            int p = Position(splash);
            if (seen.empty() || seen.back() != p) seen.push_back(p);
            return until(p);
        },
        timeout);
    return seen;
}

TEST_F(Splash, AnimationStepsByATenthOfTheWayOnceASecondUpToTheEnd) {
    ShowWithTitle(L"");
    SetProgressAndWait(70, L"Enumerating devices...");
    auto start = std::chrono::steady_clock::now();
    splash.AnimateProgress(0, 50, 5);
    std::vector<int> seen = Watch(splash.window, {70}, [](int p) { return p == 50; }, 15s);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(seen, (std::vector<int>{70, 0, 10, 20, 30, 40, 50}));
    EXPECT_GE(took, 4500ms);
    EXPECT_EQ(::SendMessageW(Bar(splash.window), PBM_GETSTEP, 0, 0), 10);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Position(splash.window), 50) << "the timer outlived its steps";
}

TEST_F(Splash, APositionStopsTheAnimation) {
    ShowWithTitle(L"");
    splash.AnimateProgress(0, 50, 5);
    ASSERT_TRUE(WaitUntil([&] { return Position(splash.window) == 10; }));
    SetProgressAndWait(70, L"");
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(Position(splash.window), 70);
}

TEST_F(Splash, AnimationWithoutStepsGoesStraightToTheEnd) {
    ShowWithTitle(L"");
    splash.AnimateProgress(0, 50, 0);
    EXPECT_TRUE(WaitUntil([&] { return Position(splash.window) == 50; })) << Position(splash.window);
    splash.AnimateProgress(10, 40, -2);
    EXPECT_TRUE(WaitUntil([&] { return Position(splash.window) == 40; })) << Position(splash.window);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Position(splash.window), 40);
    EXPECT_EQ(::WaitForSingleObject(splash.thread, 0), DWORD(WAIT_TIMEOUT)) << "the splash thread ended";
}

TEST_F(Splash, HideEndsTheThreadAndTheWindowAndMayBeRepeated) {
    ShowWithTitle(L"Velmora Lumetra");
    SetProgressAndWait(70, L"Enumerating devices...");
    splash.AnimateProgress(0, 50, 5);
    HWND window = splash.window;
    HANDLE thread = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), splash.thread, ::GetCurrentProcess(), &thread, SYNCHRONIZE |
                                  THREAD_QUERY_INFORMATION, FALSE, 0));
    splash.Hide();
    EXPECT_EQ(::WaitForSingleObject(thread, 0), DWORD(WAIT_OBJECT_0));
    DWORD code = 1;
    ::GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u) << "terminated instead of ending";
    ::CloseHandle(thread);
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(splash.thread, nullptr);

    auto start = std::chrono::steady_clock::now();
    splash.Hide();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    splash.SetProgress(10, L"nobody listens");  // not delivered; the copy is freed
    EXPECT_EQ(splash.thread, nullptr);
}

TEST(SplashWithoutImage, ShowGivesUpWithoutAWindow) {
    SplashScreen splash;
    splash.SetTitle(L"Velmora Lumetra");
    splash.Show();  // waits out its start time-out
    EXPECT_EQ(splash.window, nullptr);
    splash.SetProgress(70, L"Enumerating devices...");
    splash.Hide();
    EXPECT_EQ(splash.thread, nullptr);
}

}  // namespace

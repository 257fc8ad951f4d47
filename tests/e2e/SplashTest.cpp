// The splash at start-up, seen from outside the program: shown before the main window and gone
// when it comes; without its image a message box instead.
#include <gtest/gtest.h>
#include "tests/e2e/AppDriver.h"
#include <commctrl.h>

using namespace e2e;

namespace {

const WindowQuery kMainDialog{L"#32770", L"Velmora Lumetra v6.0.0"};
const WindowQuery kSplash{L"SplashWnd", L"Velmora Lumetra"};
constexpr int kImageWidth = 480, kImageHeight = 300;

// The camera stand-in: without any device the program ends at start-up.
RunOptions WithCamera(bool images) {
    RunOptions options;
    options.camera = true;
    options.images = images;
    return options;
}

Window ProgressBar(const Window& splash) {
    for (const Window& child : splash.Children())
        if (child.IsClass(PROGRESS_CLASSW)) return child;
    return Window();
}

// Sent, not read from memory: the bar belongs to another process.
int Position(const Window& bar) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(bar.hwnd(), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &result)) return -1;
    return int(result);
}

TEST(Splash, ShowsTheImageCentredWithTheBarThenMakesWayForTheMainWindow) {
    App app(WithCamera(true));
    Window splash = app.WaitForWindow(kSplash);
    EXPECT_FALSE(app.FindWindow(kMainDialog)) << "main window while the splash shows";
    EXPECT_EQ(splash.ExStyle() & WS_EX_TOOLWINDOW, 0u);
    EXPECT_EQ(splash.Style() & (WS_POPUP | WS_CAPTION | WS_THICKFRAME), DWORD(WS_POPUP));

    RECT r = splash.ScreenRect();
    EXPECT_EQ(r.right - r.left, kImageWidth);
    EXPECT_EQ(r.bottom - r.top, kImageHeight);
    POINT cursor;
    GetCursorPos(&cursor);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &info));
    EXPECT_EQ(r.left, (info.rcMonitor.left + info.rcMonitor.right - kImageWidth) / 2);
    EXPECT_EQ(r.top, (info.rcMonitor.top + info.rcMonitor.bottom - kImageHeight) / 2);

    // It stands at 70 for the last of its two seconds.
    Window bar;
    EXPECT_TRUE(WaitUntil([&] { return (bar = ProgressBar(splash)) && Position(bar) == 70; }, 10s))
        << "bar " << (bar ? std::to_string(Position(bar)) : "missing") << "; " << app.Describe();
    EXPECT_FALSE(app.FindWindow(kMainDialog)) << "main window while the splash shows";

    app.WaitForWindow(kMainDialog);
    EXPECT_FALSE(splash.exists()) << "the splash outlived start-up";
}

TEST(Splash, WithoutItsImageAMessageBoxComesInsteadThenTheMainWindow) {
    App app(WithCamera(false));
    const WindowQuery anySplash{L"SplashWnd", L"", false};
    Window box = app.WaitForMessageBox(L"Failed");
    EXPECT_FALSE(app.FindWindow(anySplash));
    EXPECT_EQ(App::MessageBoxText(box), L"Failed to load velmora_splash.png");
    app.DismissMessageBox(L"Failed");
    bool sawSplash = false;
    EXPECT_TRUE(WaitUntil([&] {
        sawSplash = sawSplash || app.FindWindow(anySplash);
        return bool(app.FindWindow(kMainDialog));
    })) << app.Describe();
    EXPECT_FALSE(sawSplash);
}

}  // namespace

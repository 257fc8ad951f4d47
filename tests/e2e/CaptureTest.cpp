// Stills and reference images with the FK40 camera, offline: the space bar from wherever the focus
// is, the reference view, and a capture that cannot be written.
#include <gtest/gtest.h>
#include <algorithm>
#include "standins/fk40/LycStandin.h"
#include "tests/e2e/Scenario.h"

using namespace e2e;

namespace {

// The names of `after` that `before` lacks.
std::vector<std::wstring> Added(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after) {
    std::vector<std::wstring> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    return added;
}

// The counter picture: every byte of frame n reads n % 256.
testing::AssertionResult IsOneCounterFrame(const std::wstring& path) {
    std::string file = ReadBytes(path);
    if (file.size() != 122870)
        return testing::AssertionFailure() << file.size() << " bytes";
    Bitmap still;
    if (testing::AssertionResult parsed = ParseBitmap(file, &still); !parsed)
        return parsed;
    auto other = std::find_if(still.pixels.begin(), still.pixels.end(), [&](uint8_t b) { return b != still.pixels[0]; });
    if (other != still.pixels.end())
        return testing::AssertionFailure() << "byte " << (other - still.pixels.begin()) << " is " << int(*other)
                                           << ", byte 0 " << int(still.pixels[0]);
    return testing::AssertionSuccess();
}

std::wstring StatusText(Window dialog) { return dialog.ChildOrThrow(kStatus).Text(); }

TEST(Capture, TheSpaceBarTakesOneNamedStillWhereverTheFocusIs) {
    App app(CameraRun(L"counter"));
    Window dialog = app.WaitForWindow(kMainDialog);
    Window live = dialog.ChildOrThrow(kLiveView), prefix = dialog.ChildOrThrow(kPrefixEdit);
    const std::wstring images = ImagesFolder();
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(app).hwnd() == live.hwnd(); }))
        << "focus on " << FocusOf(app).Describe();
    prefix.Type(L"SiteA");
    ASSERT_TRUE(WaitUntil([&] { return prefix.Text() == L"SiteA"; }));
    // Once a frame is shown: a uniform grey.
    ASSERT_TRUE(WaitUntil([&] {
        Picture p = live.ScreenPixels();
        return p.Count([&](COLORREF c) { return c == p.pixels[p.pixels.size() / 2]; }) > p.pixels.size() * 9 / 10;
    }, 10s));

    WaitForStartOfSecond();
    PressSpace(app);
    bool noticed = WaitUntil([&] { return StatusText(dialog) == kCapturedNotice; }, 5s);
    std::vector<std::wstring> stills = WaitForFiles(images, 1);
    EXPECT_TRUE(noticed) << "\"" << Narrow(StatusText(dialog)) << "\"";
    ASSERT_EQ(stills.size(), 1u) << testing::PrintToString(stills);
    EXPECT_EQ(StillIndex(stills[0], L"SiteA"), 0) << Narrow(stills[0]);
    EXPECT_TRUE(IsOneCounterFrame(images + L"\\" + stills[0]));
    EXPECT_TRUE(FileNames(images + L"\\metadata").empty()) << "offline: no .meta";
    EXPECT_TRUE(WaitUntil([&] { return StatusText(dialog) == kNoticeCleared; }, 10s))
        << "\"" << Narrow(StatusText(dialog)) << "\"";

    // Two in one second: the second gets the next number.
    WaitForStartOfSecond();
    PressSpace(app);
    PressSpace(app);
    std::vector<std::wstring> two = Added(stills, WaitForFiles(images, 3));
    ASSERT_EQ(two.size(), 2u) << testing::PrintToString(two);
    EXPECT_EQ(two[0].substr(0, 14), two[1].substr(0, 14));
    EXPECT_EQ(StillIndex(two[0], L"SiteA"), 0) << Narrow(two[0]);
    EXPECT_EQ(StillIndex(two[1], L"SiteA"), 1) << Narrow(two[1]);
    for (const auto& name : two)
        EXPECT_TRUE(IsOneCounterFrame(images + L"\\" + name)) << Narrow(name);

    // A click on Capture Image takes one and leaves the focus there; its space bar one more, not two.
    Window button = dialog.ChildOrThrow(kCaptureImage);
    stills = FileNames(images);
    dialog.Activate();
    button.MouseClick();
    ASSERT_EQ(WaitForFiles(images, stills.size() + 1).size(), stills.size() + 1) << app.Describe();
    ASSERT_EQ(FocusOf(app).hwnd(), button.hwnd()) << FocusOf(app).Describe();
    PressSpace(app);
    EXPECT_EQ(Added(stills, WaitForFiles(images, stills.size() + 2)).size(), 2u);

    // In the prefix edit the space is typed, then it captures with the prefix as it now is.
    dialog.Activate();
    prefix.MouseClick();
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(app).hwnd() == prefix.hwnd(); })) << FocusOf(app).Describe();
    prefix.PostKeyDown(VK_HOME);
    prefix.PostKeyDown(VK_SPACE);
    ASSERT_TRUE(WaitUntil([&] { return prefix.Text() == L" SiteA"; })) << Narrow(prefix.Text());
    stills = FileNames(images);
    prefix.PostKeyUp(VK_SPACE);
    std::vector<std::wstring> typed = Added(stills, WaitForFiles(images, stills.size() + 1));
    ASSERT_EQ(typed.size(), 1u) << testing::PrintToString(typed);
    EXPECT_EQ(StillIndex(typed[0], L" SiteA"), 0) << Narrow(typed[0]);

    // Neither Esc nor Enter closes the window or captures.
    stills = FileNames(images);
    for (UINT key : {VK_ESCAPE, VK_RETURN})
        FocusOf(app).PressKey(key);
    EXPECT_EQ(WaitForFiles(images, stills.size() + 1, 1s), stills);
    EXPECT_TRUE(app.Running()) << app.Describe();
    EXPECT_TRUE(dialog.Visible());
}

// Inside the reference view's one-pixel frame of RGB(15, 0, 0): how many pixels are near `colour`,
// and whether the frame is there.
struct FramedPicture {
    size_t inside = 0, matching = 0;
    bool framed = true;
};

FramedPicture Framed(const Picture& p, COLORREF colour, int tolerance) {
    FramedPicture f;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            bool edge = x == 0 || y == 0 || x == p.width - 1 || y == p.height - 1;
            if (edge) {
                f.framed = f.framed && p.At(x, y) == RGB(15, 0, 0);
            } else {
                ++f.inside;
                f.matching += NearColour(p.At(x, y), colour, tolerance);
            }
        }
    return f;
}

testing::AssertionResult ShowsFramed(Window view, COLORREF colour, int tolerance) {
    Picture p;
    FramedPicture f;
    if (WaitUntil([&] {
            f = Framed(p = view.ScreenPixels(), colour, tolerance);
            return f.framed && f.matching == f.inside;
        }, 10s))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << (f.framed ? "framed, " : "no frame, ") << f.matching << " of " << f.inside
                                       << " inside near the colour; " << testing::PrintToString(p);
}

TEST(Capture, ReferenceCaptureShowsThePictureClearBlanksItAndAStillMakesItsFoldersAgain) {
    const int y = 1800, u = 2600, v = 1500;
    RunOptions options = CameraRun(L"uniform");
    options.environment[L"" LYC_STANDIN_Y] = std::to_wstring(y);
    options.environment[L"" LYC_STANDIN_U] = std::to_wstring(u);
    options.environment[L"" LYC_STANDIN_V] = std::to_wstring(v);
    App app(options);
    Window dialog = app.WaitForWindow(kMainDialog);
    Window live = dialog.ChildOrThrow(kLiveView), reference = dialog.ChildOrThrow(kReferenceView);
    const std::vector<uint8_t> picture = FK40UniformPicture(y, u, v);
    const COLORREF colour = RGB(picture[2], picture[1], picture[0]);
    ASSERT_TRUE(WaitUntil([&] {
        Picture p = live.ScreenPixels();
        return p.Count([&](COLORREF c) { return c == colour; }) > p.pixels.size() * 9 / 10;
    }, 10s)) << "the live view shows no " << std::hex << colour;

    dialog.ChildOrThrow(kCaptureReference).Click();
    const std::wstring folder = ImagesFolder() + L"\\ReferenceImages";
    std::vector<std::wstring> captured = WaitForFiles(folder, 1);
    ASSERT_EQ(captured.size(), 1u) << testing::PrintToString(captured);
    EXPECT_EQ(StillIndex(captured[0], L""), 0) << Narrow(captured[0]);
    Bitmap still;
    ASSERT_TRUE(ParseBitmap(ReadBytes(folder + L"\\" + captured[0]), &still));
    EXPECT_TRUE(still.pixels == picture);
    EXPECT_TRUE(FileNames(ImagesFolder()).empty());
    EXPECT_TRUE(FileNames(ImagesFolder() + L"\\metadata").empty());
    EXPECT_TRUE(ShowsFramed(reference, colour, 2));  // halftone scaling may round

    dialog.ChildOrThrow(kClear).Click();
    EXPECT_TRUE(ShowsFramed(reference, RGB(0, 0, 0), 0));

    // The folders moved away behind the program's back: the next still makes them again.
    ASSERT_TRUE(DeleteFileW((folder + L"\\" + captured[0]).c_str()));
    for (const std::wstring& gone : {folder, ImagesFolder() + L"\\metadata", ImagesFolder()})
        ASSERT_TRUE(RemoveDirectoryW(gone.c_str())) << Narrow(gone);
    live.PressKey(VK_SPACE);
    EXPECT_EQ(WaitForFiles(ImagesFolder(), 1).size(), 1u);
    EXPECT_TRUE(IsFolder(folder));
    EXPECT_TRUE(IsFolder(ImagesFolder() + L"\\metadata"));

    // A file left where the images folder was: none can be made there, and a still fails.
    {
        FolderReplacedByFile replaced(ImagesFolder());
        std::vector<std::wstring> profileFiles = FileNames(ProfileFolder());
        live.PressKey(VK_SPACE);
        EXPECT_EQ(app.DismissMessageBox(L"Capture Error"), kCaptureErrorText);
        EXPECT_TRUE(WaitUntil([&] {
            std::wstring status = StatusText(dialog);
            return std::all_of(status.begin(), status.end(), [](wchar_t c) { return c == L' '; });
        }, 5s)) << "\"" << Narrow(StatusText(dialog)) << "\"";
        EXPECT_TRUE(IsFile(ImagesFolder()) && ReadBytes(ImagesFolder()).empty()) << "the file in its place changed";
        EXPECT_EQ(FileNames(ProfileFolder()), profileFiles);
        EXPECT_FALSE(app.FindWindow({L"#32770", L"Capture Error"})) << "a second box";
    }
}

}  // namespace

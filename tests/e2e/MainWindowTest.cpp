// The main window offline with the FK40 camera: what it shows at start, its folders, and the
// choice of the images folder.
#include <gtest/gtest.h>
#include <algorithm>
#include <iostream>
#include "tests/e2e/Scenario.h"

using namespace e2e;

namespace {

// Hidden offline: the cloud buttons and the test-details panel with its date and time.
const int kOfflineHidden[] = {1010, 1025, 1023, 1044, 1045, 1046, 1047, 1050, 1048, 1049, 1028, 1029, 1032, 1033, 1030};
const int kOfflineShown[] = {1001, 1002, 1019, 1011, 1020, 1024, 1026, 1027, 1015, 1041, 1006, 1017, 1021, 1012, 1064, 1071};

constexpr COLORREF kWhite = RGB(255, 255, 255);

size_t DistinctColours(const Picture& picture) {
    std::vector<COLORREF> colours = picture.pixels;
    std::sort(colours.begin(), colours.end());
    return size_t(std::unique(colours.begin(), colours.end()) - colours.begin());
}

void ExpectHiddenWhereKept(const std::wstring& folder) {
    if (!KeepsHiddenAttribute(ProfileFolder())) {
        std::cout << "[ NOTE     ] the file system keeps no hidden attribute: not checked for " << Narrow(folder)
                  << "\n";
        return;
    }
    EXPECT_TRUE(IsHidden(folder)) << Narrow(folder);
}

// The only dialogs of the program are the main one: nothing was reported.
void ExpectNoMessageBox(const App& app, Window dialog) {
    Sleep(1000);  // a box would come during the start-up
    for (const Window& w : app.Windows({L"#32770", L""}))
        EXPECT_EQ(w.hwnd(), dialog.hwnd()) << w.Describe() << ": " << Narrow(App::MessageBoxText(w));
}

TEST(MainWindow, StartsWithTheCameraFoldersClockAndLogoAndStartsSilentlyAgain) {
    App app(CameraRun(L"bars"));  // the moving demo picture
    Window dialog = app.WaitForWindow(kMainDialog);
    const std::wstring metadata = ImagesFolder() + L"\\metadata";

    EXPECT_EQ(dialog.ChildOrThrow(kFolderEdit).Text(), ImagesFolder());
    for (const std::wstring& folder : {ImagesFolder(), ImagesFolder() + L"\\ReferenceImages", metadata})
        EXPECT_TRUE(IsFolder(folder)) << Narrow(folder);
    ExpectHiddenWhereKept(metadata);

    // Hidden, but kept current.
    std::wstring date = dialog.ChildOrThrow(kDateEdit).Text(), time = dialog.ChildOrThrow(kTimeEdit).Text();
    EXPECT_TRUE(date == LocalDate() || date == LocalDate(-60)) << Narrow(date) << ", now " << Narrow(LocalDate());
    EXPECT_TRUE(time == LocalTime() || time == LocalTime(-60)) << Narrow(time) << ", now " << Narrow(LocalTime());

    for (int id : kOfflineHidden)
        EXPECT_FALSE(dialog.ChildOrThrow(id).Visible()) << id;
    for (int id : kOfflineShown)
        EXPECT_TRUE(dialog.ChildOrThrow(id).Visible()) << id;

    Window logo = dialog.ChildOrThrow(kLogo);
    Window live = dialog.ChildOrThrow(kLiveView);
    EXPECT_EQ(logo.Style() & SS_TYPEMASK, DWORD(SS_BITMAP)) << std::hex << logo.Style();
    // The control takes the image's size; whatever a sibling lies over is left out of the comparison.
    RECT at = logo.RectInParent(), own = logo.ClientRect();
    for (const Window& sibling : dialog.Children()) {
        RECT r = sibling.RectInParent(), overlap;
        if (sibling.hwnd() == logo.hwnd() || !sibling.Visible() || !IntersectRect(&overlap, &r, &at))
            continue;
        if (r.left > at.left + (at.right - at.left) / 2)
            own.right = std::min(own.right, r.left - at.left);
        else
            own.bottom = std::min(own.bottom, r.top - at.top);
    }
    Picture shown;
    const size_t drawn = size_t(own.right) * own.bottom / 10;  // a tenth of it, at least
    EXPECT_TRUE(WaitUntil([&] {
        shown = logo.ScreenPixels().Part(own);
        return shown.Count([](COLORREF c) { return c != kWhite; }) >= drawn;
    }, 10s)) << testing::PrintToString(shown);
    {
        Overlay cover(logo.ScreenRect());
        Sleep(300);
    }
    dialog.Repaint();  // what the system would do where it keeps no copy of the covered part
    // On a loaded machine the repaint may reach the screen only a while later.
    Picture repainted;
    EXPECT_TRUE(WaitUntil([&] { return (repainted = logo.ScreenPixels().Part(own)) == shown; }, 10s))
        << testing::PrintToString(repainted) << " after the repaint, before it " << testing::PrintToString(shown);

    // The demo picture moves.
    Picture first = live.ScreenPixels(), later;
    EXPECT_GE(DistinctColours(first), 5u) << testing::PrintToString(first);
    EXPECT_TRUE(WaitUntil([&] { return (later = live.ScreenPixels()) != first; }, 5s));
    EXPECT_GE(DistinctColours(later), 5u) << testing::PrintToString(later);

    dialog.Close();
    ASSERT_TRUE(app.WaitForExit()) << app.Describe();
    EXPECT_EQ(app.ExitCode(), 0u);

    // Again, with the folders there (this run still has the profile folder to itself).
    SetFileAttributesW(metadata.c_str(), FILE_ATTRIBUTE_NORMAL);
    RunOptions again = CameraRun();
    again.freshImagesFolder = false;
    App second(again);
    Window secondDialog = second.WaitForWindow(kMainDialog);
    ExpectNoMessageBox(second, secondDialog);
    EXPECT_EQ(secondDialog.ChildOrThrow(kFolderEdit).Text(), ImagesFolder());
    ExpectHiddenWhereKept(metadata);
    secondDialog.Close();
    ASSERT_TRUE(second.WaitForExit()) << second.Describe();
    EXPECT_EQ(second.ExitCode(), 0u);
}

Window WaitForPicker(const App& app, Window dialog) {
    Window picker;
    bool shown = WaitUntil([&] {
        for (const Window& w : app.Windows({L"#32770", L""}))
            if (w.hwnd() != dialog.hwnd())
                picker = w;
        return bool(picker);
    });
    if (!shown)
        throw Error("no folder picker; " + app.Describe());
    return picker;
}

TEST(MainWindow, FileLocationChoosesTheFolderOfTheNextStill) {
    App app(CameraRun(L"dot"));  // one lit pixel: a picture turned or mirrored shows
    Window dialog = app.WaitForWindow(kMainDialog);
    const std::wstring marker = L"e2e-marker";  // to recognise the folder the picker opens in
    ASSERT_TRUE(CreateDirectoryW((ImagesFolder() + L"\\" + marker).c_str(), nullptr));

    dialog.ChildOrThrow(kFileLocation).Click();
    Window picker = WaitForPicker(app, dialog);
    std::vector<std::wstring> listed;
    EXPECT_TRUE(WaitUntil([&] {
        listed = PickerFolders(picker);
        return std::find(listed.begin(), listed.end(), marker) != listed.end();
    }, 10s)) << "the picker lists " << testing::PrintToString(listed);

    const std::wstring chosen = app.folder() + L"\\Chosen Images";
    ASSERT_TRUE(CreateDirectoryW(chosen.c_str(), nullptr));
    ChooseInPicker(picker, chosen);
    ASSERT_TRUE(WaitUntil([&] { return !picker.exists(); })) << app.Describe();
    EXPECT_TRUE(WaitUntil([&] { return dialog.ChildOrThrow(kFolderEdit).Text() == chosen; }))
        << Narrow(dialog.ChildOrThrow(kFolderEdit).Text());
    EXPECT_TRUE(IsFolder(chosen + L"\\ReferenceImages"));
    EXPECT_TRUE(IsFolder(chosen + L"\\metadata"));
    ExpectHiddenWhereKept(chosen + L"\\metadata");

    dialog.ChildOrThrow(kLiveView).PressKey(VK_SPACE);
    std::vector<std::wstring> stills = WaitForFiles(chosen, 1);
    ASSERT_EQ(stills.size(), 1u) << testing::PrintToString(stills);
    EXPECT_EQ(StillIndex(stills[0], L""), 0) << Narrow(stills[0]);
    Bitmap still;
    ASSERT_TRUE(ParseBitmap(ReadBytes(chosen + L"\\" + stills[0]), &still));
    EXPECT_EQ(still.width, 202);
    EXPECT_EQ(still.height, 202);
    EXPECT_TRUE(still.pixels == FK40DotPicture()) << "not the stand-in's picture, upright";
    EXPECT_TRUE(FileNames(ImagesFolder()).empty()) << testing::PrintToString(FileNames(ImagesFolder()));
    EXPECT_TRUE(FileNames(chosen + L"\\metadata").empty());
}

}  // namespace

// Video recordings worked from outside the program: the capture button and the space bar start and
// stop them, closing the window finishes one, a destination that cannot be written refuses one, the
// format chosen in Settings makes the next file, and a resolution change ends one at the old size.
// The files are read back here, with the system's AVIFile for the AVI ones. Two copies of the
// program recording into one folder keep a file each.
#include <gtest/gtest.h>
#include <algorithm>
#include <chrono>
#include <map>
#include "res/SettingsResource.h"
#include "standins/fk40/LycStandin.h"
#include "tests/avi/AviTestSupport.h"
#include "tests/e2e/Recordings.h"
#include "tests/e2e/Scenario.h"
#include "video/LycApi.h"

using namespace e2e;

namespace {

const WindowQuery kSettings{L"#32770", L"Settings"};

// A recording's name is <14 digits>_<prefix>_<n><extension>, as a still's with its own extension.
std::optional<int> RecordingIndex(const std::wstring& name, const std::wstring& prefix, const std::wstring& extension) {
    if (!EndsWith(name, extension))
        return std::nullopt;
    return StillIndex(name.substr(0, name.size() - extension.size()) + L".bmp", prefix);
}

std::vector<std::wstring> WithExtension(const std::vector<std::wstring>& names, const std::wstring& extension) {
    std::vector<std::wstring> found;
    for (const auto& name : names)
        if (EndsWith(name, extension))
            found.push_back(name);
    return found;
}

std::vector<std::wstring> Added(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after) {
    std::vector<std::wstring> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    return added;
}

// The FK40 stand-in's uniform picture, at these 12-bit samples.
constexpr int kY = 1800, kU = 2600, kV = 1500;

RunOptions UniformCameraRun() {
    RunOptions options = CameraRun(L"uniform");
    options.environment[L"" LYC_STANDIN_Y] = std::to_wstring(kY);
    options.environment[L"" LYC_STANDIN_U] = std::to_wstring(kU);
    options.environment[L"" LYC_STANDIN_V] = std::to_wstring(kV);
    return options;
}

// An FK40 recording of the uniform picture: finished, every frame that picture.
testing::AssertionResult IsUniformRecording(const std::wstring& path, size_t* frameCount) {
    std::vector<Bitmap> frames;
    if (testing::AssertionResult finished = IsFinishedAvi(path, kLycWidth, kLycHeight, &frames); !finished)
        return finished;
    const std::vector<uint8_t> picture = FK40UniformPicture(kY, kU, kV);
    for (size_t i = 0; i < frames.size(); ++i)
        if (frames[i].pixels != picture)
            return testing::AssertionFailure() << "frame " << i << " of " << frames.size() << " is another picture";
    *frameCount = frames.size();
    return testing::AssertionSuccess();
}

// Once the live view paints the camera's picture, a recording has it from its first frame.
void WaitForUniformPicture(const Window& dialog) {
    const std::vector<uint8_t> picture = FK40UniformPicture(kY, kU, kV);
    const COLORREF colour = RGB(picture[2], picture[1], picture[0]);
    Window live = dialog.ChildOrThrow(kLiveView);
    if (!WaitUntil([&] {
            Picture p = live.ScreenPixels();
            return p.Count([&](COLORREF c) { return c == colour; }) > p.pixels.size() * 9 / 10;
        }, 10s))
        throw Error("the live view shows no uniform picture");
}

TEST(Recording, TheButtonTheSpaceBarAtItAndClosingTheWindowEachEndOneRecording) {
    App app(UniformCameraRun());
    Window dialog = app.WaitForWindow(kMainDialog);
    Window button = dialog.ChildOrThrow(kCaptureVideo), prefix = dialog.ChildOrThrow(kPrefixEdit);
    const std::wstring images = ImagesFolder();
    prefix.SetText(L"SiteA");
    WaitForUniformPicture(dialog);
    ASSERT_EQ(button.Text(), L"Capture Video");

    // Two clicks: one file of the camera's picture, frames at most one per 60 ms slot (and the
    // first and last), over a time measured to include the whole recording.
    auto clicked = std::chrono::steady_clock::now();
    button.Click();
    ASSERT_TRUE(ShowsRecording(dialog, true));
    Sleep(1500);
    button.Click();
    ASSERT_TRUE(ShowsRecording(dialog, false));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - clicked).count();
    std::vector<std::wstring> files = WaitForFiles(images, 1);
    ASSERT_EQ(files.size(), 1u) << testing::PrintToString(files);
    EXPECT_EQ(RecordingIndex(files[0], L"SiteA", L".avi"), 0) << Narrow(files[0]);
    size_t frames = 0;
    EXPECT_TRUE(IsUniformRecording(images + L"\\" + files[0], &frames));
    EXPECT_LE(frames, size_t(ms / 60 + 2)) << ms << " ms";

    // Started by a click, which leaves the focus on the button: its space bar stops the recording,
    // and only that (the button's own click and the dialog's key handling must not both act).
    dialog.Activate();
    button.MouseClick();
    ASSERT_TRUE(ShowsRecording(dialog, true));
    EXPECT_EQ(FocusOf(app).hwnd(), button.hwnd()) << FocusOf(app).Describe();
    Sleep(1000);
    PressSpace(app);
    ASSERT_TRUE(ShowsRecording(dialog, false));
    Sleep(1500);
    EXPECT_TRUE(ShowsRecording(dialog, false)) << "a second recording started";
    std::vector<std::wstring> spaced = Added(files, WaitForFiles(images, files.size() + 1));
    ASSERT_EQ(spaced.size(), 1u) << testing::PrintToString(spaced);
    EXPECT_TRUE(RecordingIndex(spaced[0], L"SiteA", L".avi").has_value()) << Narrow(spaced[0]);
    EXPECT_TRUE(IsUniformRecording(images + L"\\" + spaced[0], &frames));

    // Closing the window while recording finishes the file before the program ends.
    files = FileNames(images);
    button.Click();
    ASSERT_TRUE(ShowsRecording(dialog, true));
    Sleep(1000);
    dialog.Close();
    ASSERT_TRUE(app.WaitForExit()) << app.Describe();
    EXPECT_EQ(app.ExitCode(), 0u);
    std::vector<std::wstring> closed = Added(files, FileNames(images));
    ASSERT_EQ(closed.size(), 1u) << testing::PrintToString(closed);
    EXPECT_TRUE(IsUniformRecording(images + L"\\" + closed[0], &frames));
}

// Whether the four bytes at `at` are the start code 00 00 01 `code`.
TEST(Recording, AnUnwritableDestinationRefusesOneAndTheFormatChosenInSettingsMakesTheNext) {
    App app(UniformCameraRun());
    Window dialog = app.WaitForWindow(kMainDialog);
    Window button = dialog.ChildOrThrow(kCaptureVideo);
    const std::wstring images = ImagesFolder();
    WaitForUniformPicture(dialog);
    {
        FolderReplacedByFile replaced(images);
        std::vector<std::wstring> profileFiles = FileNames(ProfileFolder());
        button.Click();
        EXPECT_EQ(app.DismissMessageBox(L"Capture Error"), kRecordErrorText);
        EXPECT_TRUE(ShowsRecording(dialog, false));
        EXPECT_TRUE(IsFile(images) && ReadBytes(images).empty()) << "the file in the folder's place changed";
        EXPECT_EQ(FileNames(ProfileFolder()), profileFiles);
        EXPECT_FALSE(app.FindWindow({L"#32770", L"Capture Error"})) << "a second box";
    }
    EXPECT_EQ(FileNames(images), std::vector<std::wstring>{});

    // MPEG chosen, then Cancel: the choice stays, as reopening shows.
    dialog.ChildOrThrow(kSettingsButton).Click();
    Window settings = app.WaitForWindow(kSettings);
    Window format = settings.ChildOrThrow(IDC_OUTPUT_FORMAT);
    ASSERT_EQ(format.ComboItems(), (std::vector<std::wstring>{L"AVI", L"MPEG", L"WMV"}));
    PickComboItem(format, 1);
    Sleep(300);  // the pick is handled before Cancel, which comes after it in the queue anyway
    settings.ChildOrThrow(IDCANCEL).Click();
    app.WaitForNoWindow(kSettings);
    dialog.ChildOrThrow(kSettingsButton).Click();
    settings = app.WaitForWindow(kSettings);
    EXPECT_EQ(settings.ChildOrThrow(IDC_OUTPUT_FORMAT).ComboSelection(), 1);
    settings.ChildOrThrow(IDCANCEL).Click();
    app.WaitForNoWindow(kSettings);

    // The next recording: an MPEG-2 stream whose sequence header has the live size.
    const std::wstring prefix = dialog.ChildOrThrow(kPrefixEdit).Text();
    button.Click();
    ASSERT_TRUE(ShowsRecording(dialog, true));
    Sleep(1500);
    button.Click();
    ASSERT_TRUE(ShowsRecording(dialog, false));
    std::vector<std::wstring> files = WaitForFiles(images, 1);
    ASSERT_EQ(files.size(), 1u) << testing::PrintToString(files);
    EXPECT_EQ(RecordingIndex(files[0], prefix, L".mpg"), 0) << Narrow(files[0]);
    const std::string mpeg = ReadBytes(images + L"\\" + files[0]);
    ASSERT_TRUE(StartCodeAt(mpeg, 0, 0xB7) && StartCodeAt(mpeg, 4, 0xB3)) << mpeg.size() << " bytes";
    ASSERT_GE(mpeg.size(), 11u);
    const int width = uint8_t(mpeg[8]) << 4 | uint8_t(mpeg[9]) >> 4;
    const int height = (uint8_t(mpeg[9]) & 0x0F) << 8 | uint8_t(mpeg[10]);
    EXPECT_EQ(width, kLycWidth);
    EXPECT_EQ(height, kLycHeight);
    EXPECT_TRUE(StartCodeAt(mpeg, mpeg.size() - 4, 0xB7)) << "no end code: not finished";
}

TEST(Recording, AResolutionChosenWhileRecordingEndsTheFileAtTheOldSize) {
    RunOptions options = CameraRun();
    options.webcams = std::vector<Webcam>{{L"twosizes", L"YUY2 160x120;YUY2 320x240"}};
    App app(options);
    Window dialog = app.WaitForWindow(kMainDialog);
    const std::wstring images = ImagesFolder();

    // The webcam at 160x120, as a still shows.
    dialog.ChildOrThrow(kSettingsButton).Click();
    Window settings = app.WaitForWindow(kSettings);
    PickListRow(settings.ChildOrThrow(IDC_DEVICE_LIST), app.WebcamName(L"twosizes"));
    PickListRow(settings.ChildOrThrow(IDC_RESOLUTION_LIST), L"160x120");
    Sleep(300);
    settings.ChildOrThrow(IDOK).Click();
    app.WaitForNoWindow(kSettings);
    Sleep(1500);  // the restarted graph's frames at the new size
    dialog.ChildOrThrow(kLiveView).PressKey(VK_SPACE);
    std::vector<std::wstring> stills = WaitForFiles(images, 1);
    ASSERT_EQ(stills.size(), 1u) << testing::PrintToString(stills);
    Bitmap still;
    ASSERT_TRUE(ParseBitmap(ReadBytes(images + L"\\" + stills[0]), &still));
    ASSERT_EQ(still.width, 160);

    dialog.ChildOrThrow(kCaptureVideo).Click();
    ASSERT_TRUE(ShowsRecording(dialog, true));
    Sleep(1000);
    dialog.ChildOrThrow(kSettingsButton).Click();
    settings = app.WaitForWindow(kSettings);
    Window resolutions = settings.ChildOrThrow(IDC_RESOLUTION_LIST);
    Sleep(500);  // frames keep coming while the dialog is up
    PickListRow(resolutions, L"320x240");
    EXPECT_TRUE(ShowsRecording(dialog, false, false)) << "with Settings open";
    settings.ChildOrThrow(IDOK).Click();
    app.WaitForNoWindow(kSettings);
    EXPECT_TRUE(ShowsRecording(dialog, false));

    std::vector<std::wstring> recorded = WithExtension(WaitForFiles(images, 2), L".avi");
    ASSERT_EQ(recorded.size(), 1u) << testing::PrintToString(FileNames(images));
    std::vector<Bitmap> frames;
    ASSERT_TRUE(IsFinishedAvi(images + L"\\" + recorded[0], 160, 120, &frames));
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_TRUE(WebcamFrameNumber(frames[i]).has_value()) << "frame " << i << " of " << frames.size()
                                                              << " is no frame of the webcam, upright";
}

// Two copies of the program on one images folder, with the same prefix, capturing in the same
// seconds: one on the FK40, one on a webcam of another frame size. Every capture keeps a file of
// its own, never touched again by the other copy.
TEST(TwoPrograms, CapturingInTheSameSecondsNeitherOverwritesTheOther) {
    RunOptions webcamRun;
    webcamRun.freshImagesFolder = true;
    webcamRun.webcams = std::vector<Webcam>{{L"second", L"YUY2 160x120"}};
    App webcamApp(webcamRun);
    // Inside the first run, which holds the profile folder and the webcams to itself.
    RunOptions cameraRun = UniformCameraRun();
    cameraRun.freshImagesFolder = false;
    cameraRun.sharedTurns = false;
    App cameraApp(cameraRun);
    struct Copy {
        Window dialog, live;
        int width, height;
    };
    std::vector<Copy> copies;
    for (App* app : {&cameraApp, &webcamApp}) {
        Window dialog = app->WaitForWindow(kMainDialog);
        copies.push_back({dialog, dialog.ChildOrThrow(kLiveView), 0, 0});
        dialog.ChildOrThrow(kPrefixEdit).SetText(L"Both");
    }
    copies[0].width = kLycWidth, copies[0].height = kLycHeight;
    copies[1].width = 160, copies[1].height = 120;
    WaitForUniformPicture(copies[0].dialog);
    ASSERT_TRUE(ShowsWebcam(copies[1].live));
    const std::wstring images = ImagesFolder();

    // Each file as it was when first seen.
    std::map<std::wstring, std::string> written;
    auto checkFiles = [&](size_t count) {
        std::vector<std::wstring> names = WaitForFiles(images, count, 10s);
        EXPECT_EQ(names.size(), count) << testing::PrintToString(names);
        for (const auto& name : names) {
            const std::string bytes = ReadBytes(images + L"\\" + name);
            auto [seen, fresh] = written.emplace(name, bytes);
            EXPECT_TRUE(fresh || seen->second == bytes) << Narrow(name) << " changed after it was written";
        }
    };

    const int rounds = 8;
    for (int round = 1; round <= rounds; ++round) {
        WaitForStartOfSecond();
        for (const Copy& copy : copies) copy.live.PressKey(VK_SPACE);
        checkFiles(2 * round);
        if (HasFailure()) break;
    }
    // One still of each camera a round, each a whole picture of its camera.
    std::map<int, int> stillsOfWidth;
    for (const auto& [name, bytes] : written) {
        Bitmap still;
        EXPECT_TRUE(StillIndex(name, L"Both").has_value()) << Narrow(name);
        if (ParseBitmap(bytes, &still)) ++stillsOfWidth[still.width];
    }
    EXPECT_EQ(stillsOfWidth[kLycWidth], rounds);
    EXPECT_EQ(stillsOfWidth[160], rounds);

    WaitForStartOfSecond();
    for (const Copy& copy : copies) copy.dialog.ChildOrThrow(kCaptureVideo).Click();
    for (const Copy& copy : copies) ASSERT_TRUE(ShowsRecording(copy.dialog, true));
    Sleep(1500);
    for (const Copy& copy : copies) copy.dialog.ChildOrThrow(kCaptureVideo).Click();
    for (const Copy& copy : copies) ASSERT_TRUE(ShowsRecording(copy.dialog, false));
    for (App* app : {&cameraApp, &webcamApp}) EXPECT_FALSE(app->FindWindow({L"#32770", L"Capture Error"}));
    checkFiles(2 * rounds + 2);
    std::vector<std::wstring> recorded = WithExtension(FileNames(images), L".avi");
    ASSERT_EQ(recorded.size(), 2u) << testing::PrintToString(FileNames(images));
    EXPECT_EQ(recorded[0].substr(0, 14), recorded[1].substr(0, 14)) << "not started in one second";
    // Each file is one camera's recording at its own size.
    std::map<int, int> recordingsOfWidth;
    for (const auto& name : recorded) {
        const std::wstring path = images + L"\\" + name;
        for (const Copy& copy : copies) {
            std::vector<Bitmap> frames;
            if (IsFinishedAvi(path, copy.width, copy.height, &frames) && !frames.empty()) ++recordingsOfWidth[copy.width];
        }
    }
    EXPECT_EQ(recordingsOfWidth[kLycWidth], 1) << testing::PrintToString(recorded);
    EXPECT_EQ(recordingsOfWidth[160], 1) << testing::PrintToString(recorded);
}

}  // namespace

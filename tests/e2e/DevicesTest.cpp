// Which devices the program finds and uses: none, a webcam that cannot be set up or a camera whose
// library never answers its start, webcams alone, one it cannot show, and one that is unplugged while
// it is shown, alone or beside another. Each run has the virtual webcams to itself.
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include "standins/fk40/LycStandin.h"
#include "tests/e2e/Scenario.h"
#include "video/LycApi.h"

using namespace e2e;

namespace {

const wchar_t kDeviceErrorHeading[] = L"Some devices couldn't be initialized: ";
const wchar_t kDeviceErrorEnd[] = L"Check that the drivers are installed and the device(s) aren't in use.";

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    for (auto& line : lines)
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
    return lines;
}

RunOptions WebcamRun(std::vector<Webcam> webcams) {
    RunOptions options;
    options.freshImagesFolder = true;
    options.webcams = std::move(webcams);
    return options;
}

// The still that the space bar at the live view takes next, once the live view shows a picture.
std::wstring NextStill(Window dialog) {
    std::vector<std::wstring> before = FileNames(ImagesFolder());
    dialog.ChildOrThrow(kLiveView).PressKey(VK_SPACE);
    std::vector<std::wstring> after = WaitForFiles(ImagesFolder(), before.size() + 1);
    std::vector<std::wstring> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    if (added.size() != 1)
        throw Error(std::to_string(added.size()) + " stills for one space bar");
    return ImagesFolder() + L"\\" + added[0];
}

RunOptions NoWebcam() {
    RunOptions options;
    options.webcams = std::vector<Webcam>{};  // nobody's
    return options;
}

// The camera's library beside the program, its LYC_Init never returning: the program gives up on it
// after a while.
RunOptions WithCameraThatNeverStarts(RunOptions options) {
    options.camera = true;
    options.environment[L"" LYC_STANDIN_HANG] = L"LYC_Init";
    return options;
}

TEST(Devices, NoDeviceAtAllEndsTheProgramAfterOneMessage) {
    const struct Case {
        const char* name;
        RunOptions options;
    } cases[] = {
        {"no device", NoWebcam()},
        {"a camera whose start never returns", WithCameraThatNeverStarts(NoWebcam())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        App app(c.options);
        Window box = app.WaitForMessageBox(L"No Devices Found");
        EXPECT_EQ(App::MessageBoxText(box), L"No video devices detected. Please connect a device and restart Lumetra.");
        Sleep(500);  // another box would be there by now
        std::vector<Window> shown = app.Windows({L"#32770", L""});
        EXPECT_EQ(shown.size(), 1u) << app.Describe();
        app.DismissMessageBox(L"No Devices Found");
        ASSERT_TRUE(app.WaitForExit()) << app.Describe();
        EXPECT_EQ(app.ExitCode(), 1u);
    }
}

// A device that fails at start is named in one box, and the one that works is shown.
TEST(Devices, ADeviceThatCannotBeSetUpIsNamedAndTheOtherShown) {
    const struct Case {
        const char* name;
        RunOptions options;
        bool cameraFails;  // else the webcam
    } cases[] = {
        {"a webcam that cannot be set up", WebcamRun({{L"broken", L"YUY2 160x120", true}}), false},
        {"a camera whose start never returns", WithCameraThatNeverStarts(WebcamRun({{L"only", L"YUY2 160x120", false}})),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunOptions options = c.options;
        options.camera = true;
        App app(options);
        Window box = app.WaitForMessageBox(L"Device Error");
        std::vector<std::wstring> lines = Lines(App::MessageBoxText(box));
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines.front(), kDeviceErrorHeading);
        EXPECT_EQ(lines.back(), kDeviceErrorEnd);
        const std::wstring failed = c.cameraFails ? L"40K USB Video Device" : app.WebcamName(L"broken");
        EXPECT_EQ(std::count(lines.begin(), lines.end(), failed), 1) << testing::PrintToString(lines);
        app.DismissMessageBox(L"Device Error");
        Window dialog = app.WaitForWindow(kMainDialog);
        Sleep(500);
        EXPECT_FALSE(app.FindWindow({L"#32770", L"Device Error"})) << "a second box";
        Window live = dialog.ChildOrThrow(kLiveView);
        EXPECT_TRUE(Streams(live));
        if (c.cameraFails) {
            EXPECT_TRUE(ShowsWebcam(live));
        }
        Bitmap still;
        EXPECT_TRUE(ParseBitmap(ReadBytes(NextStill(dialog)), &still));
        if (c.cameraFails) {
            EXPECT_TRUE(WebcamFrameNumber(still).has_value()) << "not the webcam's";
        } else {
            EXPECT_EQ(still.width, kLycWidth) << "not the camera's";
        }
    }
}

TEST(Devices, AWebcamAloneGivesUprightFramesOfItsSequence) {
    App app(WebcamRun({{L"only", L"", false}}));  // the stand-in's formats: the smallest, 160x120, first
    Window dialog = app.WaitForWindow(kMainDialog);
    ASSERT_TRUE(Streams(dialog.ChildOrThrow(kLiveView)));
    ASSERT_TRUE(ShowsWebcam(dialog.ChildOrThrow(kLiveView)));
    std::wstring path = NextStill(dialog);
    std::string file = ReadBytes(path);
    EXPECT_EQ(file.size(), 57654u);
    Bitmap still;
    ASSERT_TRUE(ParseBitmap(file, &still));
    EXPECT_EQ(still.width, 160);
    EXPECT_EQ(still.height, 120);
    if (!WebcamFrameNumber(still).has_value()) {
        // What was written instead, for the record: its first pixels and how much of it is black.
        size_t zeros = std::count(still.pixels.begin(), still.pixels.end(), uint8_t(0));
        std::string first;
        for (size_t i = 0; i < 12 && i < still.pixels.size(); ++i) first += std::to_string(still.pixels[i]) + " ";
        ADD_FAILURE() << "no frame of the virtual webcam, upright; first bytes " << first << "; " << zeros << " of "
                      << still.pixels.size() << " bytes zero";
    }
}

bool HaveMjpegDecoder() {
    CLSID decoder;  // the system's MJPEG decompressor filter
    CLSIDFromString(L"{301056D0-6DFF-11D2-9EEB-006008039E37}", &decoder);
    CoInitialize(nullptr);
    IUnknown* filter = nullptr;
    bool found = SUCCEEDED(CoCreateInstance(decoder, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&filter));
    if (filter)
        filter->Release();
    CoUninitialize();
    return found;
}

TEST(Devices, AWebcamOfMotionJpegOnlyRunsButCannotCaptureWithoutADecoder) {
    if (HaveMjpegDecoder())
        GTEST_SKIP() << "the system can show motion JPEG";
    App app(WebcamRun({{L"mjpg", L"MJPG 640x480", false}}));
    Window dialog = app.WaitForWindow(kMainDialog);
    Sleep(1000);  // time enough to show a frame, were there one
    dialog.ChildOrThrow(kLiveView).PressKey(VK_SPACE);
    EXPECT_EQ(app.DismissMessageBox(L"Capture Error"), kCaptureErrorText);
    EXPECT_TRUE(FileNames(ImagesFolder()).empty()) << testing::PrintToString(FileNames(ImagesFolder()));
    EXPECT_TRUE(app.Running()) << app.Describe();
}

// Choosing the device in Settings, as the operator does.
void ChooseInSettings(const App& app, const Window& dialog, const std::wstring& device) {
    dialog.ChildOrThrow(kSettingsButton).Click();
    const WindowQuery settingsQuery{L"#32770", L"Settings"};
    Window settings = app.WaitForWindow(settingsQuery);
    PickListRow(settings.ChildOrThrow(1023), device);
    Sleep(300);  // the choice is handled before OK, which comes after it in the queue anyway
    settings.ChildOrThrow(IDOK).Click();
    app.WaitForNoWindow(settingsQuery);
}

// Once the live device shows nothing, nothing of what it or another camera showed before is kept,
// and nothing stands in for a picture it never delivered: the live view is black, and a still, a
// reference and a recording each fail with their box, leaving no file.
TEST(Devices, ALiveDeviceThatShowsNothingLeavesNoPictureToCapture) {
    enum Act { Nothing, ChooseTheWebcam, LoseTheWebcam };
    struct Case {
        const char* name;
        bool camera;
        std::vector<Webcam> webcams;
        std::map<std::wstring, std::wstring> environment;
        Act act;  // after the first picture, when there is one to wait for
        bool needsNoDecoder;
    } const cases[] = {
        {"the camera, then a webcam that delivers nothing chosen", true, {{L"mjpg", L"MJPG 640x480", false}}, {},
         ChooseTheWebcam, true},
        {"the only webcam unplugged", false, {{L"only", L"YUY2 320x240", false}}, {}, LoseTheWebcam, false},
        {"the camera, which delivers no frame", true, {}, {{L"" LYC_STANDIN_FPS, L"0"}}, Nothing, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsNoDecoder && HaveMjpegDecoder())
            continue;  // the system shows motion JPEG: that webcam delivers
        RunOptions options = WebcamRun(c.webcams);
        options.camera = c.camera;
        options.environment = c.environment;
        App app(options);
        Window dialog = app.WaitForWindow(kMainDialog);
        Window live = dialog.ChildOrThrow(kLiveView);
        if (c.act != Nothing) {
            ASSERT_TRUE(Streams(live));
            if (c.act == ChooseTheWebcam)
                ChooseInSettings(app, dialog, app.WebcamName(c.webcams[0].name));
            else
                app.LoseWebcam(c.webcams[0].name);
        } else {
            Sleep(1000);  // time enough to show a frame, were there one
        }
        EXPECT_TRUE(TurnsBlack(live));
        live.PressKey(VK_SPACE);
        EXPECT_EQ(app.DismissMessageBox(L"Capture Error"), kCaptureErrorText);
        dialog.ChildOrThrow(kCaptureReference).Click();
        EXPECT_EQ(app.DismissMessageBox(L"Capture Error"), kCaptureErrorText);
        dialog.ChildOrThrow(kCaptureVideo).Click();
        EXPECT_EQ(app.DismissMessageBox(L"Capture Error"), kRecordErrorText);
        EXPECT_TRUE(FileNames(ImagesFolder()).empty()) << testing::PrintToString(FileNames(ImagesFolder()));
        EXPECT_TRUE(FileNames(ImagesFolder() + L"\\ReferenceImages").empty());
        EXPECT_TRUE(app.Running()) << app.Describe();
    }
}

TEST(Devices, AnUnpluggedWebcamGivesWayToTheNext) {
    // Told apart by their sizes; which one comes first is the system's enumeration order.
    App app(WebcamRun({{L"first", L"YUY2 160x120", false}, {L"second", L"YUY2 320x240", false}}));
    Window dialog = app.WaitForWindow(kMainDialog);
    Window live = dialog.ChildOrThrow(kLiveView);
    ASSERT_TRUE(Streams(live));
    ASSERT_TRUE(ShowsWebcam(live));
    Bitmap shown;
    ASSERT_TRUE(ParseBitmap(ReadBytes(NextStill(dialog)), &shown));
    ASSERT_TRUE(shown.width == 160 || shown.width == 320) << shown.width;
    const bool firstShown = shown.width == 160;
    app.LoseWebcam(firstShown ? L"first" : L"second");

    Sleep(3000);  // generous: the graph's event, the new list and the new source's graph
    ASSERT_TRUE(ShowsWebcam(live));  // its first sample
    Bitmap next;
    ASSERT_TRUE(ParseBitmap(ReadBytes(NextStill(dialog)), &next));
    EXPECT_EQ(next.width, firstShown ? 320 : 160) << "still the unplugged webcam's";
    EXPECT_TRUE(WebcamFrameNumber(next).has_value());
    EXPECT_TRUE(Streams(live));
}

}  // namespace

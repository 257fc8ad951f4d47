// The FK40 camera over a library that misbehaves while the program runs, as vendor libraries do: it
// stops delivering mid-run (unplugged, a stuck driver), crashes inside its frame call, or never
// returns from its end. The program goes on: no still or recording holds a picture the camera no
// longer delivers, and the close ends the process.
#include <gtest/gtest.h>
#include <algorithm>
#include <optional>
#include "standins/fk40/LycStandin.h"
#include "tests/e2e/Recordings.h"
#include "tests/e2e/Scenario.h"
#include "video/LycApi.h"

using namespace e2e;

namespace {

// The stand-in's counter picture: every byte of frame n reads n % 256. Its fault starts after this
// many frames, seven seconds in at 30 frames a second: the main window shows the picture and a
// recording runs before. Below 256, so that the last picture tells the last frame.
constexpr int kFramesBeforeFault = 210;
// The camera has no picture two seconds after its last frame; a recording gets the frozen picture
// until then, one frame per 60 ms slot of the AVI. A margin for the slot and the paint.
constexpr size_t kMostFrozenFrames = 2500 / 60;

// n % 256 of the counter frame that the picture is; none for another picture.
std::optional<int> CounterOf(const Bitmap& picture) {
    if (picture.pixels.empty() ||
        std::any_of(picture.pixels.begin(), picture.pixels.end(), [&](uint8_t b) { return b != picture.pixels[0]; }))
        return std::nullopt;
    return picture.pixels[0];
}

struct Fault {
    const char* name;
    const wchar_t* knob;  // LYC_STANDIN_FAULT
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class StoppingCamera : public testing::TestWithParam<Fault> {};

// A recording runs across the stop. Once the view is black, a still and a reference are refused
// with their box and leave no file; the recording, which went on without frames, holds the frozen
// picture for no more than about two seconds at its end and is read back whole. The program answers
// and closes as usual, whatever the library's worker thread is doing.
TEST_P(StoppingCamera, LeavesNoStillAndNoRunOfItsLastPicture) {
    RunOptions options = CameraRun(L"counter");
    options.environment[L"" LYC_STANDIN_FAULT] = GetParam().knob;
    options.environment[L"" LYC_STANDIN_FAULT_AFTER] = std::to_wstring(kFramesBeforeFault);
    App app(options);
    Window dialog = app.WaitForWindow(kMainDialog);
    Window live = dialog.ChildOrThrow(kLiveView);
    ASSERT_TRUE(Streams(live));
    Window video = dialog.ChildOrThrow(kCaptureVideo);
    video.Click();
    ASSERT_TRUE(ShowsRecording(dialog, true));

    EXPECT_TRUE(TurnsBlack(live, 20s));
    EXPECT_TRUE(app.Running()) << app.Describe();
    EXPECT_TRUE(ShowsRecording(dialog, true)) << "the recording goes on without frames";
    video.Click();
    ASSERT_TRUE(ShowsRecording(dialog, false));
    dialog.ChildOrThrow(kCaptureImage).Click();
    EXPECT_EQ(app.DismissMessageBox(L"Capture Error", IDOK, 10s), kCaptureErrorText);
    dialog.ChildOrThrow(kCaptureReference).Click();
    EXPECT_EQ(app.DismissMessageBox(L"Capture Error", IDOK, 10s), kCaptureErrorText);

    const std::wstring images = ImagesFolder();
    std::vector<std::wstring> files = FileNames(images);
    EXPECT_TRUE(FileNames(images + L"\\ReferenceImages").empty());
    ASSERT_EQ(files.size(), 1u) << "a still beside the recording: " << testing::PrintToString(files);
    ASSERT_TRUE(EndsWith(files[0], L".avi")) << Narrow(files[0]);
    std::vector<Bitmap> frames;
    ASSERT_TRUE(IsFinishedAvi(images + L"\\" + files[0], kLycWidth, kLycHeight, &frames));
    for (size_t i = 0; i < frames.size(); ++i)
        ASSERT_TRUE(CounterOf(frames[i]).has_value()) << "frame " << i << " of " << frames.size()
                                                      << " is no picture of the camera";
    // The recording holds the camera's pictures up to its last ones (a crash takes the picture at
    // once; frames between slots are not recorded).
    EXPECT_LT(CounterOf(frames.front()), kFramesBeforeFault) << "the recording began after the stop";
    const int last = CounterOf(frames.back()).value_or(-1);
    EXPECT_TRUE(last <= kFramesBeforeFault && last >= kFramesBeforeFault - 10) << "the last picture is frame " << last;
    size_t frozen = 1;
    while (frozen < frames.size() && frames[frames.size() - 1 - frozen].pixels == frames.back().pixels) ++frozen;
    EXPECT_LE(frozen, kMostFrozenFrames) << "frames of the last picture at the end, of " << frames.size();

    dialog.Close();
    ASSERT_TRUE(app.WaitForExit()) << app.Describe();
    EXPECT_EQ(app.ExitCode(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Faults, StoppingCamera,
                         testing::Values(Fault{"WritesNothing", L"unfilled"}, Fault{"FailsAtOnce", L"fail"},
                                         Fault{"NeverReturns", L"hang"}, Fault{"CrashesInside", L"crash"}),
                         [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

// A library whose LYC_Term never returns holds the close for a few seconds, not for good: the
// recording in progress is finished, the window goes and the process ends with exit code 0.
TEST(CameraEnd, ThatNeverReturnsLetsTheCloseEndTheProgram) {
    RunOptions options = CameraRun(L"counter");
    options.environment[L"" LYC_STANDIN_HANG] = L"LYC_Term";
    App app(options);
    Window dialog = app.WaitForWindow(kMainDialog);
    ASSERT_TRUE(Streams(dialog.ChildOrThrow(kLiveView)));
    dialog.ChildOrThrow(kCaptureVideo).Click();
    ASSERT_TRUE(ShowsRecording(dialog, true));
    Sleep(1000);
    dialog.Close();
    ASSERT_TRUE(app.WaitForExit()) << app.Describe();
    EXPECT_EQ(app.ExitCode(), 0u);
    std::vector<std::wstring> files = FileNames(ImagesFolder());
    ASSERT_EQ(files.size(), 1u) << testing::PrintToString(files);
    std::vector<Bitmap> frames;
    EXPECT_TRUE(IsFinishedAvi(ImagesFolder() + L"\\" + files[0], kLycWidth, kLycHeight, &frames));
}

}  // namespace

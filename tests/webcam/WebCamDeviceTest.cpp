// The webcam provider and sources against the virtual webcam, registered per test program.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>
#include "standins/webcam/StandinPattern.h"
#include "standins/webcam/StandinWebcam.h"
#include "tests/support/FakeVideo.h"
#include "tests/support/TestSupport.h"
#include "video/CompositeVideoSourceProvider.h"
#include "video/WebCamVideoSource.h"
#include "video/WebCamVideoSourceProvider.h"

namespace {

// Unique to this process: ctest runs the test programs in parallel in one Wine prefix.
std::wstring Instance(const wchar_t* name) { return L"wctest" + std::to_wstring(GetCurrentProcessId()) + L"." + name; }
std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

struct DeviceConfig {
    const wchar_t* instance;
    const wchar_t* friendly;
    const wchar_t* description;  // null: none
    const wchar_t* formats;
    int pins;
    bool failBind;
};

const DeviceConfig kDevices[] = {
    {L"described", L"Friendly", L"Described", L"YUY2 160x120;YUY2 640x480;MJPG 320x240;RGB24 64x48", 1, false},
    {L"plain", L"Plain", nullptr, L"YUY2 1280x720;YUY2 160x120;YUY2 640x480", 1, false},
    // Pin 1: YUY2 320x240, MJPG 640x480; pin 2: YUY2 64x48, RGB24 32x24.
    {L"twopins", L"Two pins", nullptr, L"YUY2 320x240;MJPG 640x480;YUY2 64x48;RGB24 32x24", 2, false},
    {L"failing", L"Failing", nullptr, L"YUY2 160x120", 1, true},
    {L"lost", L"Lost", nullptr, L"YUY2 64x48", 1, false},
    {L"close", L"Close", nullptr, L"YUY2 64x48", 1, false},
    {L"silent", L"Silent", nullptr, L"YUY2 64x48;YUY2 160x120", 1, false},
};

// The names the devices are listed under, unique like the instances.
std::string Listed(const wchar_t* name) { return Narrow(std::wstring(name) + L" " + Instance(L"")); }

HMODULE g_standin;
// Held alone while the devices are registered: a program that another test starts meanwhile would
// list them, and the failing one would show it an error.
std::unique_ptr<WebcamLock> g_webcamLock;
StandinWebcamAddFn g_add;
StandinWebcamRemoveFn g_remove;
StandinWebcamLoseFn g_lose;

// Registers the device under its instance, replacing an earlier registration of it.
HRESULT Register(const DeviceConfig& d) {
    std::wstring friendly = std::wstring(d.friendly) + L" " + Instance(L"");
    std::wstring description = d.description ? std::wstring(d.description) + L" " + Instance(L"") : L"";
    return g_add(Instance(d.instance).c_str(), friendly.c_str(), d.description ? description.c_str() : nullptr,
                 d.formats, d.pins, d.failBind);
}

const DeviceConfig& Config(const wchar_t* instance) {
    return *std::find_if(std::begin(kDevices), std::end(kDevices),
                         [&](const DeviceConfig& d) { return std::wcscmp(d.instance, instance) == 0; });
}

VideoSource* Find(std::vector<VideoSource*>* list, const wchar_t* name) {
    for (VideoSource* s : *list)
        if (s->description == Listed(name)) return s;
    return nullptr;
}

// Enumerates until the named devices are all listed (for a few seconds at most): another test
// program adding or removing its devices meanwhile can shift the registry enumeration past ours.
constexpr int kListAttempts = 200;
std::vector<VideoSource*> ListWith(VideoSourceProvider& provider, std::initializer_list<const wchar_t*> names) {
    std::vector<VideoSource*> list;
    for (int attempt = 0; attempt < kListAttempts; ++attempt) {
        list = *provider.GetVideoSources();
        if (std::all_of(names.begin(), names.end(), [&](const wchar_t* n) { return Find(&list, n); })) break;
        Sleep(10);
    }
    return list;
}

std::vector<std::string> Labels(const VideoSource* s) {
    std::vector<std::string> out;
    for (const VideoResolution* r : s->resolutions) out.push_back(r->label);
    return out;
}

VideoResolution* ResolutionOf(VideoSource* s, const char* label) {
    for (VideoResolution* r : s->resolutions)
        if (r->label == label) return r;
    return nullptr;
}

// Polls like the live view until the published frame differs from previous (by default the
// initial black one); a copy of it, or nothing after a generous deadline.
using Frame = std::vector<uint8_t>;
Frame NextFrame(VideoSource* s, int w, int h, const Frame& previous = {}) {
    const size_t size = static_cast<size_t>(w) * h * 3;
    const Frame black(size, 0);
    const Frame& old = previous.empty() ? black : previous;
    for (int i = 0; i < 1500; ++i) {
        s->UpdateFrame();
        const uint8_t* f = s->GetFrame(nullptr);
        if (f && !std::equal(old.begin(), old.end(), f)) return Frame(f, f + size);
        Sleep(10);
    }
    return {};
}

// Whether the frame is the virtual webcam's picture number n, converted, for the n whose first
// pixel it shows.
testing::AssertionResult IsPatternFrame(const Frame& frame, int w, int h) {
    if (frame.empty()) return testing::AssertionFailure() << "no frame";
    std::vector<uint8_t> yuy2(static_cast<size_t>(w) * h * 2), bgr(static_cast<size_t>(w) * h * 3);
    for (uint32_t n = 0; n < 220 * 225; ++n) {
        uint8_t group[4], first[6];
        StandinYuy2Frame(group, 2, 1, n);
        ConvertYuy2ToBgr(2, 1, group, first);
        if (std::memcmp(first, frame.data(), 3) != 0) continue;
        StandinYuy2Frame(yuy2.data(), w, h, n);
        ConvertYuy2ToBgr(w, h, yuy2.data(), bgr.data());
        if (bgr == frame) return testing::AssertionSuccess() << "frame " << n;
    }
    return testing::AssertionFailure() << "not a frame of the pattern at " << w << "x" << h;
}

class WebCamDeviceTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        g_webcamLock = std::make_unique<WebcamLock>(true);
        g_standin = LoadLibraryW(FromBuild(STANDIN_WEBCAM_REL).c_str());
        ASSERT_TRUE(g_standin);
        g_add = reinterpret_cast<StandinWebcamAddFn>(GetProcAddress(g_standin, "StandinWebcamAdd"));
        g_remove = reinterpret_cast<StandinWebcamRemoveFn>(GetProcAddress(g_standin, "StandinWebcamRemove"));
        g_lose = reinterpret_cast<StandinWebcamLoseFn>(GetProcAddress(g_standin, "StandinWebcamLose"));
        ASSERT_TRUE(g_add && g_remove && g_lose);
        for (const DeviceConfig& d : kDevices) ASSERT_EQ(Register(d), S_OK);
    }
    static void TearDownTestSuite() {
        if (g_remove)
            for (const DeviceConfig& d : kDevices) g_remove(Instance(d.instance).c_str());
        g_webcamLock.reset();
    }

    VideoSource* Source(const wchar_t* name) {
        std::vector<VideoSource*> list = ListWith(m_provider, {name});
        return Find(&list, name);
    }

    WebCamVideoSourceProvider m_provider;
};

TEST_F(WebCamDeviceTest, ListsDevicesWithTheirFormats) {
    std::vector<VideoSource*> all = ListWith(m_provider, {L"Described", L"Plain", L"Failing"});
    std::vector<VideoSource*>* list = &all;
    EXPECT_FALSE(m_provider.NeedsRefresh());
    // Listed under "Description" when there is one, else under "FriendlyName".
    EXPECT_FALSE(Find(list, L"Friendly"));
    VideoSource* described = Find(list, L"Described");
    VideoSource* plain = Find(list, L"Plain");
    ASSERT_TRUE(described && plain);
    EXPECT_EQ(Labels(described), (std::vector<std::string>{"160x120", "320x240", "640x480"}));  // RGB24 left out
    EXPECT_EQ(Labels(plain), (std::vector<std::string>{"160x120", "640x480", "1280x720"}));
    for (VideoSource* s : {described, plain}) {
        EXPECT_TRUE(s->initialized);
        EXPECT_EQ(s->name, "webcam");
        EXPECT_EQ(s->id, "webcam");
        for (const VideoResolution* r : s->resolutions) EXPECT_EQ(r->bitsPerPixel, 24);
    }
    EXPECT_EQ(ResolutionOf(plain, "640x480")->index, 2);

    VideoSource* failing = Find(list, L"Failing");
    ASSERT_TRUE(failing);
    EXPECT_FALSE(failing->initialized);
    EXPECT_TRUE(failing->resolutions.empty());
}

TEST_F(WebCamDeviceTest, KeepsOneSourcePerDeviceAcrossEnumerations) {
    auto names = {L"Described", L"Plain", L"Two pins", L"Failing", L"Lost", L"Close"};
    std::vector<VideoSource*> first = ListWith(m_provider, names);
    std::vector<VideoSource*> second = ListWith(m_provider, names);
    for (const DeviceConfig& d : kDevices) {
        const wchar_t* name = d.description ? d.description : d.friendly;
        ASSERT_TRUE(Find(&first, name)) << Narrow(name);
        EXPECT_EQ(Find(&first, name), Find(&second, name)) << Narrow(name);
    }
}

TEST_F(WebCamDeviceTest, StreamsTheExactPictureAtEachResolution) {
    VideoSource* plain = Source(L"Plain");
    ASSERT_TRUE(plain);
    for (const char* label : {"160x120", "640x480"}) {
        VideoResolution* r = ResolutionOf(plain, label);
        ASSERT_TRUE(r);
        plain->Stop();
        plain->Open(r);
        EXPECT_FALSE(plain->GetFrame(nullptr)) << "opened, not started";
        EXPECT_EQ(plain->UpdateFrame(), 0);
        plain->Start();
        EXPECT_TRUE(IsPatternFrame(NextFrame(plain, r->width, r->height), r->width, r->height)) << label;
    }
    plain->Close();
}

TEST_F(WebCamDeviceTest, StreamsAFormatOfTheSecondPinFromThatPin) {
    VideoSource* twoPins = Source(L"Two pins");
    ASSERT_TRUE(twoPins);
    EXPECT_EQ(Labels(twoPins), (std::vector<std::string>{"64x48", "320x240", "640x480"}));
    VideoResolution* r = ResolutionOf(twoPins, "64x48");
    EXPECT_EQ(r->index, 2);
    twoPins->Open(r);
    twoPins->Start();
    EXPECT_TRUE(IsPatternFrame(NextFrame(twoPins, 64, 48), 64, 48));
    twoPins->Close();
}

TEST_F(WebCamDeviceTest, StartAndStopFollowTheRunningState) {
    VideoSource* plain = Source(L"Plain");
    ASSERT_TRUE(plain);
    // Before any Open there is no graph to run.
    EXPECT_EQ(plain->Start(), 0);
    EXPECT_FALSE(plain->GetFrame(nullptr));
    EXPECT_EQ(plain->UpdateFrame(), 0);
    EXPECT_EQ(plain->Stop(), 0);

    plain->Open(ResolutionOf(plain, "160x120"));
    EXPECT_EQ(plain->Start(), 0);
    EXPECT_EQ(plain->Start(), 1) << "already running";
    EXPECT_EQ(plain->UpdateFrame(), 1);
    EXPECT_EQ(plain->UpdateFrame(), 1) << "whether or not a sample came in between";
    ASSERT_TRUE(IsPatternFrame(NextFrame(plain, 160, 120), 160, 120));
    EXPECT_EQ(plain->Stop(), 0);
    EXPECT_FALSE(plain->GetFrame(nullptr));
    EXPECT_EQ(plain->UpdateFrame(), 0);
    EXPECT_EQ(plain->Stop(), 0);
    plain->Start();  // the same graph runs again
    const Frame shown(plain->GetFrame(nullptr), plain->GetFrame(nullptr) + 160 * 120 * 3);
    EXPECT_TRUE(IsPatternFrame(NextFrame(plain, 160, 120, shown), 160, 120));
    plain->Close();
    EXPECT_FALSE(plain->GetFrame(nullptr));
    EXPECT_EQ(plain->Start(), 0) << "closed: no graph";
}

// The frame buffers' zeros are no picture: after every Open a webcam hands out no frame until a
// sample of its new graph was published, and none at all while the device sends nothing.
TEST_F(WebCamDeviceTest, NoFrameUntilTheDeviceDeliversOne) {
    VideoSource* silent = Source(L"Silent");
    ASSERT_TRUE(silent);
    struct Case {
        const char* what;
        bool sendsNothing;  // the device is lost before the start: it streams no sample
    } const cases[] = {{"opened again at another size", false}, {"a device that sends nothing", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Held open here so that its state lasts until a filter of the device opens it too.
        HANDLE lost = CreateEventW(nullptr, TRUE, FALSE, StandinWebcamLostEvent(Instance(L"silent")).c_str());
        ASSERT_TRUE(lost);
        if (c.sendsNothing) {
            SetEvent(lost);
        } else {
            silent->Open(ResolutionOf(silent, "64x48"));
            silent->Start();
            ASSERT_TRUE(IsPatternFrame(NextFrame(silent, 64, 48), 64, 48));
            silent->Stop();
        }
        silent->Open(ResolutionOf(silent, "160x120"));
        silent->Start();
        EXPECT_FALSE(silent->GetFrame(nullptr)) << "a frame before the first sample was published";
        if (c.sendsNothing) {
            for (int i = 0; i < 50; ++i, Sleep(10)) {  // a streaming device sends 15 samples meanwhile
                EXPECT_EQ(silent->UpdateFrame(), 1);
                ASSERT_FALSE(silent->GetFrame(nullptr)) << "a frame of a device that sent nothing";
            }
        } else {
            EXPECT_TRUE(IsPatternFrame(NextFrame(silent, 160, 120), 160, 120));
        }
        silent->Close();
        ResetEvent(lost);
        CloseHandle(lost);
    }
}

TEST_F(WebCamDeviceTest, OpenRefusesAResolutionOfAnotherSource) {
    VideoSource* plain = Source(L"Plain");
    ASSERT_TRUE(plain);
    plain->Open(ResolutionOf(plain, "160x120"));
    plain->Start();
    const Frame first = NextFrame(plain, 160, 120);
    ASSERT_FALSE(first.empty());
    VideoResolution foreign = *ResolutionOf(plain, "640x480");
    testing::internal::CaptureStderr();
    plain->Open(&foreign);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    // Still streaming at the old size: later frames of the picture keep coming.
    EXPECT_TRUE(IsPatternFrame(NextFrame(plain, 160, 120, first), 160, 120));
    plain->Close();
}

TEST_F(WebCamDeviceTest, MjpgNeedsTheDecompressor) {
    VideoSource* described = Source(L"Described");
    ASSERT_TRUE(described);
    ComPtr<IBaseFilter> decoder;
    bool haveDecoder = SUCCEEDED(CoCreateInstance(CLSID_MjpegDec, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&decoder)));
    decoder.Reset();
    testing::internal::CaptureStderr();
    described->Open(ResolutionOf(described, "320x240"));
    std::string err = testing::internal::GetCapturedStderr();
    described->Start();
    if (haveDecoder) {
        EXPECT_FALSE(NextFrame(described, 320, 240).empty());
    } else {
        // Wine has none: the Open fails with one line and leaves the source not running.
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find("320x240"), std::string::npos) << err;
        EXPECT_FALSE(described->GetFrame(nullptr));
        EXPECT_EQ(described->UpdateFrame(), 0);
    }
    // The source goes on working at a YUY2 format.
    described->Stop();
    described->Open(ResolutionOf(described, "160x120"));
    described->Start();
    EXPECT_TRUE(IsPatternFrame(NextFrame(described, 160, 120), 160, 120));
    described->Close();
}

// A device lost while it streams marks the list for refresh through its graph's event, as the
// main dialog hears of it. From then on the lost source gives no frame and holds no filter of the
// device, without being stopped. Unplugged, it leaves the list. Plugged back in (registered again
// under the same device) it is listed once, by a new source, which streams: no filter of the run
// that was lost holds the device (the virtual webcam's filters share the device-lost event while
// one is bound).
TEST_F(WebCamDeviceTest, LostDeviceLeavesTheListOrStreamsAgainWhenPluggedBack) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    const std::wstring instance = Instance(L"lost");
    struct Case {
        const char* what;
        bool pluggedBack;
    } cases[] = {{"unplugged", false}, {"plugged back", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Register(Config(L"lost")), S_OK);
        auto* webcams = new WebCamVideoSourceProvider;
        CompositeVideoSourceProvider composite(webcams, new FakeProvider);  // no cameras: only the webcams
        composite.SetNotifyWindow(window);
        std::vector<VideoSource*> list = ListWith(composite, {L"Lost"});
        auto* lost = static_cast<WebCamVideoSource*>(Find(&list, L"Lost"));
        ASSERT_TRUE(lost);
        lost->Open(lost->resolutions[0]);
        lost->Start();
        ASSERT_FALSE(NextFrame(lost, 64, 48).empty());
        EXPECT_FALSE(webcams->PollGraphEvents()) << "nothing lost yet";
        EXPECT_FALSE(composite.NeedsRefresh());

        if (!c.pluggedBack) {
            ASSERT_EQ(g_remove(instance.c_str()), S_OK);
        }
        ASSERT_EQ(g_lose(instance.c_str()), S_OK);
        // The graph tells the notification window of every event; the main dialog answers each
        // with CheckDeviceLost.
        MSG msg{};
        for (int i = 0; i < 1500 && !composite.NeedsRefresh(); ++i) {
            while (!composite.NeedsRefresh() && PeekMessageW(&msg, window, 0, 0, PM_REMOVE))
                if (msg.message == 0x1F && msg.lParam == 27) composite.CheckDeviceLost();
            if (!composite.NeedsRefresh()) Sleep(10);
        }
        ASSERT_TRUE(composite.NeedsRefresh()) << "the loss was not heard of";
        EXPECT_FALSE(webcams->PollGraphEvents()) << "all events drained";
        EXPECT_FALSE(lost->GetFrame(nullptr)) << "the lost device's last frame is still handed out";
        EXPECT_EQ(lost->UpdateFrame(), 0);
        EXPECT_FALSE(lost->Graph()->captureFilter) << "the lost source still holds the device";
        EXPECT_FALSE(lost->Graph()->graph);

        if (c.pluggedBack) {
            ASSERT_EQ(Register(Config(L"lost")), S_OK);  // the same instance: the same device
        }
        list = c.pluggedBack ? ListWith(composite, {L"Lost", L"Plain"}) : ListWith(composite, {L"Plain"});
        EXPECT_FALSE(composite.NeedsRefresh());
        EXPECT_TRUE(Find(&list, L"Plain"));
        const auto rows = std::count_if(list.begin(), list.end(),
                                        [](VideoSource* s) { return s->description == Listed(L"Lost"); });
        EXPECT_EQ(rows, c.pluggedBack ? 1 : 0);
        EXPECT_EQ(std::count(list.begin(), list.end(), lost), 0);

        if (c.pluggedBack) {
            VideoSource* back = Find(&list, L"Lost");
            ASSERT_TRUE(back);
            back->Open(back->resolutions[0]);
            back->Start();
            EXPECT_TRUE(IsPatternFrame(NextFrame(back, 64, 48), 64, 48)) << "the device plugged back does not stream";
            back->Close();
        }
        lost->Close();
    }
    DestroyWindow(window);
}

TEST_F(WebCamDeviceTest, CloseAllSourcesStopsTheStreamingGraph) {
    auto* close = static_cast<WebCamVideoSource*>(Source(L"Close"));
    ASSERT_TRUE(close);
    close->Open(close->resolutions[0]);
    close->Start();
    ASSERT_FALSE(NextFrame(close, 64, 48).empty());
    // CloseAllSources enumerates again; an enumeration that another program's registry change
    // made miss the device is repeated.
    for (int i = 0; i < 20 && close->Graph()->control; ++i) m_provider.CloseAllSources();
    EXPECT_FALSE(close->Graph()->control) << "graph released";
    EXPECT_FALSE(close->GetFrame(nullptr));
    EXPECT_EQ(close->UpdateFrame(), 0);
}

TEST_F(WebCamDeviceTest, PinAndFilterLookUps) {
    const std::wstring name = L"Plain " + Instance(L"");
    ComPtr<IBaseFilter> plain;
    for (int attempt = 0; attempt < 20 && !plain; ++attempt)  // as ListWith
        plain = FindCaptureFilter(name.c_str(), CLSID_VideoInputDeviceCategory);
    ASSERT_TRUE(plain);
    EXPECT_TRUE(GetPin(plain.Get(), L"capture"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(GetPin(plain.Get(), L"Preview"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Pin not found!\n");
    // By "FriendlyName" only: a device listed under its "Description" is not found this way.
    std::wstring described = L"Described " + Instance(L"");
    EXPECT_FALSE(FindCaptureFilter(described.c_str(), CLSID_VideoInputDeviceCategory));
}

// The composite with both real providers: the stand-in FK40 camera first, then the webcams, the
// one that failed to bind in the failed list only.
TEST_F(WebCamDeviceTest, CompositeListsTheFK40CameraFirstThenTheWebcams) {
    SetDllDirectoryW(FromBuild(LYC_STANDIN_DIR_REL).c_str());
    CompositeVideoSourceProvider composite;
    SetDllDirectoryW(nullptr);
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<VideoSource*> list, failed;
        for (int attempt = 0; attempt < kListAttempts && !(Find(&list, L"Plain") && Find(&failed, L"Failing"));
             ++attempt) {
            if (attempt) Sleep(10);
            list = *composite.GetVideoSources();
            failed = *composite.GetFailedVideoSources();
        }
        ASSERT_GE(list.size(), 3u);
        EXPECT_EQ(list[0]->name, "F40K");
        for (size_t i = 1; i < list.size(); ++i) EXPECT_EQ(list[i]->name, "webcam");
        EXPECT_TRUE(Find(&list, L"Plain"));
        EXPECT_FALSE(Find(&list, L"Failing"));
        EXPECT_EQ(std::count(failed.begin(), failed.end(), Find(&failed, L"Failing")), 1);
    }
}

}  // namespace

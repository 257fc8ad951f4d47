#include <algorithm>
#include <functional>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <type_traits>
#include "tests/fk40/StandinFixture.h"
#include "tests/support/TestSupport.h"
#include "video/FK40Device.h"
#include "video/LycApi.h"

namespace {

// Runs the probe against the library in the given folder; what it printed, line ends as "\n".
std::string RunProbe(const std::wstring& libraryFolder) {
    ChildResult probe = RunCaptured(L"\"" + ProbePath() + L"\" \"" + libraryFolder + L"\"");
    if (!probe.started) return "probe did not start";
    std::erase(probe.output, '\r');
    return probe.output;
}

class Device : public StandinTest {};

// Only Release ends a device: deleting one whose worker outlived the wait would free the buffers,
// flag and lock the worker still uses.
static_assert(!std::is_destructible_v<FK40Device>, "an FK40Device can be deleted without Release");

// The entry points are looked up in a fixed order and the first missing one is named. Each
// variant lacks its entry point and all looked up after it, so a different order shows too.
TEST_F(Device, ReportsTheFirstMissingEntryPoint) {
    struct Case {
        const wchar_t* variant;
        const char* output;
    } cases[] = {
        {L"none", "Could not load the LYC DLL!\nconnected 0\n"},
        {L"no_LYC_Init", "Could not find API_LYC_Init function\nconnected 0\n"},
        {L"no_LYC_GetFrame", "Could not find API_LYC_GetFrame function\nconnected 0\n"},
        {L"no_LYC_GetIndex", "Could not find API_LYC_GetIndex function\nconnected 0\n"},
        {L"no_LYC_Set_DataFormat", "Could not find API_LYC_Set_DataFormat function\nconnected 0\n"},
        {L"no_LYC_GetStatus", "Could not find API_LYC_GetStatus function\nconnected 0\n"},
        {L"no_LYC_Term", "Could not find API_LYC_Term function\nconnected 0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.variant);
        DeleteFileA(m_log.c_str());
        EXPECT_EQ(RunProbe(StandinFolder(c.variant)), c.output);
        EXPECT_EQ(Calls(), CallList{}) << "a library with a missing entry point is not called";
    }
    DeleteFileA(m_log.c_str());
    EXPECT_EQ(RunProbe(StandinFolder()), "connected 1\n");
    EXPECT_EQ(Calls({"LYC_Init", "LYC_GetStatus", "LYC_Set_DataFormat", "LYC_Term"}),
              (CallList{"LYC_Init", "LYC_GetStatus", "LYC_Term"}));
}

// Only a result above 0 means the camera is not there; then nothing else is called.
TEST_F(Device, InitResultDecidesPresence) {
    struct Case {
        const char* result;
        int connected;
    } cases[] = {{"0", 1}, {"-1", 1}, {"-100", 1}, {"1", 0}, {"7", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "LYC_Init returns " << c.result);
        DeleteFileA(m_log.c_str());
        Set(LYC_STANDIN_INIT, c.result);
        FK40DevicePtr device(new FK40Device);
        EXPECT_EQ(device->IsConnected(), c.connected);
        if (c.connected) {
            EXPECT_TRUE(WaitForCall("LYC_GetIndex")) << "no worker";
        }
        device.reset();
        if (c.connected) {
            EXPECT_EQ(Calls({"LYC_Init", "LYC_GetStatus", "LYC_Term"}),
                      (CallList{"LYC_Init", "LYC_GetStatus", "LYC_Term"}));
        } else {
            EXPECT_EQ(Calls(), CallList{"LYC_Init"});
        }
    }
}

// Leaves freed blocks of the device's buffer sizes full of non-zero bytes, for the heap to reuse.
void DirtyTheHeap() {
    std::vector<std::vector<unsigned char>> blocks;
    for (int size : {kLycRawSize, kFK40FrameSize, kFK40FrameSize}) blocks.emplace_back(size, 0xCC);
}

bool AllZero(const VideoFrame* frame) {
    return std::all_of(frame, frame + kFK40FrameSize, [](VideoFrame b) { return b == 0; });
}

// The copy once the worker has delivered a frame (fails the test when none comes).
std::unique_ptr<VideoFrame[]> FirstPicture(FK40Device& device) {
    std::unique_ptr<VideoFrame[]> copy;
    EXPECT_TRUE(WaitUntil([&] {
        copy.reset(device.CopyFrame());
        return copy && !AllZero(copy.get());
    })) << "no frame arrived";
    return copy;
}

// What the camera delivers reaches the copy, turned around and converted.
TEST_F(Device, CopiesShowTheCameraPicture) {
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, const char*>> settings;
        unsigned char lit[3];    // B, G, R of the pixels that show the picture
        bool onlyBottomRight;    // else every pixel
    } cases[] = {
        {"uniform colour", {{LYC_STANDIN_PATTERN, "uniform"}, {LYC_STANDIN_Y, "2048"}, {LYC_STANDIN_U, "1024"},
                            {LYC_STANDIN_V, "3072"}}, {14, 104, 217}, false},
        {"first sample only", {{LYC_STANDIN_PATTERN, "dot"}}, {255, 255, 255}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [name, value] : c.settings) Set(name, value);
        DirtyTheHeap();
        FK40DevicePtr device(new FK40Device);
        auto copy = FirstPicture(*device);
        ASSERT_TRUE(copy);
        for (int i = 0; i < kFK40FrameSize; ++i) {
            const bool lit = !c.onlyBottomRight || i >= kFK40FrameSize - 3;
            ASSERT_EQ(copy[i], lit ? c.lit[i % 3] : 0) << "byte " << i;
        }
        for (const auto& setting : c.settings) Set(setting.first, nullptr);
    }
}

// The zeroed buffers are no picture of the camera: until its first frame there is no copy.
TEST_F(Device, NoCopyBeforeTheFirstFrame) {
    Set(LYC_STANDIN_FPS, "0");
    DirtyTheHeap();
    FK40DevicePtr device(new FK40Device);
    ASSERT_TRUE(WaitForCall("LYC_GetIndex"));  // the worker waits in its first frame call
    for (int i = 0; i < 3; ++i, Sleep(20)) {
        std::unique_ptr<VideoFrame[]> copy(device->CopyFrame());
        EXPECT_EQ(copy, nullptr);
    }
}

// Every sample of frame n reads n % 256, so a copy mixing two frames shows two values. More
// copying threads than processors get copies preempted halfway while the camera runs on.
TEST_F(Device, CopiesNeverMixTwoFrames) {
    Set(LYC_STANDIN_PATTERN, "counter");
    Set(LYC_STANDIN_FPS, "1000");
    Set(LYC_STANDIN_LOG, nullptr);
    FK40DevicePtr device(new FK40Device);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    std::atomic<int> torn{0};
    std::mutex seenLock;
    std::set<int> seen;
    std::vector<std::thread> copiers;
    for (DWORD t = 0; t < system.dwNumberOfProcessors * 2; ++t) {
        copiers.emplace_back([&] {
            for (int n = 0; n < 1000; ++n) {
                std::unique_ptr<VideoFrame[]> copy(device->CopyFrame());
                if (!copy) continue;  // before the first frame
                const VideoFrame* begin = copy.get();
                const VideoFrame* end = begin + kFK40FrameSize;
                if (std::any_of(begin, end, [first = *begin](VideoFrame b) { return b != first; })) ++torn;
                std::lock_guard<std::mutex> lock(seenLock);
                seen.insert(*begin);
            }
        });
    }
    for (std::thread& copier : copiers) copier.join();
    EXPECT_EQ(torn, 0) << "copies holding parts of two frames";
    EXPECT_GT(seen.size(), 2u) << "the frames did not change while copying";
}

// LYC_Term ends the wait in LYC_GetFrame, and the release returns only after the worker has
// come back from it (the stand-in logs LYC_GetFrame as it returns) without starting another loop.
TEST_F(Device, ShutsDownWhileTheWorkerWaitsForAFrame) {
    Set(LYC_STANDIN_FPS, "0");
    FK40DevicePtr device(new FK40Device);
    ASSERT_TRUE(WaitForCall("LYC_GetIndex"));
    device.reset();
    EXPECT_EQ(Calls(), (CallList{"LYC_Init", "LYC_GetStatus", "LYC_GetIndex", "LYC_Term", "LYC_GetFrame"}));
}

// Runs `step` on a thread of its own; false when it has not returned within `ms`.
bool ReturnsWithin(const std::function<void()>& step, DWORD ms) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([step, done] {
        step();
        *done = true;
    }).detach();
    for (DWORD waited = 0; waited < ms && !*done; waited += 10) Sleep(10);
    return *done;
}

// A library that never returns from its start or its end holds only its own call: the start goes
// on without the camera, which counts as failed; the close goes on without waiting for LYC_Term.
TEST_F(Device, ALibraryThatNeverReturnsDoesNotHoldTheProgram) {
    struct Case {
        const char* call;
        int connected;
    } const cases[] = {{"LYC_Term", 1}, {"LYC_Init", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        DeleteFileA(m_log.c_str());
        Set(LYC_STANDIN_HANG, c.call);
        FK40Device* device = nullptr;
        ASSERT_TRUE(ReturnsWithin([&] { device = new FK40Device; }, kFK40InitWaitMs + 5000)) << "held by the start";
        EXPECT_EQ(device->IsConnected(), c.connected);
        EXPECT_EQ(device->InitTimedOut(), !c.connected);
        if (c.connected) {
            EXPECT_TRUE(WaitForCall("LYC_GetIndex"));
        }
        EXPECT_TRUE(ReturnsWithin([&] { FK40Device::Release(device); }, kFK40EndWaitMs + 5000)) << "held by the close";
        EXPECT_EQ(Count("LYC_Term"), c.connected ? 1u : 0u);
        Set(LYC_STANDIN_HANG, nullptr);
    }
}

// The filter that was there before the camera's: it sees what the camera's leaves alone.
std::atomic<int> g_filterBeforeCalls;
LONG WINAPI FilterBefore(EXCEPTION_POINTERS*) {
    ++g_filterBeforeCalls;
    return EXCEPTION_CONTINUE_SEARCH;
}
// Set before main, so before the first device puts its own in front of it.
const LPTOP_LEVEL_EXCEPTION_FILTER g_startupFilter = SetUnhandledExceptionFilter(&FilterBefore);

// An exception on a thread that is not inside a camera library call goes on as it would have: to
// the filter before, and the thread lives on.
TEST_F(Device, AnExceptionOutsideTheCameraLibraryGoesOnToTheFilterBefore) {
    FK40DevicePtr device(new FK40Device);
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(current);
    ASSERT_NE(current, &FilterBefore) << "the camera put no filter in front";
    EXCEPTION_RECORD record{};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    CONTEXT context{};
    EXCEPTION_POINTERS pointers{&record, &context};
    g_filterBeforeCalls = 0;
    EXPECT_EQ(current(&pointers), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_EQ(g_filterBeforeCalls, 1);
    EXPECT_TRUE(FirstPicture(*device)) << "the camera was stopped by another thread's exception";
}

}  // namespace

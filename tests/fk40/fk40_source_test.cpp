#include <memory>
#include "tests/fk40/StandinFixture.h"
#include "video/CompositeVideoSourceProvider.h"
#include "video/FK40Device.h"
#include "video/FK40VideoSource.h"
#include "video/FK40VideoSourceProvider.h"

namespace {

class ClockedSource : public FK40VideoSource {
public:
    using FK40VideoSource::FK40VideoSource;
    DWORD now = 0;

protected:
    DWORD TickCount() override { return now; }
};

class Source : public StandinTest {};

// At most one new copy every 16 ms, by unsigned difference; between updates the same copy stays.
// The counter picture (every byte reads the frame number) shows whether a copy is new.
TEST_F(Source, TakesANewCopyAtMostEvery16Ms) {
    Set(LYC_STANDIN_PATTERN, "counter");
    FK40DevicePtr device(new FK40Device);
    ClockedSource source(device.get());
    EXPECT_EQ(source.Start(), 1);
    EXPECT_EQ(source.Stop(), 1);
    EXPECT_EQ(source.GetFrame(nullptr), nullptr) << "no copy before the first update";

    struct Step {
        DWORD now;
        int result;
    } steps[] = {{1000, 1}, {1010, 0}, {1015, 0}, {1016, 1}, {1031, 0}, {1032, 1},
                 {0xFFFFFFFA, 1}, {4, 0}, {10, 1}};
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << "at " << step.now);
        const VideoFrame* before = source.GetFrame(nullptr);
        const int shown = before ? before[0] : -1;
        if (step.result) {
            // Let the camera move on, so that a new copy differs from the one shown.
            ASSERT_TRUE(WaitUntil([&] {
                std::unique_ptr<VideoFrame[]> peek(device->CopyFrame());
                return peek && peek[0] != 0 && peek[0] != shown;
            }));
        }
        source.now = step.now;
        EXPECT_EQ(source.UpdateFrame(), step.result);
        const VideoFrame* after = source.GetFrame(nullptr);
        ASSERT_NE(after, nullptr);
        if (step.result) {
            EXPECT_NE(after[0], shown) << "no new copy";
        } else {
            EXPECT_EQ(after, before);
            EXPECT_EQ(after[0], shown);
        }
    }
}

// A camera whose library has delivered nothing gives no frame, however often the source updates:
// for good when no frame ever comes, until the first one when it comes late.
TEST_F(Source, NoFrameUntilTheCameraDeliversOne) {
    struct Case {
        const char* what;
        bool late;  // the frame call is held, then released
    } const cases[] = {{"no frame at all", false}, {"a late first frame", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string hold = "Local\\lumetra_fk40_late_" + std::to_string(GetCurrentProcessId());
        HANDLE release = CreateEventA(nullptr, TRUE, FALSE, hold.c_str());
        ASSERT_TRUE(release);
        Set(LYC_STANDIN_PATTERN, "uniform");
        Set(LYC_STANDIN_Y, "4095");  // white
        Set(c.late ? LYC_STANDIN_HOLD : LYC_STANDIN_FPS, c.late ? hold.c_str() : "0");
        FK40DevicePtr device(new FK40Device);
        ClockedSource source(device.get());
        ASSERT_TRUE(WaitForCall("LYC_GetIndex"));
        for (DWORD now = 1000; now < 1200; now += 20) {
            source.now = now;
            EXPECT_EQ(source.UpdateFrame(), 0) << "at " << now;
            EXPECT_EQ(source.GetFrame(nullptr), nullptr) << "at " << now;
        }
        if (c.late) {
            SetEvent(release);
            EXPECT_TRUE(WaitUntil([&] {
                source.now += 20;
                return source.UpdateFrame() == 1;
            }));
            const VideoFrame* frame = source.GetFrame(nullptr);
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(frame[0], 255) << "not the camera's picture";
        }
        SetEvent(release);  // a held frame call ignores LYC_Term
        device.reset();
        CloseHandle(release);
        Set(LYC_STANDIN_HOLD, nullptr);
        Set(LYC_STANDIN_FPS, nullptr);
    }
}

TEST_F(Source, AbsentCameraGivesNoSource) {
    Set(LYC_STANDIN_INIT, "1");
    {
        FK40VideoSourceProvider provider;
        EXPECT_TRUE(provider.GetVideoSources()->empty());
        EXPECT_TRUE(provider.GetVideoSources()->empty());
        EXPECT_TRUE(provider.GetFailedVideoSources()->empty());
        EXPECT_FALSE(provider.NeedsRefresh());
    }
    EXPECT_EQ(Calls(), CallList{"LYC_Init"}) << "probed again or terminated without a start";
}

TEST_F(Source, PresentCameraGivesOneSourceForTheRun) {
    FK40VideoSourceProvider provider;
    std::vector<VideoSource*> first = *provider.GetVideoSources();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(*provider.GetVideoSources(), first);
    EXPECT_TRUE(provider.GetFailedVideoSources()->empty());
    EXPECT_FALSE(provider.NeedsRefresh());

    const VideoSource& source = *first[0];
    EXPECT_EQ(source.name, "F40K");
    EXPECT_EQ(source.id, "F40K");
    EXPECT_EQ(source.description, "40K USB Video Device");
    EXPECT_FALSE(source.initialized);
    ASSERT_EQ(source.resolutions.size(), 1u);
    const VideoResolution& r = *source.resolutions[0];
    EXPECT_EQ(r.index, 0);
    EXPECT_EQ(r.width, 202);
    EXPECT_EQ(r.height, 202);
    EXPECT_EQ(r.bitsPerPixel, 24);
    EXPECT_EQ(r.label, "202x202");
}

// The device ends once, whether a source closed it or the provider did.
TEST_F(Source, DeviceEndsOnce) {
    enum Use { Untouched, Listed, Closed };
    for (Use use : {Untouched, Listed, Closed}) {
        SCOPED_TRACE(use);
        DeleteFileA(m_log.c_str());
        auto provider = std::make_unique<FK40VideoSourceProvider>();
        if (use != Untouched) {
            ASSERT_EQ(provider->GetVideoSources()->size(), 1u);
        }
        if (use == Closed) {
            VideoSource* source = provider->GetVideoSources()->front();
            source->Close();
            EXPECT_EQ(Count("LYC_Term"), 1u);
            EXPECT_EQ(source->UpdateFrame(), 0);
            EXPECT_EQ(source->GetFrame(nullptr), nullptr);
        }
        provider.reset();
        EXPECT_EQ(Count("LYC_Term"), 1u);
    }
}

// Tells whether the device was deleted.
class WatchedDevice : public FK40Device {
public:
    explicit WatchedDevice(bool* deleted) : m_deleted(deleted) {}

protected:
    ~WatchedDevice() override { *m_deleted = true; }

private:
    bool* m_deleted;
};

// A library whose frame call ignores LYC_Term keeps the worker inside it past the wait. Closing
// must leave the device allocated: when the call returns, the worker converts into the device's
// buffers and swaps under its lock before it sees the cleared flag.
TEST_F(Source, CloseLeavesTheDeviceToAWorkerThatOutlivesTheWait) {
    const std::string hold = "Local\\lumetra_fk40_hold_" + std::to_string(GetCurrentProcessId());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, hold.c_str());
    ASSERT_TRUE(release);
    Set(LYC_STANDIN_HOLD, hold.c_str());
    Set(LYC_STANDIN_PATTERN, "counter");
    bool deleted = false;
    auto* device = new WatchedDevice(&deleted);
    FK40VideoSource source(device);
    ASSERT_TRUE(WaitForCall("LYC_GetIndex"));
    source.Close();
    EXPECT_EQ(Calls(), (CallList{"LYC_Init", "LYC_GetStatus", "LYC_GetIndex", "LYC_Term"}))
        << "the frame call did not outlive LYC_Term";
    EXPECT_EQ(source.GetFrame(nullptr), nullptr);
    EXPECT_EQ(source.UpdateFrame(), 0);
    // Else the worker, released, would write into freed memory: it stays held.
    ASSERT_FALSE(deleted) << "deleted while its worker is inside the library";

    SetEvent(release);
    // Every byte of frame 1 reads 1: the worker's conversion and swap reached the device.
    EXPECT_TRUE(WaitUntil([&] {
        std::unique_ptr<VideoFrame[]> copy(device->CopyFrame());
        return copy && copy[0] == 1;
    }));
    CloseHandle(release);
}

TEST_F(Source, CompositeListsTheCameraFirst) {
    CompositeVideoSourceProvider composite;
    std::vector<VideoSource*> sources = *composite.GetVideoSources();
    ASSERT_FALSE(sources.empty());
    EXPECT_EQ(sources[0]->name, "F40K");
    // Only the camera's place is ours to check: other test programs register webcams meanwhile.
    EXPECT_EQ(composite.GetVideoSources()->front(), sources[0]);
    composite.CloseAllSources();
    EXPECT_EQ(Count("LYC_Term"), 1u);
}

}  // namespace

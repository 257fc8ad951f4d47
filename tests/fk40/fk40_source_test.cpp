#include <algorithm>
#include <memory>
#include <string>
#include <vector>
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

// What a still and a recording get from a library that misbehaves, from the start or after ten
// frames, polled as the live view paints: the picture shown at each poll, and whether the source
// called it new. With the counter picture every byte of frame n reads n % 256, so a picture that
// is not one whole frame of the camera (the green of an unfilled buffer, half a frame) shows.
TEST_F(Source, AStillOrARecordingGetsOnlyFramesTheCameraDelivered) {
    struct Case {
        const char* fault;
        const char* after;
        bool failsAtOnce;  // returns without pausing: the worker must not spin
    } const cases[] = {
        {"unfilled", "0", false}, {"fail", "0", true},   {"partial", "0", false},
        {"unfilled", "10", false}, {"fail", "10", true}, {"partial", "10", false},
        {"block", "10", false},    {"hang", "10", false}, {"crash", "10", false},
        {"", "0", false},  // no fault: a still scene, every frame alike
    };
    for (const Case& c : cases) {
        const bool stillScene = !*c.fault;
        const bool fromTheStart = !stillScene && std::string(c.after) == "0";
        SCOPED_TRACE(testing::Message() << (stillScene ? "still scene" : c.fault) << " after " << c.after);
        DeleteFileA(m_log.c_str());
        Set(LYC_STANDIN_PATTERN, stillScene ? "uniform" : "counter");
        Set(LYC_STANDIN_FAULT, c.fault);
        Set(LYC_STANDIN_FAULT_AFTER, c.after);
        FK40DevicePtr device(new FK40Device);
        FK40VideoSource source(device.get());
        const DWORD start = GetTickCount();

        struct Poll {
            DWORD at;
            int shown;  // the byte every pixel reads, -1 for no picture, -2 for not one whole frame
            bool isNew;
        };
        std::vector<Poll> polls;
        DWORD lastNew = start;
        for (;;) {
            const DWORD now = GetTickCount();
            const VideoFrame* frame = source.GetFrame(nullptr);
            int shown = -1;
            if (frame)
                shown = std::all_of(frame, frame + kFK40FrameSize, [&](VideoFrame b) { return b == frame[0]; })
                            ? frame[0] : -2;
            const bool isNew = source.UpdateFrame() == UpdateFrameNew;
            if (isNew) lastNew = now;
            polls.push_back({now, shown, isNew});
            // Long enough for a stopped camera's picture to go, and to see that it stays gone.
            if (fromTheStart ? now - start > 1000
                             : now - lastNew > kFK40StaleMs + 1000 || now - start > 2 * kFK40StaleMs + 1000)
                break;
            Sleep(16);
        }

        int news = 0, previous = -1;
        DWORD frozenSince = 0;
        for (const Poll& p : polls) {
            ASSERT_NE(p.shown, -2) << "at " << p.at - start << " ms: a picture the camera did not deliver";
            if (p.isNew) ++news;
            if (!stillScene && p.shown >= 0) {
                if (p.shown != previous) frozenSince = p.at;
                // A recording gets no run of one frozen picture longer than the camera may pause.
                ASSERT_LE(p.at - frozenSince, kFK40StaleMs + 500) << "at " << p.at - start << " ms";
            }
            previous = p.shown;
        }
        if (stillScene) {
            EXPECT_GT(news, 30) << "frames alike are frames too";
            EXPECT_GE(polls.back().shown, 0) << "a still scene lost its picture";
        } else {
            EXPECT_EQ(polls.back().shown, -1) << "a still would get the frozen picture";
            // Only frames 1..10 (a poll may come after the next frame replaced one), each new once.
            EXPECT_LE(news, fromTheStart ? 0 : 10);
            if (!fromTheStart) EXPECT_GT(news, 0);
        }
        if (c.failsAtOnce) {
            const DWORD elapsed = polls.back().at - start;
            EXPECT_LT(Count("LYC_GetFrame"), 40 + elapsed / kFK40FramePeriodMs * 2) << "the worker spins";
        }
        Set(LYC_STANDIN_FAULT, nullptr);
        Set(LYC_STANDIN_FAULT_AFTER, nullptr);
    }
}

// A library that does not answer its start in time makes a camera that failed: reported, not listed.
TEST_F(Source, ACameraWhoseStartDoesNotReturnIsReportedAsFailed) {
    Set(LYC_STANDIN_HANG, "LYC_Init");
    FK40VideoSourceProvider provider;
    EXPECT_TRUE(provider.GetVideoSources()->empty());
    ASSERT_EQ(provider.GetFailedVideoSources()->size(), 1u);
    VideoSource* failed = provider.GetFailedVideoSources()->front();
    EXPECT_EQ(failed->description, "40K USB Video Device");
    EXPECT_EQ(failed->UpdateFrame(), 0);
    EXPECT_EQ(failed->GetFrame(nullptr), nullptr);
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

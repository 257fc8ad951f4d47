// The recorder: the encoder its format picks, where feedings land in the file's fixed slots, and
// the size guard.
#include <gtest/gtest.h>
#include "recording/Avi10VideoEncoder.h"
#include "recording/LibAVVideoEncoder.h"
#include "recording/VideoRecorder.h"
#include <vector>

namespace {

struct FakeEncoder : VideoEncoder {
    int opens = 0, frames = 0, closes = 0;
    int failAt = -1;  // frame number whose write fails
    RecordingState state = RecordingState::Recording;
    RecordingState onFailure = RecordingState::Failed;
    bool Open(const std::wstring&, int) override { return ++opens, true; }
    bool AddFrame(const unsigned char*, HBITMAP) override {
        if (frames == failAt) {
            state = onFailure;
            return false;
        }
        ++frames;
        return true;
    }
    bool Close() override { return ++closes, true; }
    RecordingState State() const override { return state; }
    uint64_t PicturesInFile() const override { return static_cast<uint64_t>(frames); }
};

class ClockedRecorder : public CVideoRecorder {
public:
    ClockedRecorder(FakeEncoder* e, int format) : CVideoRecorder(e, L"x", 4, 2, 24, format) {}
    int64_t nowUs = 0;

protected:
    int64_t NowMicroseconds() override { return nowUs; }
};

TEST(RecorderFormat, EachFormatPicksItsEncoderExtensionAndDoubling) {
    struct Case {
        int format;
        bool avi;
        const wchar_t* extension;
        bool doubled;
    };
    for (Case c : {Case{0, true, L".avi", false}, Case{1, false, L".mpg", true}, Case{2, false, L".wmv", true},
                   Case{7, false, L".avi", false}}) {
        SCOPED_TRACE(c.format);
        CVideoRecorder r(L"C:\\v\\file", 640, 480, 24, c.format);
        EXPECT_EQ(RecordingFormatOf(c.format).extension, std::wstring(c.extension));
        EXPECT_EQ(RecordingFormatOf(c.format).doubleFrames, c.doubled);
        if (c.avi) {
            auto* e = dynamic_cast<Avi10VideoEncoder*>(r.encoder);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->width, 640);
            EXPECT_EQ(e->height, 480);
            EXPECT_EQ(e->bitsPerPixel, 24);
            EXPECT_EQ(e->path, L"C:\\v\\file");
        } else {
            auto* e = dynamic_cast<LibAVVideoEncoder*>(r.encoder);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->path, L"C:\\v\\file");
            EXPECT_EQ(e->width, 640);
            EXPECT_EQ(e->height, 480);
            EXPECT_EQ(e->bitsPerPixel, 24);
            EXPECT_EQ(e->formatIndex, c.format);
        }
    }
}

// How many frames each feeding hands to the encoder, feedings at the given milliseconds (each
// feeding one call, or two in a row when doubled).
std::vector<int> Placement(int format, std::vector<int> ms, bool doubled) {
    auto* encoder = new FakeEncoder;
    ClockedRecorder r(encoder, format);
    r.Start(L"x", 16);
    std::vector<int> out;
    for (int t : ms) {
        r.nowUs = int64_t(t) * 1000;
        for (int call = 0; call < (doubled ? 2 : 1); ++call) {
            int before = encoder->frames;
            EXPECT_TRUE(r.AddFrame(nullptr, nullptr));
            out.push_back(encoder->frames - before);
        }
    }
    return out;
}

TEST(RecorderPlacement, FeedingsFillTheFormatsSlots) {
    struct Case {
        const char* what;
        int format;
        std::vector<int> ms;
        bool doubled;
        std::vector<int> handed;
    };
    const Case cases[] = {
        {"AVI on its slots", 0, {0, 60, 120, 180}, false, {1, 1, 1, 1}},
        {"AVI fed faster", 0, {0, 48, 96, 144, 192}, false, {1, 0, 1, 1, 1}},
        {"AVI gap", 0, {0, 150}, false, {1, 2}},
        {"AVI stall is cut", 0, {0, 3000, 3060}, false, {1, 1, 1}},
        {"MPEG doubled", 1, {0, 48, 100}, true, {1, 0, 1, 0, 2, 0}},
        {"WMV as MPEG", 2, {0, 48, 100}, true, {1, 0, 1, 0, 2, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(Placement(c.format, c.ms, c.doubled), c.handed) << c.what;
}

TEST(RecorderPlacement, CountersTellWhatBecameOfTheFeedings) {
    auto* encoder = new FakeEncoder;
    ClockedRecorder r(encoder, 0);
    r.Start(L"x", 16);
    for (int t : {0, 30, 150, 3000}) {
        r.nowUs = int64_t(t) * 1000;
        r.AddFrame(nullptr, nullptr);
    }
    EXPECT_EQ(r.counters.handed, 4u);
    EXPECT_EQ(r.counters.written, 4u);  // 1, 0, 2, 1 (the stall cut)
    EXPECT_EQ(r.counters.skipped, 1u);
    EXPECT_EQ(r.counters.dropped, 50 + 1 - 3 - 1u);
}

HBITMAP Dib(int w, int h, int bits) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, WORD(bits), BI_RGB, 0, 0, 0, 0, 0};
    void* pixels = nullptr;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
}

TEST(RecorderGuard, APictureOfAnotherSizeIsRefusedAndTheRecordingGoesOn) {
    struct Case {
        int w, h, bits;
        bool written;
    };
    for (Case c : {Case{4, 2, 24, true}, Case{4, -2, 24, true}, Case{5, 2, 24, false}, Case{4, 3, 24, false},
                   Case{4, 2, 32, false}}) {
        auto* encoder = new FakeEncoder;
        ClockedRecorder r(encoder, 0);
        r.Start(L"x", 16);
        HBITMAP dib = Dib(c.w, c.h, c.bits);
        EXPECT_TRUE(r.AddFrame(nullptr, dib));
        EXPECT_EQ(encoder->frames, c.written ? 1 : 0) << c.w << "x" << c.h << "x" << c.bits;
        EXPECT_EQ(r.counters.refused, c.written ? 0u : 1u);
        EXPECT_EQ(r.State(), RecordingState::Recording);
        DeleteObject(dib);
    }
}

TEST(RecorderFailure, AFailedOrFullWriteEndsTheFeeding) {
    for (RecordingState failure : {RecordingState::Failed, RecordingState::Full}) {
        auto* encoder = new FakeEncoder;
        encoder->failAt = 1;
        encoder->onFailure = failure;
        ClockedRecorder r(encoder, 0);
        r.Start(L"x", 16);
        EXPECT_TRUE(r.AddFrame(nullptr, nullptr));
        r.nowUs = 60000;
        EXPECT_FALSE(r.AddFrame(nullptr, nullptr));
        EXPECT_EQ(r.State(), failure);
        r.nowUs = 120000;
        EXPECT_FALSE(r.AddFrame(nullptr, nullptr));
        EXPECT_EQ(encoder->frames, 1);
        // A full file is complete; a failed write makes the file incomplete.
        EXPECT_EQ(r.Stop(), failure == RecordingState::Full);
        EXPECT_EQ(encoder->closes, 1);
    }
}

}  // namespace

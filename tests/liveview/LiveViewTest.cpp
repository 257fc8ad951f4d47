// The live view against fake sources, provider and encoder, painted in a real window: the order
// of source changes, the steps of a paint, the feeding of a recording and the picture's rows.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include "recording/VideoEncoder.h"
#include "recording/VideoRecorder.h"
#include "tests/support/FakeVideo.h"
#include "ui/VideoDisplay.h"

namespace {

using Log = std::vector<std::string>;
using Frame = std::vector<uint8_t>;

int Stride(int width) { return (width * 24 + 31) / 32 * 4; }

// A picture whose every pixel differs from the others and whose rows are told apart.
Frame Picture(int w, int h) {
    Frame f(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &f[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = static_cast<uint8_t>(16 * x + y + 1);  // B
            p[1] = static_cast<uint8_t>(100 + 20 * y);    // G
            p[2] = static_cast<uint8_t>(200 + 10 * x);    // R
        }
    return f;
}

// Bottom-up, padded DIB rows back to a frame's layout (row 0 on top, no gap).
Frame FromDibRows(const uint8_t* bits, int w, int h) {
    Frame f(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        std::copy_n(bits + static_cast<size_t>(h - 1 - y) * Stride(w), w * 3, &f[static_cast<size_t>(y) * w * 3]);
    return f;
}

// The DIB section's own memory, as an encoder that writes the bitmap's bits sees it.
Frame DibSectionPicture(HBITMAP dib) {
    DIBSECTION ds{};
    if (::GetObjectW(dib, sizeof ds, &ds) != sizeof ds || !ds.dsBm.bmBits) return {};
    ::GdiFlush();
    return FromDibRows(static_cast<const uint8_t*>(ds.dsBm.bmBits), ds.dsBm.bmWidth, ds.dsBm.bmHeight);
}

class FakeSource : public LoggingSource {
public:
    FakeSource(std::string tag, Log* log, std::vector<SIZE> sizes) : LoggingSource(std::move(tag), log) {
        for (size_t i = 0; i < sizes.size(); ++i)
            resolutions.push_back(new VideoResolution{static_cast<int>(i), sizes[i].cx, sizes[i].cy, 24, ""});
    }

    int Start() override {
        Note("Start");
        return 1;
    }
    int Stop() override {
        Note("Stop");
        return 1;
    }
    VideoFrame* GetFrame(unsigned char*) override {
        Note("GetFrame");
        return nullFrame || buffer.empty() ? nullptr : buffer.data();
    }
    // The frame handed out is released here: whoever still reads it sees the poison.
    int UpdateFrame() override {
        Note("UpdateFrame");
        std::fill(buffer.begin(), buffer.end(), 0xCD);
        return result;
    }
    void Close() override { Note("Close"); }
    void Open(VideoResolution* r) override { Note(r ? "Open " + std::to_string(r->index) : "Open none"); }

    // The frame of the next paint.
    void Show(const Frame& picture) { buffer = picture; }

    Frame buffer;
    bool nullFrame = false;
    int result = UpdateFrameNew;
};

// What an encoder received, copied when it was handed over.
struct Received {
    std::vector<Frame> pixels;
    std::vector<Frame> dibPictures;
    std::vector<HBITMAP> dibs;
};

class FakeEncoder : public VideoEncoder {
public:
    FakeEncoder(Received* into, int w, int h) : m_into(into), m_size(static_cast<size_t>(w) * h * 3) {}
    bool Open(const std::wstring&, int) override { return true; }
    bool AddFrame(const unsigned char* pixels, HBITMAP dib) override {
        m_into->pixels.emplace_back(pixels, pixels + m_size);
        m_into->dibPictures.push_back(DibSectionPicture(dib));
        m_into->dibs.push_back(dib);
        return true;
    }
    bool Close() override { return true; }
    RecordingState State() const override { return RecordingState::Recording; }
    uint64_t PicturesInFile() const override { return m_into->pixels.size(); }

private:
    Received* m_into;
    size_t m_size;
};

// A recorder whose clock moves on by one frame slot (AVI's 60 ms) per feeding, so that every
// picture handed over reaches the encoder.
class SteppingRecorder : public CVideoRecorder {
public:
    using CVideoRecorder::CVideoRecorder;

protected:
    int64_t NowMicroseconds() override { return m_now += 60000; }

private:
    int64_t m_now = 0;
};

// The view with the clock and the still capture under the test's control.
class TestView : public CVideoDisplay {
public:
    DWORD now = 0;
    int captures = 0;
    int recordingsEnded = 0;
    std::function<void()> onCapture;

protected:
    DWORD TickCount() override { return now; }
    void RequestCapture() override {
        ++captures;
        if (onCapture) onCapture();
    }
    void EndRecording() override { ++recordingsEnded; }
};

// Stands in for the dialog: the view only passes it on to RequestCapture, which the test overrides.
CLumetraDlg* SomeOwner() {
    static int dummy;
    return reinterpret_cast<CLumetraDlg*>(&dummy);
}

// A view subclassing a plain top-level static control whose client is the given size.
class ViewTest : public testing::Test {
protected:
    void Open(int clientWidth, int clientHeight) {
        HWND h = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | WS_VISIBLE | SS_BLACKFRAME, 40, 40,
                                   clientWidth, clientHeight, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(h);
        ASSERT_TRUE(view->SubclassWindow(h));
        ::UpdateWindow(h);
    }
    void SetUp() override { Open(64, 48); }
    void TearDown() override { view.reset(); }

    HWND Window() const { return view->m_hWnd; }
    // As the idle loop does.
    void Paint() {
        ::InvalidateRect(Window(), nullptr, TRUE);
        ::UpdateWindow(Window());
    }
    bool Invalid() const { return ::GetUpdateRect(Window(), nullptr, FALSE) != 0; }
    // Every screen pixel of the view is black.
    bool ShowsBlack() const {
        RECT client;
        ::GetClientRect(Window(), &client);
        HDC screen = ::GetDC(Window());
        bool black = true;
        for (int y = 0; y < client.bottom && black; y += 3)
            for (int x = 0; x < client.right && black; x += 3) black = ::GetPixel(screen, x, y) == RGB(0, 0, 0);
        ::ReleaseDC(Window(), screen);
        return black;
    }

    Log log;
    FakeSource a{"a", &log, {{4, 2}, {3, 3}}};
    FakeSource b{"b", &log, {{4, 2}}};
    FakeSource empty{"e", &log, {}};
    std::unique_ptr<TestView> view = std::make_unique<TestView>();
};

// --- source and resolution changes -------------------------------------------------------------

struct ChangeCase {
    const char* name;
    void (*arrange)(CVideoDisplay& v, FakeSource& a, FakeSource& b, FakeSource& e);
    void (*act)(CVideoDisplay& v, FakeSource& a, FakeSource& b, FakeSource& e);
    Log calls;
    const char* source;  // tag of the current source afterwards, or null
    int resolution;      // index into the current source's list, -1 for none
    bool restarted;      // the next paint rebuilds the bitmap
};

class ChangeTest : public ViewTest {};

TEST_F(ChangeTest, CallsTheSourceInOrderOrNotAtAll) {
    const ChangeCase cases[] = {
        {"first source", [](CVideoDisplay&, FakeSource&, FakeSource&, FakeSource&) {},
         [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetSource(&a); },
         {"a.Open 0", "a.Start", "a.UpdateFrame"}, "a", 0, true},
        {"another source", [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetSource(&a); },
         [](CVideoDisplay& v, FakeSource&, FakeSource& b, FakeSource&) { v.SetSource(&b); },
         {"a.Stop", "b.Open 0", "b.Start", "b.UpdateFrame"}, "b", 0, true},
        {"current source", [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetSource(&a); },
         [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetSource(&a); }, {}, "a", 0, false},
        {"source without resolutions",
         [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetSource(&a); },
         [](CVideoDisplay& v, FakeSource&, FakeSource&, FakeSource& e) { v.SetSource(&e); }, {"a.Stop"}, "e", -1,
         true},
        {"other resolution", [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetSource(&a); },
         [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetResolution(a.resolutions[1]); },
         {"a.Stop", "a.Open 1", "a.Start", "a.UpdateFrame"}, "a", 1, true},
        {"current resolution",
         [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetSource(&a); },
         [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetResolution(a.resolutions[0]); }, {},
         "a", 0, false},
        {"resolution without source", [](CVideoDisplay&, FakeSource&, FakeSource&, FakeSource&) {},
         [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetResolution(a.resolutions[1]); }, {},
         nullptr, -1, false},
        {"source with one resolution",
         [](CVideoDisplay& v, FakeSource&, FakeSource& b, FakeSource&) { v.SetSource(&b); },
         [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetResolution(a.resolutions[1]); }, {},
         "b", 0, false},
        {"source with no resolutions",
         [](CVideoDisplay& v, FakeSource&, FakeSource&, FakeSource& e) { v.SetSource(&e); },
         [](CVideoDisplay& v, FakeSource& a, FakeSource&, FakeSource&) { v.SetResolution(a.resolutions[1]); }, {},
         "e", -1, false},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestView v;
        c.arrange(v, a, b, empty);
        log.clear();
        v.needsReinit = 0;  // as after a painted frame
        c.act(v, a, b, empty);
        EXPECT_EQ(log, c.calls);
        FakeSource* current = !c.source ? nullptr : c.source[0] == 'a' ? &a : c.source[0] == 'b' ? &b : &empty;
        EXPECT_EQ(v.source, current);
        EXPECT_EQ(v.resolution, c.resolution < 0 ? nullptr : current->resolutions[c.resolution]);
        EXPECT_EQ(v.needsReinit, c.restarted ? 1 : 0);
    }
}

TEST_F(ChangeTest, NextPaintRebuildsAtTheNewSizeAndFreesTheOldBitmap) {
    view->SetSource(&a);
    a.Show(Picture(4, 2));
    Paint();
    HBITMAP first = view->GetBitmap();
    ASSERT_TRUE(first);
    EXPECT_EQ(view->width, 4);
    EXPECT_EQ(view->height, 2);

    view->SetResolution(a.resolutions[1]);
    // No picture until the new size's first frame: a still now would be of the old format.
    EXPECT_EQ(view->GetBitmap(), nullptr);
    // The old bitmap was selected into the old memory DC: deleted before that DC, it leaks on Windows
    // (Wine defers such a deletion instead).
    EXPECT_EQ(::GetObjectType(first), 0u);
    a.Show(Picture(3, 3));
    Paint();
    HBITMAP second = view->GetBitmap();
    ASSERT_TRUE(second);
    EXPECT_EQ(view->width, 3);
    EXPECT_EQ(view->height, 3);
    EXPECT_EQ(DibSectionPicture(second), Picture(3, 3));

    Paint();
    EXPECT_EQ(view->GetBitmap(), second);  // no rebuild without a change

    view.reset();
    EXPECT_EQ(::GetObjectType(second), 0u);
}

// --- paints without a picture -------------------------------------------------------------------

// Whatever the view showed before, a paint without a frame of the current source shows black,
// leaves no bitmap for a still and feeds no recording. It still lets an opened source update, in
// which a source publishes its device's first frame.
TEST_F(ViewTest, PaintWithoutAFrameOfTheSourceShowsBlackAndKeepsNoPicture) {
    struct Case {
        const char* name;
        bool paintedBefore;  // a frame was painted first
        bool change;         // of source b, and then the view switched
        bool nullFrame;
        bool noResolutions;
        Log calls;
    } const cases[] = {
        {"null frame", false, false, true, false, {"a.GetFrame", "a.UpdateFrame"}},
        {"no resolutions", false, false, false, true, {"e.GetFrame"}},
        {"the source's frames stop", true, false, true, false, {"a.GetFrame", "a.UpdateFrame"}},
        {"switched to a source with no frame", true, true, true, false, {"a.GetFrame", "a.UpdateFrame"}},
        {"switched to a source with no format", true, true, false, true, {"e.GetFrame"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.reset(new TestView);
        Open(64, 48);
        FakeSource& s = c.noResolutions ? empty : a;
        if (c.paintedBefore) {
            FakeSource& before = c.change ? b : s;
            view->SetSource(&before);
            before.Show(Picture(4, 2));
            Paint();
            ASSERT_TRUE(view->GetBitmap());
            ASSERT_FALSE(ShowsBlack());
        }
        view->SetSource(&s);
        s.Show(Picture(4, 2));
        s.nullFrame = c.nullFrame;
        Received got;
        SteppingRecorder recorder(new FakeEncoder(&got, 4, 2), L"x", 4, 2, 24, VideoOutputAvi);
        ASSERT_TRUE(recorder.Start(L"x", 35));
        view->SetRecorder(&recorder);
        view->now = 1000;
        log.clear();
        Paint();
        EXPECT_EQ(log, c.calls);
        EXPECT_FALSE(Invalid());
        EXPECT_EQ(view->GetBitmap(), nullptr);
        EXPECT_TRUE(ShowsBlack());
        EXPECT_EQ(recorder.counters.handed, 0u);
        view->SetRecorder(nullptr);
        s.nullFrame = false;
    }
}

// As the cameras do: a frame the device delivered is handed out only once an UpdateFrame has
// published it, so a source started before its device's first frame has none at first.
class PublishingSource : public FakeSource {
public:
    using FakeSource::FakeSource;
    VideoFrame* GetFrame(unsigned char*) override {
        Note("GetFrame");
        return published ? buffer.data() : nullptr;
    }
    int UpdateFrame() override {
        Note("UpdateFrame");
        published = published || delivered;
        return published ? UpdateFrameNew : UpdateFrameNone;
    }
    bool delivered = false;  // the device has delivered a frame
    bool published = false;
};

// Black while the device has delivered nothing, its first frame as soon as it has; or, started
// again at another size, black until the device's first frame at that size.
TEST_F(ViewTest, ASourceWhoseDeviceDeliversLateIsShownOnceItHas) {
    PublishingSource late{"late", &log, {{4, 2}, {6, 2}}};
    late.Show(Picture(4, 2));
    view->SetSource(&late);
    for (int paint = 0; paint < 3; ++paint) Paint();
    EXPECT_EQ(view->GetBitmap(), nullptr);
    EXPECT_TRUE(ShowsBlack());

    late.delivered = true;
    Paint();  // publishes the frame
    Paint();  // and shows it
    ASSERT_TRUE(view->GetBitmap());
    EXPECT_EQ(DibSectionPicture(view->GetBitmap()), Picture(4, 2));
    EXPECT_FALSE(ShowsBlack());

    late.delivered = late.published = false;
    late.Show(Picture(6, 2));
    view->SetResolution(late.resolutions[1]);
    Paint();
    EXPECT_EQ(view->GetBitmap(), nullptr);
    late.delivered = true;
    Paint();
    Paint();
    ASSERT_TRUE(view->GetBitmap());
    EXPECT_EQ(DibSectionPicture(view->GetBitmap()), Picture(6, 2));
}

// A refreshed device list changes the live source only when it no longer holds it: then its first
// source becomes live, or, with nothing listed, the lost one's recording ends and its picture goes.
TEST_F(ViewTest, RefreshedListKeepsTheLiveSourceOrSwitchesToItsFirst) {
    struct Case {
        const char* name;
        std::vector<VideoSource*> list;
        Log calls;
        VideoSource* current;
        bool keeps;  // the picture and the recording
    } const cases[] = {
        {"live source gone", {&b}, {"a.Stop", "b.Open 0", "b.Start", "b.UpdateFrame"}, &b, false},
        {"live source first", {&a, &b}, {}, &a, true},
        {"live source listed after another", {&b, &a}, {}, &a, true},
        {"empty list", {}, {}, &a, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.reset(new TestView);
        Open(64, 48);
        FakeProvider provider;
        view->provider = &provider;
        view->SetSource(&a);
        a.Show(Picture(4, 2));
        Paint();
        HBITMAP painted = view->GetBitmap();
        ASSERT_TRUE(painted);
        view->recordingsEnded = 0;
        provider.list = c.list;
        provider.refresh = true;
        log.clear();
        Paint();
        EXPECT_EQ(log, c.calls);
        EXPECT_EQ(view->source, c.current);
        EXPECT_TRUE(Invalid());
        EXPECT_EQ(view->GetBitmap(), c.keeps ? painted : nullptr);
        EXPECT_EQ(view->recordingsEnded, c.keeps ? 0 : 1);

        // The list is fresh now: the next paint shows the current source, or black for a lost one,
        // which gives no frame.
        auto* current = static_cast<FakeSource*>(c.current);
        const bool lost = c.list.empty();
        current->Show(Picture(4, 2));
        current->nullFrame = lost;
        log.clear();
        ::UpdateWindow(Window());
        const std::string tag = c.current == &a ? "a" : "b";
        const Log paintCalls{tag + ".GetFrame", tag + ".UpdateFrame"};
        EXPECT_EQ(log, paintCalls);
        EXPECT_FALSE(Invalid());
        EXPECT_EQ(view->GetBitmap() != nullptr, !lost);
        EXPECT_EQ(ShowsBlack(), lost);
        current->nullFrame = false;
    }
}

// --- the source's update and capture requests ---------------------------------------------------

TEST_F(ViewTest, UpdateResultTenRequestsOneCaptureAfterThePaint) {
    struct Case {
        int result;
        bool owner;
        int captures;
    } const cases[] = {{UpdateFrameNone, true, 0}, {UpdateFrameNew, true, 0}, {UpdateFrameRemoteCapture, true, 1},
                       {UpdateFrameRemoteCapture, false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "result " << c.result << (c.owner ? " with owner" : " without owner"));
        view.reset(new TestView);
        Open(64, 48);
        view->owner = c.owner ? SomeOwner() : nullptr;
        view->SetSource(&a);
        a.result = c.result;
        a.Show(Picture(4, 2));
        Log atCapture;
        Frame captured;
        view->onCapture = [&] {
            atCapture = log;
            captured = DibSectionPicture(view->GetBitmap());
        };
        log.clear();
        Paint();
        EXPECT_EQ(view->captures, c.captures);
        EXPECT_EQ(log, (Log{"a.GetFrame", "a.UpdateFrame"}));
        if (c.captures) {
            // The still is written from the bitmap: it holds the painted frame, the source has moved on.
            EXPECT_EQ(atCapture, log);
            EXPECT_EQ(captured, Picture(4, 2));
        }
    }
}

// --- feeding a recording ------------------------------------------------------------------------

TEST_F(ViewTest, FeedsTheRecorderAtMostEvery35ms) {
    struct Case {
        const char* name;
        DWORD lastRecord;
        DWORD now;
        bool doubled;
        int recorderWidth, recorderHeight;
        size_t frames;
    } const cases[] = {
        {"34 ms", 1000, 1034, false, 4, 2, 0},
        {"35 ms", 1000, 1035, false, 4, 2, 1},
        {"35 ms doubled", 1000, 1035, true, 4, 2, 2},
        {"34 ms doubled", 1000, 1034, true, 4, 2, 0},
        {"first paint of a recording", 0, 90000, false, 4, 2, 1},
        {"tick wrap, 35 ms", 0xFFFFFFF0, 0x13, false, 4, 2, 1},
        {"tick wrap, 34 ms", 0xFFFFFFF0, 0x12, false, 4, 2, 0},
        {"recorder of another width", 1000, 1035, false, 3, 2, 0},
        {"recorder of another height", 1000, 1035, false, 4, 3, 0},
    };
    const Frame picture = Picture(4, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.reset(new TestView);
        Open(64, 48);
        view->SetSource(&a);
        a.Show(picture);
        Received got;
        SteppingRecorder recorder(new FakeEncoder(&got, c.recorderWidth, c.recorderHeight), L"x", c.recorderWidth,
                                  c.recorderHeight, 24, VideoOutputAvi);
        ASSERT_TRUE(recorder.Start(L"x", 35));
        view->SetRecorder(&recorder);
        view->doubleFrames = c.doubled;
        view->lastRecordTick = c.lastRecord;
        view->lastPaintTick = c.now - 20;
        view->now = c.now;
        Paint();
        EXPECT_EQ(view->msSinceRecorded, c.now - c.lastRecord);
        EXPECT_EQ(view->msBetweenPaints, 20u);
        EXPECT_EQ(view->lastPaintTick, c.now);
        EXPECT_EQ(view->lastRecordTick, c.frames ? c.now : c.lastRecord);
        EXPECT_EQ(recorder.counters.handed, c.frames);
        ASSERT_EQ(got.pixels.size(), c.frames);
        for (size_t i = 0; i < c.frames; ++i) {
            // Both arguments carry the painted frame, though the source released it right after.
            EXPECT_EQ(got.pixels[i], picture);
            EXPECT_EQ(got.dibs[i], view->GetBitmap());
            EXPECT_EQ(got.dibPictures[i], picture);
        }
        view->SetRecorder(nullptr);
    }
}

// --- orientation --------------------------------------------------------------------------------

TEST_F(ViewTest, RowZeroIsTheTopOfTheBitmapAndOfThePicture) {
    constexpr int kScale = 8;  // screen pixels per frame pixel
    const SIZE sizes[] = {{4, 2}, {3, 3}};
    for (const SIZE& size : sizes) {
        const int w = size.cx, h = size.cy;
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        view.reset(new TestView);
        Open(w * kScale, h * kScale);
        FakeSource s{"s", &log, {size}};
        view->SetSource(&s);
        const Frame picture = Picture(w, h);
        s.Show(picture);
        Paint();

        EXPECT_EQ(view->bitmapInfo.bmiHeader.biSizeImage, static_cast<DWORD>(h * Stride(w)));
        // Read back as the still capture does.
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        std::vector<uint8_t> rows(static_cast<size_t>(h) * Stride(w));
        ASSERT_EQ(::GetDIBits(view->memoryDC, view->GetBitmap(), 0, h, rows.data(), &info, DIB_RGB_COLORS), h);
        EXPECT_EQ(FromDibRows(rows.data(), w, h), picture);

        HDC screen = ::GetDC(Window());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = &picture[(static_cast<size_t>(y) * w + x) * 3];
                EXPECT_EQ(::GetPixel(screen, x * kScale + kScale / 2, y * kScale + kScale / 2), RGB(p[2], p[1], p[0]))
                    << "pixel " << x << "," << y;
            }
        ::ReleaseDC(Window(), screen);
        view.reset();
    }
}

}  // namespace

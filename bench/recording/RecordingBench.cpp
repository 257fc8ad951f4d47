// What a recording costs the UI thread: CVideoRecorder with the real encoders, at 640x480,
// 1280x720 and 1920x1080, AVI and MPEG, each with single and doubled feedings, fed every 35 to 48 ms
// of real clock for 10 s, as the live view feeds between its paints. A feeding hands a BGR24
// picture and a 24-bit bottom-up DIB section holding the same picture (the AVI encoder writes the
// DIB's bits, MPEG-2 converts the BGR24 buffer). Before each feeding the live view (control 1024 of
// template 102) paints the same picture, so that one paint and its feeding can be told against a
// 60 Hz frame. The first feeding and Stop are timed apart; the recorder's counters show what the
// clock placed. Prints figures; asserts nothing.
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>
#include "bench/support/BenchSupport.h"
#include "framework/Framework.h"
#include "recording/VideoRecorder.h"
#include "res/resource.h"
#include "ui/VideoDisplay.h"

namespace {

constexpr double kRunSeconds = 10.0;
constexpr int kMinGapMs = 35, kMaxGapMs = 48;
constexpr int kPictures = 8;  // distinct pictures, fed in turn
constexpr int kWantedFeedings = 300;

INT_PTR CALLBACK PlainDialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// One size of picture for the live view, always with a frame ready: the picture fed next.
class PictureSource : public VideoSource {
public:
    PictureSource(int width, int height) {
        m_resolution.width = width;
        m_resolution.height = height;
        m_resolution.bitsPerPixel = 24;
        resolutions.push_back(&m_resolution);
        description = "pictures";
    }
    ~PictureSource() override { resolutions.clear(); }  // m_resolution is a member
    int Start() override { return 0; }
    int Stop() override { return 0; }
    VideoFrame* GetFrame(unsigned char*) override { return current; }
    int UpdateFrame() override { return UpdateFrameNew; }
    void Close() override {}
    void Open(VideoResolution*) override {}

    unsigned char* current = nullptr;

private:
    VideoResolution m_resolution;
};

struct Figures {
    int feedings = 0;
    double startMs = 0, firstMs = 0, stopMs = 0;
    bench::Spread feeding, paint, both;
    CVideoRecorder::Counters counters;
    double megabytes = 0;
    bool ok = true;
};

// Frame row 0 goes to the DIB's last row, as the live view copies it.
void CopyToDib(const std::vector<uint8_t>& picture, int width, int height, void* bits) {
    const size_t rowBytes = static_cast<size_t>(width) * 3, stride = static_cast<size_t>(DibStride(width, 24));
    for (int y = 0; y < height; ++y)
        std::copy_n(picture.data() + rowBytes * y, rowBytes, static_cast<uint8_t*>(bits) + stride * (height - 1 - y));
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

Figures Record(const std::wstring& path, int format, bool doubled, int width, int height,
               std::vector<std::vector<uint8_t>>& pictures, HBITMAP dib, void* bits, PictureSource& source,
               CVideoDisplay& view) {
    Figures f;
    std::mt19937 gaps(11);
    std::uniform_int_distribution<int> gap(kMinGapMs, kMaxGapMs);
    CVideoRecorder recorder(path, width, height, 24, format);
    double t0 = bench::Milliseconds();
    f.ok = recorder.Start(path, 16);
    f.startMs = bench::Milliseconds() - t0;
    if (!f.ok) return f;

    std::vector<double> feeding, paint, both;
    const double end = bench::Milliseconds() + kRunSeconds * 1000;
    double due = bench::Milliseconds();
    for (int i = 0; bench::Milliseconds() < end; ++i) {
        const std::vector<uint8_t>& picture = pictures[i % kPictures];
        source.current = const_cast<uint8_t*>(picture.data());
        CopyToDib(picture, width, height, bits);
        GdiFlush();

        t0 = bench::Milliseconds();
        InvalidateRect(view.m_hWnd, nullptr, TRUE);
        UpdateWindow(view.m_hWnd);
        const double t1 = bench::Milliseconds();
        bool fed = recorder.AddFrame(picture.data(), dib);
        if (fed && doubled) fed = recorder.AddFrame(picture.data(), dib);
        const double t2 = bench::Milliseconds();
        if (!fed) {
            f.ok = false;
            break;
        }
        if (i == 0) {
            f.firstMs = t2 - t1;
        } else {
            feeding.push_back(t2 - t1);
            paint.push_back(t1 - t0);
            both.push_back(t2 - t0);
        }
        // The next feeding a gap of 35 to 48 ms after this one was due; when that has passed (a slow
        // feeding), at once, as the live view's next paint would feed.
        due = std::max(due + gap(gaps), bench::Milliseconds());
        for (double now = bench::Milliseconds(); now < due; now = bench::Milliseconds()) {
            PumpMessages();
            Sleep(static_cast<DWORD>(std::max(1.0, due - now)));
        }
    }
    t0 = bench::Milliseconds();
    f.ok = recorder.Stop() && f.ok;
    f.stopMs = bench::Milliseconds() - t0;
    f.feedings = static_cast<int>(feeding.size()) + 1;
    f.feeding = bench::Summarise(feeding);
    f.paint = bench::Summarise(paint);
    f.both = bench::Summarise(both);
    f.counters = recorder.counters;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        f.megabytes = (static_cast<double>(data.nFileSizeHigh) * 4294967296.0 + data.nFileSizeLow) / 1e6;
    return f;
}

}  // namespace

int main() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const TempFolder scratch;
    if (!scratch.ok()) {
        std::printf("cannot make the folder %ls\n", scratch.path().c_str());
        return 1;
    }
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_LUMETRA_DIALOG), nullptr,
                                     PlainDialogProc, 0);
    if (!dialog) {
        std::printf("cannot make the dialog from template 102 (is there a display?)\n");
        return 1;
    }
    CVideoDisplay view;
    view.SubclassWindow(GetDlgItem(dialog, IDC_VIDEO_DISPLAY));
    RECT client{};
    view.GetClientRect(&client);
    PumpMessages();
    // Sleep's granularity would otherwise be the system tick (15.6 ms on Windows), not the gap asked.
    timeBeginPeriod(1);

    std::printf("machine: %s\n", bench::MachineLine().c_str());
    std::printf("a feeding every %d-%d ms (Sleep) for %.0f s; ms on the UI thread, the first feeding apart; "
                "paint: the live view %ldx%ld\n", kMinGapMs, kMaxGapMs, kRunSeconds, client.right, client.bottom);
    std::printf("%-10s %-5s %-8s %5s %7s %7s %7s %7s %7s %7s %7s %7s %7s %6s %6s %6s %5s %5s %7s\n", "size",
                "fmt", "feeding", "n", "median", "p95", "max", "first", "stop", "paint", "pnt p95", "p+f p95",
                "p+f max", "handed", "writtn", "skipd", "refsd", "drop", "MB");
    const int sizes[][2] = {{640, 480}, {1280, 720}, {1920, 1080}};
    bool fewer = false;
    double hdMpegBoth = 0, hdMpegRate = 0;
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        std::mt19937 random(7);
        std::vector<std::vector<uint8_t>> pictures;
        for (int i = 0; i < kPictures; ++i) pictures.push_back(bench::CameraPicture(w, h, i, random));
        void* bits = nullptr;
        HBITMAP dib = bench::CreateDib24(w, h, &bits);
        if (!dib) {
            std::printf("%dx%d: cannot make the DIB section\n", w, h);
            continue;
        }
        PictureSource source(w, h);
        source.current = pictures[0].data();
        view.SetSource(&source);
        for (int format : {VideoOutputAvi, VideoOutputMpeg}) {
            for (bool doubled : {false, true}) {
                const std::wstring path = scratch.path() + L"\\" + std::to_wstring(w) + L"x" + std::to_wstring(h) +
                                          RecordingFormatOf(format).extension;
                const Figures f = Record(path, format, doubled, w, h, pictures, dib, bits, source, view);
                DeleteFileW(path.c_str());
                char label[16];
                std::snprintf(label, sizeof label, "%dx%d", w, h);
                std::printf("%-10s %-5s %-8s %5d %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f %6llu %6llu "
                            "%6llu %5llu %5llu %7.1f%s\n",
                            label, format == VideoOutputAvi ? "AVI" : "MPEG", doubled ? "doubled" : "single",
                            f.feedings, f.feeding.median, f.feeding.p95, f.feeding.max, f.firstMs, f.stopMs,
                            f.paint.median, f.paint.p95, f.both.p95, f.both.max, static_cast<unsigned long long>(f.counters.handed),
                            static_cast<unsigned long long>(f.counters.written),
                            static_cast<unsigned long long>(f.counters.skipped),
                            static_cast<unsigned long long>(f.counters.refused),
                            static_cast<unsigned long long>(f.counters.dropped), f.megabytes,
                            f.ok ? "" : "  [FAILED]");
                std::fflush(stdout);
                fewer |= f.feedings < kWantedFeedings;
                if (w == 1280 && format == VideoOutputMpeg && doubled) {
                    hdMpegBoth = f.both.p95;
                    hdMpegRate = static_cast<double>(f.counters.written) / kRunSeconds;
                }
            }
        }
        view.SetSource(nullptr);
        DeleteObject(dib);
    }
    timeEndPeriod(1);
    if (fewer)
        std::printf("n: feedings in %.0f s (at most %d fit at gaps of %d-%d ms; %d were wanted)\n", kRunSeconds,
                    static_cast<int>(kRunSeconds * 1000 / kMinGapMs), kMinGapMs, kMaxGapMs, kWantedFeedings);
    std::printf("paint, pnt p95: the live view's paint before the feeding; p+f: paint and feeding together; writtn/skipd/refsd/drop: "
                "the recorder's counters (frames written, feedings whose slot was taken, refused for their size, slots "
                "given up to a stall or to the encoder's full queue)\n");
    std::printf("1280x720 MPEG as recorded (doubled): p95 of paint + feeding %.2f ms (%s 16 ms), %.1f frames/s "
                "written (30 wanted)\n", hdMpegBoth, hdMpegBoth > 16 ? "over" : "within", hdMpegRate);
    view.UnsubclassWindow();
    DestroyWindow(dialog);
    return 0;
}

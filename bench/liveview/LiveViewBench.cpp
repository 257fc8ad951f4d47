// The live view in a window of control 1024's size, driven as the idle loop drives it
// (InvalidateRect + UpdateWindow whenever the queue is empty), per source: paints and new frames
// per second and UI-thread time per paint split into the copy, the stretch and the source's update.
// Beside it a ceiling from the same window and loop: a control whose paint only StretchDIBits one
// frame of that source, laid out once. Prints figures; asserts nothing.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "bench/support/BenchSupport.h"
#include "framework/Framework.h"
#include "standins/webcam/StandinWebcam.h"
#include "ui/VideoDisplay.h"
#include "video/FK40VideoSourceProvider.h"
#include "video/WebCamVideoSourceProvider.h"

namespace {

constexpr double kRunSeconds = 3.0;
constexpr double kWarmUpSeconds = 0.5;
constexpr int kSlices = 30;
constexpr int kViewId = 1024;

using bench::FromExe;
using bench::Seconds;

INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Control 1024 is 434 x 343 dialog units in a DIALOGEX template with DS_SHELLFONT and
// "MS Shell Dlg" 8: an empty dialog of the same kind maps them to pixels.
SIZE ViewSize() {
    std::vector<WORD> t;
    auto dword = [&](DWORD d) {
        t.push_back(LOWORD(d));
        t.push_back(HIWORD(d));
    };
    t.push_back(1);       // dlgVer
    t.push_back(0xFFFF);  // signature: DLGTEMPLATEEX
    dword(0);             // helpID
    dword(0);             // exStyle
    dword(DS_SETFONT | DS_FIXEDSYS | WS_POPUP);
    t.insert(t.end(), {0, 0, 0, 100, 100});  // no items; x, y, cx, cy
    t.insert(t.end(), {0, 0, 0});            // no menu, default class, no title
    t.insert(t.end(), {8, FW_NORMAL, MAKEWORD(FALSE, DEFAULT_CHARSET)});
    for (const wchar_t* f = L"MS Shell Dlg";; ++f) {
        t.push_back(*f);
        if (!*f) break;
    }
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(t.data()),
                                             nullptr, PlainDialogProc, 0);
    RECT r{0, 0, 434, 343};
    if (dialog) {
        MapDialogRect(dialog, &r);
        DestroyWindow(dialog);
    }
    return {r.right, r.bottom};
}

// Forwards to a real source, counting UpdateFrame results of 1 and pictures that differ from the
// one before in some of their bytes (a webcam reports 1 on every update).
class CountingSource : public VideoSource {
public:
    explicit CountingSource(VideoSource* inner) : m_inner(inner) {
        resolutions = inner->resolutions;
        description = inner->description;
    }
    ~CountingSource() override { resolutions.clear(); }  // the inner source's

    int Start() override { return m_inner->Start(); }
    int Stop() override { return m_inner->Stop(); }
    VideoFrame* GetFrame(unsigned char* unused) override {
        VideoFrame* frame = m_inner->GetFrame(unused);
        if (frame && m_frameBytes) {
            bool differs = false;
            for (size_t k = 0; k < kSamples; ++k) {
                const uint8_t byte = frame[m_frameBytes / kSamples * k];
                differs |= byte != m_sample[k];
                m_sample[k] = byte;
            }
            if (m_references > 0) --m_references;
            else changed += differs;
        }
        return frame;
    }
    int UpdateFrame() override {
        int result = m_inner->UpdateFrame();
        if (result == UpdateFrameNew) ++newFrames;
        return result;
    }
    void Close() override { m_inner->Close(); }
    void Open(VideoResolution* r) override {
        m_inner->Open(r);
        m_frameBytes = static_cast<size_t>(r->width) * r->height * (r->bitsPerPixel / 8);
    }

    VideoSource* Inner() const { return m_inner; }
    // The source ran on while the ceiling painted: the pictures of the next two paints (the last one
    // seen, then the newest of those it made meanwhile) are references, not changes.
    void Rebase() { m_references = 2; }
    int newFrames = 0;
    int changed = 0;

private:
    static constexpr size_t kSamples = 997;
    VideoSource* m_inner;
    size_t m_frameBytes = 0;
    uint8_t m_sample[kSamples] = {};
    int m_references = 2;
};

// The live view with its paint steps timed.
class BenchView : public CVideoDisplay {
public:
    void Reset() {
        std::fill(std::begin(stepSeconds), std::end(stepSeconds), 0.0);
        paints = messages = 0;
        messageSeconds = 0;
    }
    double stepSeconds[3] = {};  // copy, stretch, update
    int paints = 0;              // painted frames
    int messages = 0;            // WM_PAINT messages
    double messageSeconds = 0;

protected:
    void OnPaintStep(PaintStep step) override {
        const double now = Seconds();
        if (step != PaintStep::Copy) stepSeconds[static_cast<int>(step) - 1] += now - m_mark;
        if (step == PaintStep::Done) ++paints;
        m_mark = now;
    }
    LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
        if (msg != WM_PAINT) return CVideoDisplay::WindowProc(msg, w, l);
        const double start = Seconds();
        LRESULT result = CVideoDisplay::WindowProc(msg, w, l);
        messageSeconds += Seconds() - start;
        ++messages;
        return result;
    }

private:
    double m_mark = 0;
};

// The ceiling: one frame, laid out once as a bottom-up DIB, stretched over the control.
class CeilingView : public CStatic {
public:
    void SetPicture(const VideoFrame* frame, int w, int h) {
        const size_t stride = static_cast<size_t>(DibStride(w, 24));
        m_bits.assign(stride * h, 0);
        for (int y = 0; y < h; ++y)
            std::memcpy(&m_bits[stride * (h - 1 - y)], frame + static_cast<size_t>(w) * 3 * y, static_cast<size_t>(w) * 3);
        m_info = DibInfo(w, h, 24);
    }
    int paints = 0;
    double seconds = 0;
    double stretchSeconds = 0;

protected:
    void OnPaint() {
        const double start = Seconds();
        {
            CPaintDC dc(this);
            CRect client;
            GetClientRect(&client);
            const double stretchStart = Seconds();
            dc.SetStretchBltMode(COLORONCOLOR);
            ::StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, m_info.bmiHeader.biWidth,
                            m_info.bmiHeader.biHeight, m_bits.data(), &m_info, DIB_RGB_COLORS, SRCCOPY);
            stretchSeconds += Seconds() - stretchStart;
        }
        seconds += Seconds() - start;
        ++paints;
    }
    DECLARE_MESSAGE_MAP()

private:
    std::vector<uint8_t> m_bits;
    BITMAPINFO m_info{};
};

BEGIN_MESSAGE_MAP(CeilingView, CStatic)
    ON_WM_PAINT()
END_MESSAGE_MAP()

// The idle loop: messages first; whenever the queue is empty, invalidate and update the view.
double Drive(HWND view, double seconds) {
    const double start = Seconds();
    MSG msg;
    while (Seconds() - start < seconds) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            continue;
        }
        InvalidateRect(view, nullptr, TRUE);
        UpdateWindow(view);
    }
    return Seconds() - start;
}

HWND MakeFrame(SIZE client) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"LiveViewBenchFrame";
    RegisterClassW(&wc);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN | WS_VISIBLE;
    RECT r{0, 0, client.cx, client.cy};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    return CreateWindowExW(0, wc.lpszClassName, L"Live view", style, 0, 0, r.right - r.left, r.bottom - r.top,
                           nullptr, nullptr, wc.hInstance, nullptr);
}

HWND MakeControl(HWND frame, SIZE client, bool visible) {
    return CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_BLACKFRAME | (visible ? WS_VISIBLE : 0), 0, 0, client.cx,
                           client.cy, frame, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kViewId)),
                           GetModuleHandleW(nullptr), nullptr);
}

struct Run {
    const char* label;
    CountingSource* source;
    VideoResolution* resolution;
};

// Live view and ceiling take turns in short slices, so that a change of load on the machine
// meets both alike.
void Measure(const Run& run, BenchView& view, CeilingView& ceiling) {
    if (view.source != run.source) view.SetSource(run.source);
    view.SetResolution(run.resolution);
    ceiling.ShowWindow(SW_HIDE);
    view.ShowWindow(SW_SHOW);
    Drive(view.m_hWnd, kWarmUpSeconds);  // a webcam's graph needs a moment before its first sample
    const VideoFrame* frame = run.source->Inner()->GetFrame(nullptr);
    if (frame) ceiling.SetPicture(frame, run.resolution->width, run.resolution->height);

    view.Reset();
    run.source->newFrames = run.source->changed = 0;
    ceiling.paints = 0;
    ceiling.seconds = ceiling.stretchSeconds = 0;
    double elapsed = 0, ceilingElapsed = 0;
    for (int slice = 0; slice < kSlices; ++slice) {
        view.ShowWindow(SW_SHOW);
        run.source->Rebase();
        elapsed += Drive(view.m_hWnd, kRunSeconds / kSlices);
        if (!frame) continue;
        view.ShowWindow(SW_HIDE);
        ceiling.ShowWindow(SW_SHOW);
        ceilingElapsed += Drive(ceiling.m_hWnd, kRunSeconds / kSlices);
        ceiling.ShowWindow(SW_HIDE);
    }
    const int newFrames = run.source->newFrames, changed = run.source->changed;

    const double paintsPerSecond = view.paints / elapsed;
    const double ceilingPerSecond = ceilingElapsed > 0 ? ceiling.paints / ceilingElapsed : 0;
    auto ms = [](double seconds, int count) { return count ? seconds * 1e3 / count : 0.0; };
    std::printf("%-22s %8.1f %8.1f %6.2f %8.1f %8.1f %7.3f %7.3f %7.3f %7.3f %8.3f %8.3f\n", run.label, paintsPerSecond,
                ceilingPerSecond, ceilingPerSecond > 0 ? paintsPerSecond / ceilingPerSecond : 0.0, newFrames / elapsed,
                changed / elapsed, ms(view.stepSeconds[0], view.paints), ms(view.stepSeconds[1], view.paints),
                ms(view.stepSeconds[2], view.paints), ms(view.messageSeconds, view.messages),
                ms(ceiling.stretchSeconds, ceiling.paints), ms(ceiling.seconds, ceiling.paints));
    std::fflush(stdout);
}

VideoResolution* Find(VideoSource* s, int w, int h) {
    for (VideoResolution* r : s->resolutions)
        if (r->width == w && r->height == h) return r;
    return nullptr;
}

}  // namespace

int main() {
    const SIZE size = ViewSize();
    HDC screen = GetDC(nullptr);
    const char* display = std::getenv("DISPLAY");
    std::printf("Live view %ldx%ld (control 1024: 434x343 dialog units, MS Shell Dlg 8); screen %dx%d at %d bpp, "
                "DISPLAY %s; %.0f s per source\n",
                size.cx, size.cy, GetDeviceCaps(screen, HORZRES), GetDeviceCaps(screen, VERTRES),
                GetDeviceCaps(screen, BITSPIXEL), display ? display : "(none)", kRunSeconds);
    ReleaseDC(nullptr, screen);

    HWND frame = MakeFrame(size);
    BenchView view;
    CeilingView ceiling;
    view.SubclassWindow(MakeControl(frame, size, true));
    ceiling.SubclassWindow(MakeControl(frame, size, false));

    // The FK40 stand-in from its own folder; the virtual webcam registered for this run.
    SetDllDirectoryW(FromExe(LYC_STANDIN_DIR_REL).c_str());
    FK40VideoSourceProvider fk40;
    HMODULE standin = LoadLibraryW(FromExe(STANDIN_WEBCAM_REL).c_str());
    auto add = standin ? reinterpret_cast<StandinWebcamAddFn>(GetProcAddress(standin, "StandinWebcamAdd")) : nullptr;
    auto remove = standin ? reinterpret_cast<StandinWebcamRemoveFn>(GetProcAddress(standin, "StandinWebcamRemove")) : nullptr;
    const std::wstring instance = L"lvbench" + std::to_wstring(GetCurrentProcessId());
    const std::string described = "Live view bench " + std::to_string(GetCurrentProcessId());
    const std::wstring wideDescribed(described.begin(), described.end());
    if (!add || add(instance.c_str(), wideDescribed.c_str(), wideDescribed.c_str(), L"YUY2 640x480;YUY2 1280x720", 1,
                    FALSE) != S_OK)
        std::printf("virtual webcam not registered\n");
    WebCamVideoSourceProvider webcams;
    VideoSource* webcam = nullptr;
    for (int attempt = 0; attempt < 100 && !webcam; ++attempt) {
        for (VideoSource* s : *webcams.GetVideoSources())
            if (s->description == described && s->initialized) webcam = s;
        if (!webcam) Sleep(20);
    }

    std::printf("%-22s %-24s %-17s %-31s %s\n", "", "      paints/s", "    frames/s", "   live view, ms per paint",
                "ceiling, ms/paint");
    std::printf("%-22s %8s %8s %6s %8s %8s %7s %7s %7s %7s %8s %8s\n", "source", "view", "ceiling", "ratio", "new",
                "changed", "copy", "stretch", "update", "paint", "stretch", "paint");
    std::vector<VideoSource*> fk40Sources = *fk40.GetVideoSources();
    CountingSource* fk40Source = fk40Sources.empty() ? nullptr : new CountingSource(fk40Sources.front());
    CountingSource* webcamSource = webcam ? new CountingSource(webcam) : nullptr;
    if (fk40Source && !fk40Source->resolutions.empty())
        Measure({"FK40 stand-in 202x202", fk40Source, fk40Source->resolutions.front()}, view, ceiling);
    else
        std::printf("FK40 stand-in: no source\n");
    VideoResolution* vga = webcamSource ? Find(webcamSource, 640, 480) : nullptr;
    VideoResolution* hd = webcamSource ? Find(webcamSource, 1280, 720) : nullptr;
    if (vga && hd) {
        Measure({"webcam 640x480", webcamSource, vga}, view, ceiling);
        Measure({"webcam 1280x720", webcamSource, hd}, view, ceiling);
    } else {
        std::printf("virtual webcam: no source with 640x480 and 1280x720\n");
    }
    std::printf("goal: paints/s at least 0.9 x the ceiling's\n");

    view.SetSource(nullptr);
    fk40.CloseAllSources();
    webcams.CloseAllSources();
    delete fk40Source;
    delete webcamSource;
    if (remove) remove(instance.c_str());
    DestroyWindow(frame);
    return 0;
}

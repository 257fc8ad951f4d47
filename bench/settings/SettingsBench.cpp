// The Settings dialog: opening it (to both lists filled) with the FK40 stand-in and 1, then 4,
// virtual webcams, beside one bare enumeration of the same devices plus the template-130 dialog
// with a plain dialog procedure (empty lists); a choice in it (FK40 to the webcam, then the
// webcam's 160x120 to 640x480 to 1280x720) to the first device picture the live view paints at the
// new size, beside a bare capture graph of that device and format run to its first sample; and the
// live view's painted frames per second while the dialog runs modally (its loop drives the idle
// handler) against the application's own idle loop with it closed. Medians and totals printed;
// nothing asserted.
#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "bench/support/BenchSupport.h"
#include "framework/Framework.h"
#include "res/SettingsResource.h"
#include "standins/webcam/StandinWebcam.h"
#include "ui/SettingsDlg.h"
#include "ui/VideoDisplay.h"
#include "video/CompositeVideoSourceProvider.h"
#include "video/DirectShowHelpers.h"
// dshow.h brings windowsx.h, whose macro of this name hides CWnd::SubclassWindow.
#undef SubclassWindow

namespace {

constexpr int kOpenings = 25;
constexpr int kChoiceRounds = 7;
constexpr double kChoiceTimeOut = 5.0;
constexpr int kSlices = 10;
constexpr double kSliceSeconds = 0.4;

using bench::FromExe;
using bench::Median;
using bench::Seconds;

INT_PTR CALLBACK PlainDialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// The live view's paints, as the application's idle handler makes them.
class CountingView : public CVideoDisplay {
public:
    int paints = 0;

    // Whether the last paint showed a device's picture at that size: a source hands out a blank
    // frame (all zero) from its opening until its first sample arrives.
    bool ShowsPictureAt(int w, int h) const {
        DIBSECTION section{};
        if (width != w || height != h || !dibSection || ::GetObjectW(dibSection, sizeof section, &section) != sizeof section ||
            !section.dsBm.bmBits)
            return false;
        const auto* bits = static_cast<const uint8_t*>(section.dsBm.bmBits);
        const size_t bytes = static_cast<size_t>(section.dsBm.bmWidthBytes) * h;
        for (size_t k = 0; k < 512; ++k)
            if (bits[bytes / 512 * k]) return true;
        return false;
    }

protected:
    void OnPaintStep(PaintStep step) override {
        if (step == PaintStep::Done) ++paints;
    }
};

class BenchApp : public CWinApp {
public:
    HWND view = nullptr;
    BOOL OnIdle(LONG count) override {
        CWinApp::OnIdle(count);
        ::InvalidateRect(view, nullptr, TRUE);
        ::UpdateWindow(view);
        return TRUE;
    }
};

// The dialog up, its own opening (an enumeration) left out of the frame count.
class TimedSettingsDlg : public CSettingsDlg {
public:
    TimedSettingsDlg(CompositeVideoSourceProvider* p, CountingView* v, std::vector<ExcludedCamera>* e)
        : CSettingsDlg(p, v, e), m_view(v) {}
    double upSince = 0, upFor = 0;
    int paints = 0;
    void Finish() {
        upFor = Seconds() - upSince;
        paints = m_view->paints;
        EndDialog(IDOK);
    }

protected:
    BOOL OnInitDialog() override {
        BOOL result = CSettingsDlg::OnInitDialog();
        m_view->paints = 0;
        upSince = Seconds();
        return result;
    }

private:
    CountingView* m_view;
};

TimedSettingsDlg* g_running = nullptr;

void CALLBACK EndSettings(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    if (g_running) g_running->Finish();
}

// Both openings alternate, so that a change of load meets them alike.
void MeasureOpening(const char* label, CompositeVideoSourceProvider& provider, CVideoDisplay& view,
                    std::vector<ExcludedCamera>& exclusions) {
    std::vector<double> dialog, bare;
    size_t devices = 0;
    for (int i = 0; i < kOpenings; ++i) {
        double start = Seconds();
        {
            CSettingsDlg dlg(&provider, &view, &exclusions);
            dlg.Create(IDD_SETTINGS_DIALOG);
            dialog.push_back(Seconds() - start);
            dlg.DestroyWindow();
        }
        start = Seconds();
        devices = provider.GetVideoSources()->size();
        HWND plain = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETTINGS_DIALOG), nullptr,
                                        PlainDialogProc, 0);
        bare.push_back(Seconds() - start);
        DestroyWindow(plain);
    }
    const double d = Median(dialog) * 1e3, b = Median(bare) * 1e3;
    std::printf("%-28s %7zu %10.2f %10.2f %7.2f\n", label, devices, d, b, b > 0 ? d / b : 0.0);
    std::fflush(stdout);
}

// The first sample of a bare graph, signalled once.
class FirstSample : public ISampleGrabberCB {
public:
    FirstSample() : event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~FirstSample() { ::CloseHandle(event); }
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = iid == IID_ISampleGrabberCB || iid == IID_IUnknown ? static_cast<ISampleGrabberCB*>(this) : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample*) override {
        ::SetEvent(event);
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return S_OK; }
    HANDLE event;
};

// A device's moniker and its YUY2 format of a size, found once outside the timing.
struct BareDevice {
    ComPtr<IMoniker> moniker;
    OwnedMediaType formats[3];
};

bool FindBareDevice(const std::wstring& friendlyName, const int (*sizes)[2], size_t count, BareDevice& device) {
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&devices))) ||
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
        return false;
    for (ComPtr<IMoniker> m; monikers->Next(1, &m, nullptr) == S_OK; m.Reset()) {
        ComPtr<IPropertyBag> bag;
        std::wstring name;
        if (SUCCEEDED(m->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag))) &&
            ReadDeviceProperty(bag.Get(), L"FriendlyName", name) && name == friendlyName) {
            device.moniker = m;
            break;
        }
    }
    ComPtr<IBaseFilter> filter;
    if (!device.moniker || device.moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&filter)) != S_OK) return false;
    ComPtr<IAMStreamConfig> config;
    ComPtr<IPin> pin = GetPinByDirection(filter.Get(), PINDIR_OUTPUT);
    int capabilities = 0, capsSize = 0;
    if (!pin || pin.As(&config) != S_OK || config->GetNumberOfCapabilities(&capabilities, &capsSize) != S_OK)
        return false;
    std::vector<BYTE> caps(static_cast<size_t>(std::max(capsSize, 1)));
    size_t found = 0;
    for (int i = 0; i < capabilities; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        if (config->GetStreamCaps(i, &mt, caps.data()) != S_OK || !mt) continue;
        const VIDEOINFOHEADER* video = VideoInfoOf(*mt);
        for (size_t k = 0; k < count; ++k)
            if (video && mt->subtype == MEDIASUBTYPE_YUY2 && video->bmiHeader.biWidth == sizes[k][0] &&
                std::abs(video->bmiHeader.biHeight) == sizes[k][1] && device.formats[k].Assign(*mt))
                ++found;
        DeleteMediaTypeRecord(mt);
    }
    return found == count;
}

// Seconds from nothing to the first sample of a graph of the device at one format: the device
// bound from its moniker, the format set, Sample Grabber and Null Renderer, run; negative on
// failure. The graph goes afterwards, untimed.
double BareFirstSample(const BareDevice& device, const OwnedMediaType& format) {
    FirstSample callback;
    const double start = Seconds();
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> capture, grabberFilter, renderer;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IAMStreamConfig> config;
    ComPtr<IMediaControl> control;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&graph))) ||
        device.moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&capture)) != S_OK ||
        graph->AddFilter(capture.Get(), L"Capture") != S_OK)
        return -1;
    ComPtr<IPin> out = GetPinByDirection(capture.Get(), PINDIR_OUTPUT);
    if (!out || out.As(&config) != S_OK || config->SetFormat(const_cast<AM_MEDIA_TYPE*>(&format.Get())) != S_OK ||
        FAILED(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&grabberFilter))) ||
        graph->AddFilter(grabberFilter.Get(), L"SampleGrabber") != S_OK || grabberFilter.As(&grabber) != S_OK)
        return -1;
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_YUY2;
    wanted.formattype = FORMAT_VideoInfo;
    ComPtr<IPin> grabberIn = GetPin(grabberFilter.Get(), L"Input"), grabberOut = GetPin(grabberFilter.Get(), L"Output");
    if (!grabberIn || !grabberOut || grabber->SetMediaType(&wanted) != S_OK ||
        graph->Connect(out.Get(), grabberIn.Get()) != S_OK ||
        FAILED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&renderer))) ||
        graph->AddFilter(renderer.Get(), L"Null Renderer") != S_OK)
        return -1;
    ComPtr<IPin> rendererIn = GetPin(renderer.Get(), L"In");
    if (!rendererIn || graph->ConnectDirect(grabberOut.Get(), rendererIn.Get(), nullptr) != S_OK ||
        grabber->SetCallback(&callback, 0) != S_OK || grabberFilter->SetSyncSource(nullptr) != S_OK ||
        FAILED(graph.As(&control)) || FAILED(control->Run()))
        return -1;
    const bool sampled = ::WaitForSingleObject(callback.event, static_cast<DWORD>(kChoiceTimeOut * 1000)) == WAIT_OBJECT_0;
    const double seconds = Seconds() - start;
    control->Stop();
    return sampled ? seconds : -1;
}

// A click on the row of a Settings list that carries `item`: the selection, then the
// notification the list sends its dialog; `handled` gets the seconds the dialog took for it.
bool Choose(CSettingsDlg& dlg, int listId, const void* item, double* handled = nullptr) {
    HWND list = ::GetDlgItem(dlg.m_hWnd, listId);
    const int rows = list ? static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0)) : 0;
    for (int row = 0; row < rows; ++row) {
        if (reinterpret_cast<const void*>(::SendMessageW(list, LB_GETITEMDATA, row, 0)) != item) continue;
        ::SendMessageW(list, LB_SETCURSEL, row, 0);
        const double start = Seconds();
        ::SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(listId, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
        if (handled) *handled = Seconds() - start;
        return true;
    }
    return false;
}

// The application's loop with nothing modal: messages first, the idle handler when none waits;
// for `seconds` from `start`, or until `done` holds after an idle pass. Whether it did.
template <typename Done>
bool RunIdleLoop(BenchApp& app, double start, double seconds, Done done) {
    MSG msg;
    while (Seconds() - start < seconds) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        } else {
            app.OnIdle(1);
            if (done()) return true;
        }
    }
    return false;
}

void RunIdleLoop(BenchApp& app, double seconds) {
    RunIdleLoop(app, Seconds(), seconds, [] { return false; });
}

// The application's loop until the live view has painted a device picture at w x h: seconds from
// start, or negative past the time-out.
double DriveUntilPainted(BenchApp& app, CountingView& view, int w, int h, double start) {
    return RunIdleLoop(app, start, kChoiceTimeOut, [&] { return view.ShowsPictureAt(w, h); }) ? Seconds() - start : -1;
}

// Choices in the Settings dialog, each to the first device picture painted at the new size, in
// rounds that start from the FK40 stand-in; between the choices of a round, a bare graph of the
// same device and format runs to its first sample while the live view shows the FK40 stand-in
// (the webcam's own graph stopped), so that neither streams beside the other.
void MeasureChoices(BenchApp& app, CompositeVideoSourceProvider& provider, CountingView& view,
                    std::vector<ExcludedCamera>& exclusions, const std::wstring& webcamName) {
    static const int kSizes[3][2] = {{160, 120}, {640, 480}, {1280, 720}};
    std::vector<VideoSource*> sources = *provider.GetVideoSources();
    const std::string described(webcamName.begin(), webcamName.end());
    VideoSource* fk40 = sources.empty() ? nullptr : sources.front();
    VideoSource* webcam = nullptr;
    for (VideoSource* s : sources)
        if (s->description == described) webcam = s;
    VideoResolution* entries[3] = {};
    for (int k = 0; webcam && k < 3; ++k)
        for (VideoResolution* r : webcam->resolutions)
            if (r->width == kSizes[k][0] && r->height == kSizes[k][1]) entries[k] = r;
    BareDevice device;
    if (!fk40 || fk40->name != "F40K" || !webcam || !entries[0] || !entries[1] || !entries[2] ||
        !FindBareDevice(webcamName, kSizes, 3, device)) {
        std::printf("choices: the FK40 stand-in or a webcam with YUY2 160x120, 640x480 and 1280x720 is missing\n");
        return;
    }
    // The dialog beside the live view's frame, so that it covers none of the view.
    CSettingsDlg dlg(&provider, &view, &exclusions);
    dlg.Create(IDD_SETTINGS_DIALOG);
    RECT frame{};
    ::GetWindowRect(app.m_pMainWnd->m_hWnd, &frame);
    ::SetWindowPos(dlg.m_hWnd, nullptr, frame.right + 8, frame.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    std::vector<double> dialog[3], handler[3], bare[3];
    int failures = 0;
    for (int round = 0; round < kChoiceRounds; ++round) {
        // Back to the FK40 stand-in, untimed; its pictures first, so the webcam's graph has stopped.
        if (!Choose(dlg, IDC_DEVICE_LIST, fk40) || DriveUntilPainted(app, view, 202, 202, Seconds()) < 0) {
            ++failures;
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            const double b = BareFirstSample(device, device.formats[k]);
            if (b < 0) ++failures;
            else bare[k].push_back(b);
        }
        for (int k = 0; k < 3; ++k) {
            const double start = Seconds();
            double handled = 0;
            const bool chosen = k == 0 ? Choose(dlg, IDC_DEVICE_LIST, webcam, &handled)
                                       : Choose(dlg, IDC_RESOLUTION_LIST, entries[k], &handled);
            const double d = chosen ? DriveUntilPainted(app, view, kSizes[k][0], kSizes[k][1], start) : -1;
            if (d < 0) {
                ++failures;
            } else {
                dialog[k].push_back(d);
                handler[k].push_back(handled);
            }
        }
    }
    dlg.DestroyWindow();

    std::printf("A choice in Settings to the first device picture painted at the new size, against a bare capture "
                "graph of that device and format run to its first sample; medians of %d (ms)%s\n",
                kChoiceRounds, failures ? " [SOME FAILED]" : "");
    std::printf("%-28s %10s %10s %7s %10s\n", "choice", "dialog", "bare", "ratio", "handler");
    const char* labels[3] = {"FK40 -> webcam 160x120", "webcam 160x120 -> 640x480", "webcam 640x480 -> 1280x720"};
    for (int k = 0; k < 3; ++k) {
        const double d = Median(dialog[k]) * 1e3, b = Median(bare[k]) * 1e3;
        std::printf("%-28s %10.1f %10.1f %7.2f %10.1f\n", labels[k], d, b, b > 0 ? d / b : 0.0,
                    Median(handler[k]) * 1e3);
    }
    std::printf("goal: ratio at most 1.2; handler: of the dialog's time, its own handling of the choice (the old "
                "graph stopped, the new one built and run)\n");
    std::fflush(stdout);
    view.SetSource(fk40);
}

void MeasureFrameRate(BenchApp& app, CompositeVideoSourceProvider& provider, CountingView& view,
                      std::vector<ExcludedCamera>& exclusions) {
    double open = 0, closed = 0;
    int openPaints = 0, closedPaints = 0;
    RunIdleLoop(app, 0.5);  // warm-up: the first frames
    for (int slice = 0; slice < kSlices; ++slice) {
        view.paints = 0;
        double start = Seconds();
        RunIdleLoop(app, kSliceSeconds);
        closed += Seconds() - start;
        closedPaints += view.paints;

        TimedSettingsDlg dlg(&provider, &view, &exclusions);
        g_running = &dlg;
        SetTimer(nullptr, 0, static_cast<UINT>(kSliceSeconds * 1000), EndSettings);
        dlg.DoModal();
        open += dlg.upFor;
        openPaints += dlg.paints;
        g_running = nullptr;
    }
    const double openRate = openPaints / open, closedRate = closedPaints / closed;
    std::printf("live view %s: %.1f frames/s with Settings open, %.1f closed, ratio %.2f (goal >= 0.9)\n",
                view.source ? "FK40 stand-in 202x202" : "(no source)", openRate, closedRate,
                closedRate > 0 ? openRate / closedRate : 0.0);
}

}  // namespace

int main() {
    BenchApp app;
    SetDllDirectoryW(FromExe(LYC_STANDIN_DIR_REL).c_str());
    HMODULE standin = LoadLibraryW(FromExe(STANDIN_WEBCAM_REL).c_str());
    auto add = standin ? reinterpret_cast<StandinWebcamAddFn>(GetProcAddress(standin, "StandinWebcamAdd")) : nullptr;
    auto remove =
        standin ? reinterpret_cast<StandinWebcamRemoveFn>(GetProcAddress(standin, "StandinWebcamRemove")) : nullptr;
    std::vector<std::wstring> instances;
    auto addWebcams = [&](size_t total) {
        while (instances.size() < total) {
            std::wstring instance =
                L"setbench" + std::to_wstring(GetCurrentProcessId()) + L"n" + std::to_wstring(instances.size());
            const wchar_t* formats = L"YUY2 160x120;YUY2 640x480;YUY2 1280x720";
            if (!add || add(instance.c_str(), instance.c_str(), nullptr, formats, 1, FALSE) != S_OK) {
                std::printf("virtual webcam %ls not registered\n", instance.c_str());
                return;
            }
            instances.push_back(instance);
        }
    };

    // The live view in a frame window, as the main dialog's control 1024 would be.
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"SettingsBenchFrame";
    RegisterClassW(&wc);
    HWND frame = CreateWindowExW(0, wc.lpszClassName, L"Settings bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 700,
                                 560, nullptr, nullptr, wc.hInstance, nullptr);
    CWnd mainWnd;
    mainWnd.Attach(frame);
    app.m_pMainWnd = &mainWnd;
    CountingView view;
    view.SubclassWindow(CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKFRAME, 0, 0, 640, 500, frame,
                                        nullptr, wc.hInstance, nullptr));
    app.view = view.m_hWnd;

    std::vector<ExcludedCamera> exclusions;
    {
        addWebcams(1);
        CompositeVideoSourceProvider provider;
        view.provider = &provider;
        std::vector<VideoSource*> sources = *provider.GetVideoSources();  // sets the webcams up once
        if (!sources.empty()) view.SetSource(sources.front());

        std::printf("Opening Settings, medians of %d (ms): the dialog to its lists filled, against one enumeration "
                    "plus template 130 with a plain procedure\n",
                    kOpenings);
        std::printf("%-28s %7s %10s %10s %7s\n", "devices", "listed", "dialog", "bare", "ratio");
        MeasureOpening("FK40 + 1 webcam", provider, view, exclusions);
        addWebcams(4);
        provider.GetVideoSources();
        MeasureOpening("FK40 + 4 webcams", provider, view, exclusions);
        std::printf("goal: ratio at most 1.2\n");

        if (!instances.empty()) MeasureChoices(app, provider, view, exclusions, instances.front());

        MeasureFrameRate(app, provider, view, exclusions);
        view.SetSource(nullptr);
        view.provider = nullptr;
        provider.CloseAllSources();
    }
    for (const std::wstring& instance : instances)
        if (remove) remove(instance.c_str());
    view.DestroyWindow();
    mainWnd.Detach();
    app.m_pMainWnd = nullptr;
    DestroyWindow(frame);
    return 0;
}

// The Settings dialog: opening it (to both lists filled) with the FK40 stand-in and 1, then 4,
// virtual webcams, beside one bare enumeration of the same devices plus the template-130 dialog
// with a plain dialog procedure (empty lists); and the live view's painted frames per second
// while the dialog runs modally (its loop drives the idle handler) against the application's own
// idle loop with it closed. Medians and totals printed; nothing asserted.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "framework/Framework.h"
#include "res/SettingsResource.h"
#include "standins/webcam/StandinWebcam.h"
#include "ui/SettingsDlg.h"
#include "ui/VideoDisplay.h"
#include "video/CompositeVideoSourceProvider.h"

namespace {

constexpr int kOpenings = 25;
constexpr int kSlices = 10;
constexpr double kSliceSeconds = 0.4;

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A path given relative to the program's folder, as CMake's file(RELATIVE_PATH) writes it.
std::wstring FromExe(const char* relative) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    std::wstring rel(relative, relative + std::strlen(relative));
    std::replace(rel.begin(), rel.end(), L'/', L'\\');
    return folder + rel;
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// The live view's paints, as the application's idle handler makes them.
class CountingView : public CVideoDisplay {
public:
    int paints = 0;

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

// The application's loop with nothing modal: messages first, the idle handler when none waits.
void RunIdleLoop(BenchApp& app, double seconds) {
    const double start = Seconds();
    MSG msg;
    while (Seconds() - start < seconds) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        } else {
            app.OnIdle(1);
        }
    }
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
            const wchar_t* formats = L"YUY2 160x120;YUY2 640x480";
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

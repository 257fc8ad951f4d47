// standin_webcam_reg: registers stand-in webcams through the DLL beside it (usage in
// StandinWebcam.h).
#include "standins/webcam/StandinWebcam.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const wchar_t kUsage[] =
    L"usage: standin_webcam_reg add <instance> [--friendly NAME] [--description TEXT]\n"
    L"                          [--formats \"YUY2 640x480;MJPG 640x480;RGB24 320x240\"] [--pins N] [--fail-bind]\n"
    L"       standin_webcam_reg remove <instance>\n"
    L"       standin_webcam_reg clear\n"
    L"       standin_webcam_reg lose <instance>\n";

int Fail(const wchar_t* what, HRESULT hr) {
    fwprintf(stderr, L"standin_webcam_reg: %ls failed (0x%08lx)\n", what, static_cast<unsigned long>(hr));
    return 1;
}

int Usage() {
    fputws(kUsage, stderr);
    return 1;
}

template <class Fn>
Fn Export(HMODULE dll, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dllPath(path, length);
    dllPath.erase(dllPath.find_last_of(L"\\/") + 1);
    dllPath += L"standin_webcam.dll";
    HMODULE dll = LoadLibraryW(dllPath.c_str());
    if (!dll) return Fail(L"loading standin_webcam.dll", HRESULT_FROM_WIN32(GetLastError()));

    const std::wstring command = argv[1];
    if (command == L"clear" && argc == 2) {
        HRESULT hr = Export<StandinWebcamClearFn>(dll, "StandinWebcamClear")();
        return FAILED(hr) ? Fail(L"clear", hr) : 0;
    }
    if (argc < 3) return Usage();
    const wchar_t* instance = argv[2];
    if (command == L"remove" && argc == 3) {
        HRESULT hr = Export<StandinWebcamRemoveFn>(dll, "StandinWebcamRemove")(instance);
        return FAILED(hr) ? Fail(L"remove", hr) : 0;
    }
    if (command == L"lose" && argc == 3) {
        HRESULT hr = Export<StandinWebcamLoseFn>(dll, "StandinWebcamLose")(instance);
        return FAILED(hr) ? Fail(L"lose", hr) : 0;
    }
    if (command != L"add") return Usage();

    const wchar_t* friendly = nullptr;
    const wchar_t* description = nullptr;
    const wchar_t* formats = nullptr;
    int pins = 1;
    BOOL failBind = FALSE;
    for (int i = 3; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--fail-bind") {
            failBind = TRUE;
            continue;
        }
        if (i + 1 == argc) return Usage();
        const wchar_t* value = argv[++i];
        if (option == L"--friendly")
            friendly = value;
        else if (option == L"--description")
            description = value;
        else if (option == L"--formats")
            formats = value;
        else if (option == L"--pins")
            pins = _wtoi(value);
        else
            return Usage();
    }
    HRESULT hr = Export<StandinWebcamAddFn>(dll, "StandinWebcamAdd")(instance, friendly, description, formats,
                                                                     pins, failBind);
    return FAILED(hr) ? Fail(L"add", hr) : 0;
}

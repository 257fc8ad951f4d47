// cendra_standin.exe [--port N] [--fixture FILE] [--log FILE]   serves until stopped
// cendra_standin.exe --stop [--port N]                          stops the one serving on port N
// Serves on 127.0.0.1 (port 8080 unless told; 0 lets the system choose), with the built-in demo
// fixture unless a file is given. A running server waits on the named event below, so that a
// script can stop it cleanly with --stop; Ctrl+C and closing the console stop it too.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <stdexcept>
#include <string>

#include "standins/cloud/CendraStandin.h"

namespace {

HANDLE g_stop = nullptr;

std::wstring StopEventName(unsigned port) { return L"Local\\CendraStandinStop-" + std::to_wstring(port); }

std::string ToUtf8(const std::wstring& w) {
    if (w.empty()) return "";
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

bool ReadWholeFile(const std::wstring& path, std::string& text) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return false;
    char chunk[64 * 1024];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    fclose(f);
    return true;
}

BOOL WINAPI OnConsoleEvent(DWORD) {
    SetEvent(g_stop);
    return TRUE;
}

int Usage() {
    fwprintf(stderr,
             L"usage: cendra_standin [--port N] [--fixture FILE] [--log FILE]\n"
             L"       cendra_standin --stop [--port N]\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Output goes to pipes and files under scripts and tests: no buffering, lines appear at once.
    setvbuf(stdout, nullptr, _IONBF, 0);
    unsigned port = 8080;
    bool stop = false;
    std::wstring fixturePath, logPath;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == L"--stop") {
            stop = true;
        } else if (arg == L"--port" && hasValue) {
            wchar_t* end = nullptr;
            unsigned long value = wcstoul(argv[++i], &end, 10);
            if (*end || value > 65535) return Usage();
            port = static_cast<unsigned>(value);
        } else if (arg == L"--fixture" && hasValue) {
            fixturePath = argv[++i];
        } else if (arg == L"--log" && hasValue) {
            logPath = argv[++i];
        } else {
            return Usage();
        }
    }

    if (stop) {
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, StopEventName(port).c_str());
        if (!event) {
            fprintf(stderr, "cendra_standin: none is serving on port %u\n", port);
            return 1;
        }
        SetEvent(event);
        CloseHandle(event);
        return 0;
    }

    std::string fixture;
    if (fixturePath.empty()) {
        fixture = cendra_standin::FixtureText("demo");
    } else if (!ReadWholeFile(fixturePath, fixture)) {
        fprintf(stderr, "cendra_standin: cannot read the fixture %s\n", ToUtf8(fixturePath).c_str());
        return 2;
    }
    try {
        cendra_standin::Server server(fixture, static_cast<unsigned short>(port), ToUtf8(logPath));
        g_stop = CreateEventW(nullptr, TRUE, FALSE, StopEventName(server.Port()).c_str());
        if (!g_stop) {
            fprintf(stderr, "cendra_standin: cannot create the stop event (error %lu)\n", GetLastError());
            return 2;
        }
        SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
        printf("Cendra stand-in serving on %s\n", server.BaseUrl().c_str());
        for (const auto& [user, password] : server.Accounts()) {
            printf("  user: %s / password: %s\n", user.c_str(), password.c_str());
        }
        WaitForSingleObject(g_stop, INFINITE);
        printf("Cendra stand-in stopping after %u requests\n", static_cast<unsigned>(server.RequestCount()));
    } catch (const std::exception& e) {
        fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    return 0;
}

#include "tests/cloud_standin/StandinProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "tests/support/TestSupport.h"

std::wstring StandinExePath() { return FromBuild(CENDRA_STANDIN_EXE_REL); }

std::wstring DemoFixturePath() { return FromBuild(CENDRA_DEMO_FIXTURE_REL); }

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

StandinProcess::StandinProcess(const std::wstring& arguments) {
    PROCESS_INFORMATION info;
    if (StartCaptured(Quoted(StandinExePath()) + L" " + arguments, nullptr, nullptr, &info, &m_output)) {
        m_process = info.hProcess;
        CloseHandle(info.hThread);
    }
}

StandinProcess::~StandinProcess() {
    if (m_process) {
        if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) TerminateProcess(m_process, 99);
        CloseHandle(m_process);
    }
    CloseHandle(m_output);
}

bool StandinProcess::Pump() {
    DWORD available = 0;
    if (!PeekNamedPipe(m_output, nullptr, 0, nullptr, &available, nullptr)) return false;  // child gone
    if (available == 0) {
        Sleep(20);
        return true;
    }
    char chunk[512];
    DWORD n = 0;
    if (!ReadFile(m_output, chunk, std::min<DWORD>(available, sizeof chunk), &n, nullptr)) return false;
    for (DWORD i = 0; i < n; ++i) {
        if (chunk[i] != '\r') output += chunk[i];  // the C runtime's text mode writes CR LF
    }
    return true;
}

bool StandinProcess::WaitForOutput(const std::string& text, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > end || !Pump()) return false;
    }
    return true;
}

long StandinProcess::Finish(int timeoutMs) {
    WaitForOutput("\x01 never printed", timeoutMs);
    if (WaitForSingleObject(m_process, 1000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    return static_cast<long>(code);
}

unsigned short StandinProcess::WaitForPort(int timeoutMs) {
    const std::string banner = "serving on http://127.0.0.1:";
    if (!WaitForOutput(banner, timeoutMs)) return 0;
    const size_t at = output.find(banner) + banner.size();
    while (output.find('\n', at) == std::string::npos) {
        if (!Pump()) return 0;
    }
    return static_cast<unsigned short>(atoi(output.c_str() + at));
}

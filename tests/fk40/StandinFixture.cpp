#include "tests/fk40/StandinFixture.h"
#include "tests/support/TestSupport.h"
#include <algorithm>
#include <cstdio>

namespace {

const char* const kSettings[] = {LYC_STANDIN_INIT,  LYC_STANDIN_PATTERN,     LYC_STANDIN_Y,    LYC_STANDIN_U,
                                 LYC_STANDIN_V,     LYC_STANDIN_FPS,         LYC_STANDIN_HOLD, LYC_STANDIN_LOG,
                                 LYC_STANDIN_FAULT, LYC_STANDIN_FAULT_AFTER, LYC_STANDIN_HANG};

}  // namespace

std::wstring StandinFolder(const wchar_t* variant) {
    std::wstring folder = FromBuild(LYC_STANDIN_REL);
    return variant ? folder + L"\\" + variant : folder;
}

std::wstring ProbePath() { return FromBuild(FK40_PROBE_REL); }

bool WaitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 3000; ++i) {
        if (condition()) return true;
        Sleep(5);
    }
    return condition();
}

void StandinTest::SetUp() {
    SetDllDirectoryW(StandinFolder().c_str());
    for (const char* name : kSettings) Set(name, nullptr);
    static int serial;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    m_log = std::string(temp) + "lumetra_fk40_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(++serial) + ".log";
    DeleteFileA(m_log.c_str());
    Set(LYC_STANDIN_LOG, m_log.c_str());
}

void StandinTest::TearDown() {
    for (const char* name : kSettings) Set(name, nullptr);
    DeleteFileA(m_log.c_str());
}

CallList StandinTest::Calls(const CallList& only) const {
    CallList calls;
    FILE* f = std::fopen(m_log.c_str(), "r");
    if (!f) return calls;
    char line[128];
    while (std::fgets(line, sizeof line, f)) {
        std::string call(line);
        while (!call.empty() && (call.back() == '\n' || call.back() == '\r')) call.pop_back();
        if (only.empty() || std::find(only.begin(), only.end(), call) != only.end()) calls.push_back(call);
    }
    std::fclose(f);
    return calls;
}

size_t StandinTest::Count(const std::string& call) const { return Calls({call}).size(); }

bool StandinTest::WaitForCall(const std::string& call) const {
    return WaitUntil([&] { return Count(call) > 0; });
}

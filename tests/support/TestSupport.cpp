#include "tests/support/TestSupport.h"

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    std::wstring s(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return s.substr(0, s.find_last_of(L"\\/") + 1);
}

std::wstring FromBuild(const char* relative) {
    std::wstring s = ExeFolder();
    for (const char* c = relative; *c; ++c) s += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return s;
}

ChildResult RunCaptured(const std::wstring& commandLine, const wchar_t* folder) {
    ChildResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = commandLine;
    PROCESS_INFORMATION process{};
    result.started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, folder,
                                    &startup, &process);
    CloseHandle(writeEnd);  // else the read below never sees the end
    if (result.started) {
        char chunk[256];
        DWORD n = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &n, nullptr) && n > 0) result.output.append(chunk, n);
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &result.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    return result;
}

// What several test programs need: paths inside the build, and child programs with their output.
#pragma once
#include <windows.h>
#include <string>

// The folder of the running test program (bin/), with a trailing backslash.
std::wstring ExeFolder();
// A path given relative to bin/ (as CMake's file(RELATIVE_PATH) writes it), made absolute.
std::wstring FromBuild(const char* relative);

struct ChildResult {
    bool started = false;
    DWORD exitCode = 0;
    std::string output;  // stdout and stderr together, as written
};

// Runs a command line (in `folder`, or the current one) and collects everything it prints.
ChildResult RunCaptured(const std::wstring& commandLine, const wchar_t* folder = nullptr);

// Tests against the stand-in camera library: each test gets its own call log and a clean set of
// the stand-in's settings; the library itself is loaded once per process from the build's folder.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include "standins/fk40/LycStandin.h"

using CallList = std::vector<std::string>;

// Folder of the stand-in library, or of one of its variants ("no_LYC_Term").
std::wstring StandinFolder(const wchar_t* variant = nullptr);
std::wstring ProbePath();

// Polls until the condition holds; false after a generous deadline.
bool WaitUntil(const std::function<bool()>& condition);

class StandinTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static void Set(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }
    // The calls logged so far, in order; with names given, only those calls.
    CallList Calls(const CallList& only = {}) const;
    size_t Count(const std::string& call) const;
    bool WaitForCall(const std::string& call) const;

    std::string m_log;
};

// cendra_standin.exe as a child process of a test, its output on a pipe.
#pragma once
#include <windows.h>

#include <string>

std::wstring StandinExePath();
std::wstring DemoFixturePath();  // the source tree's fixtures/demo.json
std::wstring Quoted(const std::wstring& s);

class StandinProcess {
public:
    explicit StandinProcess(const std::wstring& arguments);  // arguments after the program's name
    ~StandinProcess();                                       // ends the child if it still runs
    StandinProcess(const StandinProcess&) = delete;
    StandinProcess& operator=(const StandinProcess&) = delete;

    bool Started() const { return m_process != nullptr; }
    // Reads output until it holds `text` (true) or the child ends or timeoutMs pass (false).
    bool WaitForOutput(const std::string& text, int timeoutMs);
    // The port of the "serving on" line, 0 when none came within timeoutMs.
    unsigned short WaitForPort(int timeoutMs);
    // Waits for the child's end, reading the rest of its output; its exit code, or -1 on time-out.
    long Finish(int timeoutMs);

    std::string output;  // everything read so far, without CR

private:
    bool Pump();  // reads what has arrived (or sleeps a little); false when the child is gone

    HANDLE m_process = nullptr;
    HANDLE m_output = nullptr;
};

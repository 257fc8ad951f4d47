// What several test programs need: paths inside the build, child programs with their output, and
// the locks by which test programs running side by side in one Wine session keep out of each other's way.
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

// Starts a command line (in `folder`, or the current one) with `input` as its stdin and its stdout
// and stderr into a pipe whose read end, null when no pipe could be made, the caller gets in
// *output and closes. False when the program did not start.
bool StartCaptured(const std::wstring& commandLine, const wchar_t* folder, HANDLE input, PROCESS_INFORMATION* process,
                   HANDLE* output);

// Runs a command line (in `folder`, or the current one) and collects everything it prints.
ChildResult RunCaptured(const std::wstring& commandLine, const wchar_t* folder = nullptr);

// A lock of the Wine session: any number of threads hold shared turns, or one holds it alone.
// Turns belong to the thread and nest (inside a turn alone, any); a thread that holds a shared
// turn cannot get one alone. A turn of a thread that dies comes free. Throws std::runtime_error
// when no turn comes within ten minutes.
class SessionLock {
public:
    SessionLock(const std::wstring& name, bool alone);
    ~SessionLock();
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;

private:
    struct Turns;
    Turns* m_turns;
    bool m_alone;
};

// The user profile folder (CSIDL_PROFILE) is the same for every program of the session: Wine
// derives it from the Unix user, and no per-process setting moves it. Whoever makes, moves or
// looks at folders there takes a turn: a shared one, or the lock alone to change what others see.
class ProfileLock : public SessionLock {
public:
    explicit ProfileLock(bool alone = true) : SessionLock(L"profile", alone) {}
};

// The virtual webcams live in the registry of the Wine prefix, which every program of the session
// sees. A test that registers devices holds this lock alone while they are there; one whose
// programs list devices takes a shared turn, so that no other test's devices come or go meanwhile.
// Where a thread needs both locks it takes the profile lock first.
class WebcamLock : public SessionLock {
public:
    explicit WebcamLock(bool alone) : SessionLock(L"webcams", alone) {}
};

// Port 8080 of 127.0.0.1 is where the program finds its cloud service, so the tests that serve it
// there take turns: each holds this lock (a named mutex of the Wine session, which comes free if
// its holder dies) for as long as its server listens. Held by a thread; nests within it.
class ServicePortLock {
public:
    static constexpr unsigned short kPort = 8080;
    ServicePortLock();   // waits; throws std::runtime_error after 10 minutes without a turn
    ~ServicePortLock();
    ServicePortLock(const ServicePortLock&) = delete;
    ServicePortLock& operator=(const ServicePortLock&) = delete;

private:
    HANDLE m_mutex = nullptr;
};

#include "tests/support/TestSupport.h"
#include <map>
#include <stdexcept>

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

bool StartCaptured(const std::wstring& commandLine, const wchar_t* folder, HANDLE input, PROCESS_INFORMATION* process,
                   HANDLE* output) {
    *process = {};
    *output = nullptr;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    *output = readEnd;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = input;
    std::wstring command = commandLine;
    const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        folder, &startup, process);
    CloseHandle(writeEnd);  // else the reader never sees the end
    return started;
}

ChildResult RunCaptured(const std::wstring& commandLine, const wchar_t* folder) {
    ChildResult result;
    PROCESS_INFORMATION process;
    HANDLE readEnd;
    result.started = StartCaptured(commandLine, folder, GetStdHandle(STD_INPUT_HANDLE), &process, &readEnd);
    if (result.started) {
        char chunk[256];
        DWORD n = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &n, nullptr) && n > 0) result.output.append(chunk, n);
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &result.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    if (readEnd) CloseHandle(readEnd);
    return result;
}

// ---- SessionLock
//
// A turnstile mutex that a thread wanting the lock alone keeps while it waits for, and then holds,
// every one of kTurns mutexes; a shared turn is any one of them, taken while passing the turnstile.
// Mutexes, unlike semaphore counts, come free when their holder dies.

namespace {

constexpr int kTurns = 32;
constexpr DWORD kLockWaitMs = 600000;

bool Took(DWORD waited) { return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED; }

std::string Ascii(const std::wstring& s) { return std::string(s.begin(), s.end()); }  // lock names are ASCII

}  // namespace

struct SessionLock::Turns {
    HANDLE turnstile = nullptr;
    HANDLE turns[kTurns] = {};
    int shared = 0, alone = 0;  // nesting depth of this thread's turns
    int sharedTurn = -1;

    explicit Turns(const std::wstring& name) {
        std::wstring base = L"lumetra-e2e-" + name;
        turnstile = CreateMutexW(nullptr, FALSE, base.c_str());
        for (int i = 0; i < kTurns; ++i)
            turns[i] = CreateMutexW(nullptr, FALSE, (base + L"-turn-" + std::to_wstring(i)).c_str());
    }
};

SessionLock::SessionLock(const std::wstring& name, bool alone) : m_alone(alone) {
    // Per thread, as the mutexes are; never freed, as the thread may take turns again.
    static thread_local std::map<std::wstring, Turns*> locks;
    Turns*& found = locks[name];
    if (!found)
        found = new Turns(name);
    m_turns = found;
    Turns& t = *m_turns;
    if (t.alone) {  // this thread has it alone already: anything nests
        ++(alone ? t.alone : t.shared);
        return;
    }
    if (alone && t.shared)
        throw std::runtime_error("the " + Ascii(name) +
                                 " lock alone was asked for while this thread has a shared turn");
    if (!alone && t.shared) {
        ++t.shared;
        return;
    }
    if (!Took(WaitForSingleObject(t.turnstile, kLockWaitMs)))
        throw std::runtime_error("no turn at the " + Ascii(name) + " lock");
    if (alone) {
        DWORD waited = WaitForMultipleObjects(kTurns, t.turns, TRUE, kLockWaitMs);
        if (waited >= WAIT_OBJECT_0 + kTurns && (waited < WAIT_ABANDONED_0 || waited >= WAIT_ABANDONED_0 + kTurns)) {
            ReleaseMutex(t.turnstile);
            throw std::runtime_error("shared turns at the " + Ascii(name) + " lock did not end");
        }
        ++t.alone;  // the turnstile stays taken
        return;
    }
    for (;; Sleep(20)) {
        for (int i = 0; i < kTurns && t.sharedTurn < 0; ++i)
            if (Took(WaitForSingleObject(t.turns[i], 0)))
                t.sharedTurn = i;
        if (t.sharedTurn >= 0)
            break;
    }
    ReleaseMutex(t.turnstile);
    ++t.shared;
}

SessionLock::~SessionLock() {
    Turns& t = *m_turns;
    if (m_alone) {
        if (--t.alone == 0) {
            for (HANDLE turn : t.turns)
                ReleaseMutex(turn);
            ReleaseMutex(t.turnstile);
        }
    } else if (--t.shared == 0 && !t.alone && t.sharedTurn >= 0) {
        ReleaseMutex(t.turns[t.sharedTurn]);
        t.sharedTurn = -1;
    }
}

ServicePortLock::ServicePortLock() {
    m_mutex = CreateMutexW(nullptr, FALSE, L"lumetra-test-service-port-8080");
    if (!m_mutex) throw std::runtime_error("no mutex for port 8080, error " + std::to_string(GetLastError()));
    DWORD waited = WaitForSingleObject(m_mutex, 600000);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(m_mutex);
        throw std::runtime_error("no turn at port 8080 within 10 minutes");
    }
}

ServicePortLock::~ServicePortLock() {
    ReleaseMutex(m_mutex);
    CloseHandle(m_mutex);
}

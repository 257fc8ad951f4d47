#include "tests/support/TestMain.h"
#include <windows.h>
#include <atomic>

namespace {

std::atomic<int> g_threadsStarted{0};

// Called on each new thread once it is set up, before its own code runs.
void NTAPI CountThreadStart(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH) ++g_threadsStarted;
}

}  // namespace

// The loader calls a program's TLS callbacks (the .CRT$XL? entries) for every thread it starts.
extern "C" __attribute__((section(".CRT$XLF"), used)) const PIMAGE_TLS_CALLBACK g_countThreadStart = CountThreadStart;

void StartGoogleTestWatcher() {
    const int before = g_threadsStarted;
    { ::testing::ScopedTrace touch(__FILE__, __LINE__, ""); }
    for (int waited = 0; g_threadsStarted == before && waited < 10000; ++waited) ::Sleep(1);
}

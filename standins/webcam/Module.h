// What the DLL's parts share: its handle, its live-object count and its class registration.
#pragma once
#include <windows.h>

#include <atomic>

extern HMODULE g_module;
extern std::atomic<long> g_objects;  // for DllCanUnloadNow

HRESULT RegisterFilterClass();
HRESULT UnregisterAll();  // every instance of ours, then the class

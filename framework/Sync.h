// CCriticalSection and CSingleLock over the Win32 critical section.
#pragma once
#include <windows.h>

class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&m_sect); }
    ~CCriticalSection() { DeleteCriticalSection(&m_sect); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    BOOL Lock() { EnterCriticalSection(&m_sect); return TRUE; }
    BOOL Unlock() { LeaveCriticalSection(&m_sect); return TRUE; }

private:
    CRITICAL_SECTION m_sect;
};

class CSingleLock {
public:
    explicit CSingleLock(CCriticalSection* cs, BOOL initialLock = FALSE) : m_cs(cs) { if (initialLock) Lock(); }
    ~CSingleLock() { Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;
    BOOL Lock() { if (!m_locked) { m_cs->Lock(); m_locked = true; } return TRUE; }
    BOOL Unlock() { if (m_locked) { m_cs->Unlock(); m_locked = false; } return TRUE; }

private:
    CCriticalSection* m_cs;
    bool m_locked = false;
};

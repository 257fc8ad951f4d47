// CWinThread and AfxBeginThread (worker form).
#pragma once
#include "framework/Object.h"

using AFX_THREADPROC = UINT(__cdecl*)(LPVOID);

class CWinThread : public CCmdTarget {
public:
    CWinThread() = default;
    CWinThread(AFX_THREADPROC proc, LPVOID param) : m_pfnThreadProc(proc), m_pThreadParams(param) {}
    ~CWinThread() override;

    // Starts the thread (suspended when flags has CREATE_SUSPENDED).
    BOOL CreateThread(DWORD flags = 0, UINT stackSize = 0, LPSECURITY_ATTRIBUTES security = nullptr);
    DWORD ResumeThread() { return ::ResumeThread(m_hThread); }
    BOOL SetThreadPriority(int priority) { return ::SetThreadPriority(m_hThread, priority); }

    virtual BOOL InitInstance() { return FALSE; }
    virtual int Run() { return ExitInstance(); }
    virtual int ExitInstance() { return 0; }
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual BOOL OnIdle(LONG count);

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    // When set, the object deletes itself (closing m_hThread) as the thread ends.
    BOOL m_bAutoDelete = TRUE;
    class CWnd* m_pMainWnd = nullptr;

private:
    static unsigned __stdcall Start(void* self);
    AFX_THREADPROC m_pfnThreadProc = nullptr;
    LPVOID m_pThreadParams = nullptr;
};

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD flags = 0, LPSECURITY_ATTRIBUTES security = nullptr);

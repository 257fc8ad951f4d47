#include "framework/Threads.h"
#include <process.h>

CWinThread::~CWinThread() {
    if (m_hThread) CloseHandle(m_hThread);
}

BOOL CWinThread::CreateThread(DWORD flags, UINT stackSize, LPSECURITY_ATTRIBUTES security) {
    // Always start suspended, so that m_hThread is set before the thread can end and delete us.
    unsigned id = 0;
    auto h = _beginthreadex(security, stackSize, &CWinThread::Start, this, CREATE_SUSPENDED, &id);
    if (!h) return FALSE;
    m_hThread = reinterpret_cast<HANDLE>(h);
    m_nThreadID = id;
    if (!(flags & CREATE_SUSPENDED)) ::ResumeThread(m_hThread);
    return TRUE;
}

unsigned __stdcall CWinThread::Start(void* self) {
    auto* thread = static_cast<CWinThread*>(self);
    UINT code = thread->m_pfnThreadProc ? thread->m_pfnThreadProc(thread->m_pThreadParams)
                                        : static_cast<UINT>(thread->InitInstance() ? thread->Run()
                                                                                   : thread->ExitInstance());
    if (thread->m_bAutoDelete) delete thread;
    return code;
}

BOOL CWinThread::PreTranslateMessage(MSG*) { return FALSE; }
BOOL CWinThread::OnIdle(LONG) { return FALSE; }

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize, DWORD flags,
                           LPSECURITY_ATTRIBUTES security) {
    auto* thread = new CWinThread(proc, param);
    if (!thread->CreateThread(flags | CREATE_SUSPENDED, stackSize, security)) {
        delete thread;
        return nullptr;
    }
    ::SetThreadPriority(thread->m_hThread, priority);
    if (!(flags & CREATE_SUSPENDED)) thread->ResumeThread();
    return thread;
}

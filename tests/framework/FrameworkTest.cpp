// The class library's core against real windows: message maps, dialogs, the loops.
#include <gtest/gtest.h>
#include "framework/Framework.h"
#include <functional>
#include <string>
#include <vector>

#define IDD_TEST 200
#define IDD_CHILD 201

namespace {

using Log = std::vector<std::string>;

class TestApp : public CWinApp {
public:
    std::vector<LONG> idleCounts;
    std::function<BOOL(LONG)> idleHook;
    bool helpCalled = false;

    BOOL OnIdle(LONG count) override {
        idleCounts.push_back(count);
        CWinApp::OnIdle(count);
        return idleHook ? idleHook(count) : FALSE;
    }
    void OnTestHelp() { helpCalled = true; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestApp, CWinApp)
    ON_COMMAND(ID_HELP, &TestApp::OnTestHelp)
END_MESSAGE_MAP()

TestApp app;

void drainQueue() {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&m);
        ::DispatchMessageW(&m);
    }
}

CRect childRect(CWnd& dlg, int id) {
    CRect r;
    ::GetWindowRect(::GetDlgItem(dlg.m_hWnd, id), &r);
    dlg.ScreenToClient(&r);
    return r;
}

// --- message maps ---------------------------------------------------------------------------

class BaseDlg : public CDialog {
public:
    BaseDlg() : CDialog(IDD_TEST) {}
    Log log;
    LRESULT OnFirst(WPARAM, LPARAM) { log.push_back("base first"); return 11; }
    LRESULT OnSecond(WPARAM, LPARAM) { log.push_back("base second"); return 12; }
    void OnGo() { log.push_back("go"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseDlg, CDialog)
    ON_MESSAGE(WM_APP + 1, &BaseDlg::OnFirst)
    ON_MESSAGE(WM_APP + 2, &BaseDlg::OnSecond)
    ON_BN_CLICKED(1003, &BaseDlg::OnGo)
END_MESSAGE_MAP()

class DerivedDlg : public BaseDlg {
public:
    LRESULT OnFirstAgain(WPARAM, LPARAM) { log.push_back("derived first"); return 21; }
    void OnEditChange() { log.push_back("edit changed"); }
    void OnTimer(UINT_PTR id) { log.push_back("timer " + std::to_string(id)); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DerivedDlg, BaseDlg)
    ON_MESSAGE(WM_APP + 1, &DerivedDlg::OnFirstAgain)
    ON_EN_CHANGE(1001, &DerivedDlg::OnEditChange)
    ON_WM_TIMER()
END_MESSAGE_MAP()

TEST(MessageMap, DerivedEntriesWinAndTheBaseMapAnswersTheRest) {
    DerivedDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_TEST));
    struct Case { UINT msg; WPARAM w; LRESULT result; const char* logged; } cases[] = {
        {WM_APP + 1, 0, 21, "derived first"},
        {WM_APP + 2, 0, 12, "base second"},
        {WM_TIMER, 7, 0, "timer 7"},
    };
    for (const Case& c : cases) {
        dlg.log.clear();
        EXPECT_EQ(dlg.SendMessage(c.msg, c.w), c.result) << c.logged;
        EXPECT_EQ(dlg.log, Log{c.logged});
    }
    dlg.log.clear();
    ::SendMessageW(::GetDlgItem(dlg.m_hWnd, 1003), BM_CLICK, 0, 0);
    ::SetDlgItemTextW(dlg.m_hWnd, 1001, L"typed");
    EXPECT_EQ(dlg.log, (Log{"go", "edit changed"}));
    // Unhandled messages get the dialog's default processing.
    CString caption;
    dlg.GetWindowText(caption);
    EXPECT_EQ(caption, L"Framework test");
    dlg.DestroyWindow();
}

TEST(MessageMap, CommandsTheDialogLeavesGoToTheApplication) {
    BaseDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_TEST));
    app.helpCalled = false;
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0);
    EXPECT_TRUE(app.helpCalled);
    // A control notification nobody handles is not a command for the application.
    app.helpCalled = false;
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(ID_HELP, EN_CHANGE), reinterpret_cast<LPARAM>(dlg.m_hWnd));
    EXPECT_FALSE(app.helpCalled);
    dlg.DestroyWindow();
}

class PaintingDlg : public CDialog {
public:
    PaintingDlg() : CDialog(IDD_TEST) {}
    Log log;
    CBrush white{RGB(255, 255, 255)};
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind) {
        log.push_back("ctlcolor " + std::to_string(kind) + (wnd && wnd->GetDlgCtrlID() == 1002 ? " frame" : ""));
        if (kind != CTLCOLOR_STATIC) return CDialog::OnCtlColor(dc, wnd, kind);
        dc->SetTextColor(RGB(255, 0, 0));
        return white;
    }
    BOOL OnEraseBkgnd(CDC* dc) {
        log.push_back(dc->m_hDC ? "erase" : "erase without dc");
        return TRUE;
    }
    void OnItemNotify(NMHDR* hdr, LRESULT* result) {
        log.push_back("notify " + std::to_string(hdr->idFrom));
        *result = 77;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(PaintingDlg, CDialog)
    ON_WM_CTLCOLOR()
    ON_WM_ERASEBKGND()
    ON_NOTIFY(NM_CLICK, 1002, &PaintingDlg::OnItemNotify)
END_MESSAGE_MAP()

TEST(MessageMap, HandlersGetTheirParametersUnpacked) {
    PaintingDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_TEST));
    HWND frame = ::GetDlgItem(dlg.m_hWnd, 1002);
    HDC dc = ::GetDC(dlg.m_hWnd);
    dlg.log.clear();
    EXPECT_EQ(dlg.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(frame)),
              reinterpret_cast<LRESULT>(static_cast<HBRUSH>(dlg.white)));
    EXPECT_EQ(::GetTextColor(dc), RGB(255, 0, 0));
    // Other kinds fall through to the dialog's own colours: a brush, not ours.
    LRESULT editBrush = dlg.SendMessage(WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(frame));
    EXPECT_NE(editBrush, reinterpret_cast<LRESULT>(static_cast<HBRUSH>(dlg.white)));
    EXPECT_EQ(dlg.SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc)), TRUE);
    NMHDR hdr{frame, 1002, static_cast<UINT>(NM_CLICK)};
    EXPECT_EQ(dlg.SendMessage(WM_NOTIFY, 1002, reinterpret_cast<LPARAM>(&hdr)), 77);
    hdr.idFrom = 1003;  // another control: nobody's
    dlg.SendMessage(WM_NOTIFY, 1003, reinterpret_cast<LPARAM>(&hdr));
    EXPECT_EQ(dlg.log, (Log{"ctlcolor 6 frame", "ctlcolor 1 frame", "erase", "notify 1002"}));
    ::ReleaseDC(dlg.m_hWnd, dc);
    dlg.DestroyWindow();
}

// --- data exchange --------------------------------------------------------------------------

class ProbeStatic : public CStatic {
public:
    LRESULT OnProbe(WPARAM, LPARAM) { return 42; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeStatic, CStatic)
    ON_MESSAGE(WM_APP + 5, &ProbeStatic::OnProbe)
END_MESSAGE_MAP()

class DdxDlg : public CDialog {
public:
    DdxDlg() : CDialog(IDD_TEST) {}
    ProbeStatic frame;
    CEdit edit;
    CButton missing;
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Control(dx, 1002, frame);
        DDX_Control(dx, 1001, edit);
        DDX_Control(dx, 1999, missing);
    }
};

TEST(DataExchange, ControlsAreSubclassedIntoTheirObjects) {
    DdxDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_TEST));
    EXPECT_EQ(dlg.frame.m_hWnd, ::GetDlgItem(dlg.m_hWnd, 1002));
    EXPECT_EQ(CWnd::FromHandle(dlg.frame.m_hWnd), &dlg.frame);
    EXPECT_EQ(dlg.GetDlgItem(1001), &dlg.edit);
    EXPECT_EQ(dlg.missing.m_hWnd, nullptr);
    EXPECT_EQ(::SendMessageW(dlg.frame.m_hWnd, WM_APP + 5, 0, 0), 42);
    // Default processing still reaches the control's own procedure; a second exchange is harmless.
    dlg.UpdateData(FALSE);
    dlg.edit.SetWindowText(L"kept");
    CString text;
    dlg.edit.GetWindowText(text);
    EXPECT_EQ(text, L"kept");
    dlg.DestroyWindow();
    EXPECT_EQ(dlg.frame.m_hWnd, nullptr);
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_FALSE(dlg.DestroyWindow());  // already gone: harmless
}

TEST(Handles, UnboundWindowsGetOneWrapperUntilIdle) {
    BaseDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_TEST));
    HWND edit = ::GetDlgItem(dlg.m_hWnd, 1001);
    CWnd* a = CWnd::FromHandle(edit);
    EXPECT_EQ(CWnd::FromHandle(edit), a);
    EXPECT_EQ(CWnd::FromHandlePermanent(edit), nullptr);
    EXPECT_EQ(CWnd::FromHandle(dlg.m_hWnd), &dlg);
    EXPECT_EQ(CWnd::FromHandle(nullptr), nullptr);
    CWnd::DeleteTempMap();
    EXPECT_EQ(CWnd::FromHandle(edit)->m_hWnd, edit);
    CWnd::DeleteTempMap();
    dlg.DestroyWindow();
}

// --- modal dialogs --------------------------------------------------------------------------

class ModalDlg : public CDialog {
public:
    explicit ModalDlg(CWnd* parent) : CDialog(IDD_CHILD, parent) {}
    HWND ownerSeen = nullptr;
    BOOL ownerEnabledSeen = TRUE;
    int destroyCalls = 0;
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        ownerSeen = ::GetWindow(m_hWnd, GW_OWNER);
        ownerEnabledSeen = ownerSeen && ::IsWindowEnabled(ownerSeen);
        return TRUE;
    }
    BOOL DestroyWindow() override {
        ++destroyCalls;
        return CDialog::DestroyWindow();
    }
};

TEST(DoModal, OwnerIsDisabledForTheLoopAndEnabledAfterOnlyIfItWas) {
    BaseDlg main, other;
    ASSERT_TRUE(main.Create(IDD_TEST));
    ASSERT_TRUE(other.Create(IDD_TEST));
    app.m_pMainWnd = &main;
    struct Case { const char* name; CWnd* parent; bool mainEnabledBefore; HWND owner; bool ownerEnabledAfter; } cases[] = {
        {"main window owns", nullptr, true, main.m_hWnd, true},
        {"parent owns", &other, true, other.m_hWnd, true},
        {"disabled owner stays disabled", nullptr, false, main.m_hWnd, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        main.EnableWindow(c.mainEnabledBefore);
        ModalDlg dlg(c.parent);
        // The idle handler runs while the dialog is up; it ends the dialog on its third pass.
        app.idleHook = [&](LONG count) {
            if (count == 2) dlg.EndDialog(IDOK);
            return TRUE;
        };
        EXPECT_EQ(dlg.DoModal(), IDOK);
        app.idleHook = nullptr;
        EXPECT_EQ(dlg.ownerSeen, c.owner);
        EXPECT_FALSE(dlg.ownerEnabledSeen);
        EXPECT_EQ(::IsWindowEnabled(c.owner) != FALSE, c.ownerEnabledAfter);
        EXPECT_TRUE(other.IsWindowEnabled() || c.parent == &other);
        EXPECT_EQ(dlg.destroyCalls, 1);
        EXPECT_EQ(dlg.m_hWnd, nullptr);
    }
    main.EnableWindow(TRUE);
    app.m_pMainWnd = nullptr;
    main.DestroyWindow();
    other.DestroyWindow();
    drainQueue();
}

TEST(DoModal, CancelButtonEndsWithIdCancel) {
    ModalDlg dlg(nullptr);
    app.idleHook = [&](LONG count) {
        if (count == 0) dlg.PostMessage(WM_COMMAND, IDCANCEL, 0);
        return count < 1;
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    app.idleHook = nullptr;
}

// --- the message loop -----------------------------------------------------------------------

TEST(MessageLoop, IdleCountRestartsOnlyAfterIdleMessages) {
    struct Case { const char* name; UINT probe; std::vector<LONG> counts; } cases[] = {
        {"an ordinary message restarts the count", WM_APP + 9, {0, 1, 2, 0, 1, 2, 3, 4, 5}},
        {"the caret blink does not", 0x0118, {0, 1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drainQueue();
        bool posted = false;
        app.idleCounts.clear();
        app.idleHook = [&](LONG count) {
            if (count == 2 && !posted) {
                ::PostThreadMessageW(::GetCurrentThreadId(), c.probe, 0, 0);
                posted = true;
            }
            if (count == 5) ::PostQuitMessage(3);
            return count < 5;
        };
        EXPECT_EQ(app.Run(), 3);
        app.idleHook = nullptr;
        EXPECT_EQ(app.idleCounts, c.counts);
    }
}

TEST(MessageLoop, IdleMessageRule) {
    MSG m{};
    m.message = WM_PAINT;
    EXPECT_FALSE(CWinApp::IsIdleMessage(&m));
    m.message = 0x0118;
    EXPECT_FALSE(CWinApp::IsIdleMessage(&m));
    m.message = WM_KEYDOWN;
    EXPECT_TRUE(CWinApp::IsIdleMessage(&m));
    m.message = WM_MOUSEMOVE;
    m.pt = {5, 7};
    EXPECT_TRUE(CWinApp::IsIdleMessage(&m));
    EXPECT_FALSE(CWinApp::IsIdleMessage(&m));  // same place again
    m.pt = {6, 7};
    EXPECT_TRUE(CWinApp::IsIdleMessage(&m));
}

class RecordingEdit : public CEdit {
public:
    Log* log = nullptr;
    BOOL eat = FALSE;
    BOOL PreTranslateMessage(MSG*) override {
        log->push_back("edit");
        return eat;
    }
};

class PreTranslateDlg : public CDialog {
public:
    PreTranslateDlg() : CDialog(IDD_TEST) { edit.log = &log; }
    Log log;
    RecordingEdit edit;
    void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, 1001, edit); }
    BOOL PreTranslateMessage(MSG* msg) override {
        log.push_back("dialog");
        return CDialog::PreTranslateMessage(msg);
    }
};

TEST(MessageLoop, PreTranslateRunsFromTheTargetUpToItsDialog) {
    PreTranslateDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_TEST));
    drainQueue();
    struct Case { const char* name; UINT msg; BOOL eat; Log log; BOOL handled; } cases[] = {
        {"key: the edit, then the dialog's navigation", WM_KEYDOWN, FALSE, {"edit", "dialog"}, TRUE},
        {"the edit keeps it from its dialog", WM_KEYDOWN, TRUE, {"edit"}, TRUE},
        {"no navigation for other messages", WM_APP + 3, FALSE, {"edit", "dialog"}, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dlg.log.clear();
        dlg.edit.eat = c.eat;
        MSG m{dlg.edit.m_hWnd, c.msg, 'A', 0, 0, {0, 0}};
        EXPECT_EQ(app.PreTranslateMessage(&m), c.handled);
        EXPECT_EQ(dlg.log, c.log);
    }
    dlg.DestroyWindow();
}

// --- threads ------------------------------------------------------------------------------

UINT __cdecl countTo(LPVOID p) {
    auto* n = static_cast<LONG*>(p);
    for (int i = 0; i < 1000; ++i) ::InterlockedIncrement(n);
    return 5;
}

TEST(Threads, SuspendedWorkerKeepsItsHandleUntilDeleted) {
    LONG n = 0;
    CWinThread* t = AfxBeginThread(countTo, &n, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    t->m_bAutoDelete = FALSE;
    ::Sleep(20);
    EXPECT_EQ(n, 0);  // not started yet
    t->ResumeThread();
    ASSERT_EQ(::WaitForSingleObject(t->m_hThread, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeThread(t->m_hThread, &code);
    EXPECT_EQ(code, 5u);
    EXPECT_EQ(n, 1000);
    delete t;
}

// --- dynamic layout -------------------------------------------------------------------------

TEST(Layout, ControlsMoveAndGrowByTheirShareOfTheChange) {
    BaseDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_TEST));
    CRect frame = childRect(dlg, 1002), button = childRect(dlg, 1003), edit = childRect(dlg, 1001);
    CRect win;
    dlg.GetWindowRect(&win);
    const int dx = 100, dy = 60;
    dlg.SetWindowPos(nullptr, 0, 0, win.Width() + dx, win.Height() + dy, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(childRect(dlg, 1002), CRect(frame.left, frame.top, frame.right + dx, frame.bottom + dy));
    EXPECT_EQ(childRect(dlg, 1003), CRect(button.left + dx, button.top + dy, button.right + dx, button.bottom + dy));
    EXPECT_EQ(childRect(dlg, 1001), CRect(edit.left + dx / 2, edit.top, edit.right + dx, edit.bottom));
    // Smaller than the template: everything back in its place.
    dlg.SetWindowPos(nullptr, 0, 0, win.Width() - 40, win.Height() - 30, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(childRect(dlg, 1002), frame);
    EXPECT_EQ(childRect(dlg, 1003), button);
    dlg.DestroyWindow();
}

}  // namespace

bool operator==(const RECT& a, const RECT& b) { return ::EqualRect(&a, &b); }

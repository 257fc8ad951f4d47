// What the dialog tests share: the main window on fake devices, an account fixture for the stand-in,
// input as a user gives it, and a modal loop driven step by step from a timer inside it.
#pragma once
#include "res/resource.h"
#include "tests/support/FakeVideo.h"
#include "tests/support/Files.h"
#include "ui/LumetraDlg.h"
#include "video/CompositeVideoSourceProvider.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// A camera that says on stderr when it lets its device go (death tests see only the output).
struct FakeSource : FakeCamera {
    explicit FakeSource(const char* desc) : FakeCamera(desc) { hasFrame = false; }
    void Close() override {
        ++closed;
        std::fprintf(stderr, "closed %s\n", description.c_str());
        std::fflush(stderr);
    }
    int closed = 0;
};

// The main window, offline (its own login does not run), with its images under a temporary folder.
class TestMainDlg : public CLumetraDlg {
public:
    explicit TestMainDlg(std::wstring profile) : CLumetraDlg(FALSE), m_profile(std::move(profile)) {}

protected:
    bool ProfileFolder(std::wstring& folder) override {
        folder = m_profile;
        return true;
    }
    int ShowMessage(const wchar_t*, const wchar_t*, UINT) override { return IDOK; }

private:
    std::wstring m_profile;
};

// The main window on two fake cameras ("Cam One" live), created and shown, its folders in
// `profile`; gone with the object.
struct MainWindow {
    FakeSource one{"Cam One"};
    FakeSource two{"Cam Two"};
    FakeProvider* webcams = new FakeProvider;
    CompositeVideoSourceProvider provider{webcams, new FakeProvider};
    TestMainDlg dlg;

    explicit MainWindow(const std::wstring& profile) : dlg(profile) {
        webcams->list = {&one, &two};
        dlg.m_provider = &provider;
        dlg.Create(IDD_LUMETRA_DIALOG);
    }
    ~MainWindow() { dlg.DestroyWindow(); }
};

inline std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, 512);
    return text;
}
inline std::wstring ItemText(HWND dlg, int id) { return WindowText(::GetDlgItem(dlg, id)); }

// A click on a button, through the button itself.
inline void Press(HWND dlg, int id) { ::SendMessageW(::GetDlgItem(dlg, id), BM_CLICK, 0, 0); }

// A key as the keyboard gives it to the focused control; the dialog's loop sees it first.
// To the focused window, else to `target`: a test process whose window is not in front (other
// tests run beside it) may have no focus at all.
inline void PostKey(UINT key, HWND target = nullptr) {
    HWND focus = ::GetFocus();
    if (!focus) focus = target;
    ::PostMessageW(focus, WM_KEYDOWN, key, 1);
    ::PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
}

// Selects entry `index` of a drop-down list and tells its dialog, as a choice with the mouse does.
inline void Choose(HWND dlg, int id, int index) {
    HWND list = ::GetDlgItem(dlg, id);
    ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ::SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}
// The same by the entry's text (exact); fails the test when the list has no such entry.
inline void ChooseText(HWND dlg, int id, const std::wstring& text) {
    HWND list = ::GetDlgItem(dlg, id);
    const int count = static_cast<int>(::SendMessageW(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t entry[256] = {};
        ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
        if (text == entry) return Choose(dlg, id, i);
    }
    ADD_FAILURE() << "no entry " << std::string(text.begin(), text.end()) << " in list " << id;
}

// A list's entries in their order, and its selected entry ("-" when none is selected, so that a
// selected empty entry shows as "").
struct ListState {
    std::vector<std::wstring> entries;
    std::wstring selected;
    bool operator==(const ListState&) const = default;
};
inline ListState StateOf(HWND dlg, int id) {
    HWND list = ::GetDlgItem(dlg, id);
    ListState state;
    const int count = static_cast<int>(::SendMessageW(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t entry[256] = {};
        ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
        state.entries.push_back(entry);
    }
    const int selected = static_cast<int>(::SendMessageW(list, CB_GETCURSEL, 0, 0));
    state.selected = selected < 0 ? L"-" : state.entries[static_cast<size_t>(selected)];
    return state;
}
inline void PrintTo(const ListState& s, std::ostream* os) {
    auto narrow = [](const std::wstring& w) {
        std::string n;
        for (wchar_t c : w) n += c < 0x80 ? static_cast<char>(c) : '?';
        return n;
    };
    *os << "{";
    for (const std::wstring& e : s.entries) *os << "\"" << narrow(e) << "\" ";
    *os << "selected \"" << narrow(s.selected) << "\"}";
}

// Runs dlg.DoModal() while `steps` run one per timer tick inside its loop, as input would arrive.
// A dialog still open a while after the last step fails the test and is closed.
struct ModalScript {
    std::vector<std::function<void()>> steps;
    size_t next = 0;
    int idleTicks = 0;
    bool busy = false;
    bool forced = false;
    CDialog* dlg = nullptr;

    static ModalScript*& Current() {
        static ModalScript* current = nullptr;
        return current;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        ModalScript* s = Current();
        if (!s || s->busy || !s->dlg->m_hWnd) return;
        s->busy = true;  // a step may run a loop of its own
        if (s->next < s->steps.size()) {
            s->steps[s->next++]();
        } else if (++s->idleTicks > 200) {
            s->forced = true;
            ::PostMessageW(s->dlg->m_hWnd, WM_COMMAND, IDCANCEL, 0);
        }
        s->busy = false;
    }
};

inline INT_PTR RunModal(CDialog& dlg, std::vector<std::function<void()>> steps) {
    ModalScript script{std::move(steps)};
    script.dlg = &dlg;
    ModalScript::Current() = &script;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 15, &ModalScript::Tick);
    const INT_PTR result = dlg.DoModal();
    ::KillTimer(nullptr, timer);
    ModalScript::Current() = nullptr;
    EXPECT_EQ(script.next, script.steps.size()) << "the dialog ended before its last step";
    EXPECT_FALSE(script.forced) << "the dialog did not end by itself";
    return result;
}

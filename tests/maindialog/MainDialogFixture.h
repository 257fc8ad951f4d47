// The main dialog in a test process: fake devices, a temporary profile folder, and a dialog whose
// clocks, profile folder and message boxes are the test's.
#pragma once
#include <gtest/gtest.h>
#include "res/resource.h"
#include "tests/support/Clock.h"
#include "tests/support/FakeVideo.h"
#include "tests/support/Files.h"
#include "recording/VideoRecorder.h"
#include "ui/StillImage.h"
#include "ui/LumetraDlg.h"
#include "video/CompositeVideoSourceProvider.h"
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

constexpr int kW = FakeCamera::kWidth, kH = FakeCamera::kHeight;

// Frames whose bytes all differ, so that a picture shown or saved shifted is seen.
struct FakeSource : FakeCamera {
    explicit FakeSource(const char* desc, bool init = true) : FakeCamera(desc, init) {
        for (int i = 0; i < kW * kH * 3; ++i) frame[i] = static_cast<unsigned char>(i);
    }
};

// A composite provider over one working fake webcam.
struct FakeDevices {
    FakeSource source{"Cam One"};
    FakeProvider* webcams = new FakeProvider;
    CompositeVideoSourceProvider provider{webcams, new FakeProvider};
    FakeDevices() { webcams->list.push_back(&source); }
};

struct Box {
    std::wstring text, caption;
    UINT type;
};

class TestDlg : public CLumetraDlg {
public:
    explicit TestDlg(std::wstring profile, BOOL online = FALSE) : CLumetraDlg(online), profile(std::move(profile)) {}
    std::wstring profile;
    DWORD tick = 1000;
    std::time_t now = 0;
    std::vector<Box> boxes;

protected:
    DWORD TickCount() override { return tick; }
    std::time_t Now() override { return now; }
    bool ProfileFolder(std::wstring& folder) override {
        folder = profile;
        return true;
    }
    int ShowMessage(const wchar_t* text, const wchar_t* caption, UINT type) override {
        boxes.push_back({text, caption, type});
        return IDOK;
    }
};

// A second copy of the program writing the same folders. It creates `taken` right after this
// dialog checked that the name is free, and before this one creates it; it creates `freed` (only
// if nothing has that name, as it creates its own) right after this dialog deleted a file of
// that name that it had created.
class RacedDlg : public TestDlg {
public:
    using TestDlg::TestDlg;
    using CLumetraDlg::OnCaptureVideoMode;
    std::wstring taken, freed;
    const std::string othersBytes = "the other program's file";
    bool encoderCannotOpen = false;
    int deletes = 0;  // of files this dialog created

protected:
    void RunLogin() override {}  // online without a service: a capture reads the controls only
    CVideoRecorder* NewRecorder(const std::wstring& path, int w, int h, int bits, int format) override {
        struct Unopenable : VideoEncoder {
            bool Open(const std::wstring&, int) override { return false; }
            bool AddFrame(const unsigned char*, HBITMAP) override { return false; }
            bool Close() override { return false; }
            RecordingState State() const override { return RecordingState::Failed; }
            uint64_t PicturesInFile() const override { return 0; }
        };
        if (!encoderCannotOpen) return TestDlg::NewRecorder(path, w, h, bits, format);
        return new CVideoRecorder(new Unopenable, path, w, h, bits, format);
    }
    bool FileExists(const std::wstring& path) override {
        const bool there = TestDlg::FileExists(path);
        if (!there && Is(path, taken)) {
            WriteBytes(taken, othersBytes);
            taken.clear();
        }
        return there;
    }
    bool DeleteClaimed(ClaimedFile& file) override {
        const std::wstring path = file.Path();
        const bool gone = TestDlg::DeleteClaimed(file);
        ++deletes;
        if (Is(path, freed)) {
            HANDLE other = CreateFileW(freed.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            DWORD written = 0;
            if (other != INVALID_HANDLE_VALUE) {
                WriteFile(other, othersBytes.data(), static_cast<DWORD>(othersBytes.size()), &written, nullptr);
                CloseHandle(other);
                freed.clear();
            }
        }
        return gone;
    }

private:
    static bool Is(const std::wstring& path, const std::wstring& name) {
        return !name.empty() && std::filesystem::path(path).lexically_normal() == std::filesystem::path(name).lexically_normal();
    }
};

// A fresh folder under the temporary folder, removed with everything in it.
struct TempProfile {
    std::wstring path;
    explicit TempProfile(const wchar_t* name) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path = std::wstring(temp) + name + L"_" + std::to_wstring(GetCurrentProcessId());
        RemoveTree(path);
        CreateDirectoryW(path.c_str(), nullptr);
    }
    ~TempProfile() { RemoveTree(path); }
};

inline std::vector<std::wstring> Files(const std::wstring& folder, const wchar_t* pattern = L"*.*") {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW e;
    HANDLE f = FindFirstFileW((folder + L"\\" + pattern).c_str(), &e);
    if (f == INVALID_HANDLE_VALUE) return out;
    do {
        if (!(e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(e.cFileName);
    } while (FindNextFileW(f, &e));
    FindClose(f);
    return out;
}

// Puts an empty file where the folder was (a trailing backslash allowed), as an operator may leave
// one: no folder can be made there.
inline bool ReplaceFolderByFile(std::wstring folder) {
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    RemoveTree(folder);
    return WriteBytes(folder, "");
}

// Runs the messages posted so far.
inline void Pump() {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&m);
        ::DispatchMessageW(&m);
    }
}

// The one box of a recording that could not be written or finished.
inline void ExpectOneRecordingErrorBox(const std::vector<Box>& boxes) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Capture Error");
    EXPECT_EQ(boxes[0].text, L"Could not record video. Please ensure write access to destination directory.");
    EXPECT_EQ(boxes[0].type, UINT(MB_ICONERROR));
}

// Every screen pixel of the window is black.
inline bool ShowsBlack(CWnd& window) {
    RECT client;
    ::GetClientRect(window.m_hWnd, &client);
    HDC screen = ::GetDC(window.m_hWnd);
    bool black = client.right > 0 && client.bottom > 0;
    for (int y = 0; y < client.bottom && black; y += 4)
        for (int x = 0; x < client.right && black; x += 4) black = ::GetPixel(screen, x, y) == RGB(0, 0, 0);
    ::ReleaseDC(window.m_hWnd, screen);
    return black;
}

inline std::wstring Text(CWnd& dlg, int id) {
    CString t;
    dlg.GetDlgItem(id)->GetWindowText(t);
    return t.str();
}

// A dialog of class Dlg made on the fake devices in a fresh profile, at 2021-05-24 14:07:00, with
// one frame painted.
template <class Dlg>
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dlg = std::make_unique<Dlg>(Profile());
        dlg->now = LocalTime(2021, 5, 24, 14, 7, 0);
        dlg->m_provider = &devices.provider;
        ASSERT_TRUE(dlg->Create(IDD_LUMETRA_DIALOG));
        Paint();
    }
    void TearDown() override {
        if (dlg) dlg->DestroyWindow();  // none when a test skipped before SetUp made it
        dlg.reset();
    }
    // The folder the dialog takes for the user's profile.
    virtual std::wstring Profile() const { return folder.path; }
    void Paint() {
        dlg->m_videoDisplay.Invalidate(FALSE);
        dlg->m_videoDisplay.UpdateWindow();
    }
    void Click(int id) {
        dlg->SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)::GetDlgItem(dlg->m_hWnd, id));
    }

    TempProfile folder{L"main_dialog_test"};
    FakeDevices devices;
    std::unique_ptr<Dlg> dlg;
};

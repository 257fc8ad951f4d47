// A log-off or shut-down while the program records: the system asks each program with a window
// whether the session may end (WM_QUERYENDSESSION), tells it that it ends (WM_ENDSESSION), and then
// ends the process without a WM_CLOSE. The session manager of the Wine session does the same
// (wineboot --end-session), so the program meets it as on Windows. The recording is read back
// afterwards: whole, in each format.
#include <gtest/gtest.h>
#include "res/SettingsResource.h"
#include "standins/fk40/LycStandin.h"
#include "tests/e2e/Recordings.h"
#include "tests/e2e/Scenario.h"
#include "video/LycApi.h"

using namespace e2e;

namespace {

const WindowQuery kSettings{L"#32770", L"Settings"};

struct Format {
    const char* name;
    int choice;  // row of the format list in Settings
    const wchar_t* extension;
    bool cameraEndHangs = false;  // the camera's LYC_Term never returns
};

void PrintTo(const Format& format, std::ostream* out) { *out << format.name; }

struct WindowsOf {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowOf(HWND hwnd, LPARAM l) {
    auto* search = reinterpret_cast<WindowsOf*>(l);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == search->pid) search->found.push_back(hwnd);
    return TRUE;
}

// Top-level windows of a process, hidden ones included.
std::vector<HWND> TopLevelWindowsOf(DWORD pid) {
    WindowsOf search{pid, {}};
    EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Ends the session as a log-off does; the exit code of the session manager (0: the session ended,
// every program agreed). It asks one program after the other and waits for each answer, so once it
// is gone every program has answered. It would end this test program as well, had it a window.
DWORD EndSession() {
    if (!TopLevelWindowsOf(GetCurrentProcessId()).empty())
        throw Error("the test program has a window, which the session end would end with it");
    wchar_t system[MAX_PATH];
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) throw Error("no system folder");
    std::wstring command = L"\"" + std::wstring(system) + L"\\wineboot.exe\" --end-session";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        throw Error("cannot start " + Narrow(command));
    CloseHandle(process.hThread);
    // A program that takes more than 5 s to answer gets the manager's "not responding" box, which
    // waits; the close steps stay well within the time-out.
    DWORD waited = WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0;
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, kKilledExitCode);
        WaitForSingleObject(process.hProcess, 5000);
    }
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    if (waited != WAIT_OBJECT_0) throw Error("the session end did not finish within 60 s");
    return code;
}

void ChooseFormat(const App& app, const Window& dialog, int choice) {
    dialog.ChildOrThrow(kSettingsButton).Click();
    Window settings = app.WaitForWindow(kSettings);
    PickComboItem(settings.ChildOrThrow(IDC_OUTPUT_FORMAT), choice);
    Sleep(300);  // the pick is handled before OK, which comes after it in the queue anyway
    settings.ChildOrThrow(IDOK).Click();
    app.WaitForNoWindow(kSettings);
    dialog.ChildOrThrow(kSettingsButton).Click();
    settings = app.WaitForWindow(kSettings);
    const int chosen = settings.ChildOrThrow(IDC_OUTPUT_FORMAT).ComboSelection();
    settings.ChildOrThrow(IDCANCEL).Click();
    app.WaitForNoWindow(kSettings);
    if (chosen != choice) throw Error("format " + std::to_string(choice) + " not chosen");
}

// The stream begins with its sequence header and ends with the sequence end code 00 00 01 B7.
testing::AssertionResult IsWholeMpeg(const std::wstring& path) {
    const std::string f = ReadBytes(path);
    if (f.find(std::string("\0\0\1\xB3", 4)) == std::string::npos)
        return testing::AssertionFailure() << "no sequence header in " << f.size() << " bytes";
    if (f.size() < 4 || !StartCodeAt(f, f.size() - 4, 0xB7))
        return testing::AssertionFailure() << "no end code at the end of " << f.size() << " bytes";
    return testing::AssertionSuccess();
}

class SessionEnd : public testing::TestWithParam<Format> {};

TEST_P(SessionEnd, WhileRecordingLeavesTheFileWhole) {
    const Format format = GetParam();
    RunOptions options = CameraRun();
    if (format.cameraEndHangs)
        options.environment[L"" LYC_STANDIN_HANG] = L"LYC_Term";
    App app(options);
    Window dialog = app.WaitForWindow(kMainDialog);
    ChooseFormat(app, dialog, format.choice);
    ASSERT_TRUE(Streams(dialog.ChildOrThrow(kLiveView)));
    const std::wstring images = ImagesFolder();
    Window button = dialog.ChildOrThrow(kCaptureVideo);
    button.Click();
    ASSERT_TRUE(WaitUntil([&] { return button.Text() == L"Stop Capture"; }, 10s)) << app.Describe();
    Sleep(1500);

    // A session end that another program refused: the recording goes on.
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(dialog.hwnd(), WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer));
    EXPECT_TRUE(answer) << "the program refused the session end";
    ASSERT_TRUE(SendMessageTimeoutW(dialog.hwnd(), WM_ENDSESSION, FALSE, 0, SMTO_ABORTIFHUNG, 10000, &answer));
    Sleep(500);
    EXPECT_EQ(button.Text(), L"Stop Capture") << "a session end that did not happen ended the recording";
    Sleep(1000);

    EXPECT_EQ(EndSession(), 0u) << "the session did not end";
    // Read before anything else could finish the file (a close would): only the program's answer
    // to the session end has, and then the session manager ended the program.
    std::vector<std::wstring> files = FileNames(images);
    ASSERT_EQ(files.size(), 1u) << testing::PrintToString(files);
    ASSERT_TRUE(EndsWith(files[0], format.extension)) << Narrow(files[0]);
    const std::wstring path = images + L"\\" + files[0];
    std::vector<Bitmap> frames;
    if (format.choice == 0) {
        EXPECT_TRUE(IsFinishedAvi(path, kLycWidth, kLycHeight, &frames)) << Narrow(files[0]);
    } else {
        EXPECT_TRUE(IsWholeMpeg(path)) << Narrow(files[0]);
    }
    EXPECT_TRUE(app.WaitForExit()) << "the program outlived the session end: " << app.Describe();
}

// The second run starts in the Wine session that the first one ended: the session stays usable. A
// camera library that never returns from its end holds the program's answer a few seconds only.
INSTANTIATE_TEST_SUITE_P(Formats, SessionEnd,
                         testing::Values(Format{"AVI", 0, L".avi"}, Format{"MPEG", 1, L".mpg"},
                                         Format{"AviWithACameraEndThatNeverReturns", 0, L".avi", true}),
                         [](const testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

}  // namespace

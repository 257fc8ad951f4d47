// The end-to-end driver against a test program of known behaviour.
#include <gtest/gtest.h>
#include <algorithm>
#include "standins/webcam/StandinWebcam.h"
#include "tests/e2e/AppDriver.h"
#include "tests/e2e/FixtureApp.h"
#include "tests/support/TestSupport.h"

using namespace e2e;

namespace {

const WindowQuery kDialog{L"#32770", L"E2E Fixture"};

RunOptions Fixture(std::vector<std::wstring> arguments = {}) {
    RunOptions options;
    options.program = L"e2e_fixture.exe";
    options.images = false;
    options.sharedTurns = false;  // its runs neither touch the profile folder nor look for webcams
    options.arguments = std::move(arguments);
    return options;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& line : lines)
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line);
    std::sort(found.begin(), found.end());
    return found;
}

// Lines the program prints after `from`, once there are `count` of them (or the time-out passed).
std::vector<std::string> LinesAfter(const App& app, size_t from, size_t count) {
    std::vector<std::string> lines;
    WaitUntil([&] {
        lines = app.OutputLines();
        return lines.size() >= from + count;
    });
    return std::vector<std::string>(lines.begin() + std::min(from, lines.size()), lines.end());
}

struct FolderCase {
    const char* name;
    bool images;
    bool extra;
    std::vector<std::string> files;
};

class DriverFolders : public testing::TestWithParam<FolderCase> {};

TEST_P(DriverFolders, RunInAPrivateFolderWithTheChosenFilesAndEnvironment) {
    const FolderCase& c = GetParam();
    RunOptions options = Fixture();
    options.images = c.images;
    if (c.extra)
        options.files = {{BinDir() + L"\\velmora_app.png", L"extra.png"}};
    options.environment[L"E2E_FIXTURE_VALUE"] = L"42 and more";
    App app(options);
    app.WaitForWindow(kDialog);
    auto lines = app.OutputLines();
    EXPECT_EQ(Matching(lines, "file="), c.files);
    EXPECT_TRUE(app.HasOutputLine("cwd=" + Narrow(app.folder()))) << app.Describe();
    EXPECT_TRUE(app.HasOutputLine("value=42 and more")) << app.Describe();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DriverFolders,
    testing::Values(FolderCase{"bare", false, false, {"file=e2e_fixture.exe"}},
                    FolderCase{"images", true, true,
                               {"file=e2e_fixture.exe", "file=extra.png", "file=velmora_app.png",
                                "file=velmora_splash.png"}}),
    [](const auto& info) { return std::string(info.param.name); });

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(Driver, GivesParallelRunsFoldersOfTheirOwnAndRemovesThemAfterwards) {
    std::wstring first, second;
    {
        App a(Fixture()), b(Fixture());
        a.WaitForWindow(kDialog);
        b.WaitForWindow(kDialog);
        first = a.folder();
        second = b.folder();
        EXPECT_NE(first, second);
        EXPECT_TRUE(a.HasOutputLine("profile=" + Narrow(ProfileFolder()))) << a.Describe();
    }
    EXPECT_FALSE(Exists(first)) << Narrow(first);
    EXPECT_FALSE(Exists(second)) << Narrow(second);
}

TEST(Driver, GivesAFreshImagesFolderAndPutsTheOldOneBack) {
    ProfileLock lock;  // the same thread may take it again, as the run below does
    bool existed = Exists(ImagesFolder());
    CreateDirectoryW(ImagesFolder().c_str(), nullptr);
    std::wstring marker = ImagesFolder() + L"\\e2e-marker.txt";
    HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    {
        RunOptions options = Fixture();
        options.freshImagesFolder = true;
        App app(options);
        app.WaitForWindow(kDialog);
        EXPECT_FALSE(Exists(ImagesFolder()));
        // What the program leaves there: a hidden folder with a read-only file.
        std::wstring hidden = ImagesFolder() + L"\\metadata";
        ASSERT_TRUE(CreateDirectoryW(ImagesFolder().c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(hidden.c_str(), nullptr));
        file = CreateFileW((hidden + L"\\a.meta").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_READONLY, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    EXPECT_TRUE(Exists(marker));
    EXPECT_FALSE(Exists(ImagesFolder() + L"\\metadata\\a.meta"));
    DeleteFileW(marker.c_str());
    if (!existed)
        RemoveDirectoryW(ImagesFolder().c_str());
}

struct ControlCase {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    RECT units;  // x, y, cx, cy
    bool enabled;
};

// In template order.
const ControlCase kControls[] = {
    {IDC_FIXTURE_LABEL, L"Static", L"Name:", {7, 9, 30, 10}, true},
    {IDC_FIXTURE_NAME, L"Edit", L"", {40, 7, 90, 14}, true},
    {IDC_FIXTURE_GREET, L"Button", L"Greet", {140, 7, 50, 14}, true},
    {IDC_FIXTURE_CHOICE, L"ComboBox", L"", {40, 27, 90, 0}, true},
    {IDC_FIXTURE_ASK, L"Button", L"Ask", {140, 27, 50, 14}, true},
    {IDC_FIXTURE_QUIT, L"Button", L"Quit 7", {140, 47, 50, 14}, true},
    {IDC_FIXTURE_DISABLED, L"Button", L"Disabled", {7, 47, 50, 14}, false},
    {IDC_FIXTURE_SWATCH, L"Static", L"", {7, 67, 40, 20}, true},
    {IDC_FIXTURE_RECOLOUR, L"Button", L"Recolour", {50, 67, 40, 14}, true},
    {IDC_FIXTURE_PICK, L"Button", L"Pick", {93, 67, 40, 14}, true},
    {IDC_FIXTURE_ANCHOR, L"Button", L"Anchor", {0, 0, 50, 14}, true},  // placed by the program
};

TEST(Driver, ReadsControlsOfAnotherProcess) {
    App app(Fixture());
    Window dialog = app.WaitForWindow(kDialog);
    EXPECT_TRUE(dialog.Visible());
    EXPECT_EQ(dialog.Style() & WS_THICKFRAME, DWORD(WS_THICKFRAME));
    std::vector<int> ids;
    for (const Window& child : dialog.Children())
        ids.push_back(child.Id());
    std::vector<int> expectedIds;
    for (const auto& c : kControls)
        expectedIds.push_back(c.id);
    EXPECT_EQ(ids, expectedIds);
    for (const auto& c : kControls) {
        SCOPED_TRACE(c.id);
        Window control = dialog.ChildOrThrow(c.id);
        EXPECT_TRUE(control.IsClass(c.className)) << Narrow(control.ClassName());
        EXPECT_EQ(control.Text(), c.text);
        EXPECT_TRUE(control.Visible());
        EXPECT_EQ(control.Enabled(), c.enabled);
        RECT px = DialogUnitsToPixels(c.units), r = control.RectInParent();
        if (c.id != IDC_FIXTURE_ANCHOR) {
            EXPECT_EQ(r.left, px.left);
            EXPECT_EQ(r.top, px.top);
        }
        EXPECT_EQ(r.right - r.left, px.right);
        if (c.units.bottom) {  // a drop-down list's height is the system's
            EXPECT_EQ(r.bottom - r.top, px.bottom);
        }
    }
    EXPECT_FALSE(dialog.Child(999));
    EXPECT_THROW(dialog.ChildOrThrow(999), Error);

    Window choice = dialog.Child(IDC_FIXTURE_CHOICE);
    EXPECT_EQ(choice.ComboItems(), (std::vector<std::wstring>{L"Alpha", L"Beta", L"Gamma"}));
    EXPECT_EQ(choice.ComboSelection(), CB_ERR);
    EXPECT_EQ(choice.Style() & 3, DWORD(CBS_DROPDOWNLIST));
    Window name = dialog.Child(IDC_FIXTURE_NAME);
    EXPECT_TRUE((name.Style() & WS_BORDER) || (name.ExStyle() & WS_EX_CLIENTEDGE))
        << std::hex << name.Style() << " " << name.ExStyle();
}

struct InputCase {
    const char* name;
    std::function<void(Window dialog)> act;
    std::vector<std::string> lines;  // the program's reaction, all of it
};

class DriverInput : public testing::TestWithParam<InputCase> {};

TEST_P(DriverInput, ReachesTheProgram) {
    App app(Fixture());
    Window dialog = app.WaitForWindow(kDialog);
    size_t before = app.OutputLines().size();
    GetParam().act(dialog);
    EXPECT_EQ(LinesAfter(app, before, GetParam().lines.size()), GetParam().lines) << app.Describe();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DriverInput,
    testing::Values(
        InputCase{"Click", [](Window d) { d.ChildOrThrow(IDC_FIXTURE_GREET).Click(); }, {"greet"}},
        InputCase{"MouseClick", [](Window d) { d.ChildOrThrow(IDC_FIXTURE_GREET).MouseClick(); },
                  {"greet"}},
        InputCase{"MouseClickOwnerDrawn",
                  [](Window d) { d.ChildOrThrow(IDC_FIXTURE_ANCHOR).MouseClick(); }, {"anchor"}},
        InputCase{"SetText", [](Window d) { d.ChildOrThrow(IDC_FIXTURE_NAME).SetText(L"abc"); },
                  {"name=abc"}},
        InputCase{"Type", [](Window d) { d.ChildOrThrow(IDC_FIXTURE_NAME).Type(L"xy"); },
                  {"name=x", "name=xy"}},
        InputCase{"SelectComboItem",
                  [](Window d) { d.ChildOrThrow(IDC_FIXTURE_CHOICE).SelectComboItem(1); },
                  {"choice=Beta"}},
        InputCase{"PressKey", [](Window d) { d.PressKey(VK_F5); }, {"key down 116", "key up 116"}},
        InputCase{"PostKeyToControl",
                  [](Window d) { d.ChildOrThrow(IDC_FIXTURE_NAME).PostKeyDown(VK_F2); },
                  {"key down 113"}},
        // The program's own TranslateMessage turns a posted character key into a character.
        InputCase{"PostCharacterKey",
                  [](Window d) { d.ChildOrThrow(IDC_FIXTURE_NAME).PostKeyDown('Q'); },
                  {"key down 81", "name=q"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Driver, RefusesToClickADisabledButton) {
    App app(Fixture());
    Window dialog = app.WaitForWindow(kDialog);
    EXPECT_THROW(dialog.ChildOrThrow(IDC_FIXTURE_DISABLED).Click(), Error);
    EXPECT_THROW(dialog.ChildOrThrow(IDC_FIXTURE_DISABLED).MouseClick(), Error);
}

struct AnswerCase {
    int button;
    const char* line;
};

class DriverMessageBox : public testing::TestWithParam<AnswerCase> {};

TEST_P(DriverMessageBox, IsReadAndAnswered) {
    App app(Fixture());
    app.WaitForWindow(kDialog).ChildOrThrow(IDC_FIXTURE_ASK).Click();
    EXPECT_EQ(app.DismissMessageBox(L"Question", GetParam().button), L"Proceed?");
    app.WaitForOutputLine(GetParam().line);
    EXPECT_TRUE(app.FindWindow(kDialog));
}

INSTANTIATE_TEST_SUITE_P(Cases, DriverMessageBox,
                         testing::Values(AnswerCase{IDYES, "answer=yes"}, AnswerCase{IDNO, "answer=no"}));

TEST(Driver, FindsAMessageBoxWithoutOwnerBeforeTheMainWindow) {
    App app(Fixture({L"--box"}));
    Window box = app.WaitForMessageBox(L"Fixture Notice");
    EXPECT_EQ(App::MessageBoxText(box), L"Starting up");
    EXPECT_FALSE(app.FindWindow(kDialog));
    app.DismissMessageBox(L"Fixture Notice");
    app.WaitForWindow(kDialog);
    EXPECT_TRUE(app.HasOutputLine("box closed"));
    app.WaitForNoWindow({L"#32770", L"Fixture Notice"});
}

struct ExitCase {
    const char* name;
    std::function<void(Window dialog)> act;
    DWORD code;
    std::vector<std::string> lastLines;
};

class DriverExit : public testing::TestWithParam<ExitCase> {};

TEST_P(DriverExit, GivesTheExitCodeAndAllOutput) {
    App app(Fixture());
    GetParam().act(app.WaitForWindow(kDialog));
    ASSERT_TRUE(app.WaitForExit()) << app.Describe();
    EXPECT_EQ(app.ExitCode(), GetParam().code);
    auto lines = app.OutputLines();
    size_t n = GetParam().lastLines.size();
    ASSERT_GE(lines.size(), n);
    EXPECT_EQ(std::vector<std::string>(lines.end() - n, lines.end()), GetParam().lastLines);
    EXPECT_FALSE(app.Running());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DriverExit,
    testing::Values(ExitCase{"WmClose", [](Window d) { d.Close(); }, 0, {"closing", "ended"}},
                    ExitCase{"ExitWithUnflushedOutput",
                             [](Window d) { d.ChildOrThrow(IDC_FIXTURE_QUIT).Click(); },
                             FIXTURE_QUIT_CODE, {"quitting"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Driver, StopsWaitingForAWindowWhenTheProgramEnds) {
    App app(Fixture({L"--exit"}));
    try {
        app.WaitForWindow(kDialog);
        ADD_FAILURE() << "found a window of a program that shows none";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("exit code 3"), std::string::npos) << e.what();
    }
    EXPECT_EQ(app.ExitCode(), DWORD(FIXTURE_EARLY_EXIT_CODE));
}

TEST(Driver, KillsAHungProgram) {
    App app(Fixture({L"--hang"}));
    app.WaitForOutputLine("hanging");
    EXPECT_FALSE(app.WaitForExit(1s));
    EXPECT_THROW(app.WaitForWindow(kDialog, 1s), Error);
    EXPECT_THROW(app.ExitCode(), Error);
    app.Kill();
    EXPECT_EQ(app.ExitCode(), kKilledExitCode);
}

TEST(Driver, ResizesAWindowAndSeesItsLayout) {
    App app(Fixture());
    Window dialog = app.WaitForWindow(kDialog);
    Window anchor = dialog.ChildOrThrow(IDC_FIXTURE_ANCHOR);
    RECT frame = dialog.ScreenRect();
    SIZE client = dialog.ClientSize();
    RECT start = anchor.RectInParent();
    struct Delta { int dx, dy; };
    for (Delta d : {Delta{60, 40}, Delta{-40, -20}, Delta{0, 80}}) {
        SCOPED_TRACE(std::to_string(d.dx) + "," + std::to_string(d.dy));
        dialog.Resize(frame.right - frame.left + d.dx, frame.bottom - frame.top + d.dy);
        SIZE now = dialog.ClientSize();
        EXPECT_EQ(now.cx, client.cx + d.dx);
        EXPECT_EQ(now.cy, client.cy + d.dy);
        RECT r = anchor.RectInParent();
        EXPECT_EQ(r.right, now.cx - FIXTURE_ANCHOR_MARGIN);
        EXPECT_EQ(r.bottom, now.cy - FIXTURE_ANCHOR_MARGIN);
        EXPECT_EQ(r.right - r.left, start.right - start.left);
        EXPECT_EQ(r.bottom - r.top, start.bottom - start.top);
    }
}

size_t CountOf(const Picture& picture, COLORREF colour) {
    return picture.Count([&](COLORREF c) { return c == colour; });
}

TEST(Driver, SeesTheScreenPixelsOfAControlThatAnotherWindowCovered) {
    App app(Fixture());
    Window swatch = app.WaitForWindow(kDialog).ChildOrThrow(IDC_FIXTURE_SWATCH);
    Picture first;
    EXPECT_TRUE(WaitUntil([&] {  // once painted
        first = swatch.ScreenPixels();
        return CountOf(first, FIXTURE_SWATCH_FIRST) == first.pixels.size();
    }, 5s)) << testing::PrintToString(first);
    EXPECT_EQ(first.width, swatch.ClientSize().cx);
    EXPECT_EQ(first.height, swatch.ClientSize().cy);

    Overlay cover(swatch.ScreenRect());
    Picture uncovered = swatch.ScreenPixels();
    EXPECT_EQ(uncovered, first);

    app.FindWindow(kDialog).ChildOrThrow(IDC_FIXTURE_RECOLOUR).Click();
    app.WaitForOutputLine("colour=00cc11");
    Picture second;
    EXPECT_TRUE(WaitUntil([&] {
        second = swatch.ScreenPixels();
        return CountOf(second, FIXTURE_SWATCH_SECOND) == second.pixels.size();
    }, 5s)) << testing::PrintToString(second);
}

// The focus in the program once its dialog is the active window; other tests' programs may take
// the foreground at any time.
Window FocusOnceActive(const App& app, Window dialog) {
    Window focused;
    WaitUntil([&] {
        dialog.Activate();
        return bool(focused = app.FocusedWindow());
    }, 10s);
    return focused;
}

TEST(Driver, FindsTheFocusedControl) {
    App app(Fixture());
    Window dialog = app.WaitForWindow(kDialog);
    // The dialog manager's choice: the first tab stop.
    EXPECT_EQ(FocusOnceActive(app, dialog).hwnd(), dialog.ChildOrThrow(IDC_FIXTURE_NAME).hwnd())
        << FocusOnceActive(app, dialog).Describe();
    dialog.ChildOrThrow(IDC_FIXTURE_GREET).MouseClick();  // a button takes the focus when pressed
    app.WaitForOutputLine("greet");
    EXPECT_EQ(FocusOnceActive(app, dialog).hwnd(), dialog.ChildOrThrow(IDC_FIXTURE_GREET).hwnd())
        << FocusOnceActive(app, dialog).Describe();

    // Another program's window comes to the front: no focus here until this one is active again.
    App other(Fixture());
    Window otherDialog = other.WaitForWindow(kDialog);
    otherDialog.Activate();
    EXPECT_TRUE(WaitUntil([&] { return !app.FocusedWindow(); })) << app.FocusedWindow().Describe();
    EXPECT_EQ(FocusOnceActive(app, dialog).hwnd(), dialog.ChildOrThrow(IDC_FIXTURE_GREET).hwnd())
        << FocusOnceActive(app, dialog).Describe();
}

const wchar_t kInstances[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\";

std::optional<std::wstring> InstanceValue(const std::wstring& instance, const wchar_t* name) {
    union {
        wchar_t text[512];
        DWORD number;
    } value;
    DWORD type = 0, bytes = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, (kInstances + instance).c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_DWORD,
                     &type, &value, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    return type == REG_DWORD ? std::to_wstring(value.number) : std::wstring(value.text);
}

bool Registered(const std::wstring& instance) { return InstanceValue(instance, L"CLSID").has_value(); }

void WebcamTool(const std::wstring& arguments) {
    ChildResult r = RunCaptured(L"\"" + StandinsDir() + L"\\webcam\\standin_webcam_reg.exe\" " + arguments);
    ASSERT_TRUE(r.started && r.exitCode == 0) << r.output;
}

TEST(Driver, RegistersTheWebcamsOfARunForItAlone) {
    const std::wstring stale = L"e2e-0-0-stale";  // as a driver that died would leave it
    std::wstring a, b;
    {
        WebcamLock alone(true);  // nobody may see the stale one meanwhile
        WebcamTool(L"add " + stale);
        RunOptions options = Fixture();
        options.webcams = std::vector<Webcam>{{L"a", L"YUY2 64x48", false}, {L"b", L"", true}};
        App app(options);
        a = app.WebcamName(L"a");
        b = app.WebcamName(L"b");
        EXPECT_NE(a, b);
        EXPECT_FALSE(Registered(stale));
        EXPECT_EQ(InstanceValue(a, L"FriendlyName"), a);
        EXPECT_EQ(InstanceValue(a, L"StandinFormats"), L"YUY2 64x48");
        EXPECT_EQ(InstanceValue(a, L"StandinFailBind"), L"0");
        EXPECT_EQ(InstanceValue(b, L"StandinFormats"), kStandinDefaultFormats);
        EXPECT_EQ(InstanceValue(b, L"StandinFailBind"), L"1");
        EXPECT_THROW(app.WebcamName(L"c"), Error);

        // The device's filter in the program would hold the event; here the test does.
        HANDLE lost = CreateEventW(nullptr, TRUE, FALSE, StandinWebcamLostEvent(a).c_str());
        ASSERT_TRUE(lost);
        app.LoseWebcam(L"a");
        EXPECT_EQ(WaitForSingleObject(lost, 0), WAIT_OBJECT_0);
        CloseHandle(lost);
        EXPECT_FALSE(Registered(a));
        EXPECT_TRUE(Registered(b));
    }
    EXPECT_FALSE(Registered(b));
}

TEST(Driver, ReadsTheFolderPickerAndChoosesInIt) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring base = std::wstring(temp) + L"lumetra-e2e-pick-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring folders[] = {base, base + L"\\alpha", base + L"\\beta"};
    for (const auto& folder : folders)
        CreateDirectoryW(folder.c_str(), nullptr);
    {
        RunOptions options = Fixture();
        options.environment[L"E2E_FIXTURE_FOLDER"] = base;
        App app(options);
        Window dialog = app.WaitForWindow(kDialog);
        dialog.ChildOrThrow(IDC_FIXTURE_PICK).Click();
        Window picker;
        ASSERT_TRUE(WaitUntil([&] {
            for (const Window& w : app.Windows({L"#32770", L""}))
                if (w.hwnd() != dialog.hwnd())
                    picker = w;
            return bool(picker);
        })) << app.Describe();
        std::vector<std::wstring> listed;
        EXPECT_TRUE(WaitUntil([&] { return (listed = PickerFolders(picker)).size() == 2; }));
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, (std::vector<std::wstring>{L"alpha", L"beta"}));
        ChooseInPicker(picker, folders[2]);
        app.WaitForOutputLine("picked=" + Narrow(folders[2]));
        EXPECT_TRUE(WaitUntil([&] { return !picker.exists(); }));
    }
    for (int i = 2; i >= 0; --i)
        RemoveDirectoryW(folders[i].c_str());
}

}  // namespace

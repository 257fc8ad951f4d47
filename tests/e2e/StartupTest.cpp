// Start-up and the main window, seen from outside the program.
#include <gtest/gtest.h>
#include <cstdlib>
#include "tests/e2e/AppDriver.h"

using namespace e2e;

namespace {

const WindowQuery kMainDialog{L"#32770", L"Velmora Lumetra v6.0.0"};
const char kOfflineLine[] = "Cendra not detected, using offline mode.";
const char kOnlineLine[] = "Cendra mode enabled.";

// Dynamic layout: how far a control moves and grows, in percent of the change of the client area.
struct Layout {
    int moveX, moveY, sizeX, sizeY;
};

struct MainControl {
    int id;
    const wchar_t* className;
    const wchar_t* text;  // null: set by the program at run time
    RECT units;           // x, y, cx, cy in dialog units
    DWORD style;          // judged within the bits that matter for the class (StyleMask)
    bool transparent;     // WS_EX_TRANSPARENT
    Layout layout;
};

constexpr DWORD kPush = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kOwnerDrawn = BS_OWNERDRAW | WS_TABSTOP;
constexpr DWORD kEdit = ES_AUTOHSCROLL | WS_TABSTOP;  // and a border (HasBorder)
// A combo box hands WS_VSCROLL on to its list, which shows it only when the items need it.
constexpr DWORD kList = CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP;
constexpr DWORD kLabel = SS_LEFT | SS_CENTERIMAGE;
constexpr Layout kFixed{0, 0, 0, 0}, kCorner{100, 100, 0, 0};

// Dialog template 102, in template order (which is also the tab order).
const MainControl kControls[] = {
    {1001, L"Button", L"Capture", {15, 52, 44, 18}, kPush | BS_CENTER | BS_VCENTER | BS_MULTILINE, false, kFixed},
    {1002, L"Button", L"Open Reference Image", {114, 52, 80, 18}, kPush, false, kFixed},
    {1019, L"Button", L"Capture Image", {464, 387, 83, 16}, kOwnerDrawn, false, kCorner},
    {1011, L"Button", L"File Location", {201, 411, 46, 18}, kPush, false, kCorner},
    {1020, L"Static", nullptr, {201, 370, 250, 17}, kLabel, true, {0, 100, 0, 0}},
    {1024, L"Static", L"", {201, 27, 434, 343}, SS_BLACKFRAME, false, {0, 0, 100, 100}},
    {1026, L"Static", L"", {15, 73, 179, 136}, SS_BLACKFRAME, false, kFixed},
    {1027, L"Static", L"", {16, 7, 178, 38}, SS_BLACKFRAME, true, kFixed},
    {1015, L"Static", nullptr, {295, 7, 265, 17}, SS_RIGHT | SS_CENTERIMAGE, true, {100, 0, 0, 0}},
    {1010, L"Button", L"Logout", {566, 7, 70, 17}, kPush, false, {100, 0, 0, 0}},
    {1041, L"Button", L"Capture Video", {550, 387, 85, 16}, kOwnerDrawn, false, kCorner},
    {1023, L"Button", L"Edit Images", {380, 387, 81, 16}, kOwnerDrawn, false, kCorner},
    {1025, L"Button", L"Upload to Cendra", {287, 387, 90, 16}, kOwnerDrawn, false, kCorner},
    {1006, L"Button", L"Settings", {201, 387, 84, 16}, kOwnerDrawn, false, kCorner},
    {1017, L"Edit", L"", {467, 411, 168, 18}, kEdit, false, kCorner},
    {1021, L"Static", nullptr, {370, 370, 265, 17}, SS_RIGHT | SS_CENTERIMAGE, true, kCorner},
    {1012, L"Edit", nullptr, {251, 411, 161, 18}, kEdit, false, kCorner},
    {1028, L"Edit", L"", {15, 310, 179, 59}, kEdit, false, kFixed},
    {1029, L"Edit", L"", {15, 372, 179, 57}, kEdit, false, kFixed},
    {1030, L"Static", L"Test Details", {15, 212, 179, 14}, kLabel, true, kFixed},
    {1044, L"ComboBox", L"", {15, 230, 95, 21}, kList, false, kFixed},
    {1045, L"ComboBox", L"", {105, 230, 89, 21}, kList, false, kFixed},
    {1046, L"ComboBox", L"", {15, 246, 95, 21}, kList, false, kFixed},
    {1047, L"ComboBox", L"", {105, 246, 89, 21}, kList, false, kFixed},
    {1048, L"ComboBox", L"", {15, 278, 95, 21}, kList, false, kFixed},
    {1049, L"ComboBox", L"", {105, 278, 89, 21}, kList, false, kFixed},
    {1050, L"ComboBox", L"", {15, 262, 95, 21}, kList, false, kFixed},
    {1032, L"Edit", nullptr, {15, 294, 95, 13}, kEdit | ES_READONLY, false, kFixed},
    {1033, L"Edit", nullptr, {105, 294, 89, 13}, kEdit | ES_READONLY, false, kFixed},
    {1064, L"Static", L"File Prefix", {428, 414, 35, 15}, SS_LEFT, true, kCorner},
    {1071, L"Button", L"Clear", {64, 52, 46, 18}, kPush, false, kFixed},
};

constexpr int kLogo = 1027;  // its type becomes a bitmap's when the program loads its logo

DWORD StyleMask(const MainControl& c) {
    std::wstring name = c.className;
    if (name == L"Button")
        return BS_TYPEMASK | BS_CENTER | BS_VCENTER | BS_MULTILINE | WS_TABSTOP;
    if (name == L"Static")
        return (c.id == kLogo ? 0 : SS_TYPEMASK) | SS_CENTERIMAGE | WS_TABSTOP;
    if (name == L"Edit")
        return ES_READONLY | ES_AUTOHSCROLL | ES_MULTILINE | WS_TABSTOP;
    return CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP;  // ComboBox
}

// The size of the program's logo image, from its PNG header.
SIZE LogoSize() {
    std::wstring path = BinDir() + L"\\velmora_app.png";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    unsigned char header[24] = {};
    DWORD n = 0;
    if (file != INVALID_HANDLE_VALUE) {
        ReadFile(file, header, sizeof header, &n, nullptr);
        CloseHandle(file);
    }
    auto big = [&](int at) { return LONG(header[at] << 24 | header[at + 1] << 16 | header[at + 2] << 8 | header[at + 3]); };
    return n == sizeof header ? SIZE{big(16), big(20)} : SIZE{};
}

// Edit controls may turn a WS_BORDER of the template into a client edge.
bool HasBorder(Window w) { return (w.Style() & WS_BORDER) || (w.ExStyle() & WS_EX_CLIENTEDGE); }


::testing::AssertionResult Near(const char* what, LONG actual, LONG expected) {
    if (std::abs(actual - expected) <= 1)  // dialog-unit and percentage rounding
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << what << " is " << actual << ", expected " << expected;
}

// Without a device the program ends at start: the runs have the FK40 stand-in.
RunOptions WithCamera() {
    RunOptions options;
    options.camera = true;
    return options;
}

Window StartOffline(App& app) { return app.WaitForWindow(kMainDialog); }

TEST(Startup, ShowsTheMainDialogWithTheControlsOfItsTemplate) {
    App app(WithCamera());
    Window dialog = StartOffline(app);
    EXPECT_TRUE(dialog.Visible());
    const DWORD frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    EXPECT_EQ(dialog.Style() & frame, frame);
    EXPECT_EQ(dialog.ExStyle() & WS_EX_APPWINDOW, DWORD(WS_EX_APPWINDOW));
    RECT size = DialogUnitsToPixels({0, 0, 642, 436});
    EXPECT_TRUE(Near("client width", dialog.ClientSize().cx, size.right));
    EXPECT_TRUE(Near("client height", dialog.ClientSize().cy, size.bottom));

    std::vector<int> ids, expectedIds;
    for (const Window& child : dialog.Children())
        ids.push_back(child.Id());
    for (const auto& c : kControls)
        expectedIds.push_back(c.id);
    EXPECT_EQ(ids, expectedIds);

    for (const auto& c : kControls) {
        SCOPED_TRACE("control " + std::to_string(c.id));
        Window control = dialog.Child(c.id);
        ASSERT_TRUE(control);
        EXPECT_TRUE(control.IsClass(c.className)) << Narrow(control.ClassName());
        if (c.text) {
            EXPECT_EQ(control.Text(), c.text);
        }
        DWORD mask = StyleMask(c);
        EXPECT_EQ(control.Style() & mask, c.style & mask) << std::hex << control.Style();
        EXPECT_EQ((control.ExStyle() & WS_EX_TRANSPARENT) != 0, c.transparent);
        if (control.IsClass(L"Edit")) {
            EXPECT_TRUE(HasBorder(control));
        }

        RECT px = DialogUnitsToPixels(c.units), r = control.RectInParent();
        if (c.id == kLogo) {  // a bitmap's static control takes the bitmap's size
            SIZE image = LogoSize();
            px.right = image.cx;
            px.bottom = image.cy;
        }
        EXPECT_TRUE(Near("left", r.left, px.left));
        EXPECT_TRUE(Near("top", r.top, px.top));
        EXPECT_TRUE(Near("width", r.right - r.left, px.right));
        if (!control.IsClass(L"ComboBox")) {  // a drop-down list's height is the system's
            EXPECT_TRUE(Near("height", r.bottom - r.top, px.bottom));
        }
    }
}

struct ModeCase {
    const char* name;
    bool online;
    const char* line;
    const char* otherLine;
};

class StartupMode : public testing::TestWithParam<ModeCase> {};

TEST_P(StartupMode, IsAnnouncedOnTheStandardOutput) {
    RunOptions options = WithCamera();
    options.online = GetParam().online;
    App app(options);
    app.WaitForOutputLine(GetParam().line);
    EXPECT_FALSE(app.HasOutputLine(GetParam().otherLine)) << app.Describe();
}

INSTANTIATE_TEST_SUITE_P(Cases, StartupMode,
                         testing::Values(ModeCase{"Offline", false, kOfflineLine, kOnlineLine},
                                         ModeCase{"Online", true, kOnlineLine, kOfflineLine}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Startup, ClosingTheMainDialogEndsTheProgramWithExitCodeZero) {
    App app(WithCamera());
    StartOffline(app).Close();
    ASSERT_TRUE(app.WaitForExit()) << app.Describe();
    EXPECT_EQ(app.ExitCode(), 0u);
}

TEST(Startup, ResizingMovesAndSizesTheControlsByTheirLayout) {
    App app(WithCamera());
    Window dialog = StartOffline(app);
    RECT frame = dialog.ScreenRect();
    SIZE client = dialog.ClientSize();
    std::map<int, RECT> start;
    for (const auto& c : kControls)
        start[c.id] = dialog.ChildOrThrow(c.id).RectInParent();

    // Each size is reached from the one before, but the layout always counts from the first.
    // The window starts almost as wide as the test display, and cannot grow much past its edge.
    struct Delta { int dx, dy; };
    for (Delta d : {Delta{60, 80}, Delta{0, 150}, Delta{75, 0}, Delta{0, 0}}) {
        SCOPED_TRACE("grown by " + std::to_string(d.dx) + "," + std::to_string(d.dy));
        dialog.Resize(frame.right - frame.left + d.dx, frame.bottom - frame.top + d.dy);
        SIZE now = dialog.ClientSize();
        ASSERT_EQ(now.cx - client.cx, d.dx);
        ASSERT_EQ(now.cy - client.cy, d.dy);
        for (const auto& c : kControls) {
            SCOPED_TRACE("control " + std::to_string(c.id));
            const RECT& s = start[c.id];
            RECT r = dialog.ChildOrThrow(c.id).RectInParent();
            EXPECT_TRUE(Near("left", r.left, s.left + d.dx * c.layout.moveX / 100));
            EXPECT_TRUE(Near("top", r.top, s.top + d.dy * c.layout.moveY / 100));
            EXPECT_TRUE(Near("width", r.right - r.left, s.right - s.left + d.dx * c.layout.sizeX / 100));
            EXPECT_TRUE(Near("height", r.bottom - r.top, s.bottom - s.top + d.dy * c.layout.sizeY / 100));
        }
        // Whatever the size, the "File Prefix" label stays clear of the prefix edit it names, which
        // still takes what the operator types.
        RECT label = dialog.ChildOrThrow(1064).RectInParent(), edit = dialog.ChildOrThrow(1017).RectInParent();
        EXPECT_TRUE(label.right <= edit.left || label.bottom <= edit.top)
            << "label ends at " << label.right << "," << label.bottom << ", edit starts at " << edit.left << ","
            << edit.top;
        Window prefix = dialog.ChildOrThrow(1017);
        const std::wstring typed = L"Site" + std::to_wstring(d.dx) + L"x" + std::to_wstring(d.dy);
        prefix.SetText(L"");
        prefix.Type(typed);
        EXPECT_TRUE(WaitUntil([&] { return prefix.Text() == typed; })) << "the prefix edit shows \"" << Narrow(prefix.Text()) << "\"";
    }
}

}  // namespace

// The Settings dialog and the camera exclusions dialog, worked from outside the program: their
// templates, the device and resolution choices as the live view and its stills show them, the
// exclusions as the reference capture honours them, and that nothing outlives the run.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include "tests/e2e/Scenario.h"

using namespace e2e;

namespace {

const WindowQuery kSettings{L"#32770", L"Settings"};
const WindowQuery kExclusions{L"#32770", L"Advanced - Camera Remote Capture Exclusions"};
const wchar_t kFK40[] = L"40K USB Video Device";

// Settings.
constexpr int kResolutions = 1000, kAdvanced = 1001, kDevices = 1023, kFormat = 1030;
// Camera exclusions.
constexpr int kExcluded = 1001, kRemove = 1002, kClearAll = 1003, kAdd = 1004, kDetected = 1005;

struct TemplateControl {
    int id;
    const wchar_t* className;
    const wchar_t* text;  // null: a list, whose text is not looked at
    RECT units;           // x, y, cx, cy in dialog units
    DWORD style;          // judged within StyleMask(className)
};

constexpr DWORD kPush = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kList = LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_TABSTOP;  // and a border (HasBorder)

const TemplateControl kSettingsControls[] = {
    {IDOK, L"Button", L"OK", {198, 288, 50, 14}, BS_DEFPUSHBUTTON | WS_TABSTOP},
    {IDCANCEL, L"Button", L"Cancel", {258, 288, 50, 14}, kPush},
    {kResolutions, L"ListBox", nullptr, {15, 156, 279, 89}, kList},
    {kDevices, L"ListBox", nullptr, {16, 37, 279, 89}, kList | LBS_SORT},
    {-1, L"Static", L"Resolution", {16, 140, 279, 16}, SS_LEFT},
    {-1, L"Static", L"Video Devices", {17, 17, 279, 16}, SS_LEFT},
    {kAdvanced, L"Button", L"Advanced >>", {15, 286, 74, 16}, kPush},
    {-1, L"Static", L"Video Output Format", {15, 255, 74, 12}, SS_LEFT},
    {kFormat, L"ComboBox", nullptr, {99, 253, 105, 16}, CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP},
};

const TemplateControl kExclusionControls[] = {
    {IDOK, L"Button", L"OK", {261, 307, 50, 14}, BS_DEFPUSHBUTTON | WS_TABSTOP},
    {IDCANCEL, L"Button", L"Cancel", {314, 307, 50, 14}, kPush},
    {kDetected, L"ListBox", nullptr, {20, 30, 331, 91}, kList | LBS_SORT | LBS_MULTICOLUMN},
    {kExcluded, L"ListBox", nullptr, {20, 163, 331, 97}, kList | LBS_SORT},
    {-1, L"Static", L"Detected Camera:", {20, 17, 77, 12}, SS_LEFT},
    {kRemove, L"Button", L"Remove Selected Exclusion", {268, 263, 83, 22}, kPush | BS_MULTILINE},
    {kClearAll, L"Button", L"Clear All Exclusions", {166, 263, 99, 22}, kPush},
    {kAdd, L"Button", L"Add Camera To Remote Capture Exclusion List", {254, 124, 98, 22}, kPush | BS_MULTILINE},
    {-1, L"Static", L"Cameras Excluded From Remote Camera Feature", {19, 149, 163, 12}, SS_LEFT},
};

// A list box shows or hides its scroll bar, and its WS_VSCROLL with it, as its rows need.
DWORD StyleMask(const std::wstring& className) {
    if (className == L"Button")
        return BS_TYPEMASK | BS_MULTILINE | WS_TABSTOP;
    if (className == L"ListBox")
        return LBS_NOTIFY | LBS_SORT | LBS_MULTICOLUMN | LBS_NOINTEGRALHEIGHT | WS_TABSTOP;
    if (className == L"Static")
        return SS_TYPEMASK | WS_TABSTOP;
    return CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP;
}

bool HasBorder(const Window& w) { return (w.Style() & WS_BORDER) || (w.ExStyle() & WS_EX_CLIENTEDGE); }

testing::AssertionResult Near(const char* what, LONG actual, LONG expected) {
    if (std::abs(actual - expected) <= 1)  // dialog-unit rounding
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << what << " is " << actual << ", expected " << expected;
}

// A modal frame with caption and system menu, not sizable, of the template's client size, and
// the controls of the table in template order.
template <size_t N>
void ExpectTemplate(const Window& dialog, const TemplateControl (&controls)[N], LONG width, LONG height) {
    const DWORD frame = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    EXPECT_EQ(dialog.Style() & (frame | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), frame);
    EXPECT_TRUE(dialog.ExStyle() & WS_EX_DLGMODALFRAME);
    RECT size = DialogUnitsToPixels({0, 0, width, height});
    EXPECT_TRUE(Near("client width", dialog.ClientSize().cx, size.right));
    EXPECT_TRUE(Near("client height", dialog.ClientSize().cy, size.bottom));

    std::vector<Window> children = dialog.Children();
    ASSERT_EQ(children.size(), N);
    for (size_t i = 0; i < N; ++i) {
        const TemplateControl& c = controls[i];
        const Window& control = children[i];
        SCOPED_TRACE("control " + std::to_string(i) + ": " + control.Describe());
        EXPECT_EQ(control.Id(), c.id);
        EXPECT_TRUE(control.IsClass(c.className));
        if (c.text) {
            EXPECT_EQ(control.Text(), c.text);
        }
        DWORD mask = StyleMask(c.className);
        EXPECT_EQ(control.Style() & mask, c.style & mask) << std::hex << control.Style();
        if (control.IsClass(L"ListBox")) {
            EXPECT_TRUE(HasBorder(control));
        }
        RECT px = DialogUnitsToPixels(c.units), r = control.RectInParent();
        EXPECT_TRUE(Near("left", r.left, px.left));
        EXPECT_TRUE(Near("top", r.top, px.top));
        EXPECT_TRUE(Near("width", r.right - r.left, px.right));
        if (!control.IsClass(L"ComboBox")) {  // a drop-down list's height is the system's
            EXPECT_TRUE(Near("height", r.bottom - r.top, px.bottom));
        }
    }
}

using Rows = std::vector<std::wstring>;

bool Lists(const Window& list, const std::wstring& text) {
    Rows rows = ListBoxItems(list);
    return std::find(rows.begin(), rows.end(), text) != rows.end();
}

// The list shows these rows now or within a little while (the program acts on posted messages).
testing::AssertionResult Shows(const Window& list, const Rows& expected) {
    Rows rows;
    if (WaitUntil([&] { return (rows = ListBoxItems(list)) == expected; }, 10s))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << list.Describe() << " shows " << testing::PrintToString(rows);
}

Window OpenSettings(const App& app, const Window& main) {
    main.ChildOrThrow(kSettingsButton).Click();
    return app.WaitForWindow(kSettings);
}

Window OpenExclusions(const App& app, const Window& settings) {
    settings.ChildOrThrow(kAdvanced).Click();
    return app.WaitForWindow(kExclusions);
}

void Close(const App& app, const Window& dialog, const WindowQuery& query) {
    dialog.ChildOrThrow(IDOK).Click();
    app.WaitForNoWindow(query);
}


// The still that the space bar at the live view takes next.
Bitmap NextStill(const Window& main) {
    std::vector<std::wstring> before = FileNames(ImagesFolder());
    main.ChildOrThrow(kLiveView).PressKey(VK_SPACE);
    std::vector<std::wstring> after = WaitForFiles(ImagesFolder(), before.size() + 1);
    std::vector<std::wstring> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    if (added.size() != 1)
        throw Error(std::to_string(added.size()) + " stills for one space bar");
    Bitmap still;
    if (!ParseBitmap(ReadBytes(ImagesFolder() + L"\\" + added[0]), &still))
        throw Error("the still is no bitmap");
    return still;
}

RunOptions CameraAndWebcams(std::vector<Webcam> webcams) {
    RunOptions options = CameraRun();
    options.webcams = std::move(webcams);
    return options;
}

TEST(Settings, ListsBothDevicesAndAWebcamsResolutionReachesTheStills) {
    App app(CameraAndWebcams({{L"sizes", L"YUY2 1280x720;YUY2 400x400;YUY2 160x120;YUY2 640x480"}}));
    Window main = app.WaitForWindow(kMainDialog);
    Window settings = OpenSettings(app, main);
    {
        SCOPED_TRACE("template 130");
        ExpectTemplate(settings, kSettingsControls, 315, 309);
    }
    EXPECT_FALSE(main.Enabled()) << "the main window takes input while Settings is up";
    Window format = settings.ChildOrThrow(kFormat);
    EXPECT_EQ(format.ComboItems(), (Rows{L"AVI", L"MPEG", L"WMV"}));
    EXPECT_EQ(format.ComboSelection(), 0);
    Window devices = settings.ChildOrThrow(kDevices), resolutions = settings.ChildOrThrow(kResolutions);
    const std::wstring webcam = app.WebcamName(L"sizes");
    EXPECT_TRUE(Lists(devices, kFK40) && Lists(devices, webcam)) << testing::PrintToString(ListBoxItems(devices));
    EXPECT_EQ(ListBoxItems(resolutions), Rows{L"202x202"});
    EXPECT_EQ(ListBoxSelection(devices), -1);
    EXPECT_EQ(ListBoxSelection(resolutions), -1);

    SelectListBoxItem(devices, RowOf(devices, webcam));
    ASSERT_TRUE(Shows(resolutions, {L"160x120", L"400x400 (200x200)", L"640x480", L"1280x720"}));
    SelectListBoxItem(resolutions, 2);
    Sleep(300);  // the choice is handled before OK, which comes after it in the queue anyway
    Close(app, settings, kSettings);
    EXPECT_TRUE(main.Enabled());

    ASSERT_TRUE(Streams(main.ChildOrThrow(kLiveView)));
    ASSERT_TRUE(ShowsWebcam(main.ChildOrThrow(kLiveView)));  // the restarted graph's first sample
    Bitmap still = NextStill(main);
    EXPECT_EQ(still.width, 640);
    EXPECT_EQ(still.height, 480);
    EXPECT_TRUE(WebcamFrameNumber(still).has_value()) << "no frame of the virtual webcam, upright";
}

TEST(Settings, AnExcludedCameraLeavesTheListsAndIsRefusedByTheReferenceCapture) {
    App app(CameraAndWebcams({{L"noformat", L"RGB24 320x240"}}));
    Window main = app.WaitForWindow(kMainDialog);
    const std::wstring webcam = app.WebcamName(L"noformat");
    const std::wstring references = ImagesFolder() + L"\\ReferenceImages";

    Window settings = OpenSettings(app, main);
    Window devices = settings.ChildOrThrow(kDevices), resolutions = settings.ChildOrThrow(kResolutions);
    // A webcam with no format the program can show lists none, and the live view stays.
    SelectListBoxItem(devices, RowOf(devices, webcam));
    ASSERT_TRUE(Shows(resolutions, {}));

    Window exclusions = OpenExclusions(app, settings);
    {
        SCOPED_TRACE("template 136");
        ExpectTemplate(exclusions, kExclusionControls, 371, 328);
    }
    EXPECT_FALSE(settings.Enabled()) << "Settings takes input while the exclusions are up";
    Window detected = exclusions.ChildOrThrow(kDetected), excluded = exclusions.ChildOrThrow(kExcluded);
    const Rows detectedAtFirst = ListBoxItems(detected);
    EXPECT_TRUE(Lists(detected, kFK40) && Lists(detected, webcam)) << testing::PrintToString(detectedAtFirst);
    EXPECT_EQ(ListBoxItems(excluded), Rows{});

    exclusions.ChildOrThrow(kClearAll).Click();
    Sleep(500);
    EXPECT_EQ(ListBoxItems(detected), detectedAtFirst) << "Clear All on an empty list";
    EXPECT_EQ(ListBoxItems(excluded), Rows{});
    EXPECT_EQ(app.Windows({L"#32770", L""}).size(), 3u) << "a box besides the three dialogs: " << app.Describe();

    SelectListBoxItem(detected, RowOf(detected, kFK40));
    exclusions.ChildOrThrow(kAdd).Click();
    ASSERT_TRUE(Shows(excluded, {kFK40}));
    EXPECT_FALSE(Lists(detected, kFK40));
    Close(app, exclusions, kExclusions);
    EXPECT_TRUE(WaitUntil([&] { return !Lists(devices, kFK40); }, 10s))
        << testing::PrintToString(ListBoxItems(devices));
    EXPECT_EQ(ListBoxItems(resolutions), Rows{}) << "the live camera is excluded";
    Close(app, settings, kSettings);

    main.ChildOrThrow(kCaptureReference).Click();
    Sleep(1000);
    EXPECT_EQ(FileNames(references), Rows{});
    EXPECT_EQ(app.Windows({L"#32770", L""}).size(), 1u) << app.Describe();
    EXPECT_EQ(NextStill(main).width, 202) << "the live view left the camera";

    settings = OpenSettings(app, main);
    exclusions = OpenExclusions(app, settings);
    excluded = exclusions.ChildOrThrow(kExcluded);
    ASSERT_EQ(ListBoxItems(excluded), Rows{kFK40});
    SelectListBoxItem(excluded, 0);
    exclusions.ChildOrThrow(kRemove).Click();
    ASSERT_TRUE(Shows(excluded, {}));
    EXPECT_TRUE(Lists(exclusions.ChildOrThrow(kDetected), kFK40));
    Close(app, exclusions, kExclusions);
    EXPECT_TRUE(WaitUntil([&] { return Lists(settings.ChildOrThrow(kDevices), kFK40); }, 10s));
    EXPECT_EQ(ListBoxItems(settings.ChildOrThrow(kResolutions)), Rows{L"202x202"});
    Close(app, settings, kSettings);

    main.ChildOrThrow(kCaptureReference).Click();
    EXPECT_EQ(WaitForFiles(references, 1).size(), 1u);
}

bool KeyIsEmptyOrAbsent(HKEY root, const wchar_t* path) {
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return true;
    DWORD subkeys = 0, values = 0;
    LONG read = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                                 nullptr, nullptr);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

TEST(Settings, ASecondStartHasAviAndNoExclusionsAndNothingWasSaved) {
    RunOptions options;
    options.camera = true;
    {
        App app(options);
        Window main = app.WaitForWindow(kMainDialog);
        Window settings = OpenSettings(app, main);
        Window format = settings.ChildOrThrow(kFormat);
        PickComboItem(format, 1);
        Window exclusions = OpenExclusions(app, settings);
        Window detected = exclusions.ChildOrThrow(kDetected);
        SelectListBoxItem(detected, RowOf(detected, kFK40));
        exclusions.ChildOrThrow(kAdd).Click();
        ASSERT_TRUE(Shows(exclusions.ChildOrThrow(kExcluded), {kFK40}));
        Close(app, exclusions, kExclusions);
        Close(app, settings, kSettings);
        // Reopened, the dialog shows the choice of the run.
        settings = OpenSettings(app, main);
        EXPECT_EQ(settings.ChildOrThrow(kFormat).ComboSelection(), 1);
        EXPECT_FALSE(Lists(settings.ChildOrThrow(kDevices), kFK40));
        Close(app, settings, kSettings);
        main.Close();
        ASSERT_TRUE(app.WaitForExit()) << app.Describe();
    }
    App app(options);
    Window main = app.WaitForWindow(kMainDialog);
    Window settings = OpenSettings(app, main);
    EXPECT_EQ(settings.ChildOrThrow(kFormat).ComboSelection(), 0);
    EXPECT_TRUE(Lists(settings.ChildOrThrow(kDevices), kFK40));
    EXPECT_EQ(ListBoxItems(settings.ChildOrThrow(kResolutions)), Rows{L"202x202"});
    Window exclusions = OpenExclusions(app, settings);
    EXPECT_EQ(ListBoxItems(exclusions.ChildOrThrow(kExcluded)), Rows{});
    Close(app, exclusions, kExclusions);
    Close(app, settings, kSettings);
    EXPECT_TRUE(KeyIsEmptyOrAbsent(HKEY_CURRENT_USER, L"Software\\Velmora Settings"));
}

}  // namespace

// The settings and camera exclusions dialogs in this process, on their templates, over fake
// sources that log their calls and a live view without a window: what the lists show, what a
// choice does to the live source and a running recording, and how the exclusion list changes.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include "res/SettingsResource.h"
#include "tests/support/FakeVideo.h"
#include "ui/AdvancedSettingsDlg.h"
#include "ui/SettingsDlg.h"
#include "ui/VideoDisplay.h"
#include "video/CompositeVideoSourceProvider.h"

namespace {

using Log = std::vector<std::string>;
using Rows = std::vector<std::wstring>;

// Opens at an entry's index; an entry of another source is logged as such.
class FakeSource : public LoggingSource {
public:
    FakeSource(std::string tag, Log* log, std::string describedAs, std::vector<std::string> labels,
               std::string kind = "webcam")
        : LoggingSource(std::move(tag), log) {
        description = std::move(describedAs);
        name = id = std::move(kind);
        initialized = true;
        for (size_t i = 0; i < labels.size(); ++i)
            resolutions.push_back(new VideoResolution{static_cast<int>(i), 8, 6, 24, labels[i]});
    }
    int Start() override { return Note("Start"), 1; }
    int Stop() override { return Note("Stop"), 1; }
    VideoFrame* GetFrame(unsigned char*) override { return nullptr; }
    int UpdateFrame() override { return Note("UpdateFrame"), UpdateFrameNone; }
    void Close() override { Note("Close"); }
    void Open(VideoResolution* r) override {
        bool own = std::find(resolutions.begin(), resolutions.end(), r) != resolutions.end();
        Note(own ? "Open " + std::to_string(r->index) : "Open foreign");
    }
};

// The seams: the recording's stop is logged, the exclusions dialog is the test's function.
class TestSettingsDlg : public CSettingsDlg {
public:
    TestSettingsDlg(CompositeVideoSourceProvider* p, CVideoDisplay* v, std::vector<ExcludedCamera>* e, Log* log)
        : CSettingsDlg(p, v, e), m_log(log) {}
    std::function<void()> exclusions;

protected:
    void StopRecording() override { m_log->push_back("recording.Stop"); }
    void RunExclusions() override {
        if (exclusions) exclusions();
    }

private:
    Log* m_log;
};

Rows ListRows(HWND list) {
    Rows rows;
    int count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::wstring text(static_cast<size_t>(::SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        text.resize(static_cast<size_t>(::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
        rows.push_back(text);
    }
    return rows;
}

template <typename T>
T* RowData(HWND list, int row) {
    return reinterpret_cast<T*>(::SendMessageW(list, LB_GETITEMDATA, row, 0));
}

std::wstring Wide(const std::string& s) {
    std::wstring w;
    for (char c : s) w += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return w;
}

// What a user's click on a row sends.
void PickRow(CWnd& dlg, int id, int row) {
    HWND list = ::GetDlgItem(dlg.m_hWnd, id);
    ASSERT_NE(::SendMessageW(list, LB_SETCURSEL, row, 0), LB_ERR) << "row " << row;
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

// Sources of two providers joined as the application joins them (FK40 first); the tags name
// them in the call log.
struct SettingsFixture : testing::Test {
    SettingsFixture() : provider(webcams = new FakeProvider, fk40 = new FakeProvider) {
        fk40->list = {&camera};
        webcams->list = {&webcam, &bare};
    }
    ~SettingsFixture() override {
        if (dlg && dlg->m_hWnd) dlg->DestroyWindow();
    }

    void Open() {
        dlg = std::make_unique<TestSettingsDlg>(&provider, &view, &exclusions, &log);
        ASSERT_TRUE(dlg->Create(IDD_SETTINGS_DIALOG));
    }
    HWND Item(int id) const { return ::GetDlgItem(dlg->m_hWnd, id); }
    Rows Devices() const { return ListRows(Item(IDC_DEVICE_LIST)); }
    Rows Resolutions() const { return ListRows(Item(IDC_RESOLUTION_LIST)); }
    void PickDevice(const std::string& description) {
        Rows rows = Devices();
        auto found = std::find(rows.begin(), rows.end(), Wide(description));
        ASSERT_NE(found, rows.end()) << description;
        PickRow(*dlg, IDC_DEVICE_LIST, static_cast<int>(found - rows.begin()));
    }
    void PickResolution(int row) { PickRow(*dlg, IDC_RESOLUTION_LIST, row); }
    void LiveAt(VideoSource& source, int entry) {
        view.SetSource(&source);
        view.SetResolution(source.resolutions[entry]);
    }
    int EntryInUse() const {
        if (!view.source || !view.resolution) return -1;
        auto& r = view.source->resolutions;
        return static_cast<int>(std::find(r.begin(), r.end(), view.resolution) - r.begin());
    }

    Log log;
    FakeSource camera{"fk40", &log, "FK40 Camera", {"202x202"}, "F40K"};
    FakeSource webcam{"cam", &log, "Cam\xE9ra", {"640x480", "160x120", "1280x720"}};
    FakeSource bare{"bare", &log, "Bare Cam", {}};
    FakeProvider* webcams;
    FakeProvider* fk40;
    CompositeVideoSourceProvider provider;
    CVideoDisplay view;
    std::vector<ExcludedCamera> exclusions;
    std::unique_ptr<TestSettingsDlg> dlg;
};

// --- listing ------------------------------------------------------------------------------------

struct ListingCase {
    const char* name;
    const char* live;  // "camera", "webcam", "bare" or null
    std::vector<ExcludedCamera> excluded;
    // The exclusion list the exclusions dialog leaves behind; unset: Advanced is not pressed.
    std::optional<std::vector<ExcludedCamera>> afterAdvanced;
    Rows devices;
    Rows resolutions;
};

class Listing : public SettingsFixture, public testing::WithParamInterface<ListingCase> {};

TEST_P(Listing, ShowsTheDevicesSortedAndTheResolutionsOfTheLiveSource) {
    const ListingCase& c = GetParam();
    std::map<std::string, VideoSource*> byName{{"camera", &camera}, {"webcam", &webcam}, {"bare", &bare}};
    if (c.live) view.SetSource(byName[c.live]);
    exclusions = c.excluded;
    log.clear();
    Open();
    if (c.afterAdvanced) {
        dlg->exclusions = [&] { exclusions = *c.afterAdvanced; };
        dlg->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_ADVANCED_SETTINGS, BN_CLICKED),
                         reinterpret_cast<LPARAM>(Item(IDC_ADVANCED_SETTINGS)));
    }

    ASSERT_EQ(Devices(), c.devices);
    ASSERT_EQ(Resolutions(), c.resolutions);
    // Each row carries its own object, wherever the sorted list put its text.
    for (int row = 0; row < static_cast<int>(c.devices.size()); ++row)
        EXPECT_EQ(Wide(RowData<VideoSource>(Item(IDC_DEVICE_LIST), row)->description), c.devices[row]) << row;
    for (int row = 0; row < static_cast<int>(c.resolutions.size()); ++row)
        EXPECT_EQ(Wide(RowData<VideoResolution>(Item(IDC_RESOLUTION_LIST), row)->label), c.resolutions[row]) << row;
    EXPECT_EQ(::SendMessageW(Item(IDC_DEVICE_LIST), LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_EQ(::SendMessageW(Item(IDC_RESOLUTION_LIST), LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_TRUE(log.empty()) << "opening and listing touch no source: " << testing::PrintToString(log);
}

const ExcludedCamera kCamera{"FK40 Camera", "F40K"}, kWebcam{"Cam\xE9ra", "webcam"};
const Rows kAll{L"Bare Cam", L"Cam\u00E9ra", L"FK40 Camera"};
const Rows kWebcamRows{L"640x480", L"160x120", L"1280x720"};

INSTANTIATE_TEST_SUITE_P(
    Cases, Listing,
    testing::Values(
        ListingCase{"NoLiveSourceListsTheFirstOffered", nullptr, {}, {}, kAll, {L"202x202"}},
        ListingCase{"LiveWebcamListsItsOwnEntriesInItsOrder", "webcam", {}, {}, kAll, kWebcamRows},
        ListingCase{"LiveSourceWithoutEntriesListsNone", "bare", {}, {}, kAll, {}},
        ListingCase{"ExcludedLiveSourceIsAbsentAndListsNothing", "camera", {kCamera}, {},
                    {L"Bare Cam", L"Cam\u00E9ra"}, {}},
        ListingCase{"ExclusionNeedsTheNameToo", "camera", {{"FK40 Camera", "webcam"}}, {}, kAll, {L"202x202"}},
        ListingCase{"AfterAdvancedTheLiveSourceIsListedAgain", "webcam", {},
                    std::vector<ExcludedCamera>{kCamera}, {L"Bare Cam", L"Cam\u00E9ra"}, kWebcamRows},
        ListingCase{"AfterAdvancedAnExcludedLiveSourceListsNothing", "webcam", {},
                    std::vector<ExcludedCamera>{kWebcam}, {L"Bare Cam", L"FK40 Camera"}, {}},
        ListingCase{"AfterAdvancedAReadmittedDeviceReturns", "webcam", {kWebcam, kCamera},
                    std::vector<ExcludedCamera>{kCamera}, {L"Bare Cam", L"Cam\u00E9ra"}, kWebcamRows}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsFixture, TwinsAreTwoRowsEachWithItsOwnDevice) {
    FakeSource twin{"twin", &log, "Cam\xE9ra", {"320x240", "640x480"}};
    webcams->list = {&twin, &webcam};
    view.SetSource(&camera);
    Open();
    log.clear();
    ASSERT_EQ(Devices(), (Rows{L"Cam\u00E9ra", L"Cam\u00E9ra", L"FK40 Camera"}));
    std::vector<VideoSource*> rowSources{RowData<VideoSource>(Item(IDC_DEVICE_LIST), 0),
                                         RowData<VideoSource>(Item(IDC_DEVICE_LIST), 1)};
    EXPECT_NE(rowSources[0], rowSources[1]);
    for (int row : {0, 1}) {
        PickRow(*dlg, IDC_DEVICE_LIST, row);
        EXPECT_EQ(view.source, rowSources[row]) << row;
    }
}

TEST_F(SettingsFixture, TheFormatListIsTheTemplatesOnTheLiveViewsFormat) {
    for (int format : {0, 1, 2}) {
        SCOPED_TRACE(format);
        view.videoFormat = format;
        Open();
        HWND combo = Item(IDC_OUTPUT_FORMAT);
        std::vector<std::wstring> items;
        for (int i = 0; i < ::SendMessageW(combo, CB_GETCOUNT, 0, 0); ++i) {
            wchar_t text[16] = {};
            ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            items.push_back(text);
        }
        EXPECT_EQ(items, (std::vector<std::wstring>{L"AVI", L"MPEG", L"WMV"}));
        EXPECT_EQ(::SendMessageW(combo, CB_GETCURSEL, 0, 0), format);
        dlg->DestroyWindow();
    }
}

// --- effects on the live view -------------------------------------------------------------------

struct EffectCase {
    const char* name;
    std::function<void(SettingsFixture&)> arrange;  // before the dialog opens
    std::function<void(SettingsFixture&)> act;      // with the call log cleared
    Log calls;
    std::string live;   // tag of the live source afterwards
    int entry;          // index of its entry in use, -1 for none
    Rows resolutions;   // list 1000 afterwards
};

class Effects : public SettingsFixture, public testing::WithParamInterface<EffectCase> {};

TEST_P(Effects, RestartTheLiveSourceOnlyWhenNeededAndEndTheRecordingFirst) {
    const EffectCase& c = GetParam();
    c.arrange(*this);
    Open();
    log.clear();
    c.act(*this);
    EXPECT_EQ(log, c.calls);
    std::map<std::string, VideoSource*> byTag{{"cam", &webcam}, {"fk40", &camera}, {"bare", &bare}};
    EXPECT_EQ(view.source, byTag[c.live]);
    EXPECT_EQ(EntryInUse(), c.entry);
    EXPECT_EQ(Resolutions(), c.resolutions);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Effects,
    testing::Values(
        EffectCase{"LiveDeviceAtItsSecondEntryRestartsOnce", [](SettingsFixture& f) { f.LiveAt(f.webcam, 0); },
                   [](SettingsFixture& f) { f.PickResolution(1); },
                   {"recording.Stop", "cam.Stop", "cam.Open 1", "cam.Start", "cam.UpdateFrame"}, "cam", 1,
                   kWebcamRows},
        EffectCase{"TheEntryInUseChangesNothing", [](SettingsFixture& f) { f.LiveAt(f.webcam, 1); },
                   [](SettingsFixture& f) { f.PickResolution(1); }, {}, "cam", 1, kWebcamRows},
        EffectCase{"TheOnlyEntryChangesNothing", [](SettingsFixture& f) { f.LiveAt(f.camera, 0); },
                   [](SettingsFixture& f) { f.PickResolution(0); }, {}, "fk40", 0, {L"202x202"}},
        EffectCase{"AnotherDeviceStopsTheOldAndStartsTheNewOnce", [](SettingsFixture& f) { f.LiveAt(f.camera, 0); },
                   [](SettingsFixture& f) { f.PickDevice("Cam\xE9ra"); },
                   {"recording.Stop", "fk40.Stop", "cam.Open 0", "cam.Start", "cam.UpdateFrame"}, "cam", 0,
                   kWebcamRows},
        EffectCase{"TheLiveDeviceReturnsToItsFirstEntry", [](SettingsFixture& f) { f.LiveAt(f.webcam, 2); },
                   [](SettingsFixture& f) { f.PickDevice("Cam\xE9ra"); },
                   {"recording.Stop", "cam.Stop", "cam.Open 0", "cam.Start", "cam.UpdateFrame"}, "cam", 0,
                   kWebcamRows},
        EffectCase{"TheLiveDeviceAtItsFirstEntryChangesNothing", [](SettingsFixture& f) { f.LiveAt(f.webcam, 0); },
                   [](SettingsFixture& f) { f.PickDevice("Cam\xE9ra"); }, {}, "cam", 0, kWebcamRows},
        EffectCase{"ADeviceWithoutEntriesIsOnlyListed", [](SettingsFixture& f) { f.LiveAt(f.camera, 0); },
                   [](SettingsFixture& f) { f.PickDevice("Bare Cam"); }, {}, "fk40", 0, {}},
        EffectCase{"AStaleListsEntryIsOpenedByItsOwnSourceOnly", [](SettingsFixture& f) { f.LiveAt(f.webcam, 0); },
                   [](SettingsFixture& f) {
                       // A device-list refresh makes another source live while the dialog is up.
                       f.view.SetSource(&f.camera);
                       f.log.clear();
                       f.PickResolution(2);
                   },
                   {"recording.Stop", "fk40.Stop", "cam.Open 0", "cam.Start", "cam.UpdateFrame", "cam.Stop",
                    "cam.Open 2", "cam.Start", "cam.UpdateFrame"},
                   "cam", 2, kWebcamRows},
        EffectCase{"TheFormatIsForTheNextRecordingOnly", [](SettingsFixture& f) { f.LiveAt(f.webcam, 1); },
                   [](SettingsFixture& f) {
                       HWND combo = f.Item(IDC_OUTPUT_FORMAT);
                       ::SendMessageW(combo, CB_SETCURSEL, 1, 0);
                       f.dlg->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_OUTPUT_FORMAT, CBN_SELENDOK),
                                          reinterpret_cast<LPARAM>(combo));
                       EXPECT_EQ(f.view.videoFormat, 1);
                   },
                   {}, "cam", 1, kWebcamRows}),
    [](const auto& info) { return std::string(info.param.name); });

// --- exclusions --------------------------------------------------------------------------------

struct ExclusionsFixture : SettingsFixture {
    void OpenExclusions() {
        exclusionsDlg = std::make_unique<CAdvancedSettingsDlg>(&provider, &exclusions);
        ASSERT_TRUE(exclusionsDlg->Create(IDD_ADVANCED_SETTINGS_DIALOG));
    }
    ~ExclusionsFixture() override {
        if (exclusionsDlg && exclusionsDlg->m_hWnd) exclusionsDlg->DestroyWindow();
    }
    HWND Control(int id) const { return ::GetDlgItem(exclusionsDlg->m_hWnd, id); }
    Rows Detected() const { return ListRows(Control(IDC_DETECTED_CAMERAS)); }
    Rows Excluded() const { return ListRows(Control(IDC_EXCLUDED_CAMERAS)); }
    void Press(int id) {
        exclusionsDlg->SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
    }
    void Select(int list, const std::wstring& text) {
        Rows rows = ListRows(Control(list));
        auto found = std::find(rows.begin(), rows.end(), text);
        ASSERT_NE(found, rows.end()) << testing::PrintToString(text);
        ::SendMessageW(Control(list), LB_SETCURSEL, found - rows.begin(), 0);
    }

    // Two webcams of one model: same description, same name.
    FakeSource twinA{"twinA", &log, "Twin Cam", {"640x480"}};
    FakeSource twinB{"twinB", &log, "Twin Cam", {"640x480"}};
    std::unique_ptr<CAdvancedSettingsDlg> exclusionsDlg;
};

using Exclusions = ExclusionsFixture;
using Entries = std::vector<std::pair<std::string, std::string>>;

Entries EntriesOf(const std::vector<ExcludedCamera>& list) {
    Entries out;
    for (const ExcludedCamera& e : list) out.emplace_back(e.description, e.name);
    return out;
}

TEST_F(Exclusions, AddingMovesTheCameraAndItsTwinAtOnce) {
    webcams->list = {&webcam, &twinA, &twinB};
    OpenExclusions();
    EXPECT_EQ(Detected(), (Rows{L"Cam\u00E9ra", L"FK40 Camera", L"Twin Cam", L"Twin Cam"}));
    EXPECT_EQ(Excluded(), Rows{});

    Select(IDC_DETECTED_CAMERAS, L"Twin Cam");
    Press(IDC_ADD_EXCLUSION);
    EXPECT_EQ(EntriesOf(exclusions), (Entries{{"Twin Cam", "webcam"}}));
    EXPECT_EQ(Detected(), (Rows{L"Cam\u00E9ra", L"FK40 Camera"}));
    EXPECT_EQ(Excluded(), (Rows{L"Twin Cam", L"Twin Cam"}));

    Select(IDC_DETECTED_CAMERAS, L"FK40 Camera");
    Press(IDC_ADD_EXCLUSION);
    EXPECT_EQ(EntriesOf(exclusions), (Entries{{"Twin Cam", "webcam"}, {"FK40 Camera", "F40K"}}));
    EXPECT_EQ(Excluded(), (Rows{L"FK40 Camera", L"Twin Cam", L"Twin Cam"}));
    // Each row carries the object behind its own text.
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(Wide(RowData<VideoSource>(Control(IDC_EXCLUDED_CAMERAS), row)->description), Excluded()[row]);
}

TEST_F(Exclusions, APressWithoutASelectedRowChangesNothing) {
    exclusions = {{"FK40 Camera", "F40K"}};
    OpenExclusions();
    for (int button : {IDC_ADD_EXCLUSION, IDC_REMOVE_EXCLUSION}) {
        Press(button);
        EXPECT_EQ(EntriesOf(exclusions), (Entries{{"FK40 Camera", "F40K"}})) << button;
        EXPECT_EQ(Detected(), (Rows{L"Bare Cam", L"Cam\u00E9ra"}));
        EXPECT_EQ(Excluded(), (Rows{L"FK40 Camera"}));
    }
}

TEST_F(Exclusions, RemovingThroughANewObjectReadmitsBothTwins) {
    exclusions = {{"Twin Cam", "webcam"}, {"Cam\xE9ra", "webcam"}};
    // The objects excluded earlier are gone; the provider now hands out new ones for them.
    FakeSource newA{"newA", &log, "Twin Cam", {}}, newB{"newB", &log, "Twin Cam", {}};
    webcams->list = {&newA, &webcam, &newB};
    OpenExclusions();
    EXPECT_EQ(Excluded(), (Rows{L"Cam\u00E9ra", L"Twin Cam", L"Twin Cam"}));

    Select(IDC_EXCLUDED_CAMERAS, L"Twin Cam");
    Press(IDC_REMOVE_EXCLUSION);
    EXPECT_EQ(EntriesOf(exclusions), (Entries{{"Cam\xE9ra", "webcam"}}));
    EXPECT_EQ(Detected(), (Rows{L"FK40 Camera", L"Twin Cam", L"Twin Cam"}));
    EXPECT_EQ(Excluded(), (Rows{L"Cam\u00E9ra"}));
}

TEST_F(Exclusions, AnEntryNoSourceMatchesStaysAndExcludesTheCameraWhenItReturns) {
    exclusions = {{"Twin Cam", "webcam"}};
    OpenExclusions();
    EXPECT_EQ(Detected(), (Rows{L"Bare Cam", L"Cam\u00E9ra", L"FK40 Camera"}));
    EXPECT_EQ(Excluded(), Rows{});
    Select(IDC_DETECTED_CAMERAS, L"Bare Cam");
    Press(IDC_ADD_EXCLUSION);
    EXPECT_EQ(EntriesOf(exclusions), (Entries{{"Twin Cam", "webcam"}, {"Bare Cam", "webcam"}}));
    exclusionsDlg->DestroyWindow();

    webcams->list.push_back(&twinA);
    OpenExclusions();
    EXPECT_EQ(Excluded(), (Rows{L"Bare Cam", L"Twin Cam"}));
    EXPECT_EQ(Detected(), (Rows{L"Cam\u00E9ra", L"FK40 Camera"}));
}

TEST_F(Exclusions, ClearAllReadmitsEveryCameraAndOnAnEmptyListChangesNothing) {
    webcams->list = {&webcam, &twinA};
    exclusions = {{"Twin Cam", "webcam"}, {"Gone Cam", "webcam"}, {"FK40 Camera", "F40K"}};
    OpenExclusions();
    const Rows all{L"Cam\u00E9ra", L"FK40 Camera", L"Twin Cam"};
    for (int press = 0; press < 2; ++press) {
        Press(IDC_CLEAR_EXCLUSIONS);
        EXPECT_TRUE(exclusions.empty()) << press;
        EXPECT_EQ(Detected(), all) << press;
        EXPECT_EQ(Excluded(), Rows{}) << press;
    }
}

TEST_F(Exclusions, TheDetectedListsColumnIsAsWideAsTheList) {
    OpenExclusions();
    HWND list = Control(IDC_DETECTED_CAMERAS);
    RECT client, row;
    ::GetClientRect(list, &client);
    ASSERT_NE(::SendMessageW(list, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row)), LB_ERR);
    EXPECT_EQ(row.right - row.left, client.right);
}

}  // namespace

// The test-details panel of the main dialog on template 102's real sorted lists, with a session
// logged in at the stand-in cloud service.
#include <gtest/gtest.h>
#include "cloud/CendraClient.h"
#include "cloud/MetadataReader.h"
#include "res/resource.h"
#include "standins/cloud/CendraStandin.h"
#include "tests/maindialog/MainDialogFixture.h"
#include "ui/SortedListFill.h"
#include "ui/StillImage.h"
#include <filesystem>
#include <fstream>

namespace {

// Endoscopes of the cascade: two share model M1, one type has a single record; "m2" and "M2"
// differ in case only. "Endo \xFF" is no UTF-8, nor are the type, serial and model of its one
// endoscope. "Cases" holds models that differ in letter case only, or also in an accent.
const char kFixture[] = R"({
  "accounts": [{"username": "op", "password": "pw",
                "reply": {"username": "Op", "organizationCode": "O", "velmoraId": "P1"}},
               {"username": "none", "password": "pw",
                "reply": {"username": "None", "organizationCode": "O", "velmoraId": "P2"}}],
  "organisations": {
    "P1": {
      "locations": [{"location": "Main", "status": "Active"}, {"location": "Z\u00fcrich", "status": "Active"},
                    {"location": "Empty", "status": "Active"}, {"location": "Endo )" "\xFF" R"(", "status": "Active"},
                    {"location": "Cases", "status": "Active"}],
      "endoscopes": [
        {"location": "Main", "endoscope": "Flexible", "serial": "S1", "model": "M1", "status": "Active"},
        {"location": "Main", "endoscope": "Rigid", "serial": "S2", "model": "M1", "status": "Active"},
        {"location": "Main", "endoscope": "Rigid", "serial": "S3", "model": "M2", "status": "Active"},
        {"location": "Main", "endoscope": "Rigid", "serial": "S4", "model": "m2", "status": "Active"},
        {"location": "Z\u00fcrich", "endoscope": "Flexible", "serial": "Z1", "model": "ZM", "status": "Active"},
        {"location": "Endo )" "\xFF" R"(", "endoscope": "Rigid)" "\xFE" R"(", "serial": "S)" "\xFF" R"(",
         "model": "M)" "\xFF\xFF" R"(", "status": "Active"},
        {"location": "Cases", "endoscope": "Flexible", "serial": "C1", "model": "\u00e9x", "status": "Active"},
        {"location": "Cases", "endoscope": "Flexible", "serial": "C2", "model": "\u00c9X", "status": "Active"},
        {"location": "Cases", "endoscope": "Flexible", "serial": "C3", "model": "Ee", "status": "Active"},
        {"location": "Cases", "endoscope": "Flexible", "serial": "C4", "model": "\u00c9e", "status": "Active"},
        {"location": "Cases", "endoscope": "Flexible", "serial": "C5", "model": "zz9", "status": "Active"},
        {"location": "Cases", "endoscope": "Flexible", "serial": "C6", "model": "ZZ9", "status": "Active"},
        {"location": "Cases", "endoscope": "Flexible", "serial": "C7", "model": "Zz9", "status": "Active"}],
      "facilities": [{"nameFacility": "South", "status": "Active"}, {"nameFacility": "North", "status": "Active"}],
      "testers": [{"first": "Ann", "last": "Lee", "status": "Active"}]
    },
    "P2": {"locations": [], "endoscopes": [], "facilities": [], "testers": []}
  }
})";

class OnlineDlg : public TestDlg {
public:
    OnlineDlg(std::wstring profile, CendraClient* client) : TestDlg(std::move(profile), TRUE), client(client) {}
    ~OnlineDlg() override { m_client = nullptr; }  // the test's own client
    CendraClient* client;
    using CLumetraDlg::AreTestDetailsComplete;
    using CLumetraDlg::DoCaptureAction;
    using CLumetraDlg::ShownTestDetails;

protected:
    void RunLogin() override {
        m_client = client;
        SetBannerText("Welcome, Op!");
        FillAccountCombos();
    }
};

std::vector<std::wstring> Items(CComboBox& list) {
    std::vector<std::wstring> out;
    for (int i = 0; i < list.GetCount(); ++i) {
        CString t;
        list.GetLBText(i, t);
        out.push_back(t.str());
    }
    return out;
}

std::wstring Selected(CComboBox& list) {
    if (list.GetCurSel() < 0) return L"<none>";
    CString t;
    list.GetLBText(list.GetCurSel(), t);
    return t.str();
}

class Panel : public ::testing::Test {
protected:
    void SetUp() override {
        client.Login("op", "pw");
        ASSERT_TRUE(client.IsLoggedIn());
        dlg = std::make_unique<OnlineDlg>(folder.path, &client);
        dlg->now = LocalTime(2021, 5, 24, 14, 7, 0);
        dlg->m_provider = &devices.provider;
        ASSERT_TRUE(dlg->Create(IDD_LUMETRA_DIALOG));
        dlg->m_videoDisplay.Invalidate(FALSE);
        dlg->m_videoDisplay.UpdateWindow();  // a painted frame to capture
    }
    void TearDown() override {
        dlg->DestroyWindow();
        dlg.reset();
    }
    void Paint() {
        dlg->m_videoDisplay.Invalidate(FALSE);
        dlg->m_videoDisplay.UpdateWindow();
    }
    void Click(int id) {
        dlg->SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)::GetDlgItem(dlg->m_hWnd, id));
    }
    // A user's pick: the selection and its notification.
    void Pick(CComboBox& list, const wchar_t* text) {
        int index = list.FindStringExact(-1, text);
        ASSERT_GE(index, 0) << "no entry " << testing::PrintToString(std::wstring(text));
        list.SetCurSel(index);
        dlg->SendMessage(WM_COMMAND, MAKEWPARAM(list.GetDlgCtrlID(), CBN_SELCHANGE), (LPARAM)list.m_hWnd);
    }
    void Pick(CComboBox& list, int index) {
        list.SetCurSel(index);
        dlg->SendMessage(WM_COMMAND, MAKEWPARAM(list.GetDlgCtrlID(), CBN_SELCHANGE), (LPARAM)list.m_hWnd);
    }

    cendra_standin::Server server{kFixture};
    CendraClient client{server.BaseUrl()};
    TempProfile folder{L"panel"};
    FakeDevices devices;
    std::unique_ptr<OnlineDlg> dlg;
};

TEST_F(Panel, AfterTheLoginOnlyTheFacilityIsChosen) {
    EXPECT_EQ(Items(dlg->m_facilityCombo), (std::vector<std::wstring>{L"North", L"South"}));
    EXPECT_EQ(Selected(dlg->m_facilityCombo), L"North");
    EXPECT_EQ(Items(dlg->m_locationCombo),
              (std::vector<std::wstring>{L"Cases", L"Empty", L"Endo \xFFFD", L"Main", L"Z\u00FCrich"}));
    EXPECT_EQ(Items(dlg->m_operatorCombo), (std::vector<std::wstring>{L"Ann Lee"}));
    EXPECT_EQ(Items(dlg->m_testResultCombo), (std::vector<std::wstring>{L"Fail", L"Pass"}));
    for (CComboBox* list : {&dlg->m_locationCombo, &dlg->m_operatorCombo, &dlg->m_testResultCombo,
                            &dlg->m_endoscopeTypeCombo, &dlg->m_serialCombo, &dlg->m_modelCombo})
        EXPECT_EQ(list->GetCurSel(), CB_ERR);
    EXPECT_FALSE(dlg->AreTestDetailsComplete());
    EXPECT_EQ(Text(*dlg, IDC_BANNER), L"Welcome, Op!");
    for (int id : {IDC_LOGOUT, IDC_FACILITY, IDC_TEST_DATE, IDC_COMMENTS})
        EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(dlg->m_hWnd, id))) << id;
}

TEST_F(Panel, TheCascadeNarrowsAndRestores) {
    using L = std::vector<std::wstring>;
    const L allTypes{L"", L"Flexible", L"Rigid"}, allSerials{L"", L"S1", L"S2", L"S3", L"S4"}, allModels{L"", L"M1", L"M2"};
    Pick(dlg->m_locationCombo, L"Main");
    EXPECT_EQ(Items(dlg->m_endoscopeTypeCombo), allTypes);
    EXPECT_EQ(Items(dlg->m_serialCombo), allSerials);
    EXPECT_EQ(Items(dlg->m_modelCombo), allModels);  // "m2" listed once: the same ignoring case
    ASSERT_NE(dlg->m_currentLocation, nullptr);
    EXPECT_EQ(dlg->m_currentLocation->name, "Main");

    struct Step {
        const char* what;
        CComboBox CLumetraDlg::*list;
        const wchar_t* pick;  // null: the empty entry
        L types, serials, models;
        const wchar_t *type, *serial, *model;
    };
    const Step steps[] = {
        {"one-record type", &CLumetraDlg::m_endoscopeTypeCombo, L"Flexible", allTypes, {L"", L"S1"}, {L"", L"M1"},
         L"Flexible", L"S1", L"M1"},
        {"empty type restores", &CLumetraDlg::m_endoscopeTypeCombo, nullptr, allTypes, allSerials, allModels,
         L"<none>", L"<none>", L"<none>"},
        {"type of three records", &CLumetraDlg::m_endoscopeTypeCombo, L"Rigid", allTypes, {L"", L"S2", L"S3", L"S4"},
         {L"", L"M1", L"m2", L"M2"}, L"Rigid", L"<none>", L"<none>"},
        {"model shared by two", &CLumetraDlg::m_modelCombo, L"M1", {L"", L"Rigid"}, {L"", L"S1", L"S2"}, {L"", L"M1"},
         L"Rigid", L"", L"M1"},
        {"empty model restores", &CLumetraDlg::m_modelCombo, nullptr, allTypes, allSerials, allModels, L"<none>",
         L"<none>", L"<none>"},
        {"serial", &CLumetraDlg::m_serialCombo, L"S1", {L"", L"Flexible"}, allSerials, {L"", L"M1"}, L"Flexible",
         L"S1", L"M1"},
        {"empty serial restores", &CLumetraDlg::m_serialCombo, nullptr, allTypes, allSerials, allModels, L"<none>",
         L"<none>", L"<none>"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        CComboBox& list = (*dlg).*(s.list);
        if (s.pick) Pick(list, s.pick);
        else Pick(list, 0);
        EXPECT_EQ(Items(dlg->m_endoscopeTypeCombo), s.types);
        EXPECT_EQ(Items(dlg->m_serialCombo), s.serials);
        EXPECT_EQ(Items(dlg->m_modelCombo), s.models);
        EXPECT_EQ(Selected(dlg->m_endoscopeTypeCombo), s.type);
        EXPECT_EQ(Selected(dlg->m_serialCombo), s.serial);
        EXPECT_EQ(Selected(dlg->m_modelCombo), s.model);
    }

    // A location without endoscopes leaves only the empty entries.
    Pick(dlg->m_locationCombo, L"Empty");
    EXPECT_EQ(Items(dlg->m_endoscopeTypeCombo), L{L""});
    EXPECT_EQ(Items(dlg->m_serialCombo), L{L""});
    EXPECT_EQ(Items(dlg->m_modelCombo), L{L""});
    EXPECT_EQ(dlg->m_currentLocation->name, "Empty");
}

// A choice is looked up by the session's text it was listed for: bytes that are no UTF-8 show as
// U+FFFD and still find their records, down the cascade, and a still taken with them keeps the
// service's bytes in its record and its .meta. Models listed once are those the list's own exact
// search takes as the same: letter case does not count, accents do.
TEST_F(Panel, ServiceTextShowsAndLooksUpByWhatWasListed) {
    using L = std::vector<std::wstring>;
    struct Case {
        const char* what;
        const wchar_t* location;
        const char* name;  // the session's bytes
        L types, serials, models;
        const wchar_t* pick;  // then chosen in Serial: what Endoscope Type and Model # show
        const wchar_t *type, *model;
        const char *serialBytes, *modelBytes, *typeBytes;  // the session's, of the still then taken
    } const cases[] = {
        {"UTF-8", L"Z\u00FCrich", "Z\xC3\xBCrich", {L"", L"Flexible"}, {L"", L"Z1"}, {L"", L"ZM"}, L"Z1", L"Flexible",
         L"ZM", "Z1", "ZM", "Flexible"},
        {"no UTF-8", L"Endo \xFFFD", "Endo \xFF", {L"", L"Rigid\xFFFD"}, {L"", L"S\xFFFD"}, {L"", L"M\xFFFD\xFFFD"},
         L"S\xFFFD", L"Rigid\xFFFD", L"M\xFFFD\xFFFD", "S\xFF", "M\xFF\xFF", "Rigid\xFE"},
        {"models by case", L"Cases", "Cases", {L"", L"Flexible"}, {L"", L"C1", L"C2", L"C3", L"C4", L"C5", L"C6", L"C7"},
         {L"", L"Ee", L"\u00C9e", L"\u00E9x", L"zz9"}, L"C6", L"Flexible", L"ZZ9", "C6", "ZZ9", "Flexible"},
    };
    dlg->GetDlgItem(IDC_FILE_PREFIX)->SetWindowText(L"SiteA");
    Pick(dlg->m_operatorCombo, L"Ann Lee");
    Pick(dlg->m_testResultCombo, L"Pass");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pick(dlg->m_locationCombo, c.location);
        EXPECT_EQ(Selected(dlg->m_locationCombo), c.location);
        ASSERT_NE(dlg->m_currentLocation, nullptr);
        EXPECT_EQ(dlg->m_currentLocation->name, c.name);
        EXPECT_EQ(Items(dlg->m_endoscopeTypeCombo), c.types);
        EXPECT_EQ(Items(dlg->m_serialCombo), c.serials);
        EXPECT_EQ(Items(dlg->m_modelCombo), c.models);
        Pick(dlg->m_serialCombo, c.pick);
        EXPECT_EQ(Selected(dlg->m_endoscopeTypeCombo), c.type);
        EXPECT_EQ(Selected(dlg->m_modelCombo), c.model);
        // A still now: the shown texts stand for the session's bytes, which its record keeps.
        dlg->m_metadataCache.clear();
        ++dlg->now;  // a name of its own
        ASSERT_TRUE(dlg->CaptureImage(FALSE));
        ASSERT_EQ(dlg->m_metadataCache.size(), 1u);
        const auto& [bmp, cached] = *dlg->m_metadataCache.begin();
        const std::wstring name = bmp.substr(bmp.rfind(L'\\') + 1);
        const std::string serviceLines = std::string("North\r\n") + c.name + "\r\nAnn Lee\r\n" + c.serialBytes +
                                         "\r\n" + c.modelBytes + "\r\n" + c.typeBytes + "\r\n";
        const std::string meta = ReadBytes(dlg->m_metadataFolder + name.substr(0, name.size() - 4) + L".meta");
        EXPECT_EQ(meta.substr(0, serviceLines.size()), serviceLines);
        for (const ImageMetadata& record : {cached, ReadMetaFile(dlg->m_metadataFolder, name)}) {
            EXPECT_EQ(WideToUtf8(record.location), c.name);
            EXPECT_EQ(WideToUtf8(record.serial), c.serialBytes);
            EXPECT_EQ(WideToUtf8(record.model), c.modelBytes);
            EXPECT_EQ(WideToUtf8(record.endoscopeType), c.typeBytes);
        }
        // The model brings its endoscope back; the type its serial and model.
        Pick(dlg->m_modelCombo, c.model);
        EXPECT_EQ(Selected(dlg->m_serialCombo), c.pick);
        Pick(dlg->m_endoscopeTypeCombo, 0);
        Pick(dlg->m_endoscopeTypeCombo, c.type);
        if (c.serials.size() == 2) {
            EXPECT_EQ(Selected(dlg->m_serialCombo), c.pick);
            EXPECT_EQ(Selected(dlg->m_modelCombo), c.model);
        }
    }
}

TEST_F(Panel, TheBannerEmptiesEveryListAndBothEdits) {
    Pick(dlg->m_locationCombo, L"Main");
    Pick(dlg->m_testResultCombo, L"Pass");
    dlg->GetDlgItem(IDC_COMMENTS)->SetWindowText(L"note");
    dlg->SetBannerText("");
    for (CComboBox* list : {&dlg->m_facilityCombo, &dlg->m_locationCombo, &dlg->m_operatorCombo,
                            &dlg->m_endoscopeTypeCombo, &dlg->m_serialCombo, &dlg->m_modelCombo})
        EXPECT_EQ(list->GetCount(), 0);
    EXPECT_EQ(Items(dlg->m_testResultCombo), (std::vector<std::wstring>{L"Fail", L"Pass"}));
    EXPECT_EQ(dlg->m_testResultCombo.GetCurSel(), CB_ERR);
    EXPECT_EQ(Text(*dlg, IDC_COMMENTS), L"");
    EXPECT_EQ(Text(*dlg, IDC_BANNER), L"");
    // The cue texts the edits were given (the lists' are sent too; Wine ignores those).
    wchar_t cue[64] = {};
    ::SendMessageW(::GetDlgItem(dlg->m_hWnd, IDC_RECOMMENDED_ACTIONS), EM_GETCUEBANNER, (WPARAM)cue, 64);
    EXPECT_STREQ(cue, L"Recommended Actions");
}

TEST_F(Panel, AStillNeedsEveryListAndTakesTheShownDetails) {
    const std::wstring refusal = L"Please ensure all metadata is defined before capture.";
    dlg->GetDlgItem(IDC_FILE_PREFIX)->SetWindowText(L"SiteA");
    Pick(dlg->m_locationCombo, L"Main");
    Pick(dlg->m_serialCombo, L"S2");
    Pick(dlg->m_operatorCombo, L"Ann Lee");
    dlg->DoCaptureAction();  // no test result yet
    EXPECT_EQ(Text(*dlg, IDC_STATUS), refusal);
    EXPECT_TRUE(Files(dlg->m_imagesFolder, L"*.bmp").empty());

    Pick(dlg->m_testResultCombo, L"Pass");
    dlg->GetDlgItem(IDC_COMMENTS)->SetWindowText(L"scratch \u00E9");
    dlg->GetDlgItem(IDC_RECOMMENDED_ACTIONS)->SetWindowText(L"repair");
    ASSERT_TRUE(dlg->AreTestDetailsComplete());
    dlg->DoCaptureAction();
    std::wstring bmp = dlg->m_imagesFolder + L"\\20210524140700_SiteA_0.bmp";
    EXPECT_TRUE(Exists(bmp));
    ASSERT_EQ(dlg->m_metadataCache.count(bmp), 1u);
    const ImageMetadata& m = dlg->m_metadataCache[bmp];
    EXPECT_EQ(m.facility, L"North");
    EXPECT_EQ(m.location, L"Main");
    EXPECT_EQ(m.serial, L"S2");
    EXPECT_EQ(m.model, L"M1");
    EXPECT_EQ(m.endoscopeType, L"Rigid");
    EXPECT_EQ(m.operatorName, L"Ann Lee");
    EXPECT_EQ(m.recommendedActions, L"repair");
    EXPECT_EQ(m.testResult, L"Pass");
    EXPECT_EQ(m.comments, L"scratch \u00E9");
    EXPECT_EQ(m.testDate, L"05/24/2021");
    EXPECT_EQ(m.testTime, L"14:07");
    std::ifstream meta(std::filesystem::path(dlg->m_metadataFolder + L"20210524140700_SiteA_0.meta"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(meta)), {});
    EXPECT_EQ(bytes, "North\r\nMain\r\nAnn Lee\r\nS2\r\nM1\r\nRigid\r\nrepair\r\nscratch \xC3\xA9\r\nPass\r\n"
                     "05/24/2021\r\n14:07\r\n");
}

// The service may list a facility of any length. A still's details are written to its .meta and
// read back as they were, or the still is refused as one that cannot be written, with nothing
// left: the program never writes a record that it would read back as none.
TEST_F(Panel, AStillWhoseDetailsAreTooLargeForItsMetaIsRefusedWithNothingLeft) {
    dlg->GetDlgItem(IDC_FILE_PREFIX)->SetWindowText(L"SiteA");
    Pick(dlg->m_locationCombo, L"Main");
    Pick(dlg->m_serialCombo, L"S2");
    Pick(dlg->m_operatorCombo, L"Ann Lee");
    Pick(dlg->m_testResultCombo, L"Pass");
    ImageMetadata shown = dlg->ShownTestDetails();
    shown.facility.clear();
    std::string text;
    ASSERT_TRUE(MetaFileText(shown, text));
    const long long others = static_cast<long long>(text.size());  // all but the facility
    // The record's size: just below the bound, at it, just above it.
    for (const long long bytes : {kMaxMetaFileBytes - 1, kMaxMetaFileBytes, kMaxMetaFileBytes + 1}) {
        const bool written = bytes <= kMaxMetaFileBytes;
        for (bool reference : {false, true}) {
            SCOPED_TRACE(std::to_string(bytes) + (reference ? " bytes, reference" : " bytes, still"));
            dlg->boxes.clear();
            dlg->m_metadataCache.clear();
            dlg->m_referenceDisplay.SetImage(nullptr, 0, 0);
            ++dlg->now;  // a name of its own
            const std::wstring facility(static_cast<size_t>(bytes - others), L'F');
            const int entry = dlg->m_facilityCombo.AddString(facility.c_str());
            dlg->m_facilityCombo.SetCurSel(entry);
            const std::wstring folder = reference ? dlg->m_referenceFolder : dlg->m_imagesFolder;
            const size_t stillsBefore = Files(folder, L"*.bmp").size();
            const size_t metasBefore = Files(dlg->m_metadataFolder, L"*.meta").size();

            EXPECT_EQ(dlg->CaptureImage(reference), written);
            const std::vector<std::wstring> metas = Files(dlg->m_metadataFolder, L"*.meta");
            if (written) {
                EXPECT_TRUE(dlg->boxes.empty());
                ASSERT_EQ(metas.size(), metasBefore + 1);
                ASSERT_EQ(dlg->m_metadataCache.size(), 1u);
                const std::wstring bmp = dlg->m_metadataCache.begin()->first;
                EXPECT_TRUE(Exists(bmp));
                const std::wstring name = bmp.substr(bmp.rfind(L'\\') + 1);
                const std::wstring meta = dlg->m_metadataFolder + name.substr(0, name.size() - 4) + L".meta";
                EXPECT_EQ(static_cast<long long>(ReadBytes(meta).size()), bytes);
                // Not EXPECT_EQ: a megabyte-long member would flood the log.
                EXPECT_TRUE(ReadMetaFile(dlg->m_metadataFolder, name).facility == facility) << "read back differs";
                EXPECT_EQ(ReadMetaFile(dlg->m_metadataFolder, name).testTime, L"14:07");
                EXPECT_TRUE(dlg->m_metadataCache.begin()->second.facility == facility);
                EXPECT_EQ(dlg->m_referenceDisplay.bitmap != nullptr, reference);
            } else {
                ASSERT_EQ(dlg->boxes.size(), 1u);
                EXPECT_EQ(dlg->boxes[0].caption, L"Capture Error");
                EXPECT_EQ(dlg->boxes[0].text,
                          L"Could not capture image. Please ensure write access to destination directory.");
                EXPECT_EQ(Files(folder, L"*.bmp").size(), stillsBefore);
                EXPECT_EQ(metas.size(), metasBefore);
                EXPECT_TRUE(dlg->m_metadataCache.empty());
                EXPECT_EQ(dlg->m_referenceDisplay.bitmap, nullptr);
            }
            dlg->m_facilityCombo.DeleteString(entry);
        }
    }
}

// A sorted drop-down list of the panel's style, alone, destroyed with the object.
struct LoneList {
    LoneList() {
        list.Attach(::CreateWindowExW(0, L"ComboBox", L"", CBS_DROPDOWNLIST | CBS_SORT | CBS_HASSTRINGS | WS_VSCROLL, 0, 0,
                                      100, 200, nullptr, nullptr, nullptr, nullptr));
    }
    ~LoneList() { ::DestroyWindow(list.Detach()); }
    CComboBox list;
};

// The shared fill puts each entry where CB_ADDSTRING would, and AddOnce leaves out what
// CB_FINDSTRINGEXACT would find listed: both by the list's own comparison, not by the bytes. Each
// entry's data is its own text.
TEST(SortedListFill, ListsAsTheListsOwnComparisonDoes) {
    const std::vector<std::string> texts = {
        "beta", "Alpha", "alpha2", "\xC3\x84rger", "Arger", "a-b", "ab", "a b", "10", "9", "zeta",
        "Z\xC3\xBCrich", "Zurich", "M\xFF", "co-op", "coop", "Beta", "x\xC3\x9F", "xss", "ALPHA2", "\xC3\xA4rger"};
    for (bool once : {false, true}) {
        SCOPED_TRACE(once ? "once" : "all");
        LoneList filled, added, itemData;
        std::vector<const void*> table;
        {
            SortedListFill fill(filled.list, &table), withData(itemData.list);
            for (const std::string& text : texts) {
                if (once) {
                    fill.AddOnce(text, &text);
                    withData.AddOnce(text, &text);
                } else {
                    fill.Add(text, &text);
                    withData.Add(text, &text);
                }
            }
        }
        for (const std::string& text : texts) {
            const std::wstring wide = Utf8ToWide(text);
            if (!once || added.list.FindStringExact(-1, wide.c_str()) == CB_ERR) added.list.AddString(wide.c_str());
        }
        const std::vector<std::wstring> entries = Items(added.list);
        EXPECT_EQ(Items(filled.list), entries);
        EXPECT_EQ(Items(itemData.list), entries);
        ASSERT_EQ(table.size(), entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(Utf8ToWide(*static_cast<const std::string*>(table[i])), entries[i]) << i;
            EXPECT_EQ(EntryData(itemData.list, static_cast<int>(i)), table[i]) << i;
        }
    }
}

bool HasAttributes(const std::wstring& path, DWORD wanted) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & wanted) == wanted;
}

// An operator may move a folder away, or leave a file in its place: a still or a recording makes
// the folders it writes into again, and only where one cannot be made fails with its box. An
// online still is refused whole without its metadata folder.
TEST_F(Panel, StillsAndRecordingsMakeTheFoldersTheyWriteInto) {
    enum Change { Gone, FileInItsPlace };
    struct Case {
        const char* name;
        std::wstring folder;
        Change change;
        bool still, recording;  // written, started
    } const cases[] = {
        {"images folder gone", dlg->m_imagesFolder, Gone, true, true},
        {"metadata folder gone", dlg->m_metadataFolder, Gone, true, true},
        {"metadata folder cannot be made", dlg->m_metadataFolder, FileInItsPlace, false, true},
        {"images folder cannot be made", dlg->m_imagesFolder, FileInItsPlace, false, false},
    };
    auto change = [](const Case& c) {
        if (c.change == Gone) return RemoveTree(c.folder);
        return ReplaceFolderByFile(c.folder);
    };
    const std::wstring images = dlg->m_imagesFolder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dlg->boxes.clear();
        dlg->m_metadataCache.clear();
        ++dlg->now;  // a name of its own
        ASSERT_TRUE(change(c));
        EXPECT_EQ(dlg->CaptureImage(FALSE), c.still);
        const std::vector<std::wstring> stills = Files(images, L"*.bmp");
        if (c.still) {
            ASSERT_EQ(stills.size(), 1u);
            const std::wstring stem = stills[0].substr(0, stills[0].size() - 4);
            EXPECT_TRUE(Exists(dlg->m_metadataFolder + stem + L".meta"));
            EXPECT_EQ(dlg->m_metadataCache.size(), 1u);
            EXPECT_TRUE(HasAttributes(dlg->m_metadataFolder, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
            EXPECT_TRUE(HasAttributes(dlg->m_referenceFolder, FILE_ATTRIBUTE_DIRECTORY));
            EXPECT_TRUE(dlg->boxes.empty());
        } else {
            EXPECT_TRUE(stills.empty());
            EXPECT_TRUE(dlg->m_metadataCache.empty());
            ASSERT_EQ(dlg->boxes.size(), 1u);
            EXPECT_EQ(dlg->boxes[0].caption, L"Capture Error");
            EXPECT_EQ(dlg->boxes[0].text, L"Could not capture image. Please ensure write access to destination directory.");
        }

        dlg->boxes.clear();
        ASSERT_TRUE(change(c));
        Click(IDC_CAPTURE_VIDEO);
        EXPECT_EQ(dlg->m_recorder != nullptr, c.recording);
        for (int i = 0; i < 3 && dlg->m_recorder; ++i, Sleep(40)) Paint();  // frames for the file
        if (dlg->m_recorder) Click(IDC_CAPTURE_VIDEO);
        EXPECT_EQ(Files(images, L"*.avi").size(), c.recording ? 1u : 0u);
        if (c.recording) {
            EXPECT_TRUE(dlg->boxes.empty());
        } else {
            ExpectOneRecordingErrorBox(dlg->boxes);
        }

        // Whole, empty folders for the next row.
        RemoveTree(images);
        DeleteFileW(images.c_str());  // the file in its place
        for (const std::wstring& f : {images, dlg->m_metadataFolder, dlg->m_referenceFolder})
            CreateDirectoryW(f.c_str(), nullptr);
    }
}

TEST(PanelEmptyAccount, ListsStayEmptyAndNothingIsComplete) {
    cendra_standin::Server server{kFixture};
    CendraClient client{server.BaseUrl()};
    client.Login("none", "pw");
    TempProfile folder{L"panel_empty"};
    FakeDevices devices;
    OnlineDlg dlg(folder.path, &client);
    dlg.m_provider = &devices.provider;
    ASSERT_TRUE(dlg.Create(IDD_LUMETRA_DIALOG));
    EXPECT_EQ(dlg.m_facilityCombo.GetCount(), 0);
    EXPECT_EQ(dlg.m_locationCombo.GetCount(), 0);
    EXPECT_FALSE(dlg.AreTestDetailsComplete());
    dlg.DestroyWindow();
}

}  // namespace

// The image-details dialog on a session logged in at the cloud stand-in: a capture's record shown
// and saved back byte for byte, the cascade of the four dependent lists, a location the account
// does not know, the ways out that write nothing, and saves that cannot be written.
#include "cloud/CendraClient.h"
#include "cloud/EditImageDetailsCendraDlg.h"
#include "cloud/MetadataReader.h"
#include "res/CloudFormsResource.h"
#include "standins/cloud/CendraStandin.h"
#include "tests/forms/FormsTestSupport.h"
#include <commctrl.h>

namespace {

using cendra_standin::Server;

// "Endo" beside "Endo 2", "S1" beside "S10": a text that only begins an entry is not that entry.
// Endo 2 holds the cascade's three scopes; Empty Room none.
const char kAccount[] = R"({
  "accounts": [{"username": "tech", "password": "pw",
                "reply": {"username": "tech", "organizationCode": "ORG", "velmoraId": "V2"}}],
  "organisations": {"V2": {
    "locations": [{"location": "Endo", "status": "Active"}, {"location": "Endo 2", "status": "Active"},
                  {"location": "Zürich", "status": "Active"}, {"location": "Empty Room", "status": "Active"}],
    "endoscopes": [
      {"location": "Endo", "endoscope": "Flexible", "serial": "S1", "model": "M1", "status": "Active"},
      {"location": "Endo", "endoscope": "Flexible", "serial": "S10", "model": "M10", "status": "Active"},
      {"location": "Endo", "endoscope": "Rigid", "serial": "S2", "model": "M1", "status": "Active"},
      {"location": "Endo 2", "endoscope": "Flexible", "serial": "S1", "model": "M1", "status": "Active"},
      {"location": "Endo 2", "endoscope": "Rigid", "serial": "S2", "model": "M1", "status": "Active"},
      {"location": "Endo 2", "endoscope": "Rigid", "serial": "S3", "model": "M2", "status": "Active"},
      {"location": "Zürich", "endoscope": "Flexible", "serial": "S7", "model": "M7", "status": "Active"}],
    "facilities": [{"nameFacility": "North Clinic", "status": "Active"},
                   {"nameFacility": "South Clinic", "status": "Active"}],
    "testers": [{"first": "Ann", "last": "Lee", "status": "Active"}, {"first": "Bo", "last": "Chen", "status": "Active"}]
  }}
})";

const wchar_t kImage[] = L"20210524140700_A_0.bmp";
const wchar_t kMeta[] = L"20210524140700_A_0.meta";

// As the still capture wrote it; the result typed in small letters, as no list entry is.
ImageMetadata Captured() {
    ImageMetadata m;
    m.facility = L"North Clinic";
    m.location = L"Endo";
    m.operatorName = L"Ann Lee";
    m.serial = L"S1";
    m.model = L"M1";
    m.endoscopeType = L"Flexible";
    m.comments = L"ok";
    m.testResult = L"pass";
    m.testDate = L"05/24/2021";
    m.testTime = L"14:07";
    return m;
}

std::vector<std::wstring> Fields(const ImageMetadata& m) {
    return {m.facility, m.location,           m.operatorName, m.serial,     m.model,   m.endoscopeType,
            m.recommendedActions, m.comments, m.testResult,   m.testDate,   m.testTime};
}

// A 24-bit .bmp of width x height in one colour.
std::string Bitmap(int width, int height) {
    const int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + stride * height;
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    bytes.append(static_cast<size_t>(stride * height), '\x40');
    return bytes;
}

FILETIME WriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}
bool operator==(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

struct Box {
    std::wstring text, caption;
};

class TestDetailsDlg : public CEditImageDetailsCendraDlg {
public:
    using CEditImageDetailsCendraDlg::CEditImageDetailsCendraDlg;
    std::vector<Box> boxes;

protected:
    int ShowMessage(const wchar_t* text, const wchar_t* caption, UINT) override {
        boxes.push_back({text, caption});
        return IDOK;
    }
};

class ImageDetails : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.ok());
        images = root.path() + L"\\Lumetra";
        CreateDirectoryW(images.c_str(), nullptr);
        CreateDirectoryW((images + L"\\metadata").c_str(), nullptr);
        main.m_imagesFolder = images;
        main.m_metadataFolder = images + L"\\metadata\\";
        client.Login("tech", "pw");
        ASSERT_TRUE(client.IsLoggedIn());
        main.m_client = &client;
        ASSERT_TRUE(WriteBytes(images + L"\\" + kImage, Bitmap(40, 30)));
    }
    void TearDown() override { main.m_client = nullptr; }

    std::wstring MetaPath(const wchar_t* name = kMeta) const { return main.m_metadataFolder + name; }
    // The record on disk as the capture leaves it, dated in the past so a rewrite shows.
    std::string PlantMeta(const ImageMetadata& record) {
        EXPECT_TRUE(WriteMetaFile(main.m_metadataFolder, kMeta, record));
        HANDLE file = CreateFileW(MetaPath().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        const FILETIME past{0, 0x01D00000};
        SetFileTime(file, nullptr, nullptr, &past);
        CloseHandle(file);
        return ReadBytes(MetaPath());
    }
    UploadItem Item(const wchar_t* name = kImage) const { return {0, images + L"\\" + name, name}; }
    // The type that a location change selects first: the session map's first key.
    std::wstring FirstType(const char* location) const {
        return Utf8ToWide(client.session->locationsByName.at(location).endoscopesByType.begin()->first);
    }

    TempFolder root;
    std::wstring images;
    Server server{kAccount};
    CendraClient client{server.BaseUrl()};
    TestMainDlg main{root.path()};
};

TEST_F(ImageDetails, ACaptureMadeRecordSavedUnchangedRewritesItsMetaByteForByte) {
    const std::string before = PlantMeta(Captured());
    const FILETIME planted = WriteTime(MetaPath());
    TestDetailsDlg dlg(&main, Captured(), Item());
    const INT_PTR result = RunModal(dlg, {[&] {
        HWND d = dlg.m_hWnd;
        EXPECT_EQ(WindowText(d), L"Edit Image Details");
        EXPECT_EQ(StateOf(d, IDC_DETAILS_FACILITY), (ListState{{L"North Clinic", L"South Clinic"}, L"North Clinic"}));
        EXPECT_EQ(StateOf(d, IDC_DETAILS_LOCATION),
                  (ListState{{L"Empty Room", L"Endo", L"Endo 2", L"Z\u00FCrich"}, L"Endo"}));
        EXPECT_EQ(StateOf(d, IDC_DETAILS_ENDOSCOPE_TYPE), (ListState{{L"Flexible", L"Rigid"}, L"Flexible"}));
        EXPECT_EQ(StateOf(d, IDC_DETAILS_SERIAL), (ListState{{L"S1", L"S10"}, L"S1"}));
        EXPECT_EQ(StateOf(d, IDC_DETAILS_MODEL), (ListState{{L"M1", L"M10"}, L"M1"}));
        EXPECT_EQ(StateOf(d, IDC_DETAILS_OPERATOR), (ListState{{L"Ann Lee", L"Bo Chen"}, L"Ann Lee"}));
        // No entry is "pass" but by its letters' case: the stored text is added, not "Pass" chosen.
        EXPECT_EQ(StateOf(d, IDC_DETAILS_TEST_RESULT), (ListState{{L"Fail", L"pass", L"Pass"}, L"pass"}))
            << "(sorted lists order letters without regard to case)";
        EXPECT_EQ(ItemText(d, IDC_DETAILS_COMMENTS), L"ok");
        EXPECT_EQ(ItemText(d, IDC_DETAILS_RECOMMENDED_ACTIONS), L"");
        EXPECT_EQ(ItemText(d, IDC_DETAILS_TEST_DATE), L"05/24/2021");
        EXPECT_EQ(ItemText(d, IDC_DETAILS_TEST_TIME), L"14:07");
        EXPECT_EQ(ItemText(d, IDC_DETAILS_FILE_NAME), kImage);
        for (int id : {IDC_DETAILS_FILE_NAME, IDC_DETAILS_TEST_DATE, IDC_DETAILS_TEST_TIME})
            EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(d, id))) << id;
        for (HWND child = ::GetWindow(d, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
            EXPECT_FALSE(::GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_TRANSPARENT) << ::GetDlgCtrlID(child);
        EXPECT_NE(dlg.m_preview.bitmap, nullptr);
        EXPECT_EQ(dlg.m_preview.width, 40);
        EXPECT_EQ(dlg.m_preview.height, 30);
        Press(d, IDC_DETAILS_SAVE);
    }});
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadBytes(MetaPath()), before);
    EXPECT_FALSE(WriteTime(MetaPath()) == planted) << "the file was not written again";
    EXPECT_FALSE(Exists(MetaPath() + L".tmp"));
    ASSERT_EQ(main.m_metadataCache.count(images + L"\\" + kImage), 1u);
    EXPECT_EQ(Fields(main.m_metadataCache[images + L"\\" + kImage]), Fields(Captured()));
    EXPECT_TRUE(dlg.boxes.empty());
}

TEST_F(ImageDetails, ChoicesNarrowTheDependentLists) {
    // Endo 2 holds (S1, M1, Flexible), (S2, M1, Rigid), (S3, M2, Rigid). The record's empty type
    // stays listed until a choice refills the list.
    struct Choice {
        int id;
        const wchar_t* text;
    };
    struct Case {
        std::vector<Choice> choices;
        ListState type, serial, model;
    };
    const Case cases[] = {
        {{{IDC_DETAILS_ENDOSCOPE_TYPE, L"Rigid"}},
         {{L"", L"Flexible", L"Rigid"}, L"Rigid"}, {{L"S2", L"S3"}, L"S2"}, {{L"M1", L"M2"}, L"M1"}},
        {{{IDC_DETAILS_ENDOSCOPE_TYPE, L"Flexible"}},
         {{L"", L"Flexible", L"Rigid"}, L"Flexible"}, {{L"S1"}, L"S1"}, {{L"M1"}, L"M1"}},
        // A serial the type filter listed brings its type and model.
        {{{IDC_DETAILS_ENDOSCOPE_TYPE, L"Rigid"}, {IDC_DETAILS_SERIAL, L"S3"}},
         {{L"", L"Flexible", L"Rigid"}, L"Rigid"}, {{L"S2", L"S3"}, L"S3"}, {{L"M1", L"M2"}, L"M2"}},
        // A model shared by two types lists both, the first in order selected, and its serials.
        {{{IDC_DETAILS_ENDOSCOPE_TYPE, L"Rigid"}, {IDC_DETAILS_MODEL, L"M1"}},
         {{L"Flexible", L"Rigid"}, L"Flexible"}, {{L"S1", L"S2"}, L"S1"}, {{L"M1", L"M2"}, L"M1"}},
        // Serials the model listed carry no scope: choosing one changes nothing else.
        {{{IDC_DETAILS_ENDOSCOPE_TYPE, L"Rigid"}, {IDC_DETAILS_MODEL, L"M1"}, {IDC_DETAILS_SERIAL, L"S2"}},
         {{L"Flexible", L"Rigid"}, L"Flexible"}, {{L"S1", L"S2"}, L"S2"}, {{L"M1", L"M2"}, L"M1"}},
        {{{IDC_DETAILS_ENDOSCOPE_TYPE, L"Rigid"}, {IDC_DETAILS_MODEL, L"M2"}},
         {{L"Rigid"}, L"Rigid"}, {{L"S3"}, L"S3"}, {{L"M1", L"M2"}, L"M2"}},
        {{{IDC_DETAILS_LOCATION, L"Z\u00FCrich"}},
         {{L"Flexible"}, L"Flexible"}, {{L"S7"}, L"S7"}, {{L"M7"}, L"-"}},
        {{{IDC_DETAILS_LOCATION, L"Empty Room"}}, {{}, L"-"}, {{}, L"-"}, {{L""}, L"-"}},
    };
    ImageMetadata record;
    record.location = L"Endo 2";
    for (const Case& c : cases) {
        TestDetailsDlg dlg(&main, record, Item());
        ASSERT_TRUE(dlg.Create(IDD_EDIT_IMAGE_DETAILS));
        std::string trace;
        for (const Choice& choice : c.choices) {
            trace += std::to_string(choice.id) + " " + WideToUtf8(choice.text) + "; ";
            ChooseText(dlg.m_hWnd, choice.id, choice.text);
        }
        EXPECT_EQ(StateOf(dlg.m_hWnd, IDC_DETAILS_ENDOSCOPE_TYPE), c.type) << trace;
        EXPECT_EQ(StateOf(dlg.m_hWnd, IDC_DETAILS_SERIAL), c.serial) << trace;
        EXPECT_EQ(StateOf(dlg.m_hWnd, IDC_DETAILS_MODEL), c.model) << trace;
        dlg.DestroyWindow();
    }
    EXPECT_TRUE(main.m_metadataCache.empty());
}

TEST_F(ImageDetails, TheLocationAndTheEmptyModelChoiceListTheFirstTypeOfTheLocation) {
    // What the first type brings at Endo 2; the session decides which type that is.
    const std::wstring first = FirstType("Endo 2");
    const bool flexible = first == L"Flexible";
    const ListState type{{L"Flexible", L"Rigid"}, first};
    const ListState serial = flexible ? ListState{{L"S1"}, L"S1"} : ListState{{L"S2", L"S3"}, L"S2"};
    const ListState model = flexible ? ListState{{L"M1"}, L"-"} : ListState{{L"M1", L"M2"}, L"-"};

    ImageMetadata record;
    record.location = L"Endo 2";
    TestDetailsDlg dlg(&main, record, Item());
    ASSERT_TRUE(dlg.Create(IDD_EDIT_IMAGE_DETAILS));
    HWND d = dlg.m_hWnd;
    // The stored empty texts are added and selected beside the cascade's lists.
    EXPECT_EQ(StateOf(d, IDC_DETAILS_ENDOSCOPE_TYPE), (ListState{{L"", L"Flexible", L"Rigid"}, L""}));
    ListState storedModel = model;
    storedModel.entries.insert(storedModel.entries.begin(), L"");
    storedModel.selected = L"";
    EXPECT_EQ(StateOf(d, IDC_DETAILS_MODEL), storedModel);

    ChooseText(d, IDC_DETAILS_MODEL, L"");
    EXPECT_EQ(StateOf(d, IDC_DETAILS_ENDOSCOPE_TYPE), type);
    EXPECT_EQ(StateOf(d, IDC_DETAILS_SERIAL), serial);
    EXPECT_EQ(StateOf(d, IDC_DETAILS_MODEL), model);

    ChooseText(d, IDC_DETAILS_ENDOSCOPE_TYPE, L"Rigid");
    ChooseText(d, IDC_DETAILS_LOCATION, L"Endo 2");
    EXPECT_EQ(StateOf(d, IDC_DETAILS_ENDOSCOPE_TYPE), type);
    EXPECT_EQ(StateOf(d, IDC_DETAILS_SERIAL), serial);
    EXPECT_EQ(StateOf(d, IDC_DETAILS_MODEL), model);
    dlg.DestroyWindow();
}

TEST_F(ImageDetails, ALocationTheAccountDoesNotKnowKeepsTheStoredValuesOnly) {
    ImageMetadata record = Captured();
    record.location = L"endo";  // "Endo" is listed; letter case counts
    record.testResult = L"Pass";
    TestDetailsDlg dlg(&main, record, Item());
    ASSERT_TRUE(dlg.Create(IDD_EDIT_IMAGE_DETAILS));
    HWND d = dlg.m_hWnd;
    EXPECT_EQ(StateOf(d, IDC_DETAILS_LOCATION).selected, L"endo");
    EXPECT_EQ(StateOf(d, IDC_DETAILS_LOCATION).entries.size(), 5u);
    EXPECT_EQ(StateOf(d, IDC_DETAILS_ENDOSCOPE_TYPE), (ListState{{L"Flexible"}, L"Flexible"}));
    EXPECT_EQ(StateOf(d, IDC_DETAILS_SERIAL), (ListState{{L"S1"}, L"S1"}));
    EXPECT_EQ(StateOf(d, IDC_DETAILS_MODEL), (ListState{{L"", L"M1"}, L"M1"}));
    EXPECT_EQ(StateOf(d, IDC_DETAILS_TEST_RESULT), (ListState{{L"Fail", L"Pass"}, L"Pass"}));
    EXPECT_EQ(dlg.m_currentLocation, nullptr);

    // With no location found yet, a model finds no scopes.
    ChooseText(d, IDC_DETAILS_MODEL, L"M1");
    EXPECT_EQ(StateOf(d, IDC_DETAILS_ENDOSCOPE_TYPE), (ListState{{}, L"-"}));
    EXPECT_EQ(StateOf(d, IDC_DETAILS_SERIAL), (ListState{{}, L"-"}));
    dlg.DestroyWindow();
    EXPECT_EQ(client.session->locationsByName.size(), 4u);  // look-ups never add
}

TEST_F(ImageDetails, CancelEnterEscapeAndTheCloseBoxWriteNothing) {
    struct Case {
        const char* how;
        std::function<void(HWND)> leave;
        INT_PTR result;
    };
    const Case cases[] = {
        {"Cancel", [](HWND d) { Press(d, IDC_DETAILS_CANCEL); }, 0},
        {"Enter", [](HWND d) {
             HWND comments = ::GetDlgItem(d, IDC_DETAILS_COMMENTS);
             ::SetFocus(comments);
             PostKey(VK_RETURN, comments);
         }, 0},
        {"Escape", [](HWND d) { PostKey(VK_ESCAPE, d); }, IDCANCEL},
        {"close box", [](HWND d) { ::PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
    };
    const std::string before = PlantMeta(Captured());
    const FILETIME planted = WriteTime(MetaPath());
    for (const Case& c : cases) {
        TestDetailsDlg dlg(&main, Captured(), Item());
        const INT_PTR result = RunModal(dlg, {
            [&] {
                ::SetDlgItemTextW(dlg.m_hWnd, IDC_DETAILS_COMMENTS, L"changed");
                ChooseText(dlg.m_hWnd, IDC_DETAILS_TEST_RESULT, L"Fail");
            },
            [&] { c.leave(dlg.m_hWnd); },
        });
        EXPECT_EQ(result, c.result) << c.how;
        EXPECT_EQ(ReadBytes(MetaPath()), before) << c.how;
        EXPECT_TRUE(WriteTime(MetaPath()) == planted) << c.how;
        EXPECT_TRUE(main.m_metadataCache.empty()) << c.how;
    }
}

TEST_F(ImageDetails, ASaveWritesTheShownValuesBesideTheImageStem) {
    struct Case {
        const wchar_t* image;
        const wchar_t* meta;
    };
    const Case cases[] = {{kImage, kMeta}, {L"a.b.bmp", L"a.b.meta"}, {L"noext", L"noext.meta"}};
    for (const Case& c : cases) {
        TestDetailsDlg dlg(&main, Captured(), Item(c.image));
        const INT_PTR result = RunModal(dlg, {[&] {
            ::SetDlgItemTextW(dlg.m_hWnd, IDC_DETAILS_COMMENTS, L"scratch\u00E9 on lens");
            ::SetDlgItemTextW(dlg.m_hWnd, IDC_DETAILS_RECOMMENDED_ACTIONS, L"repair");
            ChooseText(dlg.m_hWnd, IDC_DETAILS_TEST_RESULT, L"Fail");
            ChooseText(dlg.m_hWnd, IDC_DETAILS_ENDOSCOPE_TYPE, L"Rigid");
            Press(dlg.m_hWnd, IDC_DETAILS_SAVE);
        }});
        EXPECT_EQ(result, 0);
        ImageMetadata expected = Captured();
        expected.comments = L"scratch\u00E9 on lens";
        expected.recommendedActions = L"repair";
        expected.testResult = L"Fail";
        expected.endoscopeType = L"Rigid";
        expected.serial = L"S2";
        expected.model = L"M1";
        EXPECT_EQ(Fields(ReadMetaFile(main.m_metadataFolder, c.image)), Fields(expected)) << WideToUtf8(c.image);
        EXPECT_EQ(ReadBytes(MetaPath(c.meta)).substr(0, 14), "North Clinic\r\n") << WideToUtf8(c.meta);
        EXPECT_EQ(Fields(main.m_metadataCache[images + L"\\" + c.image]), Fields(expected));
    }
    EXPECT_EQ(main.m_metadataCache.size(), 3u);
}

TEST_F(ImageDetails, ASaveThatCannotBeWrittenKeepsTheOldFileAndTheDialog) {
    struct Case {
        const char* how;
        std::function<HANDLE(const std::wstring& meta)> block;  // returns a handle to close after, or null
    };
    const Case cases[] = {
        // Nobody may write or replace a file held open without sharing.
        {"file held open", [](const std::wstring& meta) {
             return CreateFileW(meta.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
         }},
        // The temporary's place is taken by a folder.
        {"temporary blocked", [](const std::wstring& meta) -> HANDLE {
             CreateDirectoryW((meta + L".tmp").c_str(), nullptr);
             return nullptr;
         }},
    };
    for (const Case& c : cases) {
        const std::string before = PlantMeta(Captured());
        const HANDLE held = c.block(MetaPath());
        TestDetailsDlg dlg(&main, Captured(), Item());
        const INT_PTR result = RunModal(dlg, {
            [&] {
                ::SetDlgItemTextW(dlg.m_hWnd, IDC_DETAILS_COMMENTS, L"changed");
                Press(dlg.m_hWnd, IDC_DETAILS_SAVE);
            },
            [&] {
                ASSERT_EQ(dlg.boxes.size(), 1u) << c.how;
                EXPECT_EQ(dlg.boxes[0].text, L"The image details could not be saved.");
                EXPECT_EQ(dlg.boxes[0].caption, L"Save Error");
                EXPECT_TRUE(::IsWindowVisible(dlg.m_hWnd)) << c.how;
                Press(dlg.m_hWnd, IDC_DETAILS_CANCEL);
            },
        });
        if (held && held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(result, 0) << c.how;
        EXPECT_EQ(ReadBytes(MetaPath()), before) << c.how;
        EXPECT_TRUE(main.m_metadataCache.empty()) << c.how;
        const DWORD temp = GetFileAttributesW((MetaPath() + L".tmp").c_str());
        EXPECT_TRUE(temp == INVALID_FILE_ATTRIBUTES || (temp & FILE_ATTRIBUTE_DIRECTORY)) << c.how << ": temporary left";
        RemoveDirectoryW((MetaPath() + L".tmp").c_str());
    }
}

// Details that a .meta cannot hold are refused as a save that cannot be written: the old record
// stays whole, and the program never writes one that it would read back as none.
TEST_F(ImageDetails, ASaveAroundTheMetaBoundIsReadBackWholeOrRefusedWithTheOldFileKept) {
    ImageMetadata others = Captured();
    others.comments.clear();
    std::string text;
    ASSERT_TRUE(MetaFileText(others, text));
    // The record's size: just below the bound, at it, just above it.
    for (const long long bytes : {kMaxMetaFileBytes - 1, kMaxMetaFileBytes, kMaxMetaFileBytes + 1}) {
        const bool written = bytes <= kMaxMetaFileBytes;
        SCOPED_TRACE(std::to_string(bytes) + " bytes");
        main.m_metadataCache.clear();
        const std::string before = PlantMeta(Captured());
        const std::wstring comments(static_cast<size_t>(bytes) - text.size(), L'c');
        TestDetailsDlg dlg(&main, Captured(), Item());
        std::vector<std::function<void()>> steps = {[&] {
            ::SetDlgItemTextW(dlg.m_hWnd, IDC_DETAILS_COMMENTS, comments.c_str());
            Press(dlg.m_hWnd, IDC_DETAILS_SAVE);
        }};
        if (!written) {
            steps.push_back([&] {
                ASSERT_EQ(dlg.boxes.size(), 1u);
                EXPECT_EQ(dlg.boxes[0].text, L"The image details could not be saved.");
                EXPECT_EQ(dlg.boxes[0].caption, L"Save Error");
                EXPECT_TRUE(::IsWindowVisible(dlg.m_hWnd));
                Press(dlg.m_hWnd, IDC_DETAILS_CANCEL);
            });
        }
        const INT_PTR result = RunModal(dlg, steps);
        EXPECT_EQ(result, 0);
        EXPECT_FALSE(Exists(MetaPath() + L".tmp"));
        const std::string after = ReadBytes(MetaPath());
        if (written) {
            EXPECT_TRUE(dlg.boxes.empty());
            EXPECT_EQ(static_cast<long long>(after.size()), bytes);
            // Not EXPECT_EQ: a megabyte-long member would flood the log.
            const ImageMetadata back = ReadMetaFile(main.m_metadataFolder, kImage);
            EXPECT_TRUE(back.comments == comments) << "read back differs";
            EXPECT_EQ(back.testTime, L"14:07");
            EXPECT_EQ(main.m_metadataCache.count(images + L"\\" + kImage), 1u);
        } else {
            EXPECT_EQ(after, before);
            EXPECT_TRUE(main.m_metadataCache.empty());
        }
    }
}

// A location, type, serial and model whose bytes are no UTF-8: listed with U+FFFD, found by what
// was listed, and saved as the service's bytes.
const char kNoUtf8Account[] = R"({
  "accounts": [{"username": "tech", "password": "pw",
                "reply": {"username": "tech", "organizationCode": "ORG", "velmoraId": "V3"}}],
  "organisations": {"V3": {
    "locations": [{"location": "Endo )" "\xFF" R"(", "status": "Active"}],
    "endoscopes": [{"location": "Endo )" "\xFF" R"(", "endoscope": "Rigid)" "\xFE" R"(", "serial": "S)" "\xFF" R"(",
                    "model": "M)" "\xFF" R"(", "status": "Active"}]
  }}
})";

// The first six lines of a .meta: facility, location, operator, serial, model, endoscope type.
std::vector<std::string> ServiceLines(const std::string& meta) {
    std::vector<std::string> lines;
    for (size_t start = 0; lines.size() < 6;) {
        const size_t end = meta.find("\r\n", start);
        if (end == std::string::npos) break;
        lines.push_back(meta.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

TEST_F(ImageDetails, ANameThatIsNoUtf8FindsItsEndoscopes) {
    Server service{kNoUtf8Account};
    CendraClient account{service.BaseUrl()};
    account.Login("tech", "pw");
    ASSERT_TRUE(account.IsLoggedIn());
    main.m_client = &account;
    struct Choice {
        int id;
        const wchar_t* text;
    };
    // What a still captured with the account's one endoscope stores: the service's bytes kept;
    // facility and operator the account does not list.
    ImageMetadata captured;
    captured.facility = L"North \xDCE9";
    captured.operatorName = L"Ann \xDCFF";
    captured.endoscopeType = L"Rigid\xDCFE";
    captured.serial = L"S\xDCFF";
    captured.model = L"M\xDCFF";
    ImageMetadata unknownSerial = captured;
    unknownSerial.serial = L"X\xDC80";
    struct Case {
        const char* what;
        ImageMetadata record;  // its location set below
        std::vector<Choice> choices;
        ListState type, serial, model;
        std::vector<std::string> saved;  // the .meta's first six lines after Save
    };
    const Case cases[] = {
        {"as opened", {}, {}, {{L"", L"Rigid\xFFFD"}, L""}, {{L"", L"S\xFFFD"}, L""}, {{L"", L"M\xFFFD"}, L""},
         {"", "Endo \xFF", "", "", "", ""}},
        {"type", {}, {{IDC_DETAILS_ENDOSCOPE_TYPE, L"Rigid\xFFFD"}},
         {{L"", L"Rigid\xFFFD"}, L"Rigid\xFFFD"}, {{L"S\xFFFD"}, L"S\xFFFD"}, {{L"M\xFFFD"}, L"M\xFFFD"},
         {"", "Endo \xFF", "", "S\xFF", "M\xFF", "Rigid\xFE"}},
        {"model", {}, {{IDC_DETAILS_MODEL, L"M\xFFFD"}},
         {{L"Rigid\xFFFD"}, L"Rigid\xFFFD"}, {{L"S\xFFFD"}, L"S\xFFFD"}, {{L"", L"M\xFFFD"}, L"M\xFFFD"},
         {"", "Endo \xFF", "", "S\xFF", "M\xFF", "Rigid\xFE"}},
        {"serial", {}, {{IDC_DETAILS_SERIAL, L"S\xFFFD"}},
         {{L"", L"Rigid\xFFFD"}, L"Rigid\xFFFD"}, {{L"", L"S\xFFFD"}, L"S\xFFFD"}, {{L"", L"M\xFFFD"}, L"M\xFFFD"},
         {"", "Endo \xFF", "", "S\xFF", "M\xFF", "Rigid\xFE"}},
        {"as captured", captured, {},
         {{L"Rigid\xFFFD"}, L"Rigid\xFFFD"}, {{L"S\xFFFD"}, L"S\xFFFD"}, {{L"M\xFFFD"}, L"M\xFFFD"},
         {"North \xE9", "Endo \xFF", "Ann \xFF", "S\xFF", "M\xFF", "Rigid\xFE"}},
        {"a serial no entry stands for", unknownSerial, {},
         {{L"Rigid\xFFFD"}, L"Rigid\xFFFD"}, {{L"S\xFFFD", L"X\xFFFD"}, L"X\xFFFD"}, {{L"M\xFFFD"}, L"M\xFFFD"},
         {"North \xE9", "Endo \xFF", "Ann \xFF", "X\x80", "M\xFF", "Rigid\xFE"}},
    };
    // The location as a still stores it now, and as one stored it before the bytes were kept.
    for (const wchar_t* location : {L"Endo \xDCFF", L"Endo \xFFFD"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (location[5] == 0xFFFD ? ", stored with U+FFFD" : ""));
            ImageMetadata record = c.record;
            record.location = location;
            TestDetailsDlg dlg(&main, record, Item());
            ASSERT_TRUE(dlg.Create(IDD_EDIT_IMAGE_DETAILS));
            for (const Choice& choice : c.choices) ChooseText(dlg.m_hWnd, choice.id, choice.text);
            EXPECT_EQ(StateOf(dlg.m_hWnd, IDC_DETAILS_LOCATION), (ListState{{L"Endo \xFFFD"}, L"Endo \xFFFD"}));
            EXPECT_EQ(StateOf(dlg.m_hWnd, IDC_DETAILS_ENDOSCOPE_TYPE), c.type);
            EXPECT_EQ(StateOf(dlg.m_hWnd, IDC_DETAILS_SERIAL), c.serial);
            EXPECT_EQ(StateOf(dlg.m_hWnd, IDC_DETAILS_MODEL), c.model);
            EXPECT_EQ(StateOf(dlg.m_hWnd, IDC_DETAILS_FACILITY).selected, ShownText(record.facility));
            EXPECT_EQ(StateOf(dlg.m_hWnd, IDC_DETAILS_OPERATOR).selected, ShownText(record.operatorName));
            Press(dlg.m_hWnd, IDC_DETAILS_SAVE);
            EXPECT_EQ(ServiceLines(ReadBytes(MetaPath())), c.saved);
            const ImageMetadata& cached = main.m_metadataCache[images + L"\\" + kImage];
            EXPECT_EQ(WideToUtf8(cached.location), "Endo \xFF");
            EXPECT_EQ(WideToUtf8(cached.serial), c.saved[3]);
            dlg.DestroyWindow();
        }
    }
}

}  // namespace

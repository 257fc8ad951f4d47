// The four thumbnail-list dialogs on a real main dialog: the white look of their statics, marking
// for upload, the confirm dialog's sends against the stand-in service, the edit-images details
// and the reference picker's results.
#include "cloud/CendraClient.h"
#include "cloud/ConfirmCendraDlg.h"
#include "cloud/EditImageCendraDlg.h"
#include "cloud/MetadataReader.h"
#include "cloud/SelectReferenceImageCendraDlg.h"
#include "cloud/UploadCendraDlg.h"
#include "res/CloudListsResource.h"
#include "standins/cloud/CendraStandin.h"
#include "tests/cloud/CloudTestSupport.h"
#include "tests/lists/ListsTestSupport.h"
#include "tests/views/Pixels.h"
#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

using cendra_standin::Fault;
using cendra_standin::Request;
using cendra_standin::Server;

namespace {

// The list row of the item for file `name` (-1 when none).
int RowOf(const std::vector<UploadItem>& items, const wchar_t* name) {
    for (const UploadItem& item : items)
        if (item.fileName == name) return item.index;
    return -1;
}

struct Shown {
    int id;
    std::wstring ImageMetadata::*field;
};
const std::vector<Shown> kUploadDetails = {
    {IDC_UPLOAD_FACILITY, &ImageMetadata::facility},       {IDC_UPLOAD_LOCATION, &ImageMetadata::location},
    {IDC_UPLOAD_ENDOSCOPE_TYPE, &ImageMetadata::endoscopeType}, {IDC_UPLOAD_SERIAL, &ImageMetadata::serial},
    {IDC_UPLOAD_MODEL, &ImageMetadata::model},             {IDC_UPLOAD_OPERATOR, &ImageMetadata::operatorName},
    {IDC_UPLOAD_TEST_RESULT, &ImageMetadata::testResult},  {IDC_UPLOAD_TEST_DATE, &ImageMetadata::testDate},
    {IDC_UPLOAD_TEST_TIME, &ImageMetadata::testTime},
};
const std::vector<Shown> kEditImagesDetails = {
    {IDC_EDITIMAGES_FACILITY, &ImageMetadata::facility},
    {IDC_EDITIMAGES_LOCATION, &ImageMetadata::location},
    {IDC_EDITIMAGES_ENDOSCOPE_TYPE, &ImageMetadata::endoscopeType},
    {IDC_EDITIMAGES_SERIAL, &ImageMetadata::serial},
    {IDC_EDITIMAGES_MODEL, &ImageMetadata::model},
    {IDC_EDITIMAGES_OPERATOR, &ImageMetadata::operatorName},
    {IDC_EDITIMAGES_TEST_RESULT, &ImageMetadata::testResult},
    {IDC_EDITIMAGES_TEST_DATE, &ImageMetadata::testDate},
    {IDC_EDITIMAGES_TEST_TIME, &ImageMetadata::testTime},
};
const std::vector<Shown> kReferenceDetails = {
    {IDC_REFPICK_FACILITY, &ImageMetadata::facility},       {IDC_REFPICK_LOCATION, &ImageMetadata::location},
    {IDC_REFPICK_ENDOSCOPE_TYPE, &ImageMetadata::endoscopeType}, {IDC_REFPICK_SERIAL, &ImageMetadata::serial},
    {IDC_REFPICK_MODEL, &ImageMetadata::model},             {IDC_REFPICK_OPERATOR, &ImageMetadata::operatorName},
    {IDC_REFPICK_TEST_RESULT, &ImageMetadata::testResult},  {IDC_REFPICK_TEST_DATE, &ImageMetadata::testDate},
    {IDC_REFPICK_TEST_TIME, &ImageMetadata::testTime},
};

// Each static shows its field of the record (all empty without one).
void ExpectDetails(HWND dlg, const std::vector<Shown>& table, const ImageMetadata& record) {
    for (const Shown& s : table) EXPECT_EQ(ItemText(dlg, s.id), record.*s.field) << "control " << s.id;
}

class ListDialogs : public MainDialogFixture {
protected:
    // The images folder's stills: a.bmp with details, b.bmp without, c.bmp with.
    void WriteStills() {
        for (const wchar_t* name : {L"a.bmp", L"b.bmp", L"c.bmp"})
            ASSERT_TRUE(WriteSolidBmp(Image(name), RGB(0, 0, 255)));
        WriteMeta(L"a.bmp", NamedDetails(L"A"));
        WriteMeta(L"c.bmp", NamedDetails(L"C"));
    }
};

// ---- The white look ----

TEST_F(ListDialogs, StaticsAndOnlyStaticsStandOnWhite) {
    WriteStills();
    CUploadCendraDlg upload(main.get());
    CConfirmCendraDlg confirm({{0, Image(L"a.bmp"), L"a.bmp"}}, main.get());
    CEditImageCendraDlg edit(main.get());
    CSelectReferenceImageCendraDlg reference(main.get());
    struct Case {
        CDialog* dlg;
        UINT id;
        int statics;
    };
    for (Case c : {Case{&upload, IDD_UPLOAD_CENDRA, 10}, Case{&confirm, IDD_CONFIRM_CENDRA, 2},
                   Case{&edit, IDD_EDIT_IMAGE_CENDRA, 11}, Case{&reference, IDD_SELECT_REFERENCE, 10}}) {
        SCOPED_TRACE(c.id);
        ASSERT_TRUE(c.dlg->Create(c.id));
        // One of ours without the style: the default answer, not white.
        HWND plain = CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 10, 10, c.dlg->m_hWnd, nullptr, nullptr, nullptr);
        HDC dc = CreateCompatibleDC(nullptr);
        int statics = 0, buttons = 0, lists = 0;
        for (HWND child = GetWindow(c.dlg->m_hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t cls[64] = {};
            GetClassNameW(child, cls, 64);
            const std::wstring name = cls;
            const bool isStatic = _wcsicmp(cls, L"Static") == 0;
            const bool transparent = (GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_TRANSPARENT) != 0;
            EXPECT_EQ(transparent, isStatic && child != plain) << GetDlgCtrlID(child);
            if (_wcsicmp(cls, WC_LISTVIEWW) == 0) {
                ++lists;
                const DWORD style = GetWindowLongW(child, GWL_STYLE);
                EXPECT_EQ(style & LVS_TYPEMASK, DWORD(LVS_ICON));
                EXPECT_TRUE(style & LVS_SINGLESEL);
                EXPECT_FALSE(style & (LVS_AUTOARRANGE | LVS_SORTASCENDING | LVS_SORTDESCENDING));
                continue;
            }
            if (!isStatic) ++buttons;
            if (isStatic && child != plain) ++statics;
            SetBkColor(dc, RGB(1, 2, 3));
            const UINT msg = isStatic ? WM_CTLCOLORSTATIC : WM_CTLCOLORBTN;
            const auto brush = reinterpret_cast<HGDIOBJ>(
                SendMessageW(c.dlg->m_hWnd, msg, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child)));
            const bool white = brush == GetStockObject(WHITE_BRUSH);
            EXPECT_EQ(white, transparent) << GetDlgCtrlID(child);
            if (transparent) {
                EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255)) << GetDlgCtrlID(child);
            }
        }
        EXPECT_EQ(statics, c.statics);
        EXPECT_EQ(lists, 1);
        EXPECT_GT(buttons, 0);
        DeleteDC(dc);
        c.dlg->DestroyWindow();
    }
}

// ---- Upload: marks ----

TEST_F(ListDialogs, MarksFollowTheButtonInMarkingOrder) {
    WriteStills();
    CUploadCendraDlg dlg(main.get());
    ASSERT_TRUE(dlg.Create(IDD_UPLOAD_CENDRA));
    const HWND h = dlg.m_hWnd, list = dlg.m_list.m_hWnd;
    ASSERT_EQ(dlg.m_items.size(), 3u);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_UPLOAD_SELECTED)));
    ExpectDetails(h, kUploadDetails, ImageMetadata{});  // the template's captions are gone

    struct Step {
        const wchar_t* highlight;  // null: no row highlighted
        bool click;
        std::vector<std::wstring> marked;
        const wchar_t* button;
    };
    const wchar_t* kMark = L"Select for Upload";
    const wchar_t* kUnmark = L"Deselect for Upload";
    const Step steps[] = {
        {nullptr, true, {}, kMark},  // nothing highlighted: no mark
        {L"a.bmp", false, {}, kMark},
        {L"a.bmp", true, {L"a.bmp"}, kUnmark},
        {L"c.bmp", false, {L"a.bmp"}, kMark},
        {L"c.bmp", true, {L"a.bmp", L"c.bmp"}, kUnmark},
        {L"a.bmp", false, {L"a.bmp", L"c.bmp"}, kUnmark},  // highlighting a marked row
        {L"a.bmp", true, {L"c.bmp"}, kMark},
        {L"b.bmp", true, {L"c.bmp", L"b.bmp"}, kUnmark},
        {L"c.bmp", true, {L"b.bmp"}, kMark},
        {L"b.bmp", true, {}, kMark},
    };
    int n = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(::testing::Message() << "step " << n++);
        SelectRow(list, s.highlight ? RowOf(dlg.m_items, s.highlight) : -1);
        if (s.click) Click(h, IDC_UPLOAD_MARK);
        std::vector<std::wstring> order;
        for (const UploadItem& m : dlg.m_selectedItems) {
            order.push_back(m.fileName);
            EXPECT_EQ(dlg.m_items[m.index].fileName, m.fileName);
        }
        EXPECT_EQ(order, s.marked);
        for (const UploadItem& item : dlg.m_items) {
            const bool marked = std::find(s.marked.begin(), s.marked.end(), item.fileName) != s.marked.end();
            EXPECT_EQ(Rows(list)[item.index].text, item.fileName + (marked ? L"*" : L""));
        }
        EXPECT_EQ(ItemText(h, IDC_UPLOAD_MARK), s.button);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(h, IDC_UPLOAD_SELECTED)) != FALSE, !s.marked.empty());
    }
    dlg.DestroyWindow();
}

TEST_F(ListDialogs, UploadDetailsAreTheHighlightedFilesAndRowZerosWithoutHighlight) {
    WriteStills();
    CUploadCendraDlg dlg(main.get());
    ASSERT_TRUE(dlg.Create(IDD_UPLOAD_CENDRA));
    auto select = [&](const wchar_t* name) {
        for (const UploadItem& item : dlg.m_items)
            if (item.fileName == name) SelectRow(dlg.m_list.m_hWnd, item.index);
    };
    select(L"c.bmp");
    ExpectDetails(dlg.m_hWnd, kUploadDetails, NamedDetails(L"C"));
    select(L"b.bmp");
    ExpectDetails(dlg.m_hWnd, kUploadDetails, ImageMetadata{});
    // A .meta written while the dialog is open shows on the next change.
    WriteMeta(L"c.bmp", NamedDetails(L"C2"));
    select(L"c.bmp");
    ExpectDetails(dlg.m_hWnd, kUploadDetails, NamedDetails(L"C2"));
    SelectRow(dlg.m_list.m_hWnd, -1);
    EXPECT_EQ(dlg.m_currentItem.fileName, dlg.m_items[0].fileName);
    dlg.DestroyWindow();
}

// A .meta far too large to be a record (a file an operator left, text with no line break) shows
// as no details wherever its image is highlighted, and the program goes on. One byte over the
// bound is enough, and its text is visible: read whole, it would show as the facility.
TEST_F(ListDialogs, AMetaFileFarTooLargeShowsNoDetails) {
    WriteStills();
    const std::wstring meta = main->m_metadataFolder + L"a.meta";
    ASSERT_TRUE(WriteBytes(meta, std::string(static_cast<size_t>(kMaxMetaFileBytes) + 1, 'x')));
    auto highlight = [](auto& dlg, const wchar_t* name) {
        for (const UploadItem& item : dlg.m_items)
            if (item.fileName == name) SelectRow(dlg.m_list.m_hWnd, item.index);
        EXPECT_EQ(dlg.m_currentItem.fileName, name);
    };
    CUploadCendraDlg upload(main.get());
    ASSERT_TRUE(upload.Create(IDD_UPLOAD_CENDRA));
    highlight(upload, L"c.bmp");
    highlight(upload, L"a.bmp");
    ExpectDetails(upload.m_hWnd, kUploadDetails, ImageMetadata{});
    upload.DestroyWindow();

    ASSERT_TRUE(CopyFileW(Image(L"a.bmp").c_str(), Reference(L"a.bmp").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(Image(L"c.bmp").c_str(), Reference(L"c.bmp").c_str(), FALSE));
    main->m_online = true;  // offline the picker shows no details at all
    Scripted<CSelectReferenceImageCendraDlg> pick(main.get());
    pick.script = [&](Scripted<CSelectReferenceImageCendraDlg>& d) {
        highlight(d, L"c.bmp");
        ExpectDetails(d.m_hWnd, kReferenceDetails, NamedDetails(L"C"));
        highlight(d, L"a.bmp");
        ExpectDetails(d.m_hWnd, kReferenceDetails, ImageMetadata{});
        Click(d.m_hWnd, IDC_REFPICK_CANCEL);
    };
    pick.DoModal();
}

// ---- Upload: confirming and sending ----

struct Box {
    std::wstring text, caption;
};

class TestConfirm : public CConfirmCendraDlg {
public:
    using CConfirmCendraDlg::CConfirmCendraDlg;
    std::vector<Box>* boxes = nullptr;
    const std::function<void()>* onBox = nullptr;  // while the box is up

protected:
    int ShowMessage(const wchar_t* text, const wchar_t* caption, UINT) override {
        boxes->push_back({text, caption});
        if (onBox && *onBox) (*onBox)();
        return IDOK;
    }
};

class TestUpload : public CUploadCendraDlg {
public:
    using CUploadCendraDlg::CUploadCendraDlg;
    std::function<void(Scripted<TestConfirm>&)> confirmScript;
    std::function<void()> onBox;  // while a confirm dialog's box is up
    std::vector<Box> boxes;
    std::vector<std::vector<std::wstring>> confirmRows;  // each confirm dialog's rows as it opened

protected:
    CConfirmCendraDlg* MakeConfirmDialog(std::vector<UploadItem> items) override {
        auto* confirm = new Scripted<TestConfirm>(std::move(items), m_mainDlg);
        confirm->boxes = &boxes;
        confirm->onBox = &onBox;
        confirm->script = [this](Scripted<TestConfirm>& c) {
            std::vector<std::wstring> rows;
            for (const Row& r : Rows(c.m_list.m_hWnd)) rows.push_back(r.text);
            confirmRows.push_back(rows);
            confirmScript(c);
        };
        return confirm;
    }
};

class Sending : public ListDialogs {
protected:
    void SetUp() override {
        ListDialogs::SetUp();
        client.Login("jdoe", "secret");
        ASSERT_TRUE(client.IsLoggedIn());
        server.ClearRecord();
        main->m_online = TRUE;
        main->m_client = &client;
    }
    void TearDown() override {
        if (main) main->m_client = nullptr;
        ListDialogs::TearDown();
    }
    std::vector<Request> Posts() const {
        std::vector<Request> posts;
        for (const Request& r : server.Requests())
            if (r.method == "POST") posts.push_back(r);
        return posts;
    }
    static std::string Part(const Request& r, const char* name) {
        const auto* p = r.FindPart(name);
        return p ? (p->hasFilename ? p->filename : p->bytes) : "<none>";
    }
    // Marks the named rows in this order.
    static void Mark(CUploadCendraDlg& dlg, std::initializer_list<const wchar_t*> names) {
        for (const wchar_t* name : names)
            for (const UploadItem& item : dlg.m_items)
                if (item.fileName == name) {
                    SelectRow(dlg.m_list.m_hWnd, item.index);
                    Click(dlg.m_hWnd, IDC_UPLOAD_MARK);
                }
    }

    Server server{cendra_standin::FixtureText("test")};
    CendraClient client{server.BaseUrl()};
};

TEST_F(Sending, CancelKeepsTheMarksAndConfirmSendsInMarkingOrderWithTheDetailsOnDisk) {
    WriteStills();
    const std::string bytesA = ReadBytes(Image(L"a.bmp"));
    main->m_metadataCache[Image(L"a.bmp")] = NamedDetails(L"cached");  // never sent
    Scripted<TestUpload> dlg(main.get());
    int confirms = 0;
    dlg.confirmScript = [&](Scripted<TestConfirm>& c) {
        // The first is cancelled with Esc, the second confirmed with Enter.
        PressKey(c.m_hWnd, ++confirms == 1 ? VK_ESCAPE : VK_RETURN);
    };
    dlg.script = [&](Scripted<TestUpload>& d) {
        Mark(d, {L"b.bmp", L"a.bmp"});
        Click(d.m_hWnd, IDC_UPLOAD_SELECTED);
        EXPECT_TRUE(Posts().empty());
        ASSERT_EQ(d.m_selectedItems.size(), 2u);
        EXPECT_EQ(d.m_selectedItems[0].fileName, L"b.bmp");
        EXPECT_EQ(Rows(d.m_list.m_hWnd)[d.m_selectedItems[1].index].text, L"a.bmp*");
        EXPECT_EQ(ItemText(main->m_hWnd, IDC_NOTICE), L"");
        WriteMeta(L"a.bmp", NamedDetails(L"A2"));  // rewritten after marking: sent as it is now
        Click(d.m_hWnd, IDC_UPLOAD_SELECTED);
    };
    EXPECT_EQ(dlg.DoModal(), 0);
    ASSERT_EQ(confirms, 2);
    for (const auto& rows : dlg.confirmRows) EXPECT_EQ(rows, (std::vector<std::wstring>{L"a.bmp", L"b.bmp"}));
    const std::vector<Request> posts = Posts();
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(Part(posts[0], "Image"), "b.bmp");
    EXPECT_EQ(Part(posts[1], "Image"), "a.bmp");
    for (const char* name : {"FName", "Location", "Serial", "Result", "Comments"}) EXPECT_EQ(Part(posts[0], name), "");
    EXPECT_EQ(Part(posts[1], "FName"), "A2 facility");
    EXPECT_EQ(Part(posts[1], "Comments"), "A2 comments");
    EXPECT_TRUE(posts[1].FindPart("Image")->bytes == bytesA);
    EXPECT_TRUE(dlg.boxes.empty());
    EXPECT_EQ(ItemText(main->m_hWnd, IDC_NOTICE), L"Uploading to cloud...");
    EXPECT_EQ(ReadBytes(Image(L"a.bmp")), bytesA);
    EXPECT_TRUE(Exists(Image(L"b.bmp")));
}

// Every file under folder (relative path -> bytes).
std::map<std::wstring, std::string> FolderBytes(const std::wstring& folder, const std::wstring& prefix = L"") {
    std::map<std::wstring, std::string> files;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            files.merge(FolderBytes(folder + L"\\" + name, prefix + name + L"\\"));
        else
            files[prefix + name] = ReadBytes(folder + L"\\" + name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return files;
}

// A batch of three marked c, a, b against a service that fails or stalls.
struct BatchCase {
    const char* name;
    std::function<void(Server&)> faults;
    std::vector<std::string> posted;  // images that reached the service, in order
    std::wstring box;                 // the "Upload Error" text
    const char* limit = nullptr;      // the trace's words for the limit that ended it, when the row names it
};

// The trace line of the reply window, 3 s under ShortTimeouts.
constexpr const char* kReplyWindow = "The reply did not end within 3000 ms after the request was sent";

const BatchCase kBatches[] = {
    {"AServerErrorOnTheFirstStillSendsTheOthers",
     [](Server& s) { s.AddFault(Fault::Status("/v1/publish/insert", 500, "{\"error\":\"down\"}", 1)); },
     {"c.bmp", "a.bmp", "b.bmp"},
     L"1 of 3 images could not be uploaded:\r\n\r\nc.bmp\r\n"},
    {"TwoServerErrorsAreListedInMarkingOrder",
     [](Server& s) {
         s.AddFault(Fault::Status("/v1/publish/insert", 500, "{\"error\":\"down\"}", 1));
         s.AddFault(Fault::Status("/v1/publish/insert", 503, "{\"error\":\"busy\"}", 3));
     },
     {"c.bmp", "a.bmp", "b.bmp"},
     L"2 of 3 images could not be uploaded:\r\n\r\nc.bmp\r\nb.bmp\r\n"},
    // A transport failure that is no time-out.
    {"AConnectionDroppedOnTheFirstStillSendsTheOthers",
     [](Server& s) { s.AddFault(Fault::CloseAfter("/v1/publish/insert", 3000, 1)); },
     {"c.bmp", "a.bmp", "b.bmp"},
     L"1 of 3 images could not be uploaded:\r\n\r\nc.bmp\r\n"},
    // Every insert accepted and never answered: the window is held once, not once per image.
    {"AStalledServiceEndsTheBatchAtTheFirstImage",
     [](Server& s) { s.AddFault(Fault::Hang("/v1/publish/insert", 0)); },
     {"c.bmp"},
     L"3 of 3 images could not be uploaded:\r\n\r\nc.bmp\r\na.bmp\r\nb.bmp\r\n"},
    {"AStallOnTheSecondLeavesTheThirdUntried",
     [](Server& s) { s.AddFault(Fault::Hang("/v1/publish/insert", 2)); },
     {"c.bmp", "a.bmp"},
     L"2 of 3 images could not be uploaded:\r\n\r\na.bmp\r\nb.bmp\r\n"},
    // Every insert answered 200 with a body of a byte each half second, 10 s in all: no better
    // than a stall.
    {"ADrippingServiceEndsTheBatchAtTheFirstImage",
     [](Server& s) { s.AddFault(Fault::Slow("/v1/publish/insert", std::string(20, ' '), 500, 0)); },
     {"c.bmp"},
     L"3 of 3 images could not be uploaded:\r\n\r\nc.bmp\r\na.bmp\r\nb.bmp\r\n"},
    {"ADripOnTheSecondLeavesTheThirdUntried",
     [](Server& s) { s.AddFault(Fault::Slow("/v1/publish/insert", std::string(20, ' '), 500, 2)); },
     {"c.bmp", "a.bmp"},
     L"2 of 3 images could not be uploaded:\r\n\r\na.bmp\r\nb.bmp\r\n"},
    // Every insert answered 200 with a body that never ends, at full speed: its reply has one
    // window once the request is sent, as a stall has, rather than the total limit of the image
    // (connect and window, 13 s here).
    {"AnEndlessReplyEndsTheBatchAtTheFirstImage",
     [](Server& s) { s.AddFault(Fault::Endless("/v1/publish/insert", 0)); },
     {"c.bmp"},
     L"3 of 3 images could not be uploaded:\r\n\r\nc.bmp\r\na.bmp\r\nb.bmp\r\n",
     kReplyWindow},
    {"AnEndlessReplyOnTheSecondLeavesTheThirdUntried",
     [](Server& s) { s.AddFault(Fault::Endless("/v1/publish/insert", 2)); },
     {"c.bmp", "a.bmp"},
     L"2 of 3 images could not be uploaded:\r\n\r\na.bmp\r\nb.bmp\r\n",
     kReplyWindow},
    // 48 KiB every third of the window (every 20 s of 60), without end: never below the floor for a
    // window, and no better than a stall.
    {"ReplyBurstsAboveTheFloorEndTheBatchAtTheFirstImage",
     [](Server& s) { s.AddFault(Fault::Bursts("/v1/publish/insert", 48 * 1024, 1000, 0)); },
     {"c.bmp"},
     L"3 of 3 images could not be uploaded:\r\n\r\nc.bmp\r\na.bmp\r\nb.bmp\r\n",
     kReplyWindow},
    {"ReplyBurstsOnTheSecondLeaveTheThirdUntried",
     [](Server& s) { s.AddFault(Fault::Bursts("/v1/publish/insert", 48 * 1024, 1000, 2)); },
     {"c.bmp", "a.bmp"},
     L"2 of 3 images could not be uploaded:\r\n\r\na.bmp\r\nb.bmp\r\n",
     kReplyWindow},
};

class Batch : public Sending, public ::testing::WithParamInterface<BatchCase> {};

TEST_P(Batch, ImagesNotUploadedAreListedAndNothingLocalChanges) {
    const BatchCase& c = GetParam();
    WriteStills();
    const auto before = FolderBytes(Images());
    c.faults(server);
    ShortTimeouts limits;  // a stall, a drip or an endless reply fails after about 3 s instead of a minute
    Scripted<TestUpload> dlg(main.get());
    dlg.confirmScript = [](Scripted<TestConfirm>& confirm) { Click(confirm.m_hWnd, IDOK); };
    dlg.script = [&](Scripted<TestUpload>& d) {
        Mark(d, {L"c.bmp", L"a.bmp", L"b.bmp"});
        Click(d.m_hWnd, IDC_UPLOAD_SELECTED);
    };
    std::string trace;
    {
        StreamCapture err(2);  // the library's trace; the test's own messages go to stdout
        EXPECT_EQ(dlg.DoModal(), 0);  // closes all the same
        trace = err.Text();
    }
    if (c.limit) {
        EXPECT_NE(trace.find(c.limit), std::string::npos) << trace;
    }
    std::vector<std::string> posted;
    for (const Request& post : Posts()) posted.push_back(Part(post, "Image"));
    EXPECT_EQ(posted, c.posted);
    ASSERT_EQ(dlg.boxes.size(), 1u);
    EXPECT_EQ(dlg.boxes[0].caption, L"Upload Error");
    EXPECT_EQ(dlg.boxes[0].text, c.box);
    EXPECT_EQ(ItemText(main->m_hWnd, IDC_NOTICE), L"");
    ASSERT_EQ(dlg.m_selectedItems.size(), 3u);
    EXPECT_EQ(dlg.m_selectedItems[0].fileName, L"c.bmp");
    EXPECT_EQ(dlg.m_selectedItems[2].fileName, L"b.bmp");
    EXPECT_TRUE(FolderBytes(Images()) == before);
}

INSTANTIATE_TEST_SUITE_P(Faults, Batch, ::testing::ValuesIn(kBatches),
                         [](const auto& info) { return std::string(info.param.name); });

// The fixture's main dialog, but a close records its exit code instead of ending the process.
class StayingMainDlg : public TestMainDlg {
public:
    using TestMainDlg::TestMainDlg;
    std::vector<int> exits;

protected:
    void EndProcess(int exitCode) override { exits.push_back(exitCode); }
};

// The window is held while an upload waits; a close or a session end posted meanwhile takes effect
// once that upload has failed, as the "Upload Error" box runs the queued messages: a stall and a
// drip alike.
TEST_F(Sending, ACloseOrASessionEndDuringAStalledOrDrippingUploadTakesEffectAtTheBox) {
    const struct {
        const char* name;
        Fault fault;
        UINT message;
        WPARAM w;
        std::vector<int> exits;  // a session end leaves the ending to the system
    } cases[] = {
        {"stall, close", Fault::Hang("/v1/publish/insert", 0), WM_CLOSE, 0, {0}},
        {"drip, close", Fault::Slow("/v1/publish/insert", std::string(20, ' '), 500, 0), WM_CLOSE, 0, {0}},
        {"drip, session end", Fault::Slow("/v1/publish/insert", std::string(20, ' '), 500, 0), WM_ENDSESSION, TRUE,
         {}},
    };
    WriteStills();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        main->m_client = nullptr;
        main->DestroyWindow();
        auto* staying = new StayingMainDlg(temp.path());
        main.reset(staying);
        main->m_provider = &provider;
        ASSERT_TRUE(main->Create(IDD_LUMETRA_DIALOG));
        main->m_online = TRUE;
        main->m_client = &client;
        server.ClearFaults();
        server.ClearRecord();
        server.AddFault(c.fault);
        ShortTimeouts limits;
        const HWND mainWindow = main->m_hWnd;
        std::thread closer([&] {
            if (server.WaitForRequests(1, 30000)) PostMessageW(mainWindow, c.message, c.w, 0);
        });
        Scripted<TestUpload> dlg(main.get());
        dlg.confirmScript = [](Scripted<TestConfirm>& confirm) { Click(confirm.m_hWnd, IDOK); };
        std::vector<int> exitsAtBox;
        bool closedAtBox = false;
        dlg.onBox = [&] {
            MSG m;  // as the box's own message loop does
            while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
            exitsAtBox = staying->exits;
            closedAtBox = staying->m_devicesClosed;
        };
        const auto start = std::chrono::steady_clock::now();
        dlg.script = [&](Scripted<TestUpload>& d) {
            Mark(d, {L"c.bmp", L"a.bmp", L"b.bmp"});
            Click(d.m_hWnd, IDC_UPLOAD_SELECTED);
        };
        dlg.DoModal();
        closer.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15)) << "the window was held";
        EXPECT_EQ(Posts().size(), 1u);
        ASSERT_EQ(dlg.boxes.size(), 1u);
        EXPECT_EQ(dlg.boxes[0].text, L"3 of 3 images could not be uploaded:\r\n\r\nc.bmp\r\na.bmp\r\nb.bmp\r\n");
        EXPECT_TRUE(closedAtBox) << "the cameras were not let go at the box";
        EXPECT_EQ(exitsAtBox, c.exits) << "the close did not end the program at the box";
        EXPECT_EQ(staying->exits, c.exits);
    }
}

// ---- Edit images ----

class TestEditImages : public CEditImageCendraDlg {
public:
    using CEditImageCendraDlg::CEditImageCendraDlg;
    std::function<void(const ImageMetadata&, const UploadItem&)> edit;
    int edits = 0;

protected:
    void EditDetails(const ImageMetadata& metadata, const UploadItem& item) override {
        ++edits;
        if (edit) edit(metadata, item);
    }
};

TEST_F(ListDialogs, EditImagesShowsTheSelectedFilesDetailsAndRereadsThemAfterAnEdit) {
    WriteStills();
    TestEditImages dlg(main.get());
    ASSERT_TRUE(dlg.Create(IDD_EDIT_IMAGE_CENDRA));
    const HWND h = dlg.m_hWnd, list = dlg.m_list.m_hWnd;
    ASSERT_EQ(dlg.m_items.size(), 3u);
    // No row shown yet: nothing to edit.
    Click(h, IDC_EDITIMAGES_DETAILS);
    EXPECT_EQ(dlg.edits, 0);

    SelectRow(list, RowOf(dlg.m_items, L"a.bmp"));
    EXPECT_EQ(dlg.m_selectedIndex, RowOf(dlg.m_items, L"a.bmp"));
    ExpectDetails(h, kEditImagesDetails, NamedDetails(L"A"));
    EXPECT_EQ(ItemText(h, IDC_EDITIMAGES_SPARE), L"");

    // Saved in the details dialog: shown on return. Cancelled: shown as before.
    dlg.edit = [&](const ImageMetadata& m, const UploadItem& item) {
        EXPECT_EQ(m.comments, L"A comments");
        EXPECT_EQ(item.path, Image(L"a.bmp"));
        WriteMeta(L"a.bmp", NamedDetails(L"A2"));
    };
    Click(h, IDC_EDITIMAGES_DETAILS);
    EXPECT_EQ(dlg.edits, 1);
    ExpectDetails(h, kEditImagesDetails, NamedDetails(L"A2"));
    dlg.edit = nullptr;
    Click(h, IDC_EDITIMAGES_DETAILS);
    ExpectDetails(h, kEditImagesDetails, NamedDetails(L"A2"));
    EXPECT_EQ(ItemText(h, IDC_EDITIMAGES_SPARE), L"");

    SelectRow(list, RowOf(dlg.m_items, L"b.bmp"));
    ExpectDetails(h, kEditImagesDetails, ImageMetadata{});
    SelectRow(list, -1);  // a click on empty space: row 0
    EXPECT_EQ(dlg.m_selectedIndex, 0);
    EXPECT_EQ(dlg.m_currentItem.fileName, dlg.m_items[0].fileName);
    ExpectDetails(h, kEditImagesDetails, ReadMetaFile(main->m_metadataFolder, dlg.m_items[0].fileName));
    // Rows m_items lacks change nothing.
    dlg.ShowImageDetails(7);
    dlg.ShowImageDetails(-1);
    EXPECT_EQ(dlg.m_currentItem.fileName, dlg.m_items[0].fileName);
    dlg.DestroyWindow();
}

// ---- The service's bytes ----

// A .meta whose service texts are no UTF-8, kept as the service sent them, beside operator's text
// in the older one-byte form: every list dialog shows U+FFFD for the service's bytes, and the
// upload sends them as they came.
TEST_F(Sending, ServiceBytesThatAreNoUtf8ShowAsReplacementsAndGoBackAsTheyCame) {
    WriteStills();
    ASSERT_TRUE(WriteBytes(main->m_metadataFolder + L"a.meta",
                           "F\xFE\r\nEndo \xFF\r\nAnn \xE9\r\nS\xFF\r\nM\xFF\xFF\r\nRigid\xFE\r\n"
                           "repair\xE9\r\ncaf\xE9\r\nPass\r\n05/24/2021\r\n14:07\r\n"));
    ImageMetadata shown;
    shown.facility = L"F\xFFFD";
    shown.location = L"Endo \xFFFD";
    shown.operatorName = L"Ann \xFFFD";
    shown.serial = L"S\xFFFD";
    shown.model = L"M\xFFFD\xFFFD";
    shown.endoscopeType = L"Rigid\xFFFD";
    shown.testResult = L"Pass";
    shown.testDate = L"05/24/2021";
    shown.testTime = L"14:07";

    TestEditImages edit(main.get());
    ASSERT_TRUE(edit.Create(IDD_EDIT_IMAGE_CENDRA));
    SelectRow(edit.m_list.m_hWnd, RowOf(edit.m_items, L"a.bmp"));
    ExpectDetails(edit.m_hWnd, kEditImagesDetails, shown);
    edit.DestroyWindow();

    ASSERT_TRUE(CopyFileW(Image(L"a.bmp").c_str(), Reference(L"a.bmp").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(Image(L"c.bmp").c_str(), Reference(L"c.bmp").c_str(), FALSE));
    Scripted<CSelectReferenceImageCendraDlg> pick(main.get());
    pick.script = [&](Scripted<CSelectReferenceImageCendraDlg>& d) {
        SelectRow(d.m_list.m_hWnd, RowOf(d.m_items, L"a.bmp"));
        ExpectDetails(d.m_hWnd, kReferenceDetails, shown);
        Click(d.m_hWnd, IDC_REFPICK_CANCEL);
    };
    pick.DoModal();

    Scripted<TestUpload> dlg(main.get());
    dlg.confirmScript = [](Scripted<TestConfirm>& c) { PressKey(c.m_hWnd, VK_RETURN); };
    dlg.script = [&](Scripted<TestUpload>& d) {
        SelectRow(d.m_list.m_hWnd, RowOf(d.m_items, L"a.bmp"));
        ExpectDetails(d.m_hWnd, kUploadDetails, shown);
        Mark(d, {L"a.bmp"});
        Click(d.m_hWnd, IDC_UPLOAD_SELECTED);
    };
    EXPECT_EQ(dlg.DoModal(), 0);
    const std::vector<Request> posts = Posts();
    ASSERT_EQ(posts.size(), 1u);
    const std::pair<const char*, std::string> sent[] = {
        {"FName", "F\xFE"},      {"Location", "Endo \xFF"},        {"Operator", "Ann \xE9"},
        {"Serial", "S\xFF"},     {"Model", "M\xFF\xFF"},           {"Endoscope", "Rigid\xFE"},
        {"Recommended_Action", "repair\xC3\xA9"}, {"Comments", "caf\xC3\xA9"}, {"Result", "Pass"},
    };
    for (const auto& [name, bytes] : sent) EXPECT_EQ(Part(posts[0], name), bytes) << name;
    EXPECT_TRUE(dlg.boxes.empty());
}

// ---- Reference picker ----

TEST_F(ListDialogs, TheReferencePickersResultFollowsHowItEnded) {
    ASSERT_TRUE(WriteSolidBmp(Reference(L"r1.bmp"), RGB(255, 0, 0)));
    ASSERT_TRUE(WriteSolidBmp(Reference(L"r2.bmp"), RGB(0, 255, 0)));
    ASSERT_TRUE(WriteSolidBmp(Image(L"still.bmp"), RGB(0, 0, 255)));
    WriteMeta(L"r1.bmp", NamedDetails(L"R1"));
    constexpr const wchar_t* kFirstRow = L"<row 0>";
    struct Case {
        const char* what;
        std::vector<const wchar_t*> highlights;  // in turn; null clears the selection
        std::function<void(HWND)> end;
        bool online;
        INT_PTR returned;
        bool result;
        const wchar_t* fileName;
    };
    auto click = [](int id) { return [id](HWND h) { Click(h, id); }; };
    const Case cases[] = {
        {"OK", {L"r2.bmp"}, click(IDC_REFPICK_OK), true, 0, true, L"r2.bmp"},
        {"OK unselected", {}, click(IDC_REFPICK_OK), true, 0, true, L""},
        {"OK after a click on empty space", {L"r2.bmp", nullptr}, click(IDC_REFPICK_OK), true, 0, true, kFirstRow},
        {"Enter", {L"r1.bmp"}, [](HWND h) { PressKey(h, VK_RETURN); }, false, 0, true, L"r1.bmp"},
        {"Cancel", {L"r1.bmp"}, click(IDC_REFPICK_CANCEL), true, 0, false, L"r1.bmp"},
        {"Esc", {L"r1.bmp"}, [](HWND h) { PressKey(h, VK_ESCAPE); }, true, IDCANCEL, false, L"r1.bmp"},
        {"close box", {L"r2.bmp"}, PressCloseBox, false, IDCANCEL, false, L"r2.bmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        main->m_online = c.online;
        Scripted<CSelectReferenceImageCendraDlg> dlg(main.get());
        std::wstring firstRow;
        dlg.script = [&](Scripted<CSelectReferenceImageCendraDlg>& d) {
            ASSERT_EQ(d.m_items.size(), 2u);  // the reference folder only
            firstRow = d.m_items[0].fileName;
            EXPECT_EQ(IsWindowVisible(GetDlgItem(d.m_hWnd, -1)) != FALSE, c.online);
            for (const wchar_t* name : c.highlights) {
                int row = -1;
                for (const UploadItem& item : d.m_items)
                    if (name && item.fileName == name) row = item.index;
                SelectRow(d.m_list.m_hWnd, row);
                const std::wstring shown = d.m_currentItem.fileName;
                // Online the details are the current file's; offline the column stays blank.
                ExpectDetails(d.m_hWnd, kReferenceDetails,
                              c.online && shown == L"r1.bmp" ? NamedDetails(L"R1") : ImageMetadata{});
            }
            c.end(d.m_hWnd);
        };
        EXPECT_EQ(dlg.DoModal(), c.returned);
        EXPECT_EQ(dlg.m_result, c.result);
        EXPECT_EQ(dlg.m_currentItem.fileName, c.fileName == kFirstRow ? firstRow : std::wstring(c.fileName));
    }
}

// ---- The reference view ----

// Chooses a row of the picker that the main dialog's "Open Reference Image" brings up, from a
// timer inside the picker's modal loop, as a click and OK would; Cancel when there is no such row.
// Keeps the facility the picker showed for it.
struct PickerChoice {
    std::wstring name;
    bool chosen = false;
    std::wstring facility;

    static PickerChoice*& Current() {
        static PickerChoice* current = nullptr;
        return current;
    }
    static BOOL CALLBACK IsPicker(HWND window, LPARAM found) {
        wchar_t caption[64] = {};
        GetWindowTextW(window, caption, 64);
        if (!IsWindowVisible(window) || std::wstring(caption) != L"Select Reference Image") return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD) {
        PickerChoice* c = Current();
        HWND picker = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), IsPicker, reinterpret_cast<LPARAM>(&picker));
        if (!c || !picker) return;
        KillTimer(nullptr, timer);
        const HWND list = GetDlgItem(picker, IDC_REFPICK_LIST);
        const int row = RowNamed(list, c->name);
        SelectRow(list, row);
        c->chosen = row >= 0;
        c->facility = ItemText(picker, IDC_REFPICK_FACILITY);
        Click(picker, c->chosen ? IDC_REFPICK_OK : IDC_REFPICK_CANCEL);
    }
};

class ReferenceView : public ListDialogs {
protected:
    void SetUp() override {
        ListDialogs::SetUp();
        if (HasFatalFailure()) return;
        main->m_online = true;  // the picker shows the details of the highlighted file
        showOnTop(main->m_hWnd);
    }
    // "Open Reference Image", name chosen with OK. The facility the picker showed for it.
    std::wstring Open(const std::wstring& name) {
        PickerChoice choice{name};
        PickerChoice::Current() = &choice;
        const UINT_PTR timer = SetTimer(nullptr, 0, 15, &PickerChoice::Tick);
        Click(main->m_hWnd, IDC_OPEN_REFERENCE);
        KillTimer(nullptr, timer);
        PickerChoice::Current() = nullptr;
        EXPECT_TRUE(choice.chosen) << "no picker row for the file";
        drainMessages();
        return choice.facility;
    }
    // How many pixels inside the view's frame are (near) colour, and how many are not black.
    struct Shown {
        int ofColour = 0, notBlack = 0;
    };
    Shown ViewPixels(COLORREF colour) {
        const HWND view = main->m_referenceDisplay.m_hWnd;
        RECT client{};
        GetClientRect(view, &client);
        Canvas screen(client.right, client.bottom);
        EXPECT_TRUE(screen.grab(view));
        Shown shown;
        for (int y = 1; y < screen.height - 1; ++y)
            for (int x = 1; x < screen.width - 1; ++x) {
                const COLORREF c = screen.at(x, y);
                shown.ofColour += std::abs(GetRValue(c) - GetRValue(colour)) <= 8 &&
                                  std::abs(GetGValue(c) - GetGValue(colour)) <= 8 &&
                                  std::abs(GetBValue(c) - GetBValue(colour)) <= 8;
                shown.notBlack += c != RGB(0, 0, 0);
            }
        return shown;
    }
};

// A good reference, then a file that cannot be loaded: the view empties at once (no picture at
// 0 x 0, black over all of it), with no message. Pictures above the size bound count as files
// that cannot be loaded and are never decoded, though listed with their details.
TEST_F(ReferenceView, AFileThatCannotBeLoadedLeavesNothingOfThePreviousReference) {
    constexpr COLORREF kGood = RGB(0, 160, 255);
    ASSERT_TRUE(WriteSolidBmp(Reference(L"good.bmp"), kGood, 300, 200));
    const std::string png = GreyPngBytes(300, 200, 0x80);
    struct Case {
        const wchar_t* name;
        std::string bytes;
    };
    const Case cases[] = {
        {L"text.bmp", "Not a picture: notes an operator saved under a picture's name.\r\n"},
        {L"empty.bmp", ""},
        {L"truncated.bmp", png.substr(0, png.size() / 2)},
        {L"above.bmp", GreyPngBytes(8000, 4001, 0x40)},  // just above the bound
        {L"huge.bmp", HugePngBytes()},                     // 20000 x 20000
        // 12000 x 12000 in a GIF's first frame on a 1 x 1 screen, and in a JPEG whose tables
        // stand after two stray bytes.
        {L"hugeframe.bmp", FlatGifBytes(1, 1, 12000, 12000, kGood)},
        {L"hugestray.bmp", FlatJpegBytes(12000, 12000, "\r\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
        ASSERT_TRUE(WriteBytes(Reference(c.name), c.bytes));
        WriteMeta(c.name, NamedDetails(c.name));

        Open(L"good.bmp");
        ASSERT_EQ(main->m_referenceDisplay.width, 300);
        EXPECT_GT(ViewPixels(kGood).ofColour, 0);

        const SIZE_T peak = PeakWorkingSet();
        EXPECT_EQ(Open(c.name), NamedDetails(c.name).facility);
        EXPECT_LT(PeakWorkingSet() - peak, kNoDecodingGrowth) << "the picture was decoded";
        EXPECT_EQ(main->m_referenceDisplay.bitmap, nullptr);
        EXPECT_EQ(main->m_referenceDisplay.width, 0);
        EXPECT_EQ(main->m_referenceDisplay.height, 0);
        const Shown shown = ViewPixels(kGood);
        EXPECT_EQ(shown.ofColour, 0) << "pixels of the previous reference";
        EXPECT_EQ(shown.notBlack, 0);
        EXPECT_TRUE(main->boxes.empty());
        EXPECT_TRUE(DeleteFileW(Reference(c.name).c_str())) << "the file is still open";
    }
    // A modest PNG of the same making, for contrast: it is shown.
    ASSERT_TRUE(WriteBytes(Reference(L"grey.bmp"), png));
    Open(L"grey.bmp");
    EXPECT_EQ(main->m_referenceDisplay.width, 300);
    EXPECT_EQ(main->m_referenceDisplay.height, 200);
    const Shown grey = ViewPixels(RGB(0x80, 0x80, 0x80));
    EXPECT_GT(grey.ofColour, 0);
    EXPECT_EQ(grey.ofColour, grey.notBlack);
}

}  // namespace

// The cloud dialogs of the running program: uploading marked stills, editing an image's details,
// and choosing a reference image.
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include "tests/e2e/OnlineScenario.h"

using namespace e2e;

namespace {

using cendra_standin::Part;
using cendra_standin::Request;

const WindowQuery kUploadDialog{L"#32770", L"Upload to Cendra"};
const WindowQuery kConfirmDialog{L"#32770", L"Confirm Upload"};
const WindowQuery kEditImagesDialog{L"#32770", L"Edit Images"};
const WindowQuery kDetailsDialog{L"#32770", L"Edit Image Details"};
const WindowQuery kReferenceDialog{L"#32770", L"Select Reference Image"};

// Controls of the dialogs (their templates' numbers).
enum : int {
    kThumbnails = 1005,  // every list dialog's
    kUploadMark = 1002,
    kUploadSelected = 1046,
    kUploadFacility = 1054,
    kEditImageDetails = 1053,
    kDetailsSave = 1001,
    kDetailsFileName = 1004,
    kDetailsComments = 1012,
    kDetailsResult = 1051,
    kDetailsCancel = 1066,
    kReferenceOk = 1070,
    kReferenceCancel = 1066,
};

// The detail statics of the edit-images and reference dialogs, in .meta field order where they
// show one (comments and recommended actions are not shown); 1031 stays empty.
struct DetailStatic {
    int id;
    int field;  // index in MetaFields
};
const DetailStatic kDetailStatics[] = {{1047, 0}, {1048, 1}, {1068, 2}, {1057, 3}, {1058, 4},
                                       {1067, 5}, {1069, 8}, {1062, 9}, {1063, 10}};

testing::AssertionResult ShowsDetails(const Window& dlg, const MetaFields& fields) {
    for (const DetailStatic& s : kDetailStatics) {
        const std::wstring expected = fields.empty() ? L"" : fields[s.field];
        if (testing::AssertionResult shown = ShowsText(dlg.ChildOrThrow(s.id), expected); !shown)
            return shown;
    }
    return testing::AssertionSuccess();
}

MetaFields Fields(const std::wstring& facility, const std::wstring& comments, const std::wstring& result) {
    return {facility, L"Endo Suite A", L"Ann Lee", L"S1", L"M1", L"Flexible", L"None", comments, result,
            L"01/02/2021", L"10:20"};
}

// Every file under the images folder (metadata included) with its bytes.
std::map<std::wstring, std::string> Snapshot() {
    std::map<std::wstring, std::string> files;
    for (const std::wstring& folder : {ImagesFolder(), ImagesFolder() + L"\\metadata"})
        for (const std::wstring& name : FileNames(folder))
            files[folder + L"\\" + name] = ReadBytes(folder + L"\\" + name);
    return files;
}

std::vector<Request> Inserts(cendra_standin::Server& server) {
    std::vector<Request> inserts;
    for (const Request& r : server.Requests())
        if (r.path == "/v1/publish/insert")
            inserts.push_back(r);
    return inserts;
}

// The 17 parts an upload of this still sends as the admin of the fixture, its details as the .meta
// file holds them when it is sent.
testing::AssertionResult IsUploadOf(const Request& r, const std::wstring& bmpName) {
    const std::wstring images = ImagesFolder();
    const MetaFields m = ParseMeta(ReadBytes(MetaPathOf(images, bmpName)));
    if (r.method != "POST" || m.size() != 11)
        return testing::AssertionFailure() << r.method << " " << r.target << ", .meta of " << m.size() << " fields";
    const std::vector<std::pair<std::string, std::string>> expected{
        {"user_type", "admin"},           {"Image", ReadBytes(images + L"\\" + bmpName)},
        {"FName", Narrow(m[0])},          {"Location", Narrow(m[1])},
        {"Test_Date", Narrow(m[9])},      {"Test_Time", Narrow(m[10])},
        {"Operator", Narrow(m[2])},       {"Serial", Narrow(m[3])},
        {"Model", Narrow(m[4])},          {"Endoscope", Narrow(m[5])},
        {"Result", Narrow(m[8])},         {"Recommended_Action", Narrow(m[6])},
        {"Comments", Narrow(m[7])},       {"Velmora_id", "T1001"},
        {"username", "qa+admin@example.com"}, {"user_identifier", "QA Admin"},
        {"submit", "send"},
    };
    if (r.parts.size() != expected.size())
        return testing::AssertionFailure() << r.parts.size() << " parts";
    for (size_t i = 0; i < expected.size(); ++i) {
        const Part& p = r.parts[i];
        if (p.name != expected[i].first || p.bytes != expected[i].second)
            return testing::AssertionFailure() << "part " << i << " \"" << p.name << "\" of " << p.bytes.size()
                                               << " bytes (\"" << p.bytes.substr(0, 40) << "\"), expected \""
                                               << expected[i].first << "\" \"" << expected[i].second.substr(0, 40)
                                               << "\"";
        if (p.hasFilename != (i == 1) || (i == 1 && p.filename != Narrow(bmpName)))
            return testing::AssertionFailure() << "part " << i << " has file name \"" << p.filename << "\"";
    }
    return testing::AssertionSuccess();
}

// A logged-in admin with three stills of the full panel, and the upload dialog open on them. The
// counter picture makes every still's bytes its own.
struct ThreeStills {
    CloudService service;
    App app{OnlineRun(true, L"", L"counter")};
    Window dialog, upload, list;
    std::vector<std::wstring> rows;  // the list's labels, file names

    ThreeStills() {
        dialog = LogIn(app, kAdmin);
        Window live = dialog.ChildOrThrow(kLiveView);
        if (!WaitUntil([&] { return live.ScreenPixels().Count([](COLORREF c) { return c != 0; }) > 0; }, 10s))
            throw Error("no frame shown");
        FillPanel(dialog, {});
        for (size_t n = 1; n <= 3; ++n) {
            PressSpace(app);
            if (WaitForFiles(ImagesFolder(), n).size() != n)
                throw Error("still " + std::to_string(n) + " missing: " + testing::PrintToString(FileNames(ImagesFolder())));
        }
        std::vector<std::wstring> stills = FileNames(ImagesFolder());
        if (ReadBytes(ImagesFolder() + L"\\" + stills[0]) == ReadBytes(ImagesFolder() + L"\\" + stills[1]) ||
            ReadBytes(ImagesFolder() + L"\\" + stills[1]) == ReadBytes(ImagesFolder() + L"\\" + stills[2]))
            throw Error("two stills of one frame");
        service->ClearRecord();
        dialog.ChildOrThrow(kUpload).Click();
        upload = app.WaitForWindow(kUploadDialog);
        list = upload.ChildOrThrow(kThumbnails);
        rows = list.ListViewItems();
        std::vector<std::wstring> sorted = rows;
        std::sort(sorted.begin(), sorted.end());
        if (sorted != FileNames(ImagesFolder()))
            throw Error("the upload list shows " + testing::PrintToString(rows));
    }

    // A user's click on the row, then on "Select for Upload".
    void Mark(int row) {
        SelectListViewItem(list, row);
        upload.ChildOrThrow(kUploadMark).Click();
        if (!WaitUntil([&] { return list.ListViewItems()[row] == rows[row] + L"*"; }))
            throw Error("row " + std::to_string(row) + " not marked: " + testing::PrintToString(list.ListViewItems()));
    }

    // "Upload Selected": the confirm dialog, showing the marked stills.
    Window Confirm() {
        upload.ChildOrThrow(kUploadSelected).Click();
        return app.WaitForWindow(kConfirmDialog);
    }
};

TEST(OnlineDialogs, UploadSendsTheMarkedStillsInMarkingOrderWithTheirDetailsOnDisk) {
    SKIP_UNLESS_LOCAL_SERVICE();
    ThreeStills run;
    Window mark = run.upload.ChildOrThrow(kUploadMark), send = run.upload.ChildOrThrow(kUploadSelected);
    EXPECT_FALSE(send.Enabled());
    SelectListViewItem(run.list, 2);
    EXPECT_EQ(ListViewSelection(run.list), std::vector<int>{2});
    EXPECT_TRUE(ShowsText(run.upload.ChildOrThrow(kUploadFacility), L"North Clinic"));
    EXPECT_EQ(mark.Text(), L"Select for Upload");
    run.Mark(2);
    EXPECT_EQ(mark.Text(), L"Deselect for Upload");
    EXPECT_TRUE(send.Enabled());
    run.Mark(0);

    // Cancelled: nothing sent, the marks stay.
    Window confirm = run.Confirm();
    EXPECT_EQ(confirm.ChildOrThrow(kThumbnails).ListViewItems(), (std::vector<std::wstring>{run.rows[0], run.rows[2]}))
        << "the last marked first";
    confirm.ChildOrThrow(IDCANCEL).Click();
    run.app.WaitForNoWindow(kConfirmDialog);
    EXPECT_TRUE(Inserts(*run.service).empty());
    EXPECT_EQ(run.list.ListViewItems(), (std::vector<std::wstring>{run.rows[0] + L"*", run.rows[1], run.rows[2] + L"*"}));
    EXPECT_TRUE(send.Enabled());

    // What the .meta holds when it is sent goes, not what the capture wrote.
    const std::wstring changed = MetaPathOf(ImagesFolder(), run.rows[0]);
    WriteOrFail(changed, MetaText(Fields(L"South Clinic", L"Rewritten on disk", L"Fail")));
    const auto before = Snapshot();
    confirm = run.Confirm();
    confirm.ChildOrThrow(IDOK).Click();
    Window notice = run.dialog.ChildOrThrow(kNotice);
    bool noticed = false;
    EXPECT_TRUE(WaitUntil([&] {
        noticed = noticed || notice.Text() == L"Uploading to cloud...";
        return !run.app.FindWindow(kUploadDialog) && !run.app.FindWindow(kConfirmDialog);
    })) << run.app.Describe();
    EXPECT_TRUE(noticed || notice.Text() == L"Uploading to cloud...") << "notice \"" << Narrow(notice.Text()) << "\"";
    std::vector<Request> inserts = Inserts(*run.service);
    ASSERT_EQ(inserts.size(), 2u);
    EXPECT_TRUE(IsUploadOf(inserts[0], run.rows[2]));
    EXPECT_TRUE(IsUploadOf(inserts[1], run.rows[0]));
    EXPECT_EQ(inserts[1].FindPart("Comments") ? inserts[1].FindPart("Comments")->bytes : "", "Rewritten on disk");
    EXPECT_EQ(Snapshot(), before) << "files changed by the upload";
    EXPECT_FALSE(run.app.FindWindow({L"#32770", L"Upload Error"}));
}

TEST(OnlineDialogs, AFailedUploadIsNamedAndTheOthersStillGo) {
    SKIP_UNLESS_LOCAL_SERVICE();
    ThreeStills run;
    for (int row : {0, 1, 2})
        run.Mark(row);
    run.service->AddFault(cendra_standin::Fault::Status("/v1/publish/insert", 500, R"({"error":"down"})", 2));
    const auto before = Snapshot();
    Window confirm = run.Confirm();
    confirm.ChildOrThrow(IDOK).Click();
    EXPECT_EQ(run.app.DismissMessageBox(L"Upload Error"),
              L"1 of 3 images could not be uploaded:\r\n\r\n" + run.rows[1] + L"\r\n");
    run.app.WaitForNoWindow(kConfirmDialog);
    run.app.WaitForNoWindow(kUploadDialog);
    std::vector<Request> inserts = Inserts(*run.service);
    ASSERT_EQ(inserts.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(IsUploadOf(inserts[i], run.rows[i])) << "insert " << i;
    EXPECT_EQ(run.dialog.ChildOrThrow(kNotice).Text(), L"");
    EXPECT_EQ(Snapshot(), before) << "files changed by the upload";
}

TEST(OnlineDialogs, EditingDetailsRewritesTheMetaFileAndCancelKeepsIt) {
    SKIP_UNLESS_LOCAL_SERVICE();
    CloudService service;
    App app(OnlineRun());
    app.WaitForWindow(kLoginDialog);  // the folders are made by then
    const std::wstring images = ImagesFolder(), still = L"20210102102000_Scope_0.bmp";
    const std::wstring meta = MetaPathOf(images, still);
    WriteOrFail(images + L"\\" + still, SolidBitmap(64, 48, RGB(90, 120, 150)));
    const std::string original = MetaText(Fields(L"North Clinic", L"Initial", L"Pass"));
    WriteOrFail(meta, original);
    Window dialog = LogIn(app, kUser);

    dialog.ChildOrThrow(kEditImages).Click();
    Window edit = app.WaitForWindow(kEditImagesDialog), list = edit.ChildOrThrow(kThumbnails);
    ASSERT_EQ(list.ListViewItems(), std::vector<std::wstring>{still});
    SelectListViewItem(list, 0);
    EXPECT_TRUE(ShowsDetails(edit, Fields(L"North Clinic", L"Initial", L"Pass")));
    EXPECT_EQ(edit.ChildOrThrow(1031).Text(), L"");

    // Cancelled after a change: the file keeps its bytes.
    edit.ChildOrThrow(kEditImageDetails).Click();
    Window details = app.WaitForWindow(kDetailsDialog);
    EXPECT_EQ(details.ChildOrThrow(kDetailsFileName).Text(), still);
    EXPECT_EQ(Selected(details.ChildOrThrow(kDetailsResult)), L"Pass");
    EXPECT_EQ(details.ChildOrThrow(kDetailsComments).Text(), L"Initial");
    details.ChildOrThrow(kDetailsComments).SetText(L"Not kept");
    details.ChildOrThrow(kDetailsCancel).Click();
    app.WaitForNoWindow(kDetailsDialog);
    EXPECT_EQ(ReadBytes(meta), original);

    // Saved: the record with the new result and comments, the statics after it.
    edit.ChildOrThrow(kEditImageDetails).Click();
    details = app.WaitForWindow(kDetailsDialog);
    Pick(details.ChildOrThrow(kDetailsResult), L"Fail");
    details.ChildOrThrow(kDetailsComments).SetText(L"Scratch at tip");
    ASSERT_TRUE(WaitUntil([&] { return Selected(details.ChildOrThrow(kDetailsResult)) == L"Fail"; }));
    details.ChildOrThrow(kDetailsSave).Click();
    app.WaitForNoWindow(kDetailsDialog);
    const MetaFields saved = Fields(L"North Clinic", L"Scratch at tip", L"Fail");
    EXPECT_EQ(ParseMeta(ReadBytes(meta)), saved);
    EXPECT_EQ(ReadBytes(meta), MetaText(saved));
    EXPECT_EQ(FileNames(images + L"\\metadata"), std::vector<std::wstring>{L"20210102102000_Scope_0.meta"});
    EXPECT_TRUE(ShowsDetails(edit, saved));
    EXPECT_FALSE(app.FindWindow({L"#32770", L"Save Error"}));
}

// Two reference images of one colour each, the blue one with details.
struct References {
    const COLORREF red = RGB(200, 40, 40), blue = RGB(40, 80, 200);
    const std::wstring redName = L"20210102102000__0.bmp", blueName = L"20210102102100__0.bmp";
    const MetaFields blueDetails = Fields(L"South Clinic", L"Reference", L"Pass");

    void Write() const {
        const std::wstring folder = ImagesFolder() + L"\\ReferenceImages";
        WriteOrFail(folder + L"\\" + redName, SolidBitmap(80, 60, red));
        WriteOrFail(folder + L"\\" + blueName, SolidBitmap(80, 60, blue));
        WriteOrFail(MetaPathOf(ImagesFolder(), blueName), MetaText(blueDetails));
    }
};

Window HeadingOf(const Window& dlg) {
    for (const Window& w : dlg.Children())
        if (w.IsClass(L"Static") && w.Text() == L"File Details")
            return w;
    throw Error("no \"File Details\" heading in " + dlg.Describe());
}

// Opens the reference picker, selects the named image; the dialog.
Window OpenPicker(const App& app, const Window& dialog, const std::wstring& name) {
    dialog.ChildOrThrow(kOpenReference).Click();
    Window picker = app.WaitForWindow(kReferenceDialog);
    Window list = picker.ChildOrThrow(kThumbnails);
    std::vector<std::wstring> rows = list.ListViewItems();
    EXPECT_EQ(rows.size(), 2u) << testing::PrintToString(rows);
    SelectListViewItem(list, IndexOf(rows, name, "the reference list"));
    return picker;
}

TEST(OnlineDialogs, TheChosenReferenceImageIsShownAndCancelChangesNothing) {
    SKIP_UNLESS_LOCAL_SERVICE();
    References refs;
    {
        CloudService service;
        App app(OnlineRun());
        app.WaitForWindow(kLoginDialog);
        refs.Write();
        Window dialog = LogIn(app, kUser), view = dialog.ChildOrThrow(kReferenceView);

        Window picker = OpenPicker(app, dialog, refs.blueName);
        EXPECT_TRUE(HeadingOf(picker).Visible());
        EXPECT_TRUE(ShowsDetails(picker, refs.blueDetails));
        picker.ChildOrThrow(kReferenceOk).Click();
        app.WaitForNoWindow(kReferenceDialog);
        EXPECT_TRUE(ShowsColour(view, refs.blue));

        picker = OpenPicker(app, dialog, refs.redName);
        EXPECT_TRUE(ShowsDetails(picker, {})) << "an image without a .meta shows no details";
        picker.ChildOrThrow(kReferenceCancel).Click();
        app.WaitForNoWindow(kReferenceDialog);
        view.Repaint();
        EXPECT_TRUE(ShowsColour(view, refs.blue));
    }
    // Offline the details column stays blank under no heading; OK still loads.
    RunOptions offline = CameraRun(L"uniform");
    App app(offline);
    Window dialog = app.WaitForWindow(kMainDialog);
    refs.Write();
    Window picker = OpenPicker(app, dialog, refs.redName);
    EXPECT_FALSE(HeadingOf(picker).Visible());
    picker.ChildOrThrow(kReferenceOk).Click();
    app.WaitForNoWindow(kReferenceDialog);
    EXPECT_TRUE(ShowsColour(dialog.ChildOrThrow(kReferenceView), refs.red));
}

}  // namespace

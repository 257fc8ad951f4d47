// Online mode against the cloud stand-in: the login before the main window, the panel it fills,
// captures that need their details, log-out, and a login abandoned.
#include <gtest/gtest.h>
#include <algorithm>
#include "tests/e2e/OnlineScenario.h"

using namespace e2e;

namespace {

using cendra_standin::Request;

const std::wstring kLoginErrorText = L"Login Error. Check credentials.";
const std::wstring kRefusalText = L"Please ensure all metadata is defined before capture.";

std::vector<Request> Logins(cendra_standin::Server& server) {
    std::vector<Request> logins;
    for (const Request& r : server.Requests())
        if (r.path == "/v1/auth/login")
            logins.push_back(r);
    return logins;
}

// "Welcome, <name>!  |  <date time>" for a login within the last minute.
testing::AssertionResult IsBanner(const std::wstring& banner, const std::string& name) {
    for (int offset : {0, -60, 60}) {
        std::wstring expected = L"Welcome, " + std::wstring(name.begin(), name.end()) + L"!  |  " +
                                LocalDate(offset) + L" " + LocalTime(offset);
        if (banner == expected)
            return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "banner \"" << Narrow(banner) << "\" at " << Narrow(LocalDate()) << " "
                                       << Narrow(LocalTime());
}

struct ListState {
    int id;
    std::vector<std::wstring> items;
    std::wstring selected;
};

// The panel just after a login, from the fixture: facilities with the first chosen, the rest unset.
const ListState kFilledPanel[] = {
    {kFacility, {L"North Clinic", L"South Clinic"}, L"North Clinic"},
    {kLocation, {L"Endo Suite A", L"Zürich"}, L""},
    {kEndoscopeType, {}, L""},
    {kSerial, {}, L""},
    {kModel, {}, L""},
    {kOperator, {L"Ann Lee", L"Bo Chen"}, L""},
    {kTestResult, {L"Fail", L"Pass"}, L""},
};

void ExpectFilledPanel(const Window& dialog) {
    for (const ListState& list : kFilledPanel) {
        Window combo = dialog.ChildOrThrow(list.id);
        EXPECT_EQ(ComboTexts(combo), list.items) << "list " << list.id;
        EXPECT_EQ(Selected(combo), list.selected) << "list " << list.id;
    }
    EXPECT_EQ(dialog.ChildOrThrow(kComments).Text(), L"");
    EXPECT_EQ(dialog.ChildOrThrow(kRecommendedActions).Text(), L"");
}

TEST(Online, LoginComesFirstTellsAWrongPasswordAndFillsThePanel) {
    SKIP_UNLESS_LOCAL_SERVICE();
    CloudService service;
    App app(OnlineRun(false));
    Window login = app.WaitForWindow(kLoginDialog);
    EXPECT_FALSE(app.FindWindow(kMainDialog)) << app.Describe();
    Window tabs = login.ChildOrThrow(kLoginTabs), label = login.ChildOrThrow(kLoginNameLabel);
    Window name = login.ChildOrThrow(kLoginName), password = login.ChildOrThrow(kLoginPassword);
    ASSERT_EQ(TabItems(tabs), (std::vector<std::wstring>{L"User", L"Facility Admin"}));
    EXPECT_EQ(TabSelection(tabs), 0);
    EXPECT_EQ(label.Text(), L"Username");

    // Each tab change empties both edits and names the field after the tab.
    struct TabCase {
        int tab;
        const wchar_t* label;
    };
    for (TabCase c : {TabCase{1, L"Email"}, TabCase{0, L"Username"}}) {
        SCOPED_TRACE(Narrow(c.label));
        name.SetText(L"someone");
        password.SetText(L"something");
        SelectTab(tabs, c.tab);
        EXPECT_EQ(TabSelection(tabs), c.tab);
        EXPECT_EQ(label.Text(), c.label);
        EXPECT_EQ(name.Text(), L"");
        EXPECT_EQ(password.Text(), L"");
    }
    EXPECT_EQ(service->RequestCount(), 0u);

    // A wrong password is told, and every press asks the service again.
    name.SetText(kUser.name);
    password.SetText(L"wrong");
    Window button = login.ChildOrThrow(kLoginButton), error = login.ChildOrThrow(kLoginError);
    for (size_t press = 1; press <= 2; ++press) {
        SCOPED_TRACE("press " + std::to_string(press));
        button.Click();
        ASSERT_TRUE(WaitUntil([&] { return Logins(*service).size() == press; })) << app.Describe();
        EXPECT_TRUE(ShowsText(error, kLoginErrorText));
        std::vector<Request> logins = Logins(*service);
        EXPECT_EQ(logins.back().QueryValue("username"), "jdoe");
        EXPECT_EQ(logins.back().QueryValue("password"), "wrong");
        EXPECT_TRUE(login.Visible());
        EXPECT_FALSE(app.FindWindow(kMainDialog));
    }

    password.SetText(kUser.password);
    button.Click();
    Window dialog = app.WaitForWindow(kMainDialog);
    app.WaitForNoWindow(kLoginDialog);
    EXPECT_EQ(Logins(*service).size(), 3u);
    EXPECT_TRUE(IsBanner(dialog.ChildOrThrow(kBanner).Text(), kUser.replyName));
    ExpectFilledPanel(dialog);
    EXPECT_TRUE(app.Running());
}

TEST(Online, ACaptureNeedsEveryDetailAndWritesThemBesideTheStill) {
    SKIP_UNLESS_LOCAL_SERVICE();
    CloudService service;
    App app(OnlineRun());
    Window dialog = LogIn(app, kUser);
    const std::wstring images = ImagesFolder(), metadata = images + L"\\metadata";
    Window live = dialog.ChildOrThrow(kLiveView), status = dialog.ChildOrThrow(kStatus);
    ASSERT_TRUE(WaitUntil([&] {
        Picture p = live.ScreenPixels();
        return p.Count([&](COLORREF c) { return c == p.pixels[p.pixels.size() / 2]; }) > p.pixels.size() * 9 / 10;
    }, 10s)) << "no frame shown";

    PanelChoice choice;
    choice.result.clear();
    FillPanel(dialog, choice);
    PressSpace(app);
    EXPECT_TRUE(ShowsText(status, kRefusalText));
    EXPECT_TRUE(WaitForFiles(images, 1, 2s).empty());
    EXPECT_TRUE(FileNames(metadata).empty());

    Pick(dialog.ChildOrThrow(kTestResult), L"Pass");
    const std::wstring dateBefore = dialog.ChildOrThrow(kDateEdit).Text(), timeBefore = dialog.ChildOrThrow(kTimeEdit).Text();
    PressSpace(app);
    std::vector<std::wstring> stills = WaitForFiles(images, 1);
    const std::wstring dateAfter = dialog.ChildOrThrow(kDateEdit).Text(), timeAfter = dialog.ChildOrThrow(kTimeEdit).Text();
    ASSERT_EQ(stills.size(), 1u) << testing::PrintToString(stills);
    EXPECT_TRUE(StillIndex(stills[0], L"")) << Narrow(stills[0]);
    Bitmap still;
    EXPECT_TRUE(ParseBitmap(ReadBytes(images + L"\\" + stills[0]), &still));
    const std::wstring meta = MetaPathOf(images, stills[0]);
    EXPECT_EQ(FileNames(metadata), std::vector<std::wstring>{meta.substr(metadata.size() + 1)});
    MetaFields fields = ParseMeta(ReadBytes(meta));
    MetaFields expected{L"North Clinic", L"Endo Suite A", L"Ann Lee", L"S1",   L"M1",      L"Flexible",
                        L"None",         L"Lens clear",   L"Pass",    dateBefore, timeBefore};
    if (fields.size() == 11 && fields[9] + fields[10] != dateBefore + timeBefore)  // the minute turned
        expected[9] = dateAfter, expected[10] = timeAfter;
    EXPECT_EQ(fields, expected);
    EXPECT_TRUE(ShowsText(status, kCapturedNotice));

    // The metadata folder moved away: the next still makes it again, hidden, with its .meta.
    RemoveFolder(metadata);
    PressSpace(app);
    std::vector<std::wstring> more = WaitForFiles(images, 2);
    ASSERT_EQ(more.size(), 2u) << testing::PrintToString(more);
    const std::wstring next = more[0] == stills[0] ? more[1] : more[0];
    EXPECT_TRUE(IsFolder(metadata));
    if (KeepsHiddenAttribute(ProfileFolder()))
        EXPECT_TRUE(IsHidden(metadata));
    EXPECT_EQ(FileNames(metadata), std::vector<std::wstring>{MetaPathOf(images, next).substr(metadata.size() + 1)});

    // With a file where the metadata folder was, a still cannot be whole: neither file stays.
    {
        FolderReplacedByFile replaced(metadata);
        PressSpace(app);
        EXPECT_EQ(app.DismissMessageBox(L"Capture Error"), kCaptureErrorText);
        EXPECT_EQ(FileNames(images), (std::vector<std::wstring>{more[0], more[1], L"metadata"}));
    }
    EXPECT_TRUE(app.Running());
}

// The camera's library was let go last: one LYC_Term, after which only the frame call it ended
// returns (the stand-in logs LYC_GetFrame as it returns).
testing::AssertionResult EndsWithTerm(const TempLog& log) {
    std::vector<std::string> lines = log.Lines();
    auto term = std::find(lines.begin(), lines.end(), "LYC_Term");
    std::vector<std::string> after(term == lines.end() ? lines.end() : term + 1, lines.end());
    if (term != lines.end() && (after.empty() || after == std::vector<std::string>{"LYC_GetFrame"}))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "camera log " << testing::PrintToString(lines);
}

TEST(Online, EscapeAtTheFirstLoginEndsTheProgramAndLetsTheCameraGo) {
    SKIP_UNLESS_LOCAL_SERVICE();
    CloudService service;
    TempLog log;
    App app(OnlineRun(false, log.path()));
    Window login = app.WaitForWindow(kLoginDialog);
    ASSERT_TRUE(WaitUntil([&] { return !log.Lines().empty(); })) << "the camera was never opened";
    login.ChildOrThrow(kLoginName).PressKey(VK_ESCAPE);
    ASSERT_TRUE(app.WaitForExit()) << app.Describe();
    EXPECT_EQ(app.ExitCode(), 1u);
    EXPECT_TRUE(EndsWithTerm(log));
    EXPECT_EQ(service->RequestCount(), 0u);
}

TEST(Online, LogoutShowsANewLoginAndClosingItEndsTheProgram) {
    SKIP_UNLESS_LOCAL_SERVICE();
    CloudService service;
    TempLog log;
    App app(OnlineRun(false, log.path()));
    Window dialog = LogIn(app, kUser);
    EXPECT_TRUE(WaitUntil([&] { return !app.FindWindow({L"#32770", L"Login", false}); }))
        << "the first login dialog stays; " << app.Describe();

    dialog.ChildOrThrow(kLogout).Click();
    Window login = app.WaitForWindow(kLoginDialog);
    EXPECT_TRUE(WaitUntil([&] { return !dialog.Visible(); })) << "the main window stays shown";
    EXPECT_TRUE(dialog.exists());
    EXPECT_EQ(login.ChildOrThrow(kLoginNameLabel).Text(), L"Username");
    EXPECT_EQ(login.ChildOrThrow(kLoginName).Text(), L"");

    // An e-mail address with "+" reaches the service as written.
    service->ClearRecord();
    ASSERT_EQ(LogIn(app, kAdmin).hwnd(), dialog.hwnd());
    std::vector<Request> logins = Logins(*service);
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].QueryValue("username"), "qa+admin@example.com");
    EXPECT_NE(logins[0].rawQuery.find("username=qa%2Badmin@example.com&"), std::string::npos) << logins[0].rawQuery;
    EXPECT_TRUE(IsBanner(dialog.ChildOrThrow(kBanner).Text(), kAdmin.replyName));
    ExpectFilledPanel(dialog);

    dialog.ChildOrThrow(kLogout).Click();
    login = app.WaitForWindow(kLoginDialog);
    ASSERT_TRUE(WaitUntil([&] { return !dialog.Visible(); }));
    PressCloseBox(login);
    ASSERT_TRUE(app.WaitForExit()) << app.Describe();
    EXPECT_EQ(app.ExitCode(), 1u);
    EXPECT_TRUE(EndsWithTerm(log));
}

}  // namespace

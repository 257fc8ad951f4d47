// The login dialog against the cloud stand-in, with the main window on fake cameras: the tabs, the
// presses that send nothing, failed and repeated tries, the administrator flag, the banner, and
// the end of the program when the dialog closes without a login.
#include "cloud/CendraClient.h"
#include "cloud/LoginDlg.h"
#include "res/CloudFormsResource.h"
#include "res/resource.h"
#include "standins/cloud/CendraStandin.h"
#include "tests/forms/FormsTestSupport.h"
#include "tests/support/Clock.h"
#include <commctrl.h>
#include <memory>

namespace {

using cendra_standin::Server;

// Replies name the user as the banner shows them.
const char kAccounts[] = R"({
  "accounts": [
    {"username": "jdoe", "password": "secret",
     "reply": {"username": "jdoe", "organizationCode": "ORG", "velmoraId": "V1"}},
    {"username": "admin@example.com", "password": "admin",
     "reply": {"username": "admin@example.com", "organizationCode": "ORG", "velmoraId": "V1"}},
    {"username": "Zoë", "password": "pässword",
     "reply": {"username": "Zoë Ünal", "organizationCode": "ORG", "velmoraId": "V1"}}
  ],
  "organisations": {"V1": {"locations": [], "endoscopes": [], "testers": [],
                           "facilities": [{"nameFacility": "North Clinic", "status": "Active"}]}}
})";

// The dialog on the stand-in, its clock fixed, its end of the process counted instead.
class TestLoginDlg : public CLoginDlg {
public:
    TestLoginDlg(CLumetraDlg* main, std::string baseUrl) : CLoginDlg(main, std::move(baseUrl)) {}
    std::time_t now = LocalTime(2021, 2, 3, 9, 5);
    int exits = 0;

protected:
    std::time_t Now() override { return now; }
    void ExitWithoutLogin() override { ++exits; }
};

void Type(HWND dlg, const wchar_t* name, const wchar_t* password) {
    ::SetDlgItemTextW(dlg, IDC_LOGIN_NAME, name);
    ::SetDlgItemTextW(dlg, IDC_LOGIN_PASSWORD, password);
}

// A mouse click on tab `index`, which the control reports as a user's choice.
void ClickTab(HWND dlg, int index) {
    HWND tabs = ::GetDlgItem(dlg, IDC_LOGIN_TABS);
    RECT r{};
    ASSERT_TRUE(::SendMessageW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r)));
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ::SendMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(tabs, WM_LBUTTONUP, 0, at);
}

std::wstring TabText(HWND dlg, int index) {
    wchar_t text[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 64;
    ::SendDlgItemMessageW(dlg, IDC_LOGIN_TABS, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return text;
}

class Login : public ::testing::Test {
protected:
    void SetUp() override { main.dlg.ShowWindow(SW_HIDE); }

    TempFolder profile;
    MainWindow main{profile.path()};
    Server server{kAccounts};
    TestLoginDlg dlg{&main.dlg, server.BaseUrl()};
};

TEST_F(Login, OpensOnTheUserTabWithTheLogoAndThePasswordHidden) {
    ASSERT_TRUE(dlg.Create(IDD_LOGIN_DIALOG));
    EXPECT_EQ(WindowText(dlg.m_hWnd), L"Login");
    EXPECT_EQ(TabText(dlg.m_hWnd, 0), L"User");
    EXPECT_EQ(TabText(dlg.m_hWnd, 1), L"Facility Admin");
    EXPECT_EQ(::SendDlgItemMessageW(dlg.m_hWnd, IDC_LOGIN_TABS, TCM_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(ItemText(dlg.m_hWnd, IDC_LOGIN_NAME_LABEL), L"Username");
    EXPECT_FALSE(dlg.m_isAdmin);
    EXPECT_TRUE(::GetWindowLongW(::GetDlgItem(dlg.m_hWnd, IDC_LOGIN_PASSWORD), GWL_STYLE) & ES_PASSWORD);
    // The logo file lies beside the test program, the current folder of the run.
    HWND logo = ::GetDlgItem(dlg.m_hWnd, IDC_LOGIN_LOGO);
    EXPECT_EQ(::GetWindowLongW(logo, GWL_STYLE) & SS_TYPEMASK, SS_BITMAP);
    EXPECT_FALSE(dlg.m_logo.IsNull());
    EXPECT_NE(::SendMessageW(logo, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
    // Every static, and nothing else, stands on the white of the dialog.
    const auto white = reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
    for (HWND child = ::GetWindow(dlg.m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        ::GetClassNameW(child, cls, 32);
        const bool isStatic = _wcsicmp(cls, L"Static") == 0;
        const int id = ::GetDlgCtrlID(child);
        EXPECT_EQ((::GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_TRANSPARENT) != 0, isStatic) << id;
        if (!isStatic && _wcsicmp(cls, L"Edit") != 0) continue;
        HDC dc = ::GetDC(child);
        ::SetBkColor(dc, RGB(1, 2, 3));
        const LRESULT brush = ::SendMessageW(dlg.m_hWnd, isStatic ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT,
                                             reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child));
        EXPECT_EQ(brush == white, isStatic) << id;  // edits keep the default answer
        if (isStatic) {
            EXPECT_EQ(::GetBkColor(dc), RGB(255, 255, 255)) << id;
        }
        ::ReleaseDC(child, dc);
    }
    dlg.DestroyWindow();
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(Login, EveryTabChangeFlipsTheNameLabelAndEmptiesTheEdits) {
    struct Case {
        std::vector<int> clicks;
        const wchar_t* label;
        bool admin;
    };
    const Case cases[] = {
        {{1}, L"Email", true},
        {{1, 0}, L"Username", false},
        {{1, 1}, L"Email", true},  // the chosen tab again is no change
        {{0}, L"Username", false},
        {{1, 0, 1}, L"Email", true},
    };
    for (const Case& c : cases) {
        TestLoginDlg fresh(&main.dlg, server.BaseUrl());
        ASSERT_TRUE(fresh.Create(IDD_LOGIN_DIALOG));
        fresh.ShowWindow(SW_SHOWNOACTIVATE);
        std::string trace;
        for (int tab : c.clicks) {
            trace += std::to_string(tab) + " ";
            Type(fresh.m_hWnd, L"someone", L"pw");
            const bool change = tab != ::SendDlgItemMessageW(fresh.m_hWnd, IDC_LOGIN_TABS, TCM_GETCURSEL, 0, 0);
            ClickTab(fresh.m_hWnd, tab);
            EXPECT_EQ(::SendDlgItemMessageW(fresh.m_hWnd, IDC_LOGIN_TABS, TCM_GETCURSEL, 0, 0), tab) << trace;
            EXPECT_EQ(ItemText(fresh.m_hWnd, IDC_LOGIN_NAME), change ? L"" : L"someone") << trace;
            EXPECT_EQ(ItemText(fresh.m_hWnd, IDC_LOGIN_PASSWORD), change ? L"" : L"pw") << trace;
        }
        EXPECT_EQ(ItemText(fresh.m_hWnd, IDC_LOGIN_NAME_LABEL), c.label) << trace;
        EXPECT_EQ(fresh.m_isAdmin, c.admin) << trace;
        fresh.DestroyWindow();
    }
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(Login, AnEmptyNameOrPasswordSendsNothing) {
    struct Case {
        const wchar_t* name;
        const wchar_t* password;
    };
    const Case cases[] = {{L"jdoe", L""}, {L"", L"secret"}, {L"", L""}};
    const INT_PTR result = RunModal(dlg, {
        [&] { ::SetDlgItemTextW(dlg.m_hWnd, IDC_LOGIN_ERROR, L"as before"); },
        [&] {
            for (const Case& c : cases) {
                Type(dlg.m_hWnd, c.name, c.password);
                Press(dlg.m_hWnd, IDC_LOGIN_BUTTON);
                EXPECT_EQ(ItemText(dlg.m_hWnd, IDC_LOGIN_ERROR), L"as before");
                EXPECT_EQ(ItemText(dlg.m_hWnd, IDC_LOGIN_NAME), c.name);
                EXPECT_EQ(dlg.m_password.str(), c.password);
                EXPECT_TRUE(::IsWindowVisible(dlg.m_hWnd));
            }
            EXPECT_EQ(server.RequestCount(), 0u);
        },
        [&] { PostKey(VK_ESCAPE, dlg.m_hWnd); },
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dlg.exits, 1);
    EXPECT_FALSE(dlg.m_loggedIn);
    EXPECT_FALSE(main.dlg.IsWindowVisible());
}

TEST_F(Login, AWrongPasswordShowsTheErrorAndTheNextPressSendsAgain) {
    const INT_PTR result = RunModal(dlg, {
        [&] {
            Type(dlg.m_hWnd, L"jdoe", L"wrong");
            Press(dlg.m_hWnd, IDC_LOGIN_BUTTON);
            EXPECT_EQ(ItemText(dlg.m_hWnd, IDC_LOGIN_ERROR), L"Login Error. Check credentials.");
            EXPECT_EQ(ItemText(dlg.m_hWnd, IDC_LOGIN_NAME), L"jdoe");
            EXPECT_EQ(ItemText(dlg.m_hWnd, IDC_LOGIN_PASSWORD), L"wrong");
            EXPECT_FALSE(dlg.m_loggedIn);
            EXPECT_FALSE(main.dlg.IsWindowVisible());
        },
        [&] { Press(dlg.m_hWnd, IDC_LOGIN_BUTTON); },
        [&] {
            const auto requests = server.Requests();
            ASSERT_EQ(requests.size(), 2u);
            EXPECT_EQ(requests[1].target, requests[0].target);
            EXPECT_EQ(requests[1].QueryValue("password"), "wrong");
            ::SetDlgItemTextW(dlg.m_hWnd, IDC_LOGIN_PASSWORD, L"secret");
        },
        [&] { PostKey(VK_RETURN, ::GetDlgItem(dlg.m_hWnd, IDC_LOGIN_PASSWORD)); },  // Enter presses "Login"
    });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(dlg.m_loggedIn);
    EXPECT_EQ(dlg.exits, 0);
    ASSERT_TRUE(dlg.m_client && dlg.m_client->IsLoggedIn());
    EXPECT_EQ(dlg.m_client->baseUrl, server.BaseUrl());
    EXPECT_EQ(dlg.m_userName.str(), L"jdoe");
    // Three logins, then the lists of the account.
    EXPECT_GT(server.RequestCount(), 3u);
    EXPECT_EQ(ItemText(main.dlg.m_hWnd, IDC_BANNER), L"Welcome, jdoe!  |  02/03/2021 09:05");
    EXPECT_TRUE(main.dlg.IsWindowVisible());
}

TEST_F(Login, TheAdministratorFlagFollowsTheTabOfTheSuccessfulTry) {
    struct Case {
        int failTab;
        int successTab;
        const wchar_t* name;
        const wchar_t* password;
        bool admin;
    };
    const Case cases[] = {
        {1, 0, L"jdoe", L"secret", false},
        {0, 1, L"admin@example.com", L"admin", true},
        {-1, 1, L"admin@example.com", L"admin", true},
    };
    for (const Case& c : cases) {
        TestLoginDlg fresh(&main.dlg, server.BaseUrl());
        std::vector<std::function<void()>> steps;
        if (c.failTab >= 0) {
            steps.push_back([&] {
                ClickTab(fresh.m_hWnd, c.failTab);
                Type(fresh.m_hWnd, c.name, L"wrong");
                Press(fresh.m_hWnd, IDC_LOGIN_BUTTON);
                EXPECT_EQ(ItemText(fresh.m_hWnd, IDC_LOGIN_ERROR), L"Login Error. Check credentials.");
            });
        }
        steps.push_back([&] {
            ClickTab(fresh.m_hWnd, c.successTab);
            Type(fresh.m_hWnd, c.name, c.password);
            Press(fresh.m_hWnd, IDC_LOGIN_BUTTON);
        });
        EXPECT_EQ(RunModal(fresh, steps), 1) << c.successTab;
        ASSERT_TRUE(fresh.m_client->IsLoggedIn());
        EXPECT_EQ(fresh.m_client->session->isAdmin, c.admin) << c.failTab << " then " << c.successTab;
    }
}

TEST_F(Login, NamesPasswordsAndBannersTravelAsUtf8) {
    const INT_PTR result = RunModal(dlg, {[&] {
        Type(dlg.m_hWnd, L"Zo\u00EB", L"p\u00E4ssword");
        Press(dlg.m_hWnd, IDC_LOGIN_BUTTON);
    }});
    EXPECT_EQ(result, 1);
    const auto requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].QueryValue("username"), "Zo\xC3\xAB");
    EXPECT_EQ(ItemText(main.dlg.m_hWnd, IDC_BANNER), L"Welcome, Zo\u00EB \u00DCnal!  |  02/03/2021 09:05");
    EXPECT_EQ(CLoginDlg::BannerText("jdoe", LocalTime(2021, 12, 31, 23, 59)), "Welcome, jdoe!  |  12/31/2021 23:59");
}

TEST_F(Login, TheCallerTakesTheClientOver) {
    CendraClient* client = dlg.ReleaseClient();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(dlg.m_client, nullptr);
    EXPECT_EQ(dlg.ReleaseClient(), nullptr);
    delete client;
}

// The real end of the process: closing without a login lets every camera go, the live one even
// when the list no longer holds it, and exits with code 1.
class ProgramLoginDlg : public CLoginDlg {
public:
    ProgramLoginDlg(CLumetraDlg* main, std::string baseUrl) : CLoginDlg(main, std::move(baseUrl)) {}
};

TEST(LoginClosed, EndsTheProgramWithCode1AfterClosingEveryCamera) {
    struct Case {
        const char* how;
        bool liveListed;
        const char* closed;  // stderr, in order
    };
    const Case cases[] = {
        {"escape", true, "closed Cam One\\s+closed Cam Two"},
        {"close box", false, "closed Cam Two\\s+closed Cam One"},
    };
    TempFolder profile;
    for (const Case& c : cases) {
        EXPECT_EXIT(
            {
                // The child ends in exit(1): its folder goes at exit, not with its destructor.
                static std::wstring folder;
                folder = profile.path();
                std::atexit([] { RemoveTree(folder); });
                MainWindow main(profile.path());
                if (!c.liveListed) main.webcams->list = {&main.two};
                ProgramLoginDlg dlg(&main.dlg, "http://127.0.0.1:9");
                RunModal(dlg, {[&] {
                    if (std::string(c.how) == "escape") PostKey(VK_ESCAPE, dlg.m_hWnd);
                    else ::PostMessageW(dlg.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
                }});
                std::fprintf(stderr, "still running\n");
                std::exit(0);
            },
            ::testing::ExitedWithCode(1), c.closed)
            << c.how;
    }
}

}  // namespace

// What the online scenarios share: the cloud stand-in on the program's fixed endpoint, its
// fixture, the login dialog, the test-details panel and the files a capture leaves.
#pragma once
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include "standins/cloud/CendraStandin.h"
#include "tests/e2e/Scenario.h"
#include "tests/support/TestSupport.h"

namespace e2e {

// The program's endpoint is fixed at build time; only a build for this host can be served here.
#define SKIP_UNLESS_LOCAL_SERVICE()                                                         \
    if (std::string(LUMETRA_CENDRA_HOST) != "127.0.0.1")                                    \
    GTEST_SKIP() << "the program's service host is " LUMETRA_CENDRA_HOST ", not 127.0.0.1"

inline const WindowQuery kLoginDialog{L"#32770", L"Login"};

// Controls of the login dialog.
enum : int {
    kLoginPassword = 1005,
    kLoginName = 1034,
    kLoginButton = 1036,
    kLoginTabs = 1037,
    kLoginNameLabel = 1038,
    kLoginError = 1039,
};

// Controls of the main dialog's online part.
enum : int {
    kOpenReference = 1002,
    kLogout = 1010,
    kBanner = 1015,
    kNotice = 1021,
    kEditImages = 1023,
    kUpload = 1025,
    kComments = 1028,
    kRecommendedActions = 1029,
    kFacility = 1044,
    kLocation = 1045,
    kEndoscopeType = 1046,
    kSerial = 1047,
    kOperator = 1048,
    kTestResult = 1049,
    kModel = 1050,
};

struct Account {
    std::wstring name, password;
    bool admin;
    std::string replyName;  // the service's "username" for it
};
inline const Account kUser{L"jdoe", L"secret", false, "John Doe"};
// An e-mail address with "+", which a query must carry as %2B.
inline const Account kAdmin{L"qa+admin@example.com", L"adm1n", true, "QA Admin"};

// The stand-in's fixture: both accounts in one organisation, "T1001", with two locations (one
// non-ASCII), three endoscopes, two facilities and two testers.
extern const char kOnlineFixture[];

// The stand-in serving the fixture on 127.0.0.1:8080 while the object lives, with that port's
// lock held. A port still refused after three minutes throws Error with the socket error.
class CloudService {
public:
    CloudService();
    cendra_standin::Server& operator*() { return *m_server; }
    cendra_standin::Server* operator->() { return m_server.get(); }

private:
    ServicePortLock m_lock;
    std::unique_ptr<cendra_standin::Server> m_server;
};

// Online with the FK40 stand-in showing `pattern`, in a fresh images folder or sharing it; the
// camera's call log (LYC_STANDIN_LOG) in `cameraLog` when given.
RunOptions OnlineRun(bool freshImagesFolder = true, const std::wstring& cameraLog = L"",
                     const std::wstring& pattern = L"uniform");

// A log file path of the driver's own (ASCII, as the camera stand-in opens it with an 8-bit name),
// deleted with the object.
class TempLog {
public:
    TempLog();
    ~TempLog();
    const std::wstring& path() const { return m_path; }
    std::vector<std::string> Lines() const;

private:
    std::wstring m_path;
};

// A user's login at the shown Login dialog: the account's tab, name and password, the Login
// button. Returns the main dialog once it shows.
Window LogIn(const App& app, const Account& account);

// The index of the tab or entry with this text; throws when there is none.
int IndexOf(const std::vector<std::wstring>& items, const std::wstring& text, const std::string& where);
// The entries of a drop-down list as they are now. Window::ComboItems() may read a list while the
// program refills it; an entry gone meanwhile ends this reading instead.
std::vector<std::wstring> ComboTexts(const Window& combo);
// A user's pick of the entry with this text in a drop-down list.
void Pick(const Window& combo, const std::wstring& text);
// The selected entry's text; empty when none is selected.
std::wstring Selected(const Window& combo);

// What a user chooses in the panel. Serial and model follow from a type with one endoscope.
struct PanelChoice {
    std::wstring location = L"Endo Suite A", type = L"Flexible", operatorName = L"Ann Lee";
    std::wstring result = L"Pass";  // empty: left unset
    std::wstring actions = L"None", comments = L"Lens clear";
};
// Picks the choice in the main dialog's panel, each list once the one before it has filled it.
void FillPanel(const Window& dialog, const PanelChoice& choice);

// The eleven fields of a .meta file, in its order.
using MetaFields = std::vector<std::wstring>;
// Each field as UTF-8 followed by CR LF.
std::string MetaText(const MetaFields& fields);
// The fields of a .meta file's text (CR LF lines); what follows the last line end is one more field.
MetaFields ParseMeta(const std::string& text);
// <images>\metadata\<name without .bmp>.meta
std::wstring MetaPathOf(const std::wstring& folder, const std::wstring& bmpName);

// Writes a file, or fails the test.
void WriteOrFail(const std::wstring& path, const std::string& bytes);
// A 24-bit BMP of one colour.
std::string SolidBitmap(int width, int height, COLORREF colour);

// Whether every pixel inside the view's one-pixel frame is within `tolerance` of the colour; waits
// for the program to show it.
testing::AssertionResult ShowsColour(const Window& view, COLORREF colour, int tolerance = 3);

// The text a static shows, waited for (the program sets it on a notification it may still handle).
testing::AssertionResult ShowsText(const Window& control, const std::wstring& text, Duration timeout = 10s);

}  // namespace e2e

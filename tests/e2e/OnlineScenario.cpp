#include "tests/e2e/OnlineScenario.h"
#include <algorithm>
#include <atomic>
#include <stdexcept>
#include "standins/fk40/LycStandin.h"

namespace e2e {

const char kOnlineFixture[] = R"({
  "accounts": [
    {"username": "jdoe", "password": "secret",
     "reply": {"username": "John Doe", "organizationCode": "ORG-T", "velmoraId": "T1001"}},
    {"username": "qa+admin@example.com", "password": "adm1n",
     "reply": {"username": "QA Admin", "organizationCode": "ORG-T", "velmoraId": "T1001"}}
  ],
  "organisations": {
    "T1001": {
      "locations": [
        {"location": "Endo Suite A", "status": "Active"},
        {"location": "Zürich", "status": "Active"}
      ],
      "endoscopes": [
        {"location": "Endo Suite A", "endoscope": "Flexible", "serial": "S1", "model": "M1", "status": "Active"},
        {"location": "Endo Suite A", "endoscope": "Rigid", "serial": "S2", "model": "M1", "status": "Active"},
        {"location": "Zürich", "endoscope": "Flexible", "serial": "S3", "model": "M2", "status": "Active"}
      ],
      "facilities": [
        {"nameFacility": "North Clinic", "status": "Active"},
        {"nameFacility": "South Clinic", "status": "Active"}
      ],
      "testers": [
        {"first": "Ann", "last": "Lee", "status": "Active"},
        {"first": "Bo", "last": "Chen", "status": "Active"}
      ]
    }
  }
})";

CloudService::CloudService() {
    // The lock orders the scenarios of this Wine session. Another session (tests of another build
    // on the same machine) knows nothing of it, so a refused bind is retried for a while: the
    // port itself then keeps their programs and ours apart, as each program runs only while its
    // own test's server listens.
    std::string failure;
    WaitUntil([&] {
        try {
            m_server = std::make_unique<cendra_standin::Server>(kOnlineFixture, ServicePortLock::kPort);
            return true;
        } catch (const std::runtime_error& e) {
            failure = e.what();
            return false;
        }
    }, 3min);
    if (!m_server)
        throw Error("the cloud stand-in cannot serve 127.0.0.1:8080: " + failure);
}

RunOptions OnlineRun(bool freshImagesFolder, const std::wstring& cameraLog, const std::wstring& pattern) {
    RunOptions options = CameraRun(pattern);
    options.online = true;
    options.freshImagesFolder = freshImagesFolder;
    if (!cameraLog.empty())
        options.environment[L"" LYC_STANDIN_LOG] = cameraLog;
    return options;
}

TempLog::TempLog() {
    static std::atomic<int> logs{0};
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    m_path = std::wstring(temp) + L"lumetra-online-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++logs) + L".log";
    if (std::any_of(m_path.begin(), m_path.end(), [](wchar_t c) { return c > 0x7F; }))
        throw Error("the temporary folder's path is not ASCII: " + Narrow(m_path));
    DeleteFileW(m_path.c_str());
}

TempLog::~TempLog() { DeleteFileW(m_path.c_str()); }

std::vector<std::string> TempLog::Lines() const {
    std::string text = ReadBytes(m_path);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

int IndexOf(const std::vector<std::wstring>& items, const std::wstring& text, const std::string& where) {
    auto found = std::find(items.begin(), items.end(), text);
    if (found == items.end())
        throw Error("no \"" + Narrow(text) + "\" in " + where + ": " + testing::PrintToString(items));
    return int(found - items.begin());
}

namespace {

LRESULT SendTo(const Window& w, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(w.hwnd(), message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result))
        throw Error("sending message " + std::to_string(message) + " to " + w.Describe() + " failed, error " +
                    std::to_string(GetLastError()));
    return (LRESULT)result;
}

// Entry i's text; false when there is none (any more).
bool ComboText(const Window& combo, int i, std::wstring* text) {
    LRESULT length = SendTo(combo, CB_GETLBTEXTLEN, i, 0);
    if (length == CB_ERR)
        return false;
    std::wstring item((size_t)length + 1, L'\0');
    LRESULT n = SendTo(combo, CB_GETLBTEXT, i, (LPARAM)item.data());
    if (n == CB_ERR || n > length)  // changed between the two messages
        return false;
    item.resize((size_t)n);
    *text = item;
    return true;
}

}  // namespace

std::vector<std::wstring> ComboTexts(const Window& combo) {
    std::vector<std::wstring> items;
    const int count = (int)SendTo(combo, CB_GETCOUNT, 0, 0);
    std::wstring item;
    for (int i = 0; i < count && ComboText(combo, i, &item); ++i)
        items.push_back(item);
    return items;
}

void Pick(const Window& combo, const std::wstring& text) {
    PickComboItem(combo, IndexOf(ComboTexts(combo), text, combo.Describe()));
}

std::wstring Selected(const Window& combo) {
    std::wstring text;
    int index = (int)SendTo(combo, CB_GETCURSEL, 0, 0);
    return index >= 0 && ComboText(combo, index, &text) ? text : std::wstring();
}

Window LogIn(const App& app, const Account& account) {
    Window login = app.WaitForWindow(kLoginDialog);
    Window tabs = login.ChildOrThrow(kLoginTabs);
    SelectTab(tabs, IndexOf(TabItems(tabs), account.admin ? L"Facility Admin" : L"User", "the login's tabs"));
    login.ChildOrThrow(kLoginName).SetText(account.name);
    login.ChildOrThrow(kLoginPassword).SetText(account.password);
    login.ChildOrThrow(kLoginButton).Click();
    Window dialog = app.WaitForWindow(kMainDialog);
    app.WaitForNoWindow(kLoginDialog);
    return dialog;
}

void FillPanel(const Window& dialog, const PanelChoice& choice) {
    Window location = dialog.ChildOrThrow(kLocation), type = dialog.ChildOrThrow(kEndoscopeType);
    Window serial = dialog.ChildOrThrow(kSerial);
    Pick(location, choice.location);
    auto listsType = [&] {
        auto items = ComboTexts(type);
        return std::find(items.begin(), items.end(), choice.type) != items.end();
    };
    if (!WaitUntil(listsType, 10s))
        throw Error("the location's types did not come: " + testing::PrintToString(ComboTexts(type)));
    Pick(type, choice.type);
    if (!WaitUntil([&] { return !Selected(serial).empty(); }, 10s))
        throw Error("no serial chosen with the type: " + testing::PrintToString(ComboTexts(serial)));
    Pick(dialog.ChildOrThrow(kOperator), choice.operatorName);
    if (!choice.result.empty())
        Pick(dialog.ChildOrThrow(kTestResult), choice.result);
    dialog.ChildOrThrow(kRecommendedActions).SetText(choice.actions);
    dialog.ChildOrThrow(kComments).SetText(choice.comments);
}

std::string MetaText(const MetaFields& fields) {
    std::string text;
    for (const std::wstring& field : fields)
        text += Narrow(field) + "\r\n";
    return text;
}

MetaFields ParseMeta(const std::string& text) {
    MetaFields fields;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string line = text.substr(start, end - start);
        int n = MultiByteToWideChar(CP_UTF8, 0, line.data(), (int)line.size(), nullptr, 0);
        std::wstring wide(n, L'\0');
        MultiByteToWideChar(CP_UTF8, 0, line.data(), (int)line.size(), wide.data(), n);
        fields.push_back(wide);
    }
    if (start < text.size())
        fields.push_back(L"(after the last line end) " + std::wstring(text.begin() + start, text.end()));
    return fields;
}

std::wstring MetaPathOf(const std::wstring& folder, const std::wstring& bmpName) {
    std::wstring stem = bmpName.size() > 4 ? bmpName.substr(0, bmpName.size() - 4) : bmpName;
    return folder + L"\\metadata\\" + stem + L".meta";
}

void WriteOrFail(const std::wstring& path, const std::string& bytes) {
    if (!WriteBytes(path, bytes))
        throw Error("writing " + Narrow(path) + " failed, error " + std::to_string(GetLastError()));
}

std::string SolidBitmap(int width, int height, COLORREF colour) {
    const uint32_t stride = (uint32_t(width) * 3 + 3) / 4 * 4, image = stride * height;
    std::string f(54 + image, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            f[at + i] = char(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put32(2, uint32_t(f.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(width));
    put32(22, uint32_t(height));
    f[26] = 1;
    f[28] = 24;
    put32(34, image);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            size_t at = 54 + size_t(y) * stride + size_t(x) * 3;
            f[at] = char(GetBValue(colour));
            f[at + 1] = char(GetGValue(colour));
            f[at + 2] = char(GetRValue(colour));
        }
    return f;
}

testing::AssertionResult ShowsColour(const Window& view, COLORREF colour, int tolerance) {
    Picture p;
    size_t inside = 0, matching = 0;
    bool shown = WaitUntil([&] {
        p = view.ScreenPixels();
        inside = matching = 0;
        for (int y = 1; y + 1 < p.height; ++y)
            for (int x = 1; x + 1 < p.width; ++x) {
                ++inside;
                matching += NearColour(p.At(x, y), colour, tolerance);
            }
        return inside > 0 && matching == inside;
    }, 10s);
    if (shown)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << matching << " of " << inside << " pixels inside the frame near " << std::hex
                                       << colour << "; " << testing::PrintToString(p);
}

testing::AssertionResult ShowsText(const Window& control, const std::wstring& text, Duration timeout) {
    std::wstring shown;
    if (WaitUntil([&] { return (shown = control.Text()) == text; }, timeout))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << control.Describe() << " shows \"" << Narrow(shown) << "\", not \""
                                       << Narrow(text) << "\"";
}

}  // namespace e2e

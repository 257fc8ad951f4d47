// The test-details cascade on a location change (TestDetailsPanel::OnLocationChanged) over one
// location of 100, 1,000 and 5,000 endoscope records, in the main dialog's own sorted drop-down
// lists (template 102, made hidden), beside CB_ADDSTRING of the same strings, already wide, into
// one bare list of the same style. Medians of alternating rounds. Prints figures; asserts nothing.
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>
#include "bench/support/BenchSupport.h"
#include "cloud/CendraSession.h"
#include "cloud/Upload.h"
#include "res/resource.h"
#include "ui/TestDetailsPanel.h"

namespace {

constexpr int kRounds = 11;
constexpr int kModels = 37;
constexpr const char* kLocation = "Location A";

INT_PTR CALLBACK PlainDialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// One location as the login builds it: records of five types, 37 models, serials all distinct.
CendraSession MakeSession(int records) {
    const char* types[] = {"Flexible", "Rigid", "Colonoscope", "Gastroscope", "Bronchoscope"};
    CendraSession session;
    session.loggedIn = true;
    session.locations.push_back(kLocation);
    CendraLocation& location = session.locationsByName[kLocation];
    location.name = kLocation;
    for (int i = 0; i < records; ++i) {
        EndoscopeRecord r{types[i % 5], "SN-" + std::to_string(100000 + i), "Model " + std::to_string(i % kModels)};
        location.endoscopes.push_back(r);
        location.endoscopesByType[r.type].push_back(r);
        std::vector<std::string>& models = location.modelsByType[r.type];
        if (std::find(models.begin(), models.end(), r.model) == models.end()) models.push_back(r.model);
    }
    return session;
}

// What the cascade lists, in its order: the types, an empty entry, every serial, each model once,
// an empty entry after each of those lists.
std::vector<std::wstring> ListedStrings(const CendraLocation& location) {
    std::vector<std::wstring> strings;
    for (const auto& entry : location.endoscopesByType) strings.push_back(Utf8ToWide(entry.first));
    strings.push_back(L"");
    std::vector<std::string> models;
    for (const EndoscopeRecord& r : location.endoscopes) {
        strings.push_back(Utf8ToWide(r.serial));
        if (std::find(models.begin(), models.end(), r.model) == models.end()) models.push_back(r.model);
    }
    for (const std::string& model : models) strings.push_back(Utf8ToWide(model));
    strings.push_back(L"");
    strings.push_back(L"");
    return strings;
}

}  // namespace

int main() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_LUMETRA_DIALOG), nullptr,
                                     PlainDialogProc, 0);
    if (!dialog) {
        std::printf("cannot make the dialog from template 102 (is there a display?)\n");
        return 1;
    }
    ShowWindow(dialog, SW_HIDE);
    CWnd owner;
    owner.Attach(dialog);
    CComboBox facility, location, type, serial, model, operatorName, result;
    const struct {
        CComboBox* list;
        int id;
    } lists[] = {{&facility, IDC_FACILITY}, {&location, IDC_LOCATION}, {&type, IDC_ENDOSCOPE_TYPE},
                 {&serial, IDC_SERIAL},     {&model, IDC_MODEL},       {&operatorName, IDC_OPERATOR},
                 {&result, IDC_TEST_RESULT}};
    for (const auto& l : lists) l.list->Attach(GetDlgItem(dialog, l.id));
    // The bare list: the same class and style as the panel's (all of them share one), beside them.
    RECT at{};
    GetWindowRect(serial, &at);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&at), 2);
    HWND bare = CreateWindowExW(0, L"ComboBox", L"", GetWindowLongW(serial, GWL_STYLE) & ~WS_VISIBLE, at.left,
                                at.top, at.right - at.left, at.bottom - at.top, dialog, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    SendMessageW(bare, WM_SETFONT, SendMessageW(serial, WM_GETFONT, 0, 0), FALSE);
    HWND models = CreateWindowExW(0, L"ComboBox", L"", GetWindowLongW(serial, GWL_STYLE) & ~WS_VISIBLE, at.left,
                                  at.top, at.right - at.left, at.bottom - at.top, dialog, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);

    CendraLocation* current = nullptr;
    TestDetailsPanel panel({&facility, &location, &type, &serial, &model, &operatorName, &result, &owner,
                            IDC_COMMENTS, IDC_RECOMMENDED_ACTIONS},
                           current);

    std::printf("machine: %s\n", bench::MachineLine().c_str());
    std::printf("OnLocationChanged on template 102's sorted lists against CB_ADDSTRING of the same (wide) strings "
                "into one bare sorted list; medians of %d rounds, ms\n", kRounds);
    std::printf("%8s %8s %8s %8s %10s %10s %7s %10s\n", "records", "serials", "models", "strings", "cascade", "bare",
                "ratio", "look-ups");
    for (int records : {100, 1000, 5000}) {
        const CendraSession session = MakeSession(records);
        panel.Reset();
        panel.Fill(&session);
        location.SetCurSel(0);
        const std::vector<std::wstring> strings = ListedStrings(session.locationsByName.at(kLocation));
        panel.OnLocationChanged(&session);  // warm up: the lists have grown once
        for (const std::wstring& s : strings) SendMessageW(bare, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()));
        // The cascade's one search: per record, its model among those listed (a full list here).
        const CendraLocation& listed = session.locationsByName.at(kLocation);
        std::vector<std::wstring> recordModels;
        for (const EndoscopeRecord& r : listed.endoscopes) recordModels.push_back(Utf8ToWide(r.model));
        SendMessageW(models, CB_RESETCONTENT, 0, 0);
        for (int i = 0; i < kModels && i < records; ++i)
            SendMessageW(models, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(recordModels[i].c_str()));

        // Alternating, so that a slow spell of the machine meets both alike; each starts from the
        // lists the round before left, as a second location choice would.
        std::vector<double> cascade, plain, lookups;
        for (int round = 0; round < kRounds; ++round) {
            double t0 = bench::Milliseconds();
            panel.OnLocationChanged(&session);
            cascade.push_back(bench::Milliseconds() - t0);
            t0 = bench::Milliseconds();
            SendMessageW(bare, CB_RESETCONTENT, 0, 0);
            for (const std::wstring& s : strings)
                SendMessageW(bare, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()));
            plain.push_back(bench::Milliseconds() - t0);
            t0 = bench::Milliseconds();
            for (const std::wstring& m : recordModels)
                SendMessageW(models, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(m.c_str()));
            lookups.push_back(bench::Milliseconds() - t0);
        }
        const double c = bench::Median(cascade), b = bench::Median(plain);
        std::printf("%8d %8d %8d %8zu %10.2f %10.2f %7.2f %10.2f%s\n", records, serial.GetCount() - 1,
                    model.GetCount() - 1, strings.size(), c, b, b > 0 ? c / b : 0.0, bench::Median(lookups),
                    current ? "" : "  (no location found!)");
        std::fflush(stdout);
    }
    std::printf("goal: ratio at most 1.3; look-ups: the CB_FINDSTRINGEXACT calls alone (one a record, among the "
                "models), part of the cascade's time\n");

    for (const auto& l : lists) l.list->Detach();
    owner.Detach();
    DestroyWindow(dialog);
    return 0;
}

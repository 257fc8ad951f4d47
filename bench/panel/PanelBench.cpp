// The test-details cascade on a location change (TestDetailsPanel::OnLocationChanged) over one
// location of 100 to 200,000 endoscope records (20 types, serials and models all distinct, in
// ascending order as a service might send them), in the main dialog's own sorted drop-down lists
// (template 102, made hidden), beside CB_ADDSTRING of the same strings, already wide, into bare
// lists of the same style, one for each list the cascade fills. The strings come in ascending
// order, so every bare insert lands at the end: the bare lists pay for the list's binary search,
// not for moving entries. The cascade sorts its entries itself and adds each at the end with no
// search (SortedListFill), so it may take less time than the bare lists. Medians of alternating
// rounds. Prints figures; asserts nothing.
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>
#include "bench/support/BenchSupport.h"
#include "cloud/CendraSession.h"
#include "res/resource.h"
#include "ui/ImageMetadata.h"
#include "ui/TestDetailsPanel.h"

namespace {

constexpr int kTypes = 20;
constexpr const char* kLocation = "Location A";

INT_PTR CALLBACK PlainDialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

std::string Numbered(const char* prefix, int n) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%07d", prefix, n);
    return text;
}

// One location as the login builds it.
CendraSession MakeSession(int records) {
    CendraSession session;
    session.loggedIn = true;
    session.locations.push_back(kLocation);
    std::vector<EndoscopeRecord> endoscopes;
    endoscopes.reserve(static_cast<size_t>(records));
    for (int i = 0; i < records; ++i)
        endoscopes.push_back({Numbered("Type ", i % kTypes), Numbered("SN-", i), Numbered("MD-", i)});
    session.locationsByName.emplace(kLocation, BuildLocation(kLocation, std::move(endoscopes)));
    return session;
}

// What the cascade lists into each of its three lists, in its order: the types, every serial,
// each model once (exact bytes: here the models are distinct however compared), an empty entry
// after each.
std::vector<std::vector<std::wstring>> ListedStrings(const CendraLocation& location) {
    std::vector<std::vector<std::wstring>> lists(3);
    for (const auto& entry : location.endoscopesByType) lists[0].push_back(Utf8ToWide(entry.first));
    std::unordered_set<std::string> models;
    for (const EndoscopeRecord& r : location.endoscopes) {
        lists[1].push_back(Utf8ToWide(r.serial));
        if (models.insert(r.model).second) lists[2].push_back(Utf8ToWide(r.model));
    }
    for (auto& list : lists) list.push_back(L"");
    return lists;
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
    HWND bare[3];
    for (HWND& list : bare) {
        list = CreateWindowExW(0, L"ComboBox", L"", GetWindowLongW(serial, GWL_STYLE) & ~WS_VISIBLE, at.left, at.top,
                               at.right - at.left, at.bottom - at.top, dialog, nullptr, GetModuleHandleW(nullptr),
                               nullptr);
        SendMessageW(list, WM_SETFONT, SendMessageW(serial, WM_GETFONT, 0, 0), FALSE);
    }

    CendraLocation* current = nullptr;
    TestDetailsPanel panel({&facility, &location, &type, &serial, &model, &operatorName, &result, &owner,
                            IDC_COMMENTS, IDC_RECOMMENDED_ACTIONS},
                           current);

    std::printf("machine: %s\n", bench::MachineLine().c_str());
    std::printf("OnLocationChanged on template 102's sorted lists against CB_ADDSTRING of the same (wide) strings "
                "into bare sorted lists; medians, ms, and per record, us\n");
    std::printf("%8s %7s %8s %8s %8s %10s %10s %7s %9s %9s\n", "records", "rounds", "serials", "models", "strings",
                "cascade", "bare", "ratio", "casc/rec", "bare/rec");
    for (int records : {100, 1000, 5000, 20000, 200000}) {
        const int rounds = records <= 5000 ? 11 : records <= 20000 ? 5 : 3;
        const CendraSession session = MakeSession(records);
        panel.Reset();
        panel.Fill(&session);
        location.SetCurSel(0);
        const std::vector<std::vector<std::wstring>> strings = ListedStrings(session.locationsByName.at(kLocation));
        size_t count = 0;
        for (const auto& list : strings) count += list.size();
        auto addBare = [&] {
            for (size_t i = 0; i < 3; ++i) {
                SendMessageW(bare[i], CB_RESETCONTENT, 0, 0);
                for (const std::wstring& s : strings[i])
                    SendMessageW(bare[i], CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()));
            }
        };
        panel.OnLocationChanged(&session);  // warm up: the lists have grown once
        addBare();

        // Alternating, so that a slow spell of the machine meets both alike; each starts from the
        // lists the round before left, as a second location choice would.
        std::vector<double> cascade, plain;
        for (int round = 0; round < rounds; ++round) {
            double t0 = bench::Milliseconds();
            panel.OnLocationChanged(&session);
            cascade.push_back(bench::Milliseconds() - t0);
            t0 = bench::Milliseconds();
            addBare();
            plain.push_back(bench::Milliseconds() - t0);
        }
        const double c = bench::Median(cascade), b = bench::Median(plain);
        std::printf("%8d %7d %8d %8d %8zu %10.2f %10.2f %7.2f %9.2f %9.2f%s\n", records, rounds,
                    serial.GetCount() - 1, model.GetCount() - 1, count, c, b, b > 0 ? c / b : 0.0,
                    c * 1000.0 / records, b * 1000.0 / records, current ? "" : "  (no location found!)");
        std::fflush(stdout);
    }
    std::printf("goal: ratio at most 1.3, and the cascade's time per record flat from 5,000 records to 200,000\n");

    for (const auto& l : lists) l.list->Detach();
    owner.Detach();
    DestroyWindow(dialog);
    return 0;
}

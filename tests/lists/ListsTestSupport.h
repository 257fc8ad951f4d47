// What the thumbnail-list tests share: bitmaps written pixel by pixel, a real main dialog on fake
// devices in this process, dialogs run modally with a script, and list views read back.
#pragma once
#include <gtest/gtest.h>
#include "cloud/Upload.h"
#include "framework/Framework.h"
#include "res/resource.h"
#include "tests/support/FakeVideo.h"
#include "tests/support/Files.h"
#include "ui/ImageMetadata.h"
#include "ui/LumetraDlg.h"
#include "video/CompositeVideoSourceProvider.h"
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A 24-bit bottom-up .bmp of width x height whose pixel (x, y from the top) is colour(x, y).
inline std::string BmpBytes(int width, int height, const std::function<COLORREF(int, int)>& colour) {
    const int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(stride * height);
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = static_cast<DWORD>(stride * height);
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    std::string row(static_cast<size_t>(stride), '\0');
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const COLORREF c = colour(x, y);
            row[static_cast<size_t>(x) * 3] = static_cast<char>(GetBValue(c));
            row[static_cast<size_t>(x) * 3 + 1] = static_cast<char>(GetGValue(c));
            row[static_cast<size_t>(x) * 3 + 2] = static_cast<char>(GetRValue(c));
        }
        bytes += row;
    }
    return bytes;
}

inline bool WriteSolidBmp(const std::wstring& path, COLORREF colour, int width = 32, int height = 24) {
    return WriteBytes(path, BmpBytes(width, height, [colour](int, int) { return colour; }));
}

// Rows of a list view as (text, image index).
struct Row {
    std::wstring text;
    int image = -1;
};
inline std::vector<Row> Rows(HWND list) {
    std::vector<Row> rows;
    const int n = ListView_GetItemCount(list);
    for (int i = 0; i < n; ++i) {
        wchar_t text[512] = {};
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = i;
        item.pszText = text;
        item.cchTextMax = 512;
        ListView_GetItem(list, &item);
        rows.push_back({text, item.iImage});
    }
    return rows;
}
// The row labelled name (-1 when none).
inline int RowNamed(HWND list, const std::wstring& name) {
    const std::vector<Row> rows = Rows(list);
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].text == name) return static_cast<int>(i);
    return -1;
}
// Selects one row as a click would (the others lose selection); -1 clears the selection.
inline void SelectRow(HWND list, int row) {
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (row >= 0) ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

inline std::wstring ItemText(HWND dlg, int id) {
    wchar_t text[512] = {};
    GetDlgItemTextW(dlg, id, text, 512);
    return text;
}
inline void Click(HWND dlg, int id) {
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

// A dialog run modally with a script: the script runs inside the modal loop once the dialog is
// up. Should the dialog still be open 10 s later, it ends with kStillOpen so a test cannot hang.
// (A timer, not a posted message: the dialog manager posts the close box's IDCANCEL itself.)
constexpr UINT kRunScriptMessage = WM_APP + 77;
constexpr UINT_PTR kWatchdogTimer = 0x5C71;
constexpr int kStillOpen = -77;

template <class Dlg>
class Scripted : public Dlg {
public:
    using Dlg::Dlg;
    std::function<void(Scripted&)> script;
    using Dlg::EndDialog;

protected:
    BOOL OnInitDialog() override {
        BOOL focus = Dlg::OnInitDialog();
        this->PostMessage(kRunScriptMessage);
        return focus;
    }
    LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
        if (msg == kRunScriptMessage) {
            // Armed after the script: a nested dialog it runs must not trip this one's.
            if (script) script(*this);
            this->SetTimer(kWatchdogTimer, 10000);
            return 0;
        }
        if (msg == WM_TIMER && w == kWatchdogTimer) {
            this->KillTimer(kWatchdogTimer);
            this->EndDialog(kStillOpen);
            return 0;
        }
        return Dlg::WindowProc(msg, w, l);
    }
};

// Ways a user ends a dialog from the keyboard or the frame.
inline void PressKey(HWND dlg, UINT key) { PostMessageW(dlg, WM_KEYDOWN, key, 0); }
inline void PressCloseBox(HWND dlg) { PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); }

struct FakeSource : FakeCamera {
    FakeSource() : FakeCamera("Cam") {}
};

// The program's main dialog (offline at start; tests switch m_online) with the profile in a
// temporary folder and its message boxes kept.
class TestMainDlg : public CLumetraDlg {
public:
    explicit TestMainDlg(std::wstring profile) : CLumetraDlg(FALSE), m_profile(std::move(profile)) {}
    std::vector<std::wstring> boxes;

protected:
    bool ProfileFolder(std::wstring& folder) override {
        folder = m_profile;
        return true;
    }
    int ShowMessage(const wchar_t* text, const wchar_t*, UINT) override {
        boxes.push_back(text);
        return IDOK;
    }

private:
    std::wstring m_profile;
};

// A main dialog in a fresh profile: images in <temp>\Lumetra, references and metadata below it.
class MainDialogFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.ok());
        webcams->list.push_back(&source);
        main = std::make_unique<TestMainDlg>(temp.path());
        main->m_provider = &provider;
        ASSERT_TRUE(main->Create(IDD_LUMETRA_DIALOG));
        ASSERT_EQ(main->m_imagesFolder, temp.path() + L"\\Lumetra");
    }
    void TearDown() override {
        if (main) main->DestroyWindow();
        main.reset();
    }
    std::wstring Images() const { return main->m_imagesFolder; }
    std::wstring Image(const std::wstring& name) const { return main->m_imagesFolder + L"\\" + name; }
    std::wstring Reference(const std::wstring& name) const {
        return main->m_imagesFolder + L"\\ReferenceImages\\" + name;
    }
    void WriteMeta(const std::wstring& imageName, const ImageMetadata& record) {
        const std::wstring stem = imageName.substr(0, imageName.rfind(L'.'));
        ASSERT_TRUE(WriteMetaFile(main->m_metadataFolder, stem + L".meta", record));
    }

    TempFolder temp;
    FakeSource source;
    FakeProvider* webcams = new FakeProvider;
    CompositeVideoSourceProvider provider{webcams, new FakeProvider};
    std::unique_ptr<TestMainDlg> main;
};

// A record whose every field names itself, so that a field shown in the wrong place is seen.
inline ImageMetadata NamedDetails(const std::wstring& tag) {
    ImageMetadata m;
    m.facility = tag + L" facility";
    m.location = tag + L" location";
    m.testDate = tag + L" date";
    m.testTime = tag + L" time";
    m.operatorName = tag + L" operator";
    m.serial = tag + L" serial";
    m.model = tag + L" model";
    m.endoscopeType = tag + L" type";
    m.recommendedActions = tag + L" actions";
    m.testResult = tag + L" result";
    m.comments = tag + L" comments";
    return m;
}

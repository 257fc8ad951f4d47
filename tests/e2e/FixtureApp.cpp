// A small dialog program with known behaviour, for testing the end-to-end driver itself.
// Every reaction is one line on the standard output, so that a test can see it happened.
//   --box   a message box "Fixture Notice" before the dialog
//   --hang  no window, never ends
//   --exit  no window, ends at once with FIXTURE_EARLY_EXIT_CODE
// "Pick" opens the shell's folder picker in the folder named by E2E_FIXTURE_FOLDER, as a program
// without a file dialog class of its own does.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <initializer_list>
#include "tests/e2e/FixtureApp.h"

namespace {

COLORREF g_swatch = FIXTURE_SWATCH_FIRST;
HBRUSH g_swatchBrush;

void Say(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    vwprintf(format, args);
    va_end(args);
    wprintf(L"\n");
    fflush(stdout);
}

void SayStartUp() {
    wchar_t path[MAX_PATH] = L"";
    HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, path);
    Say(L"profile=%ls", SUCCEEDED(hr) ? path : L"(none)");
    GetCurrentDirectoryW(MAX_PATH, path);
    Say(L"cwd=%ls", path);
    wchar_t value[256] = L"";
    GetEnvironmentVariableW(L"E2E_FIXTURE_VALUE", value, 256);
    Say(L"value=%ls", value);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(L"*", &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                Say(L"file=%ls", entry.cFileName);
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
}

void KeepAnchorInCorner(HWND dialog) {
    HWND anchor = GetDlgItem(dialog, IDC_FIXTURE_ANCHOR);
    RECT client, r;
    GetClientRect(dialog, &client);
    GetWindowRect(anchor, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    MoveWindow(anchor, client.right - FIXTURE_ANCHOR_MARGIN - w,
               client.bottom - FIXTURE_ANCHOR_MARGIN - h, w, h, TRUE);
}

void PickFolder() {
    IFileOpenDialog* picker = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&picker)))) {
        Say(L"picked=(no dialog)");
        return;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    picker->GetOptions(&options);
    picker->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    wchar_t start[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"E2E_FIXTURE_FOLDER", start, MAX_PATH);
    IShellItem* folder = nullptr;
    if (*start && SUCCEEDED(SHCreateItemFromParsingName(start, nullptr, IID_PPV_ARGS(&folder)))) {
        picker->SetDefaultFolder(folder);
        picker->SetFolder(folder);
        folder->Release();
    }
    IShellItem* result = nullptr;
    wchar_t* path = nullptr;
    if (SUCCEEDED(picker->Show(nullptr)) && SUCCEEDED(picker->GetResult(&result)) &&
        SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        Say(L"picked=%ls", path);
        CoTaskMemFree(path);
    } else {
        Say(L"picked=(cancelled)");
    }
    if (result)
        result->Release();
    picker->Release();
}

void OnCommand(HWND dialog, int id, int code) {
    wchar_t text[256] = L"";
    switch (id) {
    case IDC_FIXTURE_GREET:
        Say(L"greet");
        break;
    case IDC_FIXTURE_ANCHOR:
        Say(L"anchor");
        break;
    case IDC_FIXTURE_DISABLED:
        Say(L"disabled clicked");
        break;
    case IDC_FIXTURE_RECOLOUR:
        g_swatch = g_swatch == FIXTURE_SWATCH_FIRST ? FIXTURE_SWATCH_SECOND : FIXTURE_SWATCH_FIRST;
        DeleteObject(g_swatchBrush);
        g_swatchBrush = CreateSolidBrush(g_swatch);
        InvalidateRect(GetDlgItem(dialog, IDC_FIXTURE_SWATCH), nullptr, TRUE);
        Say(L"colour=%06lx", (unsigned long)g_swatch);
        break;
    case IDC_FIXTURE_PICK:
        PickFolder();
        break;
    case IDC_FIXTURE_QUIT:
        wprintf(L"quitting\n");  // not flushed: exit() must do it
        exit(FIXTURE_QUIT_CODE);
    case IDC_FIXTURE_ASK: {
        int answer = MessageBoxW(dialog, L"Proceed?", L"Question", MB_YESNO | MB_ICONQUESTION);
        Say(L"answer=%ls", answer == IDYES ? L"yes" : L"no");
        break;
    }
    case IDC_FIXTURE_NAME:
        if (code == EN_CHANGE) {
            GetDlgItemTextW(dialog, id, text, 256);
            Say(L"name=%ls", text);
        }
        break;
    case IDC_FIXTURE_CHOICE:
        if (code == CBN_SELCHANGE) {
            HWND combo = GetDlgItem(dialog, id);
            SendMessageW(combo, CB_GETLBTEXT, SendMessageW(combo, CB_GETCURSEL, 0, 0), (LPARAM)text);
            Say(L"choice=%ls", text);
        }
        break;
    }
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        for (const wchar_t* item : {L"Gamma", L"Alpha", L"Beta"})
            SendDlgItemMessageW(dialog, IDC_FIXTURE_CHOICE, CB_ADDSTRING, 0, (LPARAM)item);
        KeepAnchorInCorner(dialog);
        return TRUE;
    case WM_SIZE:
        KeepAnchorInCorner(dialog);
        return TRUE;
    case WM_CTLCOLORSTATIC:
        if (GetDlgCtrlID((HWND)lParam) == IDC_FIXTURE_SWATCH)
            return (INT_PTR)g_swatchBrush;
        return FALSE;
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_BTNFACE));
        DrawTextW(item->hDC, L"Anchor", -1, &item->rcItem, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        return TRUE;
    }
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        Say(L"closing");
        DestroyWindow(dialog);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    SayStartUp();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    g_swatchBrush = CreateSolidBrush(g_swatch);
    if (wcsstr(commandLine, L"--hang")) {
        Say(L"hanging");
        Sleep(INFINITE);
    }
    if (wcsstr(commandLine, L"--exit"))
        return FIXTURE_EARLY_EXIT_CODE;
    if (wcsstr(commandLine, L"--box")) {
        MessageBoxW(nullptr, L"Starting up", L"Fixture Notice", MB_OK | MB_ICONINFORMATION);
        Say(L"box closed");
    }
    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_FIXTURE), nullptr, DialogProc, 0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if ((msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) &&
            (msg.hwnd == dialog || IsChild(dialog, msg.hwnd)))
            Say(L"key %ls %u", msg.message == WM_KEYDOWN ? L"down" : L"up", (unsigned)msg.wParam);
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    Say(L"ended");
    return (int)msg.wParam;
}

#include "tests/e2e/AppDriver.h"
#include "tests/support/Files.h"
#include "tests/support/TestSupport.h"
#include <shlobj.h>
#include <commctrl.h>
#include <algorithm>
#include <atomic>
#include <sstream>

namespace e2e {
namespace {

// A target busy for longer than this counts as hung.
constexpr UINT kMessageTimeoutMs = 10000;

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), (int)a.size(), b.c_str(), (int)b.size(), TRUE) == CSTR_EQUAL;
}

std::string LastError(const std::string& what) {
    return what + " failed, error " + std::to_string(GetLastError());
}

std::wstring FullPath(const std::wstring& path) {
    std::wstring p = path;
    std::replace(p.begin(), p.end(), L'/', L'\\');
    wchar_t buffer[MAX_PATH];
    DWORD n = GetFullPathNameW(p.c_str(), MAX_PATH, buffer, nullptr);
    return n && n < MAX_PATH ? std::wstring(buffer, n) : p;
}

void FreshFolder(const std::wstring& path) {
    if (Exists(path))
        RemoveTree(path);  // left by a killed driver whose process id came round again
    if (!CreateDirectoryW(path.c_str(), nullptr))
        throw Error(LastError("creating " + Narrow(path)));
}

void Copy(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE))
        throw Error(LastError("copying " + Narrow(from) + " to " + Narrow(to)));
}

HANDLE InheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE file = CreateFileW(path.c_str(), access,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw Error(LastError("opening " + Narrow(path)));
    return file;
}

// Environment blocks must be sorted by name, case-insensitively.
struct NameLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return CompareStringOrdinal(a.c_str(), (int)a.size(), b.c_str(), (int)b.size(), TRUE) ==
               CSTR_LESS_THAN;
    }
};

std::wstring EnvironmentBlock(const std::map<std::wstring, std::wstring>& changes) {
    std::map<std::wstring, std::wstring, NameLess> vars;
    std::vector<std::wstring> hidden;  // "=C:=C:\..." entries: per-drive folders, kept in front
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* p = strings; *p; p += wcslen(p) + 1) {
        std::wstring entry = p;
        size_t eq = entry.find(L'=', 1);
        if (entry[0] == L'=' || eq == std::wstring::npos)
            hidden.push_back(entry);
        else
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    FreeEnvironmentStringsW(strings);
    for (const auto& [name, value] : changes) {
        vars.erase(name);
        vars[name] = value;
    }
    std::wstring block;
    for (const auto& entry : hidden)
        block += entry + L'\0';
    for (const auto& [name, value] : vars)
        block += name + L'=' + value + L'\0';
    return block + L'\0';
}

std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

std::string RectText(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

}  // namespace

std::string Narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), out.data(), n, nullptr, nullptr);
    return out;
}

bool WaitUntil(const std::function<bool()>& done, Duration timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        Sleep(50);
    }
}

std::wstring BinDir() { return FullPath(FromBuild(LUMETRA_E2E_BIN_DIR)); }
std::wstring StandinsDir() { return FullPath(FromBuild(LUMETRA_E2E_STANDINS_DIR)); }

RECT DialogUnitsToPixels(RECT units, const wchar_t* face, WORD points) {
    // An empty DLGTEMPLATEEX with that font, created hidden in this process: the same dialog
    // manager and fonts as the program's, so the same base units.
    std::vector<WORD> t;
    auto dword = [&](DWORD v) { t.push_back(LOWORD(v)); t.push_back(HIWORD(v)); };
    t.push_back(1);                      // dlgVer
    t.push_back(0xFFFF);                 // signature
    dword(0);                            // helpID
    dword(0);                            // exStyle
    dword(DS_SETFONT | DS_FIXEDSYS | WS_POPUP | WS_CAPTION);
    t.insert(t.end(), {0, 0, 0, 100, 100});  // no items; x, y, cx, cy
    t.insert(t.end(), {0, 0, 0});        // no menu, default class, empty title
    t.push_back(points);
    t.push_back(0);                      // weight
    t.push_back(MAKEWORD(FALSE, DEFAULT_CHARSET));
    for (const wchar_t* c = face; *c; ++c)
        t.push_back(*c);
    t.push_back(0);
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                             reinterpret_cast<LPCDLGTEMPLATEW>(t.data()), nullptr,
                                             PlainDialogProc, 0);
    if (!dialog)
        throw Error(LastError("creating a dialog to measure dialog units"));
    MapDialogRect(dialog, &units);
    DestroyWindow(dialog);
    return units;
}

size_t Picture::Count(const std::function<bool(COLORREF)>& matches) const {
    return (size_t)std::count_if(pixels.begin(), pixels.end(), matches);
}

Picture Picture::Part(const RECT& r) const {
    RECT all{0, 0, width, height}, in;
    Picture part;
    if (!IntersectRect(&in, &all, &r))
        return part;
    part.width = in.right - in.left;
    part.height = in.bottom - in.top;
    for (int y = in.top; y < in.bottom; ++y)
        part.pixels.insert(part.pixels.end(), pixels.begin() + size_t(y) * width + in.left,
                           pixels.begin() + size_t(y) * width + in.right);
    return part;
}

void PrintTo(const Picture& picture, std::ostream* out) {
    std::map<COLORREF, size_t> counts;
    for (COLORREF c : picture.pixels)
        ++counts[c];
    std::vector<std::pair<size_t, COLORREF>> common;
    for (const auto& [colour, count] : counts)
        common.emplace_back(count, colour);
    std::sort(common.rbegin(), common.rend());
    *out << picture.width << "x" << picture.height << " pixels, commonest RGB:";
    char text[16];
    for (size_t i = 0; i < common.size() && i < 5; ++i) {
        snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(common[i].second), GetGValue(common[i].second),
                 GetBValue(common[i].second));
        *out << " " << text << " x" << common[i].first;
    }
}

bool NearColour(COLORREF a, COLORREF b, int tolerance) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
           std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

std::wstring ProfileFolder() {
    wchar_t profile[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile)))
        throw Error("no profile folder");
    return profile;
}

std::wstring ImagesFolder() { return ProfileFolder() + L"\\Lumetra"; }

// ---- Window

HWND Window::require() const {
    if (!m_hwnd)
        throw Error("use of a window that was not found");
    return m_hwnd;
}

void Window::post(UINT message, WPARAM wParam, LPARAM lParam) const {
    if (!PostMessageW(require(), message, wParam, lParam))
        throw Error(LastError("posting message " + std::to_string(message) + " to " + Describe()));
}

LRESULT Window::send(UINT message, WPARAM wParam, LPARAM lParam) const {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(require(), message, wParam, lParam, SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &result))
        throw Error(LastError("sending message " + std::to_string(message) + " to " + Describe()));
    return (LRESULT)result;
}

std::wstring Window::Text() const {
    size_t length = (size_t)send(WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(length + 1, L'\0');
    size_t n = (size_t)send(WM_GETTEXT, length + 1, (LPARAM)text.data());
    text.resize(std::min(n, length));
    return text;
}

std::wstring Window::ClassName() const {
    wchar_t name[256];
    int n = GetClassNameW(require(), name, 256);
    return std::wstring(name, n);
}

bool Window::IsClass(const std::wstring& name) const { return SameText(ClassName(), name); }

int Window::Id() const { return GetDlgCtrlID(require()); }
DWORD Window::Style() const { return (DWORD)GetWindowLongW(require(), GWL_STYLE); }
DWORD Window::ExStyle() const { return (DWORD)GetWindowLongW(require(), GWL_EXSTYLE); }
bool Window::Visible() const { return IsWindowVisible(require()); }
bool Window::Enabled() const { return IsWindowEnabled(require()); }

RECT Window::ClientRect() const {
    RECT r{};
    GetClientRect(require(), &r);
    return r;
}

RECT Window::ScreenRect() const {
    RECT r{};
    GetWindowRect(require(), &r);
    return r;
}

RECT Window::RectInParent() const {
    RECT r = ScreenRect();
    MapWindowPoints(nullptr, GetAncestor(m_hwnd, GA_PARENT), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

SIZE Window::ClientSize() const {
    RECT r = ClientRect();
    return {r.right - r.left, r.bottom - r.top};
}

Window Window::Child(int id) const { return Window(GetDlgItem(require(), id)); }

Window Window::ChildOrThrow(int id) const {
    Window child = Child(id);
    if (!child)
        throw Error("no control " + std::to_string(id) + " in " + Describe());
    return child;
}

std::vector<Window> Window::Children() const {
    std::vector<Window> children;
    for (HWND child = GetWindow(require(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.emplace_back(child);
    return children;
}

void Window::Click() const {
    if (!Visible() || !Enabled())
        throw Error("a user cannot click " + Describe() + ": hidden or disabled");
    // BM_CLICK can fail on a dialog that is not active; the notification itself cannot.
    PostMessageW(GetParent(m_hwnd), WM_COMMAND, MAKEWPARAM(Id(), BN_CLICKED), (LPARAM)m_hwnd);
}

void Window::MouseClick() const {
    if (!Visible() || !Enabled())
        throw Error("a user cannot click " + Describe() + ": hidden or disabled");
    SIZE size = ClientSize();
    LPARAM at = MAKELPARAM(size.cx / 2, size.cy / 2);
    post(WM_LBUTTONDOWN, MK_LBUTTON, at);
    post(WM_LBUTTONUP, 0, at);
}

void Window::SetText(const std::wstring& text) const { send(WM_SETTEXT, 0, (LPARAM)text.c_str()); }

void Window::Type(const std::wstring& text) const {
    for (wchar_t c : text)
        post(WM_CHAR, c, 1);
}

static LPARAM KeyData(UINT vk, bool up) {
    LPARAM data = 1 | (LPARAM(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16);
    return up ? data | (1 << 30) | (LPARAM(1) << 31) : data;
}

void Window::PostKeyDown(UINT vk) const { post(WM_KEYDOWN, vk, KeyData(vk, false)); }
void Window::PostKeyUp(UINT vk) const { post(WM_KEYUP, vk, KeyData(vk, true)); }

void Window::PressKey(UINT vk) const {
    PostKeyDown(vk);
    PostKeyUp(vk);
}

void Window::Close() const { post(WM_CLOSE, 0, 0); }

void Window::Resize(int width, int height) const {
    // Asynchronous, so that a hung program cannot block the driver; then wait for the new size
    // and for the window's thread to have finished handling it.
    // Without a window manager Wine now and then applies a late configure event of the X server
    // over the new size; asked again, as a user would drag again, the size holds.
    auto sized = [&] {
        RECT r = ScreenRect();
        return r.right - r.left == width && r.bottom - r.top == height;
    };
    bool resized = false;
    for (int attempt = 0; attempt < 3 && !resized; ++attempt) {
        SetWindowPos(require(), nullptr, 0, 0, width, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
        resized = WaitUntil(sized, 10s);
    }
    if (!resized)
        throw Error("resizing " + Describe() + " to " + std::to_string(width) + "x" +
                    std::to_string(height) + " left it at " + RectText(ScreenRect()));
    send(WM_NULL, 0, 0);
}

std::vector<std::wstring> Window::ComboItems() const {
    std::vector<std::wstring> items;
    int count = (int)send(CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        // The program may refill the list meanwhile: a vanished entry (CB_ERR) ends the reading.
        LRESULT length = send(CB_GETLBTEXTLEN, i, 0);
        if (length < 0) break;
        std::wstring item((size_t)length + 1, L'\0');
        LRESULT got = send(CB_GETLBTEXT, i, (LPARAM)item.data());
        if (got < 0 || got > length) break;
        item.resize((size_t)got);
        items.push_back(item);
    }
    return items;
}

int Window::ComboSelection() const { return (int)send(CB_GETCURSEL, 0, 0); }

void Window::SelectComboItem(int index) const {
    if (send(CB_SETCURSEL, index, 0) != index)
        throw Error("no item " + std::to_string(index) + " in " + Describe());
    PostMessageW(GetParent(m_hwnd), WM_COMMAND, MAKEWPARAM(Id(), CBN_SELCHANGE), (LPARAM)m_hwnd);
}

namespace {

// A visible window above `root` in the Z order that overlaps `area` (screen coordinates).
HWND CoveringWindow(HWND root, const RECT& area) {
    for (HWND w = GetWindow(root, GW_HWNDPREV); w; w = GetWindow(w, GW_HWNDPREV)) {
        RECT r, overlap;
        if (IsWindowVisible(w) && GetWindowRect(w, &r) && IntersectRect(&overlap, &r, &area))
            return w;
    }
    return nullptr;
}

Picture GrabScreen(const RECT& area) {
    Picture picture;
    picture.width = area.right - area.left;
    picture.height = area.bottom - area.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (dib && memory) {
        HGDIOBJ old = SelectObject(memory, dib);
        copied = BitBlt(memory, 0, 0, picture.width, picture.height, screen, area.left, area.top,
                        SRCCOPY | CAPTUREBLT);
        GdiFlush();
        SelectObject(memory, old);
    }
    if (copied) {
        const auto* p = static_cast<const DWORD*>(bits);
        picture.pixels.resize(size_t(picture.width) * picture.height);
        for (size_t i = 0; i < picture.pixels.size(); ++i)
            picture.pixels[i] = RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF);
    }
    if (dib)
        DeleteObject(dib);
    if (memory)
        DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!copied)
        throw Error(LastError("copying pixels from the screen"));
    return picture;
}

}  // namespace

Picture Window::ScreenPixels() const {
    if (!Visible())
        throw Error("no pixels of " + Describe() + ": hidden");
    HWND root = GetAncestor(require(), GA_ROOT);
    RECT area = ClientRect();
    MapWindowPoints(m_hwnd, nullptr, reinterpret_cast<POINT*>(&area), 2);
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, inside;
    if (!IntersectRect(&inside, &area, &screen) || !EqualRect(&inside, &area))
        throw Error("no pixels of " + Describe() + ": not all on the screen at " + RectText(area));
    Picture picture;
    HWND cover = nullptr;
    bool raised = false;
    bool grabbed = WaitUntil([&] {
        if ((cover = CoveringWindow(root, area))) {
            SetWindowPos(root, HWND_TOP, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
            raised = true;
            return false;
        }
        if (raised) {  // what was under the other window is shown again once the program repainted it
            Window(root).Repaint();
            raised = false;
        }
        picture = GrabScreen(area);
        return !(cover = CoveringWindow(root, area));  // not covered meanwhile
    }, 10s);
    if (!grabbed)
        throw Error("no pixels of " + Describe() + ": covered by " + Window(cover).Describe());
    return picture;
}

void Window::Repaint() const {
    RedrawWindow(require(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    // The repaint comes once the program's queue is empty; a window repainted all the time (a
    // live picture) never has an empty update region, so this only waits so long.
    WaitUntil([&] { return !GetUpdateRect(m_hwnd, nullptr, FALSE); }, 2s);
    send(WM_NULL, 0, 0);
    Sleep(200);  // the system shows a repainted surface a moment later
}

void Window::Activate() const {
    HWND root = GetAncestor(require(), GA_ROOT);
    bool active = WaitUntil([&] {
        if (GetForegroundWindow() == root)
            return true;
        SetForegroundWindow(root);
        return false;
    }, 10s);
    if (!active)
        throw Error("cannot activate " + Window(root).Describe() + "; the foreground window is " +
                    Window(GetForegroundWindow()).Describe());
    send(WM_NULL, 0, 0);  // it has handled its activation
}

std::vector<Window> Window::Descendants() const {
    std::vector<Window> found;
    for (const Window& child : Children()) {
        found.push_back(child);
        for (const Window& grandchild : child.Descendants())
            found.push_back(grandchild);
    }
    return found;
}

std::vector<std::wstring> Window::ListViewItems() const {
    DWORD pid = 0;
    GetWindowThreadProcessId(require(), &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process)
        throw Error(LastError("opening the process of " + Describe()));
    constexpr int kChars = 1024;
    const SIZE_T size = sizeof(LVITEMW) + kChars * sizeof(wchar_t);
    auto* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    std::vector<std::wstring> items;
    bool read = remote != nullptr;
    int count = read ? (int)send(LVM_GETITEMCOUNT, 0, 0) : 0;
    for (int i = 0; read && i < count; ++i) {
        LVITEMW item{};
        item.iSubItem = 0;
        item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
        item.cchTextMax = kChars;
        wchar_t text[kChars];
        read = WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
        size_t n = read ? (size_t)send(LVM_GETITEMTEXTW, i, (LPARAM)remote) : 0;
        read = read && ReadProcessMemory(process, item.pszText, text, sizeof text, nullptr);
        if (read)
            items.emplace_back(text, std::min(n, size_t(kChars - 1)));
    }
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    if (!read)
        throw Error(LastError("reading the items of " + Describe()));
    return items;
}

std::string Window::Describe() const {
    if (!m_hwnd)
        return "(no window)";
    if (!IsWindow(m_hwnd))
        return "(destroyed window)";
    wchar_t caption[256];
    int n = GetWindowTextW(m_hwnd, caption, 256);  // never blocks; enough for a description
    return Narrow(ClassName()) + " id " + std::to_string(GetDlgCtrlID(m_hwnd)) + " \"" +
           Narrow(std::wstring(caption, n)) + "\"";
}

// ---- Overlay

namespace {

struct OverlayStart {
    RECT area;
    HWND hwnd = nullptr;
    HANDLE ready;
};

DWORD WINAPI OverlayThread(void* param) {
    auto* start = static_cast<OverlayStart*>(param);
    const RECT& r = start->area;
    HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, L"Static", L"", WS_POPUP | WS_VISIBLE | WS_BORDER, r.left, r.top,
                                r.right - r.left, r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
    start->hwnd = hwnd;
    SetEvent(start->ready);  // `start` is gone after this
    if (!hwnd)
        return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_APP)  // the owner's request to go
            DestroyWindow(hwnd);
        else
            DispatchMessageW(&msg);
        if (!IsWindow(hwnd))
            break;
    }
    return 0;
}

}  // namespace

Overlay::Overlay(const RECT& area) {
    OverlayStart start{area, nullptr, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    m_thread = CreateThread(nullptr, 0, OverlayThread, &start, 0, nullptr);
    if (m_thread)
        WaitForSingleObject(start.ready, INFINITE);
    CloseHandle(start.ready);
    m_hwnd = start.hwnd;
    if (!m_hwnd) {
        if (m_thread)
            CloseHandle(m_thread);
        throw Error("no overlay window");
    }
    // Shown once its thread is idle again.
    DWORD_PTR result;
    SendMessageTimeoutW(m_hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result);
    Sleep(200);
}

Overlay::~Overlay() {
    PostThreadMessageW(GetThreadId(m_thread), WM_APP, 0, 0);
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
}

// ---- Folder picker

std::vector<std::wstring> PickerFolders(Window picker) {
    for (const Window& w : picker.Descendants())
        if (w.IsClass(L"SysListView32") && w.Visible())
            return w.ListViewItems();
    throw Error("no list of folders in " + picker.Describe());
}

void ChooseInPicker(Window picker, const std::wstring& path) {
    // The name box of the common file dialogs: edt1, or the edit inside the combo box cmb13.
    constexpr int kEdt1 = 0x480, kCmb13 = 0x47C;
    Window name = picker.Child(kEdt1);
    if (!name)
        if (Window combo = picker.Child(kCmb13))
            for (const Window& w : combo.Descendants())
                if (w.IsClass(L"Edit"))
                    name = w;
    if (!name)
        throw Error("no name box in " + picker.Describe());
    name.SetText(path);
    picker.ChildOrThrow(IDOK).Click();
}

// ---- App

App::App(RunOptions options) {
    wchar_t keep[8];
    m_keep = GetEnvironmentVariableW(L"LUMETRA_E2E_KEEP", keep, 8) > 0;
    try {
        prepare(options);
        start(options);
    } catch (...) {
        cleanUp();
        throw;
    }
}

App::~App() { cleanUp(); }

void App::prepare(const RunOptions& options) {
    static std::atomic<int> runs{0};
    // Unique within the Wine session: parallel test programs have different process ids.
    std::wstring name = L"lumetra-e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(++runs);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring root = FullPath(std::wstring(temp) + name);
    FreshFolder(root);
    m_root = root;
    m_folder = root + L"\\app";
    FreshFolder(m_folder);
    m_stdoutPath = root + L"\\stdout.txt";
    m_stderrPath = root + L"\\stderr.txt";

    Copy(BinDir() + L"\\" + options.program, m_folder + L"\\" + options.program);
    if (options.online)
        Copy(StandinsDir() + L"\\cendra\\Cendra.dll", m_folder + L"\\Cendra.dll");
    if (options.camera)
        Copy(StandinsDir() + L"\\fk40\\LYC_API.dll", m_folder + L"\\LYC_API.dll");
    if (options.images)
        for (const wchar_t* image : {L"velmora_splash.png", L"velmora_app.png"})
            Copy(BinDir() + L"\\" + image, m_folder + L"\\" + image);
    for (const auto& [from, to] : options.files)
        Copy(from, m_folder + L"\\" + to);

    if (options.freshImagesFolder || options.sharedTurns)
        m_profileLock = std::make_unique<ProfileLock>(options.freshImagesFolder);
    if (options.freshImagesFolder)
        takeImagesFolder();
    if (options.webcams || options.sharedTurns)
        m_webcamLock = std::make_unique<WebcamLock>(options.webcams.has_value());
    if (options.webcams)
        registerWebcams(*options.webcams);
}

namespace {

const wchar_t kWebcamInstances[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";
const wchar_t kDriverInstancePrefix[] = L"e2e-";

void RunWebcamTool(const std::wstring& arguments) {
    std::wstring tool = StandinsDir() + L"\\webcam\\standin_webcam_reg.exe";
    ChildResult result = RunCaptured(QuoteArgument(tool) + L" " + arguments);
    if (!result.started || result.exitCode != 0)
        throw Error("standin_webcam_reg " + Narrow(arguments) + " failed: " +
                    (result.started ? result.output : LastError("starting it")));
}

// Instances a driver registered, found in the registry.
std::vector<std::wstring> DriverInstances() {
    std::vector<std::wstring> found;
    HKEY root;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kWebcamInstances, 0, KEY_READ, &root) != ERROR_SUCCESS)
        return found;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (wcsncmp(name, kDriverInstancePrefix, wcslen(kDriverInstancePrefix)) == 0)
            found.emplace_back(name, length);
    }
    RegCloseKey(root);
    return found;
}

}  // namespace

void App::registerWebcams(const std::vector<Webcam>& webcams) {
    // With the lock alone, an instance of a driver's is a leftover of one that died.
    for (const auto& instance : DriverInstances())
        RunWebcamTool(L"remove " + instance);
    static std::atomic<int> sets{0};
    std::wstring prefix = std::wstring(kDriverInstancePrefix) + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(++sets) + L"-";
    for (const Webcam& webcam : webcams) {
        std::wstring instance = prefix + webcam.name;
        std::wstring arguments = L"add " + instance;
        if (!webcam.formats.empty())
            arguments += L" --formats " + QuoteArgument(webcam.formats);
        if (webcam.failBind)
            arguments += L" --fail-bind";
        m_webcamInstances[webcam.name] = instance;  // before: a half-made one is removed too
        RunWebcamTool(arguments);
    }
}

void App::removeWebcams() {
    for (const auto& [name, instance] : m_webcamInstances) {
        try {
            RunWebcamTool(L"remove " + instance);
        } catch (const Error&) {
            // The next run that has the lock alone removes it.
        }
    }
    m_webcamInstances.clear();
}

std::wstring App::WebcamName(const std::wstring& name) const {
    auto found = m_webcamInstances.find(name);
    if (found == m_webcamInstances.end())
        throw Error("no webcam \"" + Narrow(name) + "\" in this run");
    return found->second;  // its FriendlyName: the tool's default
}

void App::LoseWebcam(const std::wstring& name) {
    std::wstring instance = WebcamName(name);
    // As a device unplugged: gone from the device list, and its capture graph told. The program's
    // filter of it holds the event open, so setting it from a passing process lasts.
    RunWebcamTool(L"remove " + instance);
    RunWebcamTool(L"lose " + instance);
}

// Where the images folder of other runs waits while a run needs a fresh one.
static std::wstring SavedImagesFolder() { return ImagesFolder() + L".e2e-saved"; }

void App::takeImagesFolder() {
    // A saved folder still there is the real one of a driver that died in its run.
    if (Exists(SavedImagesFolder()))
        giveBackImagesFolder();
    if (Exists(ImagesFolder()) && !MoveFileW(ImagesFolder().c_str(), SavedImagesFolder().c_str()))
        throw Error(LastError("moving " + Narrow(ImagesFolder()) + " aside"));
    m_freshImagesFolder = true;
}

void App::giveBackImagesFolder() {
    if (Exists(ImagesFolder()) && !RemoveTree(ImagesFolder()))
        throw Error("cannot remove " + Narrow(ImagesFolder()));
    if (Exists(SavedImagesFolder()) && !MoveFileW(SavedImagesFolder().c_str(), ImagesFolder().c_str()))
        throw Error(LastError("putting back " + Narrow(ImagesFolder())));
}

void App::start(const RunOptions& options) {
    auto environment = options.environment;
    if (!options.cameraPattern.empty())
        environment[L"LYC_STANDIN_PATTERN"] = options.cameraPattern;
    std::wstring block = EnvironmentBlock(environment);

    std::wstring exe = m_folder + L"\\" + options.program;
    std::wstring commandLine = QuoteArgument(exe);
    for (const auto& arg : options.arguments)
        commandLine += L" " + QuoteArgument(arg);

    HANDLE in = InheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = InheritableFile(m_stdoutPath, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = InheritableFile(m_stderrPath, GENERIC_WRITE, CREATE_ALWAYS);

    // Only these three handles go to the child: another run's output files must not.
    HANDLE inherited[] = {in, out, err};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> attributes(size);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    InitializeProcThreadAttributeList(list, 1, 0, &size);
    UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                              sizeof inherited, nullptr, nullptr);

    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = in;
    si.StartupInfo.hStdOutput = out;
    si.StartupInfo.hStdError = err;
    si.lpAttributeList = list;
    PROCESS_INFORMATION pi{};
    BOOL started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                  CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT |
                                      EXTENDED_STARTUPINFO_PRESENT,
                                  block.data(), m_folder.c_str(), &si.StartupInfo, &pi);
    DWORD error = GetLastError();
    DeleteProcThreadAttributeList(list);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (!started)
        throw Error("starting " + Narrow(exe) + " failed, error " + std::to_string(error));
    m_process = pi.hProcess;
    m_pid = pi.dwProcessId;

    // Should the driver itself die (ctest's time-out), closing its job ends the program too.
    m_job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (m_job) {
        SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        AssignProcessToJobObject(m_job, m_process);
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
}

void App::cleanUp() {
    if (m_process) {
        Kill();
        CloseHandle(m_process);
        m_process = nullptr;
    }
    if (m_job) {
        CloseHandle(m_job);
        m_job = nullptr;
    }
    removeWebcams();
    m_webcamLock.reset();
    if (m_freshImagesFolder) {
        WaitUntil([&] { return !Exists(ImagesFolder()) || RemoveTree(ImagesFolder()); }, 5s);
        try {
            giveBackImagesFolder();
        } catch (const Error&) {
            // Left for the next run that takes the folder: it puts the saved one back first.
        }
        m_freshImagesFolder = false;
    }
    m_profileLock.reset();
    // The image of a process just ended can stay locked for a moment.
    if (!m_keep && !m_root.empty())
        WaitUntil([&] { return RemoveTree(m_root); }, 5s);
}

namespace {

struct WindowSearch {
    DWORD pid;
    const WindowQuery* query;
    std::vector<Window> found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
    auto& s = *reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != s.pid || (s.query->visibleOnly && !IsWindowVisible(hwnd)))
        return TRUE;
    Window w(hwnd);
    if (!s.query->className.empty() && !w.IsClass(s.query->className))
        return TRUE;
    if (!s.query->caption.empty()) {
        // Top-level captions are readable without messages, so a busy program is fine.
        wchar_t caption[512];
        int n = GetWindowTextW(hwnd, caption, 512);
        if (std::wstring(caption, n) != s.query->caption)
            return TRUE;
    }
    s.found.push_back(w);
    return TRUE;
}

}  // namespace

std::vector<Window> App::Windows(const WindowQuery& query) const {
    WindowSearch search{m_pid, &query, {}};
    EnumWindows(CollectWindow, (LPARAM)&search);
    return search.found;
}

Window App::FindWindow(const WindowQuery& query) const {
    auto found = Windows(query);
    return found.empty() ? Window() : found.front();
}

static std::string QueryText(const WindowQuery& query) {
    return "window of class \"" + Narrow(query.className) + "\" captioned \"" +
           Narrow(query.caption) + "\"";
}

Window App::WaitForWindow(const WindowQuery& query, Duration timeout) const {
    Window found;
    WaitUntil([&] { return (found = FindWindow(query)) || !Running(); }, timeout);
    if (!found)
        found = FindWindow(query);  // it may have come just before the process ended
    if (!found)
        throw Error("no " + QueryText(query) + "; " + Describe());
    return found;
}

void App::WaitForNoWindow(const WindowQuery& query, Duration timeout) const {
    if (!WaitUntil([&] { return !FindWindow(query); }, timeout))
        throw Error("still a " + QueryText(query) + "; " + Describe());
}

Window App::WaitForMessageBox(const std::wstring& title, Duration timeout) const {
    return WaitForWindow({L"#32770", title}, timeout);
}

std::wstring App::MessageBoxText(Window box) {
    return box.ChildOrThrow(0xFFFF).Text();
}

std::wstring App::DismissMessageBox(const std::wstring& title, int button, Duration timeout) const {
    Window box = WaitForMessageBox(title, timeout);
    std::wstring text = MessageBoxText(box);
    box.ChildOrThrow(button).Click();
    if (!WaitUntil([&] { return !IsWindow(box.hwnd()); }, timeout))
        throw Error("message box \"" + Narrow(title) + "\" stayed after button " +
                    std::to_string(button) + "; " + Describe());
    return text;
}

bool App::Running() const { return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }

bool App::WaitForExit(Duration timeout) const {
    return WaitForSingleObject(m_process, (DWORD)timeout.count()) == WAIT_OBJECT_0;
}

DWORD App::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (Running() || !GetExitCodeProcess(m_process, &code))
        throw Error("no exit code: " + Describe());
    return code;
}

void App::Kill() {
    if (Running()) {
        TerminateProcess(m_process, kKilledExitCode);
        WaitForSingleObject(m_process, (DWORD)Duration(kTimeout).count());
    }
}

std::string App::Output() const { return ReadBytes(m_stdoutPath); }
std::string App::Errors() const { return ReadBytes(m_stderrPath); }

std::vector<std::string> App::OutputLines() const {
    bool ended = !Running();  // before reading: all output is in by then
    std::string text = Output();
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    // A line still being written could match a shorter expected one: only an ended process's
    // last, unterminated line counts.
    if (ended && start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

bool App::HasOutputLine(const std::string& line) const {
    auto lines = OutputLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void App::WaitForOutputLine(const std::string& line, Duration timeout) const {
    WaitUntil([&] { return HasOutputLine(line) || !Running(); }, timeout);
    if (!HasOutputLine(line))
        throw Error("no output line \"" + line + "\"; " + Describe());
}

Window App::FocusedWindow() const {
    std::vector<DWORD> threads;
    for (const Window& w : Windows({L"", L"", false})) {
        DWORD thread = GetWindowThreadProcessId(w.hwnd(), nullptr);
        if (std::find(threads.begin(), threads.end(), thread) != threads.end())
            continue;
        threads.push_back(thread);
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (GetGUIThreadInfo(thread, &info) && info.hwndFocus)
            return Window(info.hwndFocus);
    }
    return {};
}

std::string App::Describe() const {
    std::ostringstream s;
    s << "process " << m_pid;
    DWORD code;
    if (Running())
        s << " running";
    else if (m_process && GetExitCodeProcess(m_process, &code))
        s << " ended with exit code " << code;
    s << " in " << Narrow(m_folder) << "\n  top-level windows:";
    for (const Window& w : Windows({L"", L"", false})) {
        s << "\n    " << w.Describe() << (w.Visible() ? "" : " (hidden)") << " "
          << RectText(w.ScreenRect());
        if (Window text = w.IsClass(L"#32770") ? w.Child(0xFFFF) : Window()) {  // a message box's
            try {
                s << ": \"" << Narrow(text.Text()) << "\"";
            } catch (const Error&) {
                s << ": (text not readable)";
            }
        }
    }
    s << "\n  stdout: " << Output() << "\n  stderr: " << Errors();
    return s.str();
}

// ---- List boxes and combo-box picks (the settings scenarios) ----------------------------------

namespace {

LRESULT SendTo(const Window& w, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!w || !SendMessageTimeoutW(w.hwnd(), message, wParam, lParam, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result))
        throw Error(LastError("sending message " + std::to_string(message) + " to " +
                              (w ? w.Describe() : std::string("no window"))));
    return (LRESULT)result;
}

void PostCommand(const Window& control, WORD code) {
    if (!PostMessageW(GetParent(control.hwnd()), WM_COMMAND, MAKEWPARAM(control.Id(), code), (LPARAM)control.hwnd()))
        throw Error(LastError("posting a notification of " + control.Describe()));
}

}  // namespace

std::vector<std::wstring> ListBoxItems(const Window& list) {
    std::vector<std::wstring> items;
    int count = (int)SendTo(list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        LRESULT length = SendTo(list, LB_GETTEXTLEN, i, 0);
        if (length == LB_ERR)
            break;  // the list changed meanwhile
        std::wstring item((size_t)length + 1, L'\0');
        LRESULT n = SendTo(list, LB_GETTEXT, i, (LPARAM)item.data());
        item.resize(n == LB_ERR ? 0 : std::min((size_t)n, (size_t)length));
        items.push_back(item);
    }
    return items;
}

int ListBoxSelection(const Window& list) { return (int)SendTo(list, LB_GETCURSEL, 0, 0); }

void SelectListBoxItem(const Window& list, int index) {
    if (SendTo(list, LB_SETCURSEL, index, 0) == LB_ERR)
        throw Error("no row " + std::to_string(index) + " in " + list.Describe());
    PostCommand(list, LBN_SELCHANGE);
}

void PickComboItem(const Window& combo, int index) {
    if (SendTo(combo, CB_SETCURSEL, index, 0) != index)
        throw Error("no item " + std::to_string(index) + " in " + combo.Describe());
    PostCommand(combo, CBN_SELENDOK);
    PostCommand(combo, CBN_SELCHANGE);
}

}  // namespace e2e

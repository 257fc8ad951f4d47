// End-to-end driver: starts a program of the build in a private folder under the same Wine session
// and works its windows from outside, the way a user (or a screen reader) would.
#pragma once
#include <windows.h>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;
using Duration = std::chrono::milliseconds;

// Generous: a cold Wine process start can take seconds on a loaded machine.
inline constexpr Duration kTimeout = 30s;
// Exit code of a process the driver had to kill.
inline constexpr DWORD kKilledExitCode = 0xE2EDEAD;

// A wait ran out or the driver could not set something up; gtest reports it as the failure.
struct Error : std::runtime_error {
    explicit Error(const std::string& what) : std::runtime_error(what) {}
};

std::string Narrow(const std::wstring& text);

// Polls until done() holds; false when the time-out passed first.
bool WaitUntil(const std::function<bool()>& done, Duration timeout = kTimeout);

// Folder of the build's programs and of the stand-ins (Windows paths).
std::wstring BinDir();
std::wstring StandinsDir();

// Pixels of a dialog-unit rectangle for a dialog template with this font (DS_SETFONT | DS_FIXEDSYS),
// mapped field by field as the dialog manager does: pass {x, y, cx, cy} to get {x, y, cx, cy}.
RECT DialogUnitsToPixels(RECT units, const wchar_t* face = L"MS Shell Dlg", WORD points = 8);

// A window of another process. Everything goes through messages or window-manager queries that
// work across processes; a null window throws on use, except for the queries exists() and
// operator bool.
class Window {
public:
    Window() = default;
    explicit Window(HWND hwnd) : m_hwnd(hwnd) {}
    HWND hwnd() const { return m_hwnd; }
    explicit operator bool() const { return m_hwnd != nullptr; }
    bool exists() const { return m_hwnd && IsWindow(m_hwnd); }

    std::wstring Text() const;       // WM_GETTEXT (GetWindowText cannot read other processes' controls)
    std::wstring ClassName() const;
    bool IsClass(const std::wstring& name) const;  // class names ignore case
    int Id() const;
    DWORD Style() const;
    DWORD ExStyle() const;
    bool Visible() const;
    bool Enabled() const;
    RECT ClientRect() const;
    RECT ScreenRect() const;
    RECT RectInParent() const;       // window rectangle in its parent's client coordinates
    SIZE ClientSize() const;

    Window Child(int id) const;      // null when there is none
    Window ChildOrThrow(int id) const;
    std::vector<Window> Children() const;  // direct children in Z order (template order in dialogs)

    // Input. Posted, so that a handler that opens a modal window cannot block the driver; wait
    // for the effect afterwards.
    void Click() const;              // a visible, enabled button: BN_CLICKED to its parent
    void MouseClick() const;         // button-down and button-up at the centre of the client area
    void SetText(const std::wstring& text) const;  // WM_SETTEXT, sent (edits notify EN_CHANGE)
    void Type(const std::wstring& text) const;     // one WM_CHAR per character
    void PostKeyDown(UINT vk) const;
    void PostKeyUp(UINT vk) const;
    void PressKey(UINT vk) const;    // down then up
    void Close() const;              // WM_CLOSE
    void Resize(int width, int height) const;       // outer size, position kept

    // Combo boxes.
    std::vector<std::wstring> ComboItems() const;
    int ComboSelection() const;
    void SelectComboItem(int index) const;  // CB_SETCURSEL and the CBN_SELCHANGE a user's pick sends

    std::string Describe() const;  // class, id and text, for failure messages

private:
    HWND require() const;
    void post(UINT message, WPARAM wParam, LPARAM lParam) const;
    LRESULT send(UINT message, WPARAM wParam, LPARAM lParam) const;
    HWND m_hwnd = nullptr;
};

// Which top-level window to look for; empty fields match anything.
struct WindowQuery {
    std::wstring className;
    std::wstring caption;
    bool visibleOnly = true;
};

struct RunOptions {
    std::wstring program = L"Lumetra.exe";   // from BinDir()
    std::vector<std::wstring> arguments;
    bool online = false;        // the companion-library stand-in beside the program
    bool camera = false;        // the camera-library stand-in beside the program
    bool images = true;         // the program's two PNG images in its working folder
    // The run holds the ProfileLock and starts without <profile>\Lumetra; whatever was there is
    // put back afterwards. For scenarios that look at or depend on the files the program keeps there.
    bool freshImagesFolder = false;
    std::map<std::wstring, std::wstring> environment;   // added to (or replacing) the driver's own
    // Further files: source path -> name in the run folder.
    std::vector<std::pair<std::wstring, std::wstring>> files;
};

// The user profile folder (CSIDL_PROFILE) is the same for every run: Wine derives it from the Unix
// user, and neither USERPROFILE nor any other per-process setting moves it. Runs that care about
// its contents take turns through this lock, a named mutex shared by all driver processes.
class ProfileLock {
public:
    ProfileLock();
    ~ProfileLock();
    ProfileLock(const ProfileLock&) = delete;
    ProfileLock& operator=(const ProfileLock&) = delete;

private:
    HANDLE m_mutex;
};

std::wstring ProfileFolder();
std::wstring ImagesFolder();  // <profile>\Lumetra

// One run of a program. The run folder holds a copy of the program, the chosen DLLs and images,
// and the captured standard output and error; it is also the working directory. The destructor
// kills a program still running and removes the run folder (unless LUMETRA_E2E_KEEP is set).
class App {
public:
    explicit App(RunOptions options = {});
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    DWORD pid() const { return m_pid; }
    const std::wstring& folder() const { return m_folder; }

    // Top-level windows of this process.
    std::vector<Window> Windows(const WindowQuery& query = {}) const;
    Window FindWindow(const WindowQuery& query) const;  // null when there is none
    // Throws on time-out or when the process ends first.
    Window WaitForWindow(const WindowQuery& query, Duration timeout = kTimeout) const;
    void WaitForNoWindow(const WindowQuery& query, Duration timeout = kTimeout) const;

    // Message boxes: dialogs of class #32770 with the given title.
    Window WaitForMessageBox(const std::wstring& title, Duration timeout = kTimeout) const;
    static std::wstring MessageBoxText(Window box);
    // Waits for the box, presses the button (IDOK, IDYES, ...), waits for it to go; returns its text.
    std::wstring DismissMessageBox(const std::wstring& title, int button = IDOK,
                                   Duration timeout = kTimeout) const;

    bool Running() const;
    bool WaitForExit(Duration timeout = kTimeout) const;
    DWORD ExitCode() const;  // throws while running
    void Kill();

    // Captured output; the program's lines without their line ends.
    std::string Output() const;
    std::string Errors() const;
    std::vector<std::string> OutputLines() const;
    bool HasOutputLine(const std::string& line) const;
    void WaitForOutputLine(const std::string& line, Duration timeout = kTimeout) const;

    std::string Describe() const;  // state, windows and output, for failure messages

private:
    void prepare(const RunOptions& options);
    void start(const RunOptions& options);
    void cleanUp();

    void takeImagesFolder();
    void giveBackImagesFolder();

    std::wstring m_root, m_folder, m_stdoutPath, m_stderrPath;
    std::unique_ptr<ProfileLock> m_profileLock;
    HANDLE m_job = nullptr, m_process = nullptr;
    DWORD m_pid = 0;
    bool m_keep = false;
};

}  // namespace e2e

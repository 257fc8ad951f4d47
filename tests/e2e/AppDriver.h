// End-to-end driver: starts a program of the build in a private folder under the same Wine session
// and works its windows from outside, the way a user (or a screen reader) would.
#pragma once
#include <windows.h>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>
#include "tests/support/TestSupport.h"

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

// Pixels as RGB() values, top row first.
struct Picture {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;

    COLORREF At(int x, int y) const { return pixels[size_t(y) * width + x]; }
    size_t Count(const std::function<bool(COLORREF)>& matches) const;
    Picture Part(const RECT& r) const;  // the pixels of r, clipped to the picture
    bool operator==(const Picture&) const = default;
};

// For failure messages: the size and the commonest colours.
void PrintTo(const Picture& picture, std::ostream* out);

// Whether two colours differ by at most `tolerance` in each channel.
bool NearColour(COLORREF a, COLORREF b, int tolerance);

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

    // The client area as the screen shows it. Another window over it is a user's too: the
    // window's top-level one is raised above it first, as a click on its caption would.
    Picture ScreenPixels() const;
    // Invalidates the window and its children, background and frame included, and gives the
    // program time to repaint them, as uncovering it does where the system keeps no copy.
    void Repaint() const;
    std::vector<Window> Descendants() const;  // children, their children and so on, depth first
    // Makes the window's top-level one the foreground window, as a click on it would. A program
    // whose window another program's took over has no focus until then: its dialogs put the focus
    // back where it was.
    void Activate() const;

    // List views: the items' texts (first column), read through memory lent in the program, as
    // accessibility tools do.
    std::vector<std::wstring> ListViewItems() const;

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

// The shell's folder picker (a dialog of the program): the folders it lists where it stands, and a
// choice made by typing a path into its name box and pressing its OK button.
std::vector<std::wstring> PickerFolders(Window picker);
void ChooseInPicker(Window picker, const std::wstring& path);

// A window of the driver's over an area of the screen (e.g. a control's ScreenRect()), shown
// until destroyed. Its own thread handles its messages, as another program's window would.
class Overlay {
public:
    explicit Overlay(const RECT& area);
    ~Overlay();
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;
    HWND hwnd() const { return m_hwnd; }

private:
    HANDLE m_thread = nullptr;
    HWND m_hwnd = nullptr;
};

// Which top-level window to look for; empty fields match anything.
struct WindowQuery {
    std::wstring className;
    std::wstring caption;
    bool visibleOnly = true;
};

// A virtual webcam for one run (the stand-in's registration tool).
struct Webcam {
    std::wstring name;     // letters and digits, unique within the run
    std::wstring formats;  // the tool's --formats, e.g. L"YUY2 160x120;MJPG 640x480"; empty: its defaults
    bool failBind = false; // the device cannot be set up
};

struct RunOptions {
    std::wstring program = L"Lumetra.exe";   // from BinDir()
    std::vector<std::wstring> arguments;
    bool online = false;        // the companion-library stand-in beside the program
    bool camera = false;        // the camera-library stand-in beside the program
    std::wstring cameraPattern; // its picture (bars, uniform, dot, counter); empty: its default
    bool images = true;         // the program's two PNG images in its working folder
    // The run holds the ProfileLock alone and starts without <profile>\Lumetra; whatever was there
    // is put back afterwards. For scenarios that look at or depend on the files the program keeps
    // there. Other runs have shared turns: the program only makes its folders then.
    bool freshImagesFolder = false;
    // The webcams the program may see. Unset: whatever is registered, which no scenario changes
    // while the run lasts (it has a shared turn at the webcam lock). Set, even to none: the run has
    // the lock to itself, these are registered for it under names of its own and removed
    // afterwards, and leftovers of drivers that died are removed first.
    std::optional<std::vector<Webcam>> webcams;
    // Shared turns at those two locks where the run takes no turn alone. A test program that
    // neither makes folders in the profile nor looks for webcams can do without, and need not wait.
    bool sharedTurns = true;
    std::map<std::wstring, std::wstring> environment;   // added to (or replacing) the driver's own
    // Further files: source path -> name in the run folder.
    std::vector<std::pair<std::wstring, std::wstring>> files;
};

// The session's locks (tests/support): every run has a turn at the ProfileLock, as the program
// makes its folders in the profile at every start (alone with freshImagesFolder), and at the
// WebcamLock as RunOptions::webcams says. A run takes the profile lock first.
using ::SessionLock;
using ::ProfileLock;
using ::WebcamLock;

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

    // The window that has the keyboard focus in the program's user-interface thread; null when none.
    Window FocusedWindow() const;

    // Webcams of RunOptions::webcams: the name the program lists one by, and unplugging it (its
    // registration goes, then the device reports itself lost to the program's capture graph).
    std::wstring WebcamName(const std::wstring& name) const;
    void LoseWebcam(const std::wstring& name);

    std::string Describe() const;  // state, windows and output, for failure messages

private:
    void prepare(const RunOptions& options);
    void start(const RunOptions& options);
    void cleanUp();

    void takeImagesFolder();
    void giveBackImagesFolder();
    void registerWebcams(const std::vector<Webcam>& webcams);
    void removeWebcams();

    std::wstring m_root, m_folder, m_stdoutPath, m_stderrPath;
    std::unique_ptr<ProfileLock> m_profileLock;
    bool m_freshImagesFolder = false;
    std::unique_ptr<WebcamLock> m_webcamLock;
    std::map<std::wstring, std::wstring> m_webcamInstances;  // Webcam::name -> instance
    HANDLE m_job = nullptr, m_process = nullptr;
    DWORD m_pid = 0;
    bool m_keep = false;
};

// ---- List boxes and combo-box picks (the settings scenarios) ----------------------------------

// The rows' texts of a list box (LB_GETTEXT, which the system carries across processes).
std::vector<std::wstring> ListBoxItems(const Window& list);
// The selected row of a single-selection list box; -1 (LB_ERR) when none.
int ListBoxSelection(const Window& list);
// A user's click on a row: LB_SETCURSEL, then the LBN_SELCHANGE the list box would send, posted.
void SelectListBoxItem(const Window& list, int index);
// A user's pick in a drop-down list: CB_SETCURSEL, then CBN_SELENDOK and CBN_SELCHANGE, posted in
// that order, as the combo box sends them for a pick by mouse or arrow key.
void PickComboItem(const Window& combo, int index);

}  // namespace e2e

// ---- List views, tab controls and the close box (the cloud dialogs' scenarios; AppDriverCloud.cpp)

namespace e2e {

// List views of another process (the rows' texts: Window::ListViewItems()). The selected rows, in
// row order.
int ListViewCount(const Window& list);
std::vector<int> ListViewSelection(const Window& list);
// A user's click on a row: the other rows lose their selection, then the row becomes the selected
// and focused one, each change set through an LVITEMW lent in the program, so that the control
// tells its parent LVN_ITEMCHANGING and LVN_ITEMCHANGED as for a click. Sent: the parent has
// handled the notifications when it returns.
void SelectListViewItem(const Window& list, int index);

// Tab controls: the tabs' texts, the chosen one, and a user's choice. TCM_SETCURSEL tells nobody,
// and WM_NOTIFY cannot be sent to another process, so the choice is a click at the middle of the
// tab (a rectangle read through memory lent in the program): the control then tells its parent
// TCN_SELCHANGING and TCN_SELCHANGE itself. Returns once it has handled the click.
std::vector<std::wstring> TabItems(const Window& tabs);
int TabSelection(const Window& tabs);
void SelectTab(const Window& tabs, int index);

// The close box of a window's caption: the WM_SYSCOMMAND SC_CLOSE it sends, posted.
void PressCloseBox(const Window& window);

}  // namespace e2e

// What the scenarios of the main window share: its controls, the files it writes and the pictures
// the stand-in devices give.
#pragma once
#include <gtest/gtest.h>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include "tests/e2e/AppDriver.h"
#include "tests/support/Files.h"

namespace e2e {

inline const WindowQuery kMainDialog{L"#32770", L"Velmora Lumetra v6.0.0"};

// Controls of the main dialog.
enum : int {
    kCaptureReference = 1001,
    kSettingsButton = 1006,
    kFileLocation = 1011,
    kFolderEdit = 1012,
    kPrefixEdit = 1017,
    kCaptureImage = 1019,
    kStatus = 1020,
    kLiveView = 1024,
    kReferenceView = 1026,
    kLogo = 1027,
    kDateEdit = 1032,
    kTimeEdit = 1033,
    kCaptureVideo = 1041,
    kClear = 1071,
};

// The status line while a still is taken, and after.
inline const std::wstring kCapturedNotice = L"Image Captured" + std::wstring(66, L' ');
inline const std::wstring kNoticeCleared(33, L' ');
inline const wchar_t kCaptureErrorText[] =
    L"Could not capture image. Please ensure write access to destination directory.";
inline const wchar_t kRecordErrorText[] =
    L"Could not record video. Please ensure write access to destination directory.";

// A run with the FK40 stand-in showing `pattern`, in a fresh images folder.
RunOptions CameraRun(const std::wstring& pattern = L"");

bool IsFolder(const std::wstring& path);
bool IsFile(const std::wstring& path);
// Names of the files (not folders) in a folder, sorted; none when the folder does not exist.
std::vector<std::wstring> FileNames(const std::wstring& folder);

// Removes a folder that holds only folders and files; throws when it cannot.
void RemoveFolder(const std::wstring& path);

// A folder replaced by a plain file of its name (permissions would not stop a root user), as an
// operator may leave one, until destroyed, when an empty folder is put back.
class FolderReplacedByFile {
public:
    explicit FolderReplacedByFile(const std::wstring& path);
    ~FolderReplacedByFile();
    FolderReplacedByFile(const FolderReplacedByFile&) = delete;
    FolderReplacedByFile& operator=(const FolderReplacedByFile&) = delete;

private:
    std::wstring m_path;
};

// A still's name is <14 digits>_<prefix>_<n>.bmp: n, when `name` is one with this prefix.
std::optional<int> StillIndex(const std::wstring& name, const std::wstring& prefix);
// Waits until the folder holds `count` files (a little longer, to see none more come); its files.
std::vector<std::wstring> WaitForFiles(const std::wstring& folder, size_t count, Duration timeout = 15s);

// Captures in one second share their time stamp: waits for the start of one.
void WaitForStartOfSecond();

// The row of a list box that shows `text`; throws when none does.
int RowOf(const Window& list, const std::wstring& text);
// Waits for the row to be listed, then picks it as a user's click does.
void PickListRow(const Window& list, const std::wstring& text);

// The control with the focus once the main window is the active one (as it is for a user who
// types into it), or null.
Window FocusOf(const App& app);
// A user's space bar at the focused control: down, then up.
void PressSpace(const App& app);
// The live view shows a moving picture of the device: something other than the black of a source
// whose first frame has not come yet was painted, and it changes. A still taken after it is a
// frame of the device.
testing::AssertionResult Streams(const Window& live);
// Every screen pixel of the live view is black now or within `timeout`.
testing::AssertionResult TurnsBlack(const Window& live, Duration timeout = 10s);
// The live view shows a frame of the virtual webcam: its frames have hundreds of colours, where the
// black of a source whose first sample has not come yet, or a background not painted over, has a
// few. A webcam may take seconds to deliver that sample on a loaded machine, so a still taken
// before this may be black; after it, it is a frame of the webcam.
testing::AssertionResult ShowsWebcam(const Window& live);

// A 24-bit bottom-up BMP file as the program writes it.
struct Bitmap {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;  // B, G, R; rows top first, width * 3 bytes each
};
testing::AssertionResult ParseBitmap(const std::string& file, Bitmap* bitmap);

// The FK40 stand-in's pictures as the program receives them (B, G, R, top row first).
std::vector<uint8_t> FK40DotPicture();
std::vector<uint8_t> FK40UniformPicture(int y, int u, int v);

// The number k of the virtual webcam's frame that the bitmap shows, upright.
std::optional<uint32_t> WebcamFrameNumber(const Bitmap& bitmap);

// Today's date and the time now as the program formats them ("%m/%d/%Y", "%H:%M"), `offset`
// seconds from now.
std::wstring LocalDate(int offset = 0);
std::wstring LocalTime(int offset = 0);

// Whether the file system keeps DOS attributes (the hidden one) of a folder made in `parent`.
bool KeepsHiddenAttribute(const std::wstring& parent);
bool IsHidden(const std::wstring& path);

}  // namespace e2e

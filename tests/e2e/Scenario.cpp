#include "tests/e2e/Scenario.h"
#include <algorithm>
#include <cwctype>
#include "standins/webcam/StandinPattern.h"
#include "video/FK40Device.h"
#include "video/LycApi.h"

namespace e2e {

RunOptions CameraRun(const std::wstring& pattern) {
    RunOptions options;
    options.camera = true;
    options.cameraPattern = pattern;
    options.freshImagesFolder = true;
    return options;
}

int RowOf(const Window& list, const std::wstring& text) {
    std::vector<std::wstring> rows = ListBoxItems(list);
    auto found = std::find(rows.begin(), rows.end(), text);
    if (found == rows.end())
        throw Error("no row \"" + Narrow(text) + "\" in " + list.Describe() + ": " + testing::PrintToString(rows));
    return int(found - rows.begin());
}

void PickListRow(const Window& list, const std::wstring& text) {
    WaitUntil([&] {
        std::vector<std::wstring> rows = ListBoxItems(list);
        return std::find(rows.begin(), rows.end(), text) != rows.end();
    }, 10s);
    SelectListBoxItem(list, RowOf(list, text));
}

bool IsFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> FileNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<int> StillIndex(const std::wstring& name, const std::wstring& prefix) {
    const std::wstring tail = L"_" + prefix + L"_";
    if (name.size() < 14 + tail.size() + 5 || name.substr(name.size() - 4) != L".bmp")
        return std::nullopt;
    if (!std::all_of(name.begin(), name.begin() + 14, [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
        return std::nullopt;
    if (name.compare(14, tail.size(), tail) != 0)
        return std::nullopt;
    std::wstring number = name.substr(14 + tail.size(), name.size() - 4 - 14 - tail.size());
    if (number.empty() || !std::all_of(number.begin(), number.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
        return std::nullopt;
    return std::stoi(number);
}

std::vector<std::wstring> WaitForFiles(const std::wstring& folder, size_t count, Duration timeout) {
    WaitUntil([&] { return FileNames(folder).size() >= count; }, timeout);
    Sleep(300);  // a file too many would show now
    return FileNames(folder);
}

void WaitForStartOfSecond() {
    SYSTEMTIME now;
    do {
        Sleep(20);
        GetSystemTime(&now);
    } while (now.wMilliseconds > 200);
}

Window FocusOf(const App& app) {
    Window dialog = app.WaitForWindow(kMainDialog), focused;
    // Other tests' programs may take the foreground at any time.
    WaitUntil([&] {
        dialog.Activate();
        return bool(focused = app.FocusedWindow());
    }, 10s);
    return focused;
}

void PressSpace(const App& app) {
    Window focused = FocusOf(app);
    if (!focused)
        throw Error("no focused window for the space bar; " + app.Describe());
    focused.PressKey(VK_SPACE);
}

testing::AssertionResult Streams(const Window& live) {
    auto pictured = [](const Picture& p) { return p.Count([](COLORREF c) { return c != RGB(0, 0, 0); }) > 0; };
    Picture first = live.ScreenPixels(), later;
    if (WaitUntil([&] { return (later = live.ScreenPixels()) != first && pictured(later); }, 10s))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no moving picture: " << testing::PrintToString(later);
}

testing::AssertionResult TurnsBlack(const Window& live, Duration timeout) {
    Picture shown;
    auto black = [&] {
        shown = live.ScreenPixels();
        return !shown.pixels.empty() && shown.Count([](COLORREF p) { return p == RGB(0, 0, 0); }) == shown.pixels.size();
    };
    if (WaitUntil(black, timeout))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "the live view shows a picture: " << testing::PrintToString(shown);
}

testing::AssertionResult ShowsWebcam(const Window& live) {
    auto colours = [](const Picture& p) {
        std::vector<COLORREF> sorted = p.pixels;
        std::sort(sorted.begin(), sorted.end());
        return size_t(std::unique(sorted.begin(), sorted.end()) - sorted.begin());
    };
    Picture shown;
    if (WaitUntil([&] { return colours(shown = live.ScreenPixels()) >= 64; }, 20s))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no webcam picture: " << testing::PrintToString(shown);
}

namespace {

uint32_t Dword(const std::string& f, size_t at) {
    return uint8_t(f[at]) | uint8_t(f[at + 1]) << 8 | uint8_t(f[at + 2]) << 16 | uint32_t(uint8_t(f[at + 3])) << 24;
}

uint16_t Word(const std::string& f, size_t at) { return uint16_t(uint8_t(f[at]) | uint8_t(f[at + 1]) << 8); }

}  // namespace

testing::AssertionResult ParseBitmap(const std::string& f, Bitmap* bitmap) {
    if (f.size() < 54 || f[0] != 'B' || f[1] != 'M')
        return testing::AssertionFailure() << "not a BMP file (" << f.size() << " bytes)";
    const int32_t w = int32_t(Dword(f, 18)), h = int32_t(Dword(f, 22));
    const size_t stride = (size_t(w) * 3 + 3) / 4 * 4;
    struct Field {
        const char* name;
        uint32_t actual, expected;
    } fields[] = {
        {"file size", Dword(f, 2), uint32_t(f.size())},
        {"pixel offset", Dword(f, 10), 54},
        {"header size", Dword(f, 14), 40},
        {"planes", Word(f, 26), 1},
        {"bits per pixel", Word(f, 28), 24},
        {"compression", Dword(f, 30), 0},
        {"image size", Dword(f, 34), uint32_t(stride * (h > 0 ? h : 0))},
        {"colours used", Dword(f, 46), 0},
        {"file size for the picture", uint32_t(f.size()), uint32_t(54 + stride * (h > 0 ? h : 0))},
    };
    if (w <= 0 || h <= 0)
        return testing::AssertionFailure() << "size " << w << "x" << h;
    for (const Field& field : fields)
        if (field.actual != field.expected)
            return testing::AssertionFailure() << field.name << " " << field.actual << ", expected " << field.expected;
    bitmap->width = w;
    bitmap->height = h;
    bitmap->pixels.resize(size_t(w) * 3 * h);
    for (int row = 0; row < h; ++row) {  // bottom row first in the file
        const char* from = f.data() + 54 + stride * (h - 1 - row);
        std::copy(from, from + w * 3, bitmap->pixels.begin() + size_t(row) * w * 3);
    }
    return testing::AssertionSuccess();
}

namespace {

// The stand-in library's raw format: little-endian words holding 12-bit samples shifted by 4.
void PutGroup(std::vector<uint8_t>& raw, int row, int group, int u, int y0, int v, int y1) {
    uint8_t* at = raw.data() + row * kLycRawRowBytes + group * 8;
    for (int sample : {u, y0, v, y1}) {
        const unsigned word = unsigned(sample) << 4;
        *at++ = uint8_t(word);
        *at++ = uint8_t(word >> 8);
    }
}

std::vector<uint8_t> UniformRaw(int y, int u, int v) {
    std::vector<uint8_t> raw(kLycRawSize);
    for (int row = 0; row < kLycHeight; ++row)
        for (int group = 0; group < kLycWidth / 2; ++group)
            PutGroup(raw, row, group, u, y, v, y);
    return raw;
}

std::vector<uint8_t> Converted(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> picture(kFK40FrameSize);
    ConvertFK40Frame(raw.data(), picture.data());
    return picture;
}

}  // namespace

std::vector<uint8_t> FK40DotPicture() {
    std::vector<uint8_t> raw = UniformRaw(0, 2048, 2048);
    PutGroup(raw, 0, 0, 2048, 4095, 2048, 0);
    return Converted(raw);
}

std::vector<uint8_t> FK40UniformPicture(int y, int u, int v) { return Converted(UniformRaw(y, u, v)); }

std::optional<uint32_t> WebcamFrameNumber(const Bitmap& bitmap) {
    const int w = bitmap.width, h = bitmap.height;
    const int stride = StandinRgb24Stride(w);
    std::vector<uint8_t> frame(size_t(stride) * h);
    // The first luma sample tells the frame number modulo 220, the chroma the rest of it.
    for (uint32_t n = 0; n < 220 * 225; ++n) {
        uint8_t first[8];
        StandinRgb24Frame(first, 2, 1, n);
        if (!std::equal(first, first + 3, bitmap.pixels.begin()))
            continue;
        StandinRgb24Frame(frame.data(), w, h, n);  // bottom row first
        bool same = true;
        for (int row = 0; row < h && same; ++row)
            same = std::equal(bitmap.pixels.begin() + size_t(row) * w * 3, bitmap.pixels.begin() + size_t(row + 1) * w * 3,
                              frame.begin() + size_t(h - 1 - row) * stride);
        if (same)
            return n;
    }
    return std::nullopt;
}

namespace {

std::wstring FormatNow(int offset, const wchar_t* format, bool date) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart += LONGLONG(offset) * 10000000;
    FILETIME shifted{t.LowPart, t.HighPart}, local;
    SYSTEMTIME s;
    FileTimeToLocalFileTime(&shifted, &local);
    FileTimeToSystemTime(&local, &s);
    wchar_t text[32];
    if (date)
        swprintf(text, 32, format, s.wMonth, s.wDay, s.wYear);
    else
        swprintf(text, 32, format, s.wHour, s.wMinute);
    return text;
}

}  // namespace

std::wstring LocalDate(int offset) { return FormatNow(offset, L"%02u/%02u/%04u", true); }
std::wstring LocalTime(int offset) { return FormatNow(offset, L"%02u:%02u", false); }

bool IsHidden(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
}

bool KeepsHiddenAttribute(const std::wstring& parent) {
    std::wstring probe = parent + L"\\e2e-hidden-probe-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(probe.c_str(), nullptr);
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_HIDDEN);
    bool kept = IsHidden(probe);
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(probe.c_str());
    return kept;
}

void RemoveFolder(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName, full = path + L"\\" + name;
            if (name == L"." || name == L"..")
                continue;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolder(full);
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!RemoveDirectoryW(path.c_str()))
        throw Error("cannot remove " + Narrow(path));
}

FolderReplacedByFile::FolderReplacedByFile(const std::wstring& path) : m_path(path) {
    RemoveFolder(path);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw Error("cannot make a file " + Narrow(path));
    CloseHandle(file);
}

FolderReplacedByFile::~FolderReplacedByFile() {
    DeleteFileW(m_path.c_str());
    CreateDirectoryW(m_path.c_str(), nullptr);
}

}  // namespace e2e

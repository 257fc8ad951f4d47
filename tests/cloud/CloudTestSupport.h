// What the cloud tests share: the lines a C-runtime stream receives, files with known bytes, and
// time-outs short enough for a test run.
#pragma once
#include "cloud/CendraClient.h"
#include "tests/support/Files.h"
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

// Sends a C-runtime descriptor (1 stdout, 2 stderr) into a temporary file for its lifetime. The
// library and this program share the one C runtime, so the library's writes are caught too.
class StreamCapture {
public:
    explicit StreamCapture(int fd) : m_fd(fd) {
        wchar_t folder[MAX_PATH], file[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, L"lcc", 0, file);
        m_path = file;
        Flush();
        m_saved = _dup(m_fd);
        const int target = _wopen(m_path.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
        _dup2(target, m_fd);
        _close(target);
    }
    ~StreamCapture() {
        Stop();
        DeleteFileW(m_path.c_str());
    }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    // Ends the capture (once) and returns everything written meanwhile.
    std::string Text() {
        Stop();
        return ReadBytes(m_path);
    }
    // Lines of Text() that start with prefix ("" for all), without their line ends.
    std::vector<std::string> Lines(const std::string& prefix = "") {
        std::vector<std::string> lines;
        const std::string text = Text();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
            start = end + 1;
        }
        return lines;
    }

private:
    void Flush() { std::fflush(m_fd == 1 ? stdout : stderr); }
    void Stop() {
        if (m_saved < 0) return;
        Flush();
        _dup2(m_saved, m_fd);
        _close(m_saved);
        m_saved = -1;
    }

    int m_fd;
    int m_saved = -1;
    std::wstring m_path;
};

// The error line of a failed request, for a library text.
inline std::string FailureLine(const std::string& libraryText) { return "curl_easy_perform() failed: " + libraryText; }

// Short limits for a test's own waits; the program's values come back at the end of the scope. An
// upload stays below the floor from its start until its first second is measured, so a window of
// a few seconds keeps a loaded machine's slow answer from counting as a stall.
class ShortTimeouts {
public:
    explicit ShortTimeouts(long getTotalMs = 1000, long uploadLowSpeedSeconds = 3) : m_saved(g_cendraTimeouts) {
        g_cendraTimeouts.getTotalMs = getTotalMs;
        g_cendraTimeouts.uploadLowSpeedSeconds = uploadLowSpeedSeconds;
    }
    ~ShortTimeouts() { g_cendraTimeouts = m_saved; }
    ShortTimeouts(const ShortTimeouts&) = delete;
    ShortTimeouts& operator=(const ShortTimeouts&) = delete;

private:
    CendraTimeouts m_saved;
};

// A 24-bit bottom-up .bmp of width x height with a pattern that holds CR LF and "--" runs, so a
// multipart parser that splits inside the data is caught.
inline std::string BitmapBytes(int width, int height) {
    const int stride = (width * 3 + 3) & ~3;
    const unsigned pixels = static_cast<unsigned>(stride) * static_cast<unsigned>(height);
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + pixels;
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = pixels;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    static const char pattern[] = "\r\n--\r\n\x00\xff" "abc--xyz\r\n";
    bytes.reserve(bytes.size() + pixels);
    for (unsigned i = 0; i < pixels; ++i) bytes += pattern[i % (sizeof pattern - 1)];
    return bytes;
}

// A fresh folder under the user's temporary folder, removed with everything in it at the end,
// and whole-file reads and writes for checking bytes.
#pragma once
#include <windows.h>
#include <cstdio>
#include <string>

inline void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

class TempFolder {
public:
    TempFolder() {
        wchar_t temp[MAX_PATH];
        const DWORD n = GetTempPathW(MAX_PATH, temp);
        std::wstring base(temp, n);
        if (!base.empty() && base.back() != L'\\') base += L'\\';
        for (unsigned attempt = 0; attempt < 1000; ++attempt) {
            std::wstring candidate = base + L"lumetra_files_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                     std::to_wstring(GetTickCount() + attempt);
            if (CreateDirectoryW(candidate.c_str(), nullptr)) {
                m_path = candidate;
                break;
            }
        }
    }
    ~TempFolder() {
        if (!m_path.empty()) RemoveTree(m_path);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool ok() const { return !m_path.empty(); }
    // Without a trailing backslash.
    const std::wstring& path() const { return m_path; }

private:
    std::wstring m_path;
};

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string ReadBytes(const std::wstring& path) {
    std::string bytes;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        char chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
        std::fclose(f);
    }
    return bytes;
}

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

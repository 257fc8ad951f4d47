// Files for tests: a fresh temporary folder removed with everything in it at the end, and whole-file
// reads and writes for checking bytes.
#pragma once
#include <windows.h>
#include <string>

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Deletes a folder with everything in it, hidden and read-only entries too; links are removed,
// never followed. True when the folder is gone.
inline bool RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(path.c_str());
            else if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                RemoveDirectoryW(path.c_str());
            else
                RemoveTree(path);
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryW(folder.c_str()) || !Exists(folder);
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

// The whole file ("" when it cannot be opened), also while a running program has it open for writing.
inline std::string ReadBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char chunk[65536];
    DWORD n;
    while (ReadFile(file, chunk, sizeof chunk, &n, nullptr) && n) bytes.append(chunk, n);
    CloseHandle(file);
    return bytes;
}

// Makes the file `size` bytes long, zeros behind what it held, without writing them (quick, also
// for hundreds of megabytes).
inline bool ExtendTo(const std::wstring& path, long long size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = size;
    const bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    return CloseHandle(file) && ok;
}

// Replaces the file with exactly these bytes; false (GetLastError() says why) when that fails.
inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    const DWORD error = GetLastError();
    const bool closed = CloseHandle(file);
    SetLastError(error);
    return ok && closed;
}

#include "ui/ImageMetadata.h"
#include <windows.h>
#include <io.h>
#include <share.h>
#include <cstdio>

std::string NarrowString(std::wstring text) {
    std::string out(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(text[i] & 0xFF);
    return out;
}

std::wstring WidenString(std::string text) {
    std::wstring out(text.size(), L'\0');
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    return out;
}

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring Utf8ToWide(const std::string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (units <= 0) return {};
    std::wstring out(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), units);
    return out;
}

namespace {

// One line of the file: control characters would break the line structure (CR, LF) or confuse
// readers, so they become spaces; the rest goes out as UTF-8.
std::string MetaLine(std::wstring field) {
    for (wchar_t& c : field) {
        if (c < 0x20 || c == 0x7F) c = L' ';
    }
    std::string line = WideToUtf8(field);
    line += "\r\n";
    return line;
}

}  // namespace

bool MetaFileText(const ImageMetadata& record, std::string& text) {
    text.clear();
    const std::wstring* const lines[] = {
        &record.facility, &record.location,           &record.operatorName, &record.serial,
        &record.model,    &record.endoscopeType,      &record.recommendedActions,
        &record.comments, &record.testResult,         &record.testDate,     &record.testTime,
    };
    for (const std::wstring* field : lines) {
        // Stopped at the first line past the bound: the rest would be thrown away.
        text += MetaLine(*field);
        if (!MetaFileFits(static_cast<long long>(text.size()))) {
            text.clear();
            return false;
        }
    }
    return true;
}

bool WriteMetaFile(const std::wstring& folder, const std::wstring& fileName, const ImageMetadata& record) {
    std::string text;
    if (!MetaFileText(record, text)) return false;
    const std::wstring path = folder + fileName;
    // Written beside the file and moved over it: a write that fails half-way keeps the old record.
    const std::wstring temp = path + L".tmp";
    // Binary: the CR LF pairs are written here, so no byte of a UTF-8 field is touched by the stream.
    FILE* file = _wfsopen(temp.c_str(), L"wb", _SH_DENYNO);
    if (!file) return false;
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    // On disk before the move: else after a power cut the moved file may hold zeros where the old
    // record was. A full disk may only show at the flush of the buffer.
    if (written && (std::fflush(file) != 0 || _commit(_fileno(file)) != 0)) written = false;
    if (std::fclose(file) != 0) written = false;
    if (written && ::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    ::DeleteFileW(temp.c_str());
    return false;
}

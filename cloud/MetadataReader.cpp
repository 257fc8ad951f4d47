#include "cloud/MetadataReader.h"
#include <windows.h>
#include <io.h>
#include <share.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Lines 12 and 13 are read (a writer may add them) but carry nothing for the record.
constexpr size_t kLinesRead = 13;

// Lines 1 to 6: the service's texts, whose bytes go back to it as they came, valid UTF-8 or not
// (the older byte-per-character form held them as they came too).
constexpr size_t kServiceLines = 6;

// The operator's own text: UTF-8 as the writer stores it; a line that is not valid UTF-8 comes
// from the older byte-per-character form and is widened byte by byte.
std::wstring DecodeLine(const std::string& line) {
    if (line.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.data(), static_cast<int>(line.size()),
                                      nullptr, 0);
    if (n <= 0) return WidenString(line);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.data(), static_cast<int>(line.size()), text.data(), n);
    return text;
}

// Up to kLinesRead lines ended by LF (not kept); one CR before the LF is dropped. A last line
// without LF counts; a read error ends the file where it happened. False, once more bytes come
// than fit: the file grew past the bound after it was opened.
bool ReadLines(FILE* file, std::vector<std::string>& lines) {
    std::string current;
    long long total = 0;
    char buffer[4096];
    auto finish = [&] {
        if (!current.empty() && current.back() == '\r') current.pop_back();
        lines.push_back(std::move(current));
        current.clear();
    };
    while (lines.size() < kLinesRead) {
        const size_t got = std::fread(buffer, 1, sizeof buffer, file);
        if (got == 0) break;
        total += static_cast<long long>(got);
        if (!MetaFileFits(total)) return false;
        for (size_t i = 0; i < got && lines.size() < kLinesRead; ++i) {
            if (buffer[i] == '\n') {
                finish();
            } else {
                current += buffer[i];
            }
        }
    }
    if (!current.empty() && lines.size() < kLinesRead) finish();
    return true;
}

}  // namespace

ImageMetadata ReadMetaFile(const std::wstring& metadataFolder, const std::wstring& imageName) {
    const size_t dot = imageName.rfind(L'.');
    const std::wstring stem = dot == std::wstring::npos ? imageName : imageName.substr(0, dot);
    const std::wstring path = metadataFolder + stem + L".meta";
    ImageMetadata record;
    // Binary, so that a byte 0x1A in an old file does not end the reading and CR is handled here.
    FILE* file = _wfsopen(path.c_str(), L"rb", _SH_DENYNO);
    if (!file) return record;
    std::vector<std::string> lines;
    const bool read = MetaFileFits(_filelengthi64(_fileno(file))) && ReadLines(file, lines);
    std::fclose(file);
    if (!read) return record;
    std::wstring* const members[] = {
        &record.facility, &record.location,      &record.operatorName,       &record.serial,
        &record.model,    &record.endoscopeType, &record.recommendedActions, &record.comments,
        &record.testResult, &record.testDate,    &record.testTime,
    };
    for (size_t i = 0; i < lines.size() && i < std::size(members); ++i)
        *members[i] = i < kServiceLines ? Utf8ToWideKeepingBytes(lines[i]) : DecodeLine(lines[i]);
    return record;
}

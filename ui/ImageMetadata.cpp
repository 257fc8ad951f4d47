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

namespace {

// An escaped byte: U+DC80..U+DCFF that is not the second half of a surrogate pair.
bool IsEscapedByte(const std::wstring& text, size_t i) {
    const wchar_t c = text[i];
    return c >= 0xDC80 && c <= 0xDCFF && !(i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF);
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (IsEscapedByte(text, i)) {
            out += static_cast<char>(c - 0xDC00);
        } else {
            AppendUtf8(out, c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c);
        }
    }
    return out;
}

std::wstring Utf8ToWideKeepingBytes(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    for (size_t i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            out += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        // The sequence's length and the range of its second byte, which rules out overlong forms,
        // surrogates and code points above U+10FFFF.
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        char32_t c = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        bool valid = length > 0 && size - i >= length;
        for (size_t k = 1; valid && k < length; ++k) {
            const unsigned char next = bytes[i + k];
            valid = k == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            // Only this byte: the next may begin a valid sequence.
            out += static_cast<wchar_t>(0xDC00 + lead);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
        i += length;
    }
    return out;
}

std::wstring ShownText(std::wstring text) {
    for (size_t i = 0; i < text.size(); ++i)
        if (IsEscapedByte(text, i)) text[i] = 0xFFFD;
    return text;
}

std::wstring Utf8ToWide(const std::string& text) { return ShownText(Utf8ToWideKeepingBytes(text)); }

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

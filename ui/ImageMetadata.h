// The test details of one image, the .meta file that keeps them beside the image, and the string
// conversions of that file and of window text: byte-wise (the legacy form) and UTF-8. No windows here.
#pragma once
#include <string>
#include <unordered_map>

struct ImageMetadata {
    std::wstring facility;
    std::wstring location;
    std::wstring reserved1;
    std::wstring testDate;
    std::wstring testTime;
    std::wstring operatorName;
    std::wstring serial;
    std::wstring model;
    std::wstring endoscopeType;
    std::wstring recommendedActions;
    std::wstring testResult;
    std::wstring comments;
    std::wstring reserved2;
    std::wstring reserved3;
    std::wstring reserved4;
    std::wstring reserved5;
    std::wstring reserved6;
};

// Full .bmp path, as the capture built it, to the details captured with it.
using MetadataCache = std::unordered_map<std::wstring, ImageMetadata>;

// The low byte of each UTF-16 unit.
std::string NarrowString(std::wstring text);
// Each byte as an unsigned value (0x00-0xFF to U+0000-U+00FF).
std::wstring WidenString(std::string text);

// CP_UTF8 both ways. A lone surrogate becomes U+FFFD's bytes; invalid UTF-8 becomes U+FFFD.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// The largest .meta file the program writes or reads: far above any record (11 short lines), and
// a larger file is not one of ours. Gathering one whole could exhaust the address space of a 32-bit
// process.
constexpr long long kMaxMetaFileBytes = 1LL << 20;
// Whether a .meta file of this many bytes is one the program writes and reads back: the writer and
// the reader both ask here, so a record the reader would refuse is never written.
constexpr bool MetaFileFits(long long bytes) { return bytes <= kMaxMetaFileBytes; }

// The bytes of record's .meta file into text: 11 lines ended by CR LF, in the order facility,
// location, operator, serial, model, endoscope type, recommended actions, comments, test result,
// date, time; fields as UTF-8, control characters (CR and LF among them) as spaces. False, with
// text empty, when they do not fit (MetaFileFits).
bool MetaFileText(const ImageMetadata& record, std::string& text);

// Writes record's MetaFileText to folder + fileName (no separator added), through fileName + ".tmp"
// moved over the file, so the file holds the old record or the new one, never part of either;
// other readers and writers are not locked out. False when the new record is not in place; a
// record that does not fit touches no file.
bool WriteMetaFile(const std::wstring& folder, const std::wstring& fileName, const ImageMetadata& record);

// The test details of one image, the .meta file that keeps them beside the image, and the string
// conversions of that file and of window text: byte-wise (the legacy form) and UTF-8. No windows here.
#pragma once
#include <string>
#include <unordered_map>

// Facility, location, operator, serial, model and endoscope type are the service's texts, and may
// hold escaped bytes (Utf8ToWideKeepingBytes); the others are the operator's own.
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

// UTF-8 and UTF-16, with the service's bytes kept. A service may send text that is not valid
// UTF-8; what goes back to it (the .meta file, the upload) must be its own bytes, and what is shown
// must be characters. So a record holds such a byte (0x80-0xFF) "escaped": the lone low surrogate
// U+DC00 + the byte (U+DC80-U+DCFF), which no valid text holds. Escaped bytes are stored and sent,
// never shown.
//
// The text's bytes: UTF-8, an escaped byte as that byte, any other lone surrogate as U+FFFD.
std::string WideToUtf8(const std::wstring& text);
// For what is stored or sent: every byte that is not part of valid UTF-8 (overlong forms, encoded
// surrogates and code points above U+10FFFF included) escaped, so that WideToUtf8 gives the bytes
// back.
std::wstring Utf8ToWideKeepingBytes(const std::string& text);
// For what is shown: text with every escaped byte as U+FFFD.
std::wstring ShownText(std::wstring text);
// For what is shown: ShownText(Utf8ToWideKeepingBytes(text)).
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
// date, time; fields as WideToUtf8 gives them (escaped bytes as the bytes), control characters (CR
// and LF among them) as spaces. False, with text empty, when they do not fit (MetaFileFits).
bool MetaFileText(const ImageMetadata& record, std::string& text);

// Writes record's MetaFileText to folder + fileName (no separator added), through fileName + ".tmp"
// moved over the file, so the file holds the old record or the new one, never part of either;
// other readers and writers are not locked out. False when the new record is not in place; a
// record that does not fit touches no file.
bool WriteMetaFile(const std::wstring& folder, const std::wstring& fileName, const ImageMetadata& record);

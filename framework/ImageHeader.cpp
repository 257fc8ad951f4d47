#include "framework/ImageHeader.h"
#include <cstring>

namespace {

uint32_t Byte(const std::string& b, size_t i) { return static_cast<unsigned char>(b[i]); }
uint32_t Le16(const std::string& b, size_t i) { return Byte(b, i) | Byte(b, i + 1) << 8; }
uint32_t Be16(const std::string& b, size_t i) { return Byte(b, i) << 8 | Byte(b, i + 1); }
uint32_t Le32(const std::string& b, size_t i) { return Le16(b, i) | Le16(b, i + 2) << 16; }
uint32_t Be32(const std::string& b, size_t i) { return Be16(b, i) << 16 | Be16(b, i + 2); }
bool Starts(const std::string& b, const char* magic, size_t n) {
    return b.size() >= n && std::memcmp(b.data(), magic, n) == 0;
}

// Magnitude of a signed 32-bit field; INT_MIN's fits in 32 unsigned bits.
uint32_t Magnitude(uint32_t field) {
    const int64_t v = static_cast<int32_t>(field);
    return static_cast<uint32_t>(v < 0 ? -v : v);
}

std::optional<PictureSize> Bmp(const std::string& b) {
    if (b.size() < 18) return std::nullopt;
    const uint32_t headerSize = Le32(b, 14);
    if (headerSize == 12) {  // BITMAPCOREHEADER: 16-bit unsigned sizes
        if (b.size() < 22) return std::nullopt;
        return PictureSize{Le16(b, 18), Le16(b, 20)};
    }
    if (headerSize < 16 || b.size() < 26) return std::nullopt;
    return PictureSize{Magnitude(Le32(b, 18)), Magnitude(Le32(b, 22))};
}

std::optional<PictureSize> Png(const std::string& b) {
    // Signature, then the IHDR chunk: length, type, width, height (big-endian).
    if (b.size() < 24 || b.compare(12, 4, "IHDR") != 0) return std::nullopt;
    return PictureSize{Be32(b, 16), Be32(b, 20)};
}

std::optional<PictureSize> Gif(const std::string& b) {
    if (b.size() < 10) return std::nullopt;
    return PictureSize{Le16(b, 6), Le16(b, 8)};
}

// Walks the segments from after SOI to the first frame header. Markers may be padded with 0xFF;
// a scan, the end or anything not a marker before a frame header leaves the size unknown.
std::optional<PictureSize> Jpeg(const PictureBytes& read) {
    uint64_t at = 2;
    for (int steps = 0; steps < 100000; ++steps) {
        const std::string m = read(at, 2);
        if (m.size() < 2 || Byte(m, 0) != 0xFF) return std::nullopt;
        const uint32_t marker = Byte(m, 1);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
            at += 2;
            continue;
        }
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return std::nullopt;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        const std::string s = read(at + 2, frame ? 7 : 2);
        if (s.size() < 2 || Be16(s, 0) < 2) return std::nullopt;
        if (frame) {
            // Length, precision, height, width.
            if (s.size() < 7) return std::nullopt;
            return PictureSize{Be16(s, 5), Be16(s, 3)};
        }
        at += 2 + Be16(s, 0);
    }
    return std::nullopt;
}

std::optional<PictureSize> Tiff(const PictureBytes& read, bool little) {
    auto u16 = [little](const std::string& b, size_t i) { return little ? Le16(b, i) : Be16(b, i); };
    auto u32 = [little](const std::string& b, size_t i) { return little ? Le32(b, i) : Be32(b, i); };
    const std::string head = read(0, 8);
    if (head.size() < 8) return std::nullopt;
    const uint64_t ifd = u32(head, 4);
    const std::string count = read(ifd, 2);
    if (count.size() < 2) return std::nullopt;
    const std::string entries = read(ifd + 2, static_cast<size_t>(u16(count, 0)) * 12);
    std::optional<uint32_t> width, length;
    for (size_t e = 0; e + 12 <= entries.size(); e += 12) {
        const uint32_t tag = u16(entries, e), type = u16(entries, e + 2);
        // A SHORT stands in the first two bytes of the value field, whatever the byte order.
        std::optional<uint32_t> value;
        if (type == 3) value = u16(entries, e + 8);
        if (type == 4) value = u32(entries, e + 8);
        if (tag == 256) width = value;
        if (tag == 257) length = value;
    }
    if (!width || !length) return std::nullopt;
    return PictureSize{*width, *length};
}

}  // namespace

std::optional<PictureSize> ReadPictureSize(const PictureBytes& read) {
    const std::string b = read(0, 26);
    if (Starts(b, "BM", 2)) return Bmp(b);
    if (Starts(b, "\x89PNG\r\n\x1A\n", 8)) return Png(b);
    if (Starts(b, "GIF87a", 6) || Starts(b, "GIF89a", 6)) return Gif(b);
    if (Starts(b, "\xFF\xD8", 2)) return Jpeg(read);
    if (Starts(b, "II*\0", 4)) return Tiff(read, true);
    if (Starts(b, "MM\0*", 4)) return Tiff(read, false);
    return std::nullopt;
}

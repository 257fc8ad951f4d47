#include "framework/ImageHeader.h"
#include <algorithm>
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
const char kPngSignature[] = "\x89PNG\r\n\x1A\n";

// The file seen through one chunk: a read within the chunk last read costs nothing, any other
// reads kHeaderChunk bytes from where it starts. Once kMaxHeaderReads are spent nothing more is
// read, and the header counts as unreadable whatever was found so far.
class Chunks {
public:
    explicit Chunks(const PictureBytes& read) : m_read(read) {}
    Chunks(const Chunks&) = delete;
    Chunks& operator=(const Chunks&) = delete;

    // The byte at offset; -1 past the end.
    int At(uint64_t offset) {
        if (!Holds(offset)) Load(offset);
        return Holds(offset) ? static_cast<unsigned char>(m_chunk[offset - m_start]) : -1;
    }
    // count bytes (at most kHeaderChunk) from offset; fewer at the end.
    std::string Get(uint64_t offset, size_t count) {
        const bool cut = !Holds(offset) || (offset - m_start + count > m_chunk.size() && m_chunk.size() == kHeaderChunk);
        if (cut) Load(offset);
        return Holds(offset) ? m_chunk.substr(offset - m_start, count) : std::string();
    }
    // Where the next byte of that value stands from offset on; none before the end.
    std::optional<uint64_t> Find(uint64_t offset, char value) {
        for (;;) {
            if (!Holds(offset)) Load(offset);
            if (!Holds(offset)) return std::nullopt;
            const char* from = m_chunk.data() + (offset - m_start);
            const void* hit = std::memchr(from, value, m_chunk.size() - (offset - m_start));
            if (hit) return offset + (static_cast<const char*>(hit) - from);
            offset = m_start + m_chunk.size();
        }
    }
    bool Spent() const { return m_spent; }

private:
    bool Holds(uint64_t offset) const { return offset >= m_start && offset - m_start < m_chunk.size(); }
    void Load(uint64_t offset) {
        m_start = offset;
        m_chunk.clear();
        if (m_reads == kMaxHeaderReads) {
            m_spent = true;
            return;
        }
        ++m_reads;
        m_chunk = m_read(offset, kHeaderChunk);
    }

    const PictureBytes& m_read;
    uint64_t m_start = 0;
    std::string m_chunk;
    int m_reads = 0;
    bool m_spent = false;
};

// Magnitude of a signed 32-bit field; INT_MIN's fits in 32 unsigned bits.
uint32_t Magnitude(uint32_t field) {
    const int64_t v = static_cast<int32_t>(field);
    return static_cast<uint32_t>(v < 0 ? -v : v);
}

// A bitmap's info header at `at`, as it follows the file header or stands in an icon.
std::optional<PictureSize> Dib(const std::string& b, size_t at) {
    if (b.size() < at + 4) return std::nullopt;
    const uint32_t headerSize = Le32(b, at);
    if (headerSize == 12) {  // BITMAPCOREHEADER: 16-bit unsigned sizes
        if (b.size() < at + 8) return std::nullopt;
        return PictureSize{Le16(b, at + 4), Le16(b, at + 6)};
    }
    if (headerSize < 16 || b.size() < at + 12) return std::nullopt;
    return PictureSize{Magnitude(Le32(b, at + 4)), Magnitude(Le32(b, at + 8))};
}

std::optional<PictureSize> Png(const std::string& b) {
    // Signature, then the IHDR chunk: length, type, width, height (big-endian).
    if (b.size() < 24 || b.compare(12, 4, "IHDR") != 0) return std::nullopt;
    return PictureSize{Be32(b, 16), Be32(b, 20)};
}

PictureSize Larger(PictureSize a, PictureSize b) {
    return {std::max(a.width, b.width), std::max(a.height, b.height)};
}

// Past a chain of sub-blocks (a length byte, then that many bytes; 0 ends it); false at the end.
bool SkipSubBlocks(Chunks& file, uint64_t& at) {
    for (;;) {
        const int n = file.At(at);
        if (n < 0) return false;
        at += 1 + static_cast<uint64_t>(n);
        if (n == 0) return true;
    }
}

// A colour table's bytes, when the flags byte says there is one.
uint64_t ColourTable(uint32_t flags) { return flags & 0x80 ? 3u << ((flags & 7) + 1) : 0; }

// Every frame counts, not only the first: a decoder may read them all as it opens the file.
std::optional<PictureSize> Gif(Chunks& file) {
    const std::string screen = file.Get(6, 7);
    if (screen.size() < 7) return std::nullopt;
    PictureSize size{Le16(screen, 0), Le16(screen, 2)};
    bool framed = false;
    uint64_t at = 13 + ColourTable(Byte(screen, 4));
    for (;;) {
        const int block = file.At(at);
        if (block == 0x21) {  // extension: its label, then its sub-blocks
            at += 2;
            if (!SkipSubBlocks(file, at)) break;
        } else if (block == 0x2C) {  // image descriptor: left, top, width, height, flags
            const std::string frame = file.Get(at + 1, 9);
            if (frame.size() < 9) break;
            size = Larger(size, {Le16(frame, 0) + Le16(frame, 4), Le16(frame, 2) + Le16(frame, 6)});
            framed = true;
            at += 10 + ColourTable(Byte(frame, 8)) + 1;  // and the LZW code size
            if (!SkipSubBlocks(file, at)) break;
        } else {
            break;  // the trailer, the end, or a block no decoder reads on from
        }
    }
    if (!framed) return std::nullopt;
    return size;
}

// From after SOI to the first frame header. As decoders do, any bytes up to an 0xFF are
// skipped, then fill bytes; 0xFF 0x00 is no marker; a length below 2 skips only itself. A scan,
// the end or another SOI before a frame header leaves the size unknown.
std::optional<PictureSize> Jpeg(Chunks& file) {
    uint64_t at = 2;
    for (;;) {
        const std::optional<uint64_t> ff = file.Find(at, '\xFF');
        if (!ff) return std::nullopt;
        at = *ff + 1;
        int marker = file.At(at);
        while (marker == 0xFF) marker = file.At(++at);
        if (marker < 0) return std::nullopt;
        ++at;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return std::nullopt;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        const std::string s = file.Get(at, 7);
        if (frame) {
            // Length, precision, height, width.
            if (s.size() < 7) return std::nullopt;
            return PictureSize{Be16(s, 5), Be16(s, 3)};
        }
        if (s.size() < 2) return std::nullopt;
        at += std::max<uint32_t>(Be16(s, 0), 2);
    }
}

// An unsigned integer of n bytes (at most 8) from b[i], in the file's byte order.
uint64_t Int(const std::string& b, size_t i, size_t n, bool little) {
    uint64_t v = 0;
    for (size_t k = 0; k < n; ++k) v = v << 8 | Byte(b, i + (little ? n - 1 - k : k));
    return v;
}

// The first value of a size entry (tag, type, count, value or offset): of every integer type,
// standing in the value field when it fits there (left-justified in either byte order), else at
// the offset. None for other types, no value or a negative one: no decoder makes a size of them.
std::optional<uint32_t> TiffSize(Chunks& file, const std::string& entry, bool little) {
    size_t bytes = 0;
    bool sign = false;
    switch (Int(entry, 2, 2, little)) {
    case 6: sign = true; [[fallthrough]];   // SBYTE
    case 1: bytes = 1; break;               // BYTE
    case 8: sign = true; [[fallthrough]];   // SSHORT
    case 3: bytes = 2; break;               // SHORT
    case 9: sign = true; [[fallthrough]];   // SLONG
    case 4: case 13: bytes = 4; break;      // LONG, IFD
    case 17: sign = true; [[fallthrough]];  // SLONG8
    case 16: case 18: bytes = 8; break;     // LONG8, IFD8
    default: return std::nullopt;
    }
    const uint64_t count = Int(entry, 4, 4, little);
    if (count == 0) return std::nullopt;
    const std::string value = bytes * count <= 4 ? entry.substr(8) : file.Get(Int(entry, 8, 4, little), bytes);
    if (value.size() < bytes) return std::nullopt;
    const uint64_t v = Int(value, 0, bytes, little);
    if (sign && v >> (bytes * 8 - 1)) return std::nullopt;
    return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX));
}

std::optional<PictureSize> Tiff(Chunks& file, bool little) {
    const std::string head = file.Get(0, 8);
    if (head.size() < 8) return std::nullopt;
    const uint64_t ifd = Int(head, 4, 4, little);
    const std::string count = file.Get(ifd, 2);
    if (count.size() < 2) return std::nullopt;
    std::optional<uint32_t> width, length;
    for (uint64_t e = 0; e < Int(count, 0, 2, little); ++e) {
        const std::string entry = file.Get(ifd + 2 + 12 * e, 12);
        if (entry.size() < 12) return std::nullopt;
        const uint64_t tag = Int(entry, 0, 2, little);
        if (tag != 256 && tag != 257) continue;
        const std::optional<uint32_t> value = TiffSize(file, entry, little);
        if (!value) return std::nullopt;
        std::optional<uint32_t>& size = tag == 256 ? width : length;
        size = std::max(size.value_or(0), *value);
    }
    if (!width || !length) return std::nullopt;
    return PictureSize{*width, *length};
}

// Each entry: width and height bytes (0 for 256), ..., the size and offset of its picture, a
// PNG or a bitmap without file header (whose height counts the mask too).
std::optional<PictureSize> Ico(Chunks& file) {
    const std::string head = file.Get(0, 6);
    if (head.size() < 6 || Le16(head, 4) == 0) return std::nullopt;
    PictureSize size;
    for (uint32_t e = 0; e < Le16(head, 4); ++e) {
        const std::string entry = file.Get(6 + 16 * e, 16);
        if (entry.size() < 16) return std::nullopt;
        const std::string held = file.Get(Le32(entry, 12), 24);
        const std::optional<PictureSize> heldSize = Starts(held, kPngSignature, 8) ? Png(held) : Dib(held, 0);
        if (!heldSize) return std::nullopt;
        const uint32_t w = Byte(entry, 0), h = Byte(entry, 1);
        size = Larger(Larger(size, *heldSize), {w ? w : 256, h ? h : 256});
    }
    return size;
}

}  // namespace

PictureHeader ReadPictureHeader(const PictureBytes& read) {
    Chunks file(read);
    const std::string b = file.Get(0, 26);
    PictureHeader header{true, std::nullopt};
    if (Starts(b, "BM", 2)) header.size = Dib(b, 14);
    else if (Starts(b, kPngSignature, 8)) header.size = Png(b);
    else if (Starts(b, "GIF8", 4)) header.size = Gif(file);
    else if (Starts(b, "\xFF\xD8", 2)) header.size = Jpeg(file);
    else if (Starts(b, "II*\0", 4)) header.size = Tiff(file, true);
    else if (Starts(b, "MM\0*", 4)) header.size = Tiff(file, false);
    else if (Starts(b, "\0\0\1\0", 4)) header.size = Ico(file);
    else header.known = false;
    if (file.Spent()) header.size.reset();
    return header;
}

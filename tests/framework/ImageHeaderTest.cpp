// The picture size read from a file's first bytes, each format and byte order, the places where
// a decoder finds a size the first reading missed, truncated and foreign headers; how many reads
// judging a file takes; and the bound on the size.
#include <gtest/gtest.h>
#include "framework/ImageHeader.h"
#include <string>

namespace {

// An unsigned integer of n bytes in either byte order.
std::string Int(uint64_t v, int n, bool little) {
    std::string b;
    for (int k = 0; k < n; ++k) b += static_cast<char>(v >> 8 * (little ? k : n - 1 - k));
    return b;
}
std::string Le16(uint32_t v) { return Int(v, 2, true); }
std::string Be16(uint32_t v) { return Int(v, 2, false); }
std::string Le32(uint32_t v) { return Int(v, 4, true); }
std::string Be32(uint32_t v) { return Int(v, 4, false); }

std::string Bmp(uint32_t headerSize, const std::string& sizes) {
    return "BM" + Le32(0) + Le32(0) + Le32(0) + Le32(headerSize) + sizes + std::string(40, '\0');
}
std::string Png(uint32_t w, uint32_t h) {
    return std::string("\x89PNG\r\n\x1A\n", 8) + Be32(13) + "IHDR" + Be32(w) + Be32(h) + "\x08\x02\x00\x00\x00";
}

// A GIF's signature and logical screen, with a global colour table of 4 entries.
std::string GifScreen(uint32_t w, uint32_t h, const char* version = "GIF89a") {
    return version + Le16(w) + Le16(h) + std::string("\x81\x00\x00", 3) + std::string(12, '\x40');
}
// An image descriptor, a local colour table of 2 entries, and a little LZW data.
std::string GifFrame(uint32_t left, uint32_t top, uint32_t w, uint32_t h) {
    return "\x2C" + Le16(left) + Le16(top) + Le16(w) + Le16(h) + "\x80" + std::string(6, '\x20') + "\x02" +
           "\x03\x44\x01\x05" + std::string(1, '\0');
}
// A graphic control extension and a comment of two sub-blocks.
const std::string kGifExtensions = std::string("\x21\xF9\x04\x01\x00\x00\x00\x00", 8) + "\x21\xFE" + "\x03one" +
                                   "\x03two" + std::string(1, '\0');
const std::string kGifTrailer = "\x3B";

std::string Segment(int marker, const std::string& body) {
    return std::string{'\xFF', static_cast<char>(marker)} + Be16(static_cast<uint32_t>(body.size() + 2)) + body;
}
// A frame header: precision, height, width, one component.
std::string Sof(int marker, uint32_t w, uint32_t h) {
    return Segment(marker, "\x08" + Be16(h) + Be16(w) + "\x01\x01\x11");
}
const std::string kSoi = "\xFF\xD8";
const std::string kDqt = Segment(0xDB, std::string(65, '\x01'));

// IFD0 after some pixel bytes, as writers often place it; entries (tag, type, value, count). A
// value that does not fit the entry's four bytes goes after the IFD.
struct Entry {
    uint32_t tag, type;
    uint64_t value;
    uint32_t count = 1;
};
int TypeSize(uint32_t type) {
    switch (type) {
    case 1: case 6: return 1;
    case 3: case 8: return 2;
    case 16: case 17: case 18: case 5: return 8;
    default: return 4;
    }
}
std::string Tiff(bool little, std::initializer_list<Entry> entries) {
    std::string t = little ? std::string("II*\0", 4) : std::string("MM\0*", 4);
    t += Int(8 + 100, 4, little) + std::string(100, '\x55');
    t += Int(entries.size(), 2, little);
    std::string after;
    const uint64_t afterAt = t.size() + 12 * entries.size() + 4;
    for (const Entry& e : entries) {
        const int size = TypeSize(e.type);
        std::string value = Int(e.value, size, little);
        for (uint32_t k = 1; k < e.count; ++k) value += Int(0, size, little);
        if (value.size() <= 4) {
            value.resize(4, '\0');  // left-justified
        } else {
            after += value;
            value = Int(afterAt + after.size() - value.size(), 4, little);
        }
        t += Int(e.tag, 2, little) + Int(e.type, 2, little) + Int(e.count, 4, little) + value;
    }
    return t + Int(0, 4, little) + after;
}

// An icon: the directory (width and height bytes, then the size and offset of each picture),
// then the pictures.
struct Held {
    int w, h;
    std::string picture;
};
std::string Ico(std::initializer_list<Held> held) {
    std::string directory = std::string("\0\0\1\0", 4) + Le16(static_cast<uint32_t>(held.size())), pictures;
    const size_t start = 6 + 16 * held.size();
    for (const Held& p : held) {
        directory += std::string{static_cast<char>(p.w), static_cast<char>(p.h), 0, 0} + Le16(1) + Le16(32) +
                     Le32(static_cast<uint32_t>(p.picture.size())) +
                     Le32(static_cast<uint32_t>(start + pictures.size()));
        pictures += p.picture;
    }
    return directory + pictures;
}
// A bitmap's info header without file header, as an icon holds it: its height counts the mask.
std::string Dib(uint32_t w, uint32_t h) { return Le32(40) + Le32(w) + Le32(h) + std::string(28, '\0'); }

// The file's header as read through a counter of the reads it takes.
struct Judged {
    PictureHeader header;
    int reads = 0;
};
Judged Judge(const std::string& file) {
    Judged j;
    j.header = ReadPictureHeader([&](uint64_t offset, size_t count) {
        ++j.reads;
        return offset >= file.size() ? std::string() : file.substr(static_cast<size_t>(offset), count);
    });
    return j;
}

PictureHeader Sized(uint32_t w, uint32_t h) { return {true, PictureSize{w, h}}; }
const PictureHeader kUnreadable{true, std::nullopt};  // a picture format, its size not to be had
const PictureHeader kForeign{false, std::nullopt};    // no picture format at all

std::string Describe(const PictureHeader& h) {
    std::string s = h.known ? "known" : "foreign";
    if (h.size) s += ", " + std::to_string(h.size->width) + " x " + std::to_string(h.size->height);
    return s;
}

struct Case {
    const char* what;
    std::string file;
    PictureHeader want;
};
void ExpectHeaders(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        const PictureHeader got = Judge(c.file).header;
        EXPECT_EQ(got, c.want) << c.what << ": got " << Describe(got) << ", want " << Describe(c.want);
    }
}

TEST(PictureHeader, EachFormatStatesItsSize) {
    const std::string app1 = Segment(0xE1, "Exif" + std::string(3000, 'x'));
    ExpectHeaders({
        {"BMP info header", Bmp(40, Le32(300) + Le32(200)), Sized(300, 200)},
        {"BMP top-down", Bmp(40, Le32(300) + Le32(static_cast<uint32_t>(-200))), Sized(300, 200)},
        {"BMP most negative height", Bmp(124, Le32(1) + Le32(0x80000000u)), Sized(1, 0x80000000u)},
        {"BMP v5 header", Bmp(124, Le32(20000) + Le32(20000)), Sized(20000, 20000)},
        {"BMP core header", Bmp(12, Le16(640) + Le16(480)), Sized(640, 480)},
        {"PNG", Png(20000, 20000), Sized(20000, 20000)},
        {"PNG above 16 bits", Png(0x12345, 3), Sized(0x12345, 3)},
        {"GIF87a", GifScreen(320, 240, "GIF87a") + GifFrame(0, 0, 320, 240) + kGifTrailer, Sized(320, 240)},
        {"GIF89a", GifScreen(65535, 65535) + kGifExtensions + GifFrame(0, 0, 65535, 65535) + kGifTrailer,
         Sized(65535, 65535)},
        {"JPEG baseline after APP0 and a long APP1", kSoi + Segment(0xE0, "JFIF") + app1 + Sof(0xC0, 1920, 1080),
         Sized(1920, 1080)},
        {"JPEG progressive after tables and fill bytes",
         kSoi + kDqt + "\xFF\xFF" + Segment(0xC4, std::string(30, 'h')) + Sof(0xC2, 65535, 30000),
         Sized(65535, 30000)},
        {"JPEG: DHT, JPG and DAC are no frames", kSoi + Segment(0xC4, "h") + Segment(0xC8, "j") + Segment(0xCC, "d") +
             Sof(0xC1, 8, 9),
         Sized(8, 9)},
        {"TIFF little-endian, SHORT", Tiff(true, {{254, 4, 0}, {256, 3, 640}, {257, 3, 480}}), Sized(640, 480)},
        {"TIFF big-endian, SHORT", Tiff(false, {{256, 3, 640}, {257, 3, 480}}), Sized(640, 480)},
        {"TIFF little-endian, LONG", Tiff(true, {{256, 4, 100000}, {257, 4, 100000}}), Sized(100000, 100000)},
        {"TIFF big-endian, LONG", Tiff(false, {{256, 4, 70000}, {257, 3, 2}}), Sized(70000, 2)},
        {"ICO of a bitmap: its height counts the mask", Ico({{32, 32, Dib(32, 64)}}), Sized(32, 64)},
        {"ICO: 0 in the directory is 256", Ico({{0, 0, Dib(16, 32)}}), Sized(256, 256)},
    });
}

// Sizes a decoder takes that are not where a plain reading looks, each above the bound.
TEST(PictureHeader, EverySizeADecoderMayTakeCounts) {
    ExpectHeaders({
        {"GIF: a 1 x 1 screen, its first frame 12000 x 12000 behind extensions",
         GifScreen(1, 1) + kGifExtensions + GifFrame(0, 0, 12000, 12000) + kGifTrailer, Sized(12000, 12000)},
        {"GIF: a later frame larger than the first",
         GifScreen(10, 10) + GifFrame(0, 0, 10, 10) + kGifExtensions + GifFrame(0, 0, 9000, 9000) + kGifTrailer,
         Sized(9000, 9000)},
        {"GIF: a frame out of the screen, to its far edge", GifScreen(100, 100) + GifFrame(60000, 5, 100, 100),
         Sized(60100, 105)},
        {"GIF: a frame without the trailer", GifScreen(1, 1) + GifFrame(0, 0, 12000, 12000), Sized(12000, 12000)},
        {"JPEG: two stray bytes before its tables", kSoi + "\r\n" + kDqt + Sof(0xC0, 12000, 12000),
         Sized(12000, 12000)},
        {"JPEG: stray bytes between segments", kSoi + Segment(0xE0, "JFIF") + "xx" + Sof(0xC0, 12000, 12000),
         Sized(12000, 12000)},
        {"JPEG: a stuffed zero, fill bytes and a restart marker",
         kSoi + "a\xFF" + std::string(1, '\0') + "b\xFF\xFF\xFF\xD3" + Sof(0xC0, 12000, 12000), Sized(12000, 12000)},
        {"JPEG: a segment length below 2 skips only itself", kSoi + "\xFF\xE0" + Be16(1) + Sof(0xC0, 12000, 12000),
         Sized(12000, 12000)},
        {"TIFF: a second, smaller width", Tiff(true, {{256, 4, 12000}, {257, 4, 12000}, {256, 3, 1}}),
         Sized(12000, 12000)},
        {"TIFF: a second, larger length", Tiff(false, {{256, 3, 12000}, {257, 3, 1}, {257, 4, 12000}}),
         Sized(12000, 12000)},
        {"TIFF: SLONG", Tiff(true, {{256, 9, 12000}, {257, 9, 12000}}), Sized(12000, 12000)},
        {"TIFF: SSHORT", Tiff(false, {{256, 8, 12000}, {257, 8, 12000}}), Sized(12000, 12000)},
        {"TIFF: BYTE and SBYTE", Tiff(true, {{256, 1, 200}, {257, 6, 100}}), Sized(200, 100)},
        {"TIFF: LONG8 after the IFD, and IFD", Tiff(false, {{256, 16, 0x100000000ull}, {257, 13, 12000}}),
         Sized(0xFFFFFFFFu, 12000)},
        {"TIFF: SLONG8 after the IFD, two SHORTs", Tiff(true, {{256, 17, 12000}, {257, 3, 12000, 2}}),
         Sized(12000, 12000)},
        {"ICO holding a PNG", Ico({{16, 16, Dib(16, 32)}, {0, 0, Png(12000, 12000)}}), Sized(12000, 12000)},
    });
}

// A picture format whose size cannot be read, and files of no format the decoder takes.
TEST(PictureHeader, ASizeThatCannotBeReadIsToldApart) {
    ExpectHeaders({
        {"empty", "", kForeign},
        {"text", "this is no picture, only text named .bmp", kForeign},
        {"a cursor, which the decoder does not take", std::string("\0\0\2\0", 4) + Le16(1) + Dib(20000, 20000),
         kForeign},
        {"BMP cut in its size", Bmp(40, Le32(300)).substr(0, 24), kUnreadable},
        {"BMP core header cut", Bmp(12, Le16(640)).substr(0, 20), kUnreadable},
        {"BMP of no known header", Bmp(8, Le32(300) + Le32(200)), kUnreadable},
        {"PNG cut in IHDR", Png(20000, 20000).substr(0, 22), kUnreadable},
        {"PNG without IHDR first", Png(20000, 20000).replace(12, 4, "IDAT"), kUnreadable},
        {"GIF cut in its screen", "GIF89a" + Le16(320), kUnreadable},
        {"GIF without a frame", GifScreen(320, 240) + kGifExtensions + kGifTrailer, kUnreadable},
        {"GIF cut in an extension before its frame", GifScreen(320, 240) + kGifExtensions.substr(0, 12),
         kUnreadable},
        {"GIF: an unknown block before its frame", GifScreen(1, 1) + "x" + GifFrame(0, 0, 12000, 12000),
         kUnreadable},
        {"JPEG cut in its frame header", (kSoi + Sof(0xC0, 1920, 1080)).substr(0, 8), kUnreadable},
        {"JPEG segment running past the end", kSoi + Segment(0xE0, "JFIF").substr(0, 4), kUnreadable},
        {"JPEG scan before a frame", kSoi + Segment(0xDA, "s") + Sof(0xC0, 1920, 1080), kUnreadable},
        {"JPEG end before a frame", kSoi + "\xFF\xD9" + Sof(0xC0, 1920, 1080), kUnreadable},
        {"JPEG second SOI before a frame", kSoi + kSoi + Sof(0xC0, 1920, 1080), kUnreadable},
        {"JPEG of stray bytes only", kSoi + std::string(5000, 'x'), kUnreadable},
        {"TIFF without a length", Tiff(true, {{256, 3, 640}}), kUnreadable},
        {"TIFF size of a type no decoder takes", Tiff(false, {{256, 5, 640}, {257, 3, 480}}), kUnreadable},
        {"TIFF negative SSHORT", Tiff(true, {{256, 8, 0xFFFF}, {257, 3, 480}}), kUnreadable},
        {"TIFF negative SLONG beside a good width", Tiff(false, {{256, 3, 640}, {256, 9, 0x80000000u}, {257, 3, 4}}),
         kUnreadable},
        {"TIFF size without a value", Tiff(true, {{256, 3, 640, 0}, {257, 3, 480}}), kUnreadable},
        {"TIFF LONG8 past the end", Tiff(true, {{257, 3, 480}, {256, 16, 640}}).substr(0, 8 + 100 + 2 + 24 + 4),
         kUnreadable},
        {"TIFF cut in IFD0", Tiff(true, {{256, 3, 640}, {257, 3, 480}}).substr(0, 8 + 100 + 2 + 12 + 6), kUnreadable},
        {"TIFF IFD0 past the end", std::string("II*\0", 4) + Le32(5000), kUnreadable},
        {"ICO without entries", std::string("\0\0\1\0", 4) + Le16(0), kUnreadable},
        {"ICO whose picture is past the end", Ico({{16, 16, Dib(16, 32)}}).substr(0, 6 + 16), kUnreadable},
    });
}

// The header is read in chunks, and not beyond a bound: a crafted file costs a few reads, and a
// size beyond the bound is not read at all.
TEST(PictureHeader, AnyFileIsJudgedInBoundedReads) {
    std::string tinySegments, longSegments;
    for (int i = 0; i < 100000; ++i) tinySegments += Segment(0xFE, "");  // 400 KB
    while (longSegments.size() < kHeaderChunk * (kMaxHeaderReads + 4)) longSegments += Segment(0xE2, std::string(65533, 'i'));
    std::string longComment = "\x21\xFE";
    while (longComment.size() < kHeaderChunk * (kMaxHeaderReads + 4)) longComment += "\xFF" + std::string(255, 'c');
    longComment += '\0';
    const struct {
        const char* what;
        std::string file;
        PictureHeader want;
        int reads;
    } cases[] = {
        {"a BMP", Bmp(40, Le32(300) + Le32(200)), Sized(300, 200), 1},
        {"JPEG: 100,000 empty segments", kSoi + tinySegments + Sof(0xC0, 640, 480), Sized(640, 480), 7},
        {"JPEG: 1 MB of stray bytes", kSoi + std::string(1 << 20, 'x') + Sof(0xC0, 640, 480), Sized(640, 480), 17},
        {"JPEG: a frame beyond the bound", kSoi + longSegments + Sof(0xC0, 640, 480), kUnreadable, kMaxHeaderReads},
        {"GIF: a frame beyond the bound", GifScreen(1, 1) + longComment + GifFrame(0, 0, 640, 480) + kGifTrailer,
         kUnreadable, kMaxHeaderReads},
        {"GIF: a long first frame and a later one",
         GifScreen(1, 1) + GifFrame(0, 0, 640, 480) + longComment + GifFrame(0, 0, 2, 2), kUnreadable,
         kMaxHeaderReads},
        {"TIFF: IFD0 at the end of 4 GB", std::string("MM\0*", 4) + Be32(0xFFFFFFF0u), kUnreadable, 2},
    };
    for (const auto& c : cases) {
        const Judged got = Judge(c.file);
        EXPECT_EQ(got.header, c.want) << c.what << ": got " << Describe(got.header);
        EXPECT_LE(got.reads, c.reads) << c.what;
    }
}

TEST(PictureHeader, MoreThanThirtyTwoMegapixelsIsTooLarge) {
    struct Case {
        PictureSize size;
        bool tooLarge;
    };
    const Case cases[] = {
        {{1920, 1080}, false},       {{8000, 4000}, false},  // exactly the bound
        {{8000, 4001}, true},        {{32000001, 1}, true},      {{20000, 20000}, true},
        {{65536, 65536}, true},      // 2^32: 0 in 32 bits
        {{0xFFFFFFFFu, 0xFFFFFFFFu}, true}, {{0x80000000u, 2}, true}, {{0, 0xFFFFFFFFu}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsPictureTooLarge(c.size), c.tooLarge) << c.size.width << " x " << c.size.height;
}

// What goes to the decoder: a picture within the bound, and what is no picture at all (the
// decoder refuses it); not a picture format whose size cannot be read.
TEST(PictureHeader, AKnownFormatOfUnreadableSizeIsRefusedLikeOneTooLarge) {
    EXPECT_TRUE(MayDecodePicture(Sized(8000, 4000)));
    EXPECT_FALSE(MayDecodePicture(Sized(8000, 4001)));
    EXPECT_FALSE(MayDecodePicture(kUnreadable));
    EXPECT_TRUE(MayDecodePicture(kForeign));
}

}  // namespace

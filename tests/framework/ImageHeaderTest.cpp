// The picture size read from a file's first bytes, each format and byte order, truncated and
// foreign headers; and the bound on it.
#include <gtest/gtest.h>
#include "framework/ImageHeader.h"
#include <string>

namespace {

std::string Le16(uint32_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string Be16(uint32_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v)}; }
std::string Le32(uint32_t v) { return Le16(v) + Le16(v >> 16); }
std::string Be32(uint32_t v) { return Be16(v >> 16) + Be16(v); }

std::string Bmp(uint32_t headerSize, const std::string& sizes) {
    return "BM" + Le32(0) + Le32(0) + Le32(0) + Le32(headerSize) + sizes + std::string(40, '\0');
}
std::string Png(uint32_t w, uint32_t h) {
    return std::string("\x89PNG\r\n\x1A\n", 8) + Be32(13) + "IHDR" + Be32(w) + Be32(h) + "\x08\x02\x00\x00\x00";
}
std::string Segment(int marker, const std::string& body) {
    return std::string{'\xFF', static_cast<char>(marker)} + Be16(static_cast<uint32_t>(body.size() + 2)) + body;
}
// A frame header: precision, height, width, one component.
std::string Sof(int marker, uint32_t w, uint32_t h) {
    return Segment(marker, "\x08" + Be16(h) + Be16(w) + "\x01\x01\x11");
}
const std::string kSoi = "\xFF\xD8";

// IFD0 after some pixel bytes, as writers often place it; entries (tag, type, value).
struct Entry {
    uint32_t tag, type, value;
};
std::string Tiff(bool little, std::initializer_list<Entry> entries) {
    auto u16 = little ? Le16 : Be16;
    auto u32 = little ? Le32 : Be32;
    std::string t = little ? std::string("II*\0", 4) : std::string("MM\0*", 4);
    t += u32(8 + 100) + std::string(100, '\x55');
    t += u16(static_cast<uint32_t>(entries.size()));
    for (const Entry& e : entries) {
        // A SHORT stands in the first two bytes of the value field.
        t += u16(e.tag) + u16(e.type) + u32(1) + (e.type == 3 ? u16(e.value) + u16(0) : u32(e.value));
    }
    return t + u32(0);
}

std::optional<PictureSize> SizeOf(const std::string& file) {
    return ReadPictureSize([&file](uint64_t offset, size_t count) {
        return offset >= file.size() ? std::string() : file.substr(static_cast<size_t>(offset), count);
    });
}

TEST(PictureHeader, EachFormatStatesItsSize) {
    const std::string app1 = Segment(0xE1, "Exif" + std::string(3000, 'x'));
    struct Case {
        const char* what;
        std::string file;
        std::optional<PictureSize> want;
    };
    const Case cases[] = {
        {"BMP info header", Bmp(40, Le32(300) + Le32(200)), PictureSize{300, 200}},
        {"BMP top-down", Bmp(40, Le32(300) + Le32(static_cast<uint32_t>(-200))), PictureSize{300, 200}},
        {"BMP most negative height", Bmp(124, Le32(1) + Le32(0x80000000u)), PictureSize{1, 0x80000000u}},
        {"BMP v5 header", Bmp(124, Le32(20000) + Le32(20000)), PictureSize{20000, 20000}},
        {"BMP core header", Bmp(12, Le16(640) + Le16(480)), PictureSize{640, 480}},
        {"PNG", Png(20000, 20000), PictureSize{20000, 20000}},
        {"PNG above 16 bits", Png(0x12345, 3), PictureSize{0x12345, 3}},
        {"GIF87a", "GIF87a" + Le16(320) + Le16(240) + std::string(10, '\0'), PictureSize{320, 240}},
        {"GIF89a", "GIF89a" + Le16(65535) + Le16(65535) + std::string(10, '\0'), PictureSize{65535, 65535}},
        {"JPEG baseline after APP0 and a long APP1", kSoi + Segment(0xE0, "JFIF") + app1 + Sof(0xC0, 1920, 1080),
         PictureSize{1920, 1080}},
        {"JPEG progressive after tables and fill bytes",
         kSoi + Segment(0xDB, std::string(65, 'q')) + "\xFF\xFF" + Segment(0xC4, std::string(30, 'h')) +
             Sof(0xC2, 65535, 30000),
         PictureSize{65535, 30000}},
        {"JPEG: DHT, JPG and DAC are no frames", kSoi + Segment(0xC4, "h") + Segment(0xC8, "j") + Segment(0xCC, "d") +
             Sof(0xC1, 8, 9),
         PictureSize{8, 9}},
        {"TIFF little-endian, SHORT", Tiff(true, {{254, 4, 0}, {256, 3, 640}, {257, 3, 480}}), PictureSize{640, 480}},
        {"TIFF big-endian, SHORT", Tiff(false, {{256, 3, 640}, {257, 3, 480}}), PictureSize{640, 480}},
        {"TIFF little-endian, LONG", Tiff(true, {{256, 4, 100000}, {257, 4, 100000}}), PictureSize{100000, 100000}},
        {"TIFF big-endian, LONG", Tiff(false, {{256, 4, 70000}, {257, 3, 2}}), PictureSize{70000, 2}},
        // Nothing read: the decoder decides.
        {"empty", "", std::nullopt},
        {"text", "this is no picture, only text named .bmp", std::nullopt},
        {"BMP cut in its size", Bmp(40, Le32(300)).substr(0, 24), std::nullopt},
        {"BMP core header cut", Bmp(12, Le16(640)).substr(0, 20), std::nullopt},
        {"BMP of no known header", Bmp(8, Le32(300) + Le32(200)), std::nullopt},
        {"PNG cut in IHDR", Png(20000, 20000).substr(0, 22), std::nullopt},
        {"PNG without IHDR first", Png(20000, 20000).replace(12, 4, "IDAT"), std::nullopt},
        {"GIF cut", "GIF89a" + Le16(320), std::nullopt},
        {"JPEG cut in its frame header", (kSoi + Sof(0xC0, 1920, 1080)).substr(0, 8), std::nullopt},
        {"JPEG segment running past the end", kSoi + Segment(0xE0, "JFIF").substr(0, 4), std::nullopt},
        {"JPEG scan before a frame", kSoi + Segment(0xDA, "s") + Sof(0xC0, 1920, 1080), std::nullopt},
        {"JPEG garbage between segments", kSoi + Segment(0xE0, "JFIF") + "xx" + Sof(0xC0, 1920, 1080), std::nullopt},
        {"JPEG segment length below 2", kSoi + "\xFF\xE0" + Be16(1) + Sof(0xC0, 1920, 1080), std::nullopt},
        {"TIFF without a length", Tiff(true, {{256, 3, 640}}), std::nullopt},
        {"TIFF size of another type", Tiff(false, {{256, 5, 640}, {257, 3, 480}}), std::nullopt},
        {"TIFF cut in IFD0", Tiff(true, {{256, 3, 640}, {257, 3, 480}}).substr(0, 8 + 100 + 2 + 12 + 6), std::nullopt},
        {"TIFF IFD0 past the end", std::string("II*\0", 4) + Le32(5000), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<PictureSize> got = SizeOf(c.file);
        EXPECT_EQ(got.has_value(), c.want.has_value());
        if (got && c.want) {
            EXPECT_EQ(got->width, c.want->width);
            EXPECT_EQ(got->height, c.want->height);
        }
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

}  // namespace

// The pixel size a picture file states in its header, read without decoding the picture: the
// decoder takes the time and memory of the whole picture as soon as it opens the file, so a size
// no camera of ours comes near is refused before that.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct PictureSize {
    uint32_t width = 0;
    uint32_t height = 0;
    bool operator==(const PictureSize&) const = default;
};

// Up to count bytes of the file from offset; fewer (none at all) past its end or on a read error.
using PictureBytes = std::function<std::string(uint64_t offset, size_t count)>;

// What a file's header tells before any decoder opens it.
struct PictureHeader {
    // The file starts with the signature by which the decoder picks a format of its own: BMP,
    // PNG, GIF, JPEG, TIFF or ICO.
    bool known = false;
    // The widest and the tallest any decoder may make of the header, each on its own:
    // - BMP: the info header (a core header's 16-bit sizes; a negative height by its magnitude);
    // - PNG: IHDR, which must come first;
    // - GIF: the logical screen and every frame up to the trailer, a frame by where it ends
    //   (left + width, top + height);
    // - JPEG: the first frame header (SOFn), markers found as decoders find them: any bytes up
    //   to an 0xFF, fill bytes and stuffed zeros skipped;
    // - TIFF: ImageWidth and ImageLength of IFD0, of any integer type, the largest of a
    //   repeated tag;
    // - ICO: every entry, its directory sizes and those of the PNG or bitmap it holds.
    // None when the header is cut, broken or not within the reads allowed before it says.
    std::optional<PictureSize> size;
    bool operator==(const PictureHeader&) const = default;
};

// The header is read in chunks of kHeaderChunk bytes (a read that falls in the chunk last read
// costs nothing), at most kMaxHeaderReads of them: whatever the file, judging it costs a few
// milliseconds.
constexpr size_t kHeaderChunk = 64 * 1024;
constexpr int kMaxHeaderReads = 256;
PictureHeader ReadPictureHeader(const PictureBytes& read);

// Far beyond any camera frame (1920 x 1080 is about 2 megapixels).
constexpr uint64_t kMaxPicturePixels = 32'000'000;

// Whether the picture is too large to be decoded; the product is taken in 64 bits, so that
// 65536 x 65536 does not wrap to 0.
constexpr bool IsPictureTooLarge(PictureSize size) {
    return static_cast<uint64_t>(size.width) * size.height > kMaxPicturePixels;
}

// Whether the file may go to the decoder. A picture format whose size cannot be read is refused
// like one above the bound: a decoder may make more of a broken header than this reading does.
// A file of no picture format at all goes, and the decoder refuses it.
constexpr bool MayDecodePicture(const PictureHeader& header) {
    if (!header.known) return true;
    return header.size && !IsPictureTooLarge(*header.size);
}

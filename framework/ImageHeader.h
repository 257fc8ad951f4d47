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

// The size in the header of a BMP (core header included), PNG, GIF (its logical screen), JPEG
// (the first SOFn frame) or TIFF (IFD0's width and length, either byte order). Nothing when the
// bytes are of none of these or end before the size: the decoder then decides, and it refuses a
// broken file quickly. A BMP's negative (top-down) height counts by its magnitude.
std::optional<PictureSize> ReadPictureSize(const PictureBytes& read);

// Far beyond any camera frame (1920 x 1080 is about 2 megapixels).
constexpr uint64_t kMaxPicturePixels = 32'000'000;

// Whether the picture is too large to be decoded; the product is taken in 64 bits, so that
// 65536 x 65536 does not wrap to 0.
constexpr bool IsPictureTooLarge(PictureSize size) {
    return static_cast<uint64_t>(size.width) * size.height > kMaxPicturePixels;
}

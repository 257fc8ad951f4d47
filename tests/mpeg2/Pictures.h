// Test pictures for the MPEG-2 writer: a textured ramp from left to right, a dark blue band on top
// and a white block that moves 8 px to the right per picture, so a decoder check sees order and
// orientation. Pixels in the live view's layout: row 0 on top, no row gap.
#pragma once
#include <cstdint>
#include <vector>

constexpr int kBlockSize = 32;
constexpr int kBlockStep = 8;

inline int BlockLeft(int width, int picture) { return kBlockStep * picture % (width - kBlockSize); }

// bytesPerPixel 3: B, G, R; 4: B, G, R and an alpha byte that must not matter.
inline std::vector<uint8_t> TestPicture(int width, int height, int picture, int bytesPerPixel = 3) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * bytesPerPixel);
    const int band = height / 8, blockLeft = BlockLeft(width, picture), blockTop = height / 2 - kBlockSize / 2;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t b, g, r;
            if (x >= blockLeft && x < blockLeft + kBlockSize && y >= blockTop && y < blockTop + kBlockSize) {
                b = g = r = 240;
            } else if (y < band) {
                b = 200, g = 30, r = 10;  // blue: swapped red and blue would change its luma a lot
            } else {
                // Fine diagonal texture, so that the codec has detail to lose.
                b = g = r = static_cast<uint8_t>(60 + 80 * x / width + ((x * 5 + y * 3) & 15));
                r = static_cast<uint8_t>(r + 20);
            }
            uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * bytesPerPixel];
            p[0] = b, p[1] = g, p[2] = r;
            if (bytesPerPixel == 4) p[3] = static_cast<uint8_t>(x * 7 + y);
        }
    }
    return pixels;
}

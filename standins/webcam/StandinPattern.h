// The virtual webcam's picture, shared by the device and the tests that check what the program
// receives. Frame n of a w x h YUY2 format, top row first, Y0 U Y1 V per pair of pixels.
// Every sample depends on x, y and n, so a wrong size, stride, order or frame shows; the first
// luma sample, 16 + n % 220, tells which frame arrived.
#pragma once
#include <cstdint>
#include <vector>

inline void StandinYuy2Frame(uint8_t* dst, int w, int h, uint32_t n) {
    for (int y = 0; y < h; ++y) {
        uint8_t* row = dst + static_cast<size_t>(y) * w * 2;
        for (int x = 0; x < w; x += 2) {
            uint8_t* g = row + x * 2;
            g[0] = static_cast<uint8_t>(16 + (x * 3 + y * 5 + n) % 220);
            g[1] = static_cast<uint8_t>(16 + (x + y * 2 + n * 7) % 225);
            g[2] = static_cast<uint8_t>(16 + ((x + 1) * 3 + y * 5 + n) % 220);
            g[3] = static_cast<uint8_t>(16 + (x * 2 + y + n * 3) % 225);
        }
    }
}

// Bytes per row of a 24-bit DIB: rows are padded to whole DWORDs.
inline int StandinRgb24Stride(int w) { return (w * 3 + 3) & ~3; }

// The same picture as RGB24 the way DirectShow delivers it: B, G, R per pixel, bottom row first,
// rows of StandinRgb24Stride(w) bytes. Colours are the BT.601 video-range conversion in 8-bit
// fixed point, so a receiver that converts the YUY2 frame the same way gets identical pixels.
inline void StandinRgb24Frame(uint8_t* dst, int w, int h, uint32_t n) {
    std::vector<uint8_t> yuy2(static_cast<size_t>(w) * h * 2);
    StandinYuy2Frame(yuy2.data(), w, h, n);
    auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = yuy2.data() + static_cast<size_t>(y) * w * 2;
        uint8_t* row = dst + static_cast<size_t>(h - 1 - y) * StandinRgb24Stride(w);
        for (int x = 0; x < w; ++x) {
            int l = src[x * 2] - 16;
            int d = src[(x & ~1) * 2 + 1] - 128;
            int e = src[(x & ~1) * 2 + 3] - 128;
            row[x * 3 + 0] = clamp((298 * l + 516 * d + 128) >> 8);
            row[x * 3 + 1] = clamp((298 * l - 100 * d - 208 * e + 128) >> 8);
            row[x * 3 + 2] = clamp((298 * l + 409 * e + 128) >> 8);
        }
    }
}

// The virtual webcam's picture, shared by the device and the tests that check what the program
// receives. Frame n of a w x h YUY2 format, top row first, Y0 U Y1 V per pair of pixels.
// Every sample depends on x, y and n, so a wrong size, stride, order or frame shows; the first
// luma sample, 16 + n % 220, tells which frame arrived.
#pragma once
#include <cstdint>

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

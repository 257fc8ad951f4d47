// Per-frame pixel work of the webcam callback: YUY2 to BGR24 (BT.601 video range, 8-bit fixed
// point), row order, and the copy of one sample into a frame.
#pragma once
#include <cstddef>
#include <cstdint>

inline int ClampToByte(int v) { return v <= 0 ? 0 : v >= 255 ? 255 : v; }

// Converts width * height / 2 groups Y0 U Y1 V, row 0 first, into BGR24, row 0 at the top.
void ConvertYuy2ToBgr(int width, int height, const uint8_t* source, uint8_t* target);
// The same for a run of groups (two pixels each): SSE2 for blocks of four groups, the formula for
// the rest. Reads 4 * groups bytes and writes 6 * groups, nothing beyond.
void ConvertYuy2GroupsToBgr(const uint8_t* source, uint8_t* target, int groups);
// The formula one group at a time; the reference that the SSE2 path matches bit for bit.
void ConvertYuy2GroupsToBgrScalar(const uint8_t* source, uint8_t* target, int groups);

// Reverses the row order of an image in place; an odd middle row stays.
void FlipRows(uint8_t* image, int width, int height, int bytesPerPixel);

// How the samples of a connected stream lie in memory.
enum class SampleFormat { Yuy2, Rgb24 };
struct FrameLayout {
    SampleFormat format = SampleFormat::Yuy2;
    int width = 0;
    int height = 0;
    int stride = 0;         // bytes from one row to the next, padding included
    bool bottomUp = false;  // the sample's first row is the bottom of the picture
};

// Writes one sample as a BGR24 frame (width * 3 bytes a row, row 0 at the top) in one pass.
// False, with nothing written, when the sample is shorter than stride * height.
bool CopySampleToFrame(const FrameLayout& layout, const uint8_t* sample, size_t length, uint8_t* frame);

#include "video/WebCamConversions.h"
#include <emmintrin.h>
#include <cstring>
#include <utility>
#include <vector>

void ConvertYuy2GroupsToBgrScalar(const uint8_t* s, uint8_t* t, int groups) {
    for (int g = 0; g < groups; ++g, s += 4, t += 6) {
        int d = s[1] - 128, e = s[3] - 128;
        for (int i = 0; i < 2; ++i) {
            int l = s[i * 2] - 16;
            t[i * 3 + 0] = static_cast<uint8_t>(ClampToByte((298 * l + 516 * d + 128) >> 8));
            t[i * 3 + 1] = static_cast<uint8_t>(ClampToByte((298 * l - 100 * d - 208 * e + 128) >> 8));
            t[i * 3 + 2] = static_cast<uint8_t>(ClampToByte((298 * l + 409 * e + 128) >> 8));
        }
    }
}

namespace {

// Two 16-bit factors as the word pair (lo, hi) that _mm_madd_epi16 multiplies an (a, b) pair by.
__m128i Factors(int lo, int hi) {
    return _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(hi) << 16) | (static_cast<uint32_t>(lo) & 0xFFFF)));
}

// Packs four pixels held as B G R 0 dwords into their 12 bytes at the bottom of the register.
__m128i PackBgr0(__m128i p) {
    const __m128i dword0 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i dword1 = _mm_set_epi32(0x00FFFFFF, 0, 0x00FFFFFF, 0);
    // Per qword: pixel 0 in bytes 0-2, pixel 1 moved down to bytes 3-5.
    __m128i q = _mm_or_si128(_mm_and_si128(p, dword0), _mm_srli_epi64(_mm_and_si128(p, dword1), 8));
    // Bytes 8-13 down to 6-11.
    const __m128i low6 = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
    const __m128i next6 = _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000u), 0);
    return _mm_or_si128(_mm_and_si128(q, low6), _mm_and_si128(_mm_srli_si128(q, 2), next6));
}

// Eight pixels: 16 bytes of YUY2 in, 24 bytes of BGR24 out. Every product and sum is the
// formula's own in 32 bits; the packs clamp exactly as ClampToByte does.
inline void ConvertBlock(const uint8_t* s, uint8_t* t) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i l = _mm_sub_epi16(_mm_and_si128(v, _mm_set1_epi16(0x00FF)), _mm_set1_epi16(16));
    const __m128i de = _mm_sub_epi16(_mm_srli_epi16(v, 8), _mm_set1_epi16(128));  // D E per group
    // 298 * L + 128 per pixel, from (L, 1) pairs.
    const __m128i kY = Factors(298, 128), one = _mm_set1_epi16(1);
    const __m128i y0 = _mm_madd_epi16(_mm_unpacklo_epi16(l, one), kY);
    const __m128i y1 = _mm_madd_epi16(_mm_unpackhi_epi16(l, one), kY);
    // The chroma term of one channel per group, spread over the group's two pixels.
    auto channel = [&](__m128i factors) {
        const __m128i c = _mm_madd_epi16(de, factors);
        const __m128i lo = _mm_srai_epi32(_mm_add_epi32(y0, _mm_shuffle_epi32(c, _MM_SHUFFLE(1, 1, 0, 0))), 8);
        const __m128i hi = _mm_srai_epi32(_mm_add_epi32(y1, _mm_shuffle_epi32(c, _MM_SHUFFLE(3, 3, 2, 2))), 8);
        return _mm_packs_epi32(lo, hi);
    };
    const __m128i b = channel(Factors(516, 0));
    const __m128i g = channel(Factors(-100, -208));
    const __m128i r = channel(Factors(0, 409));
    const __m128i bg8 = _mm_packus_epi16(b, g);  // B0..B7 G0..G7
    const __m128i bg = _mm_unpacklo_epi8(bg8, _mm_srli_si128(bg8, 8));
    const __m128i r0 = _mm_unpacklo_epi8(_mm_packus_epi16(r, r), zero);
    const __m128i p0 = PackBgr0(_mm_unpacklo_epi16(bg, r0));
    const __m128i p1 = PackBgr0(_mm_unpackhi_epi16(bg, r0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t), _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(t + 16), _mm_srli_si128(p1, 4));
}

}  // namespace

void ConvertYuy2GroupsToBgr(const uint8_t* source, uint8_t* target, int groups) {
    int blocks = groups / 4;
    for (int i = 0; i < blocks; ++i) ConvertBlock(source + i * 16, target + i * 24);
    ConvertYuy2GroupsToBgrScalar(source + blocks * 16, target + blocks * 24, groups - blocks * 4);
}

void ConvertYuy2ToBgr(int width, int height, const uint8_t* source, uint8_t* target) {
    ConvertYuy2GroupsToBgr(source, target, width * height / 2);
}

void FlipRows(uint8_t* image, int width, int height, int bytesPerPixel) {
    const size_t row = static_cast<size_t>(width) * bytesPerPixel;
    std::vector<uint8_t> temp(row);
    for (int i = 0; i < height / 2; ++i) {
        uint8_t* a = image + i * row;
        uint8_t* b = image + (height - 1 - i) * row;
        std::memcpy(temp.data(), a, row);
        std::memcpy(a, b, row);
        std::memcpy(b, temp.data(), row);
    }
}

bool CopySampleToFrame(const FrameLayout& layout, const uint8_t* sample, size_t length, uint8_t* frame) {
    const size_t stride = static_cast<size_t>(layout.stride);
    if (layout.height <= 0 || length < stride * layout.height) return false;
    const size_t out = static_cast<size_t>(layout.width) * 3;
    if (layout.format == SampleFormat::Yuy2) {
        if (stride == static_cast<size_t>(layout.width) * 2) {
            ConvertYuy2ToBgr(layout.width, layout.height, sample, frame);
        } else {
            for (int y = 0; y < layout.height; ++y)
                ConvertYuy2GroupsToBgr(sample + y * stride, frame + y * out, layout.width / 2);
        }
        return true;
    }
    // RGB24 is already BGR in memory; only the row order and the padding differ.
    for (int y = 0; y < layout.height; ++y) {
        int from = layout.bottomUp ? layout.height - 1 - y : y;
        std::memcpy(frame + y * out, sample + from * stride, out);
    }
    return true;
}

#include <gtest/gtest.h>
#include <cstring>
#include <random>
#include <vector>
#include "standins/webcam/StandinPattern.h"
#include "video/WebCamConversions.h"

namespace {

struct Bgr {
    int b, g, r;
};

// Exact results of the formula, worked out by hand for one group Y0 U Y1 V.
struct GroupCase {
    uint8_t y0, u, y1, v;
    Bgr first, second;
};

const GroupCase kGroups[] = {
    {16, 128, 235, 128, {0, 0, 0}, {255, 255, 255}},        // video-range black, white
    {81, 90, 81, 240, {0, 0, 255}, {0, 0, 255}},            // pure red
    {255, 255, 0, 255, {255, 125, 255}, {237, 0, 184}},     // B and R clamp high, then G low
    {0, 0, 128, 0, {0, 135, 0}, {0, 255, 0}},               // B and R clamp low, G high
    {128, 128, 128, 128, {130, 130, 130}, {130, 130, 130}},
    {100, 60, 200, 200, {0, 66, 213}, {77, 182, 255}},
    {200, 180, 235, 60, {255, 249, 106}, {255, 255, 146}},
    {16, 255, 16, 128, {255, 0, 0}, {255, 0, 0}},
};

constexpr uint8_t kGuard = 0xCD;
constexpr size_t kGuardBytes = 32;

// A target with guard bands on both sides, to show nothing is written outside the frame.
struct Guarded {
    explicit Guarded(size_t n) : bytes(n + 2 * kGuardBytes, kGuard), size(n) {}
    uint8_t* data() { return bytes.data() + kGuardBytes; }
    bool GuardsIntact() const {
        for (size_t i = 0; i < kGuardBytes; ++i)
            if (bytes[i] != kGuard || bytes[kGuardBytes + size + i] != kGuard) return false;
        return true;
    }
    std::vector<uint8_t> bytes;
    size_t size;
};

void ExpectPixel(const uint8_t* p, const Bgr& want, const char* what, int i) {
    EXPECT_EQ(p[0], want.b) << what << " " << i;
    EXPECT_EQ(p[1], want.g) << what << " " << i;
    EXPECT_EQ(p[2], want.r) << what << " " << i;
}

}  // namespace

TEST(ClampToByte, LimitsToByteRange) {
    const int cases[][2] = {{-100000, 0}, {-1, 0}, {0, 0}, {1, 1}, {128, 128}, {254, 254}, {255, 255}, {256, 255}, {100000, 255}};
    for (const auto& c : cases) EXPECT_EQ(ClampToByte(c[0]), c[1]) << c[0];
}

TEST(ConvertYuy2ToBgr, ExactValuesWithinTheFrame) {
    // 8 x 3 pixels: 12 groups, so three SSE2 blocks; 6 x 1: one block and a scalar tail of two.
    const int sizes[][2] = {{8, 3}, {6, 1}, {2, 1}};
    const int n = sizeof kGroups / sizeof kGroups[0];
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1], groups = w * h / 2;
        std::vector<uint8_t> src;
        for (int g = 0; g < groups; ++g) {
            const GroupCase& c = kGroups[g % n];
            src.insert(src.end(), {c.y0, c.u, c.y1, c.v});
        }
        Guarded dst(static_cast<size_t>(w) * h * 3);
        ConvertYuy2ToBgr(w, h, src.data(), dst.data());
        EXPECT_TRUE(dst.GuardsIntact()) << w << "x" << h;
        for (int g = 0; g < groups; ++g) {
            ExpectPixel(dst.data() + g * 6, kGroups[g % n].first, "first of group", g);
            ExpectPixel(dst.data() + g * 6 + 3, kGroups[g % n].second, "second of group", g);
        }
    }
}

TEST(ConvertYuy2ToBgr, Sse2MatchesTheFormulaForEveryYuv) {
    // Pass k holds every (Y, V) once, with U = k + group number: over the 256 passes every
    // (Y, U, V) stands in the first pixel of a group and, mirrored, in the second, and
    // neighbouring groups always differ in chroma.
    std::vector<uint8_t> src(256 * 256 * 4);
    std::vector<uint8_t> fast(256 * 256 * 6), exact(256 * 256 * 6);
    for (int k = 0; k < 256; ++k) {
        uint8_t* s = src.data();
        for (int y = 0; y < 256; ++y)
            for (int v = 0; v < 256; ++v, s += 4) {
                s[0] = static_cast<uint8_t>(y);
                s[1] = static_cast<uint8_t>(k + y * 256 + v);
                s[2] = static_cast<uint8_t>(255 - y);
                s[3] = static_cast<uint8_t>(v);
            }
        ConvertYuy2GroupsToBgr(src.data(), fast.data(), 256 * 256);
        ConvertYuy2GroupsToBgrScalar(src.data(), exact.data(), 256 * 256);
        ASSERT_EQ(0, std::memcmp(fast.data(), exact.data(), fast.size())) << "pass " << k;
    }
}

TEST(ConvertYuy2ToBgr, Sse2MatchesTheFormulaOnOddRunsAndOffsets) {
    std::mt19937 random(1234);
    for (int groups = 0; groups <= 37; ++groups) {
        for (int offset = 0; offset < 4; ++offset) {
            std::vector<uint8_t> src(static_cast<size_t>(groups) * 4 + offset);
            for (uint8_t& b : src) b = static_cast<uint8_t>(random());
            Guarded fast(static_cast<size_t>(groups) * 6), exact(static_cast<size_t>(groups) * 6);
            ConvertYuy2GroupsToBgr(src.data() + offset, fast.data(), groups);
            ConvertYuy2GroupsToBgrScalar(src.data() + offset, exact.data(), groups);
            EXPECT_TRUE(fast.GuardsIntact()) << groups << " groups";
            EXPECT_EQ(fast.bytes, exact.bytes) << groups << " groups, offset " << offset;
        }
    }
}

TEST(FlipRows, ReversesRowOrder) {
    struct Case {
        int height;
        std::vector<uint8_t> before, after;
    };
    // Two pixels of 3 bytes per row; each row's bytes tell which row it was.
    const Case cases[] = {
        {3, {1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3}, {3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1}},
        {2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}},
        {1, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> image = c.before;
        FlipRows(image.data(), 2, c.height, 3);
        EXPECT_EQ(image, c.after) << c.height << " rows";
    }
}

TEST(CopySampleToFrame, Yuy2WithRowPadding) {
    // Two rows of one group each, 8 bytes apart; the padding must not show.
    const uint8_t sample[] = {16, 128, 235, 128, 9, 9, 9, 9, 81, 90, 81, 240, 9, 9, 9, 9};
    FrameLayout layout{SampleFormat::Yuy2, 2, 2, 8, false};
    Guarded frame(12);
    ASSERT_TRUE(CopySampleToFrame(layout, sample, sizeof sample, frame.data()));
    EXPECT_TRUE(frame.GuardsIntact());
    const uint8_t want[] = {0, 0, 0, 255, 255, 255, 0, 0, 255, 0, 0, 255};
    EXPECT_EQ(0, std::memcmp(frame.data(), want, sizeof want));
}

TEST(CopySampleToFrame, Rgb24RowOrderAndPadding) {
    // 3 x 2 pixels: 9 bytes a row, DWORD-aligned to 12; rows tagged 1 and 2, padding 0xEE.
    std::vector<uint8_t> sample;
    for (int row = 1; row <= 2; ++row) {
        for (int i = 0; i < 9; ++i) sample.push_back(static_cast<uint8_t>(row * 16 + i));
        sample.insert(sample.end(), 3, 0xEE);
    }
    for (bool bottomUp : {true, false}) {
        FrameLayout layout{SampleFormat::Rgb24, 3, 2, 12, bottomUp};
        Guarded frame(18);
        ASSERT_TRUE(CopySampleToFrame(layout, sample.data(), sample.size(), frame.data()));
        EXPECT_TRUE(frame.GuardsIntact());
        const uint8_t* top = sample.data() + (bottomUp ? 12 : 0);
        const uint8_t* bottom = sample.data() + (bottomUp ? 0 : 12);
        EXPECT_EQ(0, std::memcmp(frame.data(), top, 9)) << "bottom-up " << bottomUp;
        EXPECT_EQ(0, std::memcmp(frame.data() + 9, bottom, 9)) << "bottom-up " << bottomUp;
    }
}

TEST(CopySampleToFrame, DropsShortSample) {
    const FrameLayout layouts[] = {{SampleFormat::Yuy2, 4, 2, 8, false}, {SampleFormat::Rgb24, 3, 2, 12, true}};
    for (const FrameLayout& layout : layouts) {
        std::vector<uint8_t> sample(static_cast<size_t>(layout.stride) * layout.height - 1, 7);
        Guarded frame(static_cast<size_t>(layout.width) * layout.height * 3);
        std::memset(frame.data(), 0x55, frame.size);
        EXPECT_FALSE(CopySampleToFrame(layout, sample.data(), sample.size(), frame.data()));
        EXPECT_EQ(std::vector<uint8_t>(frame.size, 0x55), std::vector<uint8_t>(frame.data(), frame.data() + frame.size));
    }
}

TEST(CopySampleToFrame, BothPathsGiveTheSamePicture) {
    // The virtual webcam's picture as YUY2 and as bottom-up, padded RGB24 (converted by its own
    // copy of the formula) must make the same frame; 6 pixels give rows of 18 bytes padded to 20.
    const int sizes[][2] = {{6, 5}, {202, 202}, {64, 48}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        std::vector<uint8_t> yuy2(static_cast<size_t>(w) * h * 2);
        std::vector<uint8_t> rgb(static_cast<size_t>(StandinRgb24Stride(w)) * h);
        StandinYuy2Frame(yuy2.data(), w, h, 41);
        StandinRgb24Frame(rgb.data(), w, h, 41);
        std::vector<uint8_t> fromYuy2(static_cast<size_t>(w) * h * 3), fromRgb(fromYuy2.size());
        ASSERT_TRUE(CopySampleToFrame({SampleFormat::Yuy2, w, h, w * 2, false}, yuy2.data(), yuy2.size(), fromYuy2.data()));
        ASSERT_TRUE(CopySampleToFrame({SampleFormat::Rgb24, w, h, StandinRgb24Stride(w), true}, rgb.data(), rgb.size(),
                                      fromRgb.data()));
        EXPECT_EQ(fromYuy2, fromRgb) << w << "x" << h;
    }
}

#include <gtest/gtest.h>
#include <vector>
#include "video/FK40Device.h"
#include "video/LycApi.h"

namespace {

constexpr int kGuard = 4096;
constexpr unsigned char kGuardByte = 0xA5;

struct Bgr {
    int b, g, r;
    bool operator==(const Bgr&) const = default;
};

void PrintTo(const Bgr& p, std::ostream* os) { *os << "(" << p.b << ", " << p.g << ", " << p.r << ")"; }

// A raw frame and a target picture with guard bands on both sides.
class Convert : public ::testing::Test {
protected:
    // The low four bits of every word are set: the conversion must drop them.
    void PutGroup(int row, int group, int u, int y0, int v, int y1) {
        unsigned char* at = raw.data() + row * kLycRawRowBytes + group * 8;
        for (int sample : {u, y0, v, y1}) {
            const unsigned word = static_cast<unsigned>(sample) << 4 | 0xF;
            *at++ = static_cast<unsigned char>(word);
            *at++ = static_cast<unsigned char>(word >> 8);
        }
    }
    void FillUniform(int y, int u, int v) {
        for (int row = 0; row < kLycHeight; ++row)
            for (int group = 0; group < kLycWidth / 2; ++group) PutGroup(row, group, u, y, v, y);
    }
    void Run() { ConvertFK40Frame(raw.data(), target.data() + kGuard); }
    Bgr Pixel(int row, int col) const {
        const unsigned char* p = target.data() + kGuard + (row * kFK40Width + col) * 3;
        return {p[0], p[1], p[2]};
    }
    void ExpectGuardsIntact() const {
        for (int i = 0; i < kGuard; ++i) {
            ASSERT_EQ(target[i], kGuardByte) << "before the picture at " << i;
            ASSERT_EQ(target[kGuard + kFK40FrameSize + i], kGuardByte) << "after the picture at " << i;
        }
    }

    std::vector<unsigned char> raw = std::vector<unsigned char>(kLycRawSize);
    std::vector<unsigned char> target = std::vector<unsigned char>(kGuard * 2 + kFK40FrameSize, kGuardByte);
};

TEST_F(Convert, UniformFramesGiveExactColours) {
    struct Case {
        const char* what;
        int y, u, v;
        Bgr expected;
    } cases[] = {
        {"white", 4095, 2048, 2048, {255, 255, 255}},
        {"black", 0, 2048, 2048, {0, 0, 0}},
        {"mid grey", 2048, 2048, 2048, {128, 128, 128}},
        {"orange-red", 2048, 1024, 3072, {14, 104, 217}},
        {"mixed chroma signs", 3000, 3500, 600, {255, 220, 60}},
        {"blue and red clamp high", 4095, 4095, 4095, {255, 120, 255}},
        {"blue and red clamp low, not wrap", 0, 0, 0, {0, 135, 0}},
        {"green clamps low", 1024, 4095, 4095, {255, 0, 243}},
        {"blue clamps low", 1024, 0, 4095, {0, 16, 243}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FillUniform(c.y, c.u, c.v);
        Run();
        for (int row = 0; row < kFK40Height; ++row)
            for (int col = 0; col < kFK40Width; ++col) ASSERT_EQ(Pixel(row, col), c.expected) << row << "," << col;
        ExpectGuardsIntact();
    }
}

// One bright sample in a black frame lands turned by 180 degrees, and only there.
TEST_F(Convert, SingleSampleLandsTurnedAround) {
    struct Case {
        int rawRow, group;
        bool second;  // Y1 rather than Y0
        int row, col;
    } cases[] = {
        {0, 0, false, 201, 201},
        {0, 0, true, 201, 200},
        {201, 100, true, 0, 0},
        {201, 100, false, 0, 1},
        {5, 10, false, 196, 181},
        {100, 50, true, 101, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "raw row " << c.rawRow << " group " << c.group << (c.second ? " Y1" : " Y0"));
        FillUniform(0, 2048, 2048);
        PutGroup(c.rawRow, c.group, 2048, c.second ? 0 : 4095, 2048, c.second ? 4095 : 0);
        Run();
        for (int row = 0; row < kFK40Height; ++row)
            for (int col = 0; col < kFK40Width; ++col) {
                const Bgr expected = row == c.row && col == c.col ? Bgr{255, 255, 255} : Bgr{0, 0, 0};
                ASSERT_EQ(Pixel(row, col), expected) << row << "," << col;
            }
        ExpectGuardsIntact();
    }
}

// A group's chroma colours both of its pixels and nothing beside them.
TEST_F(Convert, GroupChromaIsSharedByItsTwoPixels) {
    FillUniform(0, 2048, 2048);
    PutGroup(0, 0, 1024, 2048, 3072, 0);
    Run();
    EXPECT_EQ(Pixel(201, 201), (Bgr{14, 104, 217}));
    EXPECT_EQ(Pixel(201, 200), (Bgr{0, 0, 89}));
    EXPECT_EQ(Pixel(201, 199), (Bgr{0, 0, 0}));
    EXPECT_EQ(Pixel(200, 201), (Bgr{0, 0, 0}));
}

}  // namespace

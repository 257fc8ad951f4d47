// The splash's arithmetic: packing of animation requests and where the popup goes.
#include <gtest/gtest.h>
#include "app/SplashScreen.h"

namespace {

struct StepsCase {
    const char* name;
    int from, to, steps;
    SplashSteps expected;
};

const StepsCase kStepsCases[] = {
    {"StartUp", 0, 50, 5, {0, 10, 5}},
    {"Uneven", 20, 100, 3, {20, 26, 3}},  // integer division; the bar stops short of the end
    {"Downwards", 50, 0, 5, {50, -10, 5}},
    {"OneStep", 30, 90, 1, {30, 60, 1}},
    {"ZeroSteps", 0, 50, 0, {50, 0, 0}},
    {"NegativeSteps", 10, 40, -3, {40, 0, 0}},
    {"FromKeepsOnlyItsLowWord", 0x10005, 60, 5, {5, 11, 5}},
};

class SplashStepsTable : public testing::TestWithParam<StepsCase> {};

TEST_P(SplashStepsTable, UnpacksWhatAnimateProgressPacks) {
    const StepsCase& c = GetParam();
    SplashSteps got = UnpackSplashSteps(PackSplashSteps(c.from, c.to), c.steps);
    EXPECT_EQ(got.first, c.expected.first);
    EXPECT_EQ(got.step, c.expected.step);
    EXPECT_EQ(got.count, c.expected.count);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplashStepsTable, testing::ValuesIn(kStepsCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SplashSteps, PacksTheEndOverTheStartsLowWord) {
    EXPECT_EQ(PackSplashSteps(0, 50), WPARAM(50) << 16);
    EXPECT_EQ(PackSplashSteps(20, 100), (WPARAM(100) << 16) | 20);
    EXPECT_EQ(PackSplashSteps(-1, 0), WPARAM(0xFFFF));
}

struct PlaceCase {
    const char* name;
    bool haveMonitor;
    RECT monitor, workArea;
    SIZE size;
    POINT expected;
};

const PlaceCase kPlaceCases[] = {
    {"WholeMonitorNotItsWorkArea", true, {0, 0, 1280, 1024}, {0, 0, 1280, 994}, {480, 300}, {400, 362}},
    {"MonitorLeftOfThePrimary", true, {-1920, 0, 0, 1080}, {0, 0, 1280, 994}, {480, 300}, {-1200, 390}},
    {"MonitorBelowAndRight", true, {1280, 1024, 2560, 2048}, {0, 0, 1280, 994}, {361, 223}, {1739, 1424}},
    {"WorkAreaWithoutMonitorInfo", false, {-1920, 0, 0, 1080}, {0, 30, 1280, 1024}, {480, 300}, {400, 377}},
    {"LargerThanTheScreen", true, {0, 0, 800, 600}, {0, 0, 800, 570}, {1000, 700}, {-100, -50}},
};

class SplashPlacement : public testing::TestWithParam<PlaceCase> {};

TEST_P(SplashPlacement, CentresTheImageSizedPopup) {
    const PlaceCase& c = GetParam();
    POINT got = PlaceSplash(c.haveMonitor ? &c.monitor : nullptr, c.workArea, c.size);
    EXPECT_EQ(got.x, c.expected.x);
    EXPECT_EQ(got.y, c.expected.y);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplashPlacement, testing::ValuesIn(kPlaceCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

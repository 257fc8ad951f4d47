// Time per frame and per pixel of the webcam's YUY2 to BGR24 conversion at the sizes the cameras
// deliver, beside the same frames through libswscale. Prints figures; asserts nothing.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>
#include "bench/support/BenchSupport.h"
#include "video/WebCamConversions.h"
extern "C" {
#include <libswscale/swscale.h>
}

namespace {

using bench::Seconds;

// The best of several rounds of about 50 ms each, in seconds per frame.
double TimePerFrame(const std::function<void()>& convert) {
    convert();  // warm the caches and the code
    int frames = 1;
    for (double t0 = Seconds(); Seconds() - t0 < 0.05; ++frames) convert();
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        double t0 = Seconds();
        for (int i = 0; i < frames; ++i) convert();
        best = std::min(best, (Seconds() - t0) / frames);
    }
    return best;
}

}  // namespace

int main() {
    const int sizes[][2] = {{202, 202}, {640, 480}, {1280, 720}, {1920, 1080}};
    std::mt19937 random(7);
    std::printf("YUY2 to BGR24, best of 5 rounds; ms per frame (ns per pixel)\n");
    std::printf("%-10s %-20s %-20s %-20s %s\n", "size", "ConvertYuy2ToBgr", "formula, scalar", "libswscale",
                "ours / libswscale");
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        std::vector<uint8_t> src(static_cast<size_t>(w) * h * 2), dst(static_cast<size_t>(w) * h * 3);
        for (uint8_t& b : src) b = static_cast<uint8_t>(random());

        // Same size in and out, so the scaling flags do not matter.
        auto swscale = [&] {
            SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_YUYV422, w, h, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr,
                                             nullptr, nullptr);
            const uint8_t* planes[1] = {src.data()};
            const int srcStride[1] = {w * 2};
            uint8_t* out[1] = {dst.data()};
            const int dstStride[1] = {w * 3};
            double t = TimePerFrame([&] { sws_scale(sws, planes, srcStride, 0, h, out, dstStride); });
            sws_freeContext(sws);
            return t;
        };
        const double seconds[] = {
            TimePerFrame([&] { ConvertYuy2ToBgr(w, h, src.data(), dst.data()); }),
            TimePerFrame([&] { ConvertYuy2GroupsToBgrScalar(src.data(), dst.data(), w * h / 2); }),
            swscale(),
        };
        char label[32];
        std::snprintf(label, sizeof label, "%dx%d", w, h);
        std::printf("%-10s", label);
        for (double t : seconds) {
            char cell[32];
            std::snprintf(cell, sizeof cell, "%.3f (%.2f)", t * 1e3, t * 1e9 / (w * h));
            std::printf(" %-20s", cell);
        }
        std::printf(" %.2f\n", seconds[0] / seconds[2]);
    }
    return 0;
}

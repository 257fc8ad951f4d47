// MPEG-2 recording at three frame sizes: frames/s through LibAVVideoEncoder (conversion included)
// beside a plain libswscale + libavcodec loop with the same settings, and the cost of one feeding
// (one AddFrame, and the doubled call of the MPEG formats) as the UI thread pays it. Writes the BGR24
// pictures to bench-mpeg2/ in the build folder, for scripts/bench to time the native ffmpeg on them.
// Prints figures; asserts nothing.
#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include "bench/support/BenchSupport.h"
#include "recording/LibAVVideoEncoder.h"
extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace {

using bench::Median;
using bench::Milliseconds;
using bench::Spread;
using bench::Summarise;

constexpr int kPictures = 8;  // distinct pictures, fed in turn
constexpr int kEncoderFlags = SWS_BICUBIC | SWS_ACCURATE_RND;  // as the encoder converts

// ms per BGR24 to YUV 4:2:0 conversion alone, median of `runs` rounds of `frames`.
double ConversionMs(int width, int height, const std::vector<std::vector<uint8_t>>& pictures, int flags) {
    SwsContext* sws = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_YUV420P, flags,
                                     nullptr, nullptr, nullptr);
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame, 32);
    std::vector<double> rounds;
    for (int round = 0; round < 5; ++round) {
        const double t0 = Milliseconds();
        for (int i = 0; i < 20; ++i) {
            const uint8_t* planes[4] = {pictures[i % kPictures].data()};
            const int strides[4] = {3 * width};
            sws_scale(sws, planes, strides, 0, height, frame->data, frame->linesize);
        }
        rounds.push_back((Milliseconds() - t0) / 20);
    }
    av_frame_free(&frame);
    sws_freeContext(sws);
    return Median(rounds);
}

// Frames/s of a whole recording through the encoder: open, frames, drain and close.
double EncoderRun(const std::wstring& path, int width, int height, const std::vector<std::vector<uint8_t>>& pictures,
                  int frames) {
    const double t0 = Milliseconds();
    // The encoding itself: the worker would drop pictures fed this fast.
    LibAVVideoEncoder encoder(path, width, height, 24, 1, LibAVVideoEncoder::Threading::Synchronous);
    if (!encoder.Open(path, 16)) return 0;
    for (int i = 0; i < frames; ++i) encoder.AddFrame(pictures[i % kPictures].data(), nullptr);
    if (!encoder.Close()) return 0;
    return frames * 1000.0 / (Milliseconds() - t0);
}

// The same recording written straight against the libraries: one frame buffer, one cached
// conversion context, the same codec settings and file layout.
double PlainRun(const std::wstring& path, int width, int height, const std::vector<std::vector<uint8_t>>& pictures,
                int frames) {
    const double t0 = Milliseconds();
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->bit_rate = 400000;
    c->width = width;
    c->height = height;
    c->time_base = AVRational{1, 30};
    c->framerate = AVRational{30, 1};
    c->ticks_per_frame = 2;
    c->gop_size = 100;
    c->max_b_frames = 1;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->thread_count = 1;
    if (avcodec_open2(c, codec, nullptr) < 0) return 0;
    FILE* file = _wfopen(path.c_str(), L"wb");
    const unsigned char endCode[4] = {0, 0, 1, 0xB7};
    std::fwrite(endCode, 1, 4, file);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    frame->format = c->pix_fmt;
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame, 32);
    SwsContext* sws = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_YUV420P,
                                     kEncoderFlags, nullptr, nullptr, nullptr);
    auto encode = [&](AVFrame* input) {
        avcodec_send_frame(c, input);
        while (avcodec_receive_packet(c, packet) == 0) {
            std::fwrite(packet->data, 1, packet->size, file);
            av_packet_unref(packet);
        }
    };
    for (int i = 0; i < frames; ++i) {
        av_frame_make_writable(frame);
        const uint8_t* planes[4] = {pictures[i % kPictures].data()};
        const int strides[4] = {3 * width};
        sws_scale(sws, planes, strides, 0, height, frame->data, frame->linesize);
        frame->pts = i;
        encode(frame);
    }
    encode(nullptr);
    std::fwrite(endCode, 1, 4, file);
    std::fclose(file);
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&c);
    return frames * 1000.0 / (Milliseconds() - t0);
}

// Times `feedings` feedings of `calls` AddFrame calls each, the way the live view feeds a recording.
struct FeedingFigures {
    double first;
    Spread rest;
    double close;
};
FeedingFigures Feedings(const std::wstring& path, int width, int height,
                        const std::vector<std::vector<uint8_t>>& pictures, int feedings, int calls) {
    // Conversion and encoding on the calling thread, as without the recording worker.
    LibAVVideoEncoder encoder(path, width, height, 24, 1, LibAVVideoEncoder::Threading::Synchronous);
    encoder.Open(path, 16);
    std::vector<double> ms;
    for (int i = 0; i < feedings; ++i) {
        const double t0 = Milliseconds();
        for (int k = 0; k < calls; ++k) encoder.AddFrame(pictures[i % kPictures].data(), nullptr);
        ms.push_back(Milliseconds() - t0);
    }
    const double t0 = Milliseconds();
    encoder.Close();
    const double close = Milliseconds() - t0;
    const double first = ms.front();
    ms.erase(ms.begin());
    return {first, Summarise(ms), close};
}

}  // namespace

int main() {
    std::printf("machine: %s\n", bench::MachineLine().c_str());
    std::printf("libavcodec %s, configured: %s\n", AV_STRINGIFY(LIBAVCODEC_VERSION), avcodec_configuration());
    std::printf("settings: mpeg2video 400 kbit/s, 30 frames/s, GOP 100, 1 B-frame, thread_count 1, BGR24 input\n\n");

    wchar_t temp[MAX_PATH];
    const std::wstring output = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"lumetra_bench_mpeg2_" +
                                std::to_wstring(GetCurrentProcessId()) + L".mpg";
    wchar_t exe[MAX_PATH];
    std::wstring framesFolder(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
    framesFolder = framesFolder.substr(0, framesFolder.find_last_of(L"\\/")) + L"\\..\\bench-mpeg2";
    CreateDirectoryW(framesFolder.c_str(), nullptr);

    const int sizes[][2] = {{640, 480}, {1280, 720}, {1920, 1080}};
    constexpr int kRuns = 5;
    std::printf("frames/s of whole recordings (open, frames, drain, close), median of %d runs\n", kRuns);
    std::printf("%-10s %7s %12s %12s %8s   %s\n", "size", "frames", "encoder", "plain loop", "ratio",
                "conversion ms: ours (flags 0)");
    std::vector<std::vector<std::vector<uint8_t>>> allPictures;
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        std::mt19937 random(7);
        std::vector<std::vector<uint8_t>> pictures;
        for (int i = 0; i < kPictures; ++i) pictures.push_back(bench::CameraPicture(w, h, i, random));
        const std::wstring frames = framesFolder + L"\\" + std::to_wstring(w) + L"x" + std::to_wstring(h) + L".bgr";
        if (FILE* f = _wfopen(frames.c_str(), L"wb")) {
            for (const auto& p : pictures) std::fwrite(p.data(), 1, p.size(), f);
            std::fclose(f);
        }
        const int count = w >= 1920 ? 60 : 120;
        std::vector<double> ours, plain;
        EncoderRun(output, w, h, pictures, 8);  // warm up
        for (int run = 0; run < kRuns; ++run) {
            ours.push_back(EncoderRun(output, w, h, pictures, count));
            plain.push_back(PlainRun(output, w, h, pictures, count));
        }
        char label[16];
        std::snprintf(label, sizeof label, "%dx%d", w, h);
        std::printf("%-10s %7d %12.1f %12.1f %8.3f   %.2f (%.2f)\n", label, count, Median(ours), Median(plain),
                    Median(ours) / Median(plain), ConversionMs(w, h, pictures, kEncoderFlags),
                    ConversionMs(w, h, pictures, 0));
        std::fflush(stdout);
        allPictures.push_back(std::move(pictures));
    }

    constexpr int kFeedings = 300;
    std::printf("\nUI-thread cost of a feeding, ms over %d feedings (the first and Close apart)\n", kFeedings);
    std::printf("%-10s %-8s %8s %8s %8s %8s %8s\n", "size", "feeding", "median", "p95", "max", "first", "close");
    for (size_t s = 0; s < std::size(sizes); ++s) {
        const int w = sizes[s][0], h = sizes[s][1];
        for (int calls : {1, 2}) {
            const FeedingFigures f = Feedings(output, w, h, allPictures[s], kFeedings + 1, calls);
            char label[16];
            std::snprintf(label, sizeof label, "%dx%d", w, h);
            std::printf("%-10s %-8s %8.2f %8.2f %8.2f %8.2f %8.2f\n", label, calls == 1 ? "single" : "doubled",
                        f.rest.median, f.rest.p95, f.rest.max, f.first, f.close);
            std::fflush(stdout);
        }
    }
    DeleteFileW(output.c_str());
    return 0;
}

// AVI files of 24-bit frames held as the live view holds them (a bottom-up DIB section), written
// through the encoder, beside plain sequential WriteFile calls of the same bytes to the same folder.
// Open to close, medians of several runs. Prints figures; asserts nothing.
#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include "bench/support/BenchSupport.h"
#include "recording/Avi10VideoEncoder.h"

namespace {

using bench::Median;
using bench::Seconds;

// Seconds to write `frames` frames through the encoder, or a negative value on failure.
double WriteAvi(const std::wstring& path, HBITMAP dib, int width, int height, int frames) {
    const double start = Seconds();
    Avi10VideoEncoder encoder(width, height, 24, path);
    if (!encoder.Open(path, 40)) return -1;
    for (int i = 0; i < frames; ++i)
        if (!encoder.AddFrame(nullptr, dib)) return -1;
    if (!encoder.Close()) return -1;
    return Seconds() - start;
}

// The same file through the bare AVIFile calls, without the writer's checks: the platform's share.
double WriteAviFileOnly(const std::wstring& path, void* bits, int width, int height, DWORD frameBytes, int frames) {
    const double start = Seconds();
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr, compressed = nullptr;
    bool ok = AVIFileOpenW(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr) == 0;
    AVISTREAMINFOW info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 60;
    info.dwRate = 1000;
    info.dwSuggestedBufferSize = frameBytes;
    SetRect(&info.rcFrame, 0, 0, width, height);
    ok = ok && AVIFileCreateStreamW(file, &video, &info) == 0;
    AVICOMPRESSOPTIONS options{};
    options.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    ok = ok && AVIMakeCompressedStream(&compressed, video, &options, nullptr) == 0;
    BITMAPINFOHEADER header{sizeof header, width, height, 1, 24, BI_RGB, frameBytes, 0, 0, 0, 0};
    ok = ok && AVIStreamSetFormat(compressed, 0, &header, sizeof header) == 0;
    for (int i = 0; i < frames && ok; ++i)
        ok = AVIStreamWrite(compressed, i, 1, bits, static_cast<LONG>(frameBytes), AVIIF_KEYFRAME, nullptr, nullptr) == 0;
    if (compressed) AVIStreamRelease(compressed);
    if (video) AVIStreamRelease(video);
    if (file) AVIFileRelease(file);
    AVIFileExit();
    return ok ? Seconds() - start : -1;
}

double WritePlain(const std::wstring& path, const void* bits, DWORD frameBytes, int frames) {
    const double start = Seconds();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    bool ok = true;
    for (int i = 0; i < frames && ok; ++i) {
        DWORD written = 0;
        ok = WriteFile(file, bits, frameBytes, &written, nullptr) && written == frameBytes;
    }
    ok = CloseHandle(file) && ok;
    return ok ? Seconds() - start : -1;
}

}  // namespace

int main() {
    constexpr int kRuns = 7;
    constexpr double kBytesPerRun = 192.0 * 1024 * 1024;
    const struct {
        int width, height;
    } sizes[] = {{640, 480}, {1280, 720}, {1920, 1080}};

    const TempFolder scratch;
    const std::wstring& folder = scratch.path();
    if (!scratch.ok()) {
        std::printf("cannot make the folder %ls\n", folder.c_str());
        return 1;
    }
    std::printf("machine: %s\nfolder: %ls\n", bench::MachineLine().c_str(), folder.c_str());
    std::printf("%-10s %7s %8s %10s %14s %11s %6s %14s\n", "size", "frames", "MB/run", "AVI MB/s", "AVIFile MB/s",
                "plain MB/s", "ratio", "space query ms");

    int result = 0;
    for (const auto& s : sizes) {
        void* bits = nullptr;
        HBITMAP dib = bench::CreateDib24(s.width, s.height, &bits);
        if (!dib) {
            std::printf("cannot make the DIB section\n");
            return 1;
        }
        const DWORD stride = DibStride(s.width, 24);
        const DWORD frameBytes = stride * s.height;
        for (DWORD i = 0; i < frameBytes; ++i) static_cast<uint8_t*>(bits)[i] = static_cast<uint8_t>(i * 7 + i / stride);
        const int frames = std::max(30, static_cast<int>(kBytesPerRun / frameBytes));
        const double megabytes = static_cast<double>(frameBytes) * frames / 1e6;

        std::vector<double> avi, bare, plain;
        const std::wstring aviPath = folder + L"\\bench.avi", plainPath = folder + L"\\bench.raw";
        for (int run = 0; run < kRuns; ++run) {
            const double a = WriteAvi(aviPath, dib, s.width, s.height, frames);
            DeleteFileW(aviPath.c_str());
            const double u = WriteAviFileOnly(aviPath, bits, s.width, s.height, frameBytes, frames);
            DeleteFileW(aviPath.c_str());
            const double p = WritePlain(plainPath, bits, frameBytes, frames);
            DeleteFileW(plainPath.c_str());
            if (a <= 0 || u <= 0 || p <= 0) {
                std::printf("%dx%d: a write failed\n", s.width, s.height);
                result = 1;
                break;
            }
            avi.push_back(megabytes / a);
            bare.push_back(megabytes / u);
            plain.push_back(megabytes / p);
        }
        std::vector<double> query;
        for (int i = 0; i < 200; ++i) {
            ULONGLONG freeBytes = 0;
            const double start = Seconds();
            AviWriterSystem().freeSpace((folder + L"\\").c_str(), &freeBytes);
            query.push_back((Seconds() - start) * 1000);
        }
        DeleteObject(dib);
        if (avi.empty()) continue;
        const double aviRate = Median(avi), plainRate = Median(plain);
        char size[32];
        std::snprintf(size, sizeof size, "%dx%d", s.width, s.height);
        std::printf("%-10s %7d %8.1f %10.1f %14.1f %11.1f %6.2f %14.3f\n", size, frames, megabytes, aviRate,
                    Median(bare), plainRate, aviRate / plainRate, Median(query));
    }
    std::printf("medians of %d runs, open to close; AVIFile: the bare calls without the writer's checks;\n"
                "ratio = AVI / plain, goal >= 0.80; space query: one free-space query (the writer makes one a frame)\n",
                kRuns);
    return result;
}

// What the benchmark programs share: the performance-counter clock, order statistics of timings,
// the machine line, paths beside the program, 24-bit bottom-up DIB sections and a camera-like test
// picture; scratch folders are the tests' TempFolder (removed with their content). Header only; no
// state but the counter's frequency.
#pragma once
#include <windows.h>
#include <cpuid.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include "tests/support/Files.h"
#include "ui/Dib.h"

namespace bench {

// The performance counter in seconds and in milliseconds, from an arbitrary origin.
inline double Seconds() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}
inline double Milliseconds() { return Seconds() * 1000.0; }

// The value at `percent` of the sorted values: index n * percent / 100, the last at most. Median
// is the upper one of an even count; none gives 0.
inline double Percentile(std::vector<double> values, int percent) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * static_cast<size_t>(percent) / 100)];
}
inline double Median(std::vector<double> values) { return Percentile(std::move(values), 50); }

struct Spread {
    double median = 0, p95 = 0, max = 0;
};
inline Spread Summarise(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return {values[n / 2], values[std::min(n - 1, n * 95 / 100)], values.back()};
}

// The processor's brand string.
inline std::string ProcessorName() {
    unsigned regs[12] = {};
    if (__get_cpuid_max(0x80000000, nullptr) < 0x80000004) return "unknown CPU";
    for (unsigned i = 0; i < 3; ++i)
        __get_cpuid(0x80000002 + i, &regs[i * 4], &regs[i * 4 + 1], &regs[i * 4 + 2], &regs[i * 4 + 3]);
    std::string name(reinterpret_cast<const char*>(regs), sizeof regs);
    name = name.c_str();
    name.erase(0, name.find_first_not_of(' '));
    return name;
}

// "<processor>, <n> logical processors[, Wine <version>]": figures mean little without it.
inline std::string MachineLine() {
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    std::string line = ProcessorName() + ", " + std::to_string(system.dwNumberOfProcessors) + " logical processors";
    const auto wine = reinterpret_cast<const char* (*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    if (wine) line += std::string(", Wine ") + wine();
    return line;
}

// A path given relative to the program's folder, as CMake's file(RELATIVE_PATH) writes it.
inline std::wstring FromExe(const char* relative) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    std::wstring rel(relative, relative + std::strlen(relative));
    std::replace(rel.begin(), rel.end(), L'/', L'\\');
    return folder + rel;
}

// A 24-bit bottom-up DIB section and its bits; null when it cannot be made. The caller deletes it.
inline HBITMAP CreateDib24(int width, int height, void** bits) {
    const BITMAPINFO info = DibInfo(width, height, 24);
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

// A camera-like BGR24 picture (row 0 on top, no row gap): a ramp, a 64-pixel block moving 8 px
// per picture index and some sensor noise, so that an encoder has motion and detail to code.
inline std::vector<uint8_t> CameraPicture(int width, int height, int index, std::mt19937& random) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    const int left = 8 * index % (width - 64), top = height / 2 - 32;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool block = x >= left && x < left + 64 && y >= top && y < top + 64;
            const int base = block ? 230 : 40 + 150 * x / width + 30 * y / height;
            uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<uint8_t>(std::clamp(base + c * 8 + static_cast<int>(random() % 9) - 4, 0, 255));
        }
    }
    return pixels;
}

}  // namespace bench

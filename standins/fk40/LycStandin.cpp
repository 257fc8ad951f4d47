// Stand-in for the FK40 camera library: frames in the camera's raw 12-bit format at a steady
// pace, pictures and behaviour chosen through the environment (LycStandin.h).
#include <windows.h>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include "standins/fk40/LycStandin.h"
#include "video/LycApi.h"

namespace {

enum class Pattern { Bars, Uniform, Dot, Counter };
enum class Fault { None, Fail, Unfilled, Partial, Block, Hang, Crash };

struct Config {
    int initResult = 0;
    Pattern pattern = Pattern::Bars;
    int y = 2048, u = 2048, v = 2048;
    double fps = 30;
    Fault fault = Fault::None;
    unsigned faultAfter = 0;  // frames delivered before the fault starts
    std::string hang;         // name of the call that never returns
    std::string hold;         // event name; empty: LYC_Term ends a waiting frame call
};

Config g_config;
HANDLE g_term;             // manual-reset: set by LYC_Term, ends waiting and later frame calls
HANDLE g_hold;             // LYC_STANDIN_HOLD's event, or null
unsigned g_frame;          // frames delivered since LYC_Init
ULONGLONG g_nextDue;       // tick count at which the next frame is due
double g_dueFraction;      // sub-millisecond part of the frame period, carried over
SRWLOCK g_logLock = SRWLOCK_INIT;

std::string Env(const char* name) {
    char value[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

int EnvInt(const char* name, int fallback) {
    std::string value = Env(name);
    return value.empty() ? fallback : std::atoi(value.c_str());
}

Config ReadConfig() {
    Config c;
    c.initResult = EnvInt(LYC_STANDIN_INIT, 0);
    std::string pattern = Env(LYC_STANDIN_PATTERN);
    if (pattern == "uniform") c.pattern = Pattern::Uniform;
    if (pattern == "dot") c.pattern = Pattern::Dot;
    if (pattern == "counter") c.pattern = Pattern::Counter;
    c.y = EnvInt(LYC_STANDIN_Y, 2048);
    c.u = EnvInt(LYC_STANDIN_U, 2048);
    c.v = EnvInt(LYC_STANDIN_V, 2048);
    std::string fps = Env(LYC_STANDIN_FPS);
    if (!fps.empty()) c.fps = std::atof(fps.c_str());
    static const struct {
        const char* name;
        Fault fault;
    } faults[] = {{"fail", Fault::Fail},   {"unfilled", Fault::Unfilled}, {"partial", Fault::Partial},
                  {"block", Fault::Block}, {"hang", Fault::Hang},         {"crash", Fault::Crash}};
    const std::string fault = Env(LYC_STANDIN_FAULT);
    for (const auto& f : faults)
        if (fault == f.name) c.fault = f.fault;
    c.faultAfter = static_cast<unsigned>(EnvInt(LYC_STANDIN_FAULT_AFTER, 0));
    c.hang = Env(LYC_STANDIN_HANG);
    c.hold = Env(LYC_STANDIN_HOLD);
    return c;
}

void Log(const char* call) {
    std::string path = Env(LYC_STANDIN_LOG);
    if (path.empty()) return;
    std::string line = std::string(call) + "\n";
    AcquireSRWLockExclusive(&g_logLock);
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
    ReleaseSRWLockExclusive(&g_logLock);
}

void PutWord(unsigned char* at, int sample) {
    const unsigned word = static_cast<unsigned>(sample < 0 ? 0 : sample > 4095 ? 4095 : sample) << 4;
    at[0] = static_cast<unsigned char>(word);
    at[1] = static_cast<unsigned char>(word >> 8);
}

void PutGroup(unsigned char* raw, int row, int group, int u, int y0, int v, int y1) {
    unsigned char* at = raw + row * kLycRawRowBytes + group * 8;
    PutWord(at, u);
    PutWord(at + 2, y0);
    PutWord(at + 4, v);
    PutWord(at + 6, y1);
}

struct Rgb {
    int r, g, b;
};

// The demo picture, upright: colour bars drifting right and a white ring circling the centre.
Rgb BarsPixel(int x, int y, unsigned n) {
    static const Rgb bars[] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                               {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};
    const double angle = n * 6.283185307 / 150;
    const int cx = 101 + static_cast<int>(55 * std::cos(angle));
    const int cy = 101 + static_cast<int>(55 * std::sin(angle));
    const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
    if (d2 >= 28 * 28 && d2 <= 36 * 36) return {255, 255, 255};
    const int shifted = (x + kLycWidth * 4 - static_cast<int>(n * 2 % kLycWidth)) % kLycWidth;
    return bars[shifted * 7 / kLycWidth];
}

// Inverse of the camera's full-range BT.601 conversion, at 16 steps of 12 bits per 8-bit step.
void FillBars(unsigned char* raw, unsigned n) {
    for (int row = 0; row < kLycHeight; ++row) {
        for (int group = 0; group < kLycWidth / 2; ++group) {
            // The camera's picture comes out turned by 180 degrees: raw pixel p is column 201 - p.
            const int y = kLycHeight - 1 - row;
            const Rgb a = BarsPixel(kLycWidth - 1 - 2 * group, y, n);
            const Rgb b = BarsPixel(kLycWidth - 2 - 2 * group, y, n);
            const double ya = 16 * (0.299 * a.r + 0.587 * a.g + 0.114 * a.b);
            const double yb = 16 * (0.299 * b.r + 0.587 * b.g + 0.114 * b.b);
            const double u = 2048 + (16 * (a.b + b.b) / 2.0 - (ya + yb) / 2) / 1.7710;
            const double v = 2048 + (16 * (a.r + b.r) / 2.0 - (ya + yb) / 2) / 1.4022;
            PutGroup(raw, row, group, static_cast<int>(u + 0.5), static_cast<int>(ya + 0.5),
                     static_cast<int>(v + 0.5), static_cast<int>(yb + 0.5));
        }
    }
}

void FillUniform(unsigned char* raw, int y, int u, int v) {
    for (int row = 0; row < kLycHeight; ++row)
        for (int group = 0; group < kLycWidth / 2; ++group) PutGroup(raw, row, group, u, y, v, y);
}

void Fill(unsigned char* raw, unsigned n) {
    switch (g_config.pattern) {
    case Pattern::Bars: FillBars(raw, n); break;
    case Pattern::Uniform: FillUniform(raw, g_config.y, g_config.u, g_config.v); break;
    case Pattern::Counter: FillUniform(raw, static_cast<int>(n % 256) << 4, 2048, 2048); break;
    case Pattern::Dot:
        FillUniform(raw, 0, 2048, 2048);
        PutGroup(raw, 0, 0, 2048, 4095, 2048, 0);
        break;
    }
}

// Waits until the next frame is due; false when LYC_Term ended the wait or came before.
bool WaitForFrame() {
    if (g_config.fps <= 0) {
        WaitForSingleObject(g_term, INFINITE);
        return false;
    }
    if (g_config.fps >= 1000) return WaitForSingleObject(g_term, 0) != WAIT_OBJECT_0;
    const ULONGLONG now = GetTickCount64();
    if (g_nextDue + 1000 < now) g_nextDue = now;  // fell far behind: keep the pace from now on
    const DWORD wait = g_nextDue > now ? static_cast<DWORD>(g_nextDue - now) : 0;
    if (WaitForSingleObject(g_term, wait) == WAIT_OBJECT_0) return false;
    g_dueFraction += 1000.0 / g_config.fps;
    const ULONGLONG whole = static_cast<ULONGLONG>(g_dueFraction);
    g_nextDue += whole;
    g_dueFraction -= static_cast<double>(whole);
    return true;
}

void NeverReturn() {
    for (;;) Sleep(INFINITE);
}

// A fault of the camera or its driver, in place of a frame; false when the call goes on as usual.
bool Misbehave(unsigned char* buffer, int* result) {
    if (g_config.fault == Fault::None || g_frame < g_config.faultAfter) return false;
    *result = -1;
    switch (g_config.fault) {
    case Fault::None: return false;
    case Fault::Fail: return true;
    case Fault::Unfilled:
        if (WaitForFrame()) *result = 0;
        return true;
    case Fault::Partial: {
        if (!WaitForFrame()) return true;
        // The next frame, of which only the first half reaches the buffer.
        static unsigned char whole[kLycRawSize];
        Fill(whole, g_frame + 1);
        std::memcpy(buffer, whole, kLycRawSize / 2);
        *result = 0;
        return true;
    }
    case Fault::Block: WaitForSingleObject(g_term, 10000); return true;
    case Fault::Hang: NeverReturn();
    case Fault::Crash: {
        // A real access violation, not a compiler's trap for a null it can see.
        volatile uintptr_t address = 0;
        *reinterpret_cast<volatile int*>(address) = 1;
        return true;
    }
    }
    return true;
}

int DeliverFrame(unsigned char* buffer, int size, int* length) {
    if (length) *length = 0;
    if (!g_term || !buffer || size < kLycRawSize) return -1;
    int result = 0;
    if (Misbehave(buffer, &result)) return result;
    if (g_hold) WaitForSingleObject(g_hold, INFINITE);
    else if (!WaitForFrame()) return -1;
    ++g_frame;
    Fill(buffer, g_frame);
    if (length) *length = kLycRawSize;
    return 0;
}

}  // namespace

extern "C" {

int __cdecl LYC_Init(void) {
    Log("LYC_Init");
    g_config = ReadConfig();
    if (g_term) ResetEvent(g_term);
    else g_term = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_hold) CloseHandle(g_hold);
    g_hold = g_config.hold.empty() ? nullptr : CreateEventA(nullptr, TRUE, FALSE, g_config.hold.c_str());
    g_frame = 0;
    g_nextDue = GetTickCount64();
    g_dueFraction = 0;
    if (g_config.hang == "LYC_Init") NeverReturn();
    return g_config.initResult;
}

int __cdecl LYC_GetStatus(int* status) {
    Log("LYC_GetStatus");
    if (status) *status = 1;
    return 0;
}

int __cdecl LYC_GetIndex(int* index) {
    Log("LYC_GetIndex");
    if (index) *index = static_cast<int>(g_frame);
    return 0;
}

int __cdecl LYC_GetFrame(unsigned char* buffer, int size, int* length) {
    const int result = DeliverFrame(buffer, size, length);
    Log("LYC_GetFrame");
    return result;
}

int __cdecl LYC_Set_DataFormat(int) {
    Log("LYC_Set_DataFormat");
    return 0;
}

int __cdecl LYC_Term(void) {
    Log("LYC_Term");
    if (g_config.hang == "LYC_Term") NeverReturn();
    if (g_term) SetEvent(g_term);
    return 0;
}

}  // extern "C"

// The program calls these through the shared pointer types: keep the two in step.
static_assert(std::is_same_v<decltype(&LYC_Init), LYC_InitProc>);
static_assert(std::is_same_v<decltype(&LYC_GetStatus), LYC_GetStatusProc>);
static_assert(std::is_same_v<decltype(&LYC_GetIndex), LYC_GetIndexProc>);
static_assert(std::is_same_v<decltype(&LYC_GetFrame), LYC_GetFrameProc>);
static_assert(std::is_same_v<decltype(&LYC_Set_DataFormat), LYC_Set_DataFormatProc>);
static_assert(std::is_same_v<decltype(&LYC_Term), LYC_TermProc>);

#include "video/FK40Device.h"
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <type_traits>
#include "video/LycApi.h"

namespace {

// The library's entry points, kept for the rest of the run: the library is never unloaded.
LYC_InitProc g_LYC_Init;
LYC_GetFrameProc g_LYC_GetFrame;
LYC_GetIndexProc g_LYC_GetIndex;
LYC_Set_DataFormatProc g_LYC_Set_DataFormat;
LYC_GetStatusProc g_LYC_GetStatus;
LYC_TermProc g_LYC_Term;

// The exception filter's view of the worker threads: the device whose worker is inside a library
// call on this thread, in a TLS slot (reading it allocates nothing, even on a thread in trouble).
DWORD g_inLibrarySlot = TLS_OUT_OF_INDEXES;
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter;

LONG WINAPI RetireWorkerInLibrary(EXCEPTION_POINTERS* exception) {
    if (auto* device = static_cast<FK40Device*>(TlsGetValue(g_inLibrarySlot)))
        device->Retire(exception->ExceptionRecord->ExceptionCode);
    return g_previousFilter ? g_previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

bool InstallExceptionFilter() {
    g_inLibrarySlot = TlsAlloc();
    if (g_inLibrarySlot != TLS_OUT_OF_INDEXES) g_previousFilter = SetUnhandledExceptionFilter(&RetireWorkerInLibrary);
    return g_inLibrarySlot != TLS_OUT_OF_INDEXES;
}

// A library call on a thread of its own, shared with that thread, which may outlive the wait.
struct BoundedCall {
    std::function<int()> call;
    int result = 0;
};

DWORD WINAPI RunBoundedCall(LPVOID param) {
    std::unique_ptr<std::shared_ptr<BoundedCall>> held(static_cast<std::shared_ptr<BoundedCall>*>(param));
    (*held)->result = (*held)->call();
    return 0;
}

// Calls `call` on a thread of its own and waits up to `waitMs` for it to return; false when it has
// not, and then leaves it to return, or not, by itself.
bool CallWithin(std::function<int()> call, DWORD waitMs, int* result) {
    auto state = std::make_shared<BoundedCall>();
    state->call = std::move(call);
    auto* shared = new std::shared_ptr<BoundedCall>(state);
    HANDLE thread = CreateThread(nullptr, 0, &RunBoundedCall, shared, 0, nullptr);
    if (!thread) {
        delete shared;
        return false;
    }
    const bool returned = WaitForSingleObject(thread, waitMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    if (returned) *result = state->result;
    return returned;
}

// 8-byte marks spread over the raw buffer, each a fresh random value before every frame call: a
// call that leaves one in place did not write the whole frame. A real frame matches one by chance
// once in 2^62 frames.
class FrameMarks {
public:
    explicit FrameMarks(DWORD seed) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        m_state = (static_cast<unsigned long long>(now.QuadPart) << 16) ^ seed ^ 0x9E3779B97F4A7C15ull;
    }
    void Place(unsigned char* raw) {
        for (int i = 0; i < kCount; ++i) {
            m_values[i] = Next();
            std::memcpy(raw + Offset(i), &m_values[i], sizeof m_values[i]);
        }
    }
    bool AllOverwritten(const unsigned char* raw) const {
        for (int i = 0; i < kCount; ++i)
            if (std::memcmp(raw + Offset(i), &m_values[i], sizeof m_values[i]) == 0) return false;
        return true;
    }

private:
    static constexpr int kCount = 5;
    // Start, quarters and end, on 8-byte boundaries.
    static int Offset(int i) { return (kLycRawSize - 8) / 8 * i / (kCount - 1) * 8; }
    unsigned long long Next() {  // splitmix64
        unsigned long long z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    unsigned long long m_state;
    unsigned long long m_values[kCount];
};

void PrintLine(const char* text) {
    std::fputs(text, stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

unsigned Sample(const unsigned char* word) { return (word[0] | (word[1] << 8)) >> 4; }

unsigned char Clamp(int value) { return static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value); }

// Full-range BT.601 in 16.16 fixed point; the shift by 20 also takes 12-bit samples to 8 bits.
void StorePixel(VideoFrame* out, int y, int u, int v) {
    const int luma = y << 16;
    out[0] = Clamp((luma + 116064 * u) >> 20);
    out[1] = Clamp((luma - 22649 * u - 46825 * v) >> 20);
    out[2] = Clamp((luma + 91894 * v) >> 20);
}

}  // namespace

void ConvertFK40Frame(const unsigned char* raw, VideoFrame* bgr) {
    constexpr int rowBytes = kFK40Width * 3;
    std::memset(bgr, 0, kFK40FrameSize);
    for (int i = 0; i < kLycHeight; ++i) {
        const unsigned char* group = raw + i * kLycRawRowBytes;
        // Turned by 180 degrees: raw row i is picture row 201 - i, pixel p lands in column 201 - p.
        VideoFrame* out = bgr + (kFK40Height - 1 - i) * rowBytes + (kFK40Width - 1) * 3;
        for (int j = 0; j < kLycWidth / 2; ++j, group += 8, out -= 6) {
            const int u = static_cast<int>(Sample(group)) - 2048;
            const int v = static_cast<int>(Sample(group + 4)) - 2048;
            StorePixel(out, static_cast<int>(Sample(group + 2)), u, v);
            StorePixel(out - 3, static_cast<int>(Sample(group + 6)), u, v);
        }
    }
}

FK40Device::FK40Device()
    : m_raw(new unsigned char[kLycRawSize]()),
      m_bufferA(new VideoFrame[kFK40FrameSize]()),
      m_bufferB(new VideoFrame[kFK40FrameSize]()),
      m_bgrSize(kFK40FrameSize),
      m_rawSize(kLycRawSize) {
    if (LoadSdk()) StartCapture();
}

FK40Device::~FK40Device() {
    delete m_worker;
    delete[] m_raw;
    delete[] m_bufferA;
    delete[] m_bufferB;
}

bool FK40Device::EndCapture() {
    const DWORD start = GetTickCount();
    if (!m_ended) {
        m_ended = true;
        m_running.exchange(false);
        // Also ends a LYC_GetFrame the worker may be waiting in. A LYC_Term that never returns
        // holds only its own thread.
        int ignored;
        if (m_present) CallWithin([] { return g_LYC_Term(); }, kFK40EndWaitMs, &ignored);
    }
    const DWORD spent = GetTickCount() - start;
    const DWORD left = spent < kFK40EndWaitMs ? kFK40EndWaitMs - spent : 0;
    return !m_worker || WaitForSingleObject(m_worker->m_hThread, left) == WAIT_OBJECT_0;
}

void FK40Device::Release(FK40Device* device) {
    // A library that ignores LYC_Term keeps the worker inside it: leave it the whole device.
    if (device && device->EndCapture()) delete device;
}

bool FK40Device::LoadSdk() {
    HMODULE library = LoadLibraryA("LYC_API.dll");
    if (!library) {
        PrintLine("Could not load the LYC DLL!");
        return false;
    }
    // Looked up in this order; the first missing one ends the search.
    auto lookUp = [library](auto& entry, const char* name) {
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(GetProcAddress(library, name));
        if (entry) return true;
        std::fputs("Could not find API_", stdout);
        std::fputs(name, stdout);
        PrintLine(" function");
        return false;
    };
    return lookUp(g_LYC_Init, "LYC_Init") && lookUp(g_LYC_GetFrame, "LYC_GetFrame") &&
           lookUp(g_LYC_GetIndex, "LYC_GetIndex") && lookUp(g_LYC_Set_DataFormat, "LYC_Set_DataFormat") &&
           lookUp(g_LYC_GetStatus, "LYC_GetStatus") && lookUp(g_LYC_Term, "LYC_Term");
}

void FK40Device::StartCapture() {
    int result = 0;
    const bool returned = CallWithin(
        [] {
            const int init = g_LYC_Init();
            int status = 0;
            if (init <= 0) g_LYC_GetStatus(&status);  // what it reports does not decide presence
            return init;
        },
        kFK40InitWaitMs, &result);
    if (!returned || result > 0) {
        m_present = 0;
        m_initTimedOut = !returned;
        return;
    }
    m_present = 1;
    static const bool filterInstalled = InstallExceptionFilter();
    (void)filterInstalled;
    m_running = true;
    // Suspended and kept after it ends, so that EndCapture can wait on its handle.
    m_worker = AfxBeginThread(&FK40Device::CaptureThreadProc, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (!m_worker) {
        m_running = false;
        return;
    }
    m_worker->m_bAutoDelete = FALSE;
    m_worker->ResumeThread();
}

UINT FK40Device::CaptureThreadProc(LPVOID param) {
    auto* device = static_cast<FK40Device*>(param);
    FrameMarks marks(GetCurrentThreadId());
    while (device->m_running) {
        int index = 0;
        int length = 0;
        marks.Place(device->m_raw);
        TlsSetValue(g_inLibrarySlot, device);
        g_LYC_GetIndex(&index);
        g_LYC_GetFrame(device->m_raw, device->m_rawSize, &length);
        TlsSetValue(g_inLibrarySlot, nullptr);
        if (!marks.AllOverwritten(device->m_raw)) {
            // Nothing delivered: a library failing at once must not have the worker spin.
            Sleep(kFK40FramePeriodMs);
            continue;
        }
        // Only this thread touches the back buffer, so no lock while converting.
        ConvertFK40Frame(device->m_raw, device->m_front ? device->m_bufferA : device->m_bufferB);
        device->SwapBuffers();
    }
    return 0;
}

void FK40Device::SwapBuffers() {
    CSingleLock lock(&m_frameLock, TRUE);
    m_front = !m_front;
    ++m_delivered;
    m_deliveredTick = GetTickCount();
}

void FK40Device::Retire(DWORD exceptionCode) {
    TlsSetValue(g_inLibrarySlot, nullptr);
    {
        CSingleLock lock(&m_frameLock, TRUE);
        m_retired = true;
    }
    // The library's state is unknown from here on: no further call on this thread.
    ExitThread(exceptionCode);
}

bool FK40Device::PictureIsLive(unsigned* seen) const {
    const bool live = m_delivered && !m_retired && GetTickCount() - m_deliveredTick < kFK40StaleMs;
    if (!live && seen) *seen = 0;
    return live;
}

VideoFrame* FK40Device::CopyFrame(unsigned* seen) {
    {
        // Asked at every update: nothing is allocated when there is nothing to copy.
        CSingleLock lock(&m_frameLock, TRUE);
        if (!PictureIsLive(seen) || (seen && *seen == m_delivered)) return nullptr;
    }
    // Allocated outside the lock, which the worker's swap waits for.
    std::unique_ptr<VideoFrame[]> copy(new VideoFrame[m_bgrSize]);
    CSingleLock lock(&m_frameLock, TRUE);
    if (!PictureIsLive(seen)) return nullptr;
    if (seen) *seen = m_delivered;
    std::memcpy(copy.get(), m_front ? m_bufferB : m_bufferA, m_bgrSize);
    return copy.release();
}

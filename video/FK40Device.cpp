#include "video/FK40Device.h"
#include <cstdio>
#include <cstring>
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

// How long EndCapture waits for the worker to come back from LYC_GetFrame after LYC_Term.
constexpr DWORD kWorkerExitWaitMs = 5000;

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
    if (!m_ended) {
        m_ended = true;
        m_running.exchange(false);
        if (m_present) g_LYC_Term();  // also ends a LYC_GetFrame the worker may be waiting in
    }
    return !m_worker || WaitForSingleObject(m_worker->m_hThread, kWorkerExitWaitMs) == WAIT_OBJECT_0;
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
    if (g_LYC_Init() > 0) {
        m_present = 0;
        return;
    }
    int status = 0;
    g_LYC_GetStatus(&status);  // what it reports does not decide presence
    m_present = 1;
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
    while (device->m_running) {
        int index = 0;
        g_LYC_GetIndex(&index);
        int length = 0;
        g_LYC_GetFrame(device->m_raw, device->m_rawSize, &length);
        // Only this thread touches the back buffer, so no lock while converting.
        ConvertFK40Frame(device->m_raw, device->m_front ? device->m_bufferA : device->m_bufferB);
        device->SwapBuffers();
    }
    return 0;
}

void FK40Device::SwapBuffers() {
    CSingleLock lock(&m_frameLock, TRUE);
    m_front = !m_front;
    m_delivered = true;
}

VideoFrame* FK40Device::CopyFrame() {
    // Allocated before the lock, which the worker's swap waits for.
    std::unique_ptr<VideoFrame[]> copy(new VideoFrame[m_bgrSize]);
    CSingleLock lock(&m_frameLock, TRUE);
    if (!m_delivered) return nullptr;
    std::memcpy(copy.get(), m_front ? m_bufferB : m_bufferA, m_bgrSize);
    return copy.release();
}

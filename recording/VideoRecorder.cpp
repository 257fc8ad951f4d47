#include "recording/VideoRecorder.h"
#include "recording/Avi10VideoEncoder.h"
#include "recording/LibAVVideoEncoder.h"
#include <cstdlib>

namespace {
VideoEncoder* EncoderFor(const std::wstring& path, int width, int height, int bitsPerPixel, int formatIndex) {
    if (formatIndex == VideoOutputAvi) return new Avi10VideoEncoder(width, height, bitsPerPixel, path);
    return new LibAVVideoEncoder(path, width, height, bitsPerPixel, formatIndex);
}
}  // namespace

CVideoRecorder::CVideoRecorder(const std::wstring& path, int width, int height, int bitsPerPixel, int formatIndex)
    : CVideoRecorder(EncoderFor(path, width, height, bitsPerPixel, formatIndex), path, width, height, bitsPerPixel,
                     formatIndex) {}

CVideoRecorder::CVideoRecorder(VideoEncoder* encoder, const std::wstring& path, int width, int height,
                               int bitsPerPixel, int formatIndex)
    : width(width), height(height), bitsPerPixel(bitsPerPixel), path(path), formatIndex(formatIndex),
      encoder(encoder) {}

CVideoRecorder::~CVideoRecorder() { delete encoder; }

int64_t CVideoRecorder::NowMicroseconds() {
    LARGE_INTEGER count, frequency;
    ::QueryPerformanceCounter(&count);
    ::QueryPerformanceFrequency(&frequency);
    return count.QuadPart / frequency.QuadPart * 1000000 + count.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

// AVI: 60 ms a frame; MPEG-2: 1/30 s.
int64_t CVideoRecorder::SlotOf(int64_t elapsedUs) const {
    return formatIndex == VideoOutputAvi ? elapsedUs / 60000 : elapsedUs * 30 / 1000000;
}

int64_t CVideoRecorder::SlotStartUs(int64_t slot) const {
    return formatIndex == VideoOutputAvi ? slot * 60000 : (slot * 1000000 + 29) / 30;
}

bool CVideoRecorder::Start(const std::wstring& p, int framePeriodMs) {
    m_started = false;
    m_failed = !encoder->Open(p, framePeriodMs);
    return !m_failed;
}

bool CVideoRecorder::AddFrame(const unsigned char* pixels, HBITMAP dib) {
    if (m_failed || encoder->State() != RecordingState::Recording) return false;
    ++counters.handed;
    DIBSECTION section{};
    if (dib && ::GetObjectW(dib, sizeof section, &section) == sizeof section) {
        const BITMAPINFOHEADER& h = section.dsBmih;
        if (h.biWidth != width || std::abs(h.biHeight) != height || h.biBitCount != bitsPerPixel) {
            ++counters.refused;
            return true;
        }
    }
    int64_t now = NowMicroseconds();
    int64_t k = 1;
    if (!m_started) {
        m_t0 = now;
        m_lost = 0;
        m_started = true;
    } else {
        const int64_t placed = static_cast<int64_t>(counters.written) + m_lost;
        k = SlotOf(now - m_t0) + 1 - placed;
        const int64_t secondOfSlots = formatIndex == VideoOutputAvi ? 17 : 30;
        if (k > secondOfSlots) {
            counters.dropped += static_cast<uint64_t>(k - 1);
            k = 1;
            m_t0 = now - SlotStartUs(placed);
        }
    }
    if (k <= 0) {
        ++counters.skipped;
        return true;
    }
    for (int64_t i = 0; i < k; ++i) {
        const uint64_t droppedBefore = encoder->DroppedPictures();
        if (!encoder->AddFrame(pixels, dib)) {
            m_failed = encoder->State() != RecordingState::Full;
            return false;
        }
        if (encoder->DroppedPictures() != droppedBefore) {
            // The encoder is behind: handing this picture again would only add to its load, so the
            // picture and the rest of its slots are given up.
            counters.dropped += static_cast<uint64_t>(k - i);
            m_lost += k - i;
            return true;
        }
        ++counters.written;
    }
    return true;
}

bool CVideoRecorder::Stop() { return encoder->Close() && !m_failed; }

RecordingState CVideoRecorder::State() const {
    RecordingState s = encoder->State();
    if (s == RecordingState::Recording && m_failed) return RecordingState::Failed;
    return s;
}

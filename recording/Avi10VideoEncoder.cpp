#include "recording/Avi10VideoEncoder.h"

namespace {
constexpr int kAviPeriodMs = 60;
}

Avi10VideoEncoder::Avi10VideoEncoder(int width, int height, int bitsPerPixel, const std::wstring& path,
                                     const AviWriterPlatform& platform)
    : width(width), height(height), bitsPerPixel(bitsPerPixel), path(path), m_platform(platform) {}

Avi10VideoEncoder::~Avi10VideoEncoder() {
    if (writer) Close();
}

bool Avi10VideoEncoder::Open(const std::wstring& p, int framePeriodMs) {
    if (writer) Close();
    writer = AviWriterCreate(p, kAviPeriodMs, nullptr, m_platform);
    m_pictures = 0;
    m_state = writer ? RecordingState::Recording : RecordingState::Failed;
    return writer != nullptr;
}

bool Avi10VideoEncoder::AddFrame(const unsigned char* pixels, HBITMAP dibSection) {
    if (!writer) return false;
    const HRESULT result = AviWriterAddFrame(writer, dibSection);
    if (writer->full) {
        m_state = RecordingState::Full;
    } else if (writer->failed) {
        m_state = RecordingState::Failed;
    }
    if (result == 0) ++m_pictures;
    return result == 0;
}

bool Avi10VideoEncoder::Close() {
    if (!writer) return false;
    const bool allWritten = !writer->failed;
    const HRESULT result = AviWriterClose(writer);
    writer = nullptr;
    if (result != 0) m_state = RecordingState::Failed;
    return allWritten && result == 0;
}

#include "video/FK40VideoSourceProvider.h"
#include "video/FK40Device.h"
#include "video/FK40VideoSource.h"

FK40VideoSourceProvider::FK40VideoSourceProvider() : m_device(new FK40Device()) {
    if (m_device->InitTimedOut()) m_failed.push_back(new FK40VideoSource(nullptr));
}

FK40VideoSourceProvider::~FK40VideoSourceProvider() {
    // A source that was closed has released the device already.
    bool closed = false;
    for (VideoSource* s : m_sources) closed |= static_cast<FK40VideoSource*>(s)->GetDevice() == nullptr;
    if (!closed) FK40Device::Release(m_device);
    for (VideoSource* s : m_sources) delete s;
    for (VideoSource* s : m_failed) delete s;
}

std::vector<VideoSource*>* FK40VideoSourceProvider::GetVideoSources() {
    // The camera's state was settled at construction: it is not probed again.
    if (m_sources.empty() && m_device->IsConnected()) m_sources.push_back(new FK40VideoSource(m_device));
    return &m_sources;
}

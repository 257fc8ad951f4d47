#include "video/CompositeVideoSourceProvider.h"
#include "video/FK40VideoSourceProvider.h"
#include "video/WebCamVideoSourceProvider.h"

VideoSource::~VideoSource() {
    for (VideoResolution* r : resolutions) delete r;
}

std::vector<VideoSource*> VideoSourceProvider::CloseAllSources() {
    std::vector<VideoSource*> sources = *GetVideoSources();
    for (VideoSource* s : sources) s->Close();
    return sources;
}

CompositeVideoSourceProvider::CompositeVideoSourceProvider()
    : m_webcams(new WebCamVideoSourceProvider()), m_fk40(new FK40VideoSourceProvider()) {}

CompositeVideoSourceProvider::CompositeVideoSourceProvider(VideoSourceProvider* webcams,
                                                           VideoSourceProvider* fk40)
    : m_webcams(webcams), m_fk40(fk40) {}

CompositeVideoSourceProvider::~CompositeVideoSourceProvider() {
    delete m_webcams;
    delete m_fk40;
}

std::vector<VideoSource*>* CompositeVideoSourceProvider::GetVideoSources() {
    m_available.clear();
    m_failed.clear();
    std::vector<VideoSource*> webcams = *m_webcams->GetVideoSources();
    std::vector<VideoSource*> fk40 = *m_fk40->GetVideoSources();
    m_available.insert(m_available.end(), fk40.begin(), fk40.end());
    const std::vector<VideoSource*>& fk40Failed = *m_fk40->GetFailedVideoSources();
    m_failed.insert(m_failed.end(), fk40Failed.begin(), fk40Failed.end());
    for (VideoSource* s : webcams) (s->initialized ? m_available : m_failed).push_back(s);
    return &m_available;
}

std::vector<VideoSource*>* CompositeVideoSourceProvider::GetFailedVideoSources() { return &m_failed; }

bool CompositeVideoSourceProvider::NeedsRefresh() {
    return m_webcams->NeedsRefresh() || m_fk40->NeedsRefresh();
}

void CompositeVideoSourceProvider::SetNotifyWindow(HWND window) {
    m_notify = window;
    m_webcams->SetNotifyWindow(window);
}

void CompositeVideoSourceProvider::CheckDeviceLost() {
    if (m_webcams->PollGraphEvents()) m_webcams->MarkForRefresh();
}

// The one provider the application creates: the FK40 camera first, then the webcams.
#pragma once
#include "video/VideoSource.h"

class CompositeVideoSourceProvider : public VideoSourceProvider {
public:
    // Creates the webcam provider (which initialises COM) and then the FK40 provider.
    CompositeVideoSourceProvider();
    // Joins the given providers (webcams, FK40) and takes ownership of them.
    CompositeVideoSourceProvider(VideoSourceProvider* webcams, VideoSourceProvider* fk40);
    ~CompositeVideoSourceProvider() override;

    std::vector<VideoSource*>* GetVideoSources() override;
    std::vector<VideoSource*>* GetFailedVideoSources() override;
    bool NeedsRefresh() override;

    void SetNotifyWindow(HWND window) override;
    // Drains the webcam graphs' events; a lost device marks the webcam list for refresh.
    void CheckDeviceLost();

private:
    std::vector<VideoSource*> m_available;
    std::vector<VideoSource*> m_failed;
    HWND m_notify = nullptr;
    VideoSourceProvider* m_webcams;
    VideoSourceProvider* m_fk40;
};

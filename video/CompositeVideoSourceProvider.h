// The one provider the application creates: the FK40 camera first, then the webcams.
#pragma once
#include "video/VideoSource.h"

class WebCamVideoSourceProvider;
class FK40VideoSourceProvider;

class CompositeVideoSourceProvider : public VideoSourceProvider {
public:
    // Creates the webcam provider (which initialises COM) and then the FK40 provider.
    CompositeVideoSourceProvider();
    // Joins the given providers and takes ownership of them.
    CompositeVideoSourceProvider(WebCamVideoSourceProvider* webcams, FK40VideoSourceProvider* fk40);
    ~CompositeVideoSourceProvider() override;

    std::vector<VideoSource*>* GetVideoSources() override;
    std::vector<VideoSource*>* GetFailedVideoSources() override;
    bool NeedsRefresh() override;

    void SetNotifyWindow(HWND window);
    // Drains the webcam graphs' events; a lost device marks the webcam list for refresh.
    void CheckDeviceLost();

private:
    std::vector<VideoSource*> m_available;
    std::vector<VideoSource*> m_failed;
    HWND m_notify = nullptr;
    WebCamVideoSourceProvider* m_webcams;
    FK40VideoSourceProvider* m_fk40;
};

#include <gtest/gtest.h>
#include "video/CompositeVideoSourceProvider.h"
#include <string>

namespace {

struct FakeSource : VideoSource {
    FakeSource(const char* desc, bool init) { description = desc; initialized = init; }
    int Start() override { return 1; }
    int Stop() override { return 1; }
    VideoFrame* GetFrame(unsigned char*) override { return nullptr; }
    int UpdateFrame() override { return 0; }
    void Close() override { closes.push_back(description); }
    void Open(VideoResolution*) override {}
    static inline std::vector<std::string> closes;
};

struct FakeProvider : VideoSourceProvider {
    std::vector<VideoSource*> list, failed;
    bool refresh = false, lost = false;
    int enumerations = 0;
    HWND window() const { return m_notifyWindow; }
    std::vector<VideoSource*>* GetVideoSources() override { ++enumerations; refresh = false; return &list; }
    std::vector<VideoSource*>* GetFailedVideoSources() override { return &failed; }
    bool NeedsRefresh() override { return refresh; }
    bool PollGraphEvents() override { bool l = lost; lost = false; return l; }
    void MarkForRefresh() override { refresh = true; }
};

std::vector<std::string> names(const std::vector<VideoSource*>& v) {
    std::vector<std::string> out;
    for (VideoSource* s : v) out.push_back(s->description);
    return out;
}

class Composite : public ::testing::Test {
protected:
    FakeSource fk40{"fk40", false}, cam1{"cam1", true}, cam2{"cam2", true}, broken{"broken", false};
    FakeProvider* webcams = new FakeProvider;
    FakeProvider* fk = new FakeProvider;
    CompositeVideoSourceProvider composite{webcams, fk};
    void SetUp() override { FakeSource::closes.clear(); }
};

}  // namespace

TEST_F(Composite, NoDevicesGiveEmptyLists) {
    EXPECT_TRUE(composite.GetVideoSources()->empty());
    EXPECT_TRUE(composite.GetFailedVideoSources()->empty());
    composite.CloseAllSources();
    EXPECT_TRUE(FakeSource::closes.empty());
}

TEST_F(Composite, FK40ComesFirstAndFailedWebcamsAreFiledOnce) {
    webcams->list = {&cam1, &broken, &cam2};
    fk->list = {&fk40};  // listed whatever its flag says
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(names(*composite.GetVideoSources()), (std::vector<std::string>{"fk40", "cam1", "cam2"}));
        EXPECT_EQ(names(*composite.GetFailedVideoSources()), std::vector<std::string>{"broken"});
    }
}

// A camera whose library did not answer its start is reported with the failed webcams, first.
TEST_F(Composite, AFailedFK40IsFiledAsFailedFirst) {
    webcams->list = {&broken, &cam1};
    fk->failed = {&fk40};
    EXPECT_EQ(names(*composite.GetVideoSources()), std::vector<std::string>{"cam1"});
    EXPECT_EQ(names(*composite.GetFailedVideoSources()), (std::vector<std::string>{"fk40", "broken"}));
    composite.CloseAllSources();
    EXPECT_EQ(FakeSource::closes, std::vector<std::string>{"cam1"});
}

TEST_F(Composite, CloseAllSourcesClosesTheAvailableInOrder) {
    webcams->list = {&cam1, &broken};
    fk->list = {&fk40};
    composite.CloseAllSources();
    EXPECT_EQ(FakeSource::closes, (std::vector<std::string>{"fk40", "cam1"}));
}

TEST_F(Composite, DeviceLossMarksForRefreshUntilTheNextEnumeration) {
    composite.GetVideoSources();
    EXPECT_FALSE(composite.NeedsRefresh());
    composite.CheckDeviceLost();  // events without a loss
    EXPECT_FALSE(composite.NeedsRefresh());
    webcams->lost = true;
    composite.CheckDeviceLost();
    EXPECT_TRUE(composite.NeedsRefresh());
    composite.GetVideoSources();
    EXPECT_FALSE(composite.NeedsRefresh());
    fk->refresh = true;  // either family can ask
    EXPECT_TRUE(composite.NeedsRefresh());
}

TEST_F(Composite, NotifyWindowReachesTheWebcamProvider) {
    HWND w = reinterpret_cast<HWND>(0x1234);
    composite.SetNotifyWindow(w);
    EXPECT_EQ(webcams->window(), w);
    EXPECT_EQ(fk->window(), nullptr);
}

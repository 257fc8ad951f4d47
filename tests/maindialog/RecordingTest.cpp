// The capture buttons and the space bar in video mode: the state table, the files of each format,
// and recordings that end by themselves.
#include <gtest/gtest.h>
#include "recording/VideoRecorder.h"
#include "res/resource.h"
#include "tests/maindialog/MainDialogFixture.h"
#include <filesystem>

namespace {

struct CountingEncoder : VideoEncoder {
    int frames = 0, closes = 0, limit = -1;  // limit: frames until the file is full
    RecordingState state = RecordingState::Recording;
    bool Open(const std::wstring&, int) override { return true; }
    bool AddFrame(const unsigned char*, HBITMAP) override {
        if (frames == limit) {
            state = RecordingState::Full;
            return false;
        }
        ++frames;
        return true;
    }
    bool Close() override { return ++closes, true; }
    RecordingState State() const override { return state; }
};

class RecordingDlg : public TestDlg {
public:
    using TestDlg::TestDlg;
    using CLumetraDlg::DoCaptureAction;
    bool fakeEncoder = false;
    int limit = -1;
    CountingEncoder* encoder = nullptr;
    std::vector<std::wstring> paths;

protected:
    CVideoRecorder* NewRecorder(const std::wstring& path, int w, int h, int bits, int format) override {
        paths.push_back(path);
        if (!fakeEncoder) return CLumetraDlg::NewRecorder(path, w, h, bits, format);
        encoder = new CountingEncoder;
        encoder->limit = limit;
        return new CVideoRecorder(encoder, path, w, h, bits, format);
    }
};

int Weight(CWnd* button) {
    LOGFONTW lf{};
    HFONT font = reinterpret_cast<HFONT>(button->SendMessage(WM_GETFONT));
    ::GetObjectW(font, sizeof lf, &lf);
    return lf.lfWeight;
}

void Pump() {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&m);
        ::DispatchMessageW(&m);
    }
}

class Recording : public DialogTest<RecordingDlg> {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        dlg->GetDlgItem(IDC_FILE_PREFIX)->SetWindowText(L"SiteA");
    }

    struct State {
        int mode;
        bool recording;
        bool imageEnabled;
        const wchar_t* videoCaption;
        bool red;
        int videoWeight;  // 0: not checked
    };
    void Expect(const State& s, const char* step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(dlg->m_captureMode, s.mode);
        EXPECT_EQ(dlg->m_recorder != nullptr, s.recording);
        EXPECT_EQ(::IsWindowEnabled(::GetDlgItem(dlg->m_hWnd, IDC_CAPTURE_IMAGE)) != 0, s.imageEnabled);
        EXPECT_EQ(Text(*dlg, IDC_CAPTURE_VIDEO), s.videoCaption);
        EXPECT_EQ(dlg->m_captureVideoButton.backgroundColor == RGB(255, 0, 0), s.red);
        if (s.red) {
            EXPECT_EQ(dlg->m_captureVideoButton.textColor, RGB(1, 1, 1));
        }
        if (s.videoWeight) {
            EXPECT_EQ(Weight(dlg->GetDlgItem(IDC_CAPTURE_VIDEO)), s.videoWeight);
        }
        if (s.recording && s.mode == 1) {
            EXPECT_EQ(Text(*dlg, IDC_STATUS), L"      Recording...     ");
        }
    }

};

TEST_F(Recording, ButtonsAndSpaceFollowTheStateTable) {
    dlg->fakeEncoder = true;
    const State stillIdle{0, false, true, L"Capture Video", false, 0};
    const State videoByButton{1, true, false, L"Stop Capture", true, FW_BOLD};
    const State videoIdle{1, false, true, L"Capture Video", false, FW_NORMAL};
    const State videoBySpace{1, true, true, L"Stop Capture", true, FW_NORMAL};
    const State stillRecording{0, true, true, L"Stop Capture", true, FW_NORMAL};
    Expect(stillIdle, "start");
    Click(IDC_CAPTURE_VIDEO);
    Expect(videoByButton, "Video");
    Click(IDC_CAPTURE_VIDEO);
    Expect(videoIdle, "Video, Video");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), std::wstring(66, L' '));
    Click(IDC_CAPTURE_VIDEO);
    dlg->DoCaptureAction();
    Expect(videoIdle, "Video, space");
    dlg->DoCaptureAction();
    Expect(videoBySpace, "space from video idle");
    Click(IDC_CAPTURE_IMAGE);
    Expect(stillRecording, "Capture Image while recording");
    EXPECT_EQ(Files(dlg->m_imagesFolder, L"*.bmp").size(), 1u);
    dlg->DoCaptureAction();
    Expect(stillRecording, "space in still mode takes a still");
    Click(IDC_CAPTURE_VIDEO);
    Expect(videoIdle, "Video stops it");
    EXPECT_EQ(dlg->paths.size(), 3u);
}

TEST_F(Recording, EachFormatWritesItsFile) {
    struct Case {
        int format;
        const wchar_t* name;
        bool doubled;
    };
    for (Case c : {Case{0, L"20210524140700_SiteA_0.avi", false}, Case{1, L"20210524140700_SiteA_0.mpg", true},
                   Case{2, L"20210524140700_SiteA_0.wmv", true}, Case{7, L"20210524140700_SiteA_1.avi", false}}) {
        SCOPED_TRACE(c.format);
        dlg->m_videoDisplay.videoFormat = c.format;
        Click(IDC_CAPTURE_VIDEO);
        ASSERT_NE(dlg->m_recorder, nullptr);
        EXPECT_EQ(dlg->m_videoDisplay.doubleFrames, c.doubled);
        for (int i = 0; i < 3; ++i) {
            Sleep(40);
            Paint();
        }
        Click(IDC_CAPTURE_VIDEO);
        EXPECT_EQ(dlg->m_recorder, nullptr);
        std::wstring path = dlg->m_imagesFolder + L"\\" + c.name;
        EXPECT_TRUE(Exists(path)) << testing::PrintToString(path);
        EXPECT_GT(std::filesystem::file_size(path), c.format == 1 || c.format == 2 ? 8u : 0u);
    }
    EXPECT_TRUE(dlg->boxes.empty());
}

TEST_F(Recording, ChangingTheSourceFinishesTheRecording) {
    dlg->fakeEncoder = true;
    Click(IDC_CAPTURE_VIDEO);
    CountingEncoder* encoder = dlg->encoder;
    ASSERT_NE(dlg->m_recorder, nullptr);
    FakeSource other("Cam Two");
    dlg->m_videoDisplay.SetSource(&other);
    EXPECT_EQ(dlg->m_recorder, nullptr);
    EXPECT_EQ(Text(*dlg, IDC_CAPTURE_VIDEO), L"Capture Video");
    (void)encoder;  // deleted with its recorder, after its Close
    dlg->m_videoDisplay.SetSource(&devices.source);
}

TEST_F(Recording, AFullFileEndsTheRecordingWithItsBox) {
    dlg->fakeEncoder = true;
    dlg->limit = 1;
    Click(IDC_CAPTURE_VIDEO);
    for (int i = 0; i < 4 && dlg->m_recorder; ++i) {
        Sleep(70);
        Paint();
        Pump();
    }
    EXPECT_EQ(dlg->m_recorder, nullptr);
    ASSERT_EQ(dlg->boxes.size(), 1u);
    EXPECT_EQ(dlg->boxes[0].caption, L"Recording Stopped");
    EXPECT_EQ(dlg->boxes[0].text, L"The recording was stopped because the video file reached its size limit.");
    EXPECT_EQ(dlg->boxes[0].type, UINT(MB_ICONWARNING));
    EXPECT_EQ(Text(*dlg, IDC_CAPTURE_VIDEO), L"Capture Video");
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(dlg->m_hWnd, IDC_CAPTURE_IMAGE)));
}

TEST_F(Recording, AStartThatCannotWriteLeavesNoFileAndSaysSo) {
    RemoveTree(dlg->m_imagesFolder);
    Click(IDC_CAPTURE_VIDEO);
    EXPECT_EQ(dlg->m_recorder, nullptr);
    ASSERT_EQ(dlg->boxes.size(), 1u);
    EXPECT_EQ(dlg->boxes[0].caption, L"Capture Error");
    EXPECT_EQ(dlg->boxes[0].text, L"Could not record video. Please ensure write access to destination directory.");
    EXPECT_EQ(Text(*dlg, IDC_CAPTURE_VIDEO), L"Capture Video");
    EXPECT_FALSE(Exists(dlg->m_imagesFolder));
}

}  // namespace

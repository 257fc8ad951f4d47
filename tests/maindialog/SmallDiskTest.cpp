// Recordings with the real encoders into an images folder on a small disk that fills up: a file the
// program could not finish is reported, and one without a single picture is not left behind; and a
// .meta file rewritten there keeps its old record. The disk is a tmpfs the native fixture mounts
// (small_disk.sh); without it the tests skip.
#include <gtest/gtest.h>
#include "recording/VideoRecorder.h"
#include "tests/maindialog/MainDialogFixture.h"
#include "tests/support/TestSupport.h"
#include "ui/ImageMetadata.h"
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A camera whose every frame is new noise, so that MPEG-2 pictures are large too.
struct NoiseSource : VideoSource {
    static constexpr int kWidth = 320, kHeight = 240;
    NoiseSource() {
        description = "Noise Cam";
        name = "webcam";
        id = "webcam";
        initialized = true;
        resolutions.push_back(new VideoResolution{0, kWidth, kHeight, 24, "320x240"});
        UpdateFrame();
    }
    int Start() override { return 1; }
    int Stop() override { return 1; }
    VideoFrame* GetFrame(unsigned char*) override { return frame.data(); }
    int UpdateFrame() override {
        for (unsigned char& b : frame) b = static_cast<unsigned char>((seed = seed * 1664525u + 1013904223u) >> 24);
        return UpdateFrameNew;
    }
    void Close() override {}
    void Open(VideoResolution*) override {}
    std::vector<unsigned char> frame = std::vector<unsigned char>(kWidth * kHeight * 3);
    uint32_t seed = 1;
};

// Takes every byte the disk has left: a write that does not fit fails, or writes only part.
void FillDisk(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<char> block(1 << 20, 'x');
    for (DWORD size : {1u << 20, 1u << 16, 4096u, 512u, 1u}) {
        DWORD written = 0;
        while (WriteFile(file, block.data(), size, &written, nullptr) && written == size) {
        }
    }
    CloseHandle(file);
}

uint32_t Le32(const char* bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Whether the file is finished as its format ends one: MPEG-2 with the end code at both ends; AVI
// with all the bytes its RIFF size counts (a few may follow), its index among them.
bool Complete(const std::string& f, int format) {
    static const char endCode[4] = {0x00, 0x00, 0x01, static_cast<char>(0xB7)};
    if (format != VideoOutputAvi)
        return f.size() > 8 && std::memcmp(f.data(), endCode, 4) == 0 &&
               std::memcmp(f.data() + f.size() - 4, endCode, 4) == 0;
    if (f.size() < 12 || std::memcmp(f.data(), "RIFF", 4) != 0 || Le32(f.data() + 4) + 8 > f.size()) return false;
    for (size_t i = 12; i + 4 <= Le32(f.data() + 4) + 8; ++i)
        if (std::memcmp(f.data() + i, "idx1", 4) == 0) return true;
    return false;
}

class SmallDisk : public DialogTest<TestDlg>, public testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        disk = FromBuild(SMALL_DISK_REL);
        if (!Exists(disk + L"\\.small_disk")) GTEST_SKIP() << "no small disk mounted (needs root): skipped";
        Clear();
        devices.webcams->list = {&source};
        DialogTest::SetUp();
        dlg->m_videoDisplay.videoFormat = GetParam();
        Paint();
        Pump();
    }
    void TearDown() override {
        DialogTest::TearDown();
        if (!disk.empty()) Clear();
    }
    std::wstring Profile() const override { return disk; }
    void Clear() {
        RemoveTree(disk + L"\\Lumetra");
        DeleteFileW(Filler().c_str());
    }
    std::wstring Filler() const { return disk + L"\\filler"; }
    std::wstring Video() const {
        return dlg->m_imagesFolder + L"\\20210524140700__0" + RecordingFormatOf(GetParam()).extension;
    }
    void PaintFrames() {
        for (int i = 0; i < 5 && dlg->m_recorder; ++i) {
            Sleep(70);
            Paint();
            Pump();
        }
    }

    std::wstring disk;
    NoiseSource source;
};

TEST_P(SmallDisk, ADiskThatFillsBeforeTheStopLeavesACompleteFileOrSaysSo) {
    Click(IDC_CAPTURE_VIDEO);
    ASSERT_NE(dlg->m_recorder, nullptr);
    PaintFrames();
    Sleep(300);  // the MPEG-2 worker writes what it was given
    ASSERT_NE(dlg->m_recorder, nullptr) << "the disk was full before it was filled";
    FillDisk(Filler());
    Click(IDC_CAPTURE_VIDEO);
    Pump();
    EXPECT_EQ(dlg->m_recorder, nullptr);
    const std::string file = ReadBytes(Video());
    const bool complete = Complete(file, GetParam());
    std::printf("%s: %zu bytes, %s, %zu boxes\n", testing::PrintToString(Video()).c_str(), file.size(),
                complete ? "complete" : "incomplete", dlg->boxes.size());
    if (complete) {
        EXPECT_TRUE(dlg->boxes.empty());
    } else {
        ExpectOneRecordingErrorBox(dlg->boxes);
    }
}

// Frames painted, or stopped before the first one: an AVI file gets its headers only at the stop,
// and an MPEG-2 file its buffered start and end, which the full disk then loses.
TEST_P(SmallDisk, AFullDiskAtTheStartLeavesNoFile) {
    FillDisk(Filler());
    for (bool painted : {true, false}) {
        SCOPED_TRACE(painted ? "frames painted" : "stopped before the first frame");
        dlg->boxes.clear();
        Click(IDC_CAPTURE_VIDEO);
        if (painted) {
            PaintFrames();
        } else {
            EXPECT_NE(dlg->m_recorder, nullptr) << "the start failed";
        }
        if (dlg->m_recorder) Click(IDC_CAPTURE_VIDEO);
        Pump();
        EXPECT_EQ(dlg->m_recorder, nullptr);
        ExpectOneRecordingErrorBox(dlg->boxes);
        EXPECT_TRUE(Files(dlg->m_imagesFolder).empty());
        EXPECT_EQ(Text(*dlg, IDC_CAPTURE_VIDEO), L"Capture Video");
    }
}

// The new record is written to a temporary file that must reach the disk before it replaces the
// old one: on a full disk the write fails, the old record stays and no temporary file is left.
TEST(SmallDiskMetaFile, ARewriteOnAFullDiskKeepsTheOldRecord) {
    const std::wstring disk = FromBuild(SMALL_DISK_REL);
    if (!Exists(disk + L"\\.small_disk")) GTEST_SKIP() << "no small disk mounted (needs root): skipped";
    const std::wstring folder = disk + L"\\metadata\\", filler = disk + L"\\filler";
    auto clear = [&] {
        DeleteFileW(filler.c_str());
        RemoveTree(folder);
    };
    clear();
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ImageMetadata record;
    record.facility = L"North";
    record.comments = L"first";
    ASSERT_TRUE(WriteMetaFile(folder, L"a.meta", record));
    const std::string before = ReadBytes(folder + L"a.meta");
    FillDisk(filler);
    record.comments = L"second";
    EXPECT_FALSE(WriteMetaFile(folder, L"a.meta", record));
    EXPECT_EQ(ReadBytes(folder + L"a.meta"), before);
    EXPECT_FALSE(Exists(folder + L"a.meta.tmp"));
    clear();
}

// A still whose files do not fit on the disk: its names were created, a write fails, and each
// name is deleted once, through the handle that created it. The other copy of the program takes a
// name right after its delete, and its file survives.
TEST(SmallDiskStill, AStillThatDoesNotFitIsDeletedOnceAndAFileMadeInItsPlaceSurvives) {
    const std::wstring disk = FromBuild(SMALL_DISK_REL);
    if (!Exists(disk + L"\\.small_disk")) GTEST_SKIP() << "no small disk mounted (needs root): skipped";
    const std::wstring filler = disk + L"\\filler", room = disk + L"\\room";
    // The disk's pages: what the still's .bmp takes, to the page.
    const size_t page = 4096, bmpBytes = 54 + NoiseSource::kWidth * NoiseSource::kHeight * 3;
    const size_t bmpPages = (bmpBytes + page - 1) / page * page;
    struct Case {
        const char* name;
        bool online;
        size_t room;          // left free on the disk
        const wchar_t* freed;  // taken by the other copy right after this one deleted it
        int deletes;
    } const cases[] = {
        {"the .bmp does not fit", false, 4 * page, L"20210524140700_SiteA_0.bmp", 1},
        {"online, the .bmp does not fit", true, 4 * page, L"20210524140700_SiteA_0.bmp", 2},
        {"online, the .bmp does not fit, its .meta's name taken", true, 4 * page,
         L"metadata\\20210524140700_SiteA_0.meta", 2},
        {"online, the .meta does not fit beside the .bmp", true, bmpPages, L"20210524140700_SiteA_0.bmp", 2},
    };
    auto clear = [&] {
        DeleteFileW(filler.c_str());
        DeleteFileW(room.c_str());
        RemoveTree(disk + L"\\Lumetra");
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clear();
        FakeDevices devices;
        NoiseSource source;
        devices.webcams->list = {&source};
        {
            RacedDlg dlg(disk, c.online);
            dlg.now = LocalTime(2021, 5, 24, 14, 7, 0);
            dlg.m_provider = &devices.provider;
            ASSERT_TRUE(dlg.Create(IDD_LUMETRA_DIALOG));
            dlg.m_videoDisplay.Invalidate(FALSE);
            dlg.m_videoDisplay.UpdateWindow();
            Pump();
            dlg.GetDlgItem(IDC_FILE_PREFIX)->SetWindowText(L"SiteA");
            ASSERT_TRUE(WriteBytes(room, std::string(c.room, 'r')));
            FillDisk(filler);
            ASSERT_TRUE(DeleteFileW(room.c_str()));
            const std::wstring images = dlg.m_imagesFolder + L"\\";
            dlg.freed = images + c.freed;

            EXPECT_FALSE(dlg.CaptureImage(FALSE));
            ASSERT_EQ(dlg.boxes.size(), 1u);
            EXPECT_EQ(dlg.boxes[0].caption, L"Capture Error");
            EXPECT_TRUE(dlg.freed.empty()) << "the name was not free right after the delete";
            EXPECT_EQ(dlg.deletes, c.deletes);
            EXPECT_EQ(ReadBytes(images + c.freed), dlg.othersBytes) << "the other program's file is gone or changed";
            size_t files = 0;
            for (const auto& e : std::filesystem::recursive_directory_iterator(images)) files += e.is_regular_file();
            EXPECT_EQ(files, 1u) << "a file of the failed still is left";
            dlg.DestroyWindow();
        }
        clear();
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SmallDisk, testing::Values(VideoOutputAvi, VideoOutputMpeg),
                         [](const auto& info) { return info.param == VideoOutputAvi ? "Avi" : "Mpeg"; });

}  // namespace

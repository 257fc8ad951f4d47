#include <gtest/gtest.h>
#include <fcntl.h>
#include <io.h>
#include <algorithm>
#include <memory>
#include <sstream>
#include "recording/LibAVVideoEncoder.h"
#include "recording/VideoRecorder.h"
#include "tests/support/Files.h"
#include "tests/mpeg2/Pictures.h"
#include "tests/mpeg2/TestEncoder.h"

namespace {

using Threading = LibAVVideoEncoder::Threading;

const std::string kEndCode("\x00\x00\x01\xB7", 4);

// The start codes of an MPEG video stream (00 00 01 xx): where each begins and its xx.
struct StartCode {
    size_t offset;
    uint8_t code;
};
std::vector<StartCode> StartCodes(const std::string& s) {
    std::vector<StartCode> codes;
    for (size_t i = 0; i + 3 < s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) codes.push_back({i, static_cast<uint8_t>(s[i + 3])});
    }
    return codes;
}

// Reads the fields that follow a start code, most significant bit first.
class Bits {
public:
    Bits(const std::string& s, size_t codeOffset) : m_s(s), m_bit((codeOffset + 4) * 8) {}
    unsigned Read(int n) {
        unsigned v = 0;
        for (; n > 0; --n, ++m_bit) v = v << 1 | (static_cast<uint8_t>(m_s[m_bit / 8]) >> (7 - m_bit % 8) & 1);
        return v;
    }

private:
    const std::string& m_s;
    size_t m_bit;
};

constexpr uint8_t kPicture = 0x00, kSequence = 0xB3, kGop = 0xB8;
enum PictureType { I = 1, P = 2, B = 3 };

// Everything written to the standard error stream while it lives.
class StderrCapture {
public:
    explicit StderrCapture(const std::wstring& file) : m_file(file) {
        std::fflush(stderr);
        m_saved = _dup(2);
        m_fd = _wopen(file.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
        _dup2(m_fd, 2);
    }
    ~StderrCapture() { Text(); }
    std::string Text() {
        if (m_fd >= 0) {
            std::fflush(stderr);
            _dup2(m_saved, 2);
            _close(m_saved);
            _close(m_fd);
            m_fd = -1;
            m_text = ReadBytes(m_file);
            DeleteFileW(m_file.c_str());
        }
        return m_text;
    }

private:
    std::wstring m_file;
    int m_saved = -1, m_fd = -1;
    std::string m_text;
};

// The lines the encoder printed; the codec library's own diagnostics ("[mpeg2video @ ...] ...") aside.
std::vector<std::string> OwnLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '[') lines.push_back(line);
    }
    return lines;
}

class Mpeg2 : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.ok()); }
    std::wstring Path(const wchar_t* name) const { return m_dir.path() + L"\\" + name; }

    // Feeds `pictures` test pictures through a new encoder, each `repeat` times, and closes it.
    std::string Encode(const wchar_t* name, int width, int height, int pictures, int format = 1, int bpp = 24,
                       int repeat = 1, Threading threading = Threading::Worker) {
        std::vector<int> sequence;
        for (int i = 0; i < pictures; ++i) sequence.insert(sequence.end(), repeat, i);
        return Encode(name, width, height, sequence, threading, format, bpp);
    }
    // Feeds the test pictures numbered in `sequence`, in its order, and closes the encoder.
    std::string Encode(const wchar_t* name, int width, int height, const std::vector<int>& sequence,
                       Threading threading, int format = 1, int bpp = 24) {
        TestEncoder encoder(L"ignored.mpg", width, height, bpp, format, threading);
        EXPECT_TRUE(encoder.Open(Path(name), 16));
        for (int i : sequence) EXPECT_TRUE(encoder.AddFrame(TestPicture(width, height, i, bpp / 8).data(), nullptr));
        EXPECT_TRUE(encoder.Close());
        EXPECT_EQ(encoder.State(), RecordingState::Recording);
        EXPECT_EQ(encoder.DroppedPictures(), 0u);
        return ReadBytes(Path(name));
    }

    TempFolder m_dir;
};

size_t Count(const std::vector<StartCode>& codes, uint8_t code) {
    return std::count_if(codes.begin(), codes.end(), [&](const StartCode& c) { return c.code == code; });
}

// However the recording ends, the stream is framed by end codes and holds every picture handed in,
// including those the codec held back for its B-frames.
TEST_F(Mpeg2, EveryPictureHandedInIsFramedByEndCodes) {
    struct Case {
        int pictures, repeat;
        bool byDestructor;
    } cases[] = {{0, 1, false}, {0, 1, true}, {1, 1, false}, {2, 1, false}, {7, 1, true}, {5, 2, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pictures << " x " << c.repeat << (c.byDestructor ? ", destroyed" : ""));
        const std::wstring path = Path(L"short.mpg");
        {
            auto encoder = std::make_unique<TestEncoder>(path, 64, 48);
            ASSERT_TRUE(encoder->Open(path, 16));
            for (int i = 0; i < c.pictures; ++i) {
                const std::vector<uint8_t> picture = TestPicture(64, 48, i);
                for (int r = 0; r < c.repeat; ++r) EXPECT_TRUE(encoder->AddFrame(picture.data(), nullptr));
            }
            if (!c.byDestructor) {
                EXPECT_TRUE(encoder->Close());
            }
        }
        const std::string bytes = ReadBytes(path);
        if (c.pictures == 0) {
            EXPECT_EQ(bytes, kEndCode + kEndCode);
            continue;
        }
        ASSERT_GT(bytes.size(), 8u);
        EXPECT_EQ(bytes.substr(0, 4), kEndCode);
        EXPECT_EQ(bytes.substr(bytes.size() - 4), kEndCode);
        const std::vector<StartCode> codes = StartCodes(bytes);
        EXPECT_EQ(codes[1].code, kSequence) << "the sequence header follows the first end code";
        EXPECT_EQ(Count(codes, kPicture), static_cast<size_t>(c.pictures * c.repeat));
        EXPECT_EQ(Count(codes, 0xB7), 2u);
    }
}

// The sequence header carries the size, 30 frames/s and the 400 kbit/s rate (as the VBV buffer the
// codec derives from it: with no maximum rate set, the bit-rate field says "unspecified", all ones);
// a group of pictures starts every 100 pictures with an I picture; B pictures come one at a time.
TEST_F(Mpeg2, StreamCarriesTheSettings) {
    const int width = 96, height = 64, pictures = 250;
    const std::string bytes = Encode(L"settings.mpg", width, height, pictures);
    const std::vector<StartCode> codes = StartCodes(bytes);

    ASSERT_GE(codes.size(), 2u);
    ASSERT_EQ(codes[1].code, kSequence);
    Bits sequence(bytes, codes[1].offset);
    EXPECT_EQ(sequence.Read(12), static_cast<unsigned>(width));
    EXPECT_EQ(sequence.Read(12), static_cast<unsigned>(height));
    sequence.Read(4);                          // aspect ratio
    EXPECT_EQ(sequence.Read(4), 5u);           // frame rate code: 30 frames/s
    EXPECT_EQ(sequence.Read(18), 0x3FFFFu);    // bit rate value
    EXPECT_EQ(sequence.Read(1), 1u);           // marker
    EXPECT_EQ(sequence.Read(10), 7u);          // VBV buffer: 400000 bit/s × 20 / 575964, in 16 kbit units

    std::vector<size_t> gopSizes;  // pictures per group, in coded order
    std::string types;
    bool afterGop = false;
    for (const StartCode& c : codes) {
        if (c.code == kGop) {
            gopSizes.push_back(0);
            afterGop = true;
        } else if (c.code == kPicture) {
            Bits header(bytes, c.offset);
            header.Read(10);  // temporal reference
            const unsigned type = header.Read(3);
            types += "?IPB"[type & 3];
            if (afterGop) {
                EXPECT_EQ(type, static_cast<unsigned>(I)) << "group " << gopSizes.size();
            }
            afterGop = false;
            ASSERT_FALSE(gopSizes.empty()) << "a picture before the first group";
            ++gopSizes.back();
        }
    }
    EXPECT_EQ(types.size(), static_cast<size_t>(pictures));
    ASSERT_EQ(gopSizes.size(), 3u);
    for (size_t g = 0; g + 1 < gopSizes.size(); ++g) {
        EXPECT_NEAR(static_cast<double>(gopSizes[g]), 100, 1) << "group " << g;
    }
    EXPECT_NE(types.find('B'), std::string::npos);
    EXPECT_EQ(types.find("BB"), std::string::npos) << types;
}

// "MPEG" and "WMV" write the same stream; BGRA input gives the bytes of the same picture in BGR24;
// nothing depends on the run.
TEST_F(Mpeg2, SameFramesGiveTheSameBytes) {
    const std::string reference = Encode(L"reference.mpg", 202, 202, 12, 1, 24);
    ASSERT_GT(reference.size(), 8u);
    struct Case {
        int format, bpp;
    } cases[] = {{1, 24}, {2, 24}, {1, 32}, {2, 32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << ", " << c.bpp << " bits");
        EXPECT_TRUE(Encode(L"other.mpg", 202, 202, 12, c.format, c.bpp) == reference);
    }
}

// A codec that will not open and a file that cannot be created each print their line, fail Open
// and leave no file; the encoder then refuses frames and Close without touching anything.
TEST_F(Mpeg2, OpenFailuresPrintTheirLineAndLeaveNoFile) {
    const std::wstring aFile = Path(L"plain.txt");
    ASSERT_TRUE(WriteBytes(aFile, "x"));
    struct Case {
        const char* name;
        std::wstring path;
        int width, height;
        const char* line;
    } cases[] = {
        {"missing folder", Path(L"missing\\a.mpg"), 64, 48, "Could not open data"},
        {"a file as folder", aFile + L"\\a.mpg", 64, 48, "Could not open data"},
        {"a folder as file", m_dir.path(), 64, 48, "Could not open data"},
        {"0x0", Path(L"a.mpg"), 0, 0, "Could not open codec"},
        {"no width", Path(L"a.mpg"), 0, 48, "Could not open codec"},
        {"wider than MPEG-2 allows", Path(L"a.mpg"), 16384, 16, "Could not open codec"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StderrCapture capture(Path(L"stderr.txt"));
        LibAVVideoEncoder encoder(c.path, c.width, c.height, 24, 1);
        EXPECT_FALSE(encoder.Open(c.path, 16));
        EXPECT_EQ(encoder.State(), RecordingState::Failed);
        const std::vector<uint8_t> picture = TestPicture(64, 48, 0);
        EXPECT_FALSE(encoder.AddFrame(picture.data(), nullptr));
        EXPECT_FALSE(encoder.Close());
        EXPECT_EQ(OwnLines(capture.Text()), std::vector<std::string>{c.line});
        EXPECT_FALSE(Exists(Path(L"a.mpg")));
        EXPECT_FALSE(Exists(Path(L"missing")));
    }
}

// Frames before Open or after Close are refused; a second Open leaves the running file alone.
TEST_F(Mpeg2, CallsOutOfOrderAreRefused) {
    const std::vector<uint8_t> picture = TestPicture(64, 48, 0);
    LibAVVideoEncoder encoder(Path(L"a.mpg"), 64, 48, 24, 1);
    EXPECT_FALSE(encoder.AddFrame(picture.data(), nullptr));
    EXPECT_FALSE(encoder.Close());
    EXPECT_FALSE(Exists(Path(L"a.mpg")));

    ASSERT_TRUE(encoder.Open(Path(L"a.mpg"), 16));
    EXPECT_TRUE(encoder.AddFrame(picture.data(), nullptr));
    EXPECT_FALSE(encoder.Open(Path(L"b.mpg"), 16));
    EXPECT_FALSE(Exists(Path(L"b.mpg")));
    EXPECT_TRUE(encoder.AddFrame(picture.data(), nullptr));
    EXPECT_TRUE(encoder.Close());
    EXPECT_FALSE(encoder.AddFrame(picture.data(), nullptr));
    EXPECT_FALSE(encoder.Close());

    const std::string bytes = ReadBytes(Path(L"a.mpg"));
    EXPECT_EQ(Count(StartCodes(bytes), kPicture), 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 4), kEndCode);
}

// A disk that takes no byte: the encoder notices at a packet or at the close, reports Failed and
// refuses further frames; with a worker, from the call after the failure on, and Close neither
// encodes nor waits for the pictures still queued. Under Wine, Z:\dev\full is Linux's always-full
// device.
TEST_F(Mpeg2, AFullDiskFailsTheRecording) {
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) GTEST_SKIP() << "needs Wine's Z: drive";
    const std::wstring full = L"Z:\\dev\\full";  // GetFileAttributesW does not see devices, _wfopen does
    for (Threading threading : {Threading::Synchronous, Threading::Worker}) {
        SCOPED_TRACE(threading == Threading::Worker ? "worker" : "synchronous");
        TestEncoder encoder(full, 320, 240, 24, 1, threading);
        ASSERT_TRUE(encoder.Open(full, 16));
        if (threading == Threading::Synchronous) {
            int accepted = 0;
            for (int i = 0; i < 30 && encoder.AddFrame(TestPicture(320, 240, i).data(), nullptr); ++i) ++accepted;
            EXPECT_LT(accepted, 30) << "the first I picture is larger than any write buffer";
        } else {
            // A full queue behind the first packet, which fails.
            encoder.paced = false;
            encoder.Hold();
            for (int i = 0; i < LibAVVideoEncoder::kQueueLength; ++i)
                EXPECT_TRUE(encoder.AddFrame(TestPicture(320, 240, i).data(), nullptr));
            EXPECT_EQ(encoder.accepted, LibAVVideoEncoder::kQueueLength);
            encoder.Release();
            for (int ms = 0; encoder.State() == RecordingState::Recording && ms < 10000; ++ms) Sleep(1);
        }
        EXPECT_EQ(encoder.State(), RecordingState::Failed);
        EXPECT_FALSE(encoder.AddFrame(TestPicture(320, 240, 0).data(), nullptr));
        EXPECT_FALSE(encoder.Close());
        EXPECT_EQ(encoder.State(), RecordingState::Failed);
    }
}

// With nothing dropped, the worker writes the bytes of the synchronous path: the same pictures with
// the same presentation indices, doubled ones included, and the held-back ones drained at the end.
TEST_F(Mpeg2, TheWorkerWritesTheBytesOfTheSynchronousPath) {
    struct Case {
        int width, height, pictures, repeat;
    } cases[] = {{64, 48, 40, 1}, {202, 202, 12, 2}, {320, 240, 30, 1}, {640, 480, 8, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << ", " << c.pictures << " x " << c.repeat);
        const std::string synchronous =
            Encode(L"synchronous.mpg", c.width, c.height, c.pictures, 1, 24, c.repeat, Threading::Synchronous);
        ASSERT_GT(synchronous.size(), 8u);
        EXPECT_TRUE(Encode(L"worker.mpg", c.width, c.height, c.pictures, 1, 24, c.repeat, Threading::Worker) ==
                    synchronous);
    }
}

// A worker a whole queue behind: pictures that find no free entry are dropped and counted, the next
// picture kept takes the next presentation index, and the file is the stream of the pictures kept.
TEST_F(Mpeg2, AFullQueueDropsPicturesAndTheFileHoldsTheRest) {
    const int width = 96, height = 64, pictures = 40;
    TestEncoder encoder(Path(L"dropped.mpg"), width, height);
    encoder.paced = false;
    ASSERT_TRUE(encoder.Open(Path(L"dropped.mpg"), 16));
    std::vector<int> kept;
    auto feed = [&](int picture) {
        EXPECT_TRUE(encoder.AddFrame(TestPicture(width, height, picture).data(), nullptr)) << picture;
        if (!encoder.lastDropped) kept.push_back(picture);
    };

    encoder.Hold();
    for (int i = 0; i < 12; ++i) feed(i);
    // One entry waits with the worker, the others in the queue.
    EXPECT_EQ(kept.size(), static_cast<size_t>(LibAVVideoEncoder::kQueueLength));
    EXPECT_EQ(encoder.DroppedPictures(), 12u - LibAVVideoEncoder::kQueueLength);
    EXPECT_EQ(encoder.State(), RecordingState::Recording);
    encoder.Release();
    ASSERT_TRUE(encoder.WaitUntilBegun(3));  // two entries are free again
    feed(12);
    feed(13);
    EXPECT_EQ(kept.back(), 13);
    EXPECT_EQ(kept.size(), LibAVVideoEncoder::kQueueLength + 2u);
    for (int i = 14; i < pictures; ++i) feed(i);  // as fast as it goes: some may drop
    EXPECT_TRUE(encoder.Close());
    EXPECT_EQ(encoder.DroppedPictures() + kept.size(), static_cast<size_t>(pictures));

    EXPECT_TRUE(ReadBytes(Path(L"dropped.mpg")) == Encode(L"kept.mpg", width, height, kept, Threading::Synchronous));
}

class ClockedRecorder : public CVideoRecorder {
public:
    ClockedRecorder(VideoEncoder* encoder, int width, int height)
        : CVideoRecorder(encoder, L"x", width, height, 24, VideoOutputMpeg) {}
    int64_t nowUs = 0;

protected:
    int64_t NowMicroseconds() override { return nowUs; }
};

// The recorder over a worker a whole queue behind: the dropped picture is not written, and its
// slots are given up rather than filled again by the next feedings; the file holds what was written.
TEST_F(Mpeg2, TheRecorderGivesUpTheSlotsOfDroppedPictures) {
    const int width = 96, height = 64;
    const std::wstring path = Path(L"recorder.mpg");
    auto* encoder = new TestEncoder(path, width, height);
    encoder->paced = false;
    ClockedRecorder recorder(encoder, width, height);
    ASSERT_TRUE(recorder.Start(path, 16));
    encoder->Hold();

    struct Step {
        int slot;  // of 1/30 s
        bool release;
        uint64_t written, dropped;
    };
    std::vector<Step> steps;
    for (int slot = 0; slot < LibAVVideoEncoder::kQueueLength; ++slot)
        steps.push_back({slot, false, static_cast<uint64_t>(slot) + 1, 0});
    steps.push_back({10, false, 8, 3});   // the queue is full: the picture of three slots is dropped
    steps.push_back({11, true, 9, 3});    // room again: one slot, not the three lost ones
    steps.push_back({14, false, 12, 3});  // a gap is filled as ever
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << "slot " << step.slot);
        if (step.release) {
            encoder->Release();
            ASSERT_TRUE(encoder->WaitUntilBegun(LibAVVideoEncoder::kQueueLength));
        }
        recorder.nowUs = (int64_t(step.slot) * 1000000 + 29) / 30;
        const std::vector<uint8_t> picture = TestPicture(width, height, step.slot);
        EXPECT_TRUE(recorder.AddFrame(picture.data(), nullptr));
        EXPECT_TRUE(recorder.AddFrame(picture.data(), nullptr));  // the doubled call finds its slot taken
        EXPECT_EQ(recorder.counters.written, step.written);
        EXPECT_EQ(recorder.counters.dropped, step.dropped);
    }
    EXPECT_EQ(recorder.counters.skipped, steps.size());
    EXPECT_EQ(encoder->DroppedPictures(), 1u);
    EXPECT_TRUE(recorder.Stop());
    EXPECT_EQ(Count(StartCodes(ReadBytes(path)), kPicture), recorder.counters.written);
}

}  // namespace

// The AVI writer and encoder: files read back through AVIFile, the writer's refusals, and what
// happens when a call fails, the disk runs low or the size limit is reached (through fake calls).
#include <gtest/gtest.h>
#include "recording/Avi10VideoEncoder.h"
#include "tests/avi/AviTestSupport.h"
#include "tests/support/Files.h"

namespace {

constexpr DWORD kDib = mmioFOURCC('D', 'I', 'B', ' ');

// Frame bytes of a 202 x 202 DIB section: rows of 606 bytes padded to 608.
constexpr ULONGLONG kSmallFrameBytes = 608 * 202;

// Fake calls: each forwards to the system unless told to fail, and counts what reaches it.
enum class Call { None, CreateStream, MakeCompressed, SetFormat, Write };
struct FakeState {
    Call failing = Call::None;
    int failAtWrite = -1;      // the write index that fails, or from which writes are silently lost
    bool silentLoss = false;  // report success without writing, as a full disk may under some systems
    int writes = 0;
    int callsAfterFailure = 0;
    int streamReleases = 0;
    bool failed = false;
    ULONGLONG freeBytes = ~0ULL;
    std::wstring freeSpaceFolder;
};
FakeState g_fake;

void Touch() {
    if (g_fake.failed) ++g_fake.callsAfterFailure;
}
HRESULT Fail() {
    g_fake.failed = true;
    return AVIERR_ERROR;
}

HRESULT WINAPI FakeCreateStream(PAVIFILE file, PAVISTREAM* stream, AVISTREAMINFOW* info) {
    Touch();
    if (g_fake.failing == Call::CreateStream) return Fail();
    return AVIFileCreateStreamW(file, stream, info);
}
HRESULT WINAPI FakeMakeCompressed(PAVISTREAM* out, PAVISTREAM source, AVICOMPRESSOPTIONS* options, CLSID* handler) {
    Touch();
    if (g_fake.failing == Call::MakeCompressed) return Fail();
    return AVIMakeCompressedStream(out, source, options, handler);
}
HRESULT WINAPI FakeSetFormat(PAVISTREAM stream, LONG position, LPVOID format, LONG size) {
    Touch();
    if (g_fake.failing == Call::SetFormat) return Fail();
    return AVIStreamSetFormat(stream, position, format, size);
}
HRESULT WINAPI FakeWrite(PAVISTREAM stream, LONG start, LONG samples, LPVOID buffer, LONG size, DWORD flags,
                         LONG* written, LONG* bytes) {
    Touch();
    const int index = g_fake.writes++;
    if (g_fake.failing == Call::Write && index >= g_fake.failAtWrite) {
        if (g_fake.silentLoss) return 0;
        return Fail();
    }
    return AVIStreamWrite(stream, start, samples, buffer, size, flags, written, bytes);
}
ULONG WINAPI FakeStreamRelease(PAVISTREAM stream) {
    ++g_fake.streamReleases;
    return AVIStreamRelease(stream);
}
bool FakeFreeSpace(const wchar_t* folder, ULONGLONG* bytes) {
    g_fake.freeSpaceFolder = folder ? folder : L"";
    *bytes = g_fake.freeBytes;
    return true;
}

AviWriterPlatform FakePlatform(ULONGLONG sizeLimit = kAviSizeLimit) {
    AviWriterPlatform platform = AviWriterSystem();
    platform.createStream = FakeCreateStream;
    platform.makeCompressedStream = FakeMakeCompressed;
    platform.setFormat = FakeSetFormat;
    platform.write = FakeWrite;
    platform.streamRelease = FakeStreamRelease;
    platform.freeSpace = FakeFreeSpace;
    platform.sizeLimit = sizeLimit;
    return platform;
}

class AviTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        g_fake = FakeState{};
    }
    std::wstring File(const wchar_t* name) const { return folder.path() + L"\\" + name; }

    // Adds `count` painted frames; how many the encoder took.
    static int Feed(Avi10VideoEncoder& encoder, DibFrame& frame, int count, int first = 0) {
        int taken = 0;
        for (int i = first; i < first + count; ++i) {
            const std::string pixels = frame.Paint(i);
            if (encoder.AddFrame(reinterpret_cast<const unsigned char*>(pixels.data()), frame.bitmap)) ++taken;
        }
        return taken;
    }
    // A finished file with `frames` frames. Without frames it may hold an empty stream (made before
    // a write failed) or none; some systems then write only the headers, others leave an empty file.
    static void ExpectFinished(const std::wstring& path, size_t frames) {
        const AviContents contents = ReadAvi(path);
        if (frames == 0) {
            EXPECT_TRUE(FileSize(path) == 0 || (contents.opened && (!contents.hasVideo || contents.info.dwLength == 0)))
                << FileSize(path);
            return;
        }
        ASSERT_TRUE(contents.hasVideo);
        EXPECT_EQ(static_cast<DWORD>(frames), contents.info.dwLength);
        EXPECT_EQ(frames, contents.frames.size());
    }

    TempFolder folder;
};

// Stream header, format and every frame's bytes, at a size whose rows need padding and one whose
// rows do not; the period given to Open does not change the rate.
TEST_F(AviTest, FramesReadBackExactly) {
    const struct {
        int width, height, frames, periodMs;
    } cases[] = {{202, 202, 4, 33}, {640, 480, 3, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        const std::wstring path = File((std::to_wstring(c.width) + L".avi").c_str());
        DibFrame frame(c.width, c.height);
        ASSERT_NE(nullptr, frame.bitmap);
        std::vector<std::string> stored;
        {
            Avi10VideoEncoder encoder(c.width, c.height, 24, path);
            ASSERT_TRUE(encoder.Open(path, c.periodMs));
            for (int i = 0; i < c.frames; ++i) {
                const std::string pixels = frame.Paint(i);
                ASSERT_TRUE(encoder.AddFrame(reinterpret_cast<const unsigned char*>(pixels.data()), frame.bitmap));
                stored.push_back(frame.Stored());
            }
            EXPECT_EQ(RecordingState::Recording, encoder.State());
            EXPECT_TRUE(encoder.Close());
        }
        const AviContents contents = ReadAvi(path);
        ASSERT_TRUE(contents.hasVideo);
        EXPECT_EQ(streamtypeVIDEO, contents.info.fccType);
        EXPECT_EQ(60u, contents.info.dwScale);
        EXPECT_EQ(1000u, contents.info.dwRate);
        EXPECT_EQ(static_cast<DWORD>(c.frames), contents.info.dwLength);
        const DWORD frameBytes = static_cast<DWORD>(frame.Size());
        EXPECT_EQ(frameBytes, contents.info.dwSuggestedBufferSize);

        EXPECT_EQ(40, contents.formatSize);
        const BITMAPINFOHEADER& f = contents.format;
        EXPECT_EQ(40u, f.biSize);
        EXPECT_EQ(c.width, f.biWidth);
        EXPECT_EQ(c.height, f.biHeight);
        EXPECT_EQ(1, f.biPlanes);
        EXPECT_EQ(24, f.biBitCount);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), f.biCompression);
        EXPECT_EQ(frameBytes, f.biSizeImage);

        ASSERT_EQ(stored.size(), contents.frames.size());
        for (size_t i = 0; i < stored.size(); ++i) EXPECT_TRUE(stored[i] == contents.frames[i]) << "frame " << i;
    }
}

// Refusals leave the writer usable: the next good frame is written and counted.
TEST_F(AviTest, WriterRefusesBadArgumentsWithoutFailing) {
    DibFrame frame(202, 202);
    frame.Paint(0);
    EXPECT_EQ(AVIERR_BADHANDLE, AviWriterAddFrame(nullptr, frame.bitmap));
    EXPECT_EQ(AVIERR_BADHANDLE, AviWriterClose(nullptr));

    const std::wstring path = File(L"refusals.avi");
    AviWriter* writer = AviWriterCreate(path, 60, nullptr);
    ASSERT_NE(nullptr, writer);
    ASSERT_EQ(0, AviWriterAddFrame(writer, frame.bitmap));

    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP compatible = CreateCompatibleBitmap(memory, 202, 202);
    HBITMAP plain = CreateBitmap(202, 202, 1, 24, nullptr);
    DibFrame palettised(202, 202, 8);
    DibFrame wider(204, 202);
    DibFrame taller(202, 204);
    const struct {
        const char* what;
        HBITMAP bitmap;
    } cases[] = {{"null", nullptr},
                 {"compatible bitmap", compatible},
                 {"device-dependent bitmap", plain},
                 {"8-bit DIB section", palettised.bitmap},
                 {"wider than the first frame", wider.bitmap},
                 {"taller than the first frame", taller.bitmap}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AVIERR_BADPARAM, AviWriterAddFrame(writer, c.bitmap));
        EXPECT_FALSE(writer->failed);
        EXPECT_EQ(1u, writer->frameCount);
    }
    frame.Paint(1);
    EXPECT_EQ(0, AviWriterAddFrame(writer, frame.bitmap));
    EXPECT_EQ(2u, writer->frameCount);
    EXPECT_EQ(0, AviWriterClose(writer));
    ExpectFinished(path, 2);

    DeleteObject(compatible);
    DeleteObject(plain);
    DeleteDC(memory);
}

// The first failing call stops the writer: that frame is lost, later ones are refused with
// AVIERR_ERROR and reach no call, and the close releases only the streams that were made.
TEST_F(AviTest, FailingCallStopsTheRecording) {
    const struct {
        const char* what;
        Call failing;
        int failAtWrite;
        int framesWritten;
        int streamsMade;
    } cases[] = {{"stream creation", Call::CreateStream, -1, 0, 0},
                 {"compressed stream", Call::MakeCompressed, -1, 0, 1},
                 {"format", Call::SetFormat, -1, 0, 2},
                 {"first write", Call::Write, 0, 0, 2},
                 {"third write", Call::Write, 2, 2, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_fake = FakeState{};
        g_fake.failing = c.failing;
        g_fake.failAtWrite = c.failAtWrite;
        const std::wstring path = File(L"failing.avi");
        DibFrame frame(202, 202);
        Avi10VideoEncoder encoder(202, 202, 24, path, FakePlatform());
        ASSERT_TRUE(encoder.Open(path, 60));
        EXPECT_EQ(c.framesWritten, Feed(encoder, frame, c.framesWritten + 3));
        EXPECT_EQ(RecordingState::Failed, encoder.State());
        EXPECT_EQ(static_cast<UINT32>(c.framesWritten), encoder.writer->frameCount);
        EXPECT_EQ(AVIERR_ERROR, AviWriterAddFrame(encoder.writer, frame.bitmap));
        EXPECT_EQ(0, g_fake.callsAfterFailure);
        EXPECT_FALSE(encoder.Close());
        EXPECT_EQ(c.streamsMade, g_fake.streamReleases);
        ExpectFinished(path, c.framesWritten);
    }
}

// A write that reports success but never reaches the file (as on a full disk, where the platform's
// writer may not notice) shows at the close, which reads the file back.
TEST_F(AviTest, CloseFailsWhenFramesAreMissingFromTheFile) {
    g_fake.failing = Call::Write;
    g_fake.failAtWrite = 2;
    g_fake.silentLoss = true;
    const std::wstring path = File(L"lost.avi");
    DibFrame frame(202, 202);
    Avi10VideoEncoder encoder(202, 202, 24, path, FakePlatform());
    ASSERT_TRUE(encoder.Open(path, 60));
    EXPECT_EQ(4, Feed(encoder, frame, 4));
    EXPECT_FALSE(encoder.Close());
    EXPECT_EQ(RecordingState::Failed, encoder.State());
}

// A file is finished only whole: cut where a full disk stops the writes at the close (before or
// inside the index) or inside the frames, it is not, though a reader may still find every frame.
TEST_F(AviTest, AFileCutShortIsNotFinished) {
    const std::wstring path = File(L"whole.avi");
    DibFrame frame(202, 202);
    {
        Avi10VideoEncoder encoder(202, 202, 24, path);
        ASSERT_TRUE(encoder.Open(path, 60));
        EXPECT_EQ(3, Feed(encoder, frame, 3));
        ASSERT_TRUE(encoder.Close());
    }
    const std::string whole = ReadBytes(path);
    const size_t index = whole.find("idx1");
    ASSERT_NE(index, std::string::npos);
    const struct {
        const char* name;
        size_t length;
        bool finished;
    } cases[] = {{"whole", whole.size(), true},
                 {"index cut off", index, false},
                 {"index cut short", index + 16, false},
                 {"last frame cut short", index - 100, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring cut = File(L"cut.avi");
        ASSERT_TRUE(WriteBytes(cut, whole.substr(0, c.length)));
        EXPECT_EQ(c.finished, AviFileFinished(cut, 3));
        EXPECT_FALSE(AviFileFinished(cut, 4));
    }
}

// A frame is written only while the file stays within the limit, the bound itself included; then
// the recording is full and the file complete.
TEST_F(AviTest, SizeLimitMakesTheRecordingFull) {
    const ULONGLONG threeFrames = kAviHeaderReserve + 3 * (kAviChunkOverhead + kSmallFrameBytes);
    const struct {
        ULONGLONG limit;
        int frames;
    } cases[] = {{threeFrames, 3}, {threeFrames - 1, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        const std::wstring path = File(L"limit.avi");
        DibFrame frame(202, 202);
        Avi10VideoEncoder encoder(202, 202, 24, path, FakePlatform(c.limit));
        ASSERT_TRUE(encoder.Open(path, 60));
        EXPECT_EQ(c.frames, Feed(encoder, frame, c.frames));
        EXPECT_EQ(RecordingState::Recording, encoder.State());
        EXPECT_EQ(0, Feed(encoder, frame, 2, c.frames));
        EXPECT_EQ(RecordingState::Full, encoder.State());
        EXPECT_TRUE(encoder.Close());
        EXPECT_EQ(RecordingState::Full, encoder.State());
        ExpectFinished(path, c.frames);
    }
}

// Before each frame the file's folder must have room for it, the index and a margin; else the
// recording fails and the file keeps the frames so far.
TEST_F(AviTest, LowDiskSpaceFailsTheRecording) {
    g_fake.freeBytes = AviFreeSpaceNeeded(1, kSmallFrameBytes);  // room for exactly two frames
    const std::wstring path = File(L"space.avi");
    DibFrame frame(202, 202);
    Avi10VideoEncoder encoder(202, 202, 24, path, FakePlatform());
    ASSERT_TRUE(encoder.Open(path, 60));
    EXPECT_EQ(2, Feed(encoder, frame, 4));
    EXPECT_EQ(RecordingState::Failed, encoder.State());
    EXPECT_TRUE(_wcsicmp((folder.path() + L"\\").c_str(), g_fake.freeSpaceFolder.c_str()) == 0)
        << std::string(g_fake.freeSpaceFolder.begin(), g_fake.freeSpaceFolder.end());
    EXPECT_FALSE(encoder.Close());
    ExpectFinished(path, 2);
}

// Open on an open encoder finishes the first file; the destructor finishes an open one.
TEST_F(AviTest, EveryOpenedFileIsFinished) {
    DibFrame frame(202, 202);
    const std::wstring first = File(L"first.avi"), second = File(L"second.avi"), third = File(L"third.avi");
    {
        Avi10VideoEncoder encoder(202, 202, 24, first);
        ASSERT_TRUE(encoder.Open(first, 60));
        EXPECT_EQ(2, Feed(encoder, frame, 2));
        ASSERT_TRUE(encoder.Open(second, 60));
        ExpectFinished(first, 2);
        EXPECT_EQ(1, Feed(encoder, frame, 1));
        EXPECT_TRUE(encoder.Close());
        ExpectFinished(second, 1);

        ASSERT_TRUE(encoder.Open(third, 60));
        EXPECT_EQ(3, Feed(encoder, frame, 3));
    }
    ExpectFinished(third, 3);
}

std::string Le32(uint32_t value) {
    return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
            static_cast<char>(value >> 24)};
}
std::string Chunk(const char* id, const std::string& body) { return id + Le32(body.size()) + body; }
// Whether the bytes hold all of the RIFF AVI form their size field counts.
bool WholeForm(const std::string& f) {
    return f.size() >= 12 && f.compare(0, 4, "RIFF") == 0 && f.compare(8, 4, "AVI ") == 0 &&
           (static_cast<unsigned char>(f[4]) | static_cast<unsigned char>(f[5]) << 8 |
            static_cast<unsigned char>(f[6]) << 16 | static_cast<size_t>(static_cast<unsigned char>(f[7])) << 24) +
                   8 <= f.size();
}

// A file closed before its first frame is checked like any other: it is finished only as a whole
// AVI form, which then needs no stream and no index. An empty file (what a platform that writes
// nothing for a form without streams leaves, or a full disk) or headers cut short are not.
TEST_F(AviTest, AFileClosedBeforeItsFirstFrameIsFinishedOnlyWhole) {
    const std::string headers = Chunk("LIST", "hdrl" + Chunk("avih", std::string(56, '\0')));
    const std::string movi = Chunk("LIST", std::string("movi"));
    const std::string noStream = Chunk("RIFF", "AVI " + headers + movi);
    const std::string indexed = Chunk("RIFF", "AVI " + headers + movi + Chunk("idx1", ""));
    const struct {
        const char* what;
        std::string bytes;
        bool finished;
    } cases[] = {{"headers only", noStream, true},
                 {"headers and an empty index", indexed, true},
                 {"empty", "", false},
                 {"headers cut short", noStream.substr(0, noStream.size() - 8), false},
                 {"form size never written", "RIFF" + Le32(0) + noStream.substr(8), false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring path = File(L"written.avi");
        ASSERT_TRUE(WriteBytes(path, c.bytes));
        EXPECT_EQ(c.finished, AviFileFinished(path, 0));
        EXPECT_FALSE(AviFileFinished(path, 1));
    }

    // What this platform leaves: the close succeeds exactly when it wrote a whole form.
    const std::wstring empty = File(L"empty.avi");
    Avi10VideoEncoder encoder(202, 202, 24, empty);
    ASSERT_TRUE(encoder.Open(empty, 60));
    const bool closed = encoder.Close();
    const std::string written = ReadBytes(empty);
    std::printf("closed before the first frame: %zu bytes\n", written.size());
    EXPECT_EQ(WholeForm(written), closed);
    EXPECT_EQ(closed ? RecordingState::Recording : RecordingState::Failed, encoder.State());
}

// A file that cannot be created fails Open; the encoder then takes no frame and has nothing to close.
TEST_F(AviTest, OpenFailsWhenTheFileCannotBeCreated) {
    const std::wstring path = File(L"missing\\folder.avi");
    DibFrame frame(202, 202);
    Avi10VideoEncoder encoder(202, 202, 24, path);
    EXPECT_FALSE(encoder.Open(path, 60));
    EXPECT_EQ(RecordingState::Failed, encoder.State());
    EXPECT_EQ(0, Feed(encoder, frame, 1));
    EXPECT_FALSE(encoder.Close());
    EXPECT_FALSE(Exists(path));
}

}  // namespace

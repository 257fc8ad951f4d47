#include <gtest/gtest.h>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>
#include "tests/support/Files.h"
#include "ui/StillImage.h"

namespace {

uint32_t U32(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 | static_cast<uint8_t>(b[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
uint16_t U16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

// Blue, green, red of picture pixel (x, y), y = 0 the top row; no two neighbours alike.
uint8_t Channel(int x, int y, int c) { return static_cast<uint8_t>(x * (3 + c) + y * (7 + 2 * c) + c * 50); }

// A bottom-up DIB section selected into a memory DC, as the live view holds its last frame.
class LiveBitmap {
public:
    LiveBitmap(int w, int h, int bits) : m_w(w), m_h(h) {
        struct { BITMAPINFOHEADER header; RGBQUAD colours[256]; } bmi{};
        bmi.header.biSize = sizeof bmi.header;
        bmi.header.biWidth = w;
        bmi.header.biHeight = h;
        bmi.header.biPlanes = 1;
        bmi.header.biBitCount = static_cast<WORD>(bits);
        bmi.header.biCompression = BI_RGB;
        for (int i = 0; i < 256; ++i)
            bmi.colours[i] = {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i / 2), 0};
        m_dc = CreateCompatibleDC(nullptr);
        m_bitmap = CreateDIBSection(m_dc, reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS, &m_bits, nullptr, 0);
        if (m_bitmap) m_old = SelectObject(m_dc, m_bitmap);
        m_stride = (w * bits + 31) / 32 * 4;
    }
    ~LiveBitmap() {
        if (m_old) SelectObject(m_dc, m_old);
        if (m_bitmap) DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    bool ok() const { return m_bitmap && m_bits; }
    // Picture row y lives at memory row h - 1 - y.
    uint8_t* Row(int y) { return static_cast<uint8_t*>(m_bits) + static_cast<size_t>(m_h - 1 - y) * m_stride; }
    void Fill24() {
        for (int y = 0; y < m_h; ++y)
            for (int x = 0; x < m_w; ++x)
                for (int c = 0; c < 3; ++c) Row(y)[x * 3 + c] = Channel(x, y, c);
        GdiFlush();
    }
    HBITMAP bitmap() const { return m_bitmap; }
    HDC dc() const { return m_dc; }

private:
    int m_w, m_h, m_stride = 0;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    void* m_bits = nullptr;
};

class StillFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(temp.ok()); }
    std::wstring Folder() const { return temp.path() + L"\\"; }
    TempFolder temp;
};

}  // namespace

TEST_F(StillFile, Bmp24DecodesToThePicture) {
    struct Case { int w, h; uint32_t fileSize, imageSize, row; } cases[] = {
        {640, 480, 921654, 921600, 1920},
        {642, 480, 925494, 925440, 1928},  // 1,926 bytes of pixels padded to 1,928
        {202, 202, 122870, 122816, 608},
        {1, 1, 58, 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        LiveBitmap live(c.w, c.h, 24);
        ASSERT_TRUE(live.ok());
        live.Fill24();
        BitmapInfoPtr info = CreateBitmapInfo(live.bitmap());
        ASSERT_TRUE(info);
        const BITMAPINFOHEADER& h = info->bmiHeader;
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biHeight, c.h);
        EXPECT_EQ(h.biSizeImage, c.imageSize);
        EXPECT_EQ(h.biClrUsed, 0u);

        const std::wstring path = Folder() + L"still.bmp";
        ASSERT_EQ(WriteBmpFile(path, info.get(), live.bitmap(), live.dc()), 1);
        const std::string b = ReadBytes(path);
        ASSERT_EQ(b.size(), c.fileSize);
        EXPECT_EQ(b.substr(0, 2), "BM");
        EXPECT_EQ(U32(b, 2), c.fileSize);
        EXPECT_EQ(U32(b, 6), 0u);  // both reserved words
        EXPECT_EQ(U32(b, 10), 54u);
        EXPECT_EQ(U32(b, 14), 40u);
        EXPECT_EQ(static_cast<int32_t>(U32(b, 18)), c.w);
        EXPECT_EQ(static_cast<int32_t>(U32(b, 22)), c.h);  // positive: bottom row first
        EXPECT_EQ(U16(b, 26), 1);
        EXPECT_EQ(U16(b, 28), 24);
        EXPECT_EQ(U32(b, 30), 0u);
        EXPECT_EQ(U32(b, 34), c.imageSize);
        for (size_t at : {38u, 42u, 46u, 50u}) EXPECT_EQ(U32(b, at), 0u) << "offset " << at;

        int wrong = 0;
        for (uint32_t r = 0; r < static_cast<uint32_t>(c.h); ++r) {
            const int y = c.h - 1 - static_cast<int>(r);  // the file's last row is the top one
            for (int x = 0; x < c.w; ++x)
                for (int ch = 0; ch < 3; ++ch)
                    if (static_cast<uint8_t>(b[54 + r * c.row + x * 3 + ch]) != Channel(x, y, ch)) ++wrong;
        }
        EXPECT_EQ(wrong, 0);
        // The top row, read by hand at the file's end.
        EXPECT_EQ(static_cast<uint8_t>(b[54 + (c.h - 1) * c.row]), Channel(0, 0, 0));
    }
}

TEST_F(StillFile, Bmp8CarriesItsColourTable) {
    LiveBitmap live(4, 2, 8);
    ASSERT_TRUE(live.ok());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) live.Row(y)[x] = static_cast<uint8_t>(10 + x + 4 * y);
    GdiFlush();
    BitmapInfoPtr info = CreateBitmapInfo(live.bitmap());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->bmiHeader.biClrUsed, 256u);
    EXPECT_EQ(info->bmiHeader.biSizeImage, 8u);
    const std::wstring path = Folder() + L"p.bmp";
    ASSERT_EQ(WriteBmpFile(path, info.get(), live.bitmap(), live.dc()), 1);
    const std::string b = ReadBytes(path);
    ASSERT_EQ(b.size(), 54u + 1024 + 8);
    EXPECT_EQ(U32(b, 2), b.size());
    EXPECT_EQ(U32(b, 10), 1078u);
    EXPECT_EQ(U16(b, 28), 8);
    EXPECT_EQ(U32(b, 46), 256u);
    for (int i : {0, 13, 255}) {
        EXPECT_EQ(static_cast<uint8_t>(b[54 + 4 * i]), i);
        EXPECT_EQ(static_cast<uint8_t>(b[54 + 4 * i + 1]), 255 - i);
        EXPECT_EQ(static_cast<uint8_t>(b[54 + 4 * i + 2]), i / 2);
    }
    EXPECT_EQ(b.substr(1078), std::string("\x0E\x0F\x10\x11\x0A\x0B\x0C\x0D"));  // bottom row first
}

TEST_F(StillFile, ReplacesAnExistingFile) {
    const std::wstring path = Folder() + L"again.bmp";
    ASSERT_TRUE(WriteBytes(path, std::string(100000, 'x')));
    LiveBitmap live(1, 1, 24);
    ASSERT_TRUE(live.ok());
    live.Fill24();
    BitmapInfoPtr info = CreateBitmapInfo(live.bitmap());
    ASSERT_EQ(WriteBmpFile(path, info.get(), live.bitmap(), live.dc()), 1);
    EXPECT_EQ(ReadBytes(path).size(), 58u);
}

TEST_F(StillFile, FailuresLeaveNoFile) {
    LiveBitmap live(16, 8, 24);
    ASSERT_TRUE(live.ok());
    live.Fill24();
    BitmapInfoPtr info = CreateBitmapInfo(live.bitmap());
    ASSERT_TRUE(info);

    EXPECT_EQ(WriteBmpFile(Folder() + L"missing\\x.bmp", info.get(), live.bitmap(), live.dc()), 0);
    EXPECT_FALSE(Exists(Folder() + L"missing"));

    const std::wstring directory = Folder() + L"dir.bmp";
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
    EXPECT_EQ(WriteBmpFile(directory, info.get(), live.bitmap(), live.dc()), 0);
    EXPECT_NE(GetFileAttributesW(directory.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

    // A bitmap that cannot be read any more: nothing is fetched, so nothing is created.
    HBITMAP gone = CreateBitmap(4, 4, 1, 32, nullptr);
    BitmapInfoPtr goneInfo = CreateBitmapInfo(gone);
    ASSERT_TRUE(goneInfo);
    DeleteObject(gone);
    EXPECT_EQ(WriteBmpFile(Folder() + L"gone.bmp", goneInfo.get(), gone, live.dc()), 0);
    EXPECT_FALSE(Exists(Folder() + L"gone.bmp"));
    EXPECT_FALSE(CreateBitmapInfo(gone));
    EXPECT_FALSE(CreateBitmapInfo(nullptr));
}

TEST(CaptureNames, PrefixesAreMadeSafe) {
    struct Case { std::wstring prefix, safe; } cases[] = {
        {L"SiteA", L"SiteA"},
        {L"", L""},
        {L"a\\b:c", L"a_b_c"},
        {L"/*?\"<>|", L"_______"},
        {L"tab\there\r\n", L"tab_here__"},
        {std::wstring(L"nul\0x", 5), L"nul_x"},
        {L"del\x7F", L"del_"},
        {L"ok.-_ \u00E9\u4E2D", L"ok.-_ \u00E9\u4E2D"},  // dots, spaces and wide letters stay
    };
    for (const Case& c : cases) EXPECT_EQ(FilePrefixForName(c.prefix), c.safe) << c.safe;
}

TEST(CaptureNames, StemsCountPastTakenNames) {
    const std::set<std::wstring> none;
    const std::set<std::wstring> taken = {L"20210524140700_SiteA_0", L"20210524140700_SiteA_1",
                                          L"20210524140700_SiteA_3"};
    auto in = [](const std::set<std::wstring>& set) {
        return [&set](const std::wstring& stem) { return set.count(stem) > 0; };
    };
    struct Case {
        const wchar_t* prefix;
        int first;
        const std::set<std::wstring>* taken;
        const wchar_t* stem;
    } cases[] = {
        {L"SiteA", 0, &none, L"20210524140700_SiteA_0"},
        {L"", 0, &none, L"20210524140700__0"},
        {L"SiteA", 0, &taken, L"20210524140700_SiteA_2"},
        {L"SiteA", 3, &taken, L"20210524140700_SiteA_4"},
        {L"SiteB", 0, &taken, L"20210524140700_SiteB_0"},
        {L"a\\b:c", 0, &none, L"20210524140700_a_b_c_0"},
    };
    for (const Case& c : cases) EXPECT_EQ(MakeCaptureStem(L"20210524140700", c.prefix, c.first, in(*c.taken)), c.stem);

    // The check sees the safe stem, as it names the files.
    std::wstring asked;
    MakeCaptureStem(L"20210524140700", L"x:y", 0, [&](const std::wstring& stem) {
        asked = stem;
        return false;
    });
    EXPECT_EQ(asked, L"20210524140700_x_y_0");
}

TEST(CaptureNames, ClaimsPassOverNamesAnotherProgramTookMeanwhile) {
    const std::wstring base = L"20210524140700_SiteA_";
    struct Case {
        const char* name;
        std::set<int> taken;                 // seen by the check
        std::vector<NewFile> claims;         // what each claim finds, in order
        const wchar_t* stem;                 // after base; nullptr: none
        std::vector<int> claimed;            // the indexes claimed
    } cases[] = {
        {"free", {}, {NewFile::Created}, L"0", {0}},
        {"taken between check and claim", {}, {NewFile::Exists, NewFile::Created}, L"1", {0, 1}},
        {"taken before the check, then meanwhile", {0}, {NewFile::Exists, NewFile::Exists, NewFile::Created}, L"3",
         {1, 2, 3}},
        {"the folder cannot be written", {}, {NewFile::Failed}, nullptr, {0}},
        {"taken meanwhile, then cannot be written", {}, {NewFile::Exists, NewFile::Failed}, nullptr, {0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> claimed;
        const std::wstring stem = ClaimCaptureStem(
            L"20210524140700", L"SiteA", 0, [&](const std::wstring& s) { return c.taken.count(std::stoi(s.substr(base.size()))) > 0; },
            [&](const std::wstring& s) {
                claimed.push_back(std::stoi(s.substr(base.size())));
                return claimed.size() <= c.claims.size() ? c.claims[claimed.size() - 1] : NewFile::Created;
            });
        EXPECT_EQ(stem, c.stem ? base + c.stem : L"");
        EXPECT_EQ(claimed, c.claimed);
    }
}

TEST_F(StillFile, ANewFileNeverReplacesOneThatIsThere) {
    const std::wstring there = Folder() + L"there.bmp";
    ASSERT_TRUE(WriteBytes(there, "another program's"));
    ClaimedFile file;
    EXPECT_EQ(file.Create(there), NewFile::Exists);
    EXPECT_EQ(file.Path(), L"");
    EXPECT_EQ(ReadBytes(there), "another program's");
    const std::wstring fresh = Folder() + L"fresh.bmp";
    EXPECT_EQ(file.Create(fresh), NewFile::Created);
    EXPECT_TRUE(file.Keep());
    EXPECT_TRUE(Exists(fresh));
    EXPECT_EQ(ReadBytes(fresh), "");
    EXPECT_EQ(file.Create(Folder() + L"missing\\x.bmp"), NewFile::Failed);
}

// Another copy of the program's list may open a still the moment its name appears: the capture
// writes through the handle that created the name, so such an open fails until the still is
// whole, and cannot make the capture fail.
TEST_F(StillFile, AClaimedStillIsWrittenThroughItsOwnHandleAndNobodyOpensItMeanwhile) {
    LiveBitmap live(16, 8, 24);
    ASSERT_TRUE(live.ok());
    live.Fill24();
    struct Case {
        const char* who;
        DWORD access, share, disposition;
    } const cases[] = {
        {"a list reading a thumbnail", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING},
        {"a reader sharing everything", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
         OPEN_EXISTING},
        {"a writer replacing the file", GENERIC_WRITE, 0, CREATE_ALWAYS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.who);
        const std::wstring path = Folder() + L"claimed.bmp";
        ClaimedFile file;
        ASSERT_EQ(file.Create(path), NewFile::Created);
        HANDLE other = CreateFileW(path.c_str(), c.access, c.share, nullptr, c.disposition, 0, nullptr);
        EXPECT_EQ(other, INVALID_HANDLE_VALUE) << "opened by another program before it was written";
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
        BitmapInfoPtr info = CreateBitmapInfo(live.bitmap());
        EXPECT_EQ(WriteBmpFile(file, info.get(), live.bitmap(), live.dc()), 1);
        EXPECT_TRUE(file.Keep());
        EXPECT_EQ(ReadBytes(path).size(), 54u + 16 * 3 * 8);
        ASSERT_TRUE(DeleteFileW(path.c_str()));
    }
}

// A claimed name is deleted once, while it is still this program's: right after, another copy of
// the program may create a file of that name, and nothing of this one touches it again.
TEST_F(StillFile, AClaimIsDeletedOnceAndAFileMadeInItsPlaceSurvives) {
    LiveBitmap live(4, 4, 24);
    ASSERT_TRUE(live.ok());
    HBITMAP gone = CreateBitmap(4, 4, 1, 32, nullptr);
    BitmapInfoPtr goneInfo = CreateBitmapInfo(gone);
    ASSERT_TRUE(goneInfo);
    DeleteObject(gone);
    const std::string others = "the other program's file";
    struct Case {
        const char* name;
        std::function<void(ClaimedFile&)> before;  // what happens to the claim before its delete
    } const cases[] = {
        {"held open, nothing written", [](ClaimedFile&) {}},
        {"held open, its still not readable",
         [&](ClaimedFile& file) {
             // The write fails and leaves the file to its owner: it is deleted by the owner only.
             EXPECT_EQ(WriteBmpFile(file, goneInfo.get(), gone, live.dc()), 0);
             EXPECT_TRUE(file.IsOpen());
         }},
        {"released to an encoder, which wrote into it",
         [&](ClaimedFile& file) {
             EXPECT_TRUE(file.Release());
             EXPECT_TRUE(WriteBytes(file.Path(), "half a recording"));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = Folder() + L"raced.bmp";
        {
            ClaimedFile file;
            ASSERT_EQ(file.Create(path), NewFile::Created);
            c.before(file);
            EXPECT_TRUE(file.Delete());
            EXPECT_FALSE(Exists(path));
            // The other copy of the program takes the name the moment it is free.
            HANDLE other = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            ASSERT_NE(other, INVALID_HANDLE_VALUE) << "the name was not free after the delete";
            DWORD written = 0;
            WriteFile(other, others.data(), static_cast<DWORD>(others.size()), &written, nullptr);
            CloseHandle(other);
            EXPECT_EQ(file.Path(), L"");
            EXPECT_TRUE(file.Delete());  // holds nothing: deletes nothing
            EXPECT_TRUE(file.Keep());
        }  // nor does its end
        EXPECT_EQ(ReadBytes(path), others);
        ASSERT_TRUE(DeleteFileW(path.c_str()));
    }
}

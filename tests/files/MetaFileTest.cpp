#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "cloud/MetadataReader.h"
#include "tests/support/Files.h"
#include "ui/ImageMetadata.h"

namespace {

// All 17 members in declaration order, so a comparison also covers the spares.
std::vector<std::wstring> Members(const ImageMetadata& m) {
    return {m.facility,   m.location,  m.reserved1, m.testDate,  m.testTime,           m.operatorName,
            m.serial,     m.model,     m.endoscopeType, m.recommendedActions, m.testResult, m.comments,
            m.reserved2,  m.reserved3, m.reserved4, m.reserved5, m.reserved6};
}

// The example record: recommended actions empty, comments "ok".
ImageMetadata Example() {
    ImageMetadata m;
    m.facility = L"North";
    m.location = L"Endo 2";
    m.operatorName = L"Ann Lee";
    m.serial = L"S123";
    m.model = L"M-100";
    m.endoscopeType = L"Gastroscope";
    m.comments = L"ok";
    m.testResult = L"Pass";
    m.testDate = L"05/24/2021";
    m.testTime = L"14:07";
    return m;
}

// A file of the given lines, each ended by `end`.
std::string Lines(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
    std::string out;
    for (const std::string& line : lines) out += line + end;
    return out;
}

// "v1".."vN": line i of a file, so a member shows which line it came from.
std::vector<std::string> Numbered(int count) {
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i) lines.push_back("v" + std::to_string(i));
    return lines;
}

// The record a reader should make of the first `count` numbered lines.
ImageMetadata FromNumbered(int count) {
    ImageMetadata m;
    std::wstring* byLine[] = {&m.facility,      &m.location,           &m.operatorName, &m.serial,
                              &m.model,         &m.endoscopeType,      &m.recommendedActions,
                              &m.comments,      &m.testResult,         &m.testDate,     &m.testTime};
    for (int i = 0; i < count && i < 11; ++i) *byLine[i] = L"v" + std::to_wstring(i + 1);
    return m;
}

class MetaFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(temp.ok()); }
    std::wstring Folder() const { return temp.path() + L"\\"; }
    TempFolder temp;
};

}  // namespace

TEST(MetaStrings, ByteWiseConversions) {
    struct Case { std::wstring wide; std::string narrow; } narrowing[] = {
        {L"", ""},
        {L"Ann Lee", "Ann Lee"},
        {L"\u0141", "\x41"},          // only the low byte survives
        {L"\u0107x", std::string("\x07x")},
        {L"caf\u00E9", "caf\xE9"},
        {std::wstring(L"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : narrowing) EXPECT_EQ(NarrowString(c.wide), c.narrow);

    EXPECT_EQ(WidenString("\xE9"), L"\u00E9");  // unsigned: not U+FFE9
    EXPECT_EQ(WidenString("\xFF\x80\x01"), L"\u00FF\u0080\u0001");
    std::wstring all;
    for (wchar_t c = 0; c <= 0xFF; ++c) all += c;
    EXPECT_EQ(WidenString(NarrowString(all)), all);
}

TEST_F(MetaFile, ExampleRecordIsByteExact) {
    ImageMetadata m = Example();
    m.reserved1 = L"never";  // the spares do not reach the file
    m.reserved6 = L"written";
    ASSERT_TRUE(WriteMetaFile(Folder(), L"x.meta", m));
    const std::string want = Lines({"North", "Endo 2", "Ann Lee", "S123", "M-100", "Gastroscope", "", "ok", "Pass",
                                    "05/24/2021", "14:07"});
    EXPECT_EQ(want.size(), 81u);
    EXPECT_EQ(ReadBytes(Folder() + L"x.meta"), want);
}

TEST_F(MetaFile, EmptyRecordAndRewrite) {
    ImageMetadata spares;
    spares.reserved2 = L"r2";
    spares.reserved3 = L"r3";
    spares.reserved4 = L"r4";
    spares.reserved5 = L"r5";
    ASSERT_TRUE(WriteMetaFile(Folder(), L"s.meta", Example()));
    ASSERT_TRUE(WriteMetaFile(Folder(), L"s.meta", spares));  // replaces, nothing appended
    std::string crlf11;
    for (int i = 0; i < 11; ++i) crlf11 += "\r\n";
    EXPECT_EQ(ReadBytes(Folder() + L"s.meta"), crlf11);
}

TEST_F(MetaFile, WriteReportsAFolderThatIsMissing) {
    EXPECT_FALSE(WriteMetaFile(Folder() + L"missing\\", L"x.meta", Example()));
    EXPECT_FALSE(Exists(Folder() + L"missing"));
}

TEST_F(MetaFile, RoundTrips) {
    ImageMetadata m = Example();
    m.recommendedActions = L"Replace";  // line 7, never swapped with the result on line 9
    m.facility = L"caf\u00E9";
    m.location = L"\u0107";  // beyond one byte: kept by UTF-8
    m.serial = L"S\xDCFF";    // a service's byte that is no UTF-8: written as it came
    ASSERT_TRUE(WriteMetaFile(Folder(), L"r.meta", m));
    const std::string head = "caf\xC3\xA9\r\n\xC4\x87\r\nAnn Lee\r\nS\xFF\r\n";
    EXPECT_EQ(ReadBytes(Folder() + L"r.meta").substr(0, head.size()), head);
    EXPECT_EQ(Members(ReadMetaFile(Folder(), L"r.bmp")), Members(m));

    // Line structure survives text with control characters in it.
    struct Case { const wchar_t* text; const wchar_t* back; } cases[] = {
        {L"a\nb", L"a b"}, {L"a\r\nb", L"a  b"}, {L"tab\there", L"tab here"}, {L"del\x7F", L"del "},
        {L"\x1A", L" "},
    };
    for (const Case& c : cases) {
        ImageMetadata one;
        one.comments = c.text;
        ASSERT_TRUE(WriteMetaFile(Folder(), L"c.meta", one));
        EXPECT_EQ(ReadBytes(Folder() + L"c.meta").size(), 22 + std::wstring(c.back).size()) << c.back;
        ImageMetadata want;
        want.comments = c.back;
        EXPECT_EQ(Members(ReadMetaFile(Folder(), L"c.bmp")), Members(want)) << c.back;
    }
}

// A line that is no UTF-8: the service's texts (lines 1-6) keep their bytes, as the service sent
// them; the operator's (lines 7-11) are the older form, one byte per character. 0x1A is data, not
// the end of the file.
TEST_F(MetaFile, LinesThatAreNoUtf8) {
    ASSERT_TRUE(WriteBytes(Folder() + L"old.meta",
                           Lines({"Caf\xE9", "x\x1Ay", "Ann \xFF", "S\x80", "M\xC3", "T\xE2\x82", "act\xE9",
                                  "com\xFC", "F\xE4il", "d\xB0", "\xE9t\xE9"})));
    ImageMetadata want;
    want.facility = L"Caf\xDCE9";
    want.location = L"x\x1Ay";
    want.operatorName = L"Ann \xDCFF";
    want.serial = L"S\xDC80";
    want.model = L"M\xDCC3";
    want.endoscopeType = L"T\xDCE2\xDC82";
    want.recommendedActions = L"act\u00E9";
    want.comments = L"com\u00FC";
    want.testResult = L"F\u00E4il";
    want.testDate = L"d\u00B0";
    want.testTime = L"\u00E9t\u00E9";
    const ImageMetadata m = ReadMetaFile(Folder(), L"old.bmp");
    EXPECT_EQ(Members(m), Members(want));
    // Written again, the service's bytes are what they were; the operator's text is UTF-8 now.
    ASSERT_TRUE(WriteMetaFile(Folder(), L"again.meta", m));
    EXPECT_EQ(ReadBytes(Folder() + L"again.meta"),
              Lines({"Caf\xE9", "x y", "Ann \xFF", "S\x80", "M\xC3", "T\xE2\x82", "act\xC3\xA9", "com\xC3\xBC",
                     "F\xC3\xA4il", "d\xC2\xB0", "\xC3\xA9t\xC3\xA9"}));
}

TEST_F(MetaFile, ReaderPaths) {
    ASSERT_TRUE(CreateDirectoryW((temp.path() + L"\\F").c_str(), nullptr));
    struct Case { const wchar_t* file; const wchar_t* folder; const wchar_t* image; } cases[] = {
        {L"F\\x.meta", L"F\\", L"x.bmp"},
        {L"F\\y.meta", L"F\\", L"y"},
        {L"F\\a.b.meta", L"F\\", L"a.b.bmp"},
        {L"Fz.meta", L"F", L"z.bmp"},  // no separator is added
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(Folder() + c.file, Lines({NarrowString(c.file)})));
        EXPECT_EQ(ReadMetaFile(Folder() + c.folder, c.image).facility, c.file);
    }
    EXPECT_EQ(ReadMetaFile(Folder() + L"F\\", L"a.bmp").facility, L"");  // looks for a.meta only
    EXPECT_EQ(Members(ReadMetaFile(Folder() + L"nowhere\\", L"x.bmp")), Members(ImageMetadata{}));

    // A folder name beyond 8 bits, both ways.
    const std::wstring wide = Folder() + L"meta\u4E2D\u0107\\";
    ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr));
    ASSERT_TRUE(WriteMetaFile(wide, L"w.meta", Example()));
    EXPECT_EQ(Members(ReadMetaFile(wide, L"w.bmp")), Members(Example()));
}

TEST_F(MetaFile, LineCounts) {
    struct Case { int lines; int filled; } cases[] = {{0, 0}, {5, 5}, {11, 11}, {12, 11}, {13, 11}, {20, 11}};
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(Folder() + L"n.meta", Lines(Numbered(c.lines))));
        EXPECT_EQ(Members(ReadMetaFile(Folder(), L"n.bmp")), Members(FromNumbered(c.filled))) << c.lines << " lines";
    }
}

TEST_F(MetaFile, LineEnds) {
    const std::string eleven = Lines(Numbered(11));
    struct Case { const char* what; std::string bytes; ImageMetadata want; } cases[] = {
        {"LF only", Lines(Numbered(11), "\n"), FromNumbered(11)},
        {"no last LF", eleven.substr(0, eleven.size() - 2), FromNumbered(11)},
        {"no last LF, CR kept off", eleven.substr(0, eleven.size() - 1), FromNumbered(11)},
        {"one CR taken", "a\r\r\n", [] { ImageMetadata m; m.facility = L"a\r"; return m; }()},
        {"CR inside kept", "a\rb\r\n\r\n", [] { ImageMetadata m; m.facility = L"a\rb"; return m; }()},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(Folder() + L"e.meta", c.bytes));
        EXPECT_EQ(Members(ReadMetaFile(Folder(), L"e.bmp")), Members(c.want)) << c.what;
    }
}

TEST_F(MetaFile, LongLine) {
    std::string longLine(5000, 'x');
    for (size_t i = 0; i < longLine.size(); i += 97) longLine[i] = static_cast<char>('a' + i % 26);
    ASSERT_TRUE(WriteBytes(Folder() + L"l.meta", Lines({"first", longLine, "third"})));
    const ImageMetadata m = ReadMetaFile(Folder(), L"l.bmp");
    EXPECT_EQ(m.facility, L"first");
    EXPECT_EQ(m.location, WidenString(longLine));
    EXPECT_EQ(m.operatorName, L"third");
}

// A file above the bound is not read at all, whatever it starts with; up to it, lines of any length are.
TEST_F(MetaFile, SizeBound) {
    const std::string longLine(100000, 'x');
    ImageMetadata withLongLine;
    withLongLine.facility = L"v1";
    withLongLine.location = WidenString(longLine);
    withLongLine.operatorName = L"v3";
    ImageMetadata oneFullLine;
    oneFullLine.facility = std::wstring(static_cast<size_t>(kMaxMetaFileBytes), L'\0');
    struct Case {
        const char* what;
        std::string bytes;
        long long size;  // extended with zeros to this length; 0: as written
        ImageMetadata want;
    } cases[] = {
        // Thirteen lines: the reader has all it takes long before the end of the file.
        {"13 lines, then zeros to just over the bound", Lines(Numbered(13)), kMaxMetaFileBytes + 1, {}},
        {"13 lines, then zeros to the bound", Lines(Numbered(13)), kMaxMetaFileBytes, FromNumbered(11)},
        {"one line of zeros over the bound", "", kMaxMetaFileBytes + 1, {}},
        {"one line of zeros up to the bound", "", kMaxMetaFileBytes, oneFullLine},
        {"a 100 KB line", Lines({"v1", longLine, "v3"}), 0, withLongLine},
    };
    for (const Case& c : cases) {
        const std::wstring path = Folder() + L"b.meta";
        ASSERT_TRUE(WriteBytes(path, c.bytes)) << c.what;
        if (c.size) {
            ASSERT_TRUE(ExtendTo(path, c.size)) << c.what;
        }
        const ImageMetadata got = ReadMetaFile(Folder(), L"b.bmp");
        // Not EXPECT_EQ: a megabyte-long member would flood the log.
        EXPECT_TRUE(Members(got) == Members(c.want))
            << c.what << ": first member of " << got.facility.size() << " characters, second of "
            << got.location.size();
    }
}

// The writer writes no record that the reader would refuse: around the bound a record is written
// and read back identical, or refused with nothing left, an older record of the name untouched.
TEST_F(MetaFile, RecordsAroundTheBoundAreReadBackWholeOrNotWrittenAtAll) {
    const long long eleven = 22;  // the line ends of an empty record
    // A record of `bytes` bytes on disk: the facility fills what the line ends leave.
    auto sized = [&](long long bytes, wchar_t filler, long long perCharacter) {
        ImageMetadata m;
        m.facility = std::wstring(static_cast<size_t>((bytes - eleven) / perCharacter), filler);
        return m;
    };
    struct Case {
        const char* name;
        ImageMetadata record;
        bool written;
    } const cases[] = {
        {"just below the bound", sized(kMaxMetaFileBytes - 1, L'x', 1), true},
        {"at the bound", sized(kMaxMetaFileBytes, L'x', 1), true},
        {"just above the bound", sized(kMaxMetaFileBytes + 1, L'x', 1), false},
        // Fewer characters than the bound has bytes, each two bytes in UTF-8.
        {"above the bound by its bytes, not its characters", sized(kMaxMetaFileBytes + 2, L'\u00E9', 2), false},
        {"at the bound in two-byte characters", sized(kMaxMetaFileBytes, L'\u00E9', 2), true},
        {"above the bound over several lines",
         [&] {
             ImageMetadata m = Example();
             m.comments = std::wstring(static_cast<size_t>(kMaxMetaFileBytes / 2), L'c');
             m.recommendedActions = std::wstring(static_cast<size_t>(kMaxMetaFileBytes / 2), L'r');
             return m;
         }(),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool before : {false, true}) {
            SCOPED_TRACE(before ? "over an older record" : "a new file");
            const std::wstring path = Folder() + L"b.meta";
            DeleteFileW(path.c_str());
            if (before) ASSERT_TRUE(WriteMetaFile(Folder(), L"b.meta", Example()));
            const std::string old = ReadBytes(path);

            EXPECT_EQ(WriteMetaFile(Folder(), L"b.meta", c.record), c.written);
            const ImageMetadata back = ReadMetaFile(Folder(), L"b.bmp");
            std::string text;
            EXPECT_EQ(MetaFileText(c.record, text), c.written);
            if (c.written) {
                EXPECT_TRUE(MetaFileFits(static_cast<long long>(ReadBytes(path).size())));
                EXPECT_TRUE(ReadBytes(path) == text) << "not the record's bytes";
                // Not EXPECT_EQ: a megabyte-long member would flood the log.
                EXPECT_TRUE(Members(back) == Members(c.record)) << "read back differs";
            } else {
                EXPECT_TRUE(text.empty());
                EXPECT_EQ(Exists(path), before);
                EXPECT_EQ(ReadBytes(path), old);
                EXPECT_FALSE(Exists(path + L".tmp"));
            }
        }
    }
}

// The upload as the service receives it: the 17 parts byte for byte, and which outcomes count as
// delivered, failed or timed out.
#include "standins/cloud/CendraStandin.h"
#include "tests/cloud/CloudTestSupport.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>
#include <climits>
#include <functional>

using cendra_standin::Fault;
using cendra_standin::Part;
using cendra_standin::Request;
using cendra_standin::Server;

void PrintTo(UploadOutcome outcome, std::ostream* os) {
    *os << (outcome == UploadOutcome::Delivered ? "Delivered"
            : outcome == UploadOutcome::Failed  ? "Failed"
                                                : "TimedOut");
}

namespace {

using NamedValues = std::vector<std::pair<std::string, std::string>>;

class Upload : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.ok());
        client.session->id = "T1001";
        client.session->loginName = "jdoe";
        client.session->userIdentifier = "John Doe";
    }

    // A record for an image file written with these bytes under the temporary folder.
    UploadRecord Image(const std::wstring& relativePath, const std::string& bytes) {
        UploadRecord record;
        record.path = temp.path() + L"\\" + relativePath;
        const size_t slash = record.path.find_last_of(L'\\');
        CreateDirectoryW(record.path.substr(0, slash).c_str(), nullptr);
        record.fileName = record.path.substr(slash + 1);
        EXPECT_TRUE(WriteBytes(record.path, bytes));
        return record;
    }

    // The one POST the server saw.
    Request OnlyRequest() {
        const auto requests = server.Requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? Request{} : requests[0];
    }

    TempFolder temp;
    Server server{""};
    CendraClient client{server.BaseUrl()};
};

// Every part but the image has no type and no file name; the image has both.
void ExpectParts(const Request& request, const NamedValues& expected, const std::string& imageName,
                 const std::string& imageBytes) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/v1/publish/insert");
    EXPECT_FALSE(request.cutShort);
    EXPECT_EQ(request.Header("Content-Type").rfind("multipart/form-data; boundary=", 0), 0u);
    ASSERT_EQ(request.parts.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Part& part = request.parts[i];
        EXPECT_EQ(part.name, expected[i].first) << i;
        if (part.name == "Image") {
            EXPECT_TRUE(part.hasFilename);
            EXPECT_EQ(part.filename, imageName);
            EXPECT_EQ(part.contentType, "application/octet-stream");
            EXPECT_TRUE(part.bytes == imageBytes) << "image of " << part.bytes.size() << " bytes, not " << imageBytes.size();
        } else {
            EXPECT_FALSE(part.hasFilename) << part.name;
            EXPECT_EQ(part.contentType, "") << part.name;
            EXPECT_EQ(part.bytes, expected[i].second) << part.name;
        }
    }
}

ImageMetadata Details() {
    ImageMetadata m;
    m.facility = L"North Clinic";
    m.location = L"Endo Suite A";
    m.reserved1 = L"spare";
    m.testDate = L"05/24/2021";
    m.testTime = L"14:07";
    m.operatorName = L"Ann Lee";
    m.serial = L"S1";
    m.model = L"M1";
    m.endoscopeType = L"Flexible";
    m.recommendedActions = L"Replace the light guide";
    m.testResult = L"Fail";
    m.comments = L"Dark spot at 3 o'clock";
    m.reserved6 = L"spare";
    return m;
}

TEST_F(Upload, SeventeenPartsInOrderForUserAndAdmin) {
    const std::string bytes = BitmapBytes(7, 3);
    for (const bool admin : {false, true}) {
        server.ClearRecord();
        client.session->isAdmin = admin;
        UploadRecord record = Image(L"20210524140700_QA_0.bmp", bytes);
        record.metadata = Details();
        StreamCapture out(1);
        EXPECT_EQ(client.Upload(record), UploadOutcome::Delivered);
        EXPECT_NE(out.Text().find(R"("status":"stored")"), std::string::npos);
        ExpectParts(OnlyRequest(),
                    {{"user_type", admin ? "admin" : "user"}, {"Image", ""}, {"FName", "North Clinic"},
                     {"Location", "Endo Suite A"}, {"Test_Date", "05/24/2021"}, {"Test_Time", "14:07"},
                     {"Operator", "Ann Lee"}, {"Serial", "S1"}, {"Model", "M1"}, {"Endoscope", "Flexible"},
                     {"Result", "Fail"}, {"Recommended_Action", "Replace the light guide"},
                     {"Comments", "Dark spot at 3 o'clock"}, {"Velmora_id", "T1001"}, {"username", "jdoe"},
                     {"user_identifier", "John Doe"}, {"submit", "send"}},
                    "20210524140700_QA_0.bmp", bytes);
    }
}

TEST_F(Upload, TextAndNamesTravelAsUtf8) {
    const std::string bytes = BitmapBytes(5, 5);
    client.session->loginName = "M\xC3\xBCller";  // the session's bytes go out unchanged
    UploadRecord record = Image(L"B\u00e4 \u0110 \u4e2d\\Bild_\u00e4_\u0110_\u4e2d.bmp", bytes);
    record.metadata.location = L"Z\u00fcrich";
    // The service's bytes that are no UTF-8, as a record keeps them: they go back as they came.
    record.metadata.facility = L"Endo \xDCFF";
    record.metadata.serial = L"S\xDCE9\xDC80";
    record.metadata.testResult = L"Pass";
    record.metadata.comments = L"Kratzer \u2013 \u00e9 \u20ac \U0001F600 \u4e2d";
    EXPECT_EQ(client.Upload(record), UploadOutcome::Delivered);
    ExpectParts(OnlyRequest(),
                {{"user_type", "user"}, {"Image", ""}, {"FName", "Endo \xFF"}, {"Location", "Z\xC3\xBCrich"},
                 {"Test_Date", ""}, {"Test_Time", ""}, {"Operator", ""}, {"Serial", "S\xE9\x80"}, {"Model", ""},
                 {"Endoscope", ""}, {"Result", "Pass"}, {"Recommended_Action", ""},
                 {"Comments", "Kratzer \xE2\x80\x93 \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE4\xB8\xAD"},
                 {"Velmora_id", "T1001"}, {"username", "M\xC3\xBCller"}, {"user_identifier", "John Doe"},
                 {"submit", "send"}},
                "Bild_\xC3\xA4_\xC4\x90_\xE4\xB8\xAD.bmp", bytes);
}

TEST_F(Upload, AnAllEmptyRecordStillSendsEveryPart) {
    *client.session = CendraSession{};
    const UploadRecord record = Image(L"x.bmp", "");
    EXPECT_EQ(client.Upload(record), UploadOutcome::Delivered);
    ExpectParts(OnlyRequest(),
                {{"user_type", "user"}, {"Image", ""}, {"FName", ""}, {"Location", ""}, {"Test_Date", ""},
                 {"Test_Time", ""}, {"Operator", ""}, {"Serial", ""}, {"Model", ""}, {"Endoscope", ""},
                 {"Result", ""}, {"Recommended_Action", ""}, {"Comments", ""}, {"Velmora_id", ""},
                 {"username", ""}, {"user_identifier", ""}, {"submit", "send"}},
                "x.bmp", "");
}

TEST_F(Upload, AFullHdImageGoesAfterContinue) {
    const std::string bytes = BitmapBytes(1920, 1080);
    UploadRecord record = Image(L"full.bmp", bytes);
    record.metadata = Details();
    EXPECT_EQ(client.Upload(record), UploadOutcome::Delivered);
    const Request request = OnlyRequest();
    EXPECT_EQ(request.Header("Expect"), "100-continue");
    ASSERT_EQ(request.parts.size(), 17u);
    EXPECT_EQ(request.parts[1].filename, "full.bmp");
    EXPECT_TRUE(request.parts[1].bytes == bytes);
    EXPECT_EQ(request.parts[16].bytes, "send");
}

struct OutcomeCase {
    const char* name;
    std::function<void(Server&)> faults;
    bool fileExists;
    int width, height;
    UploadOutcome result;
    size_t requests;
    size_t errorLines;
    long lowSpeedSeconds = 60;  // the program's limit unless a row waits for it
    const char* errorText = nullptr;  // the library's text in the error line, when the row names it
    const char* trace = nullptr;      // what the trace says of the limit that expired, when the row names it
};

constexpr auto kDelivered = UploadOutcome::Delivered, kFailed = UploadOutcome::Failed,
               kTimedOut = UploadOutcome::TimedOut;

const OutcomeCase kOutcomes[] = {
    {"200", nullptr, true, 8, 8, kDelivered, 1, 0},
    {"201", [](Server& s) { s.AddFault(Fault::Status("/v1/publish/insert", 201, "{}")); }, true, 8, 8, kDelivered, 1,
     0},
    {"204", [](Server& s) { s.AddFault(Fault::Status("/v1/publish/insert", 204, "")); }, true, 8, 8, kDelivered, 1, 0},
    // Not followed: the service has not taken the image.
    {"302", [](Server& s) { s.AddFault(Fault::RedirectTo("/v1/publish/insert", "/v1/publish/other")); }, true, 8, 8,
     kFailed, 1, 0},
    {"500", [](Server& s) { s.AddFault(Fault::Status("/v1/publish/insert", 500, R"({"error":"db"})")); }, true, 8, 8,
     kFailed, 1, 0},
    {"missing file", nullptr, false, 8, 8, kFailed, 0, 1, 60, "Failed to open/read local data from file/application"},
    // A transport failure that is no time-out.
    {"dropped mid-body", [](Server& s) { s.AddFault(Fault::CloseAfter("/v1/publish/insert", 1000)); }, true, 1280, 720,
     kFailed, 1, 1},
    // Below the floor for the low-speed window, 1 s here; once the request is sent, the reply
    // window of the same length may look first.
    {"stalled reply", [](Server& s) { s.AddFault(Fault::Hang("/v1/publish/insert")); }, true, 8, 8, kTimedOut, 1, 1, 1,
     "Timeout was reached"},
    // The request takes longer than the window (2.7 MB read at 1 MiB/s): the reply window starts
    // only once it has been sent, and the prompt reply is taken.
    {"a request longer than the window, then a prompt reply", [](Server& s) { s.SetRequestReadRate(1 << 20); }, true,
     1280, 720, kDelivered, 1, 0, 2},
    // The request itself goes far below the floor (the stand-in reads 1000 B/s, and the rest of the
    // 6.2 MB does not fit the sockets' buffers): the low-speed check ends it, not the total limit
    // (over 12 minutes). The stand-in is still reading then: no request recorded yet.
    {"request read far below the floor", [](Server& s) { s.SetRequestReadRate(1000); }, true, 1920, 1080, kTimedOut, 0,
     1, 1, "Timeout was reached", "Operation too slow"},
    // A 200 whose body comes a byte every half second (20 s in all) fails as a stall does: the
    // low-speed check or the reply window, whichever looks first.
    {"dripping reply",
     [](Server& s) { s.AddFault(Fault::Slow("/v1/publish/insert", std::string(40, ' '), 500)); }, true, 8, 8,
     kTimedOut, 1, 1, 1, "Timeout was reached"},
    // Replies that keep above the floor: the request is sent at once, and the reply window (3 s
    // here) ends them, not the total limit of a small image (connect and window, 13 s here).
    // A 200 whose body never ends and comes as fast as the client takes it.
    {"endless reply at full speed", [](Server& s) { s.AddFault(Fault::Endless("/v1/publish/insert")); }, true, 8, 8,
     kTimedOut, 1, 1, 3, "Timeout was reached", "The reply did not end within 3000 ms after the request was sent"},
    // 48 KiB every third of the window (every 20 s of 60), without end.
    {"reply in bursts above the floor",
     [](Server& s) { s.AddFault(Fault::Bursts("/v1/publish/insert", 48 * 1024, 1000)); }, true, 8, 8, kTimedOut, 1,
     1, 3, "Timeout was reached", "The reply did not end within 3000 ms after the request was sent"},
    // A reply in bursts that ends within the window is taken.
    {"reply in bursts that ends within the window",
     [](Server& s) {
         s.AddFault(Fault::Slow("/v1/publish/insert", std::string(4 * 48 * 1024, ' '), 400, 1, 48 * 1024));
     },
     true, 8, 8, kDelivered, 1, 0, 3},
};

class UploadReply : public Upload, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(UploadReply, DeliveredOnlyWhenTakenAndATimeOutToldApart) {
    const OutcomeCase& c = GetParam();
    if (c.faults) c.faults(server);
    ShortTimeouts limits(30000, c.lowSpeedSeconds);
    UploadRecord record = Image(L"shot.bmp", BitmapBytes(c.width, c.height));
    if (!c.fileExists) record.path = temp.path() + L"\\gone.bmp";
    // The reply goes to stdout: only the outcome and its size matter here. Checked once both
    // streams are back, so that a failure is seen.
    StreamCapture out(1), err(2);
    const UploadOutcome outcome = client.Upload(record);
    const size_t written = out.Text().size();
    const std::string trace = err.Text();
    const auto lines = err.Lines("curl_easy_perform() failed: ");
    EXPECT_EQ(outcome, c.result);
    // Never more than the cap and its line, however much came.
    EXPECT_LE(written, kReplyEchoBytes + 64);
    EXPECT_EQ(lines.size(), c.errorLines);
    if (c.errorText && !lines.empty()) {
        EXPECT_EQ(lines[0], FailureLine(c.errorText));
    }
    if (c.trace) {
        EXPECT_NE(trace.find(c.trace), std::string::npos) << trace;
    }
    EXPECT_EQ(server.RequestCount(), c.requests);
}

INSTANTIATE_TEST_SUITE_P(Replies, UploadReply, ::testing::ValuesIn(kOutcomes), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

// The largest still the program writes, over a link of 128 kB/s (the stand-in reads no faster),
// under the program's own limits: about 50 s.
TEST_F(Upload, TheLargestStillGoesOverASlowLink) {
    const std::string bytes = BitmapBytes(1920, 1080);
    ASSERT_EQ(bytes.size(), 6220854u);
    server.SetRequestReadRate(128000);
    UploadRecord record = Image(L"full.bmp", bytes);
    record.metadata = Details();
    EXPECT_EQ(client.Upload(record), UploadOutcome::Delivered);
    const Request request = OnlyRequest();
    EXPECT_FALSE(request.cutShort);
    ASSERT_EQ(request.parts.size(), 17u);
    EXPECT_TRUE(request.parts[1].bytes == bytes);
}

// The whole-upload limit leaves the largest still at 128 kB/s its reply window, grows with the
// size, and a size no link could carry gives the largest limit rather than a wrapped one.
TEST(UploadTotalLimit, FitsTheLargestStillOnASlowLinkAndNeverWraps) {
    const CendraTimeouts program;
    const unsigned long long still = 6220854;
    EXPECT_GE(UploadTotalLimitMs(still, program), static_cast<long>(still * 1000 / 128000) + program.connectMs +
                                                      program.uploadLowSpeedSeconds * 1000);
    EXPECT_GT(UploadTotalLimitMs(2 * still, program), UploadTotalLimitMs(still, program));
    for (const unsigned long long huge : {1ULL << 42, 1ULL << 63, ~0ULL})
        EXPECT_EQ(UploadTotalLimitMs(huge, program), LONG_MAX) << huge;
}

// What the program writes of a reply: all of it up to 64 KiB; beyond, the first 64 KiB and one
// line telling how many bytes were left out, on a line of its own.
TEST_F(Upload, OnlyTheFirst64KiBOfAReplyGoToStdout) {
    ASSERT_EQ(kReplyEchoBytes, 65536u);
    const auto text = [](size_t bytes) {
        std::string t;
        while (t.size() < bytes) t += "reply ";
        t.resize(bytes);
        return t;
    };
    const std::string lineEndAtTheCap = text(65535) + "\n" + text(10);
    const struct {
        const char* name;
        Fault fault;
        std::string written;
    } cases[] = {
        {"100 bytes", Fault::Status("/v1/publish/insert", 200, text(100)), text(100)},
        {"64 KiB", Fault::Status("/v1/publish/insert", 200, text(65536)), text(65536)},
        {"64 KiB and 1 byte", Fault::Status("/v1/publish/insert", 200, text(65537)),
         text(65536) + "\n[1 more byte of the reply left out]\n"},
        {"a line end at 64 KiB", Fault::Status("/v1/publish/insert", 200, lineEndAtTheCap),
         lineEndAtTheCap.substr(0, 65536) + "[10 more bytes of the reply left out]\n"},
        {"3 MiB", Fault::Large("/v1/publish/insert", 3),
         "\"" + std::string(65535, 'x') + "\n[3080192 more bytes of the reply left out]\n"},
        {"an error status", Fault::Status("/v1/publish/insert", 500, text(70000)),
         text(65536) + "\n[4464 more bytes of the reply left out]\n"},
    };
    const UploadRecord record = Image(L"echo.bmp", BitmapBytes(4, 4));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.ClearFaults();
        server.AddFault(c.fault);
        std::string written;
        {
            StreamCapture out(1);
            client.Upload(record);
            written = out.Text();
        }
        EXPECT_TRUE(written == c.written) << written.size() << " bytes written, not " << c.written.size() << "; ends "
                                          << written.substr(written.size() - std::min<size_t>(written.size(), 60));
    }
}

// The most of the process's memory that has been in RAM at once so far.
SIZE_T PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

// Past the first 64 KiB the reply is read and dropped, not kept: 128 MiB go through while the
// process's memory grows by far less, and the upload counts.
TEST_F(Upload, AReplyFarLargerThanTheCapIsNotKept) {
    server.AddFault(Fault::Large("/v1/publish/insert", 128));
    const UploadRecord record = Image(L"large.bmp", BitmapBytes(4, 4));
    const SIZE_T before = PeakWorkingSet();
    UploadOutcome outcome;
    SIZE_T peak;
    std::string written;
    {
        StreamCapture out(1);
        outcome = client.Upload(record);
        peak = PeakWorkingSet();  // before the capture is read back
        written = out.Text();
    }
    EXPECT_EQ(outcome, UploadOutcome::Delivered);
    EXPECT_LT(peak - before, SIZE_T{64} << 20);
    EXPECT_TRUE(written == "\"" + std::string(65535, 'x') + "\n[134152192 more bytes of the reply left out]\n")
        << written.size() << " bytes written";
}

TEST_F(Upload, ThreeImagesMakeThreePostsInOrder) {
    const std::wstring names[] = {L"c.bmp", L"a.bmp", L"b.bmp"};
    for (const std::wstring& name : names) {
        UploadRecord record = Image(name, BitmapBytes(4, 4));
        record.metadata.comments = name;
        EXPECT_EQ(client.Upload(record), UploadOutcome::Delivered);
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(requests[i].method, "POST");
        ASSERT_EQ(requests[i].parts.size(), 17u);
        EXPECT_EQ(requests[i].parts[1].filename, WideToUtf8(names[i]));
        EXPECT_EQ(requests[i].parts[12].bytes, WideToUtf8(names[i]));
    }
    // One connection each: nothing is reused between uploads.
    EXPECT_NE(requests[0].connection, requests[1].connection);
    EXPECT_NE(requests[1].connection, requests[2].connection);
}

// A GUI process may have no stdout; the reply is still taken and the upload counts. The reply is
// far larger than any stream buffer, so the stream has to write to the missing descriptor while
// the transfer runs: a writer that passed the failed write on to the library would fail the upload.
TEST_F(Upload, WithoutAStdoutTheUploadStillCounts) {
    server.AddFault(Fault::Large("/v1/publish/insert", 1));
    const UploadRecord record = Image(L"quiet.bmp", BitmapBytes(4, 4));
    std::fflush(stdout);
    const int saved = _dup(1);
    _close(1);
    const UploadOutcome outcome = client.Upload(record);
    std::fflush(stdout);  // fails too: what the reply left in the buffer goes nowhere
    _dup2(saved, 1);
    _close(saved);
    std::clearerr(stdout);
    EXPECT_EQ(outcome, UploadOutcome::Delivered);
    EXPECT_EQ(server.RequestCount(), 1u);
}

}  // namespace

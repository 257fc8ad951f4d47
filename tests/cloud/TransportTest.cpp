// GetJson against the stand-in: which replies give a tree, and the stderr lines of each.
#include <winsock2.h>
#include "standins/cloud/CendraStandin.h"
#include "tests/cloud/CloudTestSupport.h"
#include <gtest/gtest.h>
#include <functional>
#include <memory>

using cendra_standin::Fault;
using cendra_standin::Server;

namespace {

std::string Print(const JsonTree& tree) {
    if (!tree) return "(none)";
    char* text = cJSON_PrintUnformatted(tree.get());
    const std::string printed = text;
    cJSON_free(text);
    return printed;
}

struct GetCase {
    const char* name;
    std::function<void(Server&)> faults;
    std::string path;
    std::string tree;                  // printed tree, or "(none)"
    std::vector<std::string> lines;    // stderr
    size_t requests;
    long totalMs = 30000;              // the program's limit unless a row waits for a time-out
};

const std::string kTooMany = FailureLine("Number of redirects hit maximum amount");
const std::string kWriteError = FailureLine("Failed writing received data to disk/application");
const std::string kTimeout = FailureLine("Timeout was reached");

const GetCase kGetCases[] = {
    {"200 object", [](Server& s) { s.AddFault(Fault::Status("/a", 200, R"({ "a" : 1 })")); }, "/a", R"({"a":1})", {}, 1},
    {"200 empty", [](Server& s) { s.AddFault(Fault::Status("/a", 200, "")); }, "/a", "(none)", {}, 1},
    {"not JSON", [](Server& s) { s.AddFault(Fault::Status("/a", 200, "<html>busy</html>", 1)); }, "/a", "(none)", {}, 1},
    {"JSON and more", [](Server& s) { s.AddFault(Fault::Status("/a", 200, R"({"a":1}x)")); }, "/a", "(none)", {}, 1},
    {"JSON, NUL, more", [](Server& s) { s.AddFault(Fault::Status("/a", 200, std::string(R"({"a":1})") + '\0' + "x")); },
     "/a", "(none)", {}, 1},
    {"trailing blanks", [](Server& s) { s.AddFault(Fault::Status("/a", 200, "[1]\r\n ")); }, "/a", "[1]", {}, 1},
    {"201", [](Server& s) { s.AddFault(Fault::Status("/a", 201, R"({"a":1})")); }, "/a", "(none)", {}, 1},
    {"404 JSON", [](Server& s) { s.AddFault(Fault::Status("/a", 404, R"({"error":"no"})")); }, "/a", "(none)", {}, 1},
    {"302 to 200",
     [](Server& s) {
         s.AddFault(Fault::RedirectTo("/from", "/to"));
         s.AddFault(Fault::Status("/to", 200, "[true]"));
     },
     "/from", "[true]", {}, 2},
    {"302 to 404", [](Server& s) { s.AddFault(Fault::RedirectTo("/from", "/nowhere")); }, "/from", "(none)", {}, 2},
    {"302 itself", [](Server& s) { s.AddFault(Fault::RedirectTo("/from", "", 1)); }, "/from", "(none)", {}, 2},
    {"redirect loop", [](Server& s) { s.AddFault(Fault::RedirectTo("/loop", "", 0)); }, "/loop", "(none)", {kTooMany}, 31},
    {"5 chunks", [](Server& s) { s.AddFault(Fault::Chunks("/a", R"({"list":[1,2,3,4,5],"end":"done"})", 5)); }, "/a",
     R"({"list":[1,2,3,4,5],"end":"done"})", {}, 1},
    {"40 MiB", [](Server& s) { s.AddFault(Fault::Large("/a", 40)); }, "/a", "(none)", {kWriteError}, 1},
    {"no answer", [](Server& s) { s.AddFault(Fault::Hang("/a")); }, "/a", "(none)", {kTimeout}, 1, 1000},
    {"slow body", [](Server& s) { s.AddFault(Fault::Slow("/a", R"({"a":"0123456789"})", 100)); }, "/a", "(none)",
     {kTimeout}, 1, 1000},
};

class GetJsonTable : public ::testing::TestWithParam<GetCase> {};

TEST_P(GetJsonTable, TreeAndErrorLines) {
    const GetCase& c = GetParam();
    Server server("");
    c.faults(server);
    ShortTimeouts limits(c.totalMs);
    StreamCapture err(2);
    const JsonTree tree = CendraClient::GetJson(server.BaseUrl() + c.path);
    EXPECT_EQ(err.Lines(), c.lines);
    EXPECT_EQ(Print(tree), c.tree);
    EXPECT_EQ(server.RequestCount(), c.requests);
}

INSTANTIATE_TEST_SUITE_P(Replies, GetJsonTable, ::testing::ValuesIn(kGetCases), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

TEST(GetJson, ALargeBodyUnderTheCapParses) {
    Server server("");
    server.AddFault(Fault::Large("/a", 31));
    StreamCapture err(2);
    const JsonTree tree = CendraClient::GetJson(server.BaseUrl() + "/a");
    EXPECT_EQ(err.Lines(), std::vector<std::string>{});
    ASSERT_TRUE(cJSON_IsString(tree.get()));
    EXPECT_EQ(std::string(tree->valuestring).size(), 31u * 1024 * 1024 - 2);
}

TEST(GetJson, TwoInARowEachParseTheirOwnBody) {
    Server server("");
    server.AddFault(Fault::Status("/first", 200, R"({"first":"a much longer body than the next one"})"));
    server.AddFault(Fault::Status("/second", 200, "[2]"));
    EXPECT_EQ(Print(CendraClient::GetJson(server.BaseUrl() + "/first")), R"({"first":"a much longer body than the next one"})");
    EXPECT_EQ(Print(CendraClient::GetJson(server.BaseUrl() + "/second")), "[2]");
}

// A port that is bound but not listening refuses connections, and nobody else can take it meanwhile.
class ClosedPort {
public:
    ClosedPort() {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int length = sizeof address;
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~ClosedPort() {
        closesocket(m_socket);
        WSACleanup();
    }
    unsigned short port() const { return m_port; }

private:
    SOCKET m_socket;
    unsigned short m_port = 0;
};

// With the program's own limits: a refused connection must not be reported as a time-out.
TEST(GetJson, ClosedPortWritesExactlyOneLine) {
    ClosedPort closed;
    ASSERT_NE(closed.port(), 0);
    StreamCapture err(2);
    const JsonTree tree = CendraClient::GetJson("http://127.0.0.1:" + std::to_string(closed.port()) + "/v1/auth/login");
    EXPECT_EQ(err.Text(), "curl_easy_perform() failed: Couldn't connect to server\n");
    EXPECT_FALSE(tree);
}

struct Utf8Case {
    std::wstring wide;
    std::string utf8;
    bool roundTrips;
};

TEST(Utf8, BothDirections) {
    const Utf8Case cases[] = {
        {L"", "", true},
        {L"Endo Suite A", "Endo Suite A", true},
        {std::wstring(L"a\0b", 3), std::string("a\0b", 3), true},  // lengths are explicit, NUL included
        {L"caf\u00e9", "caf\xC3\xA9", true},
        {L"\u20ac 5", "\xE2\x82\xAC 5", true},
        {L"\xD83D\xDE00", "\xF0\x9F\x98\x80", true},  // U+1F600 as its surrogate pair
        {L"\xD800\xDC80", "\xF0\x90\x82\x80", true},  // a pair, though its low half looks like a kept byte
        {L"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF", true},  // U+10FFFF, the last code point
        {L"a\xD800z", "a\xEF\xBF\xBDz", false},       // a lone surrogate becomes U+FFFD
        {L"\xDC7F", "\xEF\xBF\xBD", false},          // a low one just below the kept bytes too
        {L"\xDD00", "\xEF\xBF\xBD", false},          // and just above them
        {L"z\xDBFF", "z\xEF\xBF\xBD", false},        // a high one at the end
    };
    for (const Utf8Case& c : cases) {
        EXPECT_EQ(WideToUtf8(c.wide), c.utf8);
        if (c.roundTrips) {
            EXPECT_EQ(Utf8ToWide(c.utf8), c.wide);
            EXPECT_EQ(Utf8ToWideKeepingBytes(c.utf8), c.wide);
        }
    }
    EXPECT_EQ(Utf8ToWide("a\xEF\xBF\xBDz"), L"a\xFFFDz");
    EXPECT_EQ(Utf8ToWide("Z\xFCrich"), L"Z\xFFFDrich");  // Latin-1 bytes are no UTF-8
    EXPECT_EQ(Utf8ToWide("Z\xC3\xBCrich"), L"Z\u00fcrich");
}

// A service's bytes that are no UTF-8 are kept, each as U+DC00 + the byte, and come back as they
// were; shown, each is U+FFFD. Valid sequences around them stay characters.
TEST(Utf8, BytesThatAreNoUtf8AreKeptAndShownAsReplacements) {
    struct Case {
        const char* what;
        std::string bytes;
        std::wstring kept;
        std::wstring shown;
    } const cases[] = {
        {"valid", "caf\xC3\xA9 \xF0\x9F\x98\x80", L"caf\u00E9 \xD83D\xDE00", L"caf\u00E9 \xD83D\xDE00"},
        {"U+FFFD itself", "\xEF\xBF\xBD", L"\xFFFD", L"\xFFFD"},
        {"Latin-1", "Z\xFCrich", L"Z\xDCFCrich", L"Z\xFFFDrich"},
        {"0xFF and 0xFE", "Endo \xFF\xFE", L"Endo \xDCFF\xDCFE", L"Endo \xFFFD\xFFFD"},
        {"a continuation byte alone", "\x80", L"\xDC80", L"\xFFFD"},
        {"cut short at the end", "a\xE2\x82", L"a\xDCE2\xDC82", L"a\xFFFD\xFFFD"},
        {"cut short before a character", "\xE2\x82\xC3\xA9", L"\xDCE2\xDC82\u00E9", L"\xFFFD\xFFFD\u00E9"},
        {"overlong two bytes", "\xC0\xAF", L"\xDCC0\xDCAF", L"\xFFFD\xFFFD"},
        {"overlong three bytes", "\xE0\x80\xAF", L"\xDCE0\xDC80\xDCAF", L"\xFFFD\xFFFD\xFFFD"},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", L"\xDCF0\xDC8F\xDCBF\xDCBF", std::wstring(4, L'\xFFFD')},
        {"an encoded surrogate", "\xED\xA0\x80", L"\xDCED\xDCA0\xDC80", L"\xFFFD\xFFFD\xFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", L"\xDCF4\xDC90\xDC80\xDC80", std::wstring(4, L'\xFFFD')},
        {"no lead byte at all", "\xF8\x88\x80\x80\x80", L"\xDCF8\xDC88\xDC80\xDC80\xDC80", std::wstring(5, L'\xFFFD')},
        {"a kept byte after a pair", "\xF0\x90\x80\x80\x80", L"\xD800\xDC00\xDC80", L"\xD800\xDC00\xFFFD"},
        {"NUL beside a kept byte", std::string("a\0\xFF", 3), std::wstring(L"a\0\xDCFF", 3),
         std::wstring(L"a\0\xFFFD", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Utf8ToWideKeepingBytes(c.bytes), c.kept);
        EXPECT_EQ(WideToUtf8(c.kept), c.bytes);
        EXPECT_EQ(ShownText(c.kept), c.shown);
        EXPECT_EQ(Utf8ToWide(c.bytes), c.shown);
    }
}

}  // namespace

// The stand-in server in-process, driven by a bare client: endpoints from fixtures, the record,
// HTTP framing and keep-alive, and the faults the client tests rely on.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include <cjson/cJSON.h>

#include "standins/cloud/CendraStandin.h"
#include "tests/cloud_standin/RawHttp.h"

using cendra_standin::Fault;
using cendra_standin::Fields;
using cendra_standin::Request;
using cendra_standin::Server;
using Clock = std::chrono::steady_clock;

namespace {

// Rows with wrong shapes and an id that needs escaping: served byte for byte as parsed.
const char* const kOddFixture = R"({
  "accounts": [
    {"username": "qa user", "password": "p+q&r=%", "reply": {"username": "QA", "velmoraId": "a/b?c d"}},
    {"username": "num", "password": "x", "reply": {"velmoraId": 5}},
    {"username": "null", "password": "x", "reply": null}
  ],
  "organisations": {
    "a/b?c d": {
      "locations": {"location": "not an array", "status": "Active"},
      "endoscopes": [7, {"location": 7, "serial": 12345, "status": "Active"}, {"status": "active"}],
      "testers": [{"first": "Z\u00fcrich", "last": "", "status": "Active"}]
    }
  }
})";

std::string Send(Server& server, const std::string& request, RawReply* reply = nullptr) {
    RawClient client(server.Port());
    EXPECT_TRUE(client.Connected());
    client.Send(request);
    RawReply r = client.Read();
    if (reply) *reply = r;
    return r.body;
}

std::string Post(const std::string& target, const std::string& body, const std::string& extra = "") {
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n" + extra + "\r\n" + body;
}

std::string Multipart(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        body += "--XyZ\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    }
    return body + "--XyZ--\r\n";
}

const std::string kMultipartType = "Content-Type: multipart/form-data; boundary=XyZ\r\n";

std::string JsonField(const std::string& json, const char* key) {
    cJSON* root = cJSON_Parse(json.c_str());
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(root, key);
    std::string value = cJSON_IsString(item) ? item->valuestring : "";
    cJSON_Delete(root);
    return value;
}

}  // namespace

TEST(StandinEndpoints, AnswersFromTheFixture) {
    Server server(cendra_standin::FixtureText("test"));
    Server odd(kOddFixture);
    struct Case {
        Server* server;
        std::string request;
        int status;
        std::string body;  // exact, or "" to check only that the body is a JSON object with "error"
    };
    const Case cases[] = {
        {&server, GetRequest("/v1/auth/login?username=jdoe&password=secret"), 200,
         R"({"username":"John Doe","organizationCode":"ORG-T","velmoraId":"T1001"})"},
        {&server, GetRequest("/v1/auth/login?password=admin&username=admin%40example.com"), 200,
         R"({"username":"Facility Admin","organizationCode":"ORG-T","velmoraId":"T1001"})"},
        {&server, GetRequest("/v1/auth/login?username=admin@example.com&password=admin"), 200,
         R"({"username":"Facility Admin","organizationCode":"ORG-T","velmoraId":"T1001"})"},
        {&server, GetRequest("/v1/auth/login?username=jdoe&password=Secret"), 401, ""},
        {&server, GetRequest("/v1/auth/login?username=jdoe"), 401, ""},
        {&server, GetRequest("/v1/auth/login?username=&password="), 401, ""},
        {&server, GetRequest("/v1/publish/locations/T1001"), 200,
         "[{\"location\":\"Endo Suite "
         "A\",\"status\":\"Active\"},{\"location\":\"Z\xC3\xBCrich\",\"status\":\"Active\"}]"},
        {&server, GetRequest("/v1/publish/facilities/T1001"), 200,
         R"([{"nameFacility":"North Clinic","status":"Active"},{"nameFacility":"South Clinic","status":"Active"}])"},
        {&server, GetRequest("/v1/publish/testers/T2000"), 200, "[]"},
        {&server, GetRequest("/v1/publish/testers/T9999"), 404, ""},
        {&server, GetRequest("/v1/publish/testers/"), 404, ""},
        {&server, GetRequest("/v1/publish/operators/T1001"), 404, ""},
        {&server, GetRequest("/v1/publish/locations/T1001/x"), 404, ""},
        {&server, GetRequest("/v1/auth/logout"), 404, ""},
        {&server, GetRequest("/v1/publish/insert"), 405, ""},
        {&server, Post("/v1/publish/locations/T1001", ""), 405, ""},
        {&server, Post("/v1/publish/insert", Multipart({{"user_type", "user"}, {"submit", "send"}}), kMultipartType),
         200, R"({"status":"stored","id":1,"parts":2})"},
        // Form decoding: "+" is a blank, %2B a plus; the id is percent-decoded but "+" stays.
        {&odd, GetRequest("/v1/auth/login?username=qa+user&password=p%2Bq%26r%3D%25"), 200,
         R"({"username":"QA","velmoraId":"a/b?c d"})"},
        {&odd, GetRequest("/v1/auth/login?username=qa%20user&password=p+q%26r%3D%25"), 401, ""},
        {&odd, GetRequest("/v1/auth/login?username=num&password=x"), 200, R"({"velmoraId":5})"},
        {&odd, GetRequest("/v1/auth/login?username=null&password=x"), 200, "null"},
        {&odd, GetRequest("/v1/publish/locations/a%2Fb%3Fc%20d"), 200,
         R"({"location":"not an array","status":"Active"})"},
        {&odd, GetRequest("/v1/publish/endoscopes/a%2Fb%3Fc%20d"), 200,
         R"([7,{"location":7,"serial":12345,"status":"Active"},{"status":"active"}])"},
        {&odd, GetRequest("/v1/publish/testers/a%2Fb%3Fc%20d"), 200,
         "[{\"first\":\"Z\xC3\xBCrich\",\"last\":\"\",\"status\":\"Active\"}]"},
        {&odd, GetRequest("/v1/publish/facilities/a%2Fb%3Fc%20d"), 200, "[]"},
        {&odd, GetRequest("/v1/publish/facilities/a%2Fb%3Fc+d"), 404, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request.substr(0, c.request.find('\r')));
        RawReply reply;
        std::string body = Send(*c.server, c.request, &reply);
        ASSERT_TRUE(reply.complete);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.Header("Content-Type"), "application/json");
        if (!c.body.empty()) {
            EXPECT_EQ(body, c.body);
        } else {
            EXPECT_NE(JsonField(body, "error"), "") << body;
        }
    }
    EXPECT_EQ(Send(server, Post("/v1/publish/insert", "", kMultipartType)), R"({"status":"stored","id":2,"parts":0})");
}

TEST(StandinEndpoints, BuiltInFixturesParseAndUnknownOnesThrow) {
    for (const char* name : {"test", "demo"}) {
        Server server(cendra_standin::FixtureText(name));
        EXPECT_GE(server.Accounts().size(), 2u) << name;
    }
    EXPECT_THROW(cendra_standin::FixtureText("nope"), std::runtime_error);
    EXPECT_THROW(Server("{\"accounts\": [}"), std::runtime_error);
    EXPECT_THROW(Server("{\"a\":1}x"), std::runtime_error);
    EXPECT_THROW(Server(R"({"accounts": [{"username": "u"}]})"), std::runtime_error);
}

TEST(StandinRecord, HoldsTheRequestAsSentBeforeTheReply) {
    Server server("");
    RawClient client(server.Port());
    const std::string request =
        "GET /v1/auth/login?username=a+b%26c&password=%E2%82%AC&flag&=v HTTP/1.1\r\n"
        "Host: 127.0.0.1\r\nX-Second:  two  \r\nx-second: again\r\nAccept: */*\r\n\r\n";
    ASSERT_TRUE(client.Send(request));
    ASSERT_TRUE(client.Read().complete);
    // The record is complete before the reply: no wait needed once the reply arrived.
    std::vector<Request> record = server.Requests();
    ASSERT_EQ(record.size(), 1u);
    const Request& r = record[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "/v1/auth/login?username=a+b%26c&password=%E2%82%AC&flag&=v");
    EXPECT_EQ(r.path, "/v1/auth/login");
    EXPECT_EQ(r.rawQuery, "username=a+b%26c&password=%E2%82%AC&flag&=v");
    EXPECT_EQ(r.query, (Fields{{"username", "a b&c"}, {"password", "\xE2\x82\xAC"}, {"flag", ""}, {"", "v"}}));
    EXPECT_EQ(r.headers,
              (Fields{{"Host", "127.0.0.1"}, {"X-Second", "two"}, {"x-second", "again"}, {"Accept", "*/*"}}));
    EXPECT_EQ(r.Header("X-SECOND"), "two");
    EXPECT_EQ(r.body, "");
    EXPECT_FALSE(r.cutShort);
    EXPECT_FALSE(r.chunked);

    server.ClearRecord();
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_FALSE(server.WaitForRequests(1, 100));
}

TEST(StandinHttp, KeepsConnectionsAliveAndAnswersPipelinedRequests) {
    Server server(cendra_standin::FixtureText("test"));
    RawClient client(server.Port());
    ASSERT_TRUE(client.Send(GetRequest("/v1/publish/testers/T1001")));
    EXPECT_EQ(client.Read().status, 200);
    ASSERT_TRUE(client.Send(GetRequest("/v1/publish/testers/T9999") + GetRequest("/v1/publish/testers/T2000")));
    EXPECT_EQ(client.Read().status, 404);
    RawReply third = client.Read();
    EXPECT_EQ(third.status, 200);
    EXPECT_EQ(third.body, "[]");
    EXPECT_TRUE(client.SilentFor(300)) << "the server closed an idle keep-alive connection";

    RawClient other(server.Port());
    ASSERT_TRUE(other.Send(GetRequest("/x", "Connection: close\r\n")));
    RawReply last = other.Read();
    EXPECT_EQ(last.status, 404);
    EXPECT_EQ(last.Header("Connection"), "close");
    EXPECT_TRUE(other.ClosedWithin(2000));

    std::vector<Request> record = server.Requests();
    ASSERT_EQ(record.size(), 4u);
    EXPECT_EQ(record[0].connection, record[2].connection);
    EXPECT_NE(record[0].connection, record[3].connection);
}

TEST(StandinHttp, ReadsChunkedAndContinuedBodies) {
    Server server("");
    const std::string body = Multipart({{"Comments", "a\r\n--b"}, {"submit", "send"}});

    // Chunked, with a chunk extension and a trailer field.
    RawClient chunked(server.Port());
    std::string request =
        "POST /v1/publish/insert HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n" + kMultipartType + "\r\n";
    char size[32];
    snprintf(size, sizeof size, "%x;ext=1\r\n", 10);
    request += size + body.substr(0, 10) + "\r\n";
    snprintf(size, sizeof size, "%X\r\n", static_cast<unsigned>(body.size() - 10));
    request += size + body.substr(10) + "\r\n0\r\nX-Trailer: t\r\n\r\n";
    ASSERT_TRUE(chunked.Send(request));
    EXPECT_EQ(chunked.Read().status, 200);

    // Expect: 100-continue: the interim reply comes before any body byte is sent.
    RawClient continued(server.Port());
    ASSERT_TRUE(
        continued.Send("POST /v1/publish/insert HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n" + kMultipartType + "\r\n"));
    RawReply interim = continued.Read(2000);
    EXPECT_TRUE(interim.complete);
    EXPECT_EQ(interim.status, 100);
    ASSERT_TRUE(continued.Send(body));
    RawReply reply = continued.Read();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, R"({"status":"stored","id":2,"parts":2})");

    std::vector<Request> record = server.Requests();
    ASSERT_EQ(record.size(), 2u);
    for (const Request& r : record) {
        EXPECT_EQ(r.body, body);
        ASSERT_EQ(r.parts.size(), 2u);
        EXPECT_EQ(r.parts[0].bytes, "a\r\n--b");
        EXPECT_EQ(r.parts[1].name, "submit");
        EXPECT_FALSE(r.cutShort);
    }
    EXPECT_TRUE(record[0].chunked);
    EXPECT_FALSE(record[1].chunked);
}

TEST(StandinHttp, RecordsABodyTheClientCutShort) {
    Server server("");
    {
        RawClient client(server.Port());
        ASSERT_TRUE(client.Send(Post("/v1/publish/insert", std::string(100, 'b')).substr(0, 80)));
    }
    ASSERT_TRUE(server.WaitForRequests(1, 5000));
    Request r = server.Requests()[0];
    EXPECT_TRUE(r.cutShort);
    EXPECT_GT(r.body.size(), 0u);
    EXPECT_LT(r.body.size(), 100u);
}

TEST(StandinHttp, FailedBindThrowsWithThePort) {
    Server first("");
    try {
        Server second("", first.Port());
        FAIL() << "a second server bound the same port";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(std::to_string(first.Port())), std::string::npos) << e.what();
    }
}

TEST(StandinFaults, FireOnTheirOccurrenceOfAPathPrefix) {
    Server server(cendra_standin::FixtureText("test"));
    server.AddFault(Fault::Status("/v1/publish/insert", 500, "oops", 2));
    server.AddFault(Fault::Status("/v1/publish/", 201, "{}", 0));        // every other publish path
    server.AddFault(Fault::Status("/v1/publish/insert", 404, "{}", 2));  // never: the first added wins
    std::vector<std::pair<std::string, int>> expected = {
        {Post("/v1/publish/insert", ""), 201},
        {Post("/v1/publish/insert", ""), 500},
        {GetRequest("/v1/publish/testers/T1001"), 201},
        {Post("/v1/publish/insert", ""), 201},
        {GetRequest("/v1/auth/login?username=jdoe&password=secret"), 200},
    };
    for (const auto& [request, status] : expected) {
        RawReply reply;
        Send(server, request, &reply);
        EXPECT_EQ(reply.status, status) << request;
    }
    server.ClearFaults();
    RawReply reply;
    Send(server, Post("/v1/publish/insert", ""), &reply);
    EXPECT_EQ(reply.status, 200);
}

TEST(StandinFaults, ShapeTheReply) {
    Server server("");
    const std::string json = R"({"a":[1,2,3],"b":"chunked body"})";
    server.AddFault(Fault::Status("/status", 404, "not json", 1));
    server.AddFault(Fault::RedirectTo("/away", "/elsewhere?x=1"));
    server.AddFault(Fault::RedirectTo("/loop", "", 0, 301));
    server.AddFault(Fault::Chunks("/chunks", json, 5));
    server.AddFault(Fault::Chunks("/onebyte", "ab", 9));
    server.AddFault(Fault::Large("/large", 3));
    server.AddFault(Fault::Slow("/slow", "[1,2]", 60));
    server.AddFault(Fault::Slow("/bursts", "[1,2,3,4]", 500, 1, 5));

    RawReply r;
    EXPECT_EQ(Send(server, GetRequest("/status"), &r), "not json");
    EXPECT_EQ(r.status, 404);

    Send(server, GetRequest("/away"), &r);
    EXPECT_EQ(r.status, 302);
    EXPECT_EQ(r.Header("Location"), "/elsewhere?x=1");
    for (int i = 0; i < 3; ++i) {
        Send(server, GetRequest("/loop?n=1"), &r);
        EXPECT_EQ(r.status, 301);
        EXPECT_EQ(r.Header("Location"), "/loop?n=1");
    }

    EXPECT_EQ(Send(server, GetRequest("/chunks"), &r), json);
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.chunks, 5);
    EXPECT_EQ(Send(server, GetRequest("/onebyte"), &r), "ab");
    EXPECT_EQ(r.chunks, 2);

    std::string large = Send(server, GetRequest("/large"), &r);
    ASSERT_EQ(large.size(), 3u * 1024 * 1024);
    EXPECT_EQ(large.front(), '"');
    EXPECT_EQ(large.back(), '"');
    EXPECT_EQ(large.find_first_not_of('x', 1), large.size() - 1);

    auto start = Clock::now();
    EXPECT_EQ(Send(server, GetRequest("/slow"), &r), "[1,2]");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(5 * 50));
    // Five bytes a step: two pauses, not nine.
    start = Clock::now();
    EXPECT_EQ(Send(server, GetRequest("/bursts"), &r), "[1,2,3,4]");
    const auto bursts = Clock::now() - start;
    EXPECT_GE(bursts, std::chrono::milliseconds(2 * 500));
    EXPECT_LT(bursts, std::chrono::milliseconds(4000));
}

// As over a slow link: the body is not all read long before the rate allows, and arrives whole.
TEST(StandinHttp, ReadsRequestsNoFasterThanTheReadRate) {
    Server server("");
    server.SetRequestReadRate(64 * 1024);
    std::string body(256 * 1024, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 251);
    RawClient client(server.Port());
    const auto start = Clock::now();
    ASSERT_TRUE(client.Send(Post("/v1/publish/insert", body)));
    EXPECT_EQ(client.Read(30000).status, 200);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(3500));  // 4 s at the rate
    ASSERT_EQ(server.RequestCount(), 1u);
    const Request r = server.Requests()[0];
    EXPECT_FALSE(r.cutShort);
    EXPECT_TRUE(r.body == body);
}

TEST(StandinFaults, HoldOrDropTheConnection) {
    auto server = std::make_unique<Server>("");
    server->AddFault(Fault::CloseAfter("/v1/publish/insert", 100));
    server->AddFault(Fault::Hang("/hang"));
    server->AddFault(Fault::Slow("/trickle", std::string(1000, ' '), 100));

    RawClient dropped(server->Port());
    const std::string request = Post("/v1/publish/insert", std::string(1000, 'z'), "Expect: 100-continue\r\n");
    const size_t head = request.find("\r\n\r\n") + 4;
    ASSERT_TRUE(dropped.Send(request.substr(0, head)));
    EXPECT_EQ(dropped.Read().status, 100);
    ASSERT_TRUE(dropped.Send(request.substr(head)));
    EXPECT_TRUE(dropped.ClosedWithin(3000));
    ASSERT_TRUE(server->WaitForRequests(1, 1000));
    Request cut = server->Requests()[0];
    EXPECT_TRUE(cut.cutShort);
    EXPECT_EQ(cut.body, std::string(100, 'z'));

    RawClient held(server->Port());
    ASSERT_TRUE(held.Send(GetRequest("/hang")));
    ASSERT_TRUE(server->WaitForRequests(2, 2000));
    EXPECT_TRUE(held.SilentFor(500));

    RawClient trickled(server->Port());
    ASSERT_TRUE(trickled.Send(GetRequest("/trickle")));
    ASSERT_TRUE(server->WaitForRequests(3, 2000));

    // Stopping ends both promptly.
    auto start = Clock::now();
    server.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(held.ClosedWithin(2000));
    EXPECT_FALSE(trickled.Read(2000).complete);
}

// Replies without end: as fast as the client takes them, or a burst every period; no length, and
// no end until the client closes or the server stops.
TEST(StandinFaults, SendRepliesWithoutEnd) {
    auto server = std::make_unique<Server>("");
    server->AddFault(Fault::Endless("/endless"));
    server->AddFault(Fault::Bursts("/bursts", 1000, 300, 1, 500));
    auto expectHead = [](const RawReply& head, int status) {
        EXPECT_EQ(head.status, status);
        EXPECT_EQ(head.Header("Content-Length"), "");
        EXPECT_EQ(head.Header("Transfer-Encoding"), "");
        EXPECT_EQ(head.Header("Connection"), "close");
    };

    RawClient endless(server->Port());
    ASSERT_TRUE(endless.Send(GetRequest("/endless")));
    expectHead(endless.Read(), 200);
    std::string body;
    ASSERT_TRUE(endless.ReadBytes(16u << 20, body));
    EXPECT_EQ(body.find_first_not_of('x'), std::string::npos);

    RawClient bursts(server->Port());
    const auto start = Clock::now();
    ASSERT_TRUE(bursts.Send(GetRequest("/bursts")));
    expectHead(bursts.Read(), 500);
    // The third burst comes two periods after the first, and more follow.
    body.clear();
    ASSERT_TRUE(bursts.ReadBytes(3000, body));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2 * 300));
    ASSERT_TRUE(bursts.ReadBytes(1000, body));
    EXPECT_EQ(body.find_first_not_of('x'), std::string::npos);

    // Stopping ends both.
    server.reset();
    for (RawClient* client : {&endless, &bursts}) {
        std::string rest;
        while (client->ReadBytes(64 * 1024, rest, 2000)) rest.clear();  // what was under way
        EXPECT_TRUE(client->ClosedWithin(0));
    }
}

TEST(StandinThreads, AnswersWhileATestThreadWaits) {
    Server server(cendra_standin::FixtureText("test"));
    std::vector<std::thread> clients;
    for (int i = 0; i < 8; ++i) {
        clients.emplace_back([&server] {
            RawClient client(server.Port());
            client.Send(GetRequest("/v1/publish/endoscopes/T1001"));
            client.Read();
        });
    }
    EXPECT_TRUE(server.WaitForRequests(8, 10000));
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(server.RequestCount(), 8u);
}

// Stand-in for the cloud QA service: an HTTP/1.1 server on 127.0.0.1 that answers the program's
// login, list and upload requests from a JSON fixture, records every request, and misbehaves on
// request (faults). Tests run it in-process; cendra_standin.exe runs it for the demo.
//
// Threads: the server has an accept thread and one thread per connection. Every public call is
// thread-safe, so a test thread may call the client while the server answers. The record of a
// request is complete (body read, parts parsed) before any byte of its reply is sent.
//
// Endpoints (anything else: 404 with a JSON body):
//   GET  /v1/auth/login?username=U&password=P   query form-decoded (%XX, "+" as space); the
//        account's "reply" with 200; no such user or wrong password: 401 {"error": ...}
//   GET  /v1/publish/{locations,endoscopes,facilities,testers}/ID   ID percent-decoded; the
//        organisation's list for that key as written (any JSON value) with 200; unknown ID: 404
//   POST /v1/publish/insert   200 {"status":"stored","id":n,"parts":k}  (n counts inserts from 1)
//
// Fixture (JSON text):
//   { "accounts": [ {"username": "jdoe", "password": "pw", "reply": <any JSON>}, ... ],
//     "organisations": { "<id>": { "locations": <JSON>, "endoscopes": <JSON>,
//                                  "facilities": <JSON>, "testers": <JSON> }, ... } }
//   A missing list key under a known id is served as []. Rows are served exactly as the fixture
//   holds them (inactive rows, wrong types, an object where an array belongs).
//
// fixtures/test.json, FixtureText("test"), for the client tests:
//   jdoe / secret             -> {"username":"John Doe","organizationCode":"ORG-T","velmoraId":"T1001"}
//   admin@example.com / admin -> {"username":"Facility Admin","organizationCode":"ORG-T","velmoraId":"T1001"}
//   empty / empty             -> {"username":"Nobody","organizationCode":"ORG-E","velmoraId":"T2000"}
//   T1001: locations "Endo Suite A", "Zürich" (both Active, in that order);
//          endoscopes (location, endoscope, serial, model), all Active:
//            Endo Suite A: (Flexible, S1, M1), (Rigid, S2, M1);  Zürich: (Flexible, S3, M2)
//          facilities "North Clinic", "South Clinic"; testers Ann Lee, Bo Chen (all Active)
//   T2000: all four lists []
// fixtures/demo.json, FixtureText("demo"): the demo run's organisation; its accounts are printed
//   by cendra_standin.exe at start.
#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace cendra_standin {

using Fields = std::vector<std::pair<std::string, std::string>>;  // in arrival order, as sent

// One part of a multipart/form-data body.
struct Part {
    Fields headers;            // names and values as sent (value without leading blanks)
    std::string name;          // Content-Disposition name, unquoted
    std::string filename;      // Content-Disposition filename, unquoted
    bool hasFilename = false;  // a filename parameter was present (even an empty one)
    std::string contentType;   // the part's Content-Type header, "" when it has none
    std::string bytes;         // the content, exactly
};

// One request as received.
struct Request {
    int connection = 0;       // 1-based number of the TCP connection it came on (keep-alive: same number)
    std::string method;       // "GET", "POST", ...
    std::string target;       // request-target as sent: path and query, undecoded
    std::string path;         // target up to "?", undecoded
    std::string rawQuery;     // after "?", undecoded ("" when none)
    Fields query;             // rawQuery split at "&" and "=", form-decoded
    Fields headers;           // names and values as sent
    std::string body;         // Content-Length or de-chunked body (as far as it came)
    bool chunked = false;     // the body came with Transfer-Encoding: chunked
    bool cutShort = false;    // the body ended early: the client closed, or a CloseAfterBodyBytes fault
    std::vector<Part> parts;  // multipart/form-data bodies only, in order

    // First header / query value / part with this name (headers: ASCII case-insensitive); "" / null if none.
    std::string Header(const std::string& name) const;
    std::string QueryValue(const std::string& name) const;
    const Part* FindPart(const std::string& name) const;
};

// A misbehaviour for one request (or all) whose path starts with pathPrefix. Every fault counts the
// matching requests that arrive after it was added; it fires on the occurrence-th one (1 = the
// first), or on every one when occurrence is 0. When several fire, the first added wins.
struct Fault {
    enum Kind {
        Reply,                // status and body (Content-Type contentType, Content-Length; with
                              // 204 and 304 neither, and no body)
        Redirect,             // status (default 302) with Location: location, or the request's own
                              // target when location is empty (a loop when occurrence is 0)
        Chunked,              // status and body sent chunked in `count` chunks (at least 1)
        NoAnswer,             // read the request, then send nothing and hold the connection until
                              // the client closes it or the server stops
        SlowBody,             // status, headers with the full Content-Length, then the body `count`
                              // bytes at a time (at least 1), each delayMs after the one before
                              // (ends early when the client closes or the server stops)
        LargeBody,            // status 200 and a body of `count` MiB: one JSON string "xxx...x"
        CloseAfterBodyBytes,  // read `count` bytes of the request body (after 100 Continue if
                              // asked), record it cut short, close the connection without a reply;
                              // count 0 on a GET: the connection closes with no answer at all
        EndlessBody,          // status, headers with no length and Connection: close, then a body
                              // of 'x' bytes as fast as the client takes them, without end (until
                              // the client closes or the server stops)
        BurstBody,            // as EndlessBody, but `count` bytes at once (at least 1), then the
                              // next `count` delayMs later, and so on without end
    };
    std::string pathPrefix;
    int occurrence = 1;
    Kind kind = Reply;
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    int count = 0;
    std::string location;
    int delayMs = 0;

    static Fault Status(std::string prefix, int status, std::string body, int occurrence = 1);
    static Fault RedirectTo(std::string prefix, std::string location, int occurrence = 1, int status = 302);
    static Fault Chunks(std::string prefix, std::string body, int chunks, int occurrence = 1);
    static Fault Hang(std::string prefix, int occurrence = 1);
    static Fault Slow(std::string prefix, std::string body, int delayMs, int occurrence = 1, int stepBytes = 1);
    static Fault Large(std::string prefix, int mebibytes, int occurrence = 1);
    static Fault CloseAfter(std::string prefix, int bodyBytes, int occurrence = 1);
    static Fault Endless(std::string prefix, int occurrence = 1, int status = 200);
    static Fault Bursts(std::string prefix, int burstBytes, int periodMs, int occurrence = 1, int status = 200);
};

// The fixture files built into the library: name "test" or "demo" (fixtures/<name>.json).
// Throws std::runtime_error for another name.
std::string FixtureText(const std::string& name);

// Splits a multipart body by the boundary named in the Content-Type value. Parts end at
// CR LF "--" boundary; "--" or CR LF inside a part's bytes stay bytes. Malformed input gives the
// parts complete so far.
std::vector<Part> ParseMultipart(const std::string& contentType, const std::string& body);

class Server {
public:
    // fixtureJson: the fixture's text ("" for none: every path then answers 404 unless a fault
    // applies). port 0 lets the system choose. Listens on 127.0.0.1 before returning; throws
    // std::runtime_error (with the port and the socket error) when the fixture does not parse or
    // the port cannot be bound. logPath: when set, every request is appended there as text.
    explicit Server(const std::string& fixtureJson, unsigned short port = 0, const std::string& logPath = "");
    ~Server();  // stops: closes every connection, ends held and slow replies, joins the threads
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    unsigned short Port() const;
    std::string BaseUrl() const;  // "http://127.0.0.1:<port>", no trailing slash

    void AddFault(const Fault& fault);
    void ClearFaults();
    // Reads requests (line, headers and body) at no more than this many bytes per second, as over
    // a slow link, on connections accepted from now on; 0, the default, as fast as they come.
    void SetRequestReadRate(size_t bytesPerSecond);

    std::vector<Request> Requests() const;  // copies of the record, in arrival order
    size_t RequestCount() const;
    // True once at least n requests are recorded; false after timeoutMs without.
    bool WaitForRequests(size_t n, int timeoutMs) const;
    void ClearRecord();

    // Accounts of the fixture as (username, password), in fixture order.
    Fields Accounts() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace cendra_standin

// The one connection to the cloud QA service: synchronous plain-HTTP requests on the UI thread
// (the windows do not repaint while one runs), replies parsed with cJSON. A new handle and a new
// connection per request; nothing is shared between requests, so no lock. Every transport failure
// writes one line "curl_easy_perform() failed: <library text>\n" to stderr; nothing else reports.
#pragma once
#include "cloud/CendraSession.h"
#include "cloud/Upload.h"
#include <cjson/cJSON.h>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Set by the build (CMake cache LUMETRA_CENDRA_HOST); nothing at run time changes it.
#ifndef LUMETRA_CENDRA_HOST
#define LUMETRA_CENDRA_HOST "127.0.0.1"
#endif
// The endpoint the login dialog connects to: scheme, host and port, no trailing slash.
inline const char kCendraDefaultEndpoint[] = "http://" LUMETRA_CENDRA_HOST ":8080";

struct JsonDeleter {
    void operator()(cJSON* tree) const { cJSON_Delete(tree); }
};
using JsonTree = std::unique_ptr<cJSON, JsonDeleter>;

// Transfer limits. The program keeps these values; tests shorten them so that their waits stay short.
struct CendraTimeouts {
    long connectMs = 10000;   // every request
    long getTotalMs = 30000;  // a whole GET, redirects included
    // An upload fails after uploadLowSpeedSeconds below uploadFloorBytesPerSecond (sent and
    // received together, as the library measures over its last few seconds): a service that has
    // stalled and one whose reply trickles fail alike. The floor is far below the slowest link an
    // upload has to work on (the largest still, 6.2 MB, over 128 kB/s).
    // The same window bounds the reply: once the request has been sent in full, the reply has to
    // be complete within uploadLowSpeedSeconds, however fast it comes (a reply that never ends,
    // one that keeps above the floor in bursts).
    long uploadLowSpeedSeconds = 60;
    long uploadFloorBytesPerSecond = 8 * 1024;
};
extern CendraTimeouts g_cendraTimeouts;

// The longest a whole upload of requestBytes may last: the connect limit, the request at the
// floor speed, and one low-speed window for the reply. Bounds a request that the service reads
// above the floor only in bursts. At most LONG_MAX.
long UploadTotalLimitMs(unsigned long long requestBytes, const CendraTimeouts& limits);

// Of an upload's reply, the program writes the first kReplyEchoBytes to stdout; the rest is read
// and dropped, and one line then tells how many bytes were left out (ReplyLeftOutLine), on a line
// of its own.
constexpr unsigned long long kReplyEchoBytes = 64 * 1024;
// "[<bytes> more bytes of the reply left out]\n" ("byte" for 1)
std::string ReplyLeftOutLine(unsigned long long bytes);

// What became of one upload.
enum class UploadOutcome {
    Delivered,  // the transfer completed with a 2xx status
    Failed,     // not taken, for any reason but a time-out (unreadable image, transport, status)
    TimedOut,   // the connect, low-speed, reply or total limit expired: the service is not answering
};

// A GET body larger than this fails as a write error.
constexpr std::size_t kMaxResponseBytes = 32u * 1024 * 1024;

// libcurl write callback of every GET: appends to the std::string that `buffer` points at and
// returns size * count, or 0 (the transfer fails) past kMaxResponseBytes or when memory runs out.
std::size_t AppendResponse(char* data, std::size_t size, std::size_t count, void* buffer);

// A URL value (query value or path segment): every byte but A-Z a-z 0-9 - . _ ~ @ as %XX.
std::string EncodeUrlValue(const std::string& value);
// "endoscope" as a type: ASCII capitals lowered, then a leading a-z raised; other bytes unchanged.
std::string ShapeEndoscopeType(std::string type);

class CendraClient {
public:
    explicit CendraClient(std::string baseUrl);
    CendraClient(const CendraClient&) = delete;
    CendraClient& operator=(const CendraClient&) = delete;

    // The tree of a reply with status 200 (after followed redirects, at most 30) whose whole
    // body is one JSON text; otherwise none. Uses nothing of the client.
    static JsonTree GetJson(std::string url);

    bool IsLoggedIn() const { return session->loggedIn; }

    // Empty name or password: nothing is sent. Otherwise the login request; when its reply is an
    // object with a string "velmoraId" the session is filled and logged in, however the list
    // requests fare. A failed list request leaves its own list empty and the rest still run, but
    // a time-out ends the sequence: later requests are not sent, so a stalled service holds the UI
    // thread once rather than once per request.
    void Login(std::string name, std::string password);
    // Parts of Login: locations (each with its endoscopes), facilities, testers.
    void FetchLists();
    std::vector<EndoscopeRecord> FetchEndoscopes(std::string locationName);

    // One multipart POST of the image and its details to baseUrl + "/v1/publish/insert", the
    // library's trace on stderr, the reply body on stdout (at most kReplyEchoBytes of it).
    // Delivered only when the transfer completed with a 2xx status; redirects are not followed.
    // An unreadable image sends nothing. A time-out is told apart so that a batch can stop
    // waiting on a service that has stalled, moves too slowly to be working, or does not end its
    // reply (CendraTimeouts); it writes the library's time-out text in the error line.
    UploadOutcome Upload(UploadRecord record);

    std::string baseUrl;  // scheme, host and port, no trailing slash
    const std::unique_ptr<CendraSession> session;

private:
    // GET within the login sequence: none without a request once one of them timed out.
    JsonTree SequenceGet(const std::string& url);

    bool m_sequenceCut = false;
};

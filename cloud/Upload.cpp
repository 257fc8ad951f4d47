#include "cloud/CendraClient.h"
#include "cloud/Upload.h"
#include <curl/curl.h>
#include <windows.h>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <string>

namespace {

// The reply body goes to stdout, its first kReplyEchoBytes only, and is always taken: a GUI
// process may have no stdout, and the library's own writer would then fail an upload the service
// has already accepted. The rest is counted and dropped, never kept.
struct ReplyEcho {
    unsigned long long bytes = 0;  // of the reply so far
    bool endsLine = true;          // the last byte written was a line end (or none was written)
};

size_t EchoReply(char* data, size_t size, size_t count, void* echo) {
    ReplyEcho& e = *static_cast<ReplyEcho*>(echo);
    const size_t bytes = size * count;  // the library hands at most CURL_MAX_WRITE_SIZE
    if (e.bytes < kReplyEchoBytes && bytes > 0) {
        const size_t shown = static_cast<size_t>(std::min<unsigned long long>(bytes, kReplyEchoBytes - e.bytes));
        std::fwrite(data, 1, shown, stdout);
        e.endsLine = data[shown - 1] == '\n';
    }
    e.bytes += bytes;
    return bytes;
}

// After the transfer: the line that tells what the echo left out, when it left out anything.
void EndEcho(const ReplyEcho& e) {
    if (e.bytes <= kReplyEchoBytes) return;
    std::fputs(((e.endsLine ? "" : "\n") + ReplyLeftOutLine(e.bytes - kReplyEchoBytes)).c_str(), stdout);
}

// The reply window (CendraTimeouts): from the moment the library has sent the whole request, the
// reply has that long to end. Checked by the progress callback, which the library calls often
// while data moves and about once a second when none does.
struct ReplyWindow {
    long windowMs = 0;
    bool requestSent = false;
    std::chrono::steady_clock::time_point sentAt;  // when the request was sent in full
    bool expired = false;
};

int WatchReply(void* clock, curl_off_t, curl_off_t, curl_off_t requestTotal, curl_off_t requestSent) {
    ReplyWindow& w = *static_cast<ReplyWindow*>(clock);
    const auto now = std::chrono::steady_clock::now();
    if (!w.requestSent) {
        // The size is known for every request this client makes (a form of files and texts);
        // until the library knows it, it passes 0.
        if (requestTotal <= 0 || requestSent < requestTotal) return 0;
        w.requestSent = true;
        w.sentAt = now;
        return 0;
    }
    if (now - w.sentAt < std::chrono::milliseconds(w.windowMs)) return 0;
    w.expired = true;
    std::fprintf(stderr, "* The reply did not end within %ld ms after the request was sent\n", w.windowMs);
    return 1;  // the transfer ends with CURLE_ABORTED_BY_CALLBACK
}

// The last path component; the library's own choice would go through the C runtime's basename,
// which reads the bytes in the ANSI code page.
std::wstring LastComponent(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The handle and its form; the handle is cleaned up first, then the form is freed.
struct Request {
    CURL* handle = curl_easy_init();
    curl_mime* form = handle ? curl_mime_init(handle) : nullptr;
    Request() = default;
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;
    ~Request() {
        if (handle) curl_easy_cleanup(handle);
        curl_mime_free(form);
    }
};

void AddText(curl_mime* mime, const char* name, const std::string& value) {
    curl_mimepart* part = curl_mime_addpart(mime);
    curl_mime_name(part, name);
    curl_mime_data(part, value.c_str(), CURL_ZERO_TERMINATED);
}

// Bytes of the file at path; 0 when it cannot be asked (the transfer then fails on reading it).
unsigned long long FileBytes(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

std::string ReplyLeftOutLine(unsigned long long bytes) {
    return "[" + std::to_string(bytes) + (bytes == 1 ? " more byte" : " more bytes") +
           " of the reply left out]\n";
}

long UploadTotalLimitMs(unsigned long long requestBytes, const CendraTimeouts& limits) {
    constexpr unsigned long long kMax = LONG_MAX;
    const unsigned long long floor = std::max(limits.uploadFloorBytesPerSecond, 1L);
    const unsigned long long fixedMs = static_cast<unsigned long long>(std::max(limits.connectMs, 0L)) +
                                       static_cast<unsigned long long>(std::max(limits.uploadLowSpeedSeconds, 0L)) * 1000;
    // Divided before it is multiplied, so that no size can overflow.
    const unsigned long long atFloorMs = requestBytes / floor * 1000 + requestBytes % floor * 1000 / floor;
    if (fixedMs >= kMax || atFloorMs >= kMax - fixedMs) return LONG_MAX;
    return static_cast<long>(fixedMs + atFloorMs);
}

UploadOutcome CendraClient::Upload(UploadRecord record) {
    Request request;
    if (!request.handle || !request.form) return UploadOutcome::Failed;
    curl_mime* form = request.form;
    const ImageMetadata& m = record.metadata;

    AddText(form, "user_type", session->isAdmin ? "admin" : "user");
    curl_mimepart* image = curl_mime_addpart(form);
    curl_mime_name(image, "Image");
    const CURLcode readable = curl_mime_filedata(image, WideToUtf8(record.path).c_str());
    if (readable != CURLE_OK) {
        std::fprintf(stderr, "curl_easy_perform() failed: %s\n", curl_easy_strerror(readable));
        return UploadOutcome::Failed;
    }
    curl_mime_filename(image, WideToUtf8(LastComponent(record.path)).c_str());
    AddText(form, "FName", WideToUtf8(m.facility));
    AddText(form, "Location", WideToUtf8(m.location));
    AddText(form, "Test_Date", WideToUtf8(m.testDate));
    AddText(form, "Test_Time", WideToUtf8(m.testTime));
    AddText(form, "Operator", WideToUtf8(m.operatorName));
    AddText(form, "Serial", WideToUtf8(m.serial));
    AddText(form, "Model", WideToUtf8(m.model));
    AddText(form, "Endoscope", WideToUtf8(m.endoscopeType));
    AddText(form, "Result", WideToUtf8(m.testResult));
    AddText(form, "Recommended_Action", WideToUtf8(m.recommendedActions));
    AddText(form, "Comments", WideToUtf8(m.comments));
    AddText(form, "Velmora_id", session->id);
    AddText(form, "username", session->loginName);
    AddText(form, "user_identifier", session->userIdentifier);
    AddText(form, "submit", "send");

    const std::string url = baseUrl + "/v1/publish/" + "insert";
    curl_easy_setopt(request.handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(request.handle, CURLOPT_POST, 1L);
    curl_easy_setopt(request.handle, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(request.handle, CURLOPT_MIMEPOST, form);
    ReplyEcho echo;
    curl_easy_setopt(request.handle, CURLOPT_WRITEFUNCTION, EchoReply);
    curl_easy_setopt(request.handle, CURLOPT_WRITEDATA, &echo);
    // A large image on a slow line may take long; a service that stalls or trickles fails after
    // the low-speed window, a reply that goes on after the whole request was sent fails after the
    // same window, and the total limit ends a request read above the floor only in bursts.
    const CendraTimeouts& limits = g_cendraTimeouts;
    curl_easy_setopt(request.handle, CURLOPT_CONNECTTIMEOUT_MS, limits.connectMs);
    curl_easy_setopt(request.handle, CURLOPT_LOW_SPEED_LIMIT, limits.uploadFloorBytesPerSecond);
    curl_easy_setopt(request.handle, CURLOPT_LOW_SPEED_TIME, limits.uploadLowSpeedSeconds);
    curl_easy_setopt(request.handle, CURLOPT_TIMEOUT_MS, UploadTotalLimitMs(FileBytes(record.path), limits));
    ReplyWindow window;
    const long windowSeconds = std::max(limits.uploadLowSpeedSeconds, 0L);
    window.windowMs = windowSeconds > LONG_MAX / 1000 ? LONG_MAX : windowSeconds * 1000;
    curl_easy_setopt(request.handle, CURLOPT_XFERINFOFUNCTION, WatchReply);
    curl_easy_setopt(request.handle, CURLOPT_XFERINFODATA, &window);
    curl_easy_setopt(request.handle, CURLOPT_NOPROGRESS, 0L);
    CURLcode result = curl_easy_perform(request.handle);
    EndEcho(echo);
    // The reply window is a time-out like the library's own.
    if (result == CURLE_ABORTED_BY_CALLBACK && window.expired) result = CURLE_OPERATION_TIMEDOUT;
    if (result != CURLE_OK) {
        std::fprintf(stderr, "curl_easy_perform() failed: %s\n", curl_easy_strerror(result));
        // The connect, low-speed, reply and total limits all give this code.
        return result == CURLE_OPERATION_TIMEDOUT ? UploadOutcome::TimedOut : UploadOutcome::Failed;
    }
    long status = 0;
    curl_easy_getinfo(request.handle, CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status < 300 ? UploadOutcome::Delivered : UploadOutcome::Failed;
}

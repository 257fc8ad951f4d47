// The client against the stand-in, side by side with bare libcurl doing the same transfers: a
// large login (N + 4 GETs with parsing) and image uploads. Prints figures; asserts nothing.
#include <curl/curl.h>
#include "bench/support/BenchSupport.h"
#include "cloud/CendraClient.h"
#include "standins/cloud/CendraStandin.h"
#include "tests/cloud/CloudTestSupport.h"
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kLocations = 20;
constexpr int kEndoscopeRows = 2000;
constexpr int kTesters = 200;
constexpr int kRuns = 7;
constexpr int kUploadRuns = 21;

using bench::Median;
using bench::Milliseconds;

template <typename F>
double MedianMs(F&& work) {
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        const double start = Milliseconds();
        work();
        times.push_back(Milliseconds() - start);
    }
    return Median(times);
}

// stdout and stderr into NUL while measuring: the upload's trace and reply would otherwise
// measure the console.
class Silence {
public:
    Silence() {
        std::fflush(stdout);
        std::fflush(stderr);
        m_out = _dup(1);
        m_err = _dup(2);
        const int nul = _open("NUL", _O_WRONLY);
        _dup2(nul, 1);
        _dup2(nul, 2);
        _close(nul);
    }
    ~Silence() {
        std::fflush(stdout);
        std::fflush(stderr);
        _dup2(m_out, 1);
        _dup2(m_err, 2);
        _close(m_out);
        _close(m_err);
    }

private:
    int m_out, m_err;
};

std::string Fixture() {
    std::string locations, endoscopes, testers, facilities;
    for (int i = 0; i < kLocations; ++i) {
        locations += std::string(i ? "," : "") + R"({"location":"Location )" + std::to_string(i) + R"(","status":"Active"})";
    }
    const char* types[] = {"FLEXIBLE", "rigid", "Colonoscope", "gastroscope", "BRONCHOSCOPE"};
    for (int i = 0; i < kEndoscopeRows; ++i) {
        endoscopes += std::string(i ? "," : "") + R"({"location":"Location )" + std::to_string(i % kLocations) +
                      R"(","endoscope":")" + types[i % 5] + R"(","serial":"SN-)" + std::to_string(100000 + i) +
                      R"(","model":"Model )" + std::to_string(i % 37) + R"(","status":")" +
                      (i % 10 == 9 ? "Inactive" : "Active") + R"("})";
    }
    for (int i = 0; i < kTesters; ++i) {
        testers += std::string(i ? "," : "") + R"({"first":"First)" + std::to_string(i) + R"(","last":"Last)" +
                   std::to_string(i) + R"(","status":"Active"})";
    }
    for (int i = 0; i < 10; ++i) {
        facilities += std::string(i ? "," : "") + R"({"nameFacility":"Facility )" + std::to_string(i) + R"(","status":"Active"})";
    }
    return R"({"accounts":[{"username":"bench","password":"pw","reply":{"username":"Bench","organizationCode":"B",)"
           R"("velmoraId":"B1"}}],"organisations":{"B1":{"locations":[)" + locations + "],\"endoscopes\":[" +
           endoscopes + "],\"facilities\":[" + facilities + "],\"testers\":[" + testers + "]}}}";
}

size_t Collect(char* data, size_t size, size_t count, void* buffer) {
    static_cast<std::string*>(buffer)->append(data, size * count);
    return size * count;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// A GET per URL with a fresh handle and connection, each body parsed; returns the body bytes.
size_t BareLogin(const std::vector<std::string>& urls) {
    size_t bytes = 0;
    for (const std::string& url : urls) {
        std::string body;
        CURL* handle = curl_easy_init();
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
        curl_easy_perform(handle);
        curl_easy_cleanup(handle);
        cJSON_Delete(cJSON_Parse(body.c_str()));
        bytes += body.size();
    }
    return bytes;
}

bool BarePost(const std::string& url, const std::string& path) {
    CURL* handle = curl_easy_init();
    curl_mime* form = curl_mime_init(handle);
    curl_mimepart* part = curl_mime_addpart(form);
    curl_mime_name(part, "Image");
    curl_mime_filedata(part, path.c_str());
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_MIMEPOST, form);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Discard);
    const bool ok = curl_easy_perform(handle) == CURLE_OK;
    curl_easy_cleanup(handle);
    curl_mime_free(form);
    return ok;
}

}  // namespace

int main() {
    cendra_standin::Server server(Fixture());
    const std::string base = server.BaseUrl();

    // Login: the client's whole sequence against the same URLs fetched bare.
    size_t requests = 0, endoscopes = 0;
    const double clientMs = MedianMs([&] {
        server.ClearRecord();
        CendraClient client(base);
        client.Login("bench", "pw");
        requests = server.RequestCount();
        endoscopes = 0;
        for (const auto& entry : client.session->locationsByName) endoscopes += entry.second.endoscopes.size();
    });
    std::vector<std::string> urls = {base + "/v1/auth/login?username=bench&password=pw", base + "/v1/publish/locations/B1"};
    for (int i = 0; i < kLocations; ++i) urls.push_back(base + "/v1/publish/endoscopes/B1");
    urls.push_back(base + "/v1/publish/facilities/B1");
    urls.push_back(base + "/v1/publish/testers/B1");
    size_t bytes = 0;
    const double bareMs = MedianMs([&] {
        server.ClearRecord();
        bytes = BareLogin(urls);
    });
    std::printf("login, %d locations, %d endoscope rows, %d testers: %zu requests, %zu bytes, %zu endoscopes kept\n",
                kLocations, kEndoscopeRows, kTesters, requests, bytes, endoscopes);
    std::printf("  client %.1f ms, bare libcurl + cJSON_Parse %.1f ms, ratio %.2f (goal <= 1.2)\n", clientMs, bareMs,
                clientMs / bareMs);

    TempFolder temp;
    const struct { int width, height; } sizes[] = {{1280, 720}, {1920, 1080}};
    for (const auto& size : sizes) {
        const std::string image = BitmapBytes(size.width, size.height);
        UploadRecord record;
        record.fileName = std::to_wstring(size.width) + L"x" + std::to_wstring(size.height) + L".bmp";
        record.path = temp.path() + L"\\" + record.fileName;
        WriteBytes(record.path, image);
        CendraClient client(base);
        client.session->id = "B1";
        client.session->loginName = "bench";
        bool clientOk = true, bareOk = true;
        std::vector<double> uploads, posts;
        {
            Silence quiet;
            // Alternating, so that a slow spell of the machine hits both sides alike.
            for (int i = 0; i < kUploadRuns; ++i) {
                server.ClearRecord();
                double start = Milliseconds();
                clientOk = client.Upload(record) == UploadOutcome::Delivered && clientOk;
                uploads.push_back(Milliseconds() - start);
                server.ClearRecord();
                start = Milliseconds();
                bareOk = BarePost(base + "/v1/publish/insert", WideToUtf8(record.path)) && bareOk;
                posts.push_back(Milliseconds() - start);
            }
        }
        // Loopback transfers under Wine stall now and then for 0.2 to 2 s on either side alike; the
        // best run shows the transfer itself, the median what an operator would see.
        const double mb = static_cast<double>(image.size()) / 1e6;
        const double uploadMs = Median(uploads), postMs = Median(posts);
        const double uploadBest = *std::min_element(uploads.begin(), uploads.end());
        const double postBest = *std::min_element(posts.begin(), posts.end());
        std::printf("upload %dx%d .bmp (%.2f MB)%s, %d runs each:\n", size.width, size.height, mb,
                    clientOk && bareOk ? "" : " [FAILED]", kUploadRuns);
        std::printf("  median: client %.1f MB/s (%.1f ms), bare one-part POST %.1f MB/s (%.1f ms), ratio %.2f "
                    "(goal >= 0.9)\n", mb / (uploadMs / 1000), uploadMs, mb / (postMs / 1000), postMs, postMs / uploadMs);
        std::printf("  best:   client %.1f MB/s (%.1f ms), bare one-part POST %.1f MB/s (%.1f ms), ratio %.2f\n",
                    mb / (uploadBest / 1000), uploadBest, mb / (postBest / 1000), postBest, postBest / uploadBest);
    }
    return 0;
}

// The stand-in's HTTP/1.1 server. Sockets are non-blocking and every wait is a short select, so
// that stopping never depends on one thread unblocking another's socket call.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <cjson/cJSON.h>

#include "standins/cloud/CendraStandin.h"
#include "standins/cloud/EmbeddedFixtures.h"
#include "standins/cloud/Text.h"

namespace cendra_standin {

// ---- text -------------------------------------------------------------------------------------

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string PercentDecode(const std::string& s, bool plusAsSpace) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else if (plusAsSpace && s[i] == '+') {
            out += ' ';
        } else {
            out += s[i];
        }
    }
    return out;
}

static Fields ParseQuery(const std::string& raw) {
    Fields query;
    size_t pos = 0;
    while (pos <= raw.size() && !raw.empty()) {
        size_t end = raw.find('&', pos);
        if (end == std::string::npos) end = raw.size();
        std::string item = raw.substr(pos, end - pos);
        if (!item.empty()) {
            size_t eq = item.find('=');
            std::string key = eq == std::string::npos ? item : item.substr(0, eq);
            std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
            query.emplace_back(PercentDecode(key, true), PercentDecode(value, true));
        }
        pos = end + 1;
    }
    return query;
}

static std::wstring Utf8ToWide(const std::string& s) {
    if (s.empty()) return L"";
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

static const char* Reason(int status) {
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

static std::string JsonString(const std::string& s) {
    cJSON* item = cJSON_CreateString(s.c_str());
    char* text = cJSON_PrintUnformatted(item);
    std::string out = text ? text : "\"\"";
    cJSON_free(text);
    cJSON_Delete(item);
    return out;
}

// ---- record accessors and fault makers --------------------------------------------------------

std::string Request::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) return value;
    }
    return "";
}

std::string Request::QueryValue(const std::string& name) const {
    for (const auto& [key, value] : query) {
        if (key == name) return value;
    }
    return "";
}

const Part* Request::FindPart(const std::string& name) const {
    for (const Part& part : parts) {
        if (part.name == name) return &part;
    }
    return nullptr;
}

static Fault MakeFault(std::string prefix, Fault::Kind kind, int occurrence) {
    Fault f;
    f.pathPrefix = std::move(prefix);
    f.kind = kind;
    f.occurrence = occurrence;
    return f;
}

Fault Fault::Status(std::string prefix, int status, std::string body, int occurrence) {
    Fault f = MakeFault(std::move(prefix), Reply, occurrence);
    f.status = status;
    f.body = std::move(body);
    return f;
}

Fault Fault::RedirectTo(std::string prefix, std::string location, int occurrence, int status) {
    Fault f = MakeFault(std::move(prefix), Redirect, occurrence);
    f.status = status;
    f.location = std::move(location);
    return f;
}

Fault Fault::Chunks(std::string prefix, std::string body, int chunks, int occurrence) {
    Fault f = MakeFault(std::move(prefix), Chunked, occurrence);
    f.body = std::move(body);
    f.count = chunks;
    return f;
}

Fault Fault::Hang(std::string prefix, int occurrence) { return MakeFault(std::move(prefix), NoAnswer, occurrence); }

Fault Fault::Slow(std::string prefix, std::string body, int delayMs, int occurrence, int stepBytes) {
    Fault f = MakeFault(std::move(prefix), SlowBody, occurrence);
    f.body = std::move(body);
    f.delayMs = delayMs;
    f.count = stepBytes;
    return f;
}

Fault Fault::Large(std::string prefix, int mebibytes, int occurrence) {
    Fault f = MakeFault(std::move(prefix), LargeBody, occurrence);
    f.count = mebibytes;
    return f;
}

Fault Fault::CloseAfter(std::string prefix, int bodyBytes, int occurrence) {
    Fault f = MakeFault(std::move(prefix), CloseAfterBodyBytes, occurrence);
    f.count = bodyBytes;
    return f;
}

Fault Fault::Endless(std::string prefix, int occurrence, int status) {
    Fault f = MakeFault(std::move(prefix), EndlessBody, occurrence);
    f.status = status;
    return f;
}

Fault Fault::Bursts(std::string prefix, int burstBytes, int periodMs, int occurrence, int status) {
    Fault f = MakeFault(std::move(prefix), BurstBody, occurrence);
    f.status = status;
    f.count = burstBytes;
    f.delayMs = periodMs;
    return f;
}

std::string FixtureText(const std::string& name) {
    for (const EmbeddedFixture* f = kEmbeddedFixtures; f->name; ++f) {
        if (name == f->name) return f->text;
    }
    throw std::runtime_error("cendra stand-in: no built-in fixture \"" + name + "\"");
}

// ---- fixture ----------------------------------------------------------------------------------

namespace {

const char* const kListKeys[] = {"locations", "endoscopes", "facilities", "testers"};

struct Account {
    std::string username, password, reply;
};

struct Fixture {
    std::vector<Account> accounts;
    std::map<std::string, std::map<std::string, std::string>> lists;  // id -> key -> JSON text

    static Fixture Parse(const std::string& text) {
        Fixture fixture;
        if (text.empty()) return fixture;
        const char* end = nullptr;
        // The length counts the terminator: with require_null_terminated, cJSON looks for it inside.
        cJSON* root = cJSON_ParseWithLengthOpts(text.c_str(), text.size() + 1, &end, true);
        if (!root) {
            size_t at = end && end >= text.c_str() ? static_cast<size_t>(end - text.c_str()) : 0;
            throw std::runtime_error("cendra stand-in: fixture is not one JSON text (near byte " + std::to_string(at) +
                                     ")");
        }
        struct Deleter {
            void operator()(cJSON* item) const { cJSON_Delete(item); }
        };
        std::unique_ptr<cJSON, Deleter> owner(root);
        auto print = [](const cJSON* item) {
            char* s = cJSON_PrintUnformatted(item);
            std::string out = s ? s : "null";
            cJSON_free(s);
            return out;
        };
        const cJSON* accounts = cJSON_GetObjectItemCaseSensitive(root, "accounts");
        const cJSON* account = nullptr;
        cJSON_ArrayForEach(account, accounts) {
            const cJSON* user = cJSON_GetObjectItemCaseSensitive(account, "username");
            const cJSON* password = cJSON_GetObjectItemCaseSensitive(account, "password");
            const cJSON* reply = cJSON_GetObjectItemCaseSensitive(account, "reply");
            if (!cJSON_IsString(user) || !cJSON_IsString(password) || !reply) {
                throw std::runtime_error(
                    "cendra stand-in: every account needs string username and password and a reply");
            }
            fixture.accounts.push_back({user->valuestring, password->valuestring, print(reply)});
        }
        const cJSON* organisations = cJSON_GetObjectItemCaseSensitive(root, "organisations");
        const cJSON* organisation = nullptr;
        cJSON_ArrayForEach(organisation, organisations) {
            if (!organisation->string) continue;
            auto& lists = fixture.lists[organisation->string];
            for (const char* key : kListKeys) {
                const cJSON* list = cJSON_GetObjectItemCaseSensitive(organisation, key);
                lists[key] = list ? print(list) : "[]";
            }
        }
        return fixture;
    }
};

struct Reply {
    int status = 200;
    std::string body;
};

// One accepted socket with its read buffer.
class Connection {
public:
    // readRate: bytes per second that Fill takes at most (0: no limit).
    Connection(SOCKET s, const std::atomic<bool>& stopping, HANDLE stopEvent, size_t readRate)
        : m_socket(s), m_stopping(stopping), m_stopEvent(stopEvent), m_readRate(readRate) {}

    // Waits until the socket is readable (or writable); false when the server stops.
    bool Wait(bool forWrite) {
        while (!m_stopping) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(m_socket, &set);
            timeval tv{0, 50 * 1000};
            int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv);
            if (n != 0) return n > 0;
        }
        return false;
    }

    // Appends what arrives to the buffer; false on close, error or stop.
    bool Fill() {
        char chunk[64 * 1024];
        while (Wait(false)) {
            size_t want = sizeof chunk;
            if (const size_t rate = m_readRate) {
                // Small reads, each once the bytes before it are due at the rate.
                want = std::clamp<size_t>(rate / 20, 1, sizeof chunk);
                if (!m_pacedSince) m_pacedSince = GetTickCount64();
                const uint64_t dueMs = m_pacedBytes * 1000 / rate, elapsedMs = GetTickCount64() - m_pacedSince;
                if (dueMs > elapsedMs && !Pause(static_cast<int>(std::min<uint64_t>(dueMs - elapsedMs, 1000))))
                    return false;
                if (dueMs > elapsedMs) continue;
            }
            int n = recv(m_socket, chunk, static_cast<int>(want), 0);
            if (n > 0) {
                Compact();
                m_buffer.append(chunk, n);
                m_pacedBytes += static_cast<uint64_t>(n);
                return true;
            }
            if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return false;
        }
        return false;
    }

    // A line ended by LF (CR LF or bare LF), without its end; false when the peer went first.
    bool ReadLine(std::string& line, size_t limit) {
        size_t scanned = m_pos;
        while (true) {
            size_t lf = m_buffer.find('\n', scanned);
            if (lf != std::string::npos) {
                size_t end = lf > m_pos && m_buffer[lf - 1] == '\r' ? lf - 1 : lf;
                line = m_buffer.substr(m_pos, end - m_pos);
                m_pos = lf + 1;
                return true;
            }
            if (m_buffer.size() - m_pos > limit) return false;
            scanned = m_buffer.size();
            size_t before = m_pos;
            if (!Fill()) return false;
            scanned -= before - m_pos;  // Fill may have moved the unread bytes to the front
        }
    }

    // Appends up to n bytes to out; false when fewer came.
    bool Read(size_t n, std::string& out) {
        while (n > 0) {
            if (m_pos == m_buffer.size() && !Fill()) return false;
            size_t take = std::min(n, m_buffer.size() - m_pos);
            out.append(m_buffer, m_pos, take);
            m_pos += take;
            n -= take;
        }
        return true;
    }

    bool Send(const char* data, size_t size) {
        while (size > 0) {
            int n = send(m_socket, data, static_cast<int>(std::min<size_t>(size, 64 * 1024)), 0);
            if (n > 0) {
                data += n;
                size -= n;
            } else if (WSAGetLastError() != WSAEWOULDBLOCK || !Wait(true)) {
                return false;
            }
        }
        return true;
    }
    bool Send(const std::string& s) { return Send(s.data(), s.size()); }

    // Sleeps; false when the server stops meanwhile.
    bool Pause(int ms) { return WaitForSingleObject(m_stopEvent, ms) == WAIT_TIMEOUT && !m_stopping; }

    // Until the peer closes or the server stops; later bytes are ignored.
    void Hold() {
        char chunk[4096];
        while (Wait(false)) {
            int n = recv(m_socket, chunk, sizeof chunk, 0);
            if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) return;
        }
    }

private:
    void Compact() {
        if (m_pos > 0 && m_pos == m_buffer.size()) {
            m_buffer.clear();
            m_pos = 0;
        } else if (m_pos > 1024 * 1024) {
            m_buffer.erase(0, m_pos);
            m_pos = 0;
        }
    }

    SOCKET m_socket;
    const std::atomic<bool>& m_stopping;
    HANDLE m_stopEvent;
    const size_t m_readRate;
    uint64_t m_pacedSince = 0;  // tick of the first read under a rate
    uint64_t m_pacedBytes = 0;  // bytes read since then
    std::string m_buffer;
    size_t m_pos = 0;
};

struct FaultState {
    Fault fault;
    int seen = 0;
};

struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

}  // namespace

// ---- server -----------------------------------------------------------------------------------

struct Server::Impl {
    Fixture fixture;
    SOCKET listener = INVALID_SOCKET;
    unsigned short port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<size_t> readRate{0};  // SetRequestReadRate
    HANDLE stopEvent = nullptr;
    std::thread acceptor;
    std::vector<Worker> workers;  // touched by the accept thread, and by the destructor after it ended
    int connections = 0;

    mutable std::mutex mutex;  // guards everything below
    mutable std::condition_variable recorded;
    std::vector<Request> record;
    std::vector<FaultState> faults;
    int inserts = 0;
    FILE* log = nullptr;

    void AcceptLoop();
    void Serve(SOCKET s, int number, size_t readRate);
    bool ServeOne(Connection& conn, int number);
    Reply Answer(const Request& request);
    void Record(const Request& request);
    std::unique_ptr<Fault> MatchFault(const std::string& path);
};

static std::string SocketError(const char* what, int port, int error) {
    return "cendra stand-in: " + std::string(what) + " 127.0.0.1:" + std::to_string(port) + " failed (Winsock error " +
           std::to_string(error) + ")";
}

Server::Server(const std::string& fixtureJson, unsigned short port, const std::string& logPath)
    : m_impl(std::make_unique<Impl>()) {
    Impl& s = *m_impl;
    s.fixture = Fixture::Parse(fixtureJson);
    WSADATA wsa;
    if (int rc = WSAStartup(MAKEWORD(2, 2), &wsa))
        throw std::runtime_error("cendra stand-in: WSAStartup " + std::to_string(rc));
    s.listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s.listener == INVALID_SOCKET) {
        std::string message = SocketError("socket for", port, WSAGetLastError());
        WSACleanup();
        throw std::runtime_error(message);
    }
    // No address sharing: a second stand-in on a taken port must fail, not share it.
    BOOL exclusive = TRUE;
    setsockopt(s.listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    int addressSize = sizeof address;
    u_long nonBlocking = 1;
    const char* failed = nullptr;
    if (bind(s.listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        failed = "bind to";
    else if (listen(s.listener, SOMAXCONN) != 0)
        failed = "listen on";
    else if (getsockname(s.listener, reinterpret_cast<sockaddr*>(&address), &addressSize) != 0)
        failed = "getsockname of";
    else if (ioctlsocket(s.listener, FIONBIO, &nonBlocking) != 0)
        failed = "non-blocking mode of";
    if (failed) {
        std::string message = SocketError(failed, port, WSAGetLastError());
        closesocket(s.listener);
        WSACleanup();
        throw std::runtime_error(message);
    }
    s.port = ntohs(address.sin_port);
    if (!logPath.empty()) {
        s.log = _wfopen(Utf8ToWide(logPath).c_str(), L"ab");
        if (!s.log) {
            closesocket(s.listener);
            WSACleanup();
            throw std::runtime_error("cendra stand-in: cannot open the log " + logPath);
        }
    }
    s.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s.acceptor = std::thread([&s] { s.AcceptLoop(); });
}

Server::~Server() {
    Impl& s = *m_impl;
    s.stopping = true;
    SetEvent(s.stopEvent);
    s.acceptor.join();
    for (Worker& w : s.workers) w.thread.join();
    closesocket(s.listener);
    CloseHandle(s.stopEvent);
    if (s.log) fclose(s.log);
    WSACleanup();
}

unsigned short Server::Port() const { return m_impl->port; }

std::string Server::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(m_impl->port); }

void Server::AddFault(const Fault& fault) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->faults.push_back({fault, 0});
}

void Server::SetRequestReadRate(size_t bytesPerSecond) { m_impl->readRate = bytesPerSecond; }

void Server::ClearFaults() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->faults.clear();
}

std::vector<Request> Server::Requests() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->record;
}

size_t Server::RequestCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->record.size();
}

bool Server::WaitForRequests(size_t n, int timeoutMs) const {
    std::unique_lock lock(m_impl->mutex);
    return m_impl->recorded.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return m_impl->record.size() >= n; });
}

void Server::ClearRecord() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->record.clear();
}

Fields Server::Accounts() const {
    Fields accounts;
    for (const Account& a : m_impl->fixture.accounts) accounts.emplace_back(a.username, a.password);
    return accounts;
}

void Server::Impl::AcceptLoop() {
    while (!stopping) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(listener, &set);
        timeval tv{0, 50 * 1000};
        if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
        SOCKET s = accept(listener, nullptr, nullptr);
        if (s == INVALID_SOCKET) continue;
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        BOOL noDelay = TRUE;  // replies go out in few sends; slow bodies one byte each
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
        const size_t rate = readRate;
        if (rate) {
            // A slow link holds little in flight: the client's sending keeps pace with the reads
            // instead of handing the whole request to the system at once.
            int buffer = 32 * 1024;
            setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
        }
        // Finished connection threads are joined here, so that a long demo run keeps few.
        workers.erase(std::remove_if(workers.begin(), workers.end(),
                                     [](Worker& w) {
                                         if (!*w.done) return false;
                                         w.thread.join();
                                         return true;
                                     }),
                      workers.end());
        auto done = std::make_shared<std::atomic<bool>>(false);
        int number = ++connections;
        workers.push_back({std::thread([this, s, number, rate, done] {
                               Serve(s, number, rate);
                               *done = true;
                           }),
                           done});
    }
}

void Server::Impl::Serve(SOCKET s, int number, size_t rate) {
    Connection conn(s, stopping, stopEvent, rate);
    while (ServeOne(conn, number)) {
    }
    shutdown(s, SD_SEND);
    closesocket(s);
}

std::unique_ptr<Fault> Server::Impl::MatchFault(const std::string& path) {
    std::lock_guard lock(mutex);
    std::unique_ptr<Fault> chosen;
    for (FaultState& f : faults) {
        if (path.compare(0, f.fault.pathPrefix.size(), f.fault.pathPrefix) != 0) continue;
        ++f.seen;
        if (!chosen && (f.fault.occurrence == 0 || f.seen == f.fault.occurrence))
            chosen = std::make_unique<Fault>(f.fault);
    }
    return chosen;
}

void Server::Impl::Record(const Request& r) {
    std::lock_guard lock(mutex);
    record.push_back(r);
    if (log) {
        fprintf(log, "#%u connection %d: %s %s%s\n", static_cast<unsigned>(record.size()), r.connection,
                r.method.c_str(), r.target.c_str(), r.cutShort ? "  (body cut short)" : "");
        for (const auto& [name, value] : r.headers) fprintf(log, "    %s: %s\n", name.c_str(), value.c_str());
        if (!r.body.empty())
            fprintf(log, "    body: %u bytes%s\n", static_cast<unsigned>(r.body.size()), r.chunked ? ", chunked" : "");
        for (const Part& p : r.parts) {
            bool shown = !p.hasFilename && p.bytes.size() <= 120 &&
                         std::none_of(p.bytes.begin(), p.bytes.end(), [](char c) { return c == '\r' || c == '\n'; });
            fprintf(log, "    part %s%s%s: ", p.name.c_str(), p.hasFilename ? " file " : "", p.filename.c_str());
            if (shown)
                fprintf(log, "\"%s\"\n", p.bytes.c_str());
            else
                fprintf(log, "%u bytes\n", static_cast<unsigned>(p.bytes.size()));
        }
        fflush(log);
    }
    recorded.notify_all();
}

Reply Server::Impl::Answer(const Request& r) {
    auto error = [](int status, const std::string& text) {
        return Reply{status, "{\"error\":" + JsonString(text) + "}"};
    };
    if (r.path == "/v1/auth/login") {
        if (r.method != "GET") return error(405, "login takes GET");
        std::string user = r.QueryValue("username"), password = r.QueryValue("password");
        for (const Account& a : fixture.accounts) {
            if (a.username == user && a.password == password) return Reply{200, a.reply};
        }
        return error(401, "invalid username or password");
    }
    const std::string publish = "/v1/publish/";
    if (r.path.compare(0, publish.size(), publish) != 0) return error(404, "no such endpoint");
    std::string rest = r.path.substr(publish.size());
    if (rest == "insert") {
        if (r.method != "POST") return error(405, "insert takes POST");
        int id;
        {
            std::lock_guard lock(mutex);
            id = ++inserts;
        }
        return Reply{200, "{\"status\":\"stored\",\"id\":" + std::to_string(id) +
                              ",\"parts\":" + std::to_string(r.parts.size()) + "}"};
    }
    size_t slash = rest.find('/');
    std::string key = rest.substr(0, slash);
    if (slash == std::string::npos ||
        std::find(std::begin(kListKeys), std::end(kListKeys), key) == std::end(kListKeys)) {
        return error(404, "no such endpoint");
    }
    if (r.method != "GET") return error(405, "lists take GET");
    std::string id = PercentDecode(rest.substr(slash + 1), false);
    auto organisation = fixture.lists.find(id);
    if (organisation == fixture.lists.end()) return error(404, "unknown id " + id);
    return Reply{200, organisation->second.at(key)};
}

static std::string Head(int status, const std::string& contentType, const std::string& framing, bool close,
                        const std::vector<std::string>& extra = {}) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    if (!contentType.empty()) head += "Content-Type: " + contentType + "\r\n";
    if (!framing.empty()) head += framing + "\r\n";
    for (const std::string& h : extra) head += h + "\r\n";
    if (close) head += "Connection: close\r\n";
    return head + "\r\n";
}

// Reads and answers one request; false when the connection is to end.
bool Server::Impl::ServeOne(Connection& conn, int number) {
    Request r;
    r.connection = number;
    std::string line;
    do {  // blank lines before a request are allowed
        if (!conn.ReadLine(line, 64 * 1024)) return false;
    } while (line.empty());
    size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1) {
        conn.Send(Head(400, "", "Content-Length: 0", true));
        return false;
    }
    r.method = line.substr(0, sp1);
    r.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string version = line.substr(sp2 + 1);
    size_t question = r.target.find('?');
    r.path = r.target.substr(0, question);
    r.rawQuery = question == std::string::npos ? "" : r.target.substr(question + 1);
    r.query = ParseQuery(r.rawQuery);
    while (true) {
        if (!conn.ReadLine(line, 64 * 1024)) return false;
        if (line.empty()) break;
        size_t colon = line.find(':');
        if (colon != std::string::npos) r.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }

    std::unique_ptr<Fault> fault = MatchFault(r.path);
    std::string connection = r.Header("Connection");
    bool close =
        EqualsNoCase(connection, "close") || (version == "HTTP/1.0" && !EqualsNoCase(connection, "keep-alive"));
    r.chunked = std::any_of(r.headers.begin(), r.headers.end(), [](const auto& h) {
        return EqualsNoCase(h.first, "Transfer-Encoding") && h.second.find("chunked") != std::string::npos;
    });
    std::string lengthText = r.Header("Content-Length");
    size_t length = 0;
    if (!r.chunked && !lengthText.empty()) {
        if (lengthText.find_first_not_of("0123456789") != std::string::npos || lengthText.size() > 12) {
            conn.Send(Head(400, "", "Content-Length: 0", true));
            return false;
        }
        length = std::stoull(lengthText);
    }
    bool hasBody = r.chunked || length > 0;
    if (hasBody && EqualsNoCase(r.Header("Expect"), "100-continue")) {
        if (!conn.Send("HTTP/1.1 100 Continue\r\n\r\n")) return false;
    }

    // Body, up to the fault's limit when it cuts the connection.
    const bool limited = fault && fault->kind == Fault::CloseAfterBodyBytes;
    size_t budget = limited ? static_cast<size_t>(std::max(fault->count, 0)) : SIZE_MAX;
    bool complete = true;
    if (r.chunked) {
        while (complete) {
            if (!conn.ReadLine(line, 1024)) {
                complete = false;
                break;
            }
            size_t size = 0;
            bool digits = false;
            for (char c : line) {
                if (HexDigit(c) < 0) break;
                size = size * 16 + HexDigit(c);
                digits = true;
            }
            if (!digits) {
                complete = false;
                break;
            }
            if (size == 0) {
                do {  // trailer fields, ignored
                    if (!conn.ReadLine(line, 64 * 1024)) complete = false;
                } while (complete && !line.empty());
                break;
            }
            size_t take = std::min(size, budget - r.body.size());
            if (!conn.Read(take, r.body) || take < size || !conn.ReadLine(line, 2)) complete = false;
        }
    } else {
        size_t take = std::min(length, budget);
        complete = conn.Read(take, r.body) && take == length;
    }
    r.cutShort = !complete || limited;
    std::string type = r.Header("Content-Type");
    if (type.size() >= 19 && EqualsNoCase(type.substr(0, 19), "multipart/form-data"))
        r.parts = ParseMultipart(type, r.body);
    Record(r);
    if (r.cutShort) return false;

    if (!fault) {
        Reply reply = Answer(r);
        return conn.Send(Head(reply.status, "application/json", "Content-Length: " + std::to_string(reply.body.size()),
                              close) +
                         reply.body) &&
               !close;
    }
    const Fault& f = *fault;
    switch (f.kind) {
    case Fault::Reply:
        if (f.status == 204 || f.status == 304) return conn.Send(Head(f.status, "", "", close)) && !close;  // no body
        return conn.Send(Head(f.status, f.contentType, "Content-Length: " + std::to_string(f.body.size()), close) +
                         f.body) &&
               !close;
    case Fault::Redirect: {
        std::string location = f.location.empty() ? r.target : f.location;
        std::string body = "{\"redirect\":" + JsonString(location) + "}";
        return conn.Send(Head(f.status, "application/json", "Content-Length: " + std::to_string(body.size()), close,
                              {"Location: " + location}) +
                         body) &&
               !close;
    }
    case Fault::Chunked: {
        // Every chunk non-empty (an empty one would end the body), so at most one per byte.
        size_t chunks = std::clamp<size_t>(f.count, 1, std::max<size_t>(f.body.size(), 1));
        std::string out = Head(f.status, f.contentType, "Transfer-Encoding: chunked", close);
        size_t pos = 0;
        for (size_t i = 0; i < chunks && !f.body.empty(); ++i) {
            size_t size = (f.body.size() - pos) / (chunks - i);
            char sizeLine[16];
            snprintf(sizeLine, sizeof sizeLine, "%x\r\n", static_cast<unsigned>(size));
            out += sizeLine + f.body.substr(pos, size) + "\r\n";
            pos += size;
        }
        out += "0\r\n\r\n";
        return conn.Send(out) && !close;
    }
    case Fault::NoAnswer: conn.Hold(); return false;
    case Fault::SlowBody:
        if (!conn.Send(Head(f.status, f.contentType, "Content-Length: " + std::to_string(f.body.size()), close)))
            return false;
        for (size_t pos = 0, step = static_cast<size_t>(std::max(f.count, 1)); pos < f.body.size(); pos += step) {
            if (!conn.Pause(f.delayMs) || !conn.Send(f.body.data() + pos, std::min(step, f.body.size() - pos)))
                return false;
        }
        return !close;
    case Fault::LargeBody: {
        // One JSON string, so that a client without a size limit would parse it.
        size_t total = static_cast<size_t>(std::max(f.count, 0)) * 1024 * 1024;
        if (!conn.Send(Head(200, f.contentType, "Content-Length: " + std::to_string(total), close))) return false;
        std::string block(64 * 1024, 'x');
        for (size_t sent = 0; sent < total;) {
            size_t n = std::min(block.size(), total - sent);
            std::string piece = block.substr(0, n);
            if (sent == 0) piece[0] = '"';
            if (sent + n == total) piece[n - 1] = '"';
            if (!conn.Send(piece)) return false;
            sent += n;
        }
        return !close;
    }
    case Fault::CloseAfterBodyBytes: return false;
    case Fault::EndlessBody:
    case Fault::BurstBody: {
        // No length: the body ends only with the connection, and this side never ends it.
        if (!conn.Send(Head(f.status, f.contentType, "", true))) return false;
        const bool bursts = f.kind == Fault::BurstBody;
        const std::string block(bursts ? static_cast<size_t>(std::max(f.count, 1)) : 64 * 1024, 'x');
        while (conn.Send(block)) {
            if (bursts && !conn.Pause(f.delayMs)) break;
        }
        return false;
    }
    }
    return false;
}

}  // namespace cendra_standin

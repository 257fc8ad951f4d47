#include "tests/cloud_standin/RawHttp.h"

#include <ws2tcpip.h>

#include <chrono>

std::string RawReply::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (_stricmp(key.c_str(), name.c_str()) == 0) return value;
    }
    return "";
}

RawClient::RawClient(unsigned short port) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
}

RawClient::~RawClient() {
    Close();
    WSACleanup();
}

void RawClient::Close() {
    if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    m_socket = INVALID_SOCKET;
}

bool RawClient::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        int n = send(m_socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) return false;
        sent += n;
    }
    return true;
}

bool RawClient::Fill(int timeoutMs) {
    if (m_closed || m_socket == INVALID_SOCKET) return false;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(m_socket, &set);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, &set, nullptr, nullptr, &tv) <= 0) return false;
    char chunk[64 * 1024];
    int n = recv(m_socket, chunk, sizeof chunk, 0);
    if (n <= 0) {
        m_closed = true;
        return false;
    }
    m_buffer.append(chunk, n);
    return true;
}

bool RawClient::Line(std::string& line, int timeoutMs) {
    size_t lf;
    while ((lf = m_buffer.find("\r\n")) == std::string::npos) {
        if (!Fill(timeoutMs)) return false;
    }
    line = m_buffer.substr(0, lf);
    m_buffer.erase(0, lf + 2);
    return true;
}

bool RawClient::Bytes(size_t n, std::string& out, int timeoutMs) {
    while (m_buffer.size() < n) {
        if (!Fill(timeoutMs)) return false;
    }
    out.append(m_buffer, 0, n);
    m_buffer.erase(0, n);
    return true;
}

RawReply RawClient::Read(int timeoutMs) {
    RawReply reply;
    std::string line;
    if (!Line(line, timeoutMs) || line.compare(0, 9, "HTTP/1.1 ") != 0) return reply;
    reply.status = atoi(line.c_str() + 9);
    while (true) {
        if (!Line(line, timeoutMs)) return reply;
        if (line.empty()) break;
        size_t colon = line.find(':');
        reply.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    }
    if (reply.status == 100) {
        reply.complete = true;
        return reply;
    }
    if (reply.Header("Transfer-Encoding") == "chunked") {
        while (true) {
            if (!Line(line, timeoutMs)) return reply;
            size_t size = strtoul(line.c_str(), nullptr, 16);
            if (size == 0) break;
            if (!Bytes(size, reply.body, timeoutMs) || !Line(line, timeoutMs)) return reply;
            ++reply.chunks;
        }
        if (!Line(line, timeoutMs)) return reply;  // end of the (empty) trailer
    } else if (!Bytes(strtoul(reply.Header("Content-Length").c_str(), nullptr, 10), reply.body, timeoutMs)) {
        return reply;
    }
    reply.complete = true;
    return reply;
}

bool RawClient::ClosedWithin(int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_closed && std::chrono::steady_clock::now() < end) {
        size_t before = m_buffer.size();
        Fill(50);
        if (m_buffer.size() != before) return false;
    }
    return m_closed;
}

bool RawClient::SilentFor(int timeoutMs) {
    if (!m_buffer.empty()) return false;
    size_t before = m_buffer.size();
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_closed && std::chrono::steady_clock::now() < end) Fill(50);
    return !m_closed && m_buffer.size() == before;
}

std::string GetRequest(const std::string& target, const std::string& extraHeaders) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
}

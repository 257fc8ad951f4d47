// A bare HTTP client over Winsock for the stand-in's own tests: sends exactly the bytes given and
// reads replies as they come, so framing, keep-alive and closing can be checked.
#pragma once
#include <winsock2.h>

#include <string>

#include "standins/cloud/CendraStandin.h"

struct RawReply {
    bool complete = false;  // status line, headers and the whole framed body arrived
    int status = 0;
    cendra_standin::Fields headers;
    std::string body;  // de-chunked
    int chunks = 0;    // data chunks of a chunked body
    std::string Header(const std::string& name) const;
};

class RawClient {
public:
    explicit RawClient(unsigned short port);  // connects to 127.0.0.1; Connected() tells
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return m_socket != INVALID_SOCKET; }
    bool Send(const std::string& bytes);
    // One reply (a 100 Continue counts as one); complete false on close or after timeoutMs.
    RawReply Read(int timeoutMs = 5000);
    // The next n bytes after a reply's head, as for a body without a length; false when fewer
    // came (close or timeoutMs without a byte).
    bool ReadBytes(size_t n, std::string& out, int timeoutMs = 5000) { return Bytes(n, out, timeoutMs); }
    // True when the server closes the connection within timeoutMs (nothing else arriving first).
    bool ClosedWithin(int timeoutMs);
    // True when no byte and no close arrive within timeoutMs.
    bool SilentFor(int timeoutMs);
    void Close();

private:
    bool Fill(int timeoutMs);  // false on close, error or time-out
    bool Line(std::string& line, int timeoutMs);
    bool Bytes(size_t n, std::string& out, int timeoutMs);

    SOCKET m_socket = INVALID_SOCKET;
    std::string m_buffer;
    bool m_closed = false;
};

// "GET <target> HTTP/1.1" with Host and the extra header lines (each ending in CR LF).
std::string GetRequest(const std::string& target, const std::string& extraHeaders = "");

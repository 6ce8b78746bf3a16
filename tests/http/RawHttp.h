// A small HTTP/1.1 client over a plain socket, for the door's tests: it can
// do what a stock client will not (stop after the headers, hang up while an
// answer waits, hold a connection idle).
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct TRawReply {
    int status = 0;                              // 0: no answer (closed, timed out)
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::string Header(const std::string& lowerName) const
    {
        const auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

class TRawConnection {
public:
    explicit TRawConnection(uint16_t port);
    ~TRawConnection();
    TRawConnection(const TRawConnection&) = delete;
    TRawConnection& operator=(const TRawConnection&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    bool Send(const std::string& bytes);
    // One answer, read up to its Content-Length; status 0 on close or after
    // timeoutMs without it.
    TRawReply Read(int timeoutMs = 15000);
    // True when the server closes the connection within timeoutMs.
    bool WaitClosed(int timeoutMs);
    void Close();

private:
    int fd_ = -1;
    std::string pending_;
};

// The bytes of a request with Host 127.0.0.1 and, when given, the token.
std::string RawRequest(const std::string& method, const std::string& path, const std::string& token,
                       const std::string& body = std::string(), const std::string& extraHeaders = std::string());

// One request on a fresh connection.
TRawReply RawExchange(uint16_t port, const std::string& request, int timeoutMs = 15000);

#include "RawHttp.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

TRawConnection::TRawConnection(uint16_t port)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Close();
}

TRawConnection::~TRawConnection()
{
    Close();
}

void TRawConnection::Close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool TRawConnection::Send(const std::string& bytes)
{
    size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return fd_ >= 0;
}

TRawReply TRawConnection::Read(int timeoutMs)
{
    TRawReply reply;
    const int64_t until = NowMs() + timeoutMs;
    size_t headEnd = std::string::npos;
    size_t length = 0;
    for (;;) {
        if (headEnd == std::string::npos) {
            headEnd = pending_.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                const std::string head = pending_.substr(0, headEnd);
                size_t lineEnd = head.find("\r\n");
                const std::string statusLine = head.substr(0, lineEnd);
                reply.status = std::atoi(statusLine.substr(statusLine.find(' ') + 1).c_str());
                while (lineEnd != std::string::npos) {
                    const size_t from = lineEnd + 2;
                    lineEnd = head.find("\r\n", from);
                    const std::string line = head.substr(from, lineEnd == std::string::npos ? std::string::npos : lineEnd - from);
                    const size_t colon = line.find(':');
                    if (colon == std::string::npos) continue;
                    std::string value = line.substr(colon + 1);
                    value.erase(0, value.find_first_not_of(' '));
                    reply.headers[Lower(line.substr(0, colon))] = value;
                }
                length = static_cast<size_t>(std::atoll(reply.headers["content-length"].c_str()));
            }
        }
        if (headEnd != std::string::npos && pending_.size() >= headEnd + 4 + length) {
            reply.body = pending_.substr(headEnd + 4, length);
            pending_.erase(0, headEnd + 4 + length);
            return reply;
        }
        const int64_t left = until - NowMs();
        pollfd p{fd_, POLLIN, 0};
        if (fd_ < 0 || left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return TRawReply{};
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return TRawReply{};
        pending_.append(buf, static_cast<size_t>(n));
    }
}

bool TRawConnection::WaitClosed(int timeoutMs)
{
    const int64_t until = NowMs() + timeoutMs;
    while (fd_ >= 0) {
        const int64_t left = until - NowMs();
        if (left <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return true;
    }
    return true;
}

std::string RawRequest(const std::string& method, const std::string& path, const std::string& token,
                       const std::string& body, const std::string& extraHeaders)
{
    std::string r = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!token.empty()) r += "Authorization: Bearer " + token + "\r\n";
    if (method == "PUT") {
        if (extraHeaders.find("Content-Type") == std::string::npos) r += "Content-Type: application/json\r\n";
        if (extraHeaders.find("Content-Length") == std::string::npos)
            r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    return r + extraHeaders + "\r\n" + body;
}

TRawReply RawExchange(uint16_t port, const std::string& request, int timeoutMs)
{
    TRawConnection c(port);
    if (!c.Send(request)) return TRawReply{};
    return c.Read(timeoutMs);
}

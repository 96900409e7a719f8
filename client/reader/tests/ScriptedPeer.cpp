#include "client/reader/tests/ScriptedPeer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace vorlix::client::testing {

ScriptedPeer::ScriptedPeer()
{
    listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!listener_ || ::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.Get(), 4) != 0 ||
        ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("scripted peer: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
}

ScriptedPeer::~ScriptedPeer()
{
    CloseConnection();
}

bool ScriptedPeer::Accept(std::chrono::milliseconds limit)
{
    pollfd entry{listener_.Get(), POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(limit.count())) <= 0) {
        return false;
    }
    connection_.Reset(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    return static_cast<bool>(connection_);
}

void ScriptedPeer::Send(std::string_view bytes)
{
    WaitSent();
    const ssize_t sent = ::send(connection_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("scripted peer: short send");
    }
}

void ScriptedPeer::SendInBackground(std::string bytes)
{
    WaitSent();
    sender_ = std::thread([fd = connection_.Get(), bytes = std::move(bytes)] {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (sent <= 0) {
                return;  // the viewer went away: the test sees it on its side
            }
            done += static_cast<std::size_t>(sent);
        }
    });
}

void ScriptedPeer::WaitSent()
{
    if (sender_.joinable()) {
        sender_.join();
    }
}

std::string ScriptedPeer::Receive(std::size_t count, std::chrono::milliseconds limit)
{
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{connection_.Get(), POLLIN, 0};
        // One look even when the time is up, so a short limit still reads what is there.
        if (::poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) {
            break;
        }
        char buffer[1024];
        const ssize_t received = ::recv(connection_.Get(), buffer, std::min(sizeof buffer, count - got.size()), 0);
        if (received <= 0) {
            break;
        }
        got.append(buffer, static_cast<std::size_t>(received));
    }
    return got;
}

bool ScriptedPeer::ClosedByViewer(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{connection_.Get(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[1024];
        const ssize_t received = ::recv(connection_.Get(), buffer, sizeof buffer, 0);
        if (received <= 0) {
            return true;
        }
    }
}

void ScriptedPeer::CloseConnection()
{
    if (connection_) {
        // Unblocks a background sender before it is joined.
        ::shutdown(connection_.Get(), SHUT_RDWR);
    }
    WaitSent();
    connection_.Reset();
}

std::string ResponseHead()
{
    return "HTTP/1.1 200 OK\r\nMax-Age: 0\r\nExpires: 0\r\nCache-Control: no-cache\r\nCache-Control: private\r\n"
           "Pragma: no-cache\r\nContent-type: multipart/x-mixed-replace;boundary=BoundaryString\r\n";
}

std::string LiveFrame(const std::string& body)
{
    return "\r\n--BoundaryString\r\nContent-type: image/jpeg\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body + "\r\n";
}

std::string HistoryFrame(int indiceLast, int modulo, const std::string& time, const std::string& body)
{
    std::string header = "\r\n--BoundaryString\r\nVorlix: History\r\nIndiceLast: " + std::to_string(indiceLast) +
                         "\r\nModulo: " + std::to_string(modulo) + "\r\n";
    if (!time.empty()) {
        header += "Time: " + time + "\r\n";
    }
    return header + "Content-type: image/jpeg\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body +
           "\r\n";
}

std::string Body(std::size_t size, int seed)
{
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>((i * 31 + static_cast<std::size_t>(seed) * 7) & 0xFF);
    }
    return body;
}

}  // namespace vorlix::client::testing

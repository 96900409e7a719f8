// An MJPEG camera on 127.0.0.1 for the capture tests: one HTTP client at a
// time, answered with a multipart stream of the given parts. Before each
// part `ready(i)` is asked (it may wait, with a deadline), so a test can pace
// the camera by what the capture side has taken.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"

namespace vorlix::capture::fakes {

class MjpegHttpServer {
public:
    using Ready = std::function<bool(std::size_t part)>;

    MjpegHttpServer(std::vector<std::vector<std::uint8_t>> parts, Ready ready)
        : parts_(std::move(parts)), ready_(std::move(ready))
    {
        listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (!listener_ || ::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_.Get(), 4) != 0 ||
            ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~MjpegHttpServer()
    {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    MjpegHttpServer(const MjpegHttpServer&) = delete;
    MjpegHttpServer& operator=(const MjpegHttpServer&) = delete;

    [[nodiscard]] std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/cam.mjpg"; }
    [[nodiscard]] std::size_t Sent() const { return sent_.load(); }
    [[nodiscard]] int Connections() const { return connections_.load(); }

private:
    // Waits up to 50 ms for `fd` to be ready for `events`.
    static bool Wait(int fd, short events)
    {
        pollfd p{fd, events, 0};
        return ::poll(&p, 1, 50) == 1;
    }

    bool SendAll(int fd, const void* data, std::size_t size)
    {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0 && !stop_) {
            if (!Wait(fd, POLLOUT)) {
                continue;
            }
            const ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
        return size == 0;
    }

    void Serve()
    {
        while (!stop_) {
            if (!Wait(listener_.Get(), POLLIN)) {
                continue;
            }
            const kestrel::UniqueFd client(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!client) {
                continue;
            }
            ++connections_;
            // The request head, bounded.
            std::string request;
            char buf[1024];
            while (!stop_ && request.size() < 8192 && request.find("\r\n\r\n") == std::string::npos) {
                if (!Wait(client.Get(), POLLIN)) {
                    continue;
                }
                const ssize_t n = ::recv(client.Get(), buf, sizeof buf, 0);
                if (n <= 0) {
                    break;
                }
                request.append(buf, static_cast<std::size_t>(n));
            }
            const std::string head =
                "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n";
            if (!SendAll(client.Get(), head.data(), head.size())) {
                continue;
            }
            bool open = true;
            for (std::size_t i = 0; i < parts_.size() && open && !stop_; ++i) {
                if (!ready_(i)) {
                    break;
                }
                const std::string partHead =
                    "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(parts_[i].size()) +
                    "\r\n\r\n";
                open = SendAll(client.Get(), partHead.data(), partHead.size()) &&
                       SendAll(client.Get(), parts_[i].data(), parts_[i].size()) && SendAll(client.Get(), "\r\n", 2);
                if (open) {
                    ++sent_;
                }
            }
            // The connection stays open (a camera with nothing new) until the test ends.
            while (open && !stop_) {
                if (Wait(client.Get(), POLLIN)) {
                    open = ::recv(client.Get(), buf, sizeof buf, 0) > 0;
                }
            }
        }
    }

    std::vector<std::vector<std::uint8_t>> parts_;
    Ready ready_;
    kestrel::UniqueFd listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> sent_{0};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

}  // namespace vorlix::capture::fakes

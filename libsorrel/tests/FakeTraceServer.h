// A trace server for the tests of the remote modes: accepts one client at a
// time on 127.0.0.1, keeps every record it receives, answers LOGIN and
// LOGFILE as told, and sends what the test asks.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "libwicket/CListener.h"
#include "libwicket/ProtoRecord.h"
#include "libwicket/RecordItems.h"

namespace sorrel_test {

struct FakeServerOptions {
    std::string loginReply = "ACK";
    std::string logFileReply = "ACK";
    // Texts sent right behind the login answer, before LOGFILE comes.
    std::vector<std::string> afterLogin;
};

class FakeTraceServer {
public:
    using Options = FakeServerOptions;

    explicit FakeTraceServer(Options options = {}, int port = 0) : options_(std::move(options))
    {
        listening_ = listener_.Listen(port, "127.0.0.1");
        thread_ = std::thread([this] { Run(); });
    }
    ~FakeTraceServer()
    {
        stop_ = true;
        thread_.join();
    }
    FakeTraceServer(const FakeTraceServer&) = delete;
    FakeTraceServer& operator=(const FakeTraceServer&) = delete;

    [[nodiscard]] bool Listening() const { return listening_; }
    [[nodiscard]] int Port() const { return listener_.Port(); }
    [[nodiscard]] std::string Service() const { return std::to_string(Port()); }

    std::vector<std::string> Payloads()
    {
        const std::lock_guard guard(lock_);
        return payloads_;
    }
    int Connections()
    {
        const std::lock_guard guard(lock_);
        return connections_;
    }
    bool ClientConnected()
    {
        const std::lock_guard guard(lock_);
        return client_.Valid();
    }
    // The line records as "<kind>:<text>".
    std::vector<std::string> Lines()
    {
        std::vector<std::string> lines;
        for (const std::string& payload : Payloads()) {
            if (!payload.empty() && payload[0] >= 1 && payload[0] <= 3) {
                wicket::RecordItems items(payload);
                const char kind = items.Char();
                lines.push_back(std::to_string(kind) + ":" + items.Text());
            }
        }
        return lines;
    }
    // The first text of every record that is not a line.
    std::vector<std::string> Commands()
    {
        std::vector<std::string> commands;
        for (const std::string& payload : Payloads()) {
            if (!payload.empty() && (payload[0] < 1 || payload[0] > 3)) {
                wicket::RecordItems items(payload);
                commands.push_back(items.Text());
            }
        }
        return commands;
    }
    bool WaitForPayloads(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        return kestrel::test::WaitUntil([&] { return Payloads().size() >= count; }, limit);
    }
    // Bytes as they are, to the client connected now.
    void SendRaw(const std::string& bytes)
    {
        const std::lock_guard guard(lock_);
        if (client_) {
            static_cast<void>(::send(client_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL));
        }
    }
    // One record holding one text.
    void SendText(const std::string& text) { SendRaw(wicket::RecordBuilder().Text(text).Framed()); }
    void DropClient()
    {
        const std::lock_guard guard(lock_);
        client_.Reset();
        reader_.Clear();
    }
    void SetLogFileReply(std::string reply)
    {
        const std::lock_guard guard(lock_);
        options_.logFileReply = std::move(reply);
    }

private:
    void Run()
    {
        while (!stop_) {
            pollfd watched[2] = {{listener_.Fd(), POLLIN, 0}, {-1, POLLIN, 0}};
            {
                const std::lock_guard guard(lock_);
                watched[1].fd = client_.Get();
            }
            if (::poll(watched, 2, 20) <= 0) {
                continue;
            }
            if ((watched[0].revents & POLLIN) != 0) {
                wicket::AcceptedPeer peer;
                if (listener_.Accept(peer) == wicket::CListener::AcceptResult::kAccepted) {
                    const std::lock_guard guard(lock_);
                    client_ = std::move(peer.fd);
                    reader_.Clear();
                    ++connections_;
                }
            }
            if (watched[1].fd >= 0 && (watched[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                Receive();
            }
        }
    }

    void Receive()
    {
        const std::lock_guard guard(lock_);
        char bytes[4096];
        const ssize_t got = ::recv(client_.Get(), bytes, sizeof bytes, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            client_.Reset();
            return;
        }
        if (got < 0) {
            return;
        }
        try {
            reader_.Feed(std::string_view(bytes, static_cast<std::size_t>(got)));
            std::string payload;
            while (reader_.Next(payload)) {
                payloads_.push_back(payload);
                Answer(payload);
            }
        } catch (...) {
            client_.Reset();
        }
    }

    void Answer(const std::string& payload)
    {
        if (payload.empty() || (payload[0] >= 1 && payload[0] <= 3)) {
            return;
        }
        wicket::RecordItems items(payload);
        const std::string command = items.Text();
        std::string reply;
        if (command == "LOGIN") {
            reply = options_.loginReply;
        } else if (command == "LOGFILE") {
            reply = options_.logFileReply;
        } else {
            return;
        }
        std::string framed = wicket::RecordBuilder().Text(reply).Framed();
        if (command == "LOGIN") {
            for (const std::string& text : options_.afterLogin) {
                framed += wicket::RecordBuilder().Text(text).Framed();
            }
        }
        static_cast<void>(::send(client_.Get(), framed.data(), framed.size(), MSG_NOSIGNAL));
    }

    Options options_;
    wicket::CListener listener_;
    bool listening_ = false;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    kestrel::UniqueFd client_;
    wicket::RecordReader reader_;
    std::vector<std::string> payloads_;
    int connections_ = 0;
    std::thread thread_;
};

}  // namespace sorrel_test

// A scripted stream server for the viewer's tests: listens on 127.0.0.1,
// takes one viewer and sends it exactly the bytes a test asks for.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <thread>

#include "libkestrel/framework/UniqueFd.h"

namespace vorlix::client::testing {

using namespace std::chrono_literals;

class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    [[nodiscard]] int Port() const { return port_; }
    // Takes the viewer's connection; false when none came within `limit`.
    bool Accept(std::chrono::milliseconds limit = 3s);
    // All of `bytes` in one send call (returns once the kernel took them).
    void Send(std::string_view bytes);
    // Sends `bytes` from a thread of its own, for more than the socket
    // buffers hold; waited for by the next call or the destructor.
    void SendInBackground(std::string bytes);
    void WaitSent();
    // What the viewer sent: at least `count` bytes, or what came in time.
    std::string Receive(std::size_t count, std::chrono::milliseconds limit = 3s);
    // Whether the viewer closed its end within `limit` (bytes before the end are dropped).
    bool ClosedByViewer(std::chrono::milliseconds limit = 3s);
    // Orderly close of the viewer's connection.
    void CloseConnection();

private:
    kestrel::UniqueFd listener_;
    kestrel::UniqueFd connection_;
    int port_ = 0;
    std::thread sender_;
};

// The 173-byte response head the server sends first.
std::string ResponseHead();
// A live frame: header, body and trailer.
std::string LiveFrame(const std::string& body);
// A history frame; `time` empty leaves the "Time: " line out.
std::string HistoryFrame(int indiceLast, int modulo, const std::string& time, const std::string& body);
// `size` bytes of a pattern that depends on `seed`.
std::string Body(std::size_t size, int seed);

}  // namespace vorlix::client::testing

// A working directory with the server program running in it headless on its
// built-in test camera, tracing to its standard error: what the workers'
// end-to-end tests share.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/Children.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/app/tests/ServerProcess.h"

namespace vorlix::app::testing {

using namespace std::chrono_literals;

class ServerBench {
public:
    ServerBench()
    {
        kestrel::profile::WriteInt(ini, "Vorlix", "Port Web client", kestrel::test::FreeLoopbackPort());
        // Level 100 (the events list) and the tagged levels.
        kestrel::profile::WriteInt(ini, "Vorlix", "Trace level", 1);
    }
    ~ServerBench() { Stop(); }
    ServerBench(const ServerBench&) = delete;
    ServerBench& operator=(const ServerBench&) = delete;

    void Start() { server = std::make_unique<ServerProcess>(VORLIX_PROGRAM, dir.Path(), args); }
    // SIGTERM; the exit code, -1 when it did not end within five seconds.
    int Stop()
    {
        if (!server || !server->Running()) {
            return server ? 0 : -1;
        }
        server->Signal(SIGTERM);
        return server->WaitExit(5s);
    }
    void Reload() const { server->Signal(SIGHUP); }

    [[nodiscard]] std::string Trace() const { return server ? server->Stderr() : std::string(); }
    [[nodiscard]] int CountTrace(std::string_view part) const
    {
        const std::string text = Trace();
        int n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
            ++n;
        }
        return n;
    }
    // Waits until the trace holds `part` at least `count` times.
    bool WaitForTrace(std::string_view part, int count = 1, std::chrono::milliseconds limit = 15s) const
    {
        return kestrel::test::WaitUntil([&] { return CountTrace(part) >= count; }, limit, 20ms);
    }
    // Waits until the events list has `count` more detection events than now.
    bool WaitForMoreDetections(int count, std::chrono::milliseconds limit = 15s) const
    {
        const int before = CountTrace(kEventEntry);
        return WaitForTrace(kEventEntry, before + count, limit);
    }
    // How a detection's entry of the events list shows in the trace.
    static constexpr std::string_view kEventEntry = " Events(";

    [[nodiscard]] std::string Picture(const std::string& name) const { return dir.Read("files/" + name); }
    [[nodiscard]] std::vector<std::string> Pictures(std::string_view extension) const
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir.File("files"), ec)) {
            const std::string name = e.path().filename().string();
            if (name.starts_with("vorlix_") && name.ends_with(extension)) {
                names.push_back(name);
            }
        }
        return names;
    }

    kestrel::test::TempDir dir{"vorlix_workers"};
    std::string ini = dir.File("Vorlix.ini");
    std::vector<std::string> args{"--headless", "--trace", "stderr"};
    std::unique_ptr<ServerProcess> server;
};

}  // namespace vorlix::app::testing

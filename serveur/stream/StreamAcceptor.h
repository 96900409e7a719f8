// The stream server's listening socket and the intake of new connections.
//
// Strangers can open connections faster than anything else: running out of
// descriptors pauses accepting (the listener drains its queue meanwhile)
// instead of spinning, and connections beyond the viewer cap are closed at
// once. Each of these is traced at warning level once per streak, not once
// per connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "libwicket/CListener.h"
#include "serveur/stream/StreamClient.h"

namespace vorlix {

class StreamAcceptor {
public:
    static constexpr int kBacklog = 1024;
    static constexpr int kMaxAcceptsPerPass = 64;

    // Listens on every IPv4 address at `port`. False when it cannot, with the
    // reason ("port 6666: Address already in use") in Reason() and traced;
    // a port outside 1..65535 is refused before any socket is made.
    bool Open(int port);
    void Close();

    [[nodiscard]] bool Listening() const { return listener_.Listening(); }
    [[nodiscard]] int Fd() const { return listener_.Fd(); }
    [[nodiscard]] int Port() const { return listener_.Port(); }
    [[nodiscard]] const std::string& Reason() const { return reason_; }

    // Whether the listening socket is to be polled now; while a descriptor
    // shortage pause runs it is not, until PausedUntil().
    [[nodiscard]] bool WantsPoll(StreamClock::time_point now) const
    {
        return Listening() && listener_.AcceptAllowed(now);
    }
    [[nodiscard]] StreamClock::time_point PausedUntil() const { return listener_.PausedUntil(); }

    enum class Refusal { kNone, kAll };
    // Takes what is waiting (a bounded number) while `clients` viewers are
    // connected: connections beyond the cap `maxClients`, or all of them with
    // kAll, are closed at once. `why` names the reason of kAll in the trace.
    std::vector<wicket::AcceptedPeer> AcceptWaiting(std::size_t clients, std::size_t maxClients,
                                                    Refusal refuse = Refusal::kNone, const char* why = "");

private:
    void NoteCapRefusal(const wicket::AcceptedPeer& peer, std::size_t cap);
    void NoteAdmitted();

    wicket::CListener listener_;
    std::string reason_;
    bool shortage_ = false;  // a descriptor shortage streak is running
    long shortagesAtStart_ = 0;
    long capRefused_ = 0;  // refused at the viewer cap since the last admitted viewer
    long refusedAll_ = 0;
    StreamClock::time_point lastCapWarning_{};
};

}  // namespace vorlix
